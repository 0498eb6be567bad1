// A small outside observer of a running tavelio.exe, for the scripts in this
// folder: it finds the program's windows, sends them what another process
// could send, and times the splash. Each command prints what it saw on one
// line and exits 0 when the awaited thing happened, 1 when it did not, 2 on a
// usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t HiddenClass[] = L"TavelioHiddenWindow";
constexpr wchar_t SplashClass[] = L"TavelioSplashWindow";
constexpr wchar_t MenuClass[] = L"#32768";
constexpr DWORD PollMs = 5;

HWND findVisible(const wchar_t* className) {
    HWND window = FindWindowW(className, nullptr);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

HWND findAny(const wchar_t* className) {
    return FindWindowW(className, nullptr);
}

// Polls until predicate() holds or the time is up; returns the elapsed ms, or
// -1 on time-out.
template <typename Predicate> long waitFor(Predicate predicate, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (predicate()) {
            return static_cast<long>(GetTickCount64() - start);
        }
        if (GetTickCount64() - start >= timeoutMs) {
            return -1;
        }
        Sleep(PollMs);
    }
}

DWORD number(const wchar_t* text) {
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 0));
}

void printRect(const char* name, HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%s=%ld,%ld,%ld,%ld", name, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

int waitWindow(const wchar_t* className, DWORD timeoutMs) {
    const long ms = waitFor([&] { return findAny(className) != nullptr; }, timeoutMs);
    std::printf("found=%d ms=%ld\n", ms >= 0 ? 1 : 0, ms);
    return ms >= 0 ? 0 : 1;
}

int waitGone(const wchar_t* className, DWORD timeoutMs) {
    const long ms = waitFor([&] { return findAny(className) == nullptr; }, timeoutMs);
    std::printf("gone=%d ms=%ld\n", ms >= 0 ? 1 : 0, ms);
    return ms >= 0 ? 0 : 1;
}

int post(const wchar_t* className, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = findAny(className);
    const bool posted = window != nullptr && PostMessageW(window, message, wParam, lParam) != 0;
    std::printf("posted=%d\n", posted ? 1 : 0);
    return posted ? 0 : 1;
}

// Waits for the splash to show, then measures how long it stays.
int splashWatch(DWORD timeoutMs) {
    std::printf("ready\n");
    std::fflush(stdout);
    if (waitFor([] { return findVisible(SplashClass) != nullptr; }, timeoutMs) < 0) {
        std::printf("appeared=0\n");
        return 1;
    }
    const ULONGLONG shown = GetTickCount64();
    HWND splash = findVisible(SplashClass);
    const LONG_PTR exStyle = GetWindowLongPtrW(splash, GWL_EXSTYLE);
    std::printf("appeared=1 topmost=%d toolwindow=%d ", (exStyle & WS_EX_TOPMOST) != 0 ? 1 : 0,
                (exStyle & WS_EX_TOOLWINDOW) != 0 ? 1 : 0);
    printRect("rect", splash);
    std::printf(" screen=%d,%d", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    const long gone = waitFor([] { return findAny(SplashClass) == nullptr; }, 10000);
    std::printf(" lifetime_ms=%ld\n", gone < 0 ? -1 : static_cast<long>(GetTickCount64() - shown));
    return gone < 0 ? 1 : 0;
}

// Chooses Exit while the splash is showing and times how fast it goes.
int exitDuringSplash(DWORD timeoutMs) {
    if (waitFor([] { return findVisible(SplashClass) != nullptr; }, timeoutMs) < 0 ||
        waitFor([] { return findAny(HiddenClass) != nullptr; }, timeoutMs) < 0) {
        std::printf("appeared=0\n");
        return 1;
    }
    const ULONGLONG shown = GetTickCount64();
    PostMessageW(findAny(HiddenClass), WM_COMMAND, 1003, 0);
    const long splashGone = waitFor([] { return findAny(SplashClass) == nullptr; }, 5000);
    const long sinceShown = static_cast<long>(GetTickCount64() - shown);
    const long hiddenGone = waitFor([] { return findAny(HiddenClass) == nullptr; }, 5000);
    std::printf("appeared=1 splash_gone_ms=%ld since_shown_ms=%ld hidden_gone_ms=%ld\n", splashGone,
                sinceShown, hiddenGone);
    return splashGone >= 0 && hiddenGone >= 0 ? 0 : 1;
}

struct TrayIconSearch {
    DWORD explorerPid = 0;
    HWND found = nullptr;
};

// Wine's explorer draws each notification icon as a window of its own.
BOOL CALLBACK findTrayIcon(HWND window, LPARAM lParam) {
    auto& search = *reinterpret_cast<TrayIconSearch*>(lParam);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (std::wcscmp(name, L"__wine_tray_icon") == 0 && IsWindowVisible(window)) {
        search.found = window;
        return FALSE;
    }
    EnumChildWindows(window, findTrayIcon, lParam);
    return search.found == nullptr;
}

int trayIcon(DWORD timeoutMs) {
    TrayIconSearch search;
    const long ms = waitFor(
        [&] {
            search.found = nullptr;
            EnumWindows(findTrayIcon, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        timeoutMs);
    if (ms < 0) {
        std::printf("found=0\n");
        return 1;
    }
    RECT r{};
    GetWindowRect(search.found, &r);
    std::printf("found=1 centre=%ld,%ld ", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    printRect("rect", search.found);
    std::printf("\n");
    return 0;
}

int menuRect(DWORD timeoutMs) {
    if (waitFor([] { return findVisible(MenuClass) != nullptr; }, timeoutMs) < 0) {
        std::printf("found=0\n");
        return 1;
    }
    std::printf("found=1 ");
    printRect("rect", findVisible(MenuClass));
    std::printf("\n");
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: app_probe wait-window|wait-gone hidden|splash|menu MS\n"
                         "       app_probe post hidden|splash MESSAGE WPARAM LPARAM\n"
                         "       app_probe splash-watch MS | exit-during-splash MS\n"
                         "       app_probe tray-icon MS | menu-rect MS\n");
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
    if (name == L"notepad") {
        return L"Notepad";
    }
    return nullptr;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::wstring command = argv[1];
    if ((command == L"wait-window" || command == L"wait-gone") && argc == 4) {
        const wchar_t* className = windowClass(argv[2]);
        if (className == nullptr) {
            return usage();
        }
        return command == L"wait-window" ? waitWindow(className, number(argv[3]))
                                         : waitGone(className, number(argv[3]));
    }
    if (command == L"post" && argc == 6) {
        const wchar_t* className = windowClass(argv[2]);
        if (className == nullptr) {
            return usage();
        }
        return post(className, number(argv[3]), number(argv[4]),
                    static_cast<LPARAM>(number(argv[5])));
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
    }
    return usage();
}
