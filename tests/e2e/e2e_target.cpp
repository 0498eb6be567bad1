// The application that the end-to-end scenarios type into: one window with a
// multi-line edit control, like a small notepad. It can keep a journal of what
// its edit control went through (every text change and every key press it
// received, with the modifier state at that moment), so a scenario can tell
// that the text was deleted and typed again and that a swallowed key never
// arrived. It also answers questions about its own IME, which another process
// cannot read under Wine.
//
//   e2e_target TITLE [JOURNAL_PATH [words|password|opaque]]
//
// With "words", Ctrl+Backspace deletes the word before the caret, as editors
// do on Windows; Wine's edit control ignores it. With "password" the edit
// control is a password box (ES_PASSWORD). With "opaque" it answers another
// program's EM_GETSEL only after 300 ms, like a busy program: Tavelio then
// goes by the keys alone, as in a program whose field it cannot read.
#include "tests/support/win32_tools.h"

#include <string>

namespace {

using namespace tavelio::win32test;

constexpr wchar_t TargetClass[] = L"TavelioE2eTarget";
// A private message, also known to e2e_probe.
constexpr UINT QueryImeMessage = WM_APP + 21;

HWND editWindow = nullptr;
WNDPROC editProcedure = nullptr;
OwnedHandle journal; // when asked for, open for the program's life
bool deletesWords = false;
bool opaque = false;

void writeJournal(const std::wstring& line) {
    if (journal) {
        writeLine(journal.get(), line);
    }
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

// The spaces before the caret, then the word before them.
void deleteWordBeforeCaret() {
    DWORD caret = 0;
    SendMessageW(editWindow, EM_GETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    const std::wstring text = editText();
    DWORD start = caret;
    while (start > 0 && text[start - 1] == L' ') {
        --start;
    }
    while (start > 0 && text[start - 1] != L' ' && text[start - 1] != L'\n') {
        --start;
    }
    SendMessageW(editWindow, EM_SETSEL, start, caret);
    SendMessageW(editWindow, EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L""));
}

LRESULT CALLBACK journalingEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (opaque && message == EM_GETSEL && InSendMessage()) {
        Sleep(300);
    }
    if (message == WM_KEYDOWN || message == WM_SYSKEYDOWN) {
        writeJournal(L"key vk=0x" + hex2(wParam) + L" ctrl=" + (down(VK_CONTROL) ? L"1" : L"0") +
                     L" shift=" + (down(VK_SHIFT) ? L"1" : L"0") + L" alt=" +
                     (down(VK_MENU) ? L"1" : L"0"));
        if (deletesWords && wParam == VK_BACK && down(VK_CONTROL)) {
            deleteWordBeforeCaret();
            return 0;
        }
    }
    // Ctrl+Backspace's character (0x7F) types nothing in an editor.
    if (deletesWords && message == WM_CHAR && wParam == 0x7F) {
        return 0;
    }
    if (message == WM_IME_COMPOSITION && (lParam & GCS_COMPSTR) != 0) {
        writeJournal(L"composition \"" + escaped(openComposition(window)) + L"\"");
    }
    return CallWindowProcW(editProcedure, window, message, wParam, lParam);
}

// open in bit 16, a context in bit 31, the conversion mode in the low 16 bits.
LRESULT queryIme() {
    const HeldImeContext context(editWindow);
    if (context.get() == nullptr) {
        return 0;
    }
    DWORD conversion = 0;
    DWORD sentence = 0;
    ImmGetConversionStatus(context.get(), &conversion, &sentence);
    const LRESULT open = ImmGetOpenStatus(context.get()) ? 1 : 0;
    return (LRESULT{1} << 31) | (open << 16) | static_cast<LRESULT>(conversion & 0xFFFF);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (editFrameMessage(window, message, lParam)) {
        return 0;
    }
    switch (message) {
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
    if (argc < 2 || argc > 4) {
        return 2;
    }
    deletesWords = argc == 4 && std::wstring(argv[3]) == L"words";
    const bool password = argc == 4 && std::wstring(argv[3]) == L"password";
    opaque = argc == 4 && std::wstring(argv[3]) == L"opaque";
    if (argc >= 3) {
        const HANDLE file =
            CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 2;
        }
        journal.reset(file);
    }
    // Clear of the top-left corner, where the tray icon's menu opens.
    const EditFrame target =
        createEditFrame(TargetClass, windowProc, argv[1], {240, 160, 880, 520},
                        password ? DWORD{ES_LEFT | ES_PASSWORD}
                                 : DWORD{WS_VSCROLL | ES_LEFT | ES_MULTILINE | ES_AUTOVSCROLL});
    editWindow = target.edit;
    if (editWindow == nullptr) {
        return 2;
    }
    // Room for the flood of keystrokes and more.
    SendMessageW(editWindow, EM_SETLIMITTEXT, 1 << 20, 0);
    if (journal) {
        editProcedure = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            editWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(journalingEditProc)));
    }
    ShowWindow(target.frame, SW_SHOWNORMAL);
    SetForegroundWindow(target.frame);
    SetFocus(editWindow);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}
