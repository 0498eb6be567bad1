// The end-to-end scenarios' eyes on the target application (e2e_target, found
// by its title): its text through WM_GETTEXT, which crosses processes, its IME
// as the target itself reports it, whether it is ready for keys, where to click.
// Each command prints one line and exits 0 when what it waited for happened,
// 1 when it did not, 2 on a usage error. A TITLE written class:CLASS names
// another program's window by its class instead (class:Notepad).
//
// Texts are printed and compared with line breaks written as \r and \n and a
// backslash doubled, as the target's journal writes them.
#include "tests/support/win32_tools.h"

#include <cstring>
#include <string>
#include <string_view>

namespace {

using namespace tavelio::win32test;

constexpr wchar_t TargetClass[] = L"TavelioE2eTarget";
constexpr UINT QueryImeMessage = WM_APP + 21;
constexpr UINT AnswerMs = 2000;

HWND findTarget(const wchar_t* title) {
    constexpr std::wstring_view classPrefix = L"class:";
    if (std::wstring_view(title).starts_with(classPrefix)) {
        return FindWindowW(title + classPrefix.size(), nullptr);
    }
    return FindWindowW(TargetClass, title);
}

// An Edit (ours, notepad's) or a RichEdit (wordpad's).
HWND editOf(HWND target) {
    if (target == nullptr) {
        return nullptr;
    }
    HWND edit = FindWindowExW(target, nullptr, L"Edit", nullptr);
    return edit != nullptr ? edit : FindWindowExW(target, nullptr, L"RichEdit20W", nullptr);
}

// -1 when the target does not answer.
long textLength(HWND edit) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, AnswerMs, &length)) {
        return -1;
    }
    return static_cast<long>(length);
}

bool readText(HWND edit, std::wstring& text) {
    const long length = textLength(edit);
    if (length < 0) {
        return false;
    }
    std::wstring buffer(static_cast<std::size_t>(length) + 64, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(edit, WM_GETTEXT, buffer.size(),
                             reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG, AnswerMs,
                             &copied)) {
        return false;
    }
    buffer.resize(copied);
    text = buffer;
    return true;
}

DWORD processOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

int waitTarget(const wchar_t* title, DWORD timeoutMs) {
    HWND target = nullptr;
    // Ready means shown, foreground and its edit control focused: keys go there.
    const long ms = waitFor(
        [&] {
            target = findTarget(title);
            if (target == nullptr || !IsWindowVisible(target) || GetForegroundWindow() != target) {
                return false;
            }
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(GetWindowThreadProcessId(target, nullptr), &info) &&
                   info.hwndFocus == editOf(target);
        },
        timeoutMs);
    print(L"ready=" + std::to_wstring(ms >= 0 ? 1 : 0) + L" ms=" + std::to_wstring(ms) + L" pid=" +
          std::to_wstring(target != nullptr ? processOf(target) : 0));
    return ms >= 0 ? 0 : 1;
}

int text(const wchar_t* title) {
    std::wstring current;
    const bool ok = readText(editOf(findTarget(title)), current);
    print(L"read=" + std::to_wstring(ok ? 1 : 0) + L" text=\"" + escaped(current) + L"\"");
    return ok ? 0 : 1;
}

int waitText(const wchar_t* title, const std::wstring& expected, DWORD timeoutMs) {
    std::wstring current;
    const long ms = waitFor(
        [&] {
            return readText(editOf(findTarget(title)), current) && escaped(current) == expected;
        },
        timeoutMs);
    print(L"equal=" + std::to_wstring(ms >= 0 ? 1 : 0) + L" ms=" + std::to_wstring(ms) +
          L" text=\"" + escaped(current) + L"\"");
    return ms >= 0 ? 0 : 1;
}

// Says "ready" first, so the caller can start typing and time the whole way.
int waitLength(const wchar_t* title, long wanted, DWORD timeoutMs) {
    const HWND edit = editOf(findTarget(title));
    if (edit == nullptr) {
        print(L"found=0");
        return 1;
    }
    print(L"ready");
    long length = 0;
    const long ms = waitFor(
        [&] {
            length = textLength(edit);
            return length >= wanted;
        },
        timeoutMs);
    print(L"reached=" + std::to_wstring(ms >= 0 ? 1 : 0) + L" ms=" + std::to_wstring(ms) +
          L" length=" + std::to_wstring(length));
    return ms >= 0 ? 0 : 1;
}

int ime(const wchar_t* title) {
    const HWND target = findTarget(title);
    DWORD_PTR answer = 0;
    const bool answered =
        target != nullptr && SendMessageTimeoutW(target, QueryImeMessage, 0, 0, SMTO_ABORTIFHUNG,
                                                 AnswerMs, &answer) != 0;
    if (!answered) {
        print(L"answered=0");
        return 1;
    }
    const bool context = (answer >> 31) & 1;
    print(L"context=" + std::to_wstring(context ? 1 : 0) + L" open=" +
          std::to_wstring((answer >> 16) & 1) + L" conversion=" + hex(answer & 0xFFFF));
    return context ? 0 : 1;
}

