// The seam's real implementation: thin calls into Win32, converting UTF-16
// between char16_t and wchar_t (both 16 bits on Windows) at the boundary.
#include <windows.h>

#include <imm.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/platform.h"
#include "platform/unique_handle.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <system_error>
#include <type_traits>

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace tavelio::platform {

namespace {
HWND hwnd(WindowHandle w) {
    return reinterpret_cast<HWND>(w);
}
HIMC himc(ImeContext c) {
    return reinterpret_cast<HIMC>(c);
}
HKL hkl(KeyboardLayout l) {
    return reinterpret_cast<HKL>(l);
}
const wchar_t* wide(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
std::filesystem::path fsPath(const std::u16string& s) {
    return std::filesystem::path(wide(s));
}

// A file opened for one operation; null when the open failed.
using UniqueFile = UniqueHandle<HANDLE, CloseHandle>;
UniqueFile openFile(const std::u16string& path, DWORD access, DWORD share, DWORD disposition) {
    const HANDLE file = CreateFileW(wide(path), access, share, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    // CreateFileW fails with INVALID_HANDLE_VALUE, not null.
    return UniqueFile(file != INVALID_HANDLE_VALUE ? file : nullptr);
}
} // namespace

bool isKeyDown(std::uint8_t vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}
bool isKeyToggled(std::uint8_t vk) {
    return (GetKeyState(vk) & 0x0001) != 0;
}

KeyboardLayout keyboardLayout(std::uint32_t threadId) {
    return reinterpret_cast<KeyboardLayout>(GetKeyboardLayout(threadId));
}

int toUnicode(std::uint32_t vk, std::uint32_t scanCode, const std::uint8_t* keyState, char16_t* out,
              int capacity, std::uint32_t flags, KeyboardLayout layout) {
    return ToUnicodeEx(vk, scanCode, keyState, reinterpret_cast<wchar_t*>(out), capacity, flags,
                       hkl(layout));
}

std::uint32_t mapVirtualKey(std::uint32_t code, std::uint32_t mapType, KeyboardLayout layout) {
    return MapVirtualKeyExW(code, mapType, hkl(layout));
}

std::int16_t vkKeyScan(char16_t ch, KeyboardLayout layout) {
    return VkKeyScanExW(static_cast<wchar_t>(ch), hkl(layout));
}

std::uint32_t sendInput(const KeyInput* records, std::uint32_t count) {
    // Stack room for the common case; a text character needs at most 8 records.
    INPUT inputs[16];
    std::uint32_t accepted = 0;
    for (std::uint32_t start = 0; start < count;) {
        const std::uint32_t n = (count - start < 16) ? count - start : 16;
        for (std::uint32_t i = 0; i < n; ++i) {
            const KeyInput& r = records[start + i];
            inputs[i] = {};
            inputs[i].type = INPUT_KEYBOARD;
            inputs[i].ki.wVk = r.vk;
            inputs[i].ki.wScan = r.scan;
            inputs[i].ki.dwFlags = r.flags;
            inputs[i].ki.time = r.time;
            inputs[i].ki.dwExtraInfo = r.extraInfo;
        }
        const UINT sent = SendInput(n, inputs, sizeof(INPUT));
        accepted += sent;
        if (sent != n) {
            break;
        }
        start += n;
    }
    return accepted;
}

void setLastError(std::uint32_t code) {
    SetLastError(code);
}
std::uint32_t lastError() {
    return GetLastError();
}

static_assert(std::is_same_v<HookProcedure, HOOKPROC>);

HookHandle installHook(HookKind kind, HookProcedure procedure) {
    const int id = kind == HookKind::keyboard ? WH_KEYBOARD_LL : WH_MOUSE_LL;
    return reinterpret_cast<HookHandle>(SetWindowsHookExW(id, procedure, nullptr, 0));
}

bool unhookWindowsHook(HookHandle hook) {
    return UnhookWindowsHookEx(reinterpret_cast<HHOOK>(hook)) != FALSE;
}

std::uint32_t lastInputTick() {
    LASTINPUTINFO info{};
    info.cbSize = sizeof(info);
    // Without an answer, input "just now" is what no watchdog acts on.
    return GetLastInputInfo(&info) ? info.dwTime : GetTickCount();
}

WindowHandle foregroundWindow() {
    return reinterpret_cast<WindowHandle>(GetForegroundWindow());
}

std::uint32_t windowThreadProcessId(WindowHandle window, std::uint32_t* processId) {
    DWORD pid = 0;
    const DWORD tid = GetWindowThreadProcessId(hwnd(window), &pid);
    if (processId != nullptr) {
        *processId = pid;
    }
    return tid;
}

bool guiThreadFocus(std::uint32_t threadId, WindowHandle& focus) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    focus = 0;
    if (!GetGUIThreadInfo(threadId, &info)) {
        return false;
    }
    focus = reinterpret_cast<WindowHandle>(info.hwndFocus);
    return true;
}

bool attachThreadInput(std::uint32_t from, std::uint32_t to, bool attach) {
    return AttachThreadInput(from, to, attach ? TRUE : FALSE) != FALSE;
}

std::uint32_t currentThreadId() {
    return GetCurrentThreadId();
}
std::uint32_t currentProcessId() {
    return GetCurrentProcessId();
}

namespace {
struct EnumState {
    ChildCallback callback;
    void* context;
};
BOOL CALLBACK enumChild(HWND child, LPARAM lParam) {
    auto* state = reinterpret_cast<EnumState*>(lParam);
    return state->callback(reinterpret_cast<WindowHandle>(child), state->context) ? TRUE : FALSE;
}
} // namespace

void enumChildWindows(WindowHandle parent, ChildCallback callback, void* context) {
    EnumState state{callback, context};
    EnumChildWindows(hwnd(parent), enumChild, reinterpret_cast<LPARAM>(&state));
}

std::size_t className(WindowHandle window, char16_t* buffer, int capacity) {
    const int n = GetClassNameW(hwnd(window), reinterpret_cast<wchar_t*>(buffer), capacity);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::size_t windowText(WindowHandle window, char16_t* buffer, int capacity) {
    const int n = GetWindowTextW(hwnd(window), reinterpret_cast<wchar_t*>(buffer), capacity);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::uint32_t windowStyle(WindowHandle window) {
    return static_cast<std::uint32_t>(GetWindowLongW(hwnd(window), GWL_STYLE));
}

bool postMessage(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                 std::intptr_t lParam) {
    return PostMessageW(hwnd(window), message, wParam, lParam) != FALSE;
}

std::intptr_t sendMessageTimeout(WindowHandle window, std::uint32_t message, std::uintptr_t wParam,
                                 std::intptr_t lParam, std::uint32_t flags, std::uint32_t timeoutMs,
                                 std::uintptr_t* result) {
    DWORD_PTR answer = 0;
    const LRESULT delivered =
        SendMessageTimeoutW(hwnd(window), message, wParam, lParam, flags, timeoutMs, &answer);
    if (result != nullptr) {
        *result = answer;
    }
    return delivered;
}

ProcessHandle openProcessForQuery(std::uint32_t processId) {
    return reinterpret_cast<ProcessHandle>(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
}

bool queryProcessImagePath(ProcessHandle process, char16_t* buffer, std::uint32_t capacity,
                           std::uint32_t& length) {
    DWORD size = capacity;
    const bool ok = QueryFullProcessImageNameW(reinterpret_cast<HANDLE>(process), 0,
                                               reinterpret_cast<wchar_t*>(buffer), &size) != FALSE;
    length = ok ? size : 0;
    return ok;
}

void closeProcessHandle(ProcessHandle process) {
    if (process != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(process));
    }
}

ImeContext immGetContext(WindowHandle window) {
    return reinterpret_cast<ImeContext>(ImmGetContext(hwnd(window)));
}
bool immReleaseContext(WindowHandle window, ImeContext context) {
    return ImmReleaseContext(hwnd(window), himc(context)) != FALSE;
}
bool immGetOpenStatus(ImeContext context) {
    return ImmGetOpenStatus(himc(context)) != FALSE;
}
bool immSetOpenStatus(ImeContext context, bool open) {
    return ImmSetOpenStatus(himc(context), open ? TRUE : FALSE) != FALSE;
}
bool immGetConversionStatus(ImeContext context, std::uint32_t& conversion,
                            std::uint32_t& sentence) {
    DWORD conv = 0;
    DWORD sent = 0;
    const bool ok = ImmGetConversionStatus(himc(context), &conv, &sent) != FALSE;
    conversion = conv;
    sentence = sent;
    return ok;
}
bool immSetConversionStatus(ImeContext context, std::uint32_t conversion, std::uint32_t sentence) {
    return ImmSetConversionStatus(himc(context), conversion, sentence) != FALSE;
}
WindowHandle immGetDefaultImeWindow(WindowHandle window) {
    return reinterpret_cast<WindowHandle>(ImmGetDefaultIMEWnd(hwnd(window)));
}

bool notifyTrayIcon(TrayCall call, const TrayIconData& icon) {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = hwnd(icon.window);
    data.uID = icon.id;
    if (call == TrayCall::add || call == TrayCall::modify) {
        // Version 4 would hide the tooltip without NIF_SHOWTIP.
        data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
        data.uCallbackMessage = icon.callbackMessage;
        data.hIcon = reinterpret_cast<HICON>(icon.icon);
        const std::size_t length = std::min(icon.tip.size(), std::size(data.szTip) - 1);
        std::copy_n(icon.tip.data(), length, data.szTip);
    }
    DWORD message = NIM_DELETE;
    switch (call) {
    case TrayCall::add:
        message = NIM_ADD;
        break;
    case TrayCall::modify:
        message = NIM_MODIFY;
        break;
    case TrayCall::remove:
        break;
    case TrayCall::setVersion:
        message = NIM_SETVERSION;
        data.uVersion = NOTIFYICON_VERSION_4;
        break;
    }
    return Shell_NotifyIconW(message, &data) != FALSE;
}

MutexCreation createOwnedMutex(const std::u16string& name) {
    const HANDLE mutex = CreateMutexW(nullptr, TRUE, wide(name));
    const DWORD error = GetLastError();
    MutexCreation created;
    created.handle = reinterpret_cast<KernelHandle>(mutex);
    created.existed = mutex != nullptr && error == ERROR_ALREADY_EXISTS;
    created.error = mutex == nullptr ? error : 0;
    return created;
}

void closeKernelHandle(KernelHandle handle) {
    if (handle != 0) {
        CloseHandle(reinterpret_cast<HANDLE>(handle));
    }
}

std::uint32_t tickCount() {
    return GetTickCount();
}
void sleepMs(std::uint32_t milliseconds) {
    // A run waits on the thread of the program's windows: what another
    // program sends them meanwhile (the end of the session, which must stop
    // the run) is answered; posted messages wait for the message loop.
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= milliseconds) {
            return;
        }
        const DWORD woke =
            MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - elapsed, QS_SENDMESSAGE, 0);
        if (woke == WAIT_OBJECT_0) {
            MSG message;
            PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        } else if (woke != WAIT_TIMEOUT) {
            Sleep(milliseconds - elapsed);
            return;
        }
    }
}

LocalTime localTime() {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::optional<std::u16string> roamingAppDataFolder() {
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &path);
    const UniqueHandle<PWSTR, CoTaskMemFree> folder(path); // allocated even on some failures
    if (FAILED(hr) || !folder) {
        return std::nullopt;
    }
    return std::u16string(reinterpret_cast<const char16_t*>(folder.get()));
}

PathState pathState(const std::u16string& path) {
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(fsPath(path), ec);
    if (status.type() == std::filesystem::file_type::not_found) {
        return PathState::missing;
    }
    return ec ? PathState::unknown : PathState::present;
}

bool createDirectories(const std::u16string& path) {
    std::error_code ec;
    std::filesystem::create_directories(fsPath(path), ec);
    return std::filesystem::is_directory(fsPath(path), ec);
}

bool removeFile(const std::u16string& path) {
    return DeleteFileW(wide(path)) != FALSE;
}

std::optional<std::string> readFile(const std::u16string& path) {
    const UniqueFile file =
        openFile(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char chunk[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr)) {
            return std::nullopt;
        }
        if (read == 0) {
            return content;
        }
        content.append(chunk, read);
    }
}

