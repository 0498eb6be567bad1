// The capture side against the real platform layer: the IME target of a real
// edit control, its open and conversion status, the process image name and
// the app filter for the test's own executable, and the keyboard decisions
// behind a real low-level hook fed with SendInput.
#include "capture/clear_triggers.h"
#include "capture/keyboard_hook.h"
#include "ime/ime_state.h"
#include "log/log_format.h"
#include "platform/constants.h"
#include "tests/wine/wine_test.h"

#include <string>
#include <vector>

namespace tavelio {
namespace {

using win32test::HeldImeContext;
using winetest::pump;

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

using CaptureWineTest = winetest::EditWindowTest;

TEST_F(CaptureWineTest, TheFocusedEditControlIsTheImeTarget) {
    {
        const ImeTarget target = findImeTarget();
        EXPECT_EQ(target.window(), editHandle());
        EXPECT_NE(target.context(), 0u) << "no input context for a plain edit control";
    }
    const std::string description = narrow(describeImeState());
    EXPECT_EQ(description.rfind("hwnd=" + hex(edit_) + " open=", 0), 0u) << description;
}

TEST_F(CaptureWineTest, OpenStatusAndTheNativeBitDecideTogether) {
    const HeldImeContext context(edit_);
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
    const HIMC previous = ImmAssociateContext(main_.get(), nullptr);
    (void)previous;
    {
        const HeldImeContext frame(main_.get());
        ASSERT_EQ(frame.get(), nullptr) << "the frame still has an input context";
    }
    focus(main_.get());
    const ImeTarget target = findImeTarget();
    EXPECT_EQ(target.window(), editHandle());
    EXPECT_NE(target.context(), 0u);
}

TEST_F(CaptureWineTest, TheOwnWindowsImageNameIsThisExecutable) {
    const std::u16string name = processImageName(editHandle());
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
        if (processKeyEvent(*hookedContext, code, static_cast<std::uint32_t>(wParam), event)
                .swallow) {
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

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
    RunWatch watch;
    HookContext context(0, settings, buffer, watch);
    hookedContext = &context;
    seenByHook.clear();
    const win32test::OwnedHook hook(
        SetWindowsHookExW(WH_KEYBOARD_LL, keyboardHookProc, GetModuleHandleW(nullptr), 0));
    ASSERT_NE(hook, nullptr);

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

    EXPECT_EQ(text(), u"ka") << "the keys went on to the edit control";
}

TEST_F(CaptureWineTest, KeyPressesAreRecordedThroughTheRealLayout) {
    Settings settings;
    InputBuffer buffer(200);
    RunWatch watch;
    HookContext context(0, settings, buffer, watch);
    FactsBoard board;
    context.board = &board;
    {
        const HeldImeContext ime(edit_);
        ImmSetOpenStatus(ime.get(), FALSE);
    }
    // What the watcher read of the real desktop: this window, its IME off.
    ASSERT_EQ(watchDesktop(board, settings, 0, false), WatchOutcome::published);
    auto press = [&](std::uint32_t vk) {
        const KeyEvent event{vk, MapVirtualKeyW(vk, MAPVK_VK_TO_VSC), 0, 0};
        return processKeyEvent(context, HC_ACTION, WM_KEYDOWN, event).swallow;
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
