// Windows numbers that portable code needs, under names that cannot collide
// with the macros of <windows.h> (platform/win32 checks them against it).
#pragma once

#include <cstdint>

namespace tavelio {

// Every keyboard event Tavelio injects carries this in dwExtraInfo ("TAVL").
inline constexpr std::uintptr_t InjectedInputMarker = 0x5441564C;

// Posted by the keyboard hook to the hidden window (WM_APP + 2).
inline constexpr std::uint32_t ExecuteRequestMessage = 0x8002;

namespace vk {
inline constexpr std::uint8_t Back = 0x08;
inline constexpr std::uint8_t Tab = 0x09;
inline constexpr std::uint8_t Return = 0x0D;
inline constexpr std::uint8_t Shift = 0x10;
inline constexpr std::uint8_t Control = 0x11;
inline constexpr std::uint8_t Menu = 0x12;
inline constexpr std::uint8_t Capital = 0x14;
inline constexpr std::uint8_t ImeOn = 0x16;
inline constexpr std::uint8_t Kanji = 0x19;
inline constexpr std::uint8_t ImeOff = 0x1A;
inline constexpr std::uint8_t Escape = 0x1B;
inline constexpr std::uint8_t Convert = 0x1C;
inline constexpr std::uint8_t Nonconvert = 0x1D;
inline constexpr std::uint8_t Space = 0x20;
inline constexpr std::uint8_t Prior = 0x21;
inline constexpr std::uint8_t Next = 0x22;
inline constexpr std::uint8_t End = 0x23;
inline constexpr std::uint8_t Home = 0x24;
inline constexpr std::uint8_t Left = 0x25;
inline constexpr std::uint8_t Up = 0x26;
inline constexpr std::uint8_t Right = 0x27;
inline constexpr std::uint8_t Down = 0x28;
inline constexpr std::uint8_t Insert = 0x2D;
inline constexpr std::uint8_t Delete = 0x2E;
inline constexpr std::uint8_t LWin = 0x5B;
inline constexpr std::uint8_t RWin = 0x5C;
inline constexpr std::uint8_t Apps = 0x5D;
inline constexpr std::uint8_t Numpad0 = 0x60;
inline constexpr std::uint8_t F1 = 0x70;
inline constexpr std::uint8_t F10 = 0x79;
inline constexpr std::uint8_t F24 = 0x87;
inline constexpr std::uint8_t NumLock = 0x90;
inline constexpr std::uint8_t Scroll = 0x91;
inline constexpr std::uint8_t LShift = 0xA0;
inline constexpr std::uint8_t RShift = 0xA1;
inline constexpr std::uint8_t LControl = 0xA2;
inline constexpr std::uint8_t RControl = 0xA3;
inline constexpr std::uint8_t LMenu = 0xA4;
inline constexpr std::uint8_t RMenu = 0xA5;
inline constexpr std::uint8_t DbeHiragana = 0xF2;
} // namespace vk

namespace msg {
inline constexpr std::uint32_t KeyDown = 0x0100;
inline constexpr std::uint32_t KeyUp = 0x0101;
inline constexpr std::uint32_t SysKeyDown = 0x0104;
inline constexpr std::uint32_t SysKeyUp = 0x0105;
inline constexpr std::uint32_t ImeControl = 0x0283;
// An edit control's own messages, which the system carries across processes.
inline constexpr std::uint32_t EmGetSel = 0x00B0;
inline constexpr std::uint32_t EmLineIndex = 0x00BB;
inline constexpr std::uint32_t EmGetLine = 0x00C4;
inline constexpr std::uint32_t EmLineFromChar = 0x00C9;
inline constexpr std::uint32_t MouseMove = 0x0200;
inline constexpr std::uint32_t LButtonDown = 0x0201;
inline constexpr std::uint32_t LButtonUp = 0x0202;
inline constexpr std::uint32_t RButtonDown = 0x0204;
inline constexpr std::uint32_t RButtonUp = 0x0205;
inline constexpr std::uint32_t MButtonDown = 0x0207;
inline constexpr std::uint32_t MouseWheel = 0x020A;
inline constexpr std::uint32_t XButtonDown = 0x020B;
} // namespace msg

namespace keyevent {
inline constexpr std::uint32_t ExtendedKey = 0x1;
inline constexpr std::uint32_t KeyUp = 0x2;
inline constexpr std::uint32_t Unicode = 0x4;
inline constexpr std::uint32_t ScanCode = 0x8;
} // namespace keyevent

// Low-level hook event flags.
inline constexpr std::uint32_t LowLevelKeyInjected = 0x10;   // LLKHF_INJECTED
inline constexpr std::uint32_t LowLevelMouseInjected = 0x01; // LLMHF_INJECTED
inline constexpr int HookActionCode = 0;                     // HC_ACTION

// MapVirtualKeyEx map type giving the scan code with its E0/E1 prefix.
inline constexpr std::uint32_t MapVkToVscEx = 4;

// ToUnicodeEx flag: leave the keyboard state, dead keys included, as it is
// (Windows 10 1607 and later).
inline constexpr std::uint32_t ToUnicodeKeepState = 0x4;

namespace ime {
inline constexpr std::uint32_t CmodeNative = 0x0001;
inline constexpr std::uint32_t CmodeFullShape = 0x0008;
inline constexpr std::uintptr_t ImcGetConversionMode = 0x0001;
inline constexpr std::uintptr_t ImcSetConversionMode = 0x0002;
inline constexpr std::uintptr_t ImcGetOpenStatus = 0x0005;
inline constexpr std::uintptr_t ImcSetOpenStatus = 0x0006;
inline constexpr std::uint32_t SmtoBlockAbortIfHung = 0x0003;
inline constexpr std::uint32_t SmtoAbortIfHung = 0x0002; // the caller's hooks are still answered
} // namespace ime

} // namespace tavelio
