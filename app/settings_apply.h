// Putting a saved settings record to work at once, without a restart.
// Portable: the settings window calls it on the GUI thread, between runs.
#pragma once

#include "capture/hook_context.h"
#include "capture/input_buffer.h"
#include "log/diagnostic_log.h"
#include "settings/settings.h"

namespace tavelio {

// What applying changed beyond the fields the hooks and runs read anew.
struct SettingsApplied {
    bool bufferRenewed = false;  // another length: a new, empty buffer
    bool loggingStarted = false; // with its START lines
    bool loggingStopped = false; // after its STOP lines
};

// Makes `next` the active record, all but `enabled`: Pause is the tray's and
// is never saved. With `hooks` (may be absent) it holds their record's lock
// meanwhile; whether the program in front is one to leave alone is the
// watcher's to read again.
SettingsApplied applySettings(Settings& active, InputBuffer& buffer, HookContext* hooks,
                              DiagnosticLog& log, const Settings& next);

} // namespace tavelio
