// Everything that lives for the whole run, touched only on the GUI thread but
// for what the hooks' context shares (see HookContext), the facts board and
// the current context pointer.
#pragma once

#include <windows.h>

#include "app/desktop_watcher.h"
#include "app/hook_thread.h"
#include "app/key_witness.h"
#include "app/single_instance.h"
#include "app/tray_presence.h"
#include "capture/hook_context.h"
#include "capture/input_buffer.h"
#include "platform/platform.h"
#include "platform/unique_handle.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

namespace tavelio {

using UniqueIcon = UniqueHandle<HICON, DestroyIcon>;

// The notification icon: what the shell is given and whether it shows it. Its
// icon belongs to the record: whoever replaces it takes the old one out with
// takeIcon and destroys it.
struct TrayIcon {
    TrayPresence presence;

    TrayIcon() = default;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    ~TrayIcon() { UniqueIcon{takeIcon()}; }

    HICON takeIcon() { return reinterpret_cast<HICON>(std::exchange(presence.data.icon, 0)); }
};

struct AppState {
    // What the hooks consult; empty passes all on. Read on the hooks' thread.
    std::atomic<HookContext*> currentHookContext{nullptr};
    Settings settings; // defaults until start-up loads the file
    std::atomic<std::uint32_t> sessionCounter{0};
    platform::WindowHandle keyFallbackWindow = 0;
    RunWatch runWatch;
    HWND hiddenWindow = nullptr;
    HWND splashWindow = nullptr; // empty once the splash is gone
    HWND settingsWindow = nullptr;
    std::atomic<HWND> hintWindow{nullptr}; // the hint beside the caret; the watcher posts to it
    // Saved from the settings window while a run was under way: the run ends
    // with the settings it began with, and these follow.
    std::optional<Settings> pendingSettings;
    TrayIcon trayIcon;
    UniqueKernelObject instanceMutex;
    std::unique_ptr<InputBuffer> inputBuffer;
    HINSTANCE instanceHandle = nullptr;
    FactsBoard factsBoard; // written by the watcher, read by the hooks' thread
    // Declared after what they refer to, so that they go first at exit: the
    // hooks refer to the settings and the buffer above.
    std::unique_ptr<HookContext> ownedHookContext;
    std::unique_ptr<DesktopWatcher> watcher;
    std::unique_ptr<HookThread> hookThread;
    // Its id, for the watcher's and the witness's threads, which must not
    // read the pointer above while this thread replaces it.
    std::atomic<DWORD> hookThreadId{0};
    std::unique_ptr<KeyWitness> keyWitness; // empty when raw input could not be had
};

AppState& appState();

// Posts a thread message to the hooks' thread, if it runs; from any thread.
void postToHooks(UINT message);
// Posts to the hint's window, if there is one; from any thread.
void postToHint(UINT message);

// Ends the witness, the hooks' thread (which takes the hooks out) and the
// watcher; the context stays, for a run still under way.
void stopMonitoring();

// Makes `next` the owned context and tears the previous one down: its
// destruction removes its hooks, and it stops being current.
void replaceHookContext(std::unique_ptr<HookContext> next);

} // namespace tavelio
