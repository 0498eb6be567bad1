#include "reinput/text_reinput.h"

#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "reinput/synthetic_input.h"

#include <cstdint>
#include <string>

namespace tavelio {

namespace {

constexpr std::uint32_t LeadInPauseMs = 48;
constexpr std::uint32_t ShortTextPauseMs = 8;
constexpr std::uint32_t LongTextPauseMs = 12;
constexpr std::size_t LongTextLength = 12;
constexpr std::size_t LeadInCharacters = 2;

// VkKeyScanEx's shift-state bits and the left-hand key pressed for each.
constexpr struct {
    std::uint8_t bit, vk;
} shiftKeys[] = {{0x01, vk::LShift}, {0x02, vk::LControl}, {0x04, vk::LMenu}};

void addUnicodePacket(InputBatch& batch, char16_t ch) {
    batch.add(unicodeEvent(ch, false));
    batch.add(unicodeEvent(ch, true));
}

// The key strokes that produce ch on the layout: modifiers, the key, the
// modifiers again in reverse order.
void addKeyStrokes(InputBatch& batch, char16_t ch, std::uint8_t vk, std::uint8_t shiftState,
                   platform::KeyboardLayout layout) {
    std::uint32_t modifierScans[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
        if ((shiftState & shiftKeys[i].bit) != 0) {
            modifierScans[i] = mapToScanCode(shiftKeys[i].vk, layout);
            if (modifierScans[i] != 0) {
                batch.add(scanCodeEvent(modifierScans[i], false));
            }
        }
    }
    bool released = false;
    if (const auto press = mapToScanCode(vk, layout); press != 0) {
        batch.add(scanCodeEvent(press, false));
        if (const auto release = mapToScanCode(vk, layout); release != 0) {
            batch.add(scanCodeEvent(release, true));
            released = true;
        }
    }
    if (!released) {
        addUnicodePacket(batch, ch);
    }
    for (std::size_t i = 3; i-- > 0;) {
        if ((shiftState & shiftKeys[i].bit) != 0 && modifierScans[i] != 0) {
            batch.add(scanCodeEvent(modifierScans[i], true));
        }
    }
}

} // namespace

bool sendText(std::u16string_view text, platform::WindowHandle target, const RunWatch* run) {
    const auto layout = foregroundLayout();
    // Caps Lock turns the letters' case around: Shift goes with the small
    // ones then, so the application gets the case that was recorded.
    const bool capsLock = platform::isKeyToggled(vk::Capital);
    logOutput(u"SEND_TEXT_BEGIN",
              [&](LogDetails& d) { d.add(u"len", text.size()).quoted(u"text", text); });
    const std::uint32_t stepPause =
        text.size() < LongTextLength ? ShortTextPauseMs : LongTextPauseMs;
    InputBatch batch;
    batch.reserve(8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i];
        const std::size_t index = i + 1;
        const bool leadIn = index <= LeadInCharacters;
        const auto character = [&](LogDetails& d) {
            d.add(u"index", index).quoted(u"ch", {&ch, 1});
        };
        if (!stillInFront(target)) {
            logOutput(u"SEND_TEXT_FAIL", [&](LogDetails& d) {
                d.add(character)
                    .add(u"reason", u"foreground_changed")
                    .add(describeTargetChange(target));
            });
            return false;
        }
        // With Ctrl or Alt down a letter is a command to the application.
        if (const auto why = runInterruption(run); !why.empty()) {
            logOutput(u"SEND_TEXT_FAIL", [&](LogDetails& d) {
                d.add(character).add(u"reason", why).add(describeModifierState());
            });
            return false;
        }
        if (leadIn) {
            logOutput(u"SEND_TEXT_LEADIN",
                      [&](LogDetails& d) { d.add(character).add(u"delayMs", LeadInPauseMs); });
        }
        const std::int16_t scan = platform::vkKeyScan(ch, layout);
        if (scan == -1) {
            addUnicodePacket(batch, ch);
        } else {
            const auto value = static_cast<std::uint16_t>(scan);
            auto shiftState = static_cast<std::uint8_t>(value >> 8);
            if (capsLock && ((ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z'))) {
                shiftState ^= 0x01;
            }
            addKeyStrokes(batch, ch, static_cast<std::uint8_t>(value & 0xFF), shiftState, layout);
        }
        if (!sendInputBatch(batch).ok()) {
            if (scan != -1) { // a refused Unicode packet has only SENDINPUT_FAIL
                logOutput(u"SEND_TEXT_FAIL", character);
            }
            return false;
        }
        platform::sleepMs(leadIn ? LeadInPauseMs : stepPause);
    }
    logOutput(u"SEND_TEXT_DONE", [&](LogDetails& d) { d.add(u"len", text.size()); });
    return true;
}

} // namespace tavelio
