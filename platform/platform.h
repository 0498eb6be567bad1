// The one door through which capture, reinput, ime, settings and log reach the
// operating system. Two implementations exist: platform/win32 (the real calls)
// and tests/support (a scriptable fake). Which one is linked is a build choice.
//
// This header must compile next to <windows.h>, so it never reuses a Win32
// macro name for its own constants.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavelio::platform {

// Handles are plain integers of pointer size in portable code.
using WindowHandle = std::uintptr_t;
using ImeContext = std::uintptr_t;
using KeyboardLayout = std::uintptr_t;
using ProcessHandle = std::uintptr_t;
using HookHandle = std::uintptr_t;

// ---------------------------------------------------------------- keyboard

// GetAsyncKeyState: high bit set means the key is down right now.
bool isKeyDown(std::uint8_t vk);
// GetKeyState: low bit set means the key (Caps Lock, Num Lock...) is toggled on.
bool isKeyToggled(std::uint8_t vk);

// GetKeyboardLayout of a thread (0 means the calling thread).
KeyboardLayout keyboardLayout(std::uint32_t threadId);
// ToUnicodeEx. keyState has 256 entries.
int toUnicode(std::uint32_t vk, std::uint32_t scanCode, const std::uint8_t* keyState, char16_t* out,
              int capacity, std::uint32_t flags, KeyboardLayout layout);
// MapVirtualKeyExW.
std::uint32_t mapVirtualKey(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout);
// VkKeyScanExW: low byte virtual key, high byte shift state, -1 when no key produces ch.
std::int16_t vkKeyScan(char16_t ch, KeyboardLayout layout);

// One keyboard INPUT record, field for field.
struct KeyInput {
    std::uint16_t vk = 0;
    std::uint16_t scan = 0;
    std::uint32_t flags = 0;
    std::uint32_t time = 0;
    std::uintptr_t extraInfo = 0;

    friend bool operator==(const KeyInput&, const KeyInput&) = default;
};

// SendInput of keyboard records; returns how many the system accepted.
std::uint32_t sendInput(const KeyInput* records, std::uint32_t count);
void setLastError(std::uint32_t code);
std::uint32_t lastError();

// ------------------------------------------------------- low-level hooks

// A hook procedure as SetWindowsHookExW takes it on x64 (LRESULT, WPARAM, LPARAM).
using HookProcedure = std::intptr_t (*)(int code, std::uintptr_t wParam, std::intptr_t lParam);
enum class HookKind { keyboard, mouse }; // WH_KEYBOARD_LL, WH_MOUSE_LL

// SetWindowsHookExW(kind, procedure, no module, thread 0); 0 on failure.
HookHandle installHook(HookKind kind, HookProcedure procedure);
// UnhookWindowsHookEx; false for a hook the system no longer holds.
bool unhookWindowsHook(HookHandle hook);
// GetLastInputInfo: the tick count of the session's last input event.
std::uint32_t lastInputTick();

// ----------------------------------------------------------------- windows

WindowHandle foregroundWindow();
// GetWindowThreadProcessId: returns the thread id (0 for an invalid window)
// and stores the process id when processId is given.
std::uint32_t windowThreadProcessId(WindowHandle window, std::uint32_t* processId);
// GetGUIThreadInfo(threadId).hwndFocus; false when the call fails.
bool guiThreadFocus(std::uint32_t threadId, WindowHandle& focus);
bool attachThreadInput(std::uint32_t from, std::uint32_t to, bool attach);
std::uint32_t currentThreadId();
std::uint32_t currentProcessId();

// EnumChildWindows: walks every descendant; the callback returns false to stop.
using ChildCallback = bool (*)(WindowHandle child, void* context);
void enumChildWindows(WindowHandle parent, ChildCallback callback, void* context);

// GetClassNameW / GetWindowTextW into a buffer of the given capacity
// (terminator included); returns the characters stored.
std::size_t className(WindowHandle window, char16_t* buffer, int capacity);
std::size_t windowText(WindowHandle window, char16_t* buffer, int capacity);
// GetWindowLongW(GWL_STYLE); 0 for a window that is gone.
std::uint32_t windowStyle(WindowHandle window);

bool postMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam);
// SendMessageTimeoutW; returns the call's own result, the message result in result.
std::intptr_t sendMessageTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                                 std::uintptr_t* result);

// ----------------------------------------------------------- UI Automation

