// Whether the shell shows the program's notification icon, and getting it
// there. Explorer forgets every icon when it restarts (and says so with the
// registered TaskbarCreated message), and a program started at sign-in may
// come before the notification area does. Portable: the hidden window's
// messages and its retry timer call these.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace tavelio {

// Refused offers of the icon are repeated this often, for this long.
inline constexpr std::uint32_t TrayRetryIntervalMs = 2000;
inline constexpr std::uint32_t TrayRetryPeriodMs = 60000;

struct TrayPresence {
    platform::TrayIconData data; // what the shell is given, tooltip included
    bool shown = false;          // the shell took it
    // It took version 4 too: named events and an anchor point, so that the
    // keyboard reaches the menu (Win+B, Enter, Shift+F10). Without it the
    // shell keeps the old protocol, which the hidden window still answers.
    bool version4 = false;
    bool retrying = false; // refused: offered again on the retry timer
    std::uint32_t retryUntil = 0;
};

// Offers the icon: NIM_ADD, or NIM_MODIFY when the shell still shows it. When
// the shell refuses, `retrying` is set until a minute from now.
void showTrayIcon(TrayPresence& tray) noexcept;
// One offer from the retry timer; `retrying` ends when the shell took it or
// the minute is over.
void retryTrayIcon(TrayPresence& tray) noexcept;
// The data changed (the tooltip after a pause): the shell gets it when it
// shows the icon; a later offer carries it otherwise.
void updateTrayIcon(TrayPresence& tray) noexcept;
// NIM_DELETE; no more offers.
void removeTrayIcon(TrayPresence& tray) noexcept;

} // namespace tavelio
