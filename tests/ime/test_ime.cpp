// A small Japanese IME for the Wine test prefix: romaji to hiragana while typing, through
// IMM32's real message path (composition and result strings), so that any IME-aware window
// shows what an IME would. What is typed stays in the composition until Enter commits it;
// Space converts it to katakana, standing in for a kanji conversion.
#include "capture/romaji_table.h"
#include "tests/ime/ime_ddk.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using tavelio::displayRomaji;
using tavelio::finishRomaji;
using tavelio::isRomajiLetter;
using tavelio::typeRomaji;

// IMEINFO allows the UI class name 16 characters including the terminator.
constexpr wchar_t uiClassName[] = L"TavTestImeUi";
constexpr wchar_t compositionClassName[] = L"TavTestImeComp";
constexpr DWORD hiraganaMode = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE;
constexpr UINT scanCodeHankakuZenkaku = 0x29;

HINSTANCE moduleInstance = nullptr;

// Visible with WINEDEBUG=+debugstr: which keys reached the IME, in which process.
void trace(const char* format, unsigned a = 0, unsigned b = 0, unsigned c = 0) {
    char line[160];
    std::snprintf(line, sizeof line, format, a, b, c);
    OutputDebugStringA(line);
}

class LockedContext {
public:
    explicit LockedContext(HIMC himc) : himc_(himc), ctx_(himc ? ImmLockIMC(himc) : nullptr) {}
    ~LockedContext() {
        if (ctx_) {
            ImmUnlockIMC(himc_);
        }
    }
    LockedContext(const LockedContext&) = delete;
    LockedContext& operator=(const LockedContext&) = delete;
    INPUTCONTEXT* operator->() const { return ctx_; }
    INPUTCONTEXT* get() const { return ctx_; }
    explicit operator bool() const { return ctx_ != nullptr; }

private:
    HIMC himc_;
    INPUTCONTEXT* ctx_;
};

template <typename T> class LockedMemory {
public:
    explicit LockedMemory(HIMCC handle)
        : handle_(handle), data_(handle ? static_cast<T*>(ImmLockIMCC(handle)) : nullptr) {}
    ~LockedMemory() {
        if (data_) {
            ImmUnlockIMCC(handle_);
        }
    }
    LockedMemory(const LockedMemory&) = delete;
    LockedMemory& operator=(const LockedMemory&) = delete;
    T* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    HIMCC handle_;
    T* data_;
};

std::u16string stringAt(const COMPOSITIONSTRING* cs, DWORD offset, DWORD length) {
    if (length == 0) {
        return {};
    }
    std::u16string text(length, u'\0');
    std::memcpy(text.data(), reinterpret_cast<const BYTE*>(cs) + offset, length * sizeof(char16_t));
    return text;
}

// What a composition holds: the kana so far, the romaji still waiting for letters, and
// whether Space has converted it. Kept in the COMPOSITIONSTRING: the reading string is the kana
// followed by the romaji, its private part says how much of it is romaji.
struct Composition {
    std::u16string kana;
    std::u16string romaji;
    bool converted = false;
    bool empty() const { return kana.empty() && romaji.empty(); }
    std::u16string shown() const {
        return converted ? katakana(kana) : kana + displayRomaji(romaji);
    }
    // What Enter commits: a lone n reads ん.
    std::u16string committed() const {
        return converted ? katakana(kana) : kana + finishRomaji(romaji);
    }
    void convert() {
        kana += finishRomaji(romaji);
        romaji.clear();
        converted = true;
    }
    void backspace() {
        if (converted) {
            converted = false; // back to the reading, as real IMEs do
        }
        if (!romaji.empty()) {
            romaji = (romaji == u"nn") ? std::u16string() : romaji.substr(0, romaji.size() - 1);
        } else if (!kana.empty()) {
            kana.pop_back();
        }
    }
    void type(char16_t c) {
        auto step = typeRomaji(romaji, c);
        kana += step.committed;
        romaji = std::move(step.pending);
    }
    static std::u16string katakana(std::u16string text) {
        for (auto& c : text) {
            if (c >= u'\u3041' && c <= u'\u3096') {
                c = static_cast<char16_t>(c + 0x60);
            }
        }
        return text;
    }
};

