// What the field in front really holds around its caret, where it can be
// read, and what a run then converts: a selection, the romaji before the
// caret, or the record. Nothing here touches the clipboard.
#pragma once

#include "platform/platform.h"
#include "settings/settings.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

struct FieldReading {
    enum class State {
        unreadable, // no control that tells its text (a console, a game)
        busy,       // it did not answer in time
        read,
    };
    State state = State::unreadable;
    std::u16string beforeCaret;    // the caret's line up to the caret: its last `limit` units
    std::u16string selection;      // empty: nothing selected
    bool selectionTooLong = false; // longer than the limit, or over a line break

    bool read() const { return state == State::read; }
    friend bool operator==(const FieldReading&, const FieldReading&) = default;
};

// Edit and RichEdit controls by their own messages across processes, any
// other text by UI Automation: the caret's line alone, never the whole
// document, and each question bounded by timeoutMs.
FieldReading readField(platform::WindowHandle focus, std::size_t limit, std::uint32_t timeoutMs);

// What a run does.
struct FieldPlan {
    enum class Source {
        record,    // the record says what is typed and deleted (the field agrees, or cannot say)
        field,     // the field decides: its romaji before the caret
        selection, // the selection is typed over: nothing to delete
        nothing,   // nothing to convert
    };
    Source source = Source::nothing;
    std::u16string text;        // what is typed again, its trailing spaces included
    std::size_t deleteLen = 0;  // what is deleted first
    std::u16string_view reason; // for nothing: why
    bool giveBack = false;      // for nothing: the application gets its Ctrl+Backspace
};

std::u16string_view sourceName(FieldPlan::Source source);

// The record (usable or not) and the field's reading combined. The field
// decides what is deleted: where the record's part matches the end of the
// text before the caret, letter case aside (AutoCorrect's capital), the
// record's keys are typed over as many characters of the field; where it
// does not, or there is no usable record, the gate reads the field itself.
// forField: the hook took the press for the field alone, so a field that
// cannot be read after all gives it back.
FieldPlan planRun(std::u16string_view record, bool recordUsable, const FieldReading& field,
                  const Settings& settings, bool forField = false);

} // namespace tavelio
