#include "reinput/text_reinput.h"

#include "log/diagnostic_log.h"
#include "log/log_format.h"
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
struct ShiftKey {
    std::uint8_t bit;
    std::uint8_t vk;
};
constexpr ShiftKey shiftKeys[] = {{0x01, vk::LShift}, {0x02, vk::LControl}, {0x04, vk::LMenu}};

void writeOutput(std::u16string_view event, std::u16string_view details) {
    diagnosticLog().write(LogChannel::Output, event, details);
}

std::u16string quotedCharacter(char16_t ch) {
    return u"ch=\"" + escapeLogText(std::u16string_view(&ch, 1)) + u"\"";
}

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

bool sendText(std::u16string_view text, platform::WindowHandle target) {
    auto& log = diagnosticLog();
    const auto layout = foregroundLayout();
    if (log.isActive()) {
        writeOutput(u"SEND_TEXT_BEGIN",
                    u"len=" + decimal(text.size()) + u" text=\"" + escapeLogText(text) + u"\"");
    }
    const std::uint32_t stepPause =
        text.size() < LongTextLength ? ShortTextPauseMs : LongTextPauseMs;
    InputBatch batch;
    batch.reserve(8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t ch = text[i];
        const std::size_t index = i + 1;
        const bool leadIn = index <= LeadInCharacters;
        if (!stillInFront(target)) {
            if (log.isActive()) {
                writeOutput(u"SEND_TEXT_FAIL",
                            u"index=" + decimal(index) + u" " + quotedCharacter(ch) +
                                u" reason=foreground_changed " + describeTargetChange(target));
            }
            return false;
        }
        if (leadIn && log.isActive()) {
            writeOutput(u"SEND_TEXT_LEADIN", u"index=" + decimal(index) + u" " +
                                                 quotedCharacter(ch) + u" delayMs=" +
                                                 decimal(LeadInPauseMs));
        }
        const std::int16_t scan = platform::vkKeyScan(ch, layout);
        if (scan == -1) {
            addUnicodePacket(batch, ch);
            if (!sendInputBatch(batch)) {
                return false;
            }
        } else {
            const auto value = static_cast<std::uint16_t>(scan);
            addKeyStrokes(batch, ch, static_cast<std::uint8_t>(value & 0xFF),
                          static_cast<std::uint8_t>(value >> 8), layout);
            if (!sendInputBatch(batch)) {
                if (log.isActive()) {
                    writeOutput(u"SEND_TEXT_FAIL",
                                u"index=" + decimal(index) + u" " + quotedCharacter(ch));
                }
                return false;
            }
        }
        platform::sleepMs(leadIn ? LeadInPauseMs : stepPause);
    }
    if (log.isActive()) {
        writeOutput(u"SEND_TEXT_DONE", u"len=" + decimal(text.size()));
    }
    return true;
}

} // namespace tavelio
