// Reads settings.json. The readers are deliberately not a JSON parser: each
// one finds the first "key" anywhere in the text and takes the first thing
// after it that looks like a value of its type. Whatever does not look right
// keeps the fallback.
#pragma once

#include "settings/settings.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavelio {

// Creates the file with the defaults when it is missing, then reads it. Never
// fails: anything unreadable keeps the default of the field concerned.
Settings loadSettings();

// File bytes to working text: UTF-8 when the whole file is valid UTF-8 (an
// ASCII file reads the same either way), otherwise each byte becomes the
// character with the same code. No BOM handling; CR LF becomes LF.
std::u16string decodeSettingsText(std::string_view bytes);

// Every key read from the working text over the defaults, bufferMaxLength clamped.
Settings settingsFromText(std::u16string_view text);

bool readBool(std::u16string_view text, std::u16string_view key, bool fallback);
// Saturates at the 32-bit limits, as the Windows C runtime's conversion does.
std::int32_t readInt(std::u16string_view text, std::u16string_view key, std::int32_t fallback);
std::u16string readString(std::u16string_view text, std::u16string_view key,
                          std::u16string_view fallback);
std::vector<std::u16string> readStringList(std::u16string_view text, std::u16string_view key,
                                           const std::vector<std::u16string>& fallback);

} // namespace tavelio
