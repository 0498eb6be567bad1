// Which part of the recorded text is Japanese typed as romaji: the only text
// the hotkey converts while romajiOnly is on.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavelio {

// The tail of a recorded text that reads as romaji. Units are UTF-16.
struct RomajiPart {
    std::size_t keepLen = 0;        // units before the part: they stay as they are
    std::size_t romajiLen = 0;      // the part without its trailing spaces; 0: nothing to convert
    std::size_t trailingSpaces = 0; // the U+0020 after the text, set aside
    bool convert() const { return romajiLen > 0; }
    // The part with its trailing spaces: what a run deletes and types again.
    std::u16string_view of(std::u16string_view text) const {
        return convert() ? text.substr(keepLen, romajiLen + trailingSpaces) : std::u16string_view();
    }
};

// The Japanese at the end (trailing spaces set aside): among the last words
// that read as romaji or are neutral, from the first romaji word that is not
// common English, or from the word before it when Japanese uses that word more
// than English does. Allocates nothing.
RomajiPart findRomajiPart(std::u16string_view text) noexcept;

// A word (no U+0020) that an IME with romaji input turns wholly into kana,
// leaving out the spellings English is full of (l-small kana, a doubled l,
// ca ci cu ce co, cy, the q row). Capitals never read as romaji. Defined
// with the romaji table.
bool readsAsRomaji(std::u16string_view word) noexcept;

} // namespace tavelio
