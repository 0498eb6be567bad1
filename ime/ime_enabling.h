// Switching the target window's IME on in native (kana) mode, and waiting
// until it says so.
#pragma once

#include "platform/platform.h"

namespace tavelio {

// Tries the input context, then the default IME window, then IME keys, each
// only while the IME still reads off. True when the IME is on afterwards, or
// when a key went out to a window with no context to read the result from;
// that window is then left in keyFallbackWindow for waitImeReady.
// fallbackKeysSent (when given) tells whether any IME key went out: on a
// layout without IME keys such a key may have typed a character.
bool enableIme(platform::WindowHandle& keyFallbackWindow, bool* fallbackKeysSent = nullptr);

// Polls for up to 500 ms. After an unverifiable key fallback it also accepts
// the same window still having no context to read. Clears keyFallbackWindow.
bool waitImeReady(platform::WindowHandle& keyFallbackWindow);

// Sends WM_IME_CONTROL / IMC_SETOPENSTATUS to the window's default IME window.
bool enableViaDefaultImeWindow(platform::WindowHandle window);

// Presses the IME-on keys in turn until one verifiably switches the IME on,
// or one goes out while no context is there to verify it.
bool enableViaKeyFallback(bool* keysSent = nullptr);

} // namespace tavelio
