// The fake IME's romaji conversion: enough of a Japanese IME for the tests.
#pragma once

#include <string>

namespace tavelio::fake {

struct RomajiStep {
    std::u16string committed; // kana (or text) that leaves the composition
    std::u16string pending;   // romaji still waiting for more letters
};

// Adds one typed character to the pending romaji and converts what is complete.
RomajiStep convertRomaji(const std::u16string& pending, char16_t typed);

} // namespace tavelio::fake
