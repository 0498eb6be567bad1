#include "app/settings_apply.h"

#include "capture/clear_triggers.h"

namespace tavelio {

SettingsApplied applySettings(Settings& active, InputBuffer& buffer, HookContext* hooks,
                              DiagnosticLog& log, const Settings& next) {
    SettingsApplied applied;
    // Started first and stopped last, so that the log holds the buffer's renewal.
    if (next.logging && !log.isActive()) {
        log.initialize(true);
        applied.loggingStarted = true;
    }
    const bool enabled = active.enabled;
    active = next;
    active.enabled = enabled;
    if (clampBufferMaxLength(next.bufferMaxLength) != buffer.maxLength()) {
        buffer.clear();
        buffer = InputBuffer(next.bufferMaxLength);
        applied.bufferRenewed = true;
    }
    if (hooks != nullptr && hooks->fromPid != 0) {
        hooks->fromAllowed =
            hooks->fromPid != hooks->ownProcess && allowedProcess(active, hooks->fromPid);
    }
    if (!next.logging && log.isActive()) {
        log.stop();
        applied.loggingStopped = true;
    }
    return applied;
}

} // namespace tavelio
