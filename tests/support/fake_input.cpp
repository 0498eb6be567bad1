// SendInput: records every batch, refuses records past acceptLimit, and
// delivers what it accepted: to the keyboard hook (flagged injected, as
// Windows does) and then to the focused window's text, through its IME.
#include "capture/romaji_table.h"
#include "platform/constants.h"
#include "platform/platform.h"
#include "tests/support/fake_layout.h"
#include "tests/support/fake_system.h"

#include <algorithm>

namespace tavelio::fake {

namespace {

constexpr std::uint32_t VkPacket = 0xE7;

Window* focusedField(System& s) {
    if (s.foreground == 0) {
        return nullptr;
    }
    const auto& thread = s.threads.at(s.window(s.foreground).threadId);
    const WindowHandle target = thread.focus != 0 ? thread.focus : s.foreground;
    const auto w = s.windows.find(target);
    return w == s.windows.end() ? nullptr : &w->second;
}

ImeState* imeOf(System& s, Window& w) {
    if (w.context == 0) {
        return nullptr;
    }
    return &s.contexts.at(w.context);
}

// The first key into a selection takes it away; text goes in at the caret.
std::size_t caretOf(Window& w) {
    if (w.selectionStart == std::u16string::npos || w.selectionStart > w.text.size()) {
        w.selectionStart = w.selectionEnd = std::u16string::npos;
        return w.text.size();
    }
    const std::size_t end = std::min(w.selectionEnd, w.text.size());
    w.text.erase(w.selectionStart, end - w.selectionStart);
    w.selectionEnd = w.selectionStart;
    return w.selectionStart;
}
void insertAtCaret(Window& w, std::u16string_view text) {
    const std::size_t caret = caretOf(w);
    w.text.insert(caret, text);
    if (w.selectionStart != std::u16string::npos) {
        w.selectionStart = w.selectionEnd = caret + text.size();
    }
}

void typeInto(System& s, Window& w, char16_t ch) {
    ImeState* ime = imeOf(s, w);
    const bool converting = ime != nullptr && ime->open && (ime->conversion & ime::CmodeNative);
    if (!converting) {
        insertAtCaret(w, finishRomaji(w.composition) + ch); // a closing IME commits what it held
        w.composition.clear();
        return;
    }
    caretOf(w); // the composition begins where the selection was
    const auto step = typeRomaji(w.composition, ch);
    insertAtCaret(w, step.committed);
    w.composition = step.pending;
}

// Backspace takes one unit; with Ctrl down it takes the word before the
// caret (and the blanks after it), as rich edit controls and browsers do.
void backspaceIn(Window& w, bool ctrl) {
    if (!w.composition.empty()) {
        w.composition.pop_back();
        return;
    }
    if (w.selectionStart != std::u16string::npos && w.selectionStart != w.selectionEnd) {
        caretOf(w); // Backspace takes the selection, and nothing more
        return;
    }
    if (!ctrl) {
        const std::size_t caret = caretOf(w);
        if (caret > 0) {
            w.text.erase(caret - 1, 1);
            if (w.selectionStart != std::u16string::npos) {
                w.selectionStart = w.selectionEnd = caret - 1;
            }
        }
        return;
    }
    const auto blank = [](char16_t c) {
        return c == u' ' || c == u'\t';
    };
    const auto boundary = [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\n';
    };
    while (!w.text.empty() && blank(w.text.back())) {
        w.text.pop_back();
    }
    while (!w.text.empty() && !boundary(w.text.back())) {
        w.text.pop_back();
    }
}

// The character a key gives on the test's layout: a character the test added
// to the layout when the key and the modifiers down match its VkKeyScanEx
// value, else the US key with Shift (nothing while Ctrl or Alt is down).
char16_t characterOf(const System& s, std::uint32_t vkCode) {
    const std::uint32_t shiftState = (s.down[vk::Shift] ? 0x01u : 0u) |
                                     (s.down[vk::Control] ? 0x02u : 0u) |
                                     (s.down[vk::Menu] ? 0x04u : 0u);
    for (const auto& [ch, scan] : s.extraKeyScans) {
        const auto value = static_cast<std::uint16_t>(scan);
        if (scan != -1 && (value & 0xFF) == vkCode && (value >> 8) == shiftState) {
            return ch;
        }
    }
    if (s.down[vk::Control] || s.down[vk::Menu]) {
        return 0;
    }
    const char16_t ch =
        usCharacter(vkCode, s.down[vk::Shift], s.toggled[vk::Capital], s.toggled[vk::NumLock]);
    return (ch >= 0x20 && ch != 0x7F) ? ch : 0;
}

// One key event after the layout has named its key: the keyboard hook sees
// it first, with the key state as it was before; unless the hook swallowed
// it, the key state changes and a press reaches the focused field, through
// its IME.
void deliverKey(System& s, std::uint32_t vkCode, std::uint32_t scan, std::uint32_t scanKey,
                char16_t unit, bool up, std::uint32_t hookFlags, std::uintptr_t extraInfo) {
    const bool unicode = vkCode == VkPacket;
    s.lastInputTick = s.tick;
    if (s.keyboardHook && s.hooked(platform::HookKind::keyboard)) {
        HookKeyEvent event;
        event.message = up ? msg::KeyUp : msg::KeyDown;
        event.vkCode = vkCode;
        event.scanCode = scan;
        event.flags = hookFlags | (up ? 0x80u : 0u);
        event.extraInfo = extraInfo;
        const std::uint32_t called = s.tick;
        const bool swallowed = s.keyboardHook(event);
        if (s.tick - called > s.hooksTimeoutMs) {
            s.timeOutHooks(platform::HookKind::keyboard); // and the key goes on
        } else if (swallowed) {
            return;
        }
    }
    if (s.rawKeyboardInput) {
        s.rawKeyboardInput();
    }
    if (!unicode && vkCode != 0 && vkCode < 256) {
        s.setKey(static_cast<std::uint8_t>(vkCode), !up);
    }
    if (up) {
        return;
    }

    Window* field = focusedField(s);
    if (field == nullptr) {
        return;
    }
    if (ImeState* ime = imeOf(s, *field)) {
        const auto knows = [&](std::uint32_t key) {
            return std::find(ime->switchOnKeys.begin(), ime->switchOnKeys.end(), key) !=
                   ime->switchOnKeys.end();
        };
        if (vkCode == vk::ImeOff && knows(vk::ImeOn)) {
            ime->open = false;
            return;
        }
        if (vkCode == vk::Kanji && knows(vk::Kanji) && ime->open) {
            ime->open = false;
            return;
        }
        if (knows(vkCode) || (scanKey != 0 && knows(scanKey))) {
            ime->open = true;
            ime->conversion |= ime::CmodeNative;
            return;
        }
    }
    if (unicode) {
        typeInto(s, *field, unit);
        return;
    }
    if (vkCode == vk::Back) {
        backspaceIn(*field, s.down[vk::Control]);
        return;
    }
    if (const char16_t ch = characterOf(s, vkCode)) {
        typeInto(s, *field, ch);
    } else if (s.down[vk::Control] && !s.down[vk::Menu] && vkCode >= 'A' && vkCode <= 'Z') {
        // Ctrl+letter is a command to the application (select all, new
        // file...), never text; Ctrl+Alt is AltGr, which the layout answers.
        field->shortcuts += static_cast<char16_t>(vkCode);
    }
}

} // namespace

void deliverInput(const KeyInput& record) {
    auto& s = system();
    const bool up = (record.flags & keyevent::KeyUp) != 0;

    std::uint32_t vkCode = record.vk;
    std::uint32_t scan = record.scan;
    std::uint32_t scanKey = 0; // 0x100 + scan code, for IMEs that listen to scan codes
    if ((record.flags & keyevent::Unicode) != 0) {
        vkCode = VkPacket;
    } else if ((record.flags & keyevent::ScanCode) != 0) {
        const std::uint16_t prefixed = static_cast<std::uint16_t>(
            (record.flags & keyevent::ExtendedKey) ? 0xE000 | record.scan : record.scan);
        vkCode = usVirtualKey(prefixed, true);
        scanKey = 0x100 + record.scan;
    } else if (scan == 0) {
        scan = usScanCode(vkCode) & 0xFF;
    }
    deliverKey(s, vkCode, scan, scanKey, static_cast<char16_t>(record.scan), up,
               LowLevelKeyInjected, record.extraInfo);
}

void deliverHardwareKey(std::uint8_t vk, bool up) {
    const std::uint16_t scan = usScanCode(vk);
    deliverKey(system(), vk, scan & 0xFF, 0x100u + (scan & 0xFF), 0, up, 0, 0);
}

} // namespace tavelio::fake

namespace tavelio::platform {

std::uint32_t sendInput(const KeyInput* records, std::uint32_t count) {
    auto& s = fake::system();
    s.batches.emplace_back(records, records + count);
    std::uint32_t accepted = 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (s.acceptLimit && s.acceptedTotal >= *s.acceptLimit) {
            s.lastErrorValue = s.failError;
            if (s.refusesOnce) {
                s.acceptLimit.reset();
            }
            break;
        }
        ++s.acceptedTotal;
        ++accepted;
        fake::deliverInput(records[i]);
    }
    return accepted;
}

} // namespace tavelio::platform
