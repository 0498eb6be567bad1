// Entry point: brings the program up in a fixed order, then pumps messages for
// the one GUI thread until the hidden window's destruction posts the quit.
#include <windows.h>

#include "app/app_state.h"
#include "app/hidden_window.h"
#include "app/hint_window.h"
#include "app/hook_procedures.h"
#include "app/settings_window.h"
#include "app/splash_window.h"
#include "app/ui_text.h"
#include "log/diagnostic_log.h"
#include "resources/resource_ids.h"
#include "settings/settings_reader.h"

#include <memory>

namespace tavelio {

namespace {

constexpr int SplashCornerDiameter = 28;

bool registerWindowClass(HINSTANCE instance, WNDPROC procedure, const wchar_t* name,
                         HICON smallIcon) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = loadAppIcon(instance, SM_CXICON);
    windowClass.hIconSm = smallIcon;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = name;
    return RegisterClassExW(&windowClass) != 0;
}

bool createHiddenWindow(HINSTANCE instance) {
    if (!registerWindowClass(instance, hiddenWindowProc, HiddenWindowClass,
                             loadAppIcon(instance, SM_CXSMICON))) {
        return false;
    }
    appState().hiddenWindow = CreateWindowExW(
        0, HiddenWindowClass, WindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
        CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    return appState().hiddenWindow != nullptr;
}

void showSplash(HINSTANCE instance) {
    registerWindowClass(instance, splashWindowProc, SplashWindowClass, nullptr);

    // Never active: started at sign-in while the user types, it must not take
    // their keys.
    HWND splash = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE,
                                  SplashWindowClass, WindowTitle, WS_POPUP, 0, 0, SplashWidth,
                                  SplashHeight, nullptr, nullptr, instance, nullptr);
    appState().splashWindow = splash;
    if (splash == nullptr) {
        return;
    }
    // Sized for the DPI of the primary display, where it opens: 640x300 at
    // 100 %, 1280x600 at 200 %, with its corners alike.
    const UINT dpi = GetDpiForWindow(splash);
    const auto scaled = [dpi](int size) {
        return MulDiv(size, dpi, USER_DEFAULT_SCREEN_DPI);
    };
    const int width = scaled(SplashWidth);
    const int height = scaled(SplashHeight);
    SetWindowPos(splash, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                 (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    // The region's right and bottom are exclusive, hence one pixel more than
    // the window; after SetWindowRgn succeeds the window owns it.
    const int corner = scaled(SplashCornerDiameter);
    UniqueHandle<HRGN, DeleteObject> region(
        CreateRoundRectRgn(0, 0, width + 1, height + 1, corner, corner));
    if (region && SetWindowRgn(splash, region.get(), FALSE) != 0) {
        region.release();
    }
    ShowWindow(splash, SW_SHOWNOACTIVATE);
    UpdateWindow(splash);
    SetTimer(splash, SplashTimerId, SplashTimeoutMs, nullptr);
}

bool startMonitoring() {
    AppState& state = appState();
    replaceHookContext(
        std::make_unique<HookContext>(reinterpret_cast<platform::WindowHandle>(state.hiddenWindow),
                                      state.settings, *state.inputBuffer, state.runWatch));
    HookContext& context = *state.ownedHookContext;
    context.ownProcess = GetCurrentProcessId();
    context.board = &state.factsBoard;
    context.hintWindow = reinterpret_cast<platform::WindowHandle>(state.hintWindow.load());
    // Three threads besides this one: the watcher reads the desktop, the
    // hooks' thread answers the hooks from what it read, and the witness
    // counts the keys, so that a hook the system dropped is noticed at once.
    try {
        state.watcher = std::make_unique<DesktopWatcher>(context, state.factsBoard, [] {
            postToHooks(HookFactsMessage);
            postToHint(HintFactsMessage);
        });
        context.watcher = reinterpret_cast<platform::WindowHandle>(state.watcher->window());
        state.currentHookContext = &context;
        state.hookThread = std::make_unique<HookThread>(context, AppHookProcedures);
        state.hookThreadId = state.hookThread->threadId();
    } catch (...) {
    }
    if (state.hookThread == nullptr || !state.hookThread->hooked()) {
        replaceHookContext(nullptr);
        return false;
    }
    try {
        auto witness = std::make_unique<KeyWitness>([&context](std::uint32_t tick) {
            context.lastKeyWitnessTick.store(tick, std::memory_order_relaxed);
            // Once is enough until the hooks are back: the flag goes with them.
            if (keyboardHookMissing(context, tick) && !context.reinstallAsked.exchange(true)) {
                postToHooks(HookWatchMessage);
            }
        });
        if (witness->listening()) {
            state.keyWitness = std::move(witness);
        }
    } catch (...) {
    }
    return true;
}

// At sign-in other windows are opening: without an owner and brought to the
// front, the message cannot end up hidden behind them.
void showStartupFailure() {
    MessageBoxW(nullptr, uiText(IDS_HOOK_FAILURE).c_str(), WindowTitle,
                MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

int runMessageLoop() {
    MSG message{};
    BOOL result = 0;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        // Tab, Enter, Esc and the mnemonics of the settings window.
        if (HWND dialog = settingsWindow();
            dialog != nullptr && IsDialogMessageW(dialog, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (result < 0) {
        // The queue itself failed; the last message's wParam would mean nothing.
        return 1;
    }
    return static_cast<int>(message.wParam);
}

int run(HINSTANCE instance) {
    AppState& state = appState();
    state.instanceHandle = instance;
    state.settings = loadSettings();

    // Before the log: a refused second start must not reset the running
    // instance's log files.
    switch (claimSingleInstance(state.instanceMutex)) {
    case InstanceClaim::claimed:
        break;
    case InstanceClaim::anotherInstance:
        return 0;
    case InstanceClaim::failed:
        showStartupFailure();
        return 1;
    }
    diagnosticLog().initialize(state.settings.logging);

    if (!createHiddenWindow(instance)) {
        return 1;
    }
    showSplash(instance);
    createHintWindow(instance); // without it, no hint: the program works all the same

    state.inputBuffer = std::make_unique<InputBuffer>(state.settings.bufferMaxLength);
    if (!startMonitoring()) {
        showStartupFailure();
        return 1;
    }

    buildTrayIconData();
    offerTrayIcon();

    return runMessageLoop();
}

} // namespace

} // namespace tavelio

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    try {
        return tavelio::run(instance);
    } catch (...) {
        // Start-up ran out of memory; there is nobody to tell.
        return 1;
    }
}
