// The program's message target: execute requests, the tray icon and its menu,
// and, in its destruction, the orderly shutdown.
#pragma once

#include <windows.h>

#include "settings/settings.h"

namespace tavelio {

inline constexpr wchar_t HiddenWindowClass[] = L"TavelioHiddenWindow";
inline constexpr wchar_t WindowTitle[] = L"Tavelio";

UINT const TrayCallbackMessage = WM_APP + 1;
UINT const TrayIconId = 1;
UINT const IDM_STATUS = 1001;
UINT const IDM_TOGGLE = 1002;
UINT const IDM_EXIT = 1003;
UINT const IDM_START_WITH_WINDOWS = 1004;
UINT const IDM_OPEN_SETTINGS = 1005;
UINT const IDM_OPEN_LOGS = 1006;
UINT const IDM_SETTINGS = 1007;
UINT_PTR const TrayRetryTimerId = 3;
UINT_PTR const TrayClickTimerId = 4;

// The application's icon at a system size (SM_CXICON, SM_CXSMICON): width and
// height alike.
HICON loadAppIcon(HINSTANCE instance, int sizeMetric);

// Clears AppState's trayIcon and fills it for the current enabled and logging
// state, loading a new icon. Talks to nobody: callers follow with
// offerTrayIcon or updateTrayIcon.
void buildTrayIconData();

// Gives the shell the icon; when it refuses, offers it again on a timer for a
// minute (a start at sign-in may come before the notification area).
void offerTrayIcon();

// A record the settings window saved: active at once, or once the run under
// way has ended; the tray's tooltip follows the log.
void useSavedSettings(const Settings& next);

LRESULT CALLBACK hiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace tavelio
