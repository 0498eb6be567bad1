#include "app/hook_procedures.h"

#include "app/app_state.h"

namespace tavelio {

namespace {
HHOOK hookHandle(const UniqueHook& hook) {
    return reinterpret_cast<HHOOK>(hook.get());
}
} // namespace

// Nothing may leave a hook procedure. The portable decisions are noexcept:
// processKeyEvent holds the keyboard hook's one catch, and processMouseEvent
// does nothing that can throw (the log drops a line it cannot build).

LRESULT CALLBACK keyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
    HookContext* context = appState().currentHookContext.load(std::memory_order_acquire);
    if (context == nullptr) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (code >= 0) {
        const auto& raw = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        const KeyEvent event{raw.vkCode, raw.scanCode, raw.flags, raw.dwExtraInfo};
        if (processKeyEvent(*context, code, static_cast<std::uint32_t>(wParam), event).swallow) {
            return 1;
        }
    }
    return CallNextHookEx(hookHandle(context->keyboardHook), code, wParam, lParam);
}

LRESULT CALLBACK mouseHookProc(int code, WPARAM wParam, LPARAM lParam) {
    HookContext* context = appState().currentHookContext.load(std::memory_order_acquire);
    if (context == nullptr) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (code >= 0) {
        const auto& raw = *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        const MouseEvent event{raw.pt.x, raw.pt.y, raw.flags, raw.dwExtraInfo};
        processMouseEvent(*context, code, static_cast<std::uint32_t>(wParam), event);
    }
    return CallNextHookEx(hookHandle(context->mouseHook), code, wParam, lParam);
}

} // namespace tavelio
