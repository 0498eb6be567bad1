#include "app/app_state.h"

namespace tavelio {

AppState& appState() {
    static AppState state;
    return state;
}

void stopMonitoring() {
    AppState& state = appState();
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

} // namespace tavelio
