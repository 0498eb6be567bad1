#include "app/hidden_window.h"

#include "app/app_state.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "reinput/execute_sequence.h"
#include "resources/resource_ids.h"

#include <cwchar>

namespace tavelio {

namespace {

const wchar_t* statusText(bool enabled) {
    return enabled ? L"Tavelio: enabled" : L"Tavelio: paused";
}

void showTrayMenu(HWND window) {
    const UniqueHandle<HMENU, DestroyMenu> menu(CreatePopupMenu());
    if (!menu) {
        return;
    }
    const bool enabled = appState().settings.enabled;
    AppendMenuW(menu.get(), MF_STRING | MF_DISABLED, IDM_STATUS, statusText(enabled));
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_TOGGLE, enabled ? L"Pause" : L"Resume");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_EXIT, L"Exit");

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
    data.hIcon = loadAppIcon(state.instanceHandle, SM_CXSMICON);
    wcsncpy(data.szTip, statusText(state.settings.enabled), std::size(data.szTip) - 1);
}

LRESULT CALLBACK hiddenWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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

} // namespace tavelio
