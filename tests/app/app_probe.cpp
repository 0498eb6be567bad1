// A small outside observer of a running tavelio.exe, for the scripts in this
// folder: it finds the program's windows, sends them what another process
// could send, and times the splash. Each command prints what it saw on one
// line and exits 0 when the awaited thing happened, 1 when it did not, 2 on a
// usage error.
#include "tests/support/win32_tools.h"

#include <sddl.h>
#include <shellapi.h>

#include <cwchar>
#include <cwctype>
#include <string>
#include <utility>

namespace {

using namespace tavelio::win32test;

constexpr wchar_t HiddenClass[] = L"TavelioHiddenWindow";
constexpr wchar_t SplashClass[] = L"TavelioSplashWindow";
constexpr wchar_t MenuClass[] = L"#32768";
constexpr wchar_t HintClass[] = L"TavelioHintWindow";

HWND findVisible(const wchar_t* className) {
    HWND window = FindWindowW(className, nullptr);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

HWND findAny(const wchar_t* className) {
    return FindWindowW(className, nullptr);
}

std::wstring n(long long value) {
    return std::to_wstring(value);
}

std::wstring rectOf(const wchar_t* name, HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    return name + (L"=" + n(r.left) + L"," + n(r.top) + L"," + n(r.right - r.left) + L"," +
                   n(r.bottom - r.top));
}

int waitWindow(const wchar_t* className, DWORD timeoutMs, bool gone) {
    const long ms = waitFor([&] { return (findAny(className) == nullptr) == gone; }, timeoutMs);
    HWND window = gone ? nullptr : findAny(className);
    print((gone ? L"gone=" : L"found=") + n(ms >= 0 ? 1 : 0) + L" ms=" + n(ms) +
          (window != nullptr ? L" " + rectOf(L"rect", window) : L""));
    return ms >= 0 ? 0 : 1;
}

// Posts the message `times` times in a row, as a held key's auto-repeat would.
int post(const wchar_t* className, UINT message, WPARAM wParam, LPARAM lParam, DWORD times) {
    HWND window = findAny(className);
    bool posted = window != nullptr;
    for (DWORD i = 0; posted && i < times; ++i) {
        posted = PostMessageW(window, message, wParam, lParam) != 0;
    }
    print(L"posted=" + n(posted ? 1 : 0));
    return posted ? 0 : 1;
}

// As the system and other programs send them: the caller waits for the
// answer, and a window busy in a run answers between its keys.
int send(const wchar_t* className, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = findAny(className);
    DWORD_PTR answer = 0;
    const bool sent = window != nullptr && SendMessageTimeoutW(window, message, wParam, lParam,
                                                               SMTO_NORMAL, 10000, &answer) != 0;
    print(L"sent=" + n(sent ? 1 : 0) + L" answer=" + n(static_cast<long long>(answer)));
    return sent ? 0 : 1;
}

// A message by its number, or by the name it was registered under.
UINT messageNamed(const wchar_t* name) {
    return iswdigit(name[0]) ? number(name) : RegisterWindowMessageW(name);
}

// What a restarted Explorer knows of the program's icon: nothing.
int forgetTrayIcon() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = findAny(HiddenClass);
    data.uID = 1;
    const bool removed = data.hWnd != nullptr && Shell_NotifyIconW(NIM_DELETE, &data) != 0;
    print(L"removed=" + n(removed ? 1 : 0));
    return removed ? 0 : 1;
}

// Waits for the splash to show, then measures how long it stays.
int splashWatch(DWORD timeoutMs) {
    print(L"ready");
    if (waitFor([] { return findVisible(SplashClass) != nullptr; }, timeoutMs) < 0) {
        print(L"appeared=0");
        return 1;
    }
    const ULONGLONG shown = GetTickCount64();
    HWND splash = findVisible(SplashClass);
    const LONG_PTR exStyle = GetWindowLongPtrW(splash, GWL_EXSTYLE);
    const std::wstring seen =
        L"appeared=1 topmost=" + n((exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0) + L" toolwindow=" +
        n((exStyle & WS_EX_TOOLWINDOW) != 0 ? 1 : 0) + L" " + rectOf(L"rect", splash) +
        L" screen=" + n(GetSystemMetrics(SM_CXSCREEN)) + L"," + n(GetSystemMetrics(SM_CYSCREEN));
    // Active at any moment, it would have taken the keys of the window in front.
    bool active = false;
    const long gone = waitFor(
        [&] {
            active = active || GetForegroundWindow() == splash;
            return findAny(SplashClass) == nullptr;
        },
        10000);
    print(seen + L" active=" + n(active ? 1 : 0) + L" lifetime_ms=" +
          n(gone < 0 ? -1 : static_cast<long long>(GetTickCount64() - shown)));
    return gone < 0 ? 1 : 0;
}

// Chooses Exit while the splash is showing and times how fast it goes.
int exitDuringSplash(DWORD timeoutMs) {
    if (waitFor([] { return findVisible(SplashClass) != nullptr; }, timeoutMs) < 0 ||
        waitFor([] { return findAny(HiddenClass) != nullptr; }, timeoutMs) < 0) {
        print(L"appeared=0");
        return 1;
    }
    const ULONGLONG shown = GetTickCount64();
    PostMessageW(findAny(HiddenClass), WM_COMMAND, 1003, 0);
    const long splashGone = waitFor([] { return findAny(SplashClass) == nullptr; }, 5000);
    const long sinceShown = static_cast<long>(GetTickCount64() - shown);
    const long hiddenGone = waitFor([] { return findAny(HiddenClass) == nullptr; }, 5000);
    print(L"appeared=1 splash_gone_ms=" + n(splashGone) + L" since_shown_ms=" + n(sinceShown) +
          L" hidden_gone_ms=" + n(hiddenGone));
    return splashGone >= 0 && hiddenGone >= 0 ? 0 : 1;
}

// Wine's explorer draws each notification icon as a window of its own.
BOOL CALLBACK findTrayIcon(HWND window, LPARAM lParam) {
    HWND& found = *reinterpret_cast<HWND*>(lParam);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wcscmp(name, L"__wine_tray_icon") == 0 && IsWindowVisible(window)) {
        found = window;
        return FALSE;
    }
    EnumChildWindows(window, findTrayIcon, lParam);
    return found == nullptr;
}

int trayIcon(DWORD timeoutMs) {
    HWND icon = nullptr;
    const long ms = waitFor(
        [&] {
            icon = nullptr;
            EnumWindows(findTrayIcon, reinterpret_cast<LPARAM>(&icon));
            return icon != nullptr;
        },
        timeoutMs);
    if (ms < 0) {
        print(L"found=0");
        return 1;
    }
    RECT r{};
    GetWindowRect(icon, &r);
    print(L"found=1 centre=" + n((r.left + r.right) / 2) + L"," + n((r.top + r.bottom) / 2) + L" " +
          rectOf(L"rect", icon));
    return 0;
}

int menuRect(DWORD timeoutMs) {
    if (waitFor([] { return findVisible(MenuClass) != nullptr; }, timeoutMs) < 0) {
        print(L"found=0");
        return 1;
    }
    print(L"found=1 " + rectOf(L"rect", findVisible(MenuClass)));
    return 0;
}

// Another program's object under the name of the single-instance mutex: the
// program cannot make its mutex, and must say it could not start. Held until
// a message box shows, or MS.
int holdName(DWORD ms) {
    const OwnedHandle event(CreateEventW(nullptr, TRUE, FALSE, L"Local\\TavelioSingleInstance"));
    print(L"held=" + n(event ? 1 : 0));
    if (!event) {
        return 1;
    }
    return waitFor([] { return findVisible(L"#32770") != nullptr; }, ms) < 0 ? 1 : 0;
}

// Denies every writer of HKCU's Run key (1), as a policy may, or lets them
// write again (0).
int guardRunKey(bool guarded) {
    HKEY key = nullptr;
    LSTATUS status =
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                        nullptr, 0, READ_CONTROL | WRITE_DAC, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        // Everyone: no KEY_SET_VALUE nor KEY_CREATE_SUB_KEY while guarded, the rest always.
        PSECURITY_DESCRIPTOR rules = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
                guarded ? L"D:(D;;0x6;;;WD)(A;;KA;;;WD)" : L"D:(A;;KA;;;WD)", SDDL_REVISION_1,
                &rules, nullptr)) {
            status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, rules);
            LocalFree(rules);
        } else {
            status = static_cast<LSTATUS>(GetLastError());
        }
        RegCloseKey(key);
    }
    print(L"status=" + n(status));
    return status == ERROR_SUCCESS ? 0 : 1;
}

