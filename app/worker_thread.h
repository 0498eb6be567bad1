// What the program's threads of their own share: a message-only window for
// their queue, and a start that waits until the thread says it is ready.
#pragma once

#include <windows.h>

#include <future>
#include <thread>

namespace tavelio {

// A message-only window of this module; its class is registered the first time.
inline HWND createMessageWindow(const wchar_t* className, WNDPROC procedure) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    RegisterClassExW(&windowClass); // fails harmlessly once registered
    return CreateWindowExW(0, className, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance,
                           nullptr);
}

// Starts `thread` on body(ready) and waits for what body puts in `ready`;
// false when no thread could be had.
template <typename Body> bool startAndWait(std::thread& thread, Body body) {
    std::promise<bool> ready;
    std::future<bool> started = ready.get_future();
    try {
        thread = std::thread([&ready, body] { body(ready); });
    } catch (...) {
        return false;
    }
    return started.get();
}

} // namespace tavelio
