// The texts the user reads: Japanese when the user's Windows speaks Japanese,
// English otherwise, from the program's string tables.
#pragma once

#include <windows.h>

#include <string>

namespace tavelio {

// The language of the texts and the settings window: Japanese or US English.
LANGID uiLanguage();

// The text with that IDS_ number; empty only if the resource is missing.
std::wstring uiText(UINT id);

} // namespace tavelio
