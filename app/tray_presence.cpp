#include "app/tray_presence.h"

namespace tavelio {

namespace {

bool offer(TrayPresence& tray) {
    tray.shown = platform::notifyTrayIcon(platform::TrayCall::add, tray.data) ||
                 platform::notifyTrayIcon(platform::TrayCall::modify, tray.data);
    // After the modify as well: an add that timed out may have taken effect,
    // and the shell then holds the icon on the old protocol.
    tray.version4 =
        tray.shown && platform::notifyTrayIcon(platform::TrayCall::setVersion, tray.data);
    return tray.shown;
}

} // namespace

void showTrayIcon(TrayPresence& tray) noexcept {
    tray.retrying = !offer(tray);
    tray.retryUntil = platform::tickCount() + TrayRetryPeriodMs;
}

void retryTrayIcon(TrayPresence& tray) noexcept {
    if (!tray.retrying) {
        return;
    }
    const bool over = static_cast<std::int32_t>(platform::tickCount() - tray.retryUntil) >= 0;
    tray.retrying = !offer(tray) && !over;
}

void updateTrayIcon(TrayPresence& tray) noexcept {
    if (tray.shown) {
        platform::notifyTrayIcon(platform::TrayCall::modify, tray.data);
    }
}

void removeTrayIcon(TrayPresence& tray) noexcept {
    platform::notifyTrayIcon(platform::TrayCall::remove, tray.data);
    tray.shown = false;
    tray.version4 = false;
    tray.retrying = false;
}

} // namespace tavelio
