// The characters typed into the foreground application since the last
// clearing event: the text a re-input deletes and types again.
#pragma once

#include "log/diagnostic_log.h"
#include "settings/settings.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

enum class LastAction : std::uint32_t { None = 0, Text = 1, Backspace = 2, Cleared = 3 };

class InputBuffer {
public:
    explicit InputBuffer(std::int32_t maxLength) : maxLength_(clampBufferMaxLength(maxLength)) {
        text_.reserve(static_cast<std::size_t>(maxLength_) + 1);
    }

    // Adds a character; a space into an empty buffer is ignored and a second
    // space in a row ends the segment (clears). Drops the oldest character
    // when full and remembers that it did.
    void append(char16_t ch);
    void backspace() noexcept;
    void clear() noexcept;
    // Writes the CLEAR_REQUEST line for a clearing event, then clears. The
    // details are what the log's write takes.
    template <typename Details>
    void requestClear(std::u16string_view reason, Details&& details) noexcept {
        logInput(u"CLEAR_REQUEST", [&](LogDetails& d) { d.add(u"reason", reason).add(details); });
        clear();
    }

    // Keys typed while the IME's state was not yet known: recorded, but
    // only the next reading says whether they reached the field as typed.
    // Marks the character just appended; a clear lets go of it.
    void holdBackLast() noexcept {
        if (!text_.empty() && heldFrom_ > text_.size() - 1) {
            heldFrom_ = text_.size() - 1;
        }
    }
    void confirmHeld() noexcept { heldFrom_ = NoneHeld; }
    // While quiet, changes write no line: keys typed into a program not yet
    // known to take part (it may be an excluded password manager).
    void setQuiet(bool quiet) noexcept { quiet_ = quiet; }
    bool quiet() const noexcept { return quiet_; }
    bool heldBack() const noexcept { return heldFrom_ != NoneHeld; }

    bool canExecute() const {
        return !truncated_ && !text_.empty() &&
               (last_ == LastAction::Text || last_ == LastAction::Backspace);
    }
    std::int32_t maxLength() const { return maxLength_; }
    const std::u16string& text() const { return text_; }
    bool truncated() const { return truncated_; }
    LastAction last() const { return last_; }
    // How many times the record was cleared: a copy taken elsewhere tells a
    // clear between two looks.
    std::uint32_t clears() const { return clears_; }

private:
    // The BUFFER line after a change; `appended` is the character an append stored.
    void logChange(std::u16string_view action, std::u16string_view appended = {}) const noexcept;

    std::int32_t maxLength_;
    std::u16string text_;
    LastAction last_ = LastAction::None;
    bool truncated_ = false;
    std::uint32_t clears_ = 0;
    static constexpr std::size_t NoneHeld = static_cast<std::size_t>(-1);
    std::size_t heldFrom_ = NoneHeld;
    bool quiet_ = false;
};

std::u16string_view lastActionName(LastAction last);

} // namespace tavelio