struct CompositionPrivate {
    DWORD romajiLength;
    DWORD converted;
};

Composition loadComposition(const INPUTCONTEXT* ctx) {
    LockedMemory<COMPOSITIONSTRING> cs(ctx->hCompStr);
    if (!cs || cs.get()->dwSize < sizeof(COMPOSITIONSTRING)) {
        return {};
    }
    const auto* h = cs.get();
    const std::u16string reading = stringAt(h, h->dwCompReadStrOffset, h->dwCompReadStrLen);
    CompositionPrivate state{};
    if (h->dwPrivateSize == sizeof state) {
        std::memcpy(&state, reinterpret_cast<const BYTE*>(h) + h->dwPrivateOffset, sizeof state);
    }
    const std::size_t romajiLength = std::min<std::size_t>(state.romajiLength, reading.size());
    Composition c;
    c.kana = reading.substr(0, reading.size() - romajiLength);
    c.romaji = reading.substr(reading.size() - romajiLength);
    c.converted = state.converted != 0 && !c.kana.empty();
    return c;
}

// Lays out a COMPOSITIONSTRING with the shown composition, its romaji reading and the result.
class CompositionWriter {
public:
    void addString(DWORD& lengthField, DWORD& offsetField, const std::u16string& text) {
        lengthField = static_cast<DWORD>(text.size());
        offsetField = append(text.data(), text.size() * sizeof(char16_t));
    }
    void addClause(DWORD& lengthField, DWORD& offsetField, std::size_t textLength) {
        if (textLength == 0) {
            return;
        }
        const DWORD clause[2] = {0, static_cast<DWORD>(textLength)};
        lengthField = sizeof clause;
        offsetField = append(clause, sizeof clause);
    }
    void addAttributes(DWORD& lengthField, DWORD& offsetField, std::size_t textLength,
                       BYTE attribute) {
        const std::vector<BYTE> attributes(textLength, attribute);
        lengthField = static_cast<DWORD>(textLength);
        offsetField = append(attributes.data(), attributes.size());
    }
    void addPrivate(const CompositionPrivate& state) {
        header.dwPrivateSize = sizeof state;
        header.dwPrivateOffset = append(&state, sizeof state);
    }
    COMPOSITIONSTRING header{};
    std::vector<BYTE> bytes() {
        header.dwSize = static_cast<DWORD>(sizeof header + payload_.size());
        std::vector<BYTE> all(header.dwSize);
        std::memcpy(all.data(), &header, sizeof header);
        if (!payload_.empty()) {
            std::memcpy(all.data() + sizeof header, payload_.data(), payload_.size());
        }
        return all;
    }

private:
    DWORD append(const void* data, std::size_t size) {
        while (payload_.size() % sizeof(DWORD) != 0) {
            payload_.push_back(0);
        }
        const auto offset = payload_.size();
        payload_.resize(offset + size);
        if (size != 0) {
            std::memcpy(payload_.data() + offset, data, size);
        }
        return static_cast<DWORD>(sizeof(COMPOSITIONSTRING) + offset);
    }
    std::vector<BYTE> payload_;
};

