#include "app/hidden_window.h"

#include <shellapi.h>
#include <windowsx.h>
#include <wtsapi32.h>

#include "app/app_state.h"
#include "app/hint_window.h"
#include "app/hook_procedures.h"
#include "app/hook_watch.h"
#include "app/settings_apply.h"
#include "app/settings_window.h"
#include "app/tray_commands.h"
#include "app/ui_text.h"
#include "log/diagnostic_log.h"
#include "platform/constants.h"
#include "reinput/execute_sequence.h"
#include "resources/resource_ids.h"

#include <mutex>
#include <string_view>

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

// `at` is where the shell anchors the menu: the pointer for a click, the icon
// for the keyboard.
void showTrayMenu(HWND window, POINT at) {
    // The shell may notify again while the menu's own loop runs (Enter sends
    // NIN_KEYSELECT twice); a second menu would fail or stack.
    static bool open = false;
    if (open) {
        return;
    }
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
    appendItem(menu.get(), 0, IDM_SETTINGS, IDS_SETTINGS);
    appendItem(menu.get(), 0, IDM_OPEN_SETTINGS, IDS_OPEN_SETTINGS);
    if (diagnosticLog().isActive()) {
        appendItem(menu.get(), 0, IDM_OPEN_LOGS, IDS_OPEN_LOGS);
    }
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    appendItem(menu.get(), 0, IDM_EXIT, IDS_EXIT);

    // In bold: what a double-click on the icon does.
    SetMenuDefaultItem(menu.get(), IDM_SETTINGS, FALSE);

    // The window must be foreground before TrackPopupMenu, or the menu never
    // closes when the user clicks elsewhere.
    SetForegroundWindow(window);
    open = true;
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, at.x, at.y, 0, window, nullptr);
    open = false;
}

POINT cursorPosition() {
    POINT cursor{};
    GetCursorPos(&cursor);
    return cursor;
}

// A left click opens the menu once the double-click time is over without a
// second click: a double-click opens the settings window instead.
POINT pendingClick{};
DWORD lastDoubleClick = 0;

// NOTIFYICON_VERSION_4: the event in lParam's low word, the icon id in its
// high word, the anchor point in wParam. The mouse messages still come too.
void trayNotification(HWND window, WPARAM wParam, LPARAM lParam) {
    const POINT anchor{GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam)};
    switch (LOWORD(lParam)) {
    case NIN_SELECT:
        // The second click of a double-click selects again.
        if (GetTickCount() - lastDoubleClick > GetDoubleClickTime()) {
            pendingClick = anchor;
            SetTimer(window, TrayClickTimerId, GetDoubleClickTime(), nullptr);
        }
        break;
    case WM_LBUTTONDBLCLK:
        KillTimer(window, TrayClickTimerId);
        lastDoubleClick = GetTickCount();
        openSettingsWindow();
        break;
    case NIN_KEYSELECT:
    case WM_CONTEXTMENU:
        KillTimer(window, TrayClickTimerId);
        showTrayMenu(window, anchor);
        break;
    default:
        break;
    }
}

// Explorer broadcasts it to every top-level window when its taskbar is made
// anew: after a restart the notification area holds none of the old icons.
UINT taskbarCreatedMessage() {
    static const UINT id = RegisterWindowMessageW(L"TaskbarCreated");
    return id;
}

// The hooks belong to their own thread: only it may put them in again.
void reinstallHooksFor(HookReinstallReason reason) {
    if (const HookThread* hooks = appState().hookThread.get()) {
        hooks->post(HookReinstallMessage, static_cast<WPARAM>(reason));
    }
}

// The icon again for today's state and DPI. The shell copies the icon it is
// given, so the old one is destroyed only once the new one is handed over.
void renewTrayIcon(bool offer) {
    UniqueIcon previous(appState().trayIcon.takeIcon());
    buildTrayIconData();
    if (offer) {
        offerTrayIcon();
    } else {
        updateTrayIcon(appState().trayIcon.presence);
    }
}

void toggleEnabled() {
    AppState& state = appState();
    {
        std::unique_lock<std::mutex> record;
        if (HookContext* context = state.currentHookContext.load()) {
            record = std::unique_lock(context->recordLock);
        }
        state.settings.enabled = !state.settings.enabled;
        if (state.inputBuffer) {
            state.inputBuffer->clear();
        }
    }
    renewTrayIcon(false);
    lookAgainAtHint();
    if (state.settings.enabled) {
        reinstallHooksFor(HookReinstallReason::trayResume);
    }
}

