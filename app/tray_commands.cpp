#include "app/tray_commands.h"

#include "app/app_state.h"
#include "app/ui_text.h"
#include "log/diagnostic_log.h"
#include "resources/resource_ids.h"
#include "settings/settings_file.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace tavelio {

namespace {

// The value the installer writes too, and its uninstaller removes.
constexpr wchar_t RunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t RunValue[] = L"Tavelio";
// Where Task Manager and Settings > Apps > Startup keep their switch for each
// Run value of the same name: none means on, an odd first byte means off.
constexpr wchar_t StartupApprovedKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

std::wstring wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring exePath() {
    std::wstring path(MAX_PATH, L'\0');
    while (path.size() <= 0x10000) {
        const DWORD length =
            GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
    return {};
}

std::optional<std::wstring> runCommand() {
    std::wstring data(0x8000, L'\0');
    DWORD type = 0;
    auto bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    // SHGetValueW expands a REG_EXPAND_SZ value and reports it as REG_SZ.
    if (SHGetValueW(HKEY_CURRENT_USER, RunKey, RunValue, &type, data.data(), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    data.resize(wcsnlen(data.c_str(), bytes / sizeof(wchar_t)));
    return data;
}

bool switchedOffAtStartup() {
    BYTE data[64]{};
    DWORD type = 0;
    DWORD bytes = sizeof(data);
    return SHGetValueW(HKEY_CURRENT_USER, StartupApprovedKey, RunValue, &type, data, &bytes) ==
               ERROR_SUCCESS &&
           type == REG_BINARY && bytes > 0 && (data[0] & 1) != 0;
}

// The program a command line starts: the quoted part, or the whole line.
std::wstring_view programOf(std::wstring_view command) {
    const auto first = command.find_first_not_of(L' ');
    if (first == std::wstring_view::npos) {
        return {};
    }
    command.remove_prefix(first);
    if (command.front() == L'"') {
        command.remove_prefix(1);
        return command.substr(0, command.find(L'"'));
    }
    return command.substr(0, command.find_last_not_of(L' ') + 1);
}

// COM for the shell's handlers, for one call on this thread.
class ComScope {
public:
    ComScope()
        : initialized_(SUCCEEDED(
              CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    ~ComScope() {
        if (initialized_) {
            CoUninitialize();
        }
    }

private:
    bool initialized_;
};

bool shellOpen(const wchar_t* verb, const std::wstring& file, const wchar_t* parameters,
               ULONG mask) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    // Done before COM goes again: the shell may hand the work to another thread.
    info.fMask = SEE_MASK_NOASYNC | mask;
    info.lpVerb = verb;
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) != FALSE;
}

// The shell resolves file types and starts the editor at its own pace, and the
// low-level hooks are answered on the GUI thread: a hook that misses its
// timeout is removed without a word. So the shell is called from a worker
// that ends with its one call.
template <typename Work> void runOffGuiThread(Work work) {
    try {
        std::thread([work = std::move(work)] {
            const ComScope com;
            work();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: nothing opens, the keys keep flowing.
    }
}

// A balloon from the tray icon (a notification on Windows 10 and 11).
void showNotice(const std::wstring& text) {
    const platform::TrayIconData& icon = appState().trayIcon.presence.data;
    NOTIFYICONDATAW notice{};
    notice.cbSize = sizeof(notice);
    notice.hWnd = reinterpret_cast<HWND>(icon.window);
    notice.uID = icon.id;
    notice.uFlags = NIF_INFO;
    wcsncpy(notice.szInfo, text.c_str(), std::size(notice.szInfo) - 1);
    wcsncpy(notice.szInfoTitle, L"Tavelio", std::size(notice.szInfoTitle) - 1);
    notice.dwInfoFlags = NIIF_INFO;
    Shell_NotifyIconW(NIM_MODIFY, &notice);
}

} // namespace

bool startsWithWindows() {
    const auto command = runCommand();
    const std::wstring self = exePath();
    if (!command || self.empty() || switchedOffAtStartup()) {
        return false;
    }
    const std::wstring_view program = programOf(*command);
    return CompareStringOrdinal(program.data(), static_cast<int>(program.size()), self.data(),
                                static_cast<int>(self.size()), TRUE) == CSTR_EQUAL;
}

StartupChange toggleStartWithWindows() {
    StartupChange change;
    change.starts = !startsWithWindows();
    // Either way the user has decided here: a switch set elsewhere goes.
    LSTATUS unswitched = SHDeleteValueW(HKEY_CURRENT_USER, StartupApprovedKey, RunValue);
    if (unswitched == ERROR_FILE_NOT_FOUND) {
        unswitched = ERROR_SUCCESS;
    }
    LSTATUS status = ERROR_SUCCESS;
    if (!change.starts) {
        status = SHDeleteValueW(HKEY_CURRENT_USER, RunKey, RunValue);
    } else if (const std::wstring self = exePath(); self.empty()) {
        status = static_cast<LSTATUS>(GetLastError());
    } else {
        const std::wstring command = L"\"" + self + L"\"";
        status = SHSetValueW(HKEY_CURRENT_USER, RunKey, RunValue, REG_SZ, command.c_str(),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    }
    // A policy may guard the Run key, or leave a switch that keeps it off.
    if (status == ERROR_SUCCESS && startsWithWindows() != change.starts) {
        status = unswitched != ERROR_SUCCESS ? unswitched : ERROR_ACCESS_DENIED;
    }
    change.error = static_cast<std::uint32_t>(status);
    return change;
}

void openSettingsFile() {
    // A file deleted since the start comes back with the defaults, as at a start.
    ensureSettingsFile(Settings{});
    // The editor the file type names, else what opens it, else Notepad: Windows
    // may associate nothing with .json.
    runOffGuiThread([file = wide(settingsFilePath())] {
        if (!shellOpen(L"edit", file, nullptr, SEE_MASK_FLAG_NO_UI) &&
            !shellOpen(nullptr, file, nullptr, SEE_MASK_FLAG_NO_UI)) {
            const std::wstring quoted = L"\"" + file + L"\"";
            shellOpen(nullptr, L"notepad.exe", quoted.c_str(), 0);
        }
    });
    showNotice(uiText(IDS_SETTINGS_NEXT_START));
}

void openLogsFolder() {
    const std::wstring log = wide(diagnosticLog().path(LogChannel::Input));
    const auto slash = log.rfind(L'\\');
    if (slash == std::wstring::npos) {
        return;
    }
    runOffGuiThread([folder = log.substr(0, slash)] { shellOpen(nullptr, folder, nullptr, 0); });
}

} // namespace tavelio