bool createNewFile(const std::u16string& path, std::string_view bytes) {
    const UniqueFile file = openFile(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    if (!file) {
        return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) != FALSE &&
           written == bytes.size();
}

std::uint32_t replaceFile(const std::u16string& path, std::string_view bytes) {
    const std::u16string temporary = path + u".new";
    {
        const UniqueFile file = openFile(temporary, GENERIC_WRITE, 0, CREATE_ALWAYS);
        if (!file) {
            return GetLastError();
        }
        DWORD written = 0;
        const bool complete = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                        &written, nullptr) != FALSE &&
                              written == bytes.size() && FlushFileBuffers(file.get()) != FALSE;
        if (!complete) {
            const DWORD error = GetLastError();
            DeleteFileW(wide(temporary));
            return error != 0 ? error : ERROR_WRITE_FAULT;
        }
    }
    // A read-only target, a folder in its place or a file open without delete
    // sharing refuse the move: the user's file stays as it was.
    if (!MoveFileExW(wide(temporary), wide(path),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(wide(temporary));
        return error != 0 ? error : ERROR_ACCESS_DENIED;
    }
    return 0;
}

bool appendAndFlush(const std::u16string& path, std::string_view bytes) {
    const UniqueFile file =
        openFile(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
    if (!file) {
        return false;
    }
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FlushFileBuffers(file.get());
    return true;
}

} // namespace tavelio::platform
