// What the Win32 test programs and the Wine tests share: lines out in UTF-8,
// texts with their line breaks escaped, waiting by polling, pumping this
// thread's messages, and owning windows, hooks, handles and input contexts.
#pragma once

#include <windows.h>

#include <imm.h>

#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>

namespace tavelio::win32test {

// One line and its "\n", in UTF-8 (no CR: the scripts read it as it is).
inline void writeLine(HANDLE file, const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline void print(const std::wstring& line) {
    writeLine(GetStdHandle(STD_OUTPUT_HANDLE), line);
}

// Line breaks as \r and \n and a backslash doubled, so one text is one line.
inline std::wstring escaped(const std::wstring& text) {
    std::wstring out;
    for (const wchar_t c : text) {
        if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c == L'\\') {
            out += L"\\\\";
        } else {
            out += c;
        }
    }
    return out;
}

// A number from the command line: decimal, or hexadecimal after 0x.
inline DWORD number(const wchar_t* text) {
    return static_cast<DWORD>(std::wcstoul(text, nullptr, 0));
}

inline std::wstring hex(unsigned long long value) {
    wchar_t buffer[32];
    std::swprintf(buffer, 32, L"0x%llx", value);
    return buffer;
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
        Sleep(5);
    }
}

// Runs the message loop for a while: injected keys wait in this thread's
// queue until it is pumped, and TranslateMessage hands them to the IME.
inline void pump(DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= ms) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
}

struct WindowDestroyer {
    void operator()(HWND window) const { DestroyWindow(window); }
};
using OwnedWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

struct HookRemover {
    void operator()(HHOOK hook) const { UnhookWindowsHookEx(hook); }
};
using OwnedHook = std::unique_ptr<std::remove_pointer_t<HHOOK>, HookRemover>;

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleCloser>; // never INVALID_HANDLE_VALUE

// A window's input context, released with this object; null when it has none.
class HeldImeContext {
public:
    explicit HeldImeContext(HWND window) : window_(window), context_(ImmGetContext(window)) {}
    HeldImeContext(const HeldImeContext&) = delete;
    HeldImeContext& operator=(const HeldImeContext&) = delete;
    ~HeldImeContext() {
        if (context_ != nullptr) {
            ImmReleaseContext(window_, context_);
        }
    }
    HIMC get() const { return context_; }

private:
    HWND window_;
    HIMC context_;
};

// The window's open composition, with "+" after it once the IME has converted it; empty
// when none is open.
inline std::wstring openComposition(HWND window) {
    const HeldImeContext context(window);
    wchar_t text[256] = {};
    const LONG bytes =
        context.get() ? ImmGetCompositionStringW(context.get(), GCS_COMPSTR, text, sizeof text - 2)
                      : 0;
    if (bytes <= 0) {
        return {};
    }
    BYTE attribute = ATTR_INPUT;
    ImmGetCompositionStringW(context.get(), GCS_COMPATTR, &attribute, 1);
    return std::wstring(text, static_cast<std::size_t>(bytes) / sizeof(wchar_t)) +
           (attribute == ATTR_TARGET_CONVERTED ? L"+" : L"");
}

// A top-level window that is all one edit control, like a small notepad. Its
// window procedure hands every message to editFrameMessage first.
struct EditFrame {
    HWND frame = nullptr;
    HWND edit = nullptr;
};

inline EditFrame createEditFrame(const wchar_t* className, WNDPROC procedure, const wchar_t* title,
                                 RECT place, DWORD editStyle) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = className;
    EditFrame made;
    if (RegisterClassW(&wc) == 0) {
        return made;
    }
    const int width = place.right - place.left;
    const int height = place.bottom - place.top;
    made.frame = CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, place.left, place.top,
                                 width, height, nullptr, nullptr, instance, nullptr);
    if (made.frame != nullptr) {
        made.edit =
            CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | editStyle, 0, 0,
                            width, height, made.frame, nullptr, instance, nullptr);
    }
    return made;
}

// The frame passes the focus on to its edit and sizes it with itself.
inline bool editFrameMessage(HWND frame, UINT message, LPARAM lParam) {
    const HWND edit = GetWindow(frame, GW_CHILD);
    if (message == WM_SETFOCUS) {
        SetFocus(edit);
        return true;
    }
    if (message == WM_SIZE) {
        MoveWindow(edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return true;
    }
    return false;
}

} // namespace tavelio::win32test