void dropExecuteRequest(WPARAM requestWindow) {
    logOutput(u"EXECUTE_REQUEST_DROPPED", [&](LogDetails& d) {
        d.hex(u"hwnd", static_cast<platform::WindowHandle>(requestWindow));
    });
}

// wParam names the window in front at the hotkey press (0 from a sender that
// names none). Requests that came while this one was queued or running are
// dropped: a held hotkey's auto-repeat posts one per repeat.
void runExecuteRequest(HWND window, WPARAM requestWindow, LPARAM forField) {
    AppState& state = appState();
    if (state.runWatch.stopRequested) {
        return; // the program or the session is ending: no new run
    }
    if (state.runWatch.running) {
        dropExecuteRequest(requestWindow);
        return;
    }
    const auto applyPending = [&state] {
        if (state.pendingSettings) {
            const Settings next = std::move(*state.pendingSettings);
            state.pendingSettings.reset();
            useSavedSettings(next);
        }
    };
    HookContext* hooks = state.currentHookContext.load();
    ExecuteContext context{state.settings,
                           state.inputBuffer.get(),
                           state.sessionCounter,
                           state.keyFallbackWindow,
                           state.runWatch,
                           static_cast<platform::WindowHandle>(requestWindow),
                           hooks != nullptr ? &hooks->recordLock : nullptr,
                           forField != 0};
    hintRunBegins();
    executeReinput(context);
    applyPending();
    MSG queued{};
    while (PeekMessageW(&queued, window, ExecuteRequestMessage, ExecuteRequestMessage, PM_REMOVE)) {
        dropExecuteRequest(queued.wParam);
    }
}

// Everything the program holds outside itself, in the order Exit gives it
// back; once is enough, and a second time does nothing.
void tearDown(HWND window) {
    AppState& state = appState();
    KillTimer(window, TrayRetryTimerId);
    KillTimer(window, TrayClickTimerId);
    if (state.settingsWindow != nullptr) {
        DestroyWindow(state.settingsWindow); // unsaved changes go, as with Cancel
    }
    WTSUnRegisterSessionNotification(window);
    // Where the keys of a flood went, on a line of its own before STOP.
    if (const HookContext* context = state.currentHookContext.load()) {
        logInput(u"HOOK_COUNTS", [&](LogDetails& d) {
            d.add(u"keyboardCalls", context->keyboardCalls.load())
                .add(u"keysWitnessed", state.keyWitness ? state.keyWitness->keys() : 0u);
        });
    }
    stopMonitoring();
    destroyHintWindow();
    // A run under way further down this thread's stack still holds the
    // context's lock: the context goes with the window, after the run.
    if (!state.runWatch.running) {
        replaceHookContext(nullptr);
    }
    removeTrayIcon(state.trayIcon.presence);
    UniqueIcon{state.trayIcon.takeIcon()};
    if (state.splashWindow != nullptr) {
        DestroyWindow(state.splashWindow);
    }
    diagnosticLog().stop();
    state.instanceMutex.reset();
}

// Exit, a close request, the end of the session. A run may be under way
// further down this thread's stack, pumping sent messages in its pauses: it
// is asked to stop, and the window goes only once it has returned, so that
// nothing is injected after the window is destroyed.
void closeProgram(HWND window) {
    RunWatch& watch = appState().runWatch;
    watch.stopRequested = true;
    if (watch.running) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        return;
    }
    DestroyWindow(window);
}

void endSession(HWND window, bool ending) {
    RunWatch& watch = appState().runWatch;
    if (!ending) {
        watch.stopRequested = false; // another program refused: the session goes on
        return;
    }
    if (watch.running) {
        // The session may end as soon as this returns, before the run does:
        // the STOP lines, the hooks and the icon cannot wait for the window.
        tearDown(window);
    }
    closeProgram(window);
}

} // namespace

void useSavedSettings(const Settings& next) {
    AppState& state = appState();
    if (state.runWatch.running) {
        state.pendingSettings = next;
        return;
    }
    if (!state.inputBuffer) {
        return; // not started yet: the file is read at the start
    }
    const SettingsApplied applied = applySettings(state.settings, *state.inputBuffer,
                                                  state.currentHookContext, diagnosticLog(), next);
    // excludedApps may have changed: whether the program in front takes part.
    if (state.watcher) {
        state.watcher->rereadAll();
    }
    if (applied.loggingStarted || applied.loggingStopped) {
        renewTrayIcon(false); // the tooltip says whether the log is on
    }
    lookAgainAtHint(); // romajiHint may have gone off
}

