// Deleting the recorded text in the foreground application: one synthetic
// Backspace per UTF-16 code unit, each followed by a fixed pause.
#pragma once

#include "capture/hook_context.h"
#include "platform/platform.h"

#include <cstdint>
#include <string_view>

namespace tavelio {

// Backspaces for every code unit of text (a surrogate pair takes two), then a
// 24 ms pause. True at once for an empty text. With a target window, stops
// before any Backspace that would reach another window (stillInFront); with
// a run's watch, before any Backspace once the user acted (runInterruption).
bool sendDeletion(std::u16string_view text, platform::WindowHandle target = 0,
                  const RunWatch* run = nullptr);

// count Backspace presses, each released at once and followed by 12 ms. Stops
// at the first step the system refuses, that would go to another window than
// the target, or that comes after the user acted.
bool sendBackspaces(std::uint64_t count, platform::WindowHandle target = 0,
                    const RunWatch* run = nullptr);

} // namespace tavelio