bool storeComposition(INPUTCONTEXT* ctx, const Composition& composition,
                      const std::u16string& result) {
    const std::u16string reading = composition.kana + composition.romaji;
    const std::u16string shown = composition.shown();
    const BYTE attribute = composition.converted ? ATTR_TARGET_CONVERTED : ATTR_INPUT;
    CompositionWriter w;
    auto& h = w.header;
    w.addString(h.dwCompReadStrLen, h.dwCompReadStrOffset, reading);
    w.addAttributes(h.dwCompReadAttrLen, h.dwCompReadAttrOffset, reading.size(), ATTR_INPUT);
    w.addClause(h.dwCompReadClauseLen, h.dwCompReadClauseOffset, reading.size());
    w.addString(h.dwCompStrLen, h.dwCompStrOffset, shown);
    w.addAttributes(h.dwCompAttrLen, h.dwCompAttrOffset, shown.size(), attribute);
    w.addClause(h.dwCompClauseLen, h.dwCompClauseOffset, shown.size());
    w.addString(h.dwResultStrLen, h.dwResultStrOffset, result);
    w.addClause(h.dwResultClauseLen, h.dwResultClauseOffset, result.size());
    w.addString(h.dwResultReadStrLen, h.dwResultReadStrOffset, result);
    w.addClause(h.dwResultReadClauseLen, h.dwResultReadClauseOffset, result.size());
    w.addPrivate({static_cast<DWORD>(composition.romaji.size()), composition.converted ? 1u : 0u});
    h.dwCursorPos = static_cast<DWORD>(shown.size());
    h.dwDeltaStart = 0;
    const std::vector<BYTE> bytes = w.bytes();

    const HIMCC resized = ImmReSizeIMCC(ctx->hCompStr, static_cast<DWORD>(bytes.size()));
    if (!resized) {
        return false;
    }
    ctx->hCompStr = resized;
    LockedMemory<BYTE> target(ctx->hCompStr);
    if (!target) {
        return false;
    }
    std::memcpy(target.get(), bytes.data(), bytes.size());
    return true;
}

// The messages one change of the composition makes, in the order applications expect them.
class MessageList {
public:
    void add(UINT message, WPARAM wParam, LPARAM lParam) {
        messages_.push_back({message, wParam, lParam});
    }
    // Moves from a composition that was open or not to one that shows `shown` (empty: ended),
    // committing `result`.
    void compose(bool wasComposing, const std::u16string& shown, const std::u16string& result) {
        if (!wasComposing && shown.empty() && result.empty()) {
            return;
        }
        if (!wasComposing) {
            add(WM_IME_STARTCOMPOSITION, 0, 0);
        }
        if (!result.empty()) {
            add(WM_IME_COMPOSITION, result.back(), GCS_RESULTSTR | GCS_RESULTCLAUSE);
        }
        if (!shown.empty() || result.empty()) {
            add(WM_IME_COMPOSITION, shown.empty() ? 0 : shown.back(),
                GCS_COMPSTR | GCS_COMPATTR | GCS_COMPCLAUSE | GCS_COMPREADSTR | GCS_CURSORPOS |
                    GCS_DELTASTART);
        }
        if (shown.empty()) {
            add(WM_IME_ENDCOMPOSITION, 0, 0);
        }
    }
    // Hands the messages over in ImeToAsciiEx's list, or through the context when they do not
    // fit or when no list was given (changes made outside key processing).
    UINT deliver(HIMC himc, TRANSMSGLIST* list) const {
        if (messages_.empty()) {
            return 0;
        }
        if (list && messages_.size() <= list->uMsgCount) {
            for (std::size_t i = 0; i < messages_.size(); ++i) {
                list->TransMsg[i] = messages_[i];
            }
            return static_cast<UINT>(messages_.size());
        }
        {
            LockedContext ctx(himc);
            if (!ctx) {
                return 0;
            }
            const DWORD size = static_cast<DWORD>(messages_.size() * sizeof(TRANSMSG));
            const HIMCC buffer = ImmReSizeIMCC(ctx->hMsgBuf, size);
            if (!buffer) {
                return 0;
            }
            ctx->hMsgBuf = buffer;
            LockedMemory<TRANSMSG> target(ctx->hMsgBuf);
            if (!target) {
                return 0;
            }
            std::memcpy(target.get(), messages_.data(), size);
            ctx->dwNumMsgBuf = static_cast<DWORD>(messages_.size());
        }
        ImmGenerateMessage(himc);
        return 0;
    }

private:
    std::vector<TRANSMSG> messages_;
};