std::wstring className(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The hint as a user meets it: where it stands against the caret of the
// window in front, which stays in front, and the styles that keep it from
// taking a key or a click.
int hint(DWORD timeoutMs) {
    if (waitFor([] { return findVisible(HintClass) != nullptr; }, timeoutMs) < 0) {
        print(L"found=0");
        return 1;
    }
    HWND window = findVisible(HintClass);
    const LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    std::wstring styles;
    for (const auto& [bit, name] : {std::pair{WS_EX_NOACTIVATE, L"noactivate"},
                                    {WS_EX_TOPMOST, L"topmost"},
                                    {WS_EX_TOOLWINDOW, L"toolwindow"},
                                    {WS_EX_TRANSPARENT, L"transparent"},
                                    {WS_EX_LAYERED, L"layered"}}) {
        if ((exStyle & bit) != 0) {
            styles += (styles.empty() ? L"" : L",") + std::wstring(name);
        }
    }
    HWND front = GetForegroundWindow();
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    RECT caret{};
    if (GetGUIThreadInfo(GetWindowThreadProcessId(front, nullptr), &gui) && gui.hwndCaret) {
        caret = gui.rcCaret;
        MapWindowPoints(gui.hwndCaret, nullptr, reinterpret_cast<POINT*>(&caret), 2);
    }
    RECT r{};
    GetWindowRect(window, &r);
    const bool below = gui.hwndCaret != nullptr && r.top >= caret.bottom &&
                       r.top - caret.bottom < 20 && r.left <= caret.left + 2;
    print(L"found=1 " + rectOf(L"rect", window) + L" caret=" + n(caret.left) + L"," + n(caret.top) +
          L"," + n(caret.right - caret.left) + L"," + n(caret.bottom - caret.top) + L" below=" +
          n(below ? 1 : 0) + L" styles=" + styles + L" foreground=" + className(front));
    return 0;
}

// gone: waits for the hint to go; otherwise watches for MS that it never shows.
int noHint(DWORD ms, bool gone) {
    const long shown = waitFor([&] { return (findVisible(HintClass) == nullptr) == gone; }, ms);
    const bool fine = gone ? shown >= 0 : shown < 0;
    print(std::wstring(gone ? L"gone=" : L"never=") + n(fine ? 1 : 0) + L" ms=" + n(shown));
    return fine ? 0 : 1;
}

// What notepad's edit holds, read from outside.
int notepadText() {
    HWND edit = FindWindowExW(FindWindowW(L"Notepad", nullptr), nullptr, L"Edit", nullptr);
    wchar_t text[512] = {};
    const bool read = edit != nullptr;
    if (read) {
        SendMessageW(edit, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    }
    print(L"read=" + n(read ? 1 : 0) + L" text=\"" + escaped(text) + L"\"");
    return read ? 0 : 1;
}

int usage() {
    print(L"usage: app_probe wait-window|wait-gone hidden|splash|menu MS\n"
          L"       app_probe post|send hidden|splash MESSAGE WPARAM LPARAM [TIMES]\n"
          L"       app_probe forget-tray-icon   (MESSAGE: a number or a registered name)\n"
          L"       app_probe hold-name MS   (wait-window box: a message box)\n"
          L"       app_probe splash-watch MS | exit-during-splash MS\n"
          L"       app_probe tray-icon MS | menu-rect MS\n"
          L"       app_probe guard-run-key 1|0\n"
          L"       app_probe hint MS | hint-gone MS | no-hint MS | notepad-text");
    return 2;
}

const wchar_t* windowClass(const std::wstring& name) {
    if (name == L"hidden") {
        return HiddenClass;
    }
    if (name == L"splash") {
        return SplashClass;
    }
    if (name == L"menu") {
        return MenuClass;
    }
    if (name == L"box") {
        return L"#32770";
    }
    if (name == L"notepad") {
        return L"Notepad";
    }
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    // Sizes and positions in the screen's pixels, whatever the DPI: as they
    // appear on screenshots and to xdotool.
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    if (argc < 2) {
        return usage();
    }
    const std::wstring command = argv[1];
    if ((command == L"wait-window" || command == L"wait-gone") && argc == 4) {
        const wchar_t* className = windowClass(argv[2]);
        if (className == nullptr) {
            return usage();
        }
        return waitWindow(className, number(argv[3]), command == L"wait-gone");
    }
    if ((command == L"post" && (argc == 6 || argc == 7)) || (command == L"send" && argc == 6)) {
        const wchar_t* className = windowClass(argv[2]);
        if (className == nullptr) {
            return usage();
        }
        const UINT message = messageNamed(argv[3]);
        const auto lParam = static_cast<LPARAM>(number(argv[5]));
        return command == L"post" ? post(className, message, number(argv[4]), lParam,
                                         argc == 7 ? number(argv[6]) : 1)
                                  : send(className, message, number(argv[4]), lParam);
    }
    if (command == L"hold-name" && argc == 3) {
        return holdName(number(argv[2]));
    }
    if (command == L"notepad-text") {
        return notepadText();
    }
    if (command == L"forget-tray-icon") {
        return forgetTrayIcon();
    }
    if (command == L"guard-run-key" && argc == 3) {
        return guardRunKey(number(argv[2]) != 0);
    }
    if (argc == 3) {
        const DWORD ms = number(argv[2]);
        if (command == L"splash-watch") {
            return splashWatch(ms);
        }
        if (command == L"exit-during-splash") {
            return exitDuringSplash(ms);
        }
        if (command == L"tray-icon") {
            return trayIcon(ms);
        }
        if (command == L"menu-rect") {
            return menuRect(ms);
        }
        if (command == L"hint") {
            return hint(ms);
        }
        if (command == L"hint-gone" || command == L"no-hint") {
            return noHint(ms, command == L"hint-gone");
        }
    }
    return usage();
}
