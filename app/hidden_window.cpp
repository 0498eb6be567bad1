#include "app/hidden_window.h"

#include "app/app_state.h"
#include "app/tray_commands.h"
#include "app/ui_text.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "reinput/execute_sequence.h"
#include "resources/resource_ids.h"

#include <cwchar>

namespace tavelio {

namespace {

UINT statusTextId(bool enabled) {
    return enabled ? IDS_STATUS_ENABLED : IDS_STATUS_PAUSED;
}

UINT tipTextId(bool enabled, bool logging) {
    if (!logging) {
        return statusTextId(enabled);
    }
    return enabled ? IDS_TIP_ENABLED_LOGGING : IDS_TIP_PAUSED_LOGGING;
}

// The notification area shows small icons at the DPI of its display, the
// primary one, where the hidden window sits too.
HICON loadTrayIcon(bool paused) {
    const AppState& state = appState();
    const UINT dpi = state.hiddenWindow != nullptr ? GetDpiForWindow(state.hiddenWindow) : 0;
    const int size = GetSystemMetricsForDpi(SM_CXSMICON, dpi != 0 ? dpi : GetDpiForSystem());
    return static_cast<HICON>(LoadImageW(state.instanceHandle,
                                         MAKEINTRESOURCEW(paused ? IDI_APP_PAUSED : IDI_APP),
                                         IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void appendItem(HMENU menu, UINT flags, UINT id, UINT text) {
    AppendMenuW(menu, MF_STRING | flags, id, uiText(text).c_str());
}

void showTrayMenu(HWND window) {
    const UniqueHandle<HMENU, DestroyMenu> menu(CreatePopupMenu());
    if (!menu) {
        return;
    }
    const bool enabled = appState().settings.enabled;
    appendItem(menu.get(), MF_DISABLED, IDM_STATUS, statusTextId(enabled));
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    appendItem(menu.get(), 0, IDM_TOGGLE, enabled ? IDS_PAUSE : IDS_RESUME);
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    appendItem(menu.get(), startsWithWindows() ? MF_CHECKED : MF_UNCHECKED, IDM_START_WITH_WINDOWS,
               IDS_START_WITH_WINDOWS);
    appendItem(menu.get(), 0, IDM_OPEN_SETTINGS, IDS_OPEN_SETTINGS);
    if (diagnosticLog().isActive()) {
        appendItem(menu.get(), 0, IDM_OPEN_LOGS, IDS_OPEN_LOGS);
    }
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    appendItem(menu.get(), 0, IDM_EXIT, IDS_EXIT);

    POINT cursor{};
    GetCursorPos(&cursor);
    // The window must be foreground before TrackPopupMenu, or the menu never
    // closes when the user clicks elsewhere.
    SetForegroundWindow(window);
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, window, nullptr);
}

void toggleEnabled() {
    AppState& state = appState();
    state.settings.enabled = !state.settings.enabled;
    if (state.inputBuffer) {
        state.inputBuffer->clear();
    }
    UniqueIcon previous(state.trayIcon.takeIcon());
    buildTrayIconData();
    Shell_NotifyIconW(NIM_MODIFY, &state.trayIcon.data);
}

void dropExecuteRequest(WPARAM requestWindow) {
    logOutput(u"EXECUTE_REQUEST_DROPPED", [&](LogDetails& d) {
        d.hex(u"hwnd", static_cast<platform::WindowHandle>(requestWindow));
    });
}

// wParam names the window in front at the hotkey press (0 from a sender that
// names none). Requests that came while this one was queued or running are
// dropped: a held hotkey's auto-repeat posts one per repeat.
void runExecuteRequest(HWND window, WPARAM requestWindow) {
    AppState& state = appState();
    if (state.runWatch.running) {
        dropExecuteRequest(requestWindow);
        return;
    }
    ExecuteContext context{
        state.settings,       state.inputBuffer.get(),
        state.sessionCounter, state.keyFallbackWindow,
        state.runWatch,       static_cast<platform::WindowHandle>(requestWindow)};
    executeReinput(context);
    MSG queued{};
    while (PeekMessageW(&queued, window, ExecuteRequestMessage, ExecuteRequestMessage, PM_REMOVE)) {
        dropExecuteRequest(queued.wParam);
    }
}

void shutDown() {
    AppState& state = appState();
    replaceHookContext(nullptr);
    Shell_NotifyIconW(NIM_DELETE, &state.trayIcon.data);
    UniqueIcon{state.trayIcon.takeIcon()};
    if (state.splashWindow != nullptr) {
        DestroyWindow(state.splashWindow);
    }
    diagnosticLog().stop();
    state.instanceMutex.reset();
    PostQuitMessage(0);
}

} // namespace

HICON loadAppIcon(HINSTANCE instance, int sizeMetric) {
    const int size = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void buildTrayIconData() {
    AppState& state = appState();
    NOTIFYICONDATAW& data = state.trayIcon.data;
    data = NOTIFYICONDATAW{};
    data.cbSize = sizeof(NOTIFYICONDATAW);
    data.hWnd = state.hiddenWindow;
    data.uID = TrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = TrayCallbackMessage;
    data.hIcon = loadTrayIcon(!state.settings.enabled);
    const std::wstring tip = uiText(tipTextId(state.settings.enabled, diagnosticLog().isActive()));
    wcsncpy(data.szTip, tip.c_str(), std::size(data.szTip) - 1);
}

namespace {

LRESULT handleHiddenWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case ExecuteRequestMessage:
        runExecuteRequest(window, wParam);
        return 0;
    case TrayCallbackMessage:
        if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_LBUTTONUP) {
            showTrayMenu(window);
            return 0;
        }
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_TOGGLE:
            toggleEnabled();
            return 0;
        case IDM_EXIT:
            DestroyWindow(window);
            return 0;
        case IDM_START_WITH_WINDOWS:
            toggleStartWithWindows();
            return 0;
        case IDM_OPEN_SETTINGS:
            openSettingsFile();
            return 0;
        case IDM_OPEN_LOGS:
            openLogsFolder();
            return 0;
        default:
            break;
        }
        break;
    case WM_DESTROY:
        shutDown();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

LRESULT CALLBACK hiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The window's one catch: the menu and its commands build texts and paths,
    // and nothing may leave a window procedure.
    try {
        return handleHiddenWindowMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

} // namespace tavelio
