// The portable constants, checked once against the Windows headers.
#include <windows.h>

#include <ime.h>
#include <imm.h>

#include "platform/constants.h"

namespace tavelio {

static_assert(ExecuteRequestMessage == WM_APP + 2);

static_assert(vk::Back == VK_BACK && vk::Tab == VK_TAB && vk::Return == VK_RETURN);
static_assert(vk::Shift == VK_SHIFT && vk::Control == VK_CONTROL && vk::Menu == VK_MENU);
static_assert(vk::LShift == VK_LSHIFT && vk::RShift == VK_RSHIFT);
static_assert(vk::LControl == VK_LCONTROL && vk::RControl == VK_RCONTROL);
static_assert(vk::LMenu == VK_LMENU && vk::RMenu == VK_RMENU);
static_assert(vk::LWin == VK_LWIN && vk::RWin == VK_RWIN);
static_assert(vk::Capital == VK_CAPITAL && vk::NumLock == VK_NUMLOCK && vk::Scroll == VK_SCROLL);
static_assert(vk::Escape == VK_ESCAPE && vk::Space == VK_SPACE && vk::Delete == VK_DELETE);
static_assert(vk::Prior == VK_PRIOR && vk::Next == VK_NEXT && vk::End == VK_END);
static_assert(vk::Home == VK_HOME && vk::Left == VK_LEFT && vk::Up == VK_UP);
static_assert(vk::Right == VK_RIGHT && vk::Down == VK_DOWN);
static_assert(vk::Numpad0 == VK_NUMPAD0 && vk::F1 == VK_F1);
static_assert(vk::F10 == VK_F10 && vk::F24 == VK_F24);
static_assert(vk::Insert == VK_INSERT && vk::Apps == VK_APPS);
static_assert(vk::Kanji == VK_KANJI && vk::Convert == VK_CONVERT &&
              vk::Nonconvert == VK_NONCONVERT);
static_assert(vk::DbeHiragana == VK_DBE_HIRAGANA);
static_assert(vk::ImeOn == VK_IME_ON && vk::ImeOff == VK_IME_OFF);

static_assert(msg::KeyDown == WM_KEYDOWN && msg::KeyUp == WM_KEYUP);
static_assert(msg::SysKeyDown == WM_SYSKEYDOWN && msg::SysKeyUp == WM_SYSKEYUP);
static_assert(msg::ImeControl == WM_IME_CONTROL && msg::MouseMove == WM_MOUSEMOVE);
static_assert(msg::LButtonDown == WM_LBUTTONDOWN && msg::LButtonUp == WM_LBUTTONUP);
static_assert(msg::RButtonDown == WM_RBUTTONDOWN && msg::RButtonUp == WM_RBUTTONUP);
static_assert(msg::MButtonDown == WM_MBUTTONDOWN && msg::XButtonDown == WM_XBUTTONDOWN);
static_assert(msg::MouseWheel == WM_MOUSEWHEEL);

static_assert(keyevent::ExtendedKey == KEYEVENTF_EXTENDEDKEY && keyevent::KeyUp == KEYEVENTF_KEYUP);
static_assert(keyevent::Unicode == KEYEVENTF_UNICODE && keyevent::ScanCode == KEYEVENTF_SCANCODE);
static_assert(LowLevelKeyInjected == LLKHF_INJECTED && LowLevelMouseInjected == LLMHF_INJECTED);
static_assert(HookActionCode == HC_ACTION && MapVkToVscEx == MAPVK_VK_TO_VSC_EX);

static_assert(ime::CmodeNative == IME_CMODE_NATIVE);
static_assert(ime::CmodeFullShape == IME_CMODE_FULLSHAPE);
static_assert(ime::SmtoBlockAbortIfHung == (SMTO_BLOCK | SMTO_ABORTIFHUNG));
static_assert(msg::EmGetSel == EM_GETSEL && msg::EmLineIndex == EM_LINEINDEX &&
              msg::EmGetLine == EM_GETLINE && msg::EmLineFromChar == EM_LINEFROMCHAR);
static_assert(ime::SmtoAbortIfHung == (SMTO_NORMAL | SMTO_ABORTIFHUNG));
// The IMC_* numbers have no definition in MinGW's <imm.h> to compare with.

} // namespace tavelio
