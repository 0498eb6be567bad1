// Clearing events that are not keys (mouse presses, a new foreground
// process), and the filter that leaves excluded applications alone.
#pragma once

#include "capture/hook_context.h"

#include <cstdint>
#include <string_view>

namespace tavelio {

// The process that owns the foreground window; 0 when there is none.
std::uint32_t foregroundProcessId();

// Clears the buffer when the foreground window differs from the one seen at
// the last key press, with reason foreground_process when its process
// differs too (the very first press only records them). Whether a process
// takes part is the watcher's to read. Returns the foreground process
// id it saw, 0 when it could not tell.
std::uint32_t checkForegroundProcess(HookContext& context);

// Whether the foreground application takes part: false only when appMode is
// exactly "all" and its executable's file name is in excludedApps.
bool allowedApp(const Settings& settings);
// The same for a foreground process already known (0: unknown, so allowed).
bool allowedProcess(const Settings& settings, std::uint32_t processId);

// towlower as the C runtime does it in the "C" locale: A-Z only, so both
// builds agree on every name.
constexpr char16_t asciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}
bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

} // namespace tavelio
