// The low-level hook procedures: thin adapters from the Win32 records to the
// portable decisions in capture/.
#pragma once

#include <windows.h>

#include "app/hook_watch.h"

namespace tavelio {

LRESULT CALLBACK keyboardHookProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK mouseHookProc(int code, WPARAM wParam, LPARAM lParam);

inline constexpr HookProcedures AppHookProcedures{keyboardHookProc, mouseHookProc};

} // namespace tavelio
