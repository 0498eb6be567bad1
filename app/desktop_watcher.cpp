#include "app/desktop_watcher.h"

#include <oleacc.h>

#include "app/worker_thread.h"

namespace tavelio {

namespace {

constexpr wchar_t WatcherClass[] = L"TavelioWatcher";
constexpr UINT_PTR TypingTimerId = 1;
constexpr UINT TypingIntervalMs = 75;
// Keys stopped this long ago: nobody types, nothing is read.
constexpr DWORD TypingPauseMs = 1000;

thread_local DesktopWatcher* current = nullptr;

using AccessibleFromEvent = HRESULT(WINAPI*)(HWND, DWORD, DWORD, IAccessible**, VARIANT*);

void releaseVariant(VARIANT& value) {
    if ((value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN) && value.punkVal != nullptr) {
        value.punkVal->Release();
    }
    value.vt = VT_EMPTY;
}

// Browsers mark a password input STATE_SYSTEM_PROTECTED; oleacc is loaded
// only for this, so that the program imports nothing more at start.
bool focusIsProtected(HWND window, LONG object, LONG child) {
    static const auto fromEvent = [] {
        const HMODULE oleacc = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return oleacc != nullptr ? reinterpret_cast<AccessibleFromEvent>(reinterpret_cast<void*>(
                                       GetProcAddress(oleacc, "AccessibleObjectFromEvent")))
                                 : nullptr;
    }();
    if (fromEvent == nullptr) {
        return false;
    }
    IAccessible* accessible = nullptr;
    VARIANT item{};
    if (FAILED(fromEvent(window, static_cast<DWORD>(object), static_cast<DWORD>(child), &accessible,
                         &item)) ||
        accessible == nullptr) {
        return false;
    }
    VARIANT state{};
    const bool read = SUCCEEDED(accessible->get_accState(item, &state)) && state.vt == VT_I4;
    const bool isProtected = read && (state.lVal & STATE_SYSTEM_PROTECTED) != 0;
    releaseVariant(state);
    releaseVariant(item);
    accessible->Release();
    return isProtected;
}

} // namespace

DesktopWatcher::DesktopWatcher(HookContext& context, FactsBoard& board,
                               std::function<void()> published)
    : context_(context), board_(board), published_(std::move(published)) {
    startAndWait(thread_, [this](std::promise<bool>& ready) { run(ready); });
}

DesktopWatcher::~DesktopWatcher() {
    if (thread_.joinable()) {
        if (HWND window = window_.load()) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        thread_.join();
    }
}

void DesktopWatcher::rereadAll() const noexcept {
    if (HWND window = window_.load()) {
        PostMessageW(window, WatchRereadMessage, 0, 0);
    }
}

void DesktopWatcher::read(bool imeOnly, bool focusProtected) noexcept {
    try {
        Settings settings;
        {
            const std::lock_guard record(context_.recordLock);
            settings = context_.settings;
        }
        if (watchDesktop(board_, settings, context_.ownProcess, focusProtected, imeOnly) ==
                WatchOutcome::published &&
            published_) {
            published_();
        }
    } catch (...) {
    }
}

void DesktopWatcher::typing(HWND window) noexcept {
    if (!polling_) {
        polling_ = SetTimer(window, TypingTimerId, TypingIntervalMs, nullptr) != 0;
    }
}

void CALLBACK DesktopWatcher::winEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object,
                                       LONG child, DWORD, DWORD) {
    if (current == nullptr) {
        return;
    }
    const bool isProtected = event == EVENT_OBJECT_FOCUS && focusIsProtected(window, object, child);
    current->read(false, isProtected);
}

LRESULT CALLBACK DesktopWatcher::procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    DesktopWatcher* self = current;
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    switch (message) {
    case WatchTypingMessage:
        self->typing(window);
        return 0;
    case WatchImeKeyMessage:
        self->read(true);
        self->typing(window);
        return 0;
    case WatchRereadMessage:
        self->read(false);
        return 0;
    case WM_TIMER:
        if (wParam == TypingTimerId) {
            const DWORD lastKey = self->context_.lastKeyTick.load(std::memory_order_relaxed);
            if (GetTickCount() - lastKey > TypingPauseMs) {
                KillTimer(window, TypingTimerId);
                self->polling_ = false;
                self->context_.typingNoted = false; // the next key wakes the watcher again
            } else {
                self->read(true);
            }
            return 0;
        }
        break;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void DesktopWatcher::run(std::promise<bool>& ready) noexcept {
    current = this;
    // Apartment threaded, for the accessibility objects of the focus.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const HWND window = createMessageWindow(WatcherClass, procedure);
    window_ = window;
    // Out of context: the events come to this thread's queue, and the
    // program's own windows (the settings window) are no one's business.
    constexpr DWORD flags = WINEVENT_OUTOFCONTEXT | WINEVENT_SKIPOWNPROCESS;
    const HWINEVENTHOOK foreground = SetWinEventHook(
        EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, winEvent, 0, 0, flags);
    const HWINEVENTHOOK focus =
        SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, winEvent, 0, 0, flags);
    read(false); // what is in front already
    ready.set_value(window != nullptr);
    if (window != nullptr) {
        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            DispatchMessageW(&message);
        }
    }
    window_ = nullptr;
    if (focus != nullptr) {
        UnhookWinEvent(focus);
    }
    if (foreground != nullptr) {
        UnhookWinEvent(foreground);
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    current = nullptr;
}

} // namespace tavelio
