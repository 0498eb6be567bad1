// The settings window: every option of settings.json in a dialog, saved by OK
// or Apply and put to work at once. One at a time; modeless, on the GUI thread.
#pragma once

#include <windows.h>

namespace tavelio {

// Brings the open window to the front, or opens it from the file.
void openSettingsWindow();

// The open window, or none: the message loop gives it its keys (Tab, Enter, Esc).
HWND settingsWindow();

} // namespace tavelio
