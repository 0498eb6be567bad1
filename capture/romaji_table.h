// Romaji to hiragana as a Microsoft-style Japanese IME converts it while
// typing: one reading for the whole program. The hotkey's gate asks whether a
// word reads as romaji (readsAsRomaji, romaji_gate.h); the test IME and the
// fake system's field convert with it.
#pragma once

#include <string>
#include <string_view>

namespace tavelio {

struct RomajiStep {
    std::u16string
        committed; // text that leaves the composition (kana, or letters that are no romaji)
    std::u16string pending; // romaji still waiting for more letters (lower case)
};

// The keys the IME takes into a composition: a to z in either case.
bool isRomajiLetter(char16_t c);

// Adds one typed character to the pending romaji, as the IME reads it. A letter
// extends it and commits whatever is complete; any other character ends the
// composition and is committed after it.
RomajiStep typeRomaji(std::u16string_view pending, char16_t typed);

// What the pending romaji becomes when the composition ends: a lone n (or nn) is ん, anything else
// stays as it was typed.
std::u16string finishRomaji(std::u16string_view pending);

// How the pending romaji is shown while composing: as typed, except that nn already reads ん.
std::u16string displayRomaji(std::u16string_view pending);

} // namespace tavelio