// Ends a composition outside key processing: commits it (a lone n as ん) or throws it away.
void endComposition(HIMC himc, bool commit) {
    MessageList messages;
    {
        LockedContext ctx(himc);
        if (!ctx) {
            return;
        }
        const Composition composition = loadComposition(ctx.get());
        if (composition.empty()) {
            return;
        }
        const std::u16string result = commit ? composition.committed() : std::u16string();
        if (!storeComposition(ctx.get(), {}, result)) {
            return;
        }
        messages.compose(true, {}, result);
    }
    messages.deliver(himc, nullptr);
}

// IME On is one of them: like the rest here it never switches the IME off.
bool isSwitchOnKey(UINT vkey, UINT scanCode) {
    return vkey == VK_IME_ON || vkey == VK_DBE_HIRAGANA || vkey == VK_CONVERT || vkey == VK_KANJI ||
           scanCode == scanCodeHankakuZenkaku;
}

bool isModifierKey(UINT vkey) {
    switch (vkey) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
        return true;
    default:
        return false;
    }
}

bool isDown(const BYTE* keyState, int vkey) {
    return keyState && (keyState[vkey] & 0x80) != 0;
}

void switchOnInHiragana(HIMC himc) {
    ImmSetOpenStatus(himc, TRUE);
    DWORD conversion = 0, sentence = 0;
    ImmGetConversionStatus(himc, &conversion, &sentence);
    ImmSetConversionStatus(himc, (conversion & ~IME_CMODE_KATAKANA) | hiraganaMode, sentence);
}

bool isTakingRomaji(const INPUTCONTEXT* ctx) {
    return ctx->fOpen && (ctx->fdwConversion & IME_CMODE_NATIVE) != 0;
}

HIMC uiContext(HWND uiWindow) {
    return reinterpret_cast<HIMC>(GetWindowLongPtrW(uiWindow, IMMGWL_IMC));
}

std::wstring compositionText(HIMC himc) {
    const LONG bytes = ImmGetCompositionStringW(himc, GCS_COMPSTR, nullptr, 0);
    if (bytes <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(bytes) / sizeof(wchar_t), L'\0');
    ImmGetCompositionStringW(himc, GCS_COMPSTR, text.data(), static_cast<DWORD>(bytes));
    return text;
}

// Wine's edit control leaves the composition to the IME, as a real IME's UI would draw it: a
// small underlined window at the caret, never activated, so the pending romaji can be seen.
LRESULT CALLBACK compositionWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    PAINTSTRUCT ps;
    const HDC dc = BeginPaint(hwnd, &ps);
    const HWND uiWindow = GetWindow(hwnd, GW_OWNER);
    const std::wstring text = uiWindow ? compositionText(uiContext(uiWindow)) : std::wstring();
    RECT area;
    GetClientRect(hwnd, &area);
    FillRect(dc, &area, GetSysColorBrush(COLOR_WINDOW));
    const HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    // A converted composition is underlined thickly, as IMEs mark the clause in conversion.
    const HIMC himc = uiWindow ? uiContext(uiWindow) : nullptr;
    BYTE attribute = ATTR_INPUT;
    if (himc && !text.empty()) {
        ImmGetCompositionStringW(himc, GCS_COMPATTR, &attribute, 1);
    }
    const int thickness = attribute == ATTR_TARGET_CONVERTED ? 3 : 1;
    RECT underline{area.left, area.bottom - 1 - thickness, area.right, area.bottom - 1};
    FillRect(dc, &underline, GetSysColorBrush(COLOR_WINDOWTEXT));
    EndPaint(hwnd, &ps);
    return 0;
}

