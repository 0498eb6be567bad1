// Where settings.json lives, the text written into it, and its one-time creation.
#pragma once

#include "settings/settings.h"

#include <string>
#include <string_view>

namespace tavelio {

// <roaming application data>\Tavelio\settings.json, or the bare file name
// (current directory) when the roaming folder cannot be found.
std::u16string settingsFilePath();

// The complete file text for a record, LF line breaks.
std::u16string settingsToJson(const Settings& settings);

// A backslash before every backslash and every double quote; nothing else changes.
std::u16string escapeJsonString(std::u16string_view text);

// The bytes on disk for a file text: one byte per character, each LF written as
// CR LF. A character above U+00FF has no byte and is written as '?'.
std::string encodeSettingsText(std::u16string_view text);

// Writes the record to settingsFilePath when nothing exists there yet. An
// existing file, folder or link is never touched, and neither is a path whose
// existence cannot be determined. Failures are silent.
void ensureSettingsFile(const Settings& settings);

} // namespace tavelio
