#include "ime/ime_enabling.h"

#include "ime/ime_state.h"
#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "platform/constants.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

namespace {

constexpr std::uint32_t SettlePauseMs = 80;
constexpr std::uint32_t ImeControlTimeoutMs = 250;
constexpr std::uint32_t FallbackKeyPauseMs = 120;
constexpr std::uint32_t ReadyTimeoutMs = 500;
constexpr std::uint32_t ReadyPollMs = 20;

struct FallbackKey {
    std::u16string_view method;
    std::uint16_t key;
    bool isScanCode;
};

constexpr FallbackKey fallbackKeys[] = {
    {u"VK_DBE_HIRAGANA", vk::DbeHiragana, false},
    {u"VK_CONVERT", vk::Convert, false},
    {u"VK_KANJI", vk::Kanji, false},
    {u"scan29", 0x29, true},
};

void writeOutput(std::u16string_view event, std::u16string_view details) {
    diagnosticLog().write(LogChannel::Output, event, details);
}

bool hasNative(platform::ImeContext context) {
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    platform::immGetConversionStatus(context, conversion, sentence);
    return (conversion & ime::CmodeNative) != 0;
}

// Method 1: open the context and add the NATIVE bit, keeping the other
// conversion bits and the sentence mode. Releases the target's context.
bool enableViaInputContext(ImeTarget& target, platform::WindowHandle working) {
    const auto context = target.context();
    const bool opened = platform::immSetOpenStatus(context, true);
    std::uint32_t conversion = 0;
    std::uint32_t sentence = 0;
    platform::immGetConversionStatus(context, conversion, sentence);
    bool attempted = opened;
    if ((conversion & ime::CmodeNative) == 0) {
        const bool converted =
            platform::immSetConversionStatus(context, conversion | ime::CmodeNative, sentence);
        attempted = opened || converted;
    }
    const bool confirmed = attempted && platform::immGetOpenStatus(context) && hasNative(context);
    target.release();
    if (!confirmed) {
        return false;
    }
    if (diagnosticLog().isActive()) {
        writeOutput(u"IME_ENABLE",
                    u"method=ImmSetOpenStatus result=ok hwnd=0x" + lowerHex(working));
    }
    platform::sleepMs(SettlePauseMs);
    return true;
}

platform::KeyInput fallbackRecord(const FallbackKey& key, bool release) {
    platform::KeyInput record;
    if (key.isScanCode) {
        record.scan = key.key;
        record.flags = keyevent::ScanCode;
    } else {
        record.vk = key.key;
    }
    if (release) {
        record.flags |= keyevent::KeyUp;
    }
    record.extraInfo = InjectedInputMarker;
    return record;
}

bool sameWindow(platform::WindowHandle window, platform::WindowHandle targetWindow) {
    return window == targetWindow || window == focusOrForegroundWindow() ||
           window == platform::foregroundWindow();
}

} // namespace

bool enableIme(platform::WindowHandle& keyFallbackWindow, bool* fallbackKeysSent) {
    auto& log = diagnosticLog();
    keyFallbackWindow = 0;
    if (fallbackKeysSent != nullptr) {
        *fallbackKeysSent = false;
    }
    ImeTarget target = findImeTarget();
    platform::WindowHandle working = target.window();
    if (working == 0) {
        working = focusOrForegroundWindow();
    }
    if (working == 0) {
        writeOutput(u"IME_ENABLE", u"result=fail reason=no_hwnd");
        return false;
    }
    if (log.isActive()) {
        writeOutput(u"IME_ENABLE_BEGIN", describeImeState());
    }

    bool enabled = false;
    if (target.context() != 0) {
        enabled = enableViaInputContext(target, working);
    } else {
        writeOutput(u"IME_ENABLE", u"method=ImmSetOpenStatus result=skip reason=no_context");
    }

    if (!isImeOpen() && enableViaDefaultImeWindow(working)) {
        platform::sleepMs(SettlePauseMs);
        if (isImeOpen()) {
            enabled = true;
            writeOutput(u"IME_ENABLE", u"method=WM_IME_CONTROL result=ok");
        }
    }

    // The IME may have gone off again since method 1; the keys then decide.
    if (!isImeOpen()) {
        enabled = enableViaKeyFallback(fallbackKeysSent);
        if (enabled) {
            keyFallbackWindow = working;
        }
    }

    if (log.isActive()) {
        writeOutput(u"IME_ENABLE_END", describeImeState());
    }
    return enabled || isImeOpen();
}

bool enableViaDefaultImeWindow(platform::WindowHandle window) {
    if (window == 0) {
        return false;
    }
    const auto imeWindow = platform::immGetDefaultImeWindow(window);
    if (imeWindow == 0) {
        return false;
    }
    std::uintptr_t result = 0;
    const std::intptr_t delivered =
        platform::sendMessageTimeout(imeWindow, msg::ImeControl, ime::ImcSetOpenStatus, 1,
                                     ime::SmtoBlockAbortIfHung, ImeControlTimeoutMs, &result);
    if (diagnosticLog().isActive()) {
        writeOutput(u"IME_ENABLE_DEFAULT_WND", u"imeWnd=0x" + lowerHex(imeWindow) + u" delivered=" +
                                                   signedDecimal(delivered) + u" result=" +
                                                   decimal(result));
    }
    return delivered != 0 && result == 0;
}

bool enableViaKeyFallback(bool* keysSent) {
    for (const auto& key : fallbackKeys) {
        const platform::KeyInput records[2] = {fallbackRecord(key, false),
                                               fallbackRecord(key, true)};
        const auto accepted = platform::sendInput(records, 2);
        if (keysSent != nullptr && accepted > 0) {
            *keysSent = true;
        }
        if (accepted < 2) {
            continue;
        }
        platform::sleepMs(FallbackKeyPauseMs);
        ImeTarget target = findImeTarget();
        std::u16string_view outcome;
        if (target.context() == 0) {
            outcome = u"sent_unverified";
        } else if (isNativeOpen(target.context())) {
            outcome = u"verified";
        }
        target.release();
        if (!outcome.empty()) {
            if (diagnosticLog().isActive()) {
                writeOutput(u"IME_ENABLE_FALLBACK", u"method=" + std::u16string(key.method) +
                                                        u" result=" + std::u16string(outcome));
            }
            return true;
        }
    }
    writeOutput(u"IME_ENABLE_FALLBACK", u"result=fail");
    return false;
}

bool waitImeReady(platform::WindowHandle& keyFallbackWindow) {
    const platform::WindowHandle fallbackWindow = keyFallbackWindow;
    keyFallbackWindow = 0;
    auto& log = diagnosticLog();
    const std::uint32_t start = platform::tickCount();
    while (platform::tickCount() - start < ReadyTimeoutMs) {
        if (isImeOpen()) {
            if (log.isActive()) {
                writeOutput(u"IME_READY", u"result=ok " + describeImeState());
            }
            return true;
        }
        platform::sleepMs(ReadyPollMs);
    }
    if (fallbackWindow != 0) {
        ImeTarget target = findImeTarget();
        if (target.context() == 0 && sameWindow(fallbackWindow, target.window())) {
            if (log.isActive()) {
                writeOutput(u"IME_READY", u"result=key_fallback_unverified " + describeImeState());
            }
            return true;
        }
    }
    if (log.isActive()) {
        writeOutput(u"IME_READY", u"result=timeout " + describeImeState());
    }
    return false;
}

} // namespace tavelio
