// The re-input run: delete the recorded text in the foreground application,
// switch its IME on in kana mode and type the same keys again.
#pragma once

#include "capture/hook_context.h"
#include "capture/input_buffer.h"
#include "platform/platform.h"
#include "settings/settings.h"

#include <atomic>
#include <cstdint>
#include <mutex>

namespace tavelio {

// The parts of the application state a run reads and changes.
struct ExecuteContext {
    const Settings& settings;                   // enabled, romajiOnly, reinputDelayMs
    InputBuffer* buffer;                        // may be absent
    std::atomic<std::uint32_t>& sessionCounter; // numbers the runs
    platform::WindowHandle& keyFallbackWindow;  // left by enableIme for waitImeReady
    RunWatch& run;                              // the user's presses and a stop request
    // The window in front at the hotkey press, as the request named it; 0:
    // whichever window is in front as the run starts.
    platform::WindowHandle requestWindow = 0;
    // The hooks' lock on the buffer and the settings (see HookContext); none
    // where no hooks run.
    std::mutex* recordLock = nullptr;
    // The hook took the press for the field alone (no usable record): it goes
    // back to the application when the field holds nothing to convert, or
    // cannot be read after all.
    bool forField = false;
};

// One run, to its end, on the GUI thread (never the hooks').
void executeReinput(ExecuteContext& context) noexcept;

} // namespace tavelio