// A point inside the edit control, on screen, away from its text's first line;
// and one on that line, just after its third character.
int editPoint(const wchar_t* title) {
    const HWND edit = editOf(findTarget(title));
    RECT r{};
    DWORD_PTR position = 0;
    if (edit == nullptr || !GetWindowRect(edit, &r) ||
        !SendMessageTimeoutW(edit, EM_POSFROMCHAR, 3, 0, SMTO_ABORTIFHUNG, AnswerMs, &position)) {
        print(L"found=0");
        return 1;
    }
    POINT first{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position)) + 5};
    ClientToScreen(edit, &first);
    print(L"found=1 point=" + std::to_wstring((r.left + r.right) / 2) + L"," +
          std::to_wstring((r.top + r.bottom) / 2) + L" first=" + std::to_wstring(first.x) + L"," +
          std::to_wstring(first.y));
    return 0;
}

int close(const wchar_t* title) {
    const HWND target = findTarget(title);
    const bool posted = target != nullptr && PostMessageW(target, WM_CLOSE, 0, 0) != 0;
    print(L"posted=" + std::to_wstring(posted ? 1 : 0));
    return posted ? 0 : 1;
}

long keyPresses = 0; // what the pass-through keyboard hook saw

LRESULT CALLBACK passOn(int code, WPARAM wParam, LPARAM lParam) {
    keyPresses += code == HC_ACTION && wParam == WM_KEYDOWN ? 1 : 0;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The floor for any hook program, for the timings: both low-level hooks, and
// every event passed on untouched. Says so once both are in, then answers
// them until it is killed, saying every half second how many key presses its
// keyboard hook saw so far.
int passThroughHooks() {
    const HHOOK keyboard = SetWindowsHookExW(WH_KEYBOARD_LL, passOn, nullptr, 0);
    const HHOOK mouse = SetWindowsHookExW(WH_MOUSE_LL, passOn, nullptr, 0);
    print(L"hooked=" + std::to_wstring(keyboard != nullptr && mouse != nullptr ? 1 : 0));
    SetTimer(nullptr, 0, 500, nullptr);
    long said = 0;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && keyPresses != said) {
            said = keyPresses;
            print(L"presses=" + std::to_wstring(said));
        }
        DispatchMessageW(&message);
    }
    return 0;
}

// A keyboard remapper's Ctrl: injected without Tavelio's marker, held for MS.
int holdCtrl(DWORD ms) {
    INPUT input[1] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = VK_LCONTROL;
    if (SendInput(1, input, sizeof(INPUT)) != 1) {
        print(L"result=fail");
        return 1;
    }
    Sleep(ms);
    input[0].ki.dwFlags = KEYEVENTF_KEYUP;
    const bool released = SendInput(1, input, sizeof(INPUT)) == 1;
    print(released ? L"result=ok" : L"result=fail");
    return released ? 0 : 1;
}

// The clipboard's text, which Tavelio must never touch; set puts one there.
int clipboard(const wchar_t* set) {
    if (!OpenClipboard(nullptr)) {
        print(L"result=fail");
        return 1;
    }
    if (set != nullptr) {
        EmptyClipboard();
        const std::size_t bytes = (wcslen(set) + 1) * sizeof(wchar_t);
        if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
            std::memcpy(GlobalLock(memory), set, bytes);
            GlobalUnlock(memory);
            if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
                GlobalFree(memory);
            }
        }
    }
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    print(L"clipboard=\"" + escaped(text) + L"\"");
    return 0;
}

int usage() {
    print(L"usage: e2e_probe wait-target TITLE MS | text TITLE | wait-text TITLE TEXT MS\n"
          L"       e2e_probe wait-length TITLE N MS | ime TITLE\n"
          L"       e2e_probe edit-point TITLE | close TITLE | pass-through-hooks\n"
          L"       e2e_probe hold-ctrl MS | clipboard [set TEXT]");
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::wstring command = argv[1];
    if (argc == 2 && command == L"pass-through-hooks") {
        return passThroughHooks();
    }
    if (command == L"clipboard" && (argc == 2 || (argc == 4 && std::wstring(argv[2]) == L"set"))) {
        return clipboard(argc == 4 ? argv[3] : nullptr);
    }
    if (argc == 3) {
        if (command == L"text") {
            return text(argv[2]);
        }
        if (command == L"ime") {
            return ime(argv[2]);
        }
        if (command == L"edit-point") {
            return editPoint(argv[2]);
        }
        if (command == L"close") {
            return close(argv[2]);
        }
        if (command == L"hold-ctrl") {
            return holdCtrl(number(argv[2]));
        }
    }
    if (argc == 4) {
        if (command == L"wait-target") {
            return waitTarget(argv[2], number(argv[3]));
        }
    }
    if (argc == 5) {
        if (command == L"wait-text") {
            return waitText(argv[2], argv[3], number(argv[4]));
        }
        if (command == L"wait-length") {
            return waitLength(argv[2], static_cast<long>(number(argv[3])), number(argv[4]));
        }
    }
    return usage();
}
