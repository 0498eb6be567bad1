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

// What one key press knows of the desktop: the watcher's facts, when they
// are about the window in front. Nothing here asks the system.
class PressFacts {
public:
    PressFacts(const DesktopFacts& facts, bool current) : facts_(facts), current_(current) {}

    // The watcher has read the window in front.
    bool known() const { return current_; }
    bool allowed() const { return !current_ || facts_.allowed; }
    bool password() const { return current_ && facts_.password; }
    bool readableField() const { return current_ && facts_.readableField; }
    ImeReading ime() const { return current_ ? facts_.ime : ImeReading::unknown; }
    // Off, or nothing there to say otherwise: what is typed shows as typed.
    bool imeOff() const { return ime() == ImeReading::off || ime() == ImeReading::unreadable; }

private:
    const DesktopFacts& facts_;
    bool current_;
};

bool isModifierKey(std::uint32_t key) {
    return key == vk::Shift || key == vk::Control || key == vk::Menu || key == vk::LWin ||
           key == vk::RWin || (key >= vk::LShift && key <= vk::RMenu);
}

bool isAltKey(std::uint32_t key) {
    return key == vk::Menu || key == vk::LMenu || key == vk::RMenu;
}

// F6 moves into a browser's address bar, Insert turns overtype on, the
// Applications key opens a menu: what follows no longer extends the record.
bool isFunctionKey(std::uint32_t key) {
    return (key >= vk::F1 && key <= vk::F24) || key == vk::Apps || key == vk::Insert;
}

bool isClearKey(std::uint32_t key) {
    return key == vk::Tab || key == vk::Return || key == vk::Escape ||
           (key >= vk::Prior && key <= vk::Down);
}

// Kanji, Convert, Nonconvert, IME On and Off and the OEM keys of Japanese
// keyboards: what the IME does with them shows in the field, never in the
// buffer.
bool isImeKey(std::uint32_t key) {
    return key == vk::Kanji || key == vk::Convert || key == vk::Nonconvert || key == vk::ImeOn ||
           key == vk::ImeOff || (key >= 0xF0 && key <= 0xF6);
}

bool isPress(std::uint32_t message) {
    return message == msg::KeyDown || message == msg::SysKeyDown;
}

// A press of the user's while a run is under way stops it. The hotkey's own
// auto-repeat, while the run waits for its release, and the repeat of a
// modifier already down are no new press.
void noteUserPress(HookContext& context, std::uint32_t message, const KeyEvent& event) {
    if (!context.run.running || !isPress(message) || event.extraInfo == InjectedInputMarker) {
        return;
    }
    const bool repeat = (isModifierKey(event.vkCode) &&
                         platform::isKeyDown(static_cast<std::uint8_t>(event.vkCode))) ||
                        matchesAnyHotkey(context.settings, event);
    if (!repeat) {
        context.run.userInput = true;
    }
}

