// The application that the end-to-end scenarios type into: one window with a
// multi-line edit control, like a small notepad. It can keep a journal of what
// its edit control went through (every text change and every key press it
// received, with the modifier state at that moment), so a scenario can tell
// that the text was deleted and typed again and that a swallowed key never
// arrived. It also answers questions about its own IME, which another process
// cannot read under Wine.
//
//   e2e_target TITLE [JOURNAL_PATH]
#include <windows.h>

#include <imm.h>

#include <string>

namespace {

constexpr wchar_t TargetClass[] = L"TavelioE2eTarget";
// A private message, also known to e2e_probe.
constexpr UINT QueryImeMessage = WM_APP + 21;

// The journal file, closed when the program ends.
class Journal {
public:
    Journal() = default;
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;
    ~Journal() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            CloseHandle(handle_);
        }
    }
    bool open(const wchar_t* path) {
        handle_ = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return handle_ != INVALID_HANDLE_VALUE;
    }
    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

HWND editWindow = nullptr;
WNDPROC editProcedure = nullptr;
Journal journal;

void writeJournal(const std::wstring& line) {
    if (!journal.isOpen()) {
        return;
    }
    const std::wstring text = line + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(journal.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

// Line breaks are written as \r and \n so that one change stays one line.
std::wstring escaped(const std::wstring& text) {
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

std::wstring editText() {
    const int length = GetWindowTextLengthW(editWindow);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(editWindow, text.data(), length + 1)));
    return text;
}

bool down(int key) {
    return (GetKeyState(key) & 0x8000) != 0;
}

std::wstring hex2(WPARAM value) {
    wchar_t buffer[8];
    wsprintfW(buffer, L"%02X", static_cast<unsigned>(value & 0xFF));
    return buffer;
}

LRESULT CALLBACK journalingEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) {
        writeJournal(L"key vk=0x" + hex2(wParam) + L" ctrl=" + (down(VK_CONTROL) ? L"1" : L"0") +
                     L" shift=" + (down(VK_SHIFT) ? L"1" : L"0") + L" alt=" +
                     (down(VK_MENU) ? L"1" : L"0"));
    }
    return CallWindowProcW(editProcedure, window, message, wParam, lParam);
}

// open in bit 16, a context in bit 31, the conversion mode in the low 16 bits.
LRESULT queryIme() {
    HIMC context = ImmGetContext(editWindow);
    if (context == nullptr) {
        return 0;
    }
    DWORD conversion = 0;
    DWORD sentence = 0;
    ImmGetConversionStatus(context, &conversion, &sentence);
    const LRESULT open = ImmGetOpenStatus(context) ? 1 : 0;
    ImmReleaseContext(editWindow, context);
    return (LRESULT{1} << 31) | (open << 16) | static_cast<LRESULT>(conversion & 0xFFFF);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETFOCUS:
        SetFocus(editWindow);
        return 0;
    case WM_SIZE:
        MoveWindow(editWindow, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_COMMAND:
        if (reinterpret_cast<HWND>(lParam) == editWindow && HIWORD(wParam) == EN_CHANGE) {
            writeJournal(L"text \"" + escaped(editText()) + L"\"");
            return 0;
        }
        break;
    case QueryImeMessage:
        return queryIme();
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2 || argc > 3) {
        return 2;
    }
    if (argc == 3 && !journal.open(argv[2])) {
        return 2;
    }
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = TargetClass;
    if (!RegisterClassW(&wc)) {
        return 2;
    }
    // Clear of the top-left corner, where the tray icon's menu opens.
    HWND window = CreateWindowExW(0, TargetClass, argv[1], WS_OVERLAPPEDWINDOW, 240, 160, 640, 360,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 2;
    }
    editWindow = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_LEFT | ES_MULTILINE |
                                     ES_AUTOVSCROLL,
                                 0, 0, 640, 360, window, nullptr, instance, nullptr);
    if (editWindow == nullptr) {
        return 2;
    }
    // Room for the flood of keystrokes and more.
    SendMessageW(editWindow, EM_SETLIMITTEXT, 1 << 20, 0);
    if (journal.isOpen()) {
        editProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            editWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(journalingEditProc)));
    }
    ShowWindow(window, SW_SHOWNORMAL);
    SetForegroundWindow(window);
    SetFocus(editWindow);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
