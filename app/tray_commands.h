// What the tray menu offers besides Pause/Resume and Exit: starting at sign-in,
// and opening the settings file and the logs folder.
#pragma once

#include <cstdint>

namespace tavelio {

// True while HKCU's Run value "Tavelio" starts this very exe.
bool startsWithWindows();

// What a change of the start at sign-in did.
struct StartupChange {
    bool starts = false;     // what was asked for
    std::uint32_t error = 0; // 0 once startsWithWindows says so, else the Windows error
};
// Removes the Run value when it starts this exe, else makes it start this exe.
StartupChange toggleStartWithWindows();

// settings.json in the user's editor, with a notice that changes apply at the
// next start.
void openSettingsFile();
// The folder of the running log; only while logging is on.
void openLogsFolder();

} // namespace tavelio