HICON loadAppIcon(HINSTANCE instance, int sizeMetric) {
    const int size = GetSystemMetrics(sizeMetric);
    return static_cast<HICON>(
        LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void buildTrayIconData() {
    AppState& state = appState();
    platform::TrayIconData& data = state.trayIcon.presence.data;
    data = platform::TrayIconData{};
    data.window = reinterpret_cast<platform::WindowHandle>(state.hiddenWindow);
    data.id = TrayIconId;
    data.callbackMessage = TrayCallbackMessage;
    data.icon = reinterpret_cast<std::uintptr_t>(loadTrayIcon(!state.settings.enabled));
    const std::wstring tip = uiText(tipTextId(state.settings.enabled, diagnosticLog().isActive()));
    data.tip = reinterpret_cast<const char16_t*>(tip.c_str());
}

void offerTrayIcon() {
    AppState& state = appState();
    showTrayIcon(state.trayIcon.presence);
    if (state.trayIcon.presence.retrying) {
        SetTimer(state.hiddenWindow, TrayRetryTimerId, TrayRetryIntervalMs, nullptr);
    }
}

namespace {

LRESULT handleHiddenWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        WTSRegisterSessionNotification(window, NOTIFY_FOR_THIS_SESSION);
        // Explorer runs with normal rights; a copy started elevated would
        // never hear it restart.
        ChangeWindowMessageFilterEx(window, taskbarCreatedMessage(), MSGFLT_ALLOW, nullptr);
        return 0;
    case ExecuteRequestMessage:
        runExecuteRequest(window, wParam, lParam);
        return 0;
    case TrayCallbackMessage:
        if (HIWORD(lParam) == TrayIconId) {
            trayNotification(window, wParam, lParam);
            return 0;
        }
        // The old protocol, from a shell that refused version 4.
        if (LOWORD(lParam) == WM_RBUTTONUP || LOWORD(lParam) == WM_LBUTTONUP) {
            showTrayMenu(window, cursorPosition());
            return 0;
        }
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_TOGGLE:
            toggleEnabled();
            return 0;
        case IDM_EXIT:
            closeProgram(window);
            return 0;
        case IDM_START_WITH_WINDOWS:
            if (const StartupChange change = toggleStartWithWindows(); change.error != 0) {
                const std::wstring text = uiText(IDS_STARTUP_TOGGLE_FAILED) + L" (" +
                                          std::to_wstring(change.error) + L")";
                MessageBoxW(window, text.c_str(), WindowTitle, MB_OK | MB_ICONWARNING);
            }
            return 0;
        case IDM_SETTINGS:
            openSettingsWindow();
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
    case WM_TIMER:
        if (wParam == TrayClickTimerId) {
            KillTimer(window, TrayClickTimerId);
            showTrayMenu(window, pendingClick);
            return 0;
        }
        if (wParam == TrayRetryTimerId) {
            TrayPresence& tray = appState().trayIcon.presence;
            retryTrayIcon(tray);
            if (!tray.retrying) {
                KillTimer(window, TrayRetryTimerId);
            }
            return 0;
        }
        break;
    case WM_WTSSESSION_CHANGE:
        if (wParam == WTS_SESSION_UNLOCK) {
            reinstallHooksFor(HookReinstallReason::sessionUnlock);
        }
        break;
    case WM_POWERBROADCAST:
        if (wParam == PBT_APMRESUMEAUTOMATIC) {
            reinstallHooksFor(HookReinstallReason::powerResume);
        }
        break;
    case WM_DPICHANGED:
        renewTrayIcon(false); // the notification area's small icon changed size
        return 0;
    case WM_CLOSE:
        closeProgram(window);
        return 0;
    case WM_QUERYENDSESSION:
        appState().runWatch.stopRequested = true; // a run under way injects nothing more
        return TRUE;
    case WM_ENDSESSION:
        endSession(window, wParam != FALSE);
        return 0;
    case WM_DESTROY:
        tearDown(window);
        PostQuitMessage(0);
        return 0;
    default:
        if (message != 0 && message == taskbarCreatedMessage()) {
            renewTrayIcon(true); // a new taskbar may come with a new DPI
            return 0;
        }
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
