#include "capture/keyboard_hook.h"

#include "capture/clear_triggers.h"
#include "capture/hotkeys.h"
#include "ime/ime_state.h"
#include "log/diagnostic_log.h"
#include "log/log_format.h"
#include "platform/constants.h"

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

// "vk=0x%02X", built only while logging.
std::u16string vkDetail(std::uint32_t key) {
    if (!diagnosticLog().isActive()) {
        return {};
    }
    return u"vk=0x" + upperHex2(key);
}

std::u16string quoted(std::u16string_view key, std::u16string_view value) {
    std::u16string out(key);
    out += u'"';
    out += value;
    out += u'"';
    return out;
}

void logInput(std::u16string_view event, std::u16string_view details) {
    diagnosticLog().write(LogChannel::Input, event, details);
}

void logAppend(std::u16string_view source, std::uint32_t key, char16_t ch) {
    if (!diagnosticLog().isActive()) {
        return;
    }
    std::u16string details = u"source=";
    details += source;
    details += u" vk=0x" + upperHex2(key);
    details += u" ch=\"";
    details += ch;
    details += u'"';
    logInput(u"APPEND", details);
}

void logSkip(std::u16string_view reason, std::uint32_t key, bool withKey) {
    if (!diagnosticLog().isActive()) {
        return;
    }
    std::u16string details = u"reason=";
    details += reason;
    if (withKey) {
        details += u" vk=0x" + upperHex2(key);
    }
    details += quoted(u" ime=", describeImeState());
    logInput(u"SKIP", details);
}

void logHotkeyExecute(const InputBuffer& buffer) {
    if (!diagnosticLog().isActive()) {
        return;
    }
    const auto& text = buffer.text();
    std::u16string details = u"bufLen=" + decimal(text.size());
    details += u' ' + summarizeText(text);
    details += quoted(u" text=", escapeLogText(text));
    details += u' ' + describeModifierState();
    details += u' ' + describeWindowContext();
    details += quoted(u" ime=", describeImeState());
    logInput(u"HOTKEY_EXECUTE", details);
}

void logHotkeySkip(HookContext& context, PressFacts& facts) {
    if (!diagnosticLog().isActive()) {
        return;
    }
    const auto& buffer = context.buffer;
    std::u16string details = u"matched=0 enabled=";
    details += flag(context.settings.enabled);
    details += u" canExecute=";
    details += flag(buffer.canExecute());
    details += u" truncated=";
    details += flag(buffer.truncated());
    details += u" bufLen=" + decimal(buffer.text().size());
    details += u" allowedApp=";
    details += flag(facts.allowed());
    details += u" imeOpen=";
    details += flag(facts.imeOpen());
    details += quoted(u" ime=", describeImeState());
    details += quoted(u" text=", escapeLogText(buffer.text()));
    logInput(u"HOTKEY_SKIP", details);
}

void classifyPress(HookContext& context, const KeyEvent& event, PressFacts& facts) {
    auto& buffer = context.buffer;
    const auto& settings = context.settings;
    const std::uint32_t key = event.vkCode;

    if (!settings.enabled || !facts.allowed()) {
        buffer.requestClear(u"disabled_or_excluded", vkDetail(key));
        return;
    }
    // Shift alone is no combination: shifted keys are characters.
    const bool combination = platform::isKeyDown(vk::Control) || platform::isKeyDown(vk::Menu) ||
                             platform::isKeyDown(vk::LWin) || platform::isKeyDown(vk::RWin);
    if (combination) {
        if (!isModifierKey(key)) {
            buffer.requestClear(u"modifier_combo", vkDetail(key));
        }
        return;
    }
    if (key == vk::Back) {
        buffer.backspace();
        return;
    }
    if (key == vk::Space) {
        if (settings.clearOnSpace) {
            buffer.requestClear(u"clear_on_space", {});
        } else if (facts.imeOpen()) {
            logSkip(u"ime_open_on_space", key, false);
        } else {
            buffer.append(u' ');
        }
        return;
    }
    // Enter clears whatever clearOnEnter says.
    if (isClearKey(key)) {
        buffer.requestClear(u"clear_key", vkDetail(key));
        return;
    }
    if (facts.imeOpen()) {
        logSkip(u"ime_open", key, true);
        return;
    }
    if (appendFromVirtualKey(buffer, event) || appendFromUnicode(buffer, event)) {
        return;
    }
    if (diagnosticLog().isActive()) {
        logInput(u"REJECT", u"reason=not_printable vk=0x" + upperHex2(key) + u" scan=0x" +
                                upperHex2(event.scanCode));
    }
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

    if (matchesAnyHotkey(context.settings, event)) {
        if (context.settings.enabled && context.buffer.canExecute() && facts.allowed() &&
            !facts.imeOpen()) {
            logHotkeyExecute(context.buffer);
            // The press is swallowed even if the post fails: nothing to undo.
            platform::postMessage(context.hiddenWindow, ExecuteRequestMessage, 0, 0);
            return true;
        }
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
        buffer.append(ch);
        logAppend(u"vk", key, ch);
        return true;
    }
    if (key >= '0' && key <= '9' && !platform::isKeyDown(vk::Shift)) {
        const char16_t ch = static_cast<char16_t>(key);
        buffer.append(ch);
        logAppend(u"vk_digit", key, ch);
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

    const auto foreground = platform::foregroundWindow();
    const auto layout = platform::keyboardLayout(
        foreground != 0 ? platform::windowThreadProcessId(foreground, nullptr) : 0);

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
    buffer.append(out[0]);
    logAppend(u"unicode", event.vkCode, out[0]);
    return true;
}

void classifyKey(HookContext& context, const KeyEvent& event) {
    PressFacts facts(context.settings);
    classifyPress(context, event, facts);
}

bool processKeyEvent(HookContext& context, int code, std::uint32_t message,
                     const KeyEvent& event) noexcept {
    try {
        return decideKeyEvent(context, code, message, event);
    } catch (...) {
        // Out of memory while logging, say: the key still reaches the application.
        return false;
    }
}

} // namespace tavelio