// Stores a character the key produced, with the APPEND line after the buffer's.
void appendCharacter(InputBuffer& buffer, std::u16string_view source, std::uint32_t key,
                     char16_t ch) {
    buffer.append(ch);
    if (buffer.quiet()) {
        return;
    }
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

void logReject(const KeyEvent& event) {
    logInput(u"REJECT", [&](LogDetails& d) {
        d.add(u"reason", u"not_printable").code(u"vk", event.vkCode).code(u"scan", event.scanCode);
    });
}

void logHotkeyExecute(const InputBuffer& buffer, const DesktopFacts& facts) {
    logInput(u"HOTKEY_EXECUTE", [&](LogDetails& d) {
        const auto& text = buffer.text();
        d.add(u"bufLen", text.size())
            .add(summarizeText(text))
            .quoted(u"text", text)
            .add(describeModifierState())
            .add(describeWindowContext(facts.processId, facts.exe()))
            .quotedAsIs(u"ime", describeImeState());
    });
}

void logHotkeySkip(HookContext& context, const PressFacts& facts) {
    logInput(u"HOTKEY_SKIP", [&](LogDetails& d) {
        const auto& buffer = context.buffer;
        d.add(u"matched=0")
            .add(u"enabled", context.settings.enabled)
            .add(u"canExecute", buffer.canExecute())
            .add(u"truncated", buffer.truncated())
            .add(u"bufLen", buffer.text().size())
            .add(u"allowedApp", facts.allowed());
        if (facts.ime() == ImeReading::unknown) {
            d.add(u"imeOpen", u"unknown");
        } else {
            d.add(u"imeOpen", facts.ime() == ImeReading::on);
        }
        d.quotedAsIs(u"ime", describeImeState()).quoted(u"text", buffer.text());
    });
}

// A program the watcher has not read yet may be an excluded password
// manager: its keys are held back without a line, and its reading keeps
// them or lets them go.
class QuietWhileUnknown {
public:
    QuietWhileUnknown(InputBuffer& buffer, bool unknown) : buffer_(buffer) {
        buffer_.setQuiet(unknown);
    }
    QuietWhileUnknown(const QuietWhileUnknown&) = delete;
    QuietWhileUnknown& operator=(const QuietWhileUnknown&) = delete;
    ~QuietWhileUnknown() { buffer_.setQuiet(false); }

private:
    InputBuffer& buffer_;
};

void classifyPress(HookContext& context, const KeyEvent& event, const PressFacts& facts) {
    const QuietWhileUnknown quiet(context.buffer, !facts.known());
    auto& buffer = context.buffer;
    const auto& settings = context.settings;
    const std::uint32_t key = event.vkCode;
    const auto vkDetail = [key](LogDetails& d) {
        d.code(u"vk", key);
    };

    if (!settings.enabled) {
        buffer.requestClear(u"disabled_or_excluded", vkDetail);
        return;
    }
    // No key code: a password typed into an excluded password manager, or
    // into a password box, must not be rebuildable from the log.
    if (!facts.allowed()) {
        buffer.requestClear(u"disabled_or_excluded", u"");
        return;
    }
    if (facts.password()) {
        buffer.requestClear(u"password", u"");
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
    // A modifier pressed alone types nothing, whatever the IME does: only its
    // line needs the IME's state, and that costs a message to the application.
    if (isModifierKey(key)) {
        if (diagnosticLog().isActive()) {
            if (facts.ime() == ImeReading::on) {
                logSkip(u"ime_open", key, true);
            } else {
                logReject(event);
            }
        }
        return;
    }
    if (isImeKey(key)) {
        buffer.requestClear(u"ime_key", vkDetail);
        if (context.watcher != 0) {
            platform::postMessage(context.watcher, WatchImeKeyMessage, 0, 0); // read it now
        }
        return;
    }
    if (key == vk::Back) {
        buffer.backspace();
        return;
    }
    // With the IME on, the key goes into the IME, which puts text of its own
    // in the field: the buffer is no longer its tail. With the IME not yet
    // read the key is recorded but held back: the next reading keeps it or
    // drops the record.
    const auto notTyped = [&](std::u16string_view skipReason, bool withKey) {
        logSkip(skipReason, key, withKey);
        buffer.requestClear(u"ime_typing", vkDetail);
    };
    const bool held = facts.ime() == ImeReading::unknown;
    if (key == vk::Space) {
        if (settings.clearOnSpace) {
            buffer.requestClear(u"clear_on_space", u"");
        } else if (facts.ime() == ImeReading::on) {
            notTyped(u"ime_open_on_space", false);
        } else {
            buffer.append(u' ');
            if (held) {
                buffer.holdBackLast();
            }
        }
        return;
    }
    // F10 opens the menu bar: the letters after it are commands.
    if (key == vk::F10) {
        buffer.requestClear(u"menu", vkDetail);
        return;
    }
    if (isFunctionKey(key)) {
        buffer.requestClear(u"function_key", vkDetail);
        return;
    }
    // Enter clears whatever clearOnEnter says.
    if (isClearKey(key)) {
        buffer.requestClear(u"clear_key", vkDetail);
        return;
    }
    if (facts.ime() == ImeReading::on) {
        notTyped(u"ime_open", true);
        return;
    }
    if (appendFromVirtualKey(buffer, event) || appendFromUnicode(buffer, event)) {
        if (held) {
            buffer.holdBackLast();
        }
        return;
    }
    logReject(event);
}

// Whether the press runs the re-input: the hotkey over a usable record in an
// application that takes part, the IME off, and with romajiOnly romaji at the
// record's end. Otherwise the editor's own Ctrl+Backspace deletes a word.
KeyDecision decideHotkey(HookContext& context, const KeyEvent& event, const PressFacts& facts) {
    KeyDecision decision;
    const auto& settings = context.settings;
    // An IME not yet read goes to the run, which reads it itself before it
    // deletes anything. Without a usable record, a field that tells its text
    // goes to the run too: it reads the romaji before the caret, or the
    // selection, and gives the press back when there is nothing to convert.
    const bool usable = context.buffer.canExecute();
    const bool fieldDecides = !usable && facts.readableField();
    // Its key already reads down: an auto-repeat of a press that reached the
    // application (one the hook took never changed the key's state). Held,
    // Ctrl+Backspace deletes word after word there, as it always did.
    if (!matchesAnyHotkey(settings, event) ||
        platform::isKeyDown(static_cast<std::uint8_t>(event.vkCode)) || !settings.enabled ||
        (!usable && !fieldDecides) || !facts.known() || !facts.allowed() || facts.password() ||
        facts.ime() == ImeReading::on) {
        if (event.vkCode == vk::Back && platform::isKeyDown(vk::Control)) {
            decision.hotkey = HotkeyOutcome::skip;
        }
        return decision;
    }
    decision.fieldDecides = fieldDecides;
    if (settings.romajiOnly && usable) {
        decision.romajiDecided = true;
        decision.romaji = findRomajiPart(context.buffer.text());
    }
    decision.swallow = !decision.romajiDecided || decision.romaji.convert();
    decision.heldBack = context.buffer.heldBack();
    decision.hotkey = decision.swallow ? HotkeyOutcome::execute : HotkeyOutcome::skip;
    return decision;
}

void logHotkeyRomaji(const InputBuffer& buffer, const RomajiPart& part) {
    logInput(u"HOTKEY_ROMAJI", [&](LogDetails& d) {
        const std::u16string_view text = buffer.text();
        d.add(u"bufLen", text.size())
            .add(u"romajiLen", part.romajiLen)
            .add(u"keepLen", part.keepLen)
            .quoted(u"text", text)
            .quoted(u"romaji", text.substr(part.keepLen, part.romajiLen));
    });
}

// The lines of a hotkey press: what the gate found, then whether it runs.
void logHotkeyDecision(HookContext& context, const KeyDecision& decision, const PressFacts& facts) {
    if (!diagnosticLog().isActive()) {
        return;
    }
    if (decision.romajiDecided) {
        logHotkeyRomaji(context.buffer, decision.romaji);
    }
    if (decision.swallow) {
        logHotkeyExecute(context.buffer, context.facts);
    } else if (decision.hotkey == HotkeyOutcome::skip) {
        logHotkeySkip(context, facts);
    }
}

// Alt pressed and released with nothing between opens the menu bar, and the
// letters after it are commands. With Ctrl down it is AltGr, or Ctrl+Alt.
void noteRelease(HookContext& context, const KeyEvent& event) {
    if (isAltKey(event.vkCode) && context.lastPress == event.vkCode &&
        !platform::isKeyDown(vk::Control)) {
        context.buffer.requestClear(u"menu", [&](LogDetails& d) { d.code(u"vk", event.vkCode); });
    }
    context.lastPress = 0;
}

// The watcher reads the IME at a short interval while keys come, and not at
// all while nobody types: the first key after a pause wakes it.
void noteTyping(HookContext& context) {
    context.lastKeyTick.store(platform::tickCount(), std::memory_order_relaxed);
    if (context.watcher != 0 && !context.typingNoted.exchange(true)) {
        platform::postMessage(context.watcher, WatchTypingMessage, 0, 0);
    }
}

bool readsOn(ImeReading reading) {
    return reading == ImeReading::on;
}

FactsOutcome followNewFacts(HookContext& context) {
    const DesktopFacts previous = context.facts;
    context.facts = context.board->load();
    const DesktopFacts& now = context.facts;
    InputBuffer& buffer = context.buffer;
    if (previous.generation == 0) {
        return FactsOutcome::unchanged; // the first reading: nothing recorded to judge
    }
    // Another field of the same window holds other text; another window is
    // the key's own business (checkForegroundProcess).
    // A window just come to the front reads as its own focus until its
    // field takes the focus: that is no move to another field.
    if (now.foreground == previous.foreground && now.focus != previous.focus &&
        previous.focus != previous.foreground) {
        buffer.requestClear(u"foreground_window", [&](LogDetails& d) {
            d.hex(u"fromHwnd", previous.focus).hex(u"toHwnd", now.focus);
        });
        return FactsOutcome::cleared;
    }
    // Keys held back in the window these facts are about: whether its
    // program takes part, and whether it is a password box, decide first.
    if (buffer.heldBack() && now.foreground == context.fromWindow) {
        if (!now.allowed) {
            buffer.requestClear(u"disabled_or_excluded", u"");
            return FactsOutcome::cleared;
        }
        if (now.password) {
            buffer.requestClear(u"password", u"");
            return FactsOutcome::cleared;
        }
    }
    if (now.focus != previous.focus &&
        !(buffer.heldBack() && now.foreground == context.fromWindow)) {
        return FactsOutcome::unchanged;
    }
    if (now.password && !previous.password) {
        buffer.requestClear(u"password", u"");
        return FactsOutcome::cleared;
    }
    if (now.ime == ImeReading::unknown) {
        return FactsOutcome::unchanged; // no answer yet: what is held stays held
    }
    const ImeReading before = previous.ime;
    if (readsOn(now.ime) &&
        (buffer.heldBack() || (before != ImeReading::unknown && !readsOn(before)))) {
        buffer.requestClear(u"ime_changed", [&](LogDetails& d) {
            d.add(u"held", buffer.heldBack()).quotedAsIs(u"ime", describeImeState());
        });
        return FactsOutcome::cleared;
    }
    if (buffer.heldBack() && !readsOn(now.ime)) {
        buffer.confirmHeld();
        return FactsOutcome::kept;
    }
    return FactsOutcome::unchanged;
}

KeyDecision decideKeyEvent(HookContext& context, int code, std::uint32_t message,
                           const KeyEvent& event) {
    if (code != HookActionCode) {
        return {};
    }
    noteUserPress(context, message, event);
    // Injected input is never recorded, ours (marked) and everybody else's;
    // of the releases only a lone Alt's counts.
    if (event.extraInfo == InjectedInputMarker) {
        return {};
    }
    if (!isPress(message)) {
        noteRelease(context, event);
        return {};
    }
    context.lastPress = event.vkCode;
    if ((event.flags & LowLevelKeyInjected) != 0) {
        // A remapper's modifier (Caps Lock made Ctrl) types nothing itself.
        if (isModifierKey(event.vkCode)) {
            return {};
        }
        // Another program's key reaches the application unrecorded.
        context.buffer.requestClear(u"injected",
                                    [&](LogDetails& d) { d.code(u"vk", event.vkCode); });
        return {};
    }
    const bool known = checkForegroundProcess(context) != 0;
    followFacts(context);
    // The watcher's facts hold for this key when they are about the window in front.
    const platform::WindowHandle inFront =
        known ? context.fromWindow : platform::foregroundWindow();
    const PressFacts facts(context.facts,
                           context.facts.generation != 0 && context.facts.foreground == inFront);
    noteTyping(context);

    // Decided first, then logged once from what was decided.
    const KeyDecision decision = decideHotkey(context, event, facts);
    logHotkeyDecision(context, decision, facts);
    if (decision.swallow) {
        // The run holds to the window the hotkey was pressed in. The press is
        // swallowed even if the post fails: nothing to undo.
        // checkForegroundProcess read that window for this press (0 when it
        // could not tell: the run then takes the window in front).
        // lParam 1: taken for the field alone, to be given back if it holds nothing.
        platform::postMessage(context.hiddenWindow, ExecuteRequestMessage,
                              known ? context.fromWindow : 0, decision.fieldDecides ? 1 : 0);
        return decision;
    }
    classifyPress(context, event, facts);
    return decision;
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

    // The state stays as it is: a dead key the user pressed is the
    // application's, and a translation that took it would lose it.
    char16_t out[8] = {};
    const int produced = platform::toUnicode(event.vkCode, event.scanCode, keyState, out, 8,
                                             ToUnicodeKeepState, layout);
    if (produced != 1 || out[0] < 0x20 || out[0] > 0x7E) {
        return false;
    }
    appendCharacter(buffer, u"unicode", event.vkCode, out[0]);
    return true;
}

void classifyKey(HookContext& context, const KeyEvent& event) {
    followFacts(context);
    const PressFacts facts(context.facts, context.facts.generation != 0);
    classifyPress(context, event, facts);
}

FactsOutcome followFacts(HookContext& context) noexcept {
    if (context.board == nullptr || context.board->generation() == context.facts.generation) {
        return FactsOutcome::unchanged;
    }
    try {
        return followNewFacts(context);
    } catch (...) {
        return FactsOutcome::unchanged; // the next key tries again
    }
}

KeyDecision processKeyEvent(HookContext& context, int code, std::uint32_t message,
                            const KeyEvent& event) noexcept {
    noteHookCall(context, platform::HookKind::keyboard);
    try {
        const std::lock_guard record(context.recordLock);
        const KeyDecision decision = decideKeyEvent(context, code, message, event);
        if (code == HookActionCode && isPress(message) && event.extraInfo != InjectedInputMarker) {
            context.lastKey = event.vkCode;
            noteHint(context);
        }
        return decision;
    } catch (...) {
        // The keyboard hook's one catch: whatever fails in the decisions, the
        // key still reaches the application.
        return {};
    }
}

} // namespace tavelio
