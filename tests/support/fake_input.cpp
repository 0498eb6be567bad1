// SendInput: records every batch, refuses records past acceptLimit, and
// delivers what it accepted: to the keyboard hook (flagged injected, as
// Windows does) and then to the focused window's text, through its IME.
#include "platform/constants.h"
#include "platform/platform.h"
#include "tests/support/fake_layout.h"
#include "tests/support/fake_romaji.h"
#include "tests/support/fake_system.h"

namespace tavelio::fake {

namespace {

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

void typeInto(System& s, Window& w, char16_t ch) {
    ImeState* ime = imeOf(s, w);
    const bool converting = ime != nullptr && ime->open && (ime->conversion & ime::CmodeNative);
    if (!converting) {
        w.text += w.composition; // a closing IME commits what it held
        w.composition.clear();
        w.text += ch;
        return;
    }
    const auto step = convertRomaji(w.composition, ch);
    w.text += step.committed;
    w.composition = step.pending;
}

void backspaceIn(Window& w) {
    if (!w.composition.empty()) {
        w.composition.pop_back();
    } else if (!w.text.empty()) {
        w.text.pop_back();
    }
}

} // namespace

void deliverInput(const KeyInput& record) {
    auto& s = system();
    const bool up = (record.flags & keyevent::KeyUp) != 0;
    const bool unicode = (record.flags & keyevent::Unicode) != 0;

    std::uint32_t vkCode = record.vk;
    std::uint32_t scan = record.scan;
    std::uint32_t scanKey = 0; // 0x100 + scan code, for IMEs that listen to scan codes
    if (unicode) {
        vkCode = 0xE7; // VK_PACKET
    } else if ((record.flags & keyevent::ScanCode) != 0) {
        const std::uint16_t prefixed = static_cast<std::uint16_t>(
            (record.flags & keyevent::ExtendedKey) ? 0xE000 | record.scan : record.scan);
        vkCode = usVirtualKey(prefixed);
        scanKey = 0x100 + record.scan;
    } else if (scan == 0) {
        scan = usScanCode(vkCode) & 0xFF;
    }

    if (!unicode && vkCode != 0 && vkCode < 256) {
        if (up) {
            s.release(static_cast<std::uint8_t>(vkCode));
        } else {
            s.press(static_cast<std::uint8_t>(vkCode));
        }
    }

    if (s.keyboardHook) {
        HookKeyEvent event;
        event.message = up ? msg::KeyUp : msg::KeyDown;
        event.vkCode = vkCode;
        event.scanCode = scan;
        event.flags = LowLevelKeyInjected | (up ? 0x80u : 0u);
        event.extraInfo = record.extraInfo;
        if (s.keyboardHook(event)) {
            return;
        }
    }
    if (up) {
        return;
    }

    Window* field = focusedField(s);
    if (field == nullptr) {
        return;
    }
    if (ImeState* ime = imeOf(s, *field)) {
        for (const auto key : ime->switchOnKeys) {
            if (key == vkCode || (scanKey != 0 && key == scanKey)) {
                ime->open = true;
                ime->conversion |= ime::CmodeNative;
                return;
            }
        }
    }
    if (unicode) {
        typeInto(s, *field, static_cast<char16_t>(record.scan));
        return;
    }
    if (vkCode == vk::Back) {
        backspaceIn(*field);
        return;
    }
    const bool ctrl = s.down[vk::Control] || s.down[vk::Menu];
    const char16_t ch =
        usCharacter(vkCode, s.down[vk::Shift], s.toggled[vk::Capital], s.toggled[vk::NumLock]);
    if (!ctrl && ch >= 0x20 && ch != 0x7F) {
        typeInto(s, *field, ch);
    }
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
            break;
        }
        ++s.acceptedTotal;
        ++accepted;
        fake::deliverInput(records[i]);
    }
    return accepted;
}

} // namespace tavelio::platform
