#include "app/app_state.h"

#include "app/hook_thread.h"

namespace tavelio {

AppState& appState() {
    static AppState state;
    return state;
}

void stopMonitoring() {
    AppState& state = appState();
    state.hookThreadId = 0;
    state.keyWitness.reset();
    state.hookThread.reset(); // takes the hooks out
    state.watcher.reset();
    state.currentHookContext = nullptr;
}

void replaceHookContext(std::unique_ptr<HookContext> next) {
    AppState& state = appState();
    // The threads that work on the old context end before it goes.
    stopMonitoring();
    std::unique_ptr<HookContext> previous = std::exchange(state.ownedHookContext, std::move(next));
    if (state.currentHookContext.load() == previous.get()) {
        state.currentHookContext = nullptr;
    }
}

void postToHooks(UINT message) {
    if (const DWORD id = appState().hookThreadId.load()) {
        PostThreadMessageW(id, message, 0, 0);
    }
}

void postToHint(UINT message) {
    if (const HWND hint = appState().hintWindow.load()) {
        PostMessageW(hint, message, 0, 0);
    }
}

} // namespace tavelio
