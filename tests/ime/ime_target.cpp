// A target for proving the test IME: a window with an edit control that runs the steps named on
// its command line (open its IME, inject keys with SendInput, report its text and IME state),
// one output line per step. With --attach CLASS it drives another program's window instead,
// e.g. Wine's notepad, where only what crosses processes can work.
#include "tests/support/win32_tools.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace tavelio::win32test;

constexpr UINT imeControlSetOpenStatus = 0x0006; // IMC_SETOPENSTATUS, missing from <imm.h>
constexpr UINT imeControlGetOpenStatus = 0x0005; // IMC_GETOPENSTATUS
constexpr UINT_PTR injectedMarker = 0x5441564C;
constexpr DWORD keyGapMs = 30; // lets each key through the message loop before the next

HWND mainWindow = nullptr;
HWND editWindow = nullptr;

bool sendKey(WORD vk, WORD scan, DWORD flags) {
    INPUT inputs[2]{};
    for (auto& in : inputs) {
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        in.ki.wScan = scan;
        in.ki.dwFlags = flags;
        in.ki.dwExtraInfo = injectedMarker;
    }
    inputs[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

// Types like Tavelio does: the scan-code form, virtual key 0.
bool typeText(const std::wstring& text) {
    const HKL layout = GetKeyboardLayout(0);
    for (const wchar_t c : text) {
        const SHORT vk = VkKeyScanExW(c, layout);
        if (vk == -1) {
            return false;
        }
        const UINT scan = MapVirtualKeyExW(vk & 0xFF, MAPVK_VK_TO_VSC, layout);
        if (scan == 0 || !sendKey(0, static_cast<WORD>(scan), KEYEVENTF_SCANCODE)) {
            return false;
        }
        pump(keyGapMs);
    }
    return true;
}

std::wstring windowText(HWND window) {
    wchar_t buffer[1024] = {};
    // WM_GETTEXT is marshalled across processes, unlike GetWindowTextW.
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer),
                        SMTO_ABORTIFHUNG, 1000, nullptr);
    return buffer;
}

std::wstring describeIme(HWND window) {
    const HeldImeContext ctx(window);
    if (!ctx.get()) {
        return L"context=0";
    }
    DWORD conversion = 0, sentence = 0;
    ImmGetConversionStatus(ctx.get(), &conversion, &sentence);
    return L"context=1 open=" + std::to_wstring(ImmGetOpenStatus(ctx.get()) ? 1 : 0) +
           L" conversion=" + hex(conversion);
}

std::wstring afterColon(const std::wstring& step) {
    const auto colon = step.find(L':');
    return colon == std::wstring::npos ? std::wstring() : step.substr(colon + 1);
}

unsigned long parseHex(const std::wstring& text) {
    return std::wcstoul(text.c_str(), nullptr, 16);
}

