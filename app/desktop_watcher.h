// The watcher: a thread of its own that keeps the facts the hooks go by.
// Foreground and focus changes come from WinEvents; the IME of the focus is
// read at each change, right after an IME key, and every 75 ms while the
// user types. It may wait on a busy program; the hooks never do.
#pragma once

#include <windows.h>

#include "capture/desktop_facts.h"
#include "capture/hook_context.h"

#include <atomic>
#include <functional>
#include <future>
#include <thread>

namespace tavelio {

// Posted to the watcher's window: the settings changed, read everything again.
inline constexpr UINT WatchRereadMessage = WM_APP + 5;

class DesktopWatcher {
public:
    // published: called on the watcher's thread after each new reading (the
    // hooks' thread is told to follow it).
    DesktopWatcher(HookContext& context, FactsBoard& board, std::function<void()> published);
    DesktopWatcher(const DesktopWatcher&) = delete;
    DesktopWatcher& operator=(const DesktopWatcher&) = delete;
    ~DesktopWatcher();

    HWND window() const noexcept { return window_.load(); }
    void rereadAll() const noexcept;

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK winEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                  LONG child, DWORD thread, DWORD time);
    void run(std::promise<bool>& ready) noexcept;
    void read(bool imeOnly, bool focusProtected = false) noexcept;
    void typing(HWND window) noexcept;

    HookContext& context_;
    FactsBoard& board_;
    std::function<void()> published_;
    std::atomic<HWND> window_{nullptr};
    bool polling_ = false;
    std::thread thread_;
};

} // namespace tavelio
