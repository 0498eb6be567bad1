// What the Wine tests share: a message pump and a window that goes with the test.
#pragma once

#include <windows.h>

namespace tavelio::winetest {

// Runs the message loop for a while: injected keys wait in this thread's
// queue until it is pumped, and TranslateMessage turns them into characters.
inline void pump(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

inline LRESULT CALLBACK plainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

// Destroys the window it was given when the test ends.
class OwnedWindow {
public:
    explicit OwnedWindow(HWND window) : window_(window) {}
    OwnedWindow(const OwnedWindow&) = delete;
    OwnedWindow& operator=(const OwnedWindow&) = delete;
    ~OwnedWindow() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    HWND get() const { return window_; }

private:
    HWND window_;
};

} // namespace tavelio::winetest