void showComposition(HWND uiWindow) {
    auto window = reinterpret_cast<HWND>(GetWindowLongPtrW(uiWindow, IMMGWL_PRIVATE));
    const HIMC himc = uiContext(uiWindow);
    const std::wstring text = himc ? compositionText(himc) : std::wstring();
    if (text.empty()) {
        if (window) {
            ShowWindow(window, SW_HIDE);
        }
        return;
    }
    if (!window) {
        window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST | WS_EX_NOACTIVATE,
                                 compositionClassName, L"", WS_POPUP | WS_BORDER, 0, 0, 1, 1,
                                 uiWindow, nullptr, moduleInstance, nullptr);
        if (!window) {
            return;
        }
        SetWindowLongPtrW(uiWindow, IMMGWL_PRIVATE, reinterpret_cast<LONG_PTR>(window));
    }
    POINT at{};
    GetCaretPos(&at);
    {
        LockedContext ctx(himc);
        if (ctx && ctx->hWnd) {
            ClientToScreen(ctx->hWnd, &at);
        }
    }
    SIZE extent{};
    const HDC dc = GetDC(window);
    const HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, oldFont);
    ReleaseDC(window, dc);
    SetWindowPos(window, HWND_TOPMOST, at.x, at.y, extent.cx + 6, extent.cy + 6,
                 SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(window, nullptr, TRUE);
}

// The UI window: IMM32 forwards WM_IME_CONTROL from the default IME window here, and the
// composition messages that the application leaves to the IME.
LRESULT controlCommand(HWND uiWindow, WPARAM command, LPARAM value) {
    HIMC himc = uiContext(uiWindow);
    if (!himc) {
        return 1;
    }
    DWORD conversion = 0, sentence = 0;
    ImmGetConversionStatus(himc, &conversion, &sentence);
    switch (command) {
    case IMC_GETOPENSTATUS:
        return ImmGetOpenStatus(himc);
    case IMC_SETOPENSTATUS:
        return ImmSetOpenStatus(himc, value != 0) ? 0 : 1;
    case IMC_GETCONVERSIONMODE:
        return static_cast<LRESULT>(conversion);
    case IMC_SETCONVERSIONMODE:
        return ImmSetConversionStatus(himc, static_cast<DWORD>(value), sentence) ? 0 : 1;
    case IMC_GETSENTENCEMODE:
        return static_cast<LRESULT>(sentence);
    case IMC_SETSENTENCEMODE:
        return ImmSetConversionStatus(himc, conversion, static_cast<DWORD>(value)) ? 0 : 1;
    default:
        return 1;
    }
}

LRESULT CALLBACK uiWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_IME_CONTROL:
        trace("tavtest: WM_IME_CONTROL command=0x%x value=%u\n", static_cast<unsigned>(wParam),
              static_cast<unsigned>(lParam));
        return controlCommand(hwnd, wParam, lParam);
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_ENDCOMPOSITION:
        showComposition(hwnd);
        return 0;
    case WM_IME_NOTIFY:
    case WM_IME_SETCONTEXT:
    case WM_IME_SELECT:
    case WM_IME_COMPOSITIONFULL:
        return 0;
    case WM_DESTROY:
        if (const auto window = reinterpret_cast<HWND>(GetWindowLongPtrW(hwnd, IMMGWL_PRIVATE))) {
            DestroyWindow(window);
        }
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

bool registerClasses(HINSTANCE instance) {
    WNDCLASSEXW ui{};
    ui.cbSize = sizeof ui;
    ui.style = CS_IME;
    ui.lpfnWndProc = uiWindowProc;
    ui.cbWndExtra = 2 * sizeof(LONG_PTR); // IMMGWL_IMC, and IMMGWL_PRIVATE: the composition window
    ui.hInstance = instance;
    ui.lpszClassName = uiClassName;
    WNDCLASSEXW composition{};
    composition.cbSize = sizeof composition;
    composition.style = CS_IME;
    composition.lpfnWndProc = compositionWindowProc;
    composition.hInstance = instance;
    composition.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    composition.lpszClassName = compositionClassName;
    return RegisterClassExW(&ui) != 0 && RegisterClassExW(&composition) != 0;
}

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        moduleInstance = instance;
        DisableThreadLibraryCalls(instance);
        return registerClasses(instance) ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        UnregisterClassW(uiClassName, instance);
        UnregisterClassW(compositionClassName, instance);
    }
    return TRUE;
}

