#include "app/hook_procedures.h"

#include "app/app_state.h"

namespace tavelio {

namespace {
HHOOK hookHandle(platform::HookHandle hook) {
    return reinterpret_cast<HHOOK>(hook);
}
} // namespace

LRESULT CALLBACK keyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
    HookContext* context = appState().currentHookContext;
    if (context == nullptr) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    bool swallow = false;
    if (code >= 0) {
        const auto& raw = *reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        const KeyEvent event{raw.vkCode, raw.scanCode, raw.flags, raw.dwExtraInfo};
        try {
            swallow = processKeyEvent(*context, code, static_cast<std::uint32_t>(wParam), event);
        } catch (...) {
            // A fault in the decision must never reach the system's hook chain.
            swallow = false;
        }
    }
    if (swallow) {
        return 1;
    }
    return CallNextHookEx(hookHandle(context->keyboardHook), code, wParam, lParam);
}

LRESULT CALLBACK mouseHookProc(int code, WPARAM wParam, LPARAM lParam) {
    HookContext* context = appState().currentHookContext;
    if (context == nullptr) {
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    if (code >= 0) {
        const auto& raw = *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam);
        const MouseEvent event{raw.pt.x, raw.pt.y, raw.flags, raw.dwExtraInfo};
        try {
            processMouseEvent(*context, code, static_cast<std::uint32_t>(wParam), event);
        } catch (...) {
            // Mouse events are never swallowed, fault or not.
        }
    }
    return CallNextHookEx(hookHandle(context->mouseHook), code, wParam, lParam);
}

} // namespace tavelio
