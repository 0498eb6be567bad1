// Putting the two low-level hooks in, and putting them in again when Windows
// has taken them out: it removes a hook that misses LowLevelHooksTimeout and
// tells nobody, and the program would then stop listening until restarted.
// Portable: the shell's messages and timer call these.
#pragma once

#include "capture/hook_context.h"

#include <string_view>

namespace tavelio {

// What SetWindowsHookExW is given: the shell's hook procedures.
struct HookProcedures {
    platform::HookProcedure keyboard = nullptr;
    platform::HookProcedure mouse = nullptr;
};

// The watchdog's period: at most two wake-ups a minute.
inline constexpr std::uint32_t HookWatchIntervalMs = 30000;

// Installs a fresh keyboard and mouse hook for the context, then removes the
// ones it held: new before old, so that no input passes unwatched in between.
// When either cannot be installed the context keeps its hooks and the result
// is false.
bool installHooks(HookContext& context, const HookProcedures& procedures) noexcept;

// installHooks again, with a HOOKS_REINSTALLED line that names the reason
// (session_unlock, power_resume, tray_resume, missed_input).
bool reinstallHooks(HookContext& context, const HookProcedures& procedures,
                    std::u16string_view reason) noexcept;

// Raw input witnessed a key at witnessTick, a second or more after the
// keyboard hook's last call: the system no longer calls it. Cheap, and safe
// on any thread: the witness asks it on every key.
bool keyboardHookMissing(const HookContext& context, std::uint32_t witnessTick) noexcept;

// The watchdog's round, on the hooks' thread: the session had input that
// neither hook saw since they last ran (reason missed_input), or raw input
// reported keys that the keyboard hook did not see (reason missed_keyboard,
// also while they still come), so the system took them out; they go in
// again. True when it reinstalled.
bool watchHooks(HookContext& context, const HookProcedures& procedures) noexcept;

} // namespace tavelio