BOOL WINAPI ImeInquire(LPIMEINFO info, LPWSTR uiClass, DWORD) {
    if (!info || !uiClass) {
        return FALSE;
    }
    *info = IMEINFO{};
    info->dwPrivateDataSize = sizeof(DWORD);
    info->fdwProperty = IME_PROP_KBD_CHAR_FIRST | IME_PROP_UNICODE | IME_PROP_AT_CARET |
                        IME_PROP_IGNORE_UPKEYS | IME_PROP_COMPLETE_ON_UNSELECT;
    info->fdwConversionCaps = IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE | IME_CMODE_KATAKANA;
    info->fdwSentenceCaps = IME_SMODE_NONE;
    info->fdwSelectCaps = SELECT_CAP_CONVERSION;
    std::memcpy(uiClass, uiClassName, sizeof uiClassName);
    trace("tavtest: ImeInquire\n");
    return TRUE;
}

BOOL WINAPI ImeDestroy(UINT) {
    return TRUE;
}

BOOL WINAPI ImeSelect(HIMC himc, BOOL select) {
    trace("tavtest: ImeSelect select=%u\n", select ? 1u : 0u);
    if (!himc) {
        return FALSE;
    }
    if (!select) {
        endComposition(himc, true);
        return TRUE;
    }
    LockedContext ctx(himc);
    if (!ctx) {
        return FALSE;
    }
    if (!(ctx->fdwInit & INIT_CONVERSION)) {
        ctx->fdwConversion = hiraganaMode;
        ctx->fdwSentence = IME_SMODE_NONE;
        ctx->fdwInit |= INIT_CONVERSION;
    }
    return storeComposition(ctx.get(), {}, {}) ? TRUE : FALSE;
}

BOOL WINAPI ImeSetActiveContext(HIMC, BOOL) {
    return TRUE;
}

BOOL WINAPI ImeProcessKey(HIMC himc, UINT vkey, LPARAM keyData, const LPBYTE keyState) {
    const UINT scanCode = (static_cast<UINT>(keyData) >> 16) & 0xFF;
    const bool keyUp = (static_cast<ULONG_PTR>(keyData) & 0x80000000u) != 0;
    trace("tavtest: ImeProcessKey vk=0x%02x scan=0x%02x up=%u\n", vkey, scanCode, keyUp);
    if (!himc || keyUp) {
        return FALSE;
    }
    if (isSwitchOnKey(vkey, scanCode)) {
        switchOnInHiragana(himc);
        return TRUE; // the key only switches the IME; the application never sees it
    }
    if (vkey == VK_IME_OFF) {
        ImmSetOpenStatus(himc, FALSE); // commits the composition, as closing does
        return TRUE;
    }
    LockedContext ctx(himc);
    if (!ctx || !isTakingRomaji(ctx.get()) || isModifierKey(vkey)) {
        return FALSE;
    }
    if (isDown(keyState, VK_CONTROL) || isDown(keyState, VK_MENU)) {
        return FALSE;
    }
    if (vkey >= 'A' && vkey <= 'Z') {
        return TRUE;
    }
    // While composing every other key goes through the IME too: it edits, ends or cancels
    // the composition before the application sees anything.
    return loadComposition(ctx.get()).empty() ? FALSE : TRUE;
}

