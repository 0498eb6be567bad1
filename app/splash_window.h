// The start-up picture: a borderless, rounded 640x300 window (at 100 %; it
// grows with the display's DPI) that closes itself after its timer.
#pragma once

#include <windows.h>

namespace tavelio {

inline constexpr wchar_t SplashWindowClass[] = L"TavelioSplashWindow";
inline constexpr UINT_PTR SplashTimerId = 1;
inline constexpr UINT SplashTimeoutMs = 1400;
inline constexpr int SplashWidth = 640;
inline constexpr int SplashHeight = 300;

LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void paintSplash(HWND window);

} // namespace tavelio
