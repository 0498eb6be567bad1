// Switching the target window's IME on in native (kana) mode, and waiting
// until it says so.
#pragma once

#include "platform/platform.h"

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

// Tries the input context, then the default IME window, then IME keys, each
// only while the IME still reads off. When the keys switched it on, their
// window is left in keyFallbackWindow for waitImeReady.
ImeEnableResult enableIme(platform::WindowHandle& keyFallbackWindow);

// Polls for up to 500 ms. After an unverifiable key fallback it also accepts
// the same window still having no context to read. Clears keyFallbackWindow.
bool waitImeReady(platform::WindowHandle& keyFallbackWindow);

// Sends WM_IME_CONTROL / IMC_SETOPENSTATUS to the window's default IME window.
bool enableViaDefaultImeWindow(platform::WindowHandle window);

// Presses the IME-on keys in turn until one verifiably switches the IME on,
// or one goes out while no context is there to verify it.
ImeEnableResult enableViaKeyFallback();

} // namespace tavelio
