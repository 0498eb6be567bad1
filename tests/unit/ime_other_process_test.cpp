// Another application's IME, as Windows shows it to Tavelio: its input
// contexts cannot be read, but its default IME window answers WM_IME_CONTROL.
#include "capture/hook_context.h"
#include "ime/ime_state.h"
#include "platform/constants.h"
#include "reinput/execute_sequence.h"
#include "tests/support/fake_test.h"

namespace tavelio::testing {
namespace {

constexpr platform::WindowHandle HiddenWindow = 0x9000;

class ImeOtherProcessTest : public FakeSystemTest {
protected:
    void SetUp() override {
        FakeSystemTest::SetUp();
        sys().contextsAcrossProcesses = false;
        edit_ = sys().addEditor();
    }
    void setIme(bool on) {
        sys().ime(edit_).open = on;
        sys().ime(edit_).conversion = on ? 0x9 : 0x0;
    }
    bool press(std::uint8_t key) {
        const bool swallowed = processKeyEvent(hook_, 0, msg::KeyDown, {key, 0, 0, 0});
        processKeyEvent(hook_, 0, msg::KeyUp, {key, 0, 0x80, 0});
        return swallowed;
    }

    platform::WindowHandle edit_ = 0;
    Settings settings_;
    InputBuffer buffer_{200};
    HookContext hook_{HiddenWindow, settings_, buffer_};
};

TEST_F(ImeOtherProcessTest, TheStateComesFromTheDefaultImeWindow) {
    const struct {
        bool open;
        std::uint32_t conversion;
        bool expected;
    } cases[] = {{false, 0x0, false}, {false, 0x9, false}, {true, 0x0, false},
                 {true, 0x9, true},   {true, 0x1, true},   {true, 0xB, true}};
    for (const auto& c : cases) {
        sys().ime(edit_).open = c.open;
        sys().ime(edit_).conversion = c.conversion;
        EXPECT_EQ(isImeOpen(), c.expected) << c.open << " 0x" << std::hex << c.conversion;
    }
    EXPECT_EQ(sys().contextsObtained, 0);
    // The questions asked, with a time-out short enough for a keyboard hook.
    const auto& asked = sys().sent.back();
    EXPECT_EQ(asked.window, sys().window(edit_).defaultImeWindow);
    EXPECT_EQ(asked.message, msg::ImeControl);
    EXPECT_EQ(asked.wParam, ime::ImcGetConversionMode);
    EXPECT_EQ(asked.flags, ime::SmtoBlockAbortIfHung);
    EXPECT_EQ(asked.timeoutMs, 50u);
}

TEST_F(ImeOtherProcessTest, NoImeWindowOrAHungOneReadsAsOff) {
    setIme(true);
    sys().window(edit_).defaultImeWindow = 0;
    EXPECT_FALSE(isImeOpen());

    sys().window(edit_).defaultImeWindow = sys().window(sys().foreground).defaultImeWindow;
    sys().window(sys().foreground).hung = true;
    const auto before = sys().tick;
    EXPECT_FALSE(isImeOpen());
    EXPECT_LE(sys().tick - before, 50u);
}

TEST_F(ImeOtherProcessTest, KeysAreRecordedAndTheHotkeyTakenOnlyWithTheImeOff) {
    const struct {
        const char* name;
        bool imeOn;
        std::vector<std::uint8_t> keys;
        std::u16string recorded;
    } cases[] = {
        // With the IME on, the application shows kana, not the letters: recording
        // them would make the hotkey delete more than the application holds.
        {"IME on", true, {'D', 'E', 'S', 'U'}, u""},
        {"IME off", false, {'K', 'A'}, u"ka"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sys().releaseAll();
        sys().posted.clear();
        buffer_.clear();
        setIme(c.imeOn);
        for (const std::uint8_t key : c.keys) {
            EXPECT_FALSE(press(key));
        }
        EXPECT_EQ(buffer_.text(), c.recorded);
        sys().press(vk::LControl);
        EXPECT_EQ(press(vk::Back), !c.imeOn);
        if (c.imeOn) {
            EXPECT_TRUE(sys().posted.empty());
        } else {
            ASSERT_EQ(sys().posted.size(), 1u);
            EXPECT_EQ(sys().posted[0].message, ExecuteRequestMessage);
        }
    }
}

// The run against another application: its context cannot be read, so the
// input-context method skips and the default IME window switches it on; the
// state read back through that window confirms it without any IME key.
TEST_F(ImeOtherProcessTest, TheRunSwitchesTheImeOnThroughTheDefaultImeWindow) {
    startLogging();
    std::atomic<std::uint32_t> sessions{0};
    platform::WindowHandle keyFallbackWindow = 0;
    ExecuteContext run{settings_, &buffer_, sessions, keyFallbackWindow};
    sys().keyboardHook = [this](const fake::HookKeyEvent& e) {
        return processKeyEvent(hook_, 0, e.message,
                               KeyEvent{e.vkCode, e.scanCode, e.flags, e.extraInfo});
    };
    for (const std::uint8_t key : {'K', 'A'}) {
        fake::deliverHardwareKey(key, false);
        fake::deliverHardwareKey(key, true);
    }
    ASSERT_EQ(sys().window(edit_).text, u"ka");
    // A Japanese IME keeps its hiragana mode while closed; opening brings it back.
    sys().ime(edit_).conversion = 0x9;

    executeReinput(run);

    EXPECT_EQ(sys().window(edit_).text, u"\u304B");
    const auto enable = events(LogChannel::Output, "IME_ENABLE");
    // Before the deletion: the skip and the success; after it the IME reads on
    // already, so only the skip.
    ASSERT_EQ(enable.size(), 3u);
    EXPECT_EQ(enable[0], "method=ImmSetOpenStatus result=skip reason=no_context");
    EXPECT_EQ(enable[1], "method=WM_IME_CONTROL result=ok");
    EXPECT_EQ(enable[2], "method=ImmSetOpenStatus result=skip reason=no_context");
    EXPECT_TRUE(events(LogChannel::Output, "IME_ENABLE_FALLBACK").empty());
    ASSERT_FALSE(events(LogChannel::Output, "IME_READY").empty());
    EXPECT_EQ(events(LogChannel::Output, "IME_READY")[0].rfind("result=ok ", 0), 0u);
    EXPECT_EQ(events(LogChannel::Output, "EXECUTE_SUCCESS").size(), 1u);
}

} // namespace
} // namespace tavelio::testing
