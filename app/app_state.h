// Everything that lives for the whole run, touched only on the GUI thread.
#pragma once

#include <windows.h>

#include <shellapi.h>

#include "capture/hook_context.h"
#include "capture/input_buffer.h"
#include "platform/platform.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>

namespace tavelio {

// An icon handle that is destroyed with its owner.
class UniqueIcon {
public:
    UniqueIcon() = default;
    explicit UniqueIcon(HICON icon) : icon_(icon) {}
    UniqueIcon(UniqueIcon&& other) noexcept : icon_(other.release()) {}
    UniqueIcon& operator=(UniqueIcon&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueIcon() { reset(); }

    HICON get() const { return icon_; }
    HICON release() { return std::exchange(icon_, nullptr); }
    void reset(HICON icon = nullptr) {
        if (icon_ != nullptr) {
            DestroyIcon(icon_);
        }
        icon_ = icon;
    }

private:
    HICON icon_ = nullptr;
};

// A kernel object handle (the instance mutex) closed with its owner.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return handle_; }
    HANDLE release() { return std::exchange(handle_, nullptr); }
    explicit operator bool() const { return handle_ != nullptr; }
    void reset(HANDLE handle = nullptr) {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// The notification-icon record. Its hIcon belongs to the record: whoever
// replaces it takes the old one out with takeIcon and destroys it.
struct TrayIcon {
    NOTIFYICONDATAW data{};

    TrayIcon() = default;
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;
    ~TrayIcon() { UniqueIcon{takeIcon()}; }

    HICON takeIcon() { return std::exchange(data.hIcon, nullptr); }
};

struct AppState {
    HookContext* currentHookContext = nullptr; // what the hooks consult; empty passes all on
    Settings settings;                         // defaults until start-up loads the file
    std::atomic<std::uint32_t> sessionCounter{0};
    platform::WindowHandle keyFallbackWindow = 0;
    HWND hiddenWindow = nullptr;
    HWND splashWindow = nullptr; // empty once the splash is gone
    TrayIcon trayIcon;
    UniqueHandle instanceMutex;
    std::unique_ptr<InputBuffer> inputBuffer;
    HINSTANCE instanceHandle = nullptr;
    // Declared last so that it goes first at exit: its hooks refer to the
    // settings and the buffer above.
    std::unique_ptr<HookContext> ownedHookContext;
};

AppState& appState();

// Makes `next` the owned context and tears the previous one down: mouse hook,
// then keyboard hook, then it stops being current, then it is destroyed.
void replaceHookContext(std::unique_ptr<HookContext> next);

} // namespace tavelio
