#include "app/hint_window.h"

#include <oleacc.h>

#include "app/app_state.h"
#include "app/ui_text.h"
#include "capture/romaji_hint.h"
#include "log/diagnostic_log.h"
#include "resources/resource_ids.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <string>

namespace tavelio {

namespace {

constexpr UINT_PTR HintTimerId = 1;
// The hooks see a key before the program does: its caret moves a moment later.
constexpr UINT_PTR HintSettleTimerId = 2;
constexpr UINT HintSettleMs = 60;

using UniqueFont = UniqueHandle<HFONT, DeleteObject>;

struct Hint {
    HWND window = nullptr;
    HintShown shown;
    std::wstring line; // what it says
    UniqueFont font;
    UINT fontDpi = 0;
    std::u16string loggedKana; // the last HINT_SHOW, written again only when it moves on
    POINT loggedAt{};
};

Hint hint;

// {618736E0-3C3D-11CF-810C-00AA00389B71}: named here, so that no import library is needed.
constexpr IID AccessibleId = {
    0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

using AccessibleFromWindow = HRESULT(WINAPI*)(HWND, DWORD, REFIID, void**);

// Browsers and other programs that draw their own text keep no Win32 caret,
// but tell accessibility tools where theirs is. The call sends the program a
// message and waits for its answer.
std::optional<RECT> accessibleCaret(HWND focus) {
    static const auto fromWindow = [] {
        const HMODULE oleacc = LoadLibraryExW(L"oleacc.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        return oleacc != nullptr ? reinterpret_cast<AccessibleFromWindow>(reinterpret_cast<void*>(
                                       GetProcAddress(oleacc, "AccessibleObjectFromWindow")))
                                 : nullptr;
    }();
    if (fromWindow == nullptr || focus == nullptr) {
        return std::nullopt;
    }
    // COM for this call alone: the thread's apartment is nobody else's business.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto uninitialize = [com] {
        if (SUCCEEDED(com)) {
            CoUninitialize();
        }
    };
    IAccessible* caret = nullptr;
    if (FAILED(fromWindow(focus, static_cast<DWORD>(OBJID_CARET), AccessibleId,
                          reinterpret_cast<void**>(&caret))) ||
        caret == nullptr) {
        uninitialize();
        return std::nullopt;
    }
    VARIANT self{};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    long x = 0, y = 0, width = 0, height = 0;
    const bool located = SUCCEEDED(caret->accLocation(&x, &y, &width, &height, self)) && height > 0;
    caret->Release();
    uninitialize();
    if (!located) {
        return std::nullopt;
    }
    return RECT{x, y, x + width, y + height};
}

// The caret of the focus, on the screen; nothing when its program shows none.
std::optional<RECT> caretOnScreen(HWND foreground, HWND focus) {
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    const DWORD thread = GetWindowThreadProcessId(foreground, nullptr);
    if (thread != 0 && GetGUIThreadInfo(thread, &gui) && gui.hwndCaret != nullptr &&
        gui.rcCaret.bottom > gui.rcCaret.top) {
        RECT caret = gui.rcCaret;
        MapWindowPoints(gui.hwndCaret, nullptr, reinterpret_cast<POINT*>(&caret), 2);
        return caret;
    }
    return accessibleCaret(focus);
}

// The UI font of the display the hint stands on.
HFONT fontFor(UINT dpi) {
    if (!hint.font || hint.fontDpi != dpi) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0,
                                       dpi)) {
            hint.font = UniqueFont(CreateFontIndirectW(&metrics.lfStatusFont));
            hint.fontDpi = dpi;
        }
    }
    return hint.font.get();
}

std::wstring hintLine(std::u16string_view kana, std::u16string_view hotkey) {
    std::wstring line = uiText(IDS_HINT);
    const auto put = [&line](std::wstring_view mark, std::u16string_view text) {
        if (const auto at = line.find(mark); at != std::wstring::npos) {
            line.replace(at, mark.size(), std::wstring(text.begin(), text.end()));
        }
    };
    put(L"%1", kana);
    put(L"%2", hotkey);
    return line;
}

void takeDown(HintReason reason) {
    KillTimer(hint.window, HintTimerId);
    ShowWindow(hint.window, SW_HIDE);
    hint.shown.visible = false;
    hint.loggedKana.clear();
    logInput(u"HINT_HIDE", [&](LogDetails& d) { d.add(u"reason", hintReasonName(reason)); });
}

