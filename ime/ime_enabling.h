// Switching the target window's IME on in native (kana) mode, and waiting
// until it says so.
#pragma once

#include "platform/platform.h"

#include <functional>

namespace tavelio {

// What an attempt to switch the IME on did.
struct ImeEnableResult {
    // The IME is on afterwards, or a key went out to a window with no context
    // to read the result from.
    bool on = false;
    // Some IME key went out: on a layout without IME keys it may have typed a
    // character.
    bool keysSent = false;
};

// Asked before each IME key: false when no more keys may go out (the user
// acted, the program is closing). Empty: keys may always go out.
using MayInject = std::function<bool()>;

// Tries the input context, then the default IME window, then IME keys, each
// only while the IME still reads off. When the keys switched it on, their
// window is left in keyFallbackWindow for waitImeReady.
ImeEnableResult enableIme(platform::WindowHandle& keyFallbackWindow,
                          const MayInject& mayInject = {});

// Polls for up to 500 ms. After a key fallback that nothing could verify it
// also accepts the same window still giving nothing to read. Clears
// keyFallbackWindow.
bool waitImeReady(platform::WindowHandle& keyFallbackWindow);

// Sends WM_IME_CONTROL / IMC_SETOPENSTATUS to the window's default IME window.
bool enableViaDefaultImeWindow(platform::WindowHandle window);

// After the IME window opened the IME: adds the NATIVE bit to its conversion
// mode (IMC_GETCONVERSIONMODE, IMC_SETCONVERSIONMODE) when it opened in
// alphanumeric mode.
void setNativeViaDefaultImeWindow(platform::WindowHandle window);

// Presses the IME-on keys in turn until one switches the IME on, read back;
// a key that leaves it reading off is followed by the next. Stops with the
// key sent but unverified where nothing can be read.
ImeEnableResult enableViaKeyFallback(const MayInject& mayInject = {});

} // namespace tavelio
