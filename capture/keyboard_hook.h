// The keyboard hook's decisions for one key press: the hotkey, the character
// to record, the Backspace that mirrors a deletion, the keys that end the
// recorded segment. processKeyEvent (hook_context.h) is the entry point.
#pragma once

#include "capture/hook_context.h"

namespace tavelio {

// Turns a non-injected key press into a buffer change (or a skip or a
// rejection) with its lines in input.log.
void classifyKey(HookContext& context, const KeyEvent& event);

// Letters (case from Shift and Caps Lock) and unshifted digits, from the
// virtual-key code alone. True when a character was stored.
bool appendFromVirtualKey(InputBuffer& buffer, const KeyEvent& event);
// Any other key through the foreground window's keyboard layout; stores one
// printable ASCII character or declines.
bool appendFromUnicode(InputBuffer& buffer, const KeyEvent& event);

} // namespace tavelio