// What the focused UI Automation element tells of its text around the caret
// (its TextPattern), never the whole document. Text is read only when
// maxUnits > 0: 0 asks whether there is a text to read at all.
struct CaretText {
    enum class State {
        none, // no text to read: no such element, another process's, a password
        busy, // it did not answer in time
        read,
    };
    State state = State::none;
    std::u16string beforeCaret; // at most maxUnits characters ending at the caret
    std::u16string selection;   // its first maxUnits units; empty: nothing selected
    bool severalSelections = false;
};
// The focused element must belong to the process of `focus`. Each question
// is bounded by timeoutMs.
CaretText textAroundCaret(WindowHandle focus, std::size_t maxUnits, std::uint32_t timeoutMs);

// --------------------------------------------------------------- processes

// OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION); 0 on failure.
ProcessHandle openProcessForQuery(std::uint32_t processId);
// QueryFullProcessImageNameW (Win32 path form) into a buffer of `capacity`.
bool queryProcessImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t capacity,
                           std::uint32_t& length);
void closeProcessHandle(ProcessHandle process);

// ------------------------------------------------------------------- IMM32

ImeContext immGetContext(WindowHandle window);
bool immReleaseContext(WindowHandle window, ImeContext context);
bool immGetOpenStatus(ImeContext context);
bool immSetOpenStatus(ImeContext context, bool open);
bool immGetConversionStatus(ImeContext context, std::uint32_t& conversion, std::uint32_t& sentence);
bool immSetConversionStatus(ImeContext context, std::uint32_t conversion, std::uint32_t sentence);
WindowHandle immGetDefaultImeWindow(WindowHandle window);

// ------------------------------------------------------- notification area

// The program's notification icon as Shell_NotifyIconW gets it: its callback
// message, its icon and its tooltip.
struct TrayIconData {
    WindowHandle window = 0;
    std::uint32_t id = 0;
    std::uint32_t callbackMessage = 0;
    std::uintptr_t icon = 0; // an HICON, owned by whoever filled the record
    std::u16string tip;      // the shell shows at most 127 units
};
// NIM_ADD, NIM_MODIFY, NIM_DELETE, and NIM_SETVERSION to NOTIFYICON_VERSION_4.
enum class TrayCall { add, modify, remove, setVersion };

// Shell_NotifyIconW; false when the shell refused, or there is none yet.
bool notifyTrayIcon(TrayCall call, const TrayIconData& icon);

// ---------------------------------------------------------- kernel objects

using KernelHandle = std::uintptr_t;

// CreateMutexW(no security attributes, owned by the caller, name).
struct MutexCreation {
    KernelHandle handle = 0; // 0 when none could be made
    bool existed = false;    // the name was taken already (ERROR_ALREADY_EXISTS)
    std::uint32_t error = 0; // GetLastError when none could be made
};
MutexCreation createOwnedMutex(const std::u16string& name);
void closeKernelHandle(KernelHandle handle);

// -------------------------------------------------------------------- time

std::uint32_t tickCount();
void sleepMs(std::uint32_t milliseconds);

struct LocalTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t millisecond = 0;
};
LocalTime localTime();

// ------------------------------------------------------------------- files
// Paths are Windows paths in UTF-16, joined with backslashes.

// SHGetKnownFolderPath(FOLDERID_RoamingAppData); nullopt when it fails.
std::optional<std::u16string> roamingAppDataFolder();

inline std::u16string joinPath(std::u16string folder, std::u16string_view name) {
    if (!folder.empty() && folder.back() != u'\\') {
        folder += u'\\';
    }
    folder += name;
    return folder;
}
// The Tavelio folder of the roaming application data; empty, so the current
// directory for what is joined to it, when that folder cannot be found.
inline std::u16string appDataFolder() {
    const auto roaming = roamingAppDataFolder();
    return roaming ? joinPath(*roaming, u"Tavelio") : std::u16string();
}

enum class PathState { missing, present, unknown };
PathState pathState(const std::u16string& path);
// Creates the folder and every missing parent; true when it exists afterwards.
bool createDirectories(const std::u16string& path);
bool removeFile(const std::u16string& path);
// The whole content, or nullopt when the file cannot be opened and read.
std::optional<std::string> readFile(const std::u16string& path);
// Creates the file and writes it, only when nothing exists at the path yet;
// false when something does or the file cannot be created.
bool createNewFile(const std::u16string& path, std::string_view bytes);
// Writes the bytes to a new file beside the path, flushes it, then moves it
// over the path in one step, so that a crash or a full disk leaves either the
// old file or the new one. 0 on success, else the Windows error code (a
// read-only file, a folder there, a file in use); the old file then stays and
// the new one goes.
std::uint32_t replaceFile(const std::u16string& path, std::string_view bytes);
// Opens for append-data only with read and write sharing (open-or-create),
// writes the bytes in one call, flushes and closes. False when the open fails.
bool appendAndFlush(const std::u16string& path, std::string_view bytes);

} // namespace tavelio::platform
