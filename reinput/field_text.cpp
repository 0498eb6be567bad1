#include "reinput/field_text.h"

#include "capture/clear_triggers.h"
#include "capture/desktop_facts.h"
#include "capture/romaji_gate.h"
#include "platform/constants.h"

#include <algorithm>
#include <array>

namespace tavelio {

namespace {

// A line longer than this before the caret is not read at all.
constexpr std::size_t MaxLineRead = 4096;

struct Asked {
    bool answered = false;
    std::uintptr_t value = 0;
};

Asked ask(platform::WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
          std::intptr_t lParam, std::uint32_t timeoutMs) {
    Asked asked;
    asked.answered =
        platform::sendMessageTimeout(window, message, wParam, lParam, ime::SmtoAbortIfHung,
                                     timeoutMs, &asked.value) != 0;
    return asked;
}

bool endsWithIgnoringCase(std::u16string_view text, std::u16string_view tail) {
    return text.size() >= tail.size() &&
           equalsIgnoringAsciiCase(text.substr(text.size() - tail.size()), tail);
}

// Edit and RichEdit controls, by their own messages across processes: the
// caret's line alone, never the whole document.
FieldReading readEditField(platform::WindowHandle focus, std::size_t limit,
                           std::uint32_t timeoutMs) {
    FieldReading reading;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    const auto busy = [&reading] {
        reading.state = FieldReading::State::busy;
        return reading;
    };
    if (!ask(focus, msg::EmGetSel, reinterpret_cast<std::uintptr_t>(&start),
             reinterpret_cast<std::intptr_t>(&end), timeoutMs)
             .answered) {
        return busy();
    }
    if (start > end) {
        std::swap(start, end);
    }
    const Asked line = ask(focus, msg::EmLineFromChar, end, 0, timeoutMs);
    const Asked lineFirst =
        line.answered ? ask(focus, msg::EmLineIndex, line.value, 0, timeoutMs) : Asked{};
    if (!lineFirst.answered) {
        return busy();
    }
    const auto first = static_cast<std::uint32_t>(lineFirst.value);
    if (first > end || end - first > MaxLineRead) {
        return reading; // no line to go by, or one too long to read
    }
    // EM_GETLINE's buffer says its size in its first unit. Wine carries
    // that many bytes across processes, not characters: twice the room
    // brings the whole part before the caret there, and Windows copies a
    // little more of the line, which is cut off below.
    std::array<char16_t, 2 * MaxLineRead + 1> buffer{};
    buffer[0] = static_cast<char16_t>(2 * (end - first));
    const Asked copied = end > first
                             ? ask(focus, msg::EmGetLine, line.value,
                                   reinterpret_cast<std::intptr_t>(buffer.data()), timeoutMs)
                             : Asked{true, 0};
    if (!copied.answered) {
        return busy();
    }
    std::u16string_view upToCaret(buffer.data(), std::min<std::size_t>(copied.value, end - first));
    // No edit control holds a NUL: one means the copy came short, and a
    // line that does not reach the caret says nothing of what is before it.
    upToCaret = upToCaret.substr(0, upToCaret.find(u'\0'));
    if (upToCaret.size() != end - first) {
        return reading;
    }
    reading.state = FieldReading::State::read;
    reading.beforeCaret =
        std::u16string(upToCaret.substr(upToCaret.size() > limit ? upToCaret.size() - limit : 0));
    if (start != end) {
        const Asked startLine = ask(focus, msg::EmLineFromChar, start, 0, timeoutMs);
        if (!startLine.answered) {
            return busy();
        }
        reading.selectionTooLong = startLine.value != line.value || end - start > limit;
        if (!reading.selectionTooLong) {
            reading.selection = std::u16string(upToCaret.substr(start - first));
        }
    }
    return reading;
}

constexpr bool isLineBreak(char16_t c) {
    // U+FFFC stands for an embedded object (an image, a control) in a
    // browser's or a word processor's text: nothing to type over either.
    return c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' || c == 0x85 || c == 0x2028 ||
           c == 0x2029 || c == 0xFFFC;
}

// A UI Automation text (browsers, Office, WinUI, WPF, Electron): a range
// of at most one more than the limit before the caret, and the selection.
FieldReading readAutomationField(platform::WindowHandle focus, std::size_t limit,
                                 std::uint32_t timeoutMs) {
    FieldReading reading;
    const platform::CaretText text = platform::textAroundCaret(focus, limit + 1, timeoutMs);
    if (text.state != platform::CaretText::State::read) {
        reading.state = text.state == platform::CaretText::State::busy
                            ? FieldReading::State::busy
                            : FieldReading::State::unreadable;
        return reading;
    }
    reading.state = FieldReading::State::read;
    std::u16string_view line = text.beforeCaret;
    if (const auto last = std::ranges::find_if(line.rbegin(), line.rend(), isLineBreak);
        last != line.rend()) {
        line = line.substr(static_cast<std::size_t>(line.rend() - last));
    }
    reading.beforeCaret =
        std::u16string(line.substr(line.size() > limit ? line.size() - limit : 0));
    if (!text.selection.empty() || text.severalSelections) {
        reading.selectionTooLong = text.severalSelections || text.selection.size() > limit ||
                                   std::ranges::any_of(text.selection, isLineBreak);
        if (!reading.selectionTooLong) {
            reading.selection = text.selection;
        }
    }
    return reading;
}

} // namespace

FieldReading readField(platform::WindowHandle focus, std::size_t limit, std::uint32_t timeoutMs) {
    switch (fieldKindOf(focus)) {
    case FieldKind::edit:
        return readEditField(focus, limit, timeoutMs);
    case FieldKind::automation:
        return readAutomationField(focus, limit, timeoutMs);
    case FieldKind::none:
        break;
    }
    return {};
}

std::u16string_view sourceName(FieldPlan::Source source) {
    switch (source) {
    case FieldPlan::Source::record:
        return u"record";
    case FieldPlan::Source::field:
        return u"field";
    case FieldPlan::Source::selection:
        return u"selection";
    case FieldPlan::Source::nothing:
        return u"nothing";
    }
    return u"nothing";
}

FieldPlan planRun(std::u16string_view record, bool recordUsable, const FieldReading& field,
                  const Settings& settings, bool forField) {
    FieldPlan plan;
    const auto nothing = [&plan](std::u16string_view reason, bool giveBack) {
        plan.source = FieldPlan::Source::nothing;
        plan.reason = reason;
        plan.giveBack = giveBack;
        return plan;
    };
    // The part the record's own decision gives.
    std::u16string_view recorded;
    if (recordUsable) {
        const RomajiPart part =
            settings.romajiOnly ? findRomajiPart(record) : RomajiPart{0, record.size(), 0};
        recorded = settings.romajiOnly ? part.of(record) : record;
    }
    // Where the field cannot tell, the hook took the press for the record
    // (or this is a request that came twice): nothing goes back, unless it
    // was taken for the field.
    if (!field.read()) {
        if (recorded.empty()) {
            return nothing(recordUsable ? u"no_romaji" : u"not_ready", forField);
        }
        plan.source = FieldPlan::Source::record;
        plan.text = std::u16string(recorded);
        plan.deleteLen = recorded.size();
        return plan;
    }
    if (field.selectionTooLong) {
        return nothing(u"selection_too_long", false);
    }
    if (!field.selection.empty()) {
        const RomajiPart part = findRomajiPart(field.selection);
        const bool romaji = !settings.romajiOnly || (part.convert() && part.keepLen == 0);
        if (!romaji) {
            return nothing(u"selection_not_romaji", true);
        }
        plan.source = FieldPlan::Source::selection;
        plan.text = field.selection;
        return plan;
    }
    if (!recorded.empty() && endsWithIgnoringCase(field.beforeCaret, recorded)) {
        plan.source = FieldPlan::Source::record;
        plan.text = std::u16string(recorded);
        plan.deleteLen = recorded.size();
        return plan;
    }
    const RomajiPart part = findRomajiPart(field.beforeCaret);
    if (!part.convert()) {
        return nothing(u"no_romaji", true);
    }
    plan.source = FieldPlan::Source::field;
    plan.text = std::u16string(part.of(field.beforeCaret));
    plan.deleteLen = plan.text.size();
    return plan;
}

} // namespace tavelio
