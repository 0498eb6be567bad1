// Where settings.json lives, the text written into it, and its one-time creation.
#pragma once

#include "settings/settings.h"

#include <cstdint>
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

// The bytes on disk for a file text: UTF-8, each LF written as CR LF. An
// unpaired surrogate has no UTF-8 and is written as U+FFFD.
std::string encodeSettingsText(std::u16string_view text);

// What saving the record did.
struct SettingsSave {
    std::uint32_t error = 0; // the Windows error of the write; 0 once written
    // The reader would take the text for other values (a backslash, which the
    // writer doubles and the reader keeps): nothing was written.
    bool unfaithful = false;
    std::u16string unfaithfulKey;   // the first such value's key,
    std::u16string unfaithfulValue; // and its text (a list's: the item)
    bool saved() const { return error == 0 && !unfaithful; }
};

// Whether a program name of excludedApps reads back as it was written: the
// reader ends the list at its first ']' and an item at its first '"'.
bool storableProgramName(std::u16string_view name);

// Replaces settings.json with the record's text in one step (the folder made
// as needed): the old file stays whole when it cannot be replaced.
SettingsSave saveSettingsFile(const Settings& settings);

// Writes the record to settingsFilePath when nothing exists there yet. An
// existing file, folder or link is never touched, and neither is a path whose
// existence cannot be determined. Failures are silent.
void ensureSettingsFile(const Settings& settings);

} // namespace tavelio
