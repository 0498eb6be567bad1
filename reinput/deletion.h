// Deleting the recorded text in the foreground application: one synthetic
// Backspace per UTF-16 code unit, each followed by a fixed pause.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavelio {

// Backspaces for every code unit of text (a surrogate pair takes two), then a
// 24 ms pause. True at once for an empty text.
bool sendDeletion(std::u16string_view text);

// count Backspace presses, each released at once and followed by 12 ms. Stops
// at the first step the system refuses.
bool sendBackspaces(std::uint64_t count);

} // namespace tavelio