// One step; false ends the run with exit code 2.
bool runStep(const std::wstring& step) {
    if (step == L"layout") {
        const HKL layout = GetKeyboardLayout(0);
        print(L"layout=" + hex(reinterpret_cast<UINT_PTR>(layout)) + L" isIme=" +
              std::to_wstring(ImmIsIME(layout) ? 1 : 0));
    } else if (step == L"state") {
        print(describeIme(editWindow));
    } else if (step == L"focus") {
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(0, &info);
        print(L"foreground=" + std::to_wstring(GetForegroundWindow() == mainWindow ? 1 : 0) +
              L" focus=" + std::to_wstring(info.hwndFocus == editWindow ? 1 : 0));
    } else if (step == L"open" || step == L"close" || step == L"alphanumeric") {
        const HeldImeContext ctx(editWindow);
        BOOL ok = FALSE;
        if (ctx.get() && step == L"alphanumeric") {
            DWORD conversion = 0, sentence = 0;
            ImmGetConversionStatus(ctx.get(), &conversion, &sentence);
            ok = ImmSetConversionStatus(ctx.get(), conversion & ~IME_CMODE_NATIVE, sentence);
        } else if (ctx.get()) {
            ok = ImmSetOpenStatus(ctx.get(), step == L"open");
        }
        print(step + L"=" + std::to_wstring(ok ? 1 : 0));
    } else if (step == L"control-open" || step == L"control-close" || step == L"control-get") {
        const HWND imeWindow = ImmGetDefaultIMEWnd(editWindow);
        DWORD_PTR result = 0;
        const WPARAM command =
            step == L"control-get" ? imeControlGetOpenStatus : imeControlSetOpenStatus;
        const LRESULT delivered =
            imeWindow ? SendMessageTimeoutW(imeWindow, WM_IME_CONTROL, command,
                                            step == L"control-open" ? 1 : 0,
                                            SMTO_BLOCK | SMTO_ABORTIFHUNG, 250, &result)
                      : 0;
        print(step + L" imeWnd=" + hex(reinterpret_cast<UINT_PTR>(imeWindow)) + L" delivered=" +
              std::to_wstring(delivered) + L" result=" +
              std::to_wstring(static_cast<long long>(result)));
    } else if (step.starts_with(L"vk:")) {
        const bool sent = sendKey(static_cast<WORD>(parseHex(afterColon(step))), 0, 0);
        print(step + L" sent=" + std::to_wstring(sent ? 1 : 0));
    } else if (step.starts_with(L"scan:")) {
        const bool sent =
            sendKey(0, static_cast<WORD>(parseHex(afterColon(step))), KEYEVENTF_SCANCODE);
        print(step + L" sent=" + std::to_wstring(sent ? 1 : 0));
    } else if (step.starts_with(L"type:")) {
        print(step + L" sent=" + std::to_wstring(typeText(afterColon(step)) ? 1 : 0));
    } else if (step.starts_with(L"wait:")) {
        pump(static_cast<DWORD>(std::wcstoul(afterColon(step).c_str(), nullptr, 10)));
    } else if (step == L"text") {
        print(L"text=" + windowText(editWindow));
    } else if (step == L"comp") {
        print(L"comp=" + openComposition(editWindow));
    } else if (step == L"clear") {
        SendMessageW(editWindow, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
    } else if (step.starts_with(L"activate:")) {
        const auto layout = static_cast<UINT_PTR>(parseHex(afterColon(step)));
        const HKL previous = ActivateKeyboardLayout(reinterpret_cast<HKL>(layout), 0);
        print(step + L" previous=" + hex(reinterpret_cast<UINT_PTR>(previous)));
    } else if (step.starts_with(L"load:")) {
        const HKL loaded = LoadKeyboardLayoutW(afterColon(step).c_str(), KLF_ACTIVATE);
        print(step + L" loaded=" + hex(reinterpret_cast<UINT_PTR>(loaded)));
    } else if (step.starts_with(L"langrequest:")) {
        const auto layout = static_cast<UINT_PTR>(parseHex(afterColon(step)));
        const BOOL posted =
            PostMessageW(mainWindow, WM_INPUTLANGCHANGEREQUEST, 0, static_cast<LPARAM>(layout));
        print(step + L" posted=" + std::to_wstring(posted ? 1 : 0));
    } else {
        print(L"unknown step " + step);
        return false;
    }
    return true;
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return editFrameMessage(hwnd, message, lParam) ? 0
                                                   : DefWindowProcW(hwnd, message, wParam, lParam);
}

// Another program's top-level window and its focused child (found by class, e.g. "Edit").
bool attach(const std::wstring& windowClass) {
    for (int i = 0; i < 100 && !mainWindow; ++i) {
        mainWindow = FindWindowW(windowClass.c_str(), nullptr);
        if (!mainWindow) {
            Sleep(100);
        }
    }
    if (!mainWindow) {
        return false;
    }
    editWindow = FindWindowExW(mainWindow, nullptr, L"Edit", nullptr);
    if (!editWindow) {
        editWindow = mainWindow;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> steps(argv + 1, argv + argc);
    bool attached = false;
    if (steps.size() >= 2 && steps[0] == L"--attach") {
        if (!attach(steps[1])) {
            print(L"attach=0");
            return 2;
        }
        attached = true;
        steps.erase(steps.begin(), steps.begin() + 2);
        print(L"attach=1 window=" + hex(reinterpret_cast<UINT_PTR>(mainWindow)) + L" edit=" +
              hex(reinterpret_cast<UINT_PTR>(editWindow)));
    } else {
        const EditFrame target = createEditFrame(
            L"TavelioImeTarget", windowProc, L"Tavelio IME target", {40, 40, 520, 200}, ES_LEFT);
        mainWindow = target.frame;
        editWindow = target.edit;
        if (editWindow == nullptr) {
            print(L"window=0");
            return 2;
        }
    }
    ShowWindow(mainWindow, SW_SHOW);
    SetForegroundWindow(mainWindow);
    if (!attached) {
        SetFocus(editWindow);
    }
    pump(300);
    for (const auto& step : steps) {
        if (!runStep(step)) {
            return 2;
        }
    }
    if (!attached) {
        DestroyWindow(mainWindow);
    }
    return 0;
}
