// The few seam calls the settings code makes, answered from memory: the file
// always exists and holds whatever the fuzzer put there.
#pragma once

#include <string_view>

namespace tavelio::fuzz {

void setSettingsFileBytes(std::string_view bytes);
// Whether anything tried to write the file (it must not: it exists).
bool settingsFileWritten();

} // namespace tavelio::fuzz
