#include "ime/ime_enabling.h"

#include "ime/ime_state.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "platform/key_events.h"

#include <cstdint>
#include <string_view>

namespace tavelio {

namespace {

constexpr std::uint32_t SettlePauseMs = 80;
// NATIVE alone is no documented mode, and IMEs differ in what they make of it.
constexpr std::uint32_t Hiragana = ime::CmodeNative | ime::CmodeFullShape;
constexpr std::uint32_t ImeControlTimeoutMs = 250;
constexpr std::uint32_t FallbackKeyPauseMs = 120;
constexpr std::uint32_t ReadyTimeoutMs = 500;
constexpr std::uint32_t ReadyPollMs = 20;

struct FallbackKey {
    std::u16string_view method;
    std::uint8_t key;
    bool isScanCode;

    platform::KeyInput event(bool release) const {
        return isScanCode ? scanCodeEvent(key, release) : virtualKeyEvent(key, release);
    }
};

// IME On first: it only ever switches on, where the Kanji key toggles. IMEs
// older than it ignore it; where that reads off, the next key follows.
constexpr FallbackKey fallbackKeys[] = {
    {u"VK_IME_ON", vk::ImeOn, false},
    {u"VK_DBE_HIRAGANA", vk::DbeHiragana, false},
    {u"VK_CONVERT", vk::Convert, false},
    {u"VK_KANJI", vk::Kanji, false},
    {u"scan29", 0x29, true},
};

// Method 1: open the context and, without the NATIVE bit, set hiragana
// (NATIVE | FULLSHAPE), keeping the other conversion bits (ROMAN among them)
// and the sentence mode. Releases the target's context.
bool enableViaInputContext(ImeTarget& target, platform::WindowHandle working) {
    const auto context = target.context();
    const bool opened = platform::immSetOpenStatus(context, true);
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    platform::immGetConversionStatus(context, conversion, sentence);
    // With the NATIVE bit already set, only the open call counts as an attempt.
    const bool converted =
        (conversion & ime::CmodeNative) == 0 &&
        platform::immSetConversionStatus(context, conversion | Hiragana, sentence);
    const bool confirmed = (opened || converted) && isNativeOpen(context);
    target.release();
    if (!confirmed) {
        return false;
    }
    logOutput(u"IME_ENABLE", [&](LogDetails& d) {
        d.add(u"method", u"ImmSetOpenStatus").add(u"result", u"ok").hex(u"hwnd", working);
    });
    platform::sleepMs(SettlePauseMs);
    return true;
}

bool sameWindow(platform::WindowHandle window, platform::WindowHandle targetWindow) {
    return window == targetWindow || window == focusOrForegroundWindow() ||
           window == platform::foregroundWindow();
}

} // namespace

ImeEnableResult enableIme(platform::WindowHandle& keyFallbackWindow, const MayInject& mayInject) {
    keyFallbackWindow = 0;
    ImeTarget target = findImeTarget();
    platform::WindowHandle working = target.window();
    if (working == 0) {
        working = focusOrForegroundWindow();
    }
    if (working == 0) {
        logOutput(u"IME_ENABLE", u"result=fail reason=no_hwnd");
        return {};
    }
    logOutput(u"IME_ENABLE_BEGIN", describeImeState);

    ImeEnableResult result;
    if (target.context() != 0) {
        result.on = enableViaInputContext(target, working);
    } else {
        logOutput(u"IME_ENABLE", u"method=ImmSetOpenStatus result=skip reason=no_context");
    }

    if (!isImeOpen() && enableViaDefaultImeWindow(working)) {
        platform::sleepMs(SettlePauseMs);
        setNativeViaDefaultImeWindow(working);
        if (isImeOpen()) {
            result.on = true;
            logOutput(u"IME_ENABLE", u"method=WM_IME_CONTROL result=ok");
        }
    }

    // The IME may have gone off again since method 1; the keys then decide.
    if (!isImeOpen()) {
        result = enableViaKeyFallback(mayInject);
        if (result.on) {
            keyFallbackWindow = working;
        }
    }

    logOutput(u"IME_ENABLE_END", describeImeState);
    result.on = result.on || isImeOpen();
    return result;
}

bool enableViaDefaultImeWindow(platform::WindowHandle window) {
    const auto imeWindow = defaultImeWindow(window);
    if (imeWindow == 0) {
        return false;
    }
    const auto reply =
        sendImeControl(imeWindow, ime::ImcSetOpenStatus, 1, ImeControlTimeoutMs, ImeAsker::run);
    logOutput(u"IME_ENABLE_DEFAULT_WND", [&](LogDetails& d) {
        d.hex(u"imeWnd", imeWindow).add(u"delivered", reply.delivered).add(u"result", reply.answer);
    });
    return reply.delivered != 0 && reply.answer == 0;
}

void setNativeViaDefaultImeWindow(platform::WindowHandle window) {
    const auto imeWindow = defaultImeWindow(window);
    if (imeWindow == 0) {
        return;
    }
    const auto control = [&](std::uintptr_t command, std::intptr_t value) {
        return sendImeControl(imeWindow, command, value, ImeControlTimeoutMs, ImeAsker::run);
    };
    const auto open = control(ime::ImcGetOpenStatus, 0);
    if (open.delivered == 0 || open.answer == 0) {
        return;
    }
    const auto mode = control(ime::ImcGetConversionMode, 0);
    if (mode.delivered == 0 || (mode.answer & ime::CmodeNative) != 0) {
        return;
    }
    const auto reply =
        control(ime::ImcSetConversionMode, static_cast<std::intptr_t>(mode.answer | Hiragana));
    logOutput(u"IME_ENABLE_DEFAULT_WND_MODE", [&](LogDetails& d) {
        d.hex(u"imeWnd", imeWindow)
            .hex(u"conv", mode.answer)
            .add(u"delivered", reply.delivered)
            .add(u"result", reply.answer);
    });
}

ImeEnableResult enableViaKeyFallback(const MayInject& mayInject) {
    ImeEnableResult result;
    for (const auto& key : fallbackKeys) {
        if (mayInject && !mayInject()) {
            break;
        }
        const platform::KeyInput records[2] = {key.event(false), key.event(true)};
        const auto accepted = platform::sendInput(records, 2);
        result.keysSent = result.keysSent || accepted > 0;
        if (accepted < 2) {
            continue;
        }
        platform::sleepMs(FallbackKeyPauseMs);
        std::u16string_view outcome;
        switch (readIme(ImeAsker::run)) {
        case ImeReading::on:
            outcome = u"verified";
            break;
        case ImeReading::off: // read, and still off: the next key
            break;
        case ImeReading::unknown:
        case ImeReading::unreadable:
            outcome = u"sent_unverified";
            break;
        }
        if (!outcome.empty()) {
            logOutput(u"IME_ENABLE_FALLBACK",
                      [&](LogDetails& d) { d.add(u"method", key.method).add(u"result", outcome); });
            result.on = true;
            return result;
        }
    }
    logOutput(u"IME_ENABLE_FALLBACK", u"result=fail");
    return result;
}

bool waitImeReady(platform::WindowHandle& keyFallbackWindow) {
    const platform::WindowHandle fallbackWindow = keyFallbackWindow;
    keyFallbackWindow = 0;
    const auto ready = [](std::u16string_view result) {
        logOutput(u"IME_READY",
                  [&](LogDetails& d) { d.add(u"result", result).add(describeImeState()); });
    };
    const std::uint32_t start = platform::tickCount();
    while (platform::tickCount() - start < ReadyTimeoutMs) {
        if (isImeOpen()) {
            ready(u"ok");
            return true;
        }
        platform::sleepMs(ReadyPollMs);
    }
    // After keys that nothing could verify, the same window still giving
    // nothing to read is all there is to go by. A window whose IME reads off
    // is off.
    if (fallbackWindow != 0 && readIme(ImeAsker::run) != ImeReading::off) {
        const ImeTarget target = findImeTarget();
        if (target.context() == 0 && sameWindow(fallbackWindow, target.window())) {
            ready(u"key_fallback_unverified");
            return true;
        }
    }
    ready(u"timeout");
    return false;
}

} // namespace tavelio
