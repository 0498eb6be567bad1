// The capture side against the real platform layer: the IME target of a real
// edit control, its open and conversion status, the process image name and
// the app filter for the test's own executable, and the keyboard decisions
// behind a real low-level hook fed with SendInput.
#include <windows.h>

#include <imm.h>

#include "capture/clear_triggers.h"
#include "capture/keyboard_hook.h"
#include "ime/ime_state.h"
#include "log/log_format.h"
#include "platform/constants.h"

#include "tests/wine/wine_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace tavelio {
namespace {

constexpr wchar_t WindowClass[] = L"TavelioCaptureWineTest";

using winetest::OwnedWindow;
using winetest::pump;

// An input context obtained for one window and released with it.
class HeldContext {
public:
    explicit HeldContext(HWND window) : window_(window), context_(ImmGetContext(window)) {}
    HeldContext(const HeldContext&) = delete;
    HeldContext& operator=(const HeldContext&) = delete;
    ~HeldContext() {
        if (context_ != nullptr) {
            ImmReleaseContext(window_, context_);
        }
    }
    HIMC get() const { return context_; }

private:
    HWND window_;
    HIMC context_;
};

std::string narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

std::string hex(HWND window) {
    return "0x" + narrow(lowerHex(reinterpret_cast<std::uintptr_t>(window)));
}

// The file name of this executable, as the system reports it.
std::u16string ownImageName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::u16string full(reinterpret_cast<const char16_t*>(path), length);
    const auto slash = full.find_last_of(u"\\/");
    return slash == std::u16string::npos ? full : full.substr(slash + 1);
}

class CaptureWineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = winetest::plainWindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = WindowClass;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        RegisterClassExW(&wc);
    }

    void SetUp() override {
        main_ = std::make_unique<OwnedWindow>(
            CreateWindowExW(0, WindowClass, L"Tavelio capture test", WS_OVERLAPPEDWINDOW, 120, 120,
                            500, 160, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
        ASSERT_NE(main_->get(), nullptr);
        edit_ =
            CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_BORDER | ES_AUTOHSCROLL, 10,
                            10, 460, 30, main_->get(), nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(edit_, nullptr);
        ShowWindow(main_->get(), SW_SHOW);
        focus(edit_);
    }

    void TearDown() override {
        main_.reset();
        pump(20);
    }

    // Wine's virtual desktop activates a window that asks for the foreground.
    void focus(HWND window) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            SetForegroundWindow(main_->get());
            SetFocus(window);
            pump(20);
            if (GetForegroundWindow() == main_->get() && GetFocus() == window) {
                break;
            }
        }
        ASSERT_EQ(GetForegroundWindow(), main_->get()) << "the test window never became foreground";
        ASSERT_EQ(GetFocus(), window);
    }

    std::unique_ptr<OwnedWindow> main_;
    HWND edit_ = nullptr;
};

TEST_F(CaptureWineTest, TheFocusedEditControlIsTheImeTarget) {
    {
        const ImeTarget target = findImeTarget();
        EXPECT_EQ(target.window(), reinterpret_cast<platform::WindowHandle>(edit_));
        EXPECT_NE(target.context(), 0u) << "no input context for a plain edit control";
    }
    const std::string description = narrow(describeImeState());
    EXPECT_EQ(description.rfind("hwnd=" + hex(edit_) + " open=", 0), 0u) << description;
}

TEST_F(CaptureWineTest, OpenStatusAndTheNativeBitDecideTogether) {
    const HeldContext context(edit_);
    ASSERT_NE(context.get(), nullptr);
    ASSERT_TRUE(ImmSetOpenStatus(context.get(), FALSE));
    EXPECT_FALSE(isImeOpen());

    ASSERT_TRUE(ImmSetOpenStatus(context.get(), TRUE));
    ASSERT_TRUE(ImmSetConversionStatus(context.get(), IME_CMODE_ALPHANUMERIC, 0));
    EXPECT_FALSE(isImeOpen()) << "open in alphanumeric mode counts as off";
    EXPECT_EQ(narrow(describeImeState()),
              "hwnd=" + hex(edit_) + " open=1 conv=0x0 sent=0x0 native=0");

    ASSERT_TRUE(ImmSetConversionStatus(context.get(), IME_CMODE_NATIVE | IME_CMODE_FULLSHAPE,
                                       IME_SMODE_PHRASEPREDICT));
    EXPECT_TRUE(isImeOpen());
    EXPECT_EQ(narrow(describeImeState()),
              "hwnd=" + hex(edit_) + " open=1 conv=0x9 sent=0x8 native=1");

    ASSERT_TRUE(ImmSetOpenStatus(context.get(), FALSE));
    EXPECT_FALSE(isImeOpen()) << "closed, whatever the conversion mode says";
}

TEST_F(CaptureWineTest, AChildHoldingTheOnlyContextIsFound) {
    // The frame gives up its context; the edit control keeps its own.
    const HIMC previous = ImmAssociateContext(main_->get(), nullptr);
    (void)previous;
    {
        const HeldContext frame(main_->get());
        ASSERT_EQ(frame.get(), nullptr) << "the frame still has an input context";
    }
    focus(main_->get());
    const ImeTarget target = findImeTarget();
    EXPECT_EQ(target.window(), reinterpret_cast<platform::WindowHandle>(edit_));
    EXPECT_NE(target.context(), 0u);
}

