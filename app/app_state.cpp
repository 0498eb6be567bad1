#include "app/app_state.h"

namespace tavelio {

AppState& appState() {
    static AppState state;
    return state;
}

void replaceHookContext(std::unique_ptr<HookContext> next) {
    AppState& state = appState();
    std::unique_ptr<HookContext> previous = std::exchange(state.ownedHookContext, std::move(next));
    if (state.currentHookContext == previous.get()) {
        state.currentHookContext = nullptr;
    }
}

} // namespace tavelio
