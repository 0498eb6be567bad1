// Typing a text into the foreground application one UTF-16 code unit at a
// time, as the keys of its keyboard layout, so that an IME sees key strokes.
#pragma once

#include "capture/hook_context.h"
#include "platform/platform.h"

#include <string_view>

namespace tavelio {

// True when every character was accepted by the system. A character no key of
// the layout produces goes as a Unicode packet. 48 ms after each of the first
// two characters, then 8 ms (texts under 12 units) or 12 ms after each. With
// a target window, stops before a character that would reach another window;
// with a run's watch, before a character once the user acted.
bool sendText(std::u16string_view text, platform::WindowHandle target = 0,
              const RunWatch* run = nullptr);

} // namespace tavelio
