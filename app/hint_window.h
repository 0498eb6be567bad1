// The hint beside the caret: a small window that never takes the focus, a key
// or a click, showing the kana the hotkey would type. It lives on the GUI
// thread; the hooks and the watcher only post to it.
#pragma once

#include <windows.h>

namespace tavelio {

inline constexpr wchar_t HintWindowClass[] = L"TavelioHintWindow";
// Posted by the watcher's thread: new facts are on the board.
inline constexpr UINT HintFactsMessage = WM_APP + 6;

bool createHintWindow(HINSTANCE instance);
void destroyHintWindow();

// Something the hint goes by changed on this thread (the settings, Pause).
void lookAgainAtHint();
// The hotkey was pressed: the run begins, and the hint goes first.
void hintRunBegins();

} // namespace tavelio