UINT WINAPI ImeToAsciiEx(UINT virtKey, UINT scanCode, const LPBYTE, LPTRANSMSGLIST list, UINT,
                         HIMC himc) {
    const UINT vkey = virtKey & 0xFF;
    const auto typed = static_cast<char16_t>(HIWORD(virtKey));
    if (!himc || isSwitchOnKey(vkey, scanCode & 0xFF) || vkey == VK_IME_OFF) {
        return 0;
    }
    MessageList messages;
    {
        LockedContext ctx(himc);
        if (!ctx || !isTakingRomaji(ctx.get())) {
            return 0;
        }
        const Composition before = loadComposition(ctx.get());
        Composition next = before;
        std::u16string result;
        bool passKeyOn = false;
        const bool letter = vkey >= 'A' && vkey <= 'Z';
        if (vkey == VK_BACK) {
            next.backspace();
        } else if (vkey == VK_ESCAPE) {
            next = {};
        } else if (vkey == VK_RETURN) {
            result = before.committed();
            next = {};
        } else if (vkey == VK_SPACE) {
            next.convert();
        } else if (letter || typed >= u' ') {
            // Typing on after a conversion commits it and starts a new composition.
            if (before.converted) {
                result = before.committed();
                next = {};
            }
            const char16_t c =
                letter && !isRomajiLetter(typed) ? static_cast<char16_t>(vkey) : typed;
            next.type(c);
        } else {
            result = before.committed();
            next = {};
            passKeyOn = true;
        }
        const std::u16string shown = next.shown();
        trace("tavtest: ImeToAsciiEx vk=0x%02x char=0x%04x shown=%u\n", vkey, typed,
              static_cast<unsigned>(shown.size()));
        if (!storeComposition(ctx.get(), next, result)) {
            return 0;
        }
        messages.compose(!before.empty(), shown, result);
        if (passKeyOn) {
            messages.add(WM_KEYDOWN, vkey, static_cast<LPARAM>(1 | (scanCode & 0xFF) << 16));
        }
    }
    return messages.deliver(himc, list);
}

BOOL WINAPI NotifyIME(HIMC himc, DWORD action, DWORD index, DWORD value) {
    trace("tavtest: NotifyIME action=0x%x index=0x%x value=0x%x\n", action, index, value);
    if (!himc) {
        return FALSE;
    }
    switch (action) {
    case NI_CONTEXTUPDATED:
        if (value == IMC_SETOPENSTATUS) {
            bool opened = false;
            {
                LockedContext ctx(himc);
                if (!ctx) {
                    return FALSE;
                }
                opened = ctx->fOpen != FALSE;
            }
            // Japanese IMEs come on in hiragana, whatever mode they were left in.
            if (opened) {
                switchOnInHiragana(himc);
            } else {
                endComposition(himc, true);
            }
        } else if (value == IMC_SETCONVERSIONMODE) {
            LockedContext ctx(himc);
            if (ctx && !(ctx->fdwConversion & IME_CMODE_NATIVE)) {
                endComposition(himc, true);
            }
        }
        return TRUE;
    case NI_COMPOSITIONSTR:
        if (index == CPS_COMPLETE || index == CPS_CANCEL) {
            endComposition(himc, index == CPS_COMPLETE);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

BOOL WINAPI ImeConfigure(HKL, HWND, DWORD, LPVOID) {
    return FALSE;
}

LRESULT WINAPI ImeEscape(HIMC, UINT, LPVOID) {
    return 0;
}

DWORD WINAPI ImeConversionList(HIMC, LPCWSTR, LPCANDIDATELIST, DWORD, UINT) {
    return 0;
}

BOOL WINAPI ImeSetCompositionString(HIMC, DWORD, LPCVOID, DWORD, LPCVOID, DWORD) {
    return FALSE;
}

BOOL WINAPI ImeRegisterWord(LPCWSTR, DWORD, LPCWSTR) {
    return FALSE;
}

BOOL WINAPI ImeUnregisterWord(LPCWSTR, DWORD, LPCWSTR) {
    return FALSE;
}

UINT WINAPI ImeGetRegisterWordStyle(UINT, LPSTYLEBUFW) {
    return 0;
}

UINT WINAPI ImeEnumRegisterWord(REGISTERWORDENUMPROCW, LPCWSTR, DWORD, LPCWSTR, LPVOID) {
    return 0;
}

DWORD WINAPI ImeGetImeMenuItems(HIMC, DWORD, DWORD, LPIMEMENUITEMINFOW, LPIMEMENUITEMINFOW, DWORD) {
    return 0;
}

} // extern "C"
