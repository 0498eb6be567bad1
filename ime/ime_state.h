// Which window's IME receives the keys, and whether it is on in kana mode.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <utility>

namespace tavelio {

// A window and its IMM32 input context. Owns the context: it is released
// exactly once, when the target is destroyed.
class ImeTarget {
public:
    ImeTarget() = default;
    ImeTarget(platform::WindowHandle window, platform::ImeContext context)
        : window_(window), context_(context) {}
    ImeTarget(ImeTarget&& other) noexcept
        : window_(other.window_), context_(std::exchange(other.context_, 0)) {}
    ImeTarget& operator=(ImeTarget&& other) noexcept;
    ImeTarget(const ImeTarget&) = delete;
    ImeTarget& operator=(const ImeTarget&) = delete;
    ~ImeTarget() { release(); }

    platform::WindowHandle window() const { return window_; }
    platform::ImeContext context() const { return context_; }
    // Gives the context back now (ImmReleaseContext); later calls do nothing.
    void release();

private:
    platform::WindowHandle window_ = 0;
    platform::ImeContext context_ = 0;
};

platform::WindowHandle focusOrForegroundWindow();
ImeTarget findImeTarget();
// Open status non-zero and the NATIVE conversion bit set; false for a null context.
bool isNativeOpen(platform::ImeContext context);
// Reads the target's input context; when it has none (another process's
// contexts cannot be read), asks the window's default IME window instead.
bool isImeOpen();
// The window's default IME window; 0 when it has none or there is no window.
platform::WindowHandle defaultImeWindow(platform::WindowHandle window);
// What WM_IME_CONTROL to an IME window brought back.
struct ImeControlReply {
    std::intptr_t delivered = 0; // SendMessageTimeoutW's own result: 0 when not answered in time
    std::uintptr_t answer = 0;
};
// Sends it, giving up after timeoutMs on an IME whose thread hangs.
ImeControlReply sendImeControl(platform::WindowHandle imeWindow, std::uintptr_t command,
                               std::intptr_t value, std::uint32_t timeoutMs);
// IMC_GETOPENSTATUS, then IMC_GETCONVERSIONMODE to the window's default IME
// window: true when that IME is open in native mode.
bool nativeOpenViaImeWindow(platform::WindowHandle window);
// hwnd=0x.. open= conv=0x.. sent=0x.. native= (or context=null).
std::u16string describeImeContext(platform::WindowHandle window, platform::ImeContext context);
std::u16string describeImeState();

} // namespace tavelio
