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

// What reading the IME where the user types tells.
enum class ImeReading {
    off,
    on, // open in native (kana) mode
    // Its IME window did not answer in time (the application is busy): the
    // IME may be on and turning what is typed into kana.
    unknown,
    // No input context and no IME window to ask: Wine, and windows without
    // an IME. The keyboard hook takes it as off; nothing can be verified.
    unreadable,
};
// Who asks. The watcher reads the focus for the hooks, which never wait on
// another program: it may wait longer for a busy application than a run,
// which has the user waiting.
enum class ImeAsker { watcher, run };

// The target's input context when there is one; otherwise the focus
// window's default IME window (IMC_GETOPENSTATUS, then IMC_GETCONVERSIONMODE
// only when open). For a window of another process the watcher asks the IME
// window at once: Windows gives no context across processes.
ImeReading readIme(ImeAsker asker);
// The same for a given window (a Store app's own window rather than its frame's focus).
ImeReading readImeOf(platform::WindowHandle window, ImeAsker asker);
// readIme for a run: true only when the IME reads on.
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
                               std::intptr_t value, std::uint32_t timeoutMs, ImeAsker asker);
// hwnd=0x.. open= conv=0x.. sent=0x.. native= (or context=null).
std::u16string describeImeContext(platform::WindowHandle window, platform::ImeContext context);
std::u16string describeImeState();

} // namespace tavelio