// Below the caret, or above it when the work area ends first; inside the
// work area of the caret's monitor either way.
bool showBeside(const HintDecision& decision, const HintView& view, std::u16string_view hotkey) {
    const auto foreground = reinterpret_cast<HWND>(view.facts.foreground);
    const auto focus = reinterpret_cast<HWND>(view.facts.focus);
    const std::optional<RECT> caret = caretOnScreen(foreground, focus);
    if (!caret) {
        return false;
    }
    // The window takes the DPI of the monitor it stands on.
    SetWindowPos(hint.window, nullptr, caret->left, caret->bottom, 0, 0,
                 SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOSIZE);
    UINT dpi = GetDpiForWindow(hint.window);
    dpi = dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
    const auto scaled = [dpi](int size) {
        return MulDiv(size, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
    };
    hint.line = hintLine(decision.kana, hotkey);
    SIZE text{};
    if (HDC dc = GetDC(hint.window)) {
        const HGDIOBJ before = SelectObject(dc, fontFor(dpi));
        GetTextExtentPoint32W(dc, hint.line.c_str(), static_cast<int>(hint.line.size()), &text);
        SelectObject(dc, before);
        ReleaseDC(hint.window, dc);
    }
    const int width = text.cx + 2 * scaled(6);
    const int height = text.cy + 2 * scaled(3);
    const int gap = scaled(4);

    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromRect(&*caret, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    int y = caret->bottom + gap;
    if (y + height > work.bottom) {
        y = caret->top - gap - height;
    }
    y = std::max(y, static_cast<int>(work.top));
    const int x =
        std::clamp(static_cast<int>(caret->left), static_cast<int>(work.left),
                   std::max(static_cast<int>(work.left), static_cast<int>(work.right) - width));

    SetWindowPos(hint.window, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE);
    InvalidateRect(hint.window, nullptr, TRUE);
    if (!hint.shown.visible) {
        ShowWindow(hint.window, SW_SHOWNOACTIVATE);
    }
    hint.shown = {true, view.clears, view.facts.foreground, view.facts.focus};
    if (decision.kana != hint.loggedKana || x != hint.loggedAt.x || y != hint.loggedAt.y) {
        hint.loggedKana = decision.kana;
        hint.loggedAt = {x, y};
        logInput(u"HINT_SHOW", [&](LogDetails& d) {
            d.quoted(u"romaji", decision.romaji)
                .quoted(u"kana", decision.kana)
                .add(u"x", x)
                .add(u"y", y);
        });
    }
    return true;
}

// Copies what the decision needs under the record's lock, and lets go of it
// before anything is asked of another program.
void look(bool runBegins) {
    if (hint.window == nullptr) {
        return;
    }
    AppState& state = appState();
    HookContext* hooks = state.currentHookContext.load();
    HintView view;
    std::u16string text;
    std::u16string hotkey;
    if (hooks != nullptr && state.inputBuffer) {
        hooks->hintNoted = false; // a change after this is posted again
        const std::lock_guard record(hooks->recordLock);
        const InputBuffer& buffer = *state.inputBuffer;
        text = buffer.text();
        view.clears = buffer.clears();
        view.canExecute = buffer.canExecute();
        view.lastKey = hooks->lastKey;
        view.enabled = state.settings.enabled;
        view.romajiHint = state.settings.romajiHint;
        view.romajiOnly = state.settings.romajiOnly;
        hotkey = state.settings.hotkey;
    } else {
        view.enabled = false;
    }
    view.text = text;
    view.runBegins = runBegins;
    view.lastKeyTick = hooks != nullptr ? hooks->lastKeyTick.load(std::memory_order_relaxed) : 0;
    view.now = GetTickCount();
    view.facts = state.factsBoard.load();

    const HintDecision decision = decideHint(hint.shown, view);
    KillTimer(hint.window, HintTimerId);
    switch (decision.action) {
    case HintAction::stayHidden:
        break;
    case HintAction::hide:
        takeDown(decision.reason);
        break;
    case HintAction::show:
        if (!showBeside(decision, view, hotkey)) {
            if (hint.shown.visible) {
                takeDown(HintReason::noCaret);
            }
            return;
        }
        break;
    }
    if (decision.lookAgainMs != 0) {
        SetTimer(hint.window, HintTimerId, decision.lookAgainMs, nullptr);
    }
}

void paint(HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    if (dc == nullptr) {
        return;
    }
    RECT area{};
    GetClientRect(window, &area);
    // The tooltip colours: they follow dark and high-contrast themes.
    FillRect(dc, &area, GetSysColorBrush(COLOR_INFOBK));
    FrameRect(dc, &area, GetSysColorBrush(COLOR_INFOTEXT));
    const HGDIOBJ before =
        SelectObject(dc, fontFor(hint.fontDpi != 0 ? hint.fontDpi : GetDpiForWindow(window)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    DrawTextW(dc, hint.line.c_str(), static_cast<int>(hint.line.size()), &area,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, before);
    EndPaint(window, &paint);
}

LRESULT handleHintMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case HintNoteMessage:
        look(false);
        SetTimer(window, HintSettleTimerId, HintSettleMs, nullptr);
        return 0;
    case HintFactsMessage:
        look(false);
        return 0;
    case WM_TIMER:
        if (wParam == HintTimerId || wParam == HintSettleTimerId) {
            KillTimer(window, wParam);
            look(false);
            return 0;
        }
        break;
    case WM_PAINT:
        paint(window);
        return 0;
    // Clicks go through to the window below, and none makes it active.
    case WM_NCHITTEST:
        return HTTRANSPARENT;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    case WM_DPICHANGED:
        return 0; // sized anew at each show
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK hintWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The window's one catch: the decision and the log build texts.
    try {
        return handleHintMessage(window, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

} // namespace

bool createHintWindow(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = hintWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = HintWindowClass;
    if (RegisterClassExW(&windowClass) == 0) {
        return false;
    }
    // Layered and transparent: the pointer's clicks reach what lies below.
    hint.window = CreateWindowExW(
        WS_EX_NOACTIVATE | WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_TRANSPARENT | WS_EX_LAYERED,
        HintWindowClass, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    if (hint.window == nullptr) {
        return false;
    }
    SetLayeredWindowAttributes(hint.window, 0, 255, LWA_ALPHA);
    appState().hintWindow = hint.window;
    return true;
}

void destroyHintWindow() {
    if (hint.window != nullptr) {
        DestroyWindow(hint.window);
        hint.window = nullptr;
        appState().hintWindow = nullptr;
    }
    hint.font.reset();
}

void lookAgainAtHint() {
    look(false);
}

void hintRunBegins() {
    look(true);
}

} // namespace tavelio
