#include "app/app_state.h"

namespace tavelio {

AppState& appState() {
    static AppState state;
    return state;
}

void replaceHookContext(std::unique_ptr<HookContext> next) {
    AppState& state = appState();
    std::unique_ptr<HookContext> previous = std::exchange(state.ownedHookContext, std::move(next));
    if (!previous) {
        return;
    }
    if (previous->mouseHook != 0) {
        platform::unhookWindowsHook(std::exchange(previous->mouseHook, 0));
    }
    if (previous->keyboardHook != 0) {
        platform::unhookWindowsHook(std::exchange(previous->keyboardHook, 0));
    }
    if (state.currentHookContext == previous.get()) {
        state.currentHookContext = nullptr;
    }
}

} // namespace tavelio
