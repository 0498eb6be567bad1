// Another application's IME, as Windows shows it to Tavelio: its input
// contexts cannot be read, but its default IME window answers WM_IME_CONTROL.
#include "ime/ime_state.h"
#include "tests/support/hooked_desktop.h"

namespace tavelio::testing {
namespace {

class ImeOtherProcessTest : public HookedDesktopTest {
protected:
    void SetUp() override {
        HookedDesktopTest::SetUp();
        sys().contextsAcrossProcesses = false;
    }
};

TEST_F(ImeOtherProcessTest, TheStateComesFromTheDefaultImeWindow) {
    const struct {
        bool open;
        std::uint32_t conversion;
        bool expected;
    } cases[] = {{false, 0x0, false}, {false, 0x9, false}, {true, 0x0, false},
                 {true, 0x9, true},   {true, 0x1, true},   {true, 0xB, true}};
    for (const auto& c : cases) {
        ime().open = c.open;
        ime().conversion = c.conversion;
        const auto expected = c.expected ? ImeReading::on : ImeReading::off;
        EXPECT_EQ(readIme(ImeAsker::watcher), expected)
            << c.open << " 0x" << std::hex << c.conversion;
        EXPECT_EQ(readIme(ImeAsker::run), expected) << c.open << " 0x" << std::hex << c.conversion;
    }
    EXPECT_EQ(sys().contextsObtained, 0);
    // Neither asker's thread answers the hooks, so neither blocks; the
    // watcher waits longer for a busy application than a run does.
    EXPECT_EQ(sys().sent.back().flags, ime::SmtoAbortIfHung);
    const auto runWaits = sys().sent.back().timeoutMs;
    EXPECT_EQ(readIme(ImeAsker::watcher), ImeReading::on);
    const auto& asked = sys().sent.back();
    EXPECT_EQ(asked.window, sys().window(edit_).defaultImeWindow);
    EXPECT_EQ(asked.message, msg::ImeControl);
    EXPECT_EQ(asked.wParam, ime::ImcGetConversionMode);
    EXPECT_EQ(asked.flags, ime::SmtoAbortIfHung);
    EXPECT_GT(asked.timeoutMs, runWaits);
}

// Without an IME window there is nothing to read (the hook records, as with
// the IME off); a hung one leaves the state unknown.
TEST_F(ImeOtherProcessTest, NoImeWindowIsUnreadableAndAHungOneUnknown) {
    setIme(true);
    sys().window(edit_).defaultImeWindow = 0;
    EXPECT_EQ(readIme(ImeAsker::watcher), ImeReading::unreadable);
    EXPECT_FALSE(isImeOpen());

    sys().window(edit_).defaultImeWindow = sys().window(sys().foreground).defaultImeWindow;
    sys().window(sys().foreground).hung = true;
    const auto before = sys().tick;
    EXPECT_EQ(readIme(ImeAsker::watcher), ImeReading::unknown);
    EXPECT_LE(sys().tick - before, 200u);
}

TEST_F(ImeOtherProcessTest, KeysAreRecordedAndTheHotkeyTakenOnlyWithTheImeOff) {
    const struct {
        const char* name;
        bool imeOn;
        std::vector<std::uint8_t> keys;
        std::u16string recorded;
        bool busy = false; // its IME window does not answer in time
    } cases[] = {
        // With the IME on, the application shows kana, not the letters: recording
        // them would make the hotkey delete more than the application holds.
        {"IME on", true, {'D', 'E', 'S', 'U'}, u""},
        {"IME off", false, {'K', 'A'}, u"ka"},
        // A busy application may have turned them into kana: they are held
        // back for the watcher's next reading, and the hotkey goes to the
        // run, which reads the IME itself.
        {"IME unknown", false, {'D', 'E', 'S', 'U'}, u"desu", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sys().releaseAll();
        sys().posted.clear();
        app_->buffer.clear();
        setIme(c.imeOn);
        sys().window(sys().foreground).hung = c.busy;
        for (const std::uint8_t k : c.keys) {
            EXPECT_FALSE(key(k));
        }
        EXPECT_EQ(app_->buffer.text(), c.recorded);
        EXPECT_EQ(app_->buffer.heldBack(), c.busy);
        sys().press(vk::LControl);
        const auto before = sys().tick;
        EXPECT_EQ(key(vk::Back), !c.imeOn);
        EXPECT_EQ(sys().tick, before); // the hook waits for nobody
        if (c.imeOn) {
            EXPECT_TRUE(sys().posted.empty());
        } else {
            expectOneExecuteRequest();
        }
    }
}

// The run against another application: its context cannot be read, so the
// input-context method skips and the default IME window switches it on; the
// state read back through that window confirms it without any IME key.
TEST_F(ImeOtherProcessTest, TheRunSwitchesTheImeOnThroughTheDefaultImeWindow) {
    userTypes(u"ka");
    ASSERT_EQ(field(), u"ka");
    // A Japanese IME keeps its hiragana mode while closed; opening brings it back.
    ime().conversion = 0x9;

    executeReinput(app_->run);

    EXPECT_EQ(field(), u"\u304B");
    const auto enable = out("IME_ENABLE");
    // Before the deletion: the skip and the success; after it the IME reads on
    // already, so only the skip.
    ASSERT_EQ(enable.size(), 3u);
    EXPECT_EQ(enable[0], "method=ImmSetOpenStatus result=skip reason=no_context");
    EXPECT_EQ(enable[1], "method=WM_IME_CONTROL result=ok");
    EXPECT_EQ(enable[2], "method=ImmSetOpenStatus result=skip reason=no_context");
    EXPECT_TRUE(out("IME_ENABLE_FALLBACK").empty());
    ASSERT_FALSE(out("IME_READY").empty());
    EXPECT_EQ(out("IME_READY")[0].rfind("result=ok ", 0), 0u);
    EXPECT_EQ(out("EXECUTE_SUCCESS").size(), 1u);
}

} // namespace
} // namespace tavelio::testing
