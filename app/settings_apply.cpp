#include "app/settings_apply.h"

#include <mutex>

namespace tavelio {

SettingsApplied applySettings(Settings& active, InputBuffer& buffer, HookContext* hooks,
                              DiagnosticLog& log, const Settings& next) {
    SettingsApplied applied;
    // Started first and stopped last, so that the log holds the buffer's renewal.
    if (next.logging && !log.isActive()) {
        log.initialize(true);
        applied.loggingStarted = true;
    }
    {
        // The hooks' thread reads both on every key.
        std::unique_lock<std::mutex> record;
        if (hooks != nullptr) {
            record = std::unique_lock(hooks->recordLock);
        }
        const bool enabled = active.enabled;
        active = next;
        active.enabled = enabled;
        if (clampBufferMaxLength(next.bufferMaxLength) != buffer.maxLength()) {
            buffer.clear();
            buffer = InputBuffer(next.bufferMaxLength);
            applied.bufferRenewed = true;
        }
    }
    if (!next.logging && log.isActive()) {
        log.stop();
        applied.loggingStopped = true;
    }
    return applied;
}

} // namespace tavelio
