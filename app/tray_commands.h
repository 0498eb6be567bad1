// What the tray menu offers besides Pause/Resume and Exit: starting at sign-in,
// and opening the settings file and the logs folder.
#pragma once

namespace tavelio {

// True while HKCU's Run value "Tavelio" starts this very exe.
bool startsWithWindows();
// Removes the Run value when it starts this exe, else makes it start this exe.
void toggleStartWithWindows();

// settings.json in the user's editor, with a notice that changes apply at the
// next start.
void openSettingsFile();
// The folder of the running log; only while logging is on.
void openLogsFolder();

} // namespace tavelio
