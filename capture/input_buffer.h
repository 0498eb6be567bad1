// The characters typed into the foreground application since the last
// clearing event: the text a re-input deletes and types again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

enum class LastAction : std::uint32_t { None = 0, Text = 1, Backspace = 2, Cleared = 3 };

class InputBuffer {
public:
    static constexpr std::int32_t MinLength = 100;
    static constexpr std::int32_t MaxLength = 500;
    static constexpr std::int32_t clampLength(std::int32_t requested) {
        return requested < MinLength ? MinLength : (requested > MaxLength ? MaxLength : requested);
    }

    explicit InputBuffer(std::int32_t maxLength) : maxLength_(clampLength(maxLength)) {
        text_.reserve(static_cast<std::size_t>(maxLength_) + 1);
    }

    // Adds a character; a space into an empty buffer is ignored and a second
    // space in a row ends the segment (clears). Drops the oldest character
    // when full and remembers that it did.
    void append(char16_t ch);
    void backspace();
    void clear();
    // Writes the CLEAR_REQUEST line for a clearing event, then clears.
    void requestClear(std::u16string_view reason, std::u16string_view details);

    bool canExecute() const {
        return !truncated_ && !text_.empty() &&
               (last_ == LastAction::Text || last_ == LastAction::Backspace);
    }
    std::int32_t maxLength() const { return maxLength_; }
    const std::u16string& text() const { return text_; }
    bool truncated() const { return truncated_; }
    LastAction last() const { return last_; }

private:
    void logChange(std::u16string_view action, std::u16string_view detail) const;

    std::int32_t maxLength_;
    std::u16string text_;
    LastAction last_ = LastAction::None;
    bool truncated_ = false;
};

std::u16string_view lastActionName(LastAction last);

} // namespace tavelio
