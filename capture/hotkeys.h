// The re-input hotkey is configured as text; two texts mean something.
#pragma once

#include "capture/hook_context.h"

#include <string_view>

namespace tavelio {

// True when the press is the hotkey `hotkey` names: "Ctrl+Backspace" or
// "Ctrl+Shift+Backspace", compared exactly. Any other text never matches.
// Reads the modifiers as they are now; no side effects.
bool matchesHotkey(std::u16string_view hotkey, const KeyEvent& event);

// The main hotkey, then each alternate in order, up to the first match.
bool matchesAnyHotkey(const Settings& settings, const KeyEvent& event);

} // namespace tavelio
