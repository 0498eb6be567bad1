#include "capture/keyboard_hook.h"

#include "capture/clear_triggers.h"
#include "capture/hotkeys.h"
#include "ime/ime_state.h"
#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "platform/constants.h"
#include "platform/key_events.h"

#include <optional>

namespace tavelio {

namespace {

// What one key press asks of the desktop. Each question reaches the system at
// most once per press: the answers cannot change while the hook runs, and
// both are expensive (a process query, a thread attachment).
class PressFacts {
public:
    explicit PressFacts(const Settings& settings, std::optional<std::uint32_t> processId = {})
        : settings_(settings), processId_(processId) {}

    bool allowed() {
        if (!allowed_) {
            if (!processId_) {
                processId_ = settings_.appMode == u"all" ? foregroundProcessId() : 0;
            }
            allowed_ = allowedProcess(settings_, *processId_);
        }
        return *allowed_;
    }
    bool imeOpen() {
        if (!imeOpen_) {
            imeOpen_ = isImeOpen();
        }
        return *imeOpen_;
    }

private:
    const Settings& settings_;
    std::optional<std::uint32_t> processId_;
    std::optional<bool> allowed_;
    std::optional<bool> imeOpen_;
};

bool isModifierKey(std::uint32_t key) {
    return key == vk::Shift || key == vk::Control || key == vk::Menu || key == vk::LWin ||
           key == vk::RWin || (key >= vk::LShift && key <= vk::RMenu);
}

bool isClearKey(std::uint32_t key) {
    return key == vk::Tab || key == vk::Return || key == vk::Escape ||
           (key >= vk::Prior && key <= vk::Down);
}

// Stores a character the key produced, with the APPEND line after the buffer's.
void appendCharacter(InputBuffer& buffer, std::u16string_view source, std::uint32_t key,
                     char16_t ch) {
    buffer.append(ch);
    logInput(u"APPEND", [&](LogDetails& d) {
        d.add(u"source", source).code(u"vk", key).quotedAsIs(u"ch", {&ch, 1}); // as typed
    });
}

void logSkip(std::u16string_view reason, std::uint32_t key, bool withKey) {
    logInput(u"SKIP", [&](LogDetails& d) {
        d.add(u"reason", reason);
        if (withKey) {
            d.code(u"vk", key);
        }
        d.quotedAsIs(u"ime", describeImeState());
    });
}

void logHotkeyExecute(const InputBuffer& buffer) {
    logInput(u"HOTKEY_EXECUTE", [&](LogDetails& d) {
        const auto& text = buffer.text();
        d.add(u"bufLen", text.size())
            .add(summarizeText(text))
            .quoted(u"text", text)
            .add(describeModifierState())
            .add(describeWindowContext())
            .quotedAsIs(u"ime", describeImeState());
    });
}

void logHotkeySkip(HookContext& context, PressFacts& facts) {
    logInput(u"HOTKEY_SKIP", [&](LogDetails& d) {
        const auto& buffer = context.buffer;
        d.add(u"matched=0")
            .add(u"enabled", context.settings.enabled)
            .add(u"canExecute", buffer.canExecute())
            .add(u"truncated", buffer.truncated())
            .add(u"bufLen", buffer.text().size())
            .add(u"allowedApp", facts.allowed())
            .add(u"imeOpen", facts.imeOpen())
            .quotedAsIs(u"ime", describeImeState())
            .quoted(u"text", buffer.text());
    });
}

void classifyPress(HookContext& context, const KeyEvent& event, PressFacts& facts) {
    auto& buffer = context.buffer;
    const auto& settings = context.settings;
    const std::uint32_t key = event.vkCode;
    const auto vkDetail = [key](LogDetails& d) {
        d.code(u"vk", key);
    };

    if (!settings.enabled || !facts.allowed()) {
        buffer.requestClear(u"disabled_or_excluded", vkDetail);
        return;
    }
    // Shift alone is no combination: shifted keys are characters.
    const bool combination = platform::isKeyDown(vk::Control) || platform::isKeyDown(vk::Menu) ||
                             platform::isKeyDown(vk::LWin) || platform::isKeyDown(vk::RWin);
    if (combination) {
        if (!isModifierKey(key)) {
            buffer.requestClear(u"modifier_combo", vkDetail);
        }
        return;
    }
    if (key == vk::Back) {
        buffer.backspace();
        return;
    }
    if (key == vk::Space) {
        if (settings.clearOnSpace) {
            buffer.requestClear(u"clear_on_space", u"");
        } else if (facts.imeOpen()) {
            logSkip(u"ime_open_on_space", key, false);
        } else {
            buffer.append(u' ');
        }
        return;
    }
    // Enter clears whatever clearOnEnter says.
    if (isClearKey(key)) {
        buffer.requestClear(u"clear_key", vkDetail);
        return;
    }
    if (facts.imeOpen()) {
        logSkip(u"ime_open", key, true);
        return;
    }
    if (appendFromVirtualKey(buffer, event) || appendFromUnicode(buffer, event)) {
        return;
    }
    logInput(u"REJECT", [&](LogDetails& d) {
        d.add(u"reason", u"not_printable").code(u"vk", key).code(u"scan", event.scanCode);
    });
}

bool decideKeyEvent(HookContext& context, int code, std::uint32_t message, const KeyEvent& event) {
    if (code != HookActionCode) {
        return false;
    }
    // All injected input is ignored, ours (marked) and everybody else's;
    // releases are never looked at.
    if ((event.flags & LowLevelKeyInjected) != 0 || event.extraInfo == InjectedInputMarker ||
        (message != msg::KeyDown && message != msg::SysKeyDown)) {
        return false;
    }
    PressFacts facts(context.settings, checkForegroundProcess(context));

    if (matchesAnyHotkey(context.settings, event) && context.settings.enabled &&
        context.buffer.canExecute() && facts.allowed() && !facts.imeOpen()) {
        logHotkeyExecute(context.buffer);
        // The press is swallowed even if the post fails: nothing to undo.
        platform::postMessage(context.hiddenWindow, ExecuteRequestMessage, 0, 0);
        return true;
    }
    if (event.vkCode == vk::Back && platform::isKeyDown(vk::Control)) {
        logHotkeySkip(context, facts);
    }
    classifyPress(context, event, facts);
    return false;
}

} // namespace

bool appendFromVirtualKey(InputBuffer& buffer, const KeyEvent& event) {
    const std::uint32_t key = event.vkCode;
    if (key >= 'A' && key <= 'Z') {
        const bool shift = platform::isKeyDown(vk::Shift);
        const bool caps = platform::isKeyToggled(vk::Capital);
        // Shift or Caps Lock alone gives a capital; both or neither a small letter.
        const char16_t ch =
            static_cast<char16_t>(shift == caps ? asciiLower(static_cast<char16_t>(key)) : key);
        appendCharacter(buffer, u"vk", key, ch);
        return true;
    }
    if (key >= '0' && key <= '9' && !platform::isKeyDown(vk::Shift)) {
        appendCharacter(buffer, u"vk_digit", key, static_cast<char16_t>(key));
        return true;
    }
    return false;
}

bool appendFromUnicode(InputBuffer& buffer, const KeyEvent& event) {
    std::uint8_t keyState[256];
    for (unsigned key = 0; key < 256; ++key) {
        keyState[key] = platform::isKeyDown(static_cast<std::uint8_t>(key)) ? 0x80 : 0;
    }
    for (const std::uint8_t toggle : {vk::Capital, vk::NumLock, vk::Scroll}) {
        if (platform::isKeyToggled(toggle)) {
            keyState[toggle] |= 0x01;
        }
    }
    // Ctrl and Alt never take part, or Ctrl+letter would give control characters.
    for (const std::uint8_t modifier :
         {vk::Control, vk::LControl, vk::RControl, vk::Menu, vk::LMenu, vk::RMenu}) {
        keyState[modifier] &= static_cast<std::uint8_t>(~0x80);
    }

    const auto layout = foregroundLayout();

    // An empty translation first clears any dead key the layout may hold from
    // an earlier call, so this one stands on its own.
    const std::uint8_t noKeys[256] = {};
    char16_t unused[1] = {};
    platform::toUnicode(0xFF, 0, noKeys, unused, 0, 0, layout);

    char16_t out[8] = {};
    const int produced =
        platform::toUnicode(event.vkCode, event.scanCode, keyState, out, 8, 0, layout);
    if (produced != 1 || out[0] < 0x20 || out[0] > 0x7E) {
        return false;
    }
    appendCharacter(buffer, u"unicode", event.vkCode, out[0]);
    return true;
}

void classifyKey(HookContext& context, const KeyEvent& event) {
    PressFacts facts(context.settings);
    classifyPress(context, event, facts);
}

bool processKeyEvent(HookContext& context, int code, std::uint32_t message,
                     const KeyEvent& event) noexcept {
    noteHookCall(context);
    try {
        return decideKeyEvent(context, code, message, event);
    } catch (...) {
        // The keyboard hook's one catch: whatever fails in the decisions, the
        // key still reaches the application.
        return false;
    }
}

} // namespace tavelio
