#include "capture/hook_context.h"

namespace tavelio {

HookContext::~HookContext() {
    if (mouseHook != 0) {
        platform::unhookWindowsHook(mouseHook);
        mouseHook = 0;
    }
    if (keyboardHook != 0) {
        platform::unhookWindowsHook(keyboardHook);
        keyboardHook = 0;
    }
}

} // namespace tavelio