TEST_F(CaptureWineTest, TheOwnWindowsImageNameIsThisExecutable) {
    const std::u16string name = processImageName(reinterpret_cast<platform::WindowHandle>(edit_));
    EXPECT_EQ(narrow(name), narrow(ownImageName()));
    EXPECT_EQ(narrow(processImageNameOf(GetCurrentProcessId())), narrow(ownImageName()));
}

TEST_F(CaptureWineTest, TheAppFilterExcludesThisExecutableInAnyLetterCase) {
    std::u16string upper = ownImageName();
    std::u16string lower = upper;
    std::u16string mixed = upper;
    for (std::size_t i = 0; i < upper.size(); ++i) {
        if (upper[i] >= u'a' && upper[i] <= u'z') {
            upper[i] = static_cast<char16_t>(upper[i] - 0x20);
        }
        if (lower[i] >= u'A' && lower[i] <= u'Z') {
            lower[i] = static_cast<char16_t>(lower[i] + 0x20);
        }
        mixed[i] = i % 2 == 0 ? upper[i] : lower[i];
    }
    for (const auto& entry : {upper, lower, mixed}) {
        Settings settings;
        settings.excludedApps = {u"notepad.exe", entry};
        EXPECT_FALSE(allowedApp(settings)) << narrow(entry);
        settings.appMode = u"All";
        EXPECT_TRUE(allowedApp(settings)) << narrow(entry);
    }
    Settings withoutExtension;
    withoutExtension.excludedApps = {lower.substr(0, lower.rfind(u'.'))};
    EXPECT_TRUE(allowedApp(withoutExtension));
    EXPECT_TRUE(allowedApp(Settings{}));
}

// A real low-level keyboard hook in front of the keyboard decisions.
HookContext* hookedContext = nullptr;
std::vector<KBDLLHOOKSTRUCT> seenByHook;

LRESULT CALLBACK keyboardHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && hookedContext != nullptr) {
        const auto* record = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        seenByHook.push_back(*record);
        const KeyEvent event{record->vkCode, record->scanCode, record->flags, record->dwExtraInfo};
        if (processKeyEvent(*hookedContext, code, static_cast<std::uint32_t>(wParam), event)) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class InstalledHook {
public:
    explicit InstalledHook(HookContext& context)
        : hook_(SetWindowsHookExW(WH_KEYBOARD_LL, keyboardHookProc, GetModuleHandleW(nullptr), 0)) {
        hookedContext = &context;
        seenByHook.clear();
    }
    InstalledHook(const InstalledHook&) = delete;
    InstalledHook& operator=(const InstalledHook&) = delete;
    ~InstalledHook() {
        hookedContext = nullptr;
        if (hook_ != nullptr) {
            UnhookWindowsHookEx(hook_);
        }
    }
    bool installed() const { return hook_ != nullptr; }

private:
    HHOOK hook_;
};

INPUT keyInput(WORD vk, DWORD flags, ULONG_PTR extraInfo) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = flags;
    input.ki.dwExtraInfo = extraInfo;
    return input;
}

TEST_F(CaptureWineTest, InjectedKeysReachTheHookFlaggedAndAreNotRecorded) {
    Settings settings;
    InputBuffer buffer(200);
    HookContext context(0, settings, buffer);
    const InstalledHook hook(context);
    ASSERT_TRUE(hook.installed());

    INPUT inputs[] = {
        keyInput('K', 0, InjectedInputMarker), keyInput('K', KEYEVENTF_KEYUP, InjectedInputMarker),
        keyInput('A', 0, 0), keyInput('A', KEYEVENTF_KEYUP, 0), // unmarked, still injected
    };
    ASSERT_EQ(SendInput(4, inputs, sizeof(INPUT)), 4u);
    pump(300);

    ASSERT_EQ(seenByHook.size(), 4u);
    for (const auto& record : seenByHook) {
        EXPECT_NE(record.flags & LLKHF_INJECTED, 0u) << "vk " << record.vkCode;
    }
    EXPECT_EQ(seenByHook[0].dwExtraInfo, InjectedInputMarker);
    EXPECT_EQ(seenByHook[2].dwExtraInfo, 0u);
    EXPECT_TRUE(buffer.text().empty());
    EXPECT_EQ(context.fromPid, 0u) << "the foreground check ran for injected input";

    wchar_t typed[16] = {};
    GetWindowTextW(edit_, typed, 16);
    EXPECT_STREQ(typed, L"ka") << "the keys went on to the edit control";
}

TEST_F(CaptureWineTest, KeyPressesAreRecordedThroughTheRealLayout) {
    Settings settings;
    InputBuffer buffer(200);
    HookContext context(0, settings, buffer);
    {
        const HeldContext ime(edit_);
        ImmSetOpenStatus(ime.get(), FALSE);
    }
    auto press = [&](std::uint32_t vk) {
        const KeyEvent event{vk, MapVirtualKeyW(vk, MAPVK_VK_TO_VSC), 0, 0};
        return processKeyEvent(context, HC_ACTION, WM_KEYDOWN, event);
    };
    for (const std::uint32_t vk : {0x4Bu, 0x41u, 0x31u, static_cast<unsigned>(VK_OEM_1),
                                   static_cast<unsigned>(VK_OEM_PERIOD)}) {
        EXPECT_FALSE(press(vk));
    }
    EXPECT_EQ(narrow(buffer.text()), "ka1;.");
    EXPECT_EQ(context.fromPid, GetCurrentProcessId());
    EXPECT_FALSE(press(VK_DELETE));
    EXPECT_EQ(narrow(buffer.text()), "ka1;.");
}

} // namespace
} // namespace tavelio
