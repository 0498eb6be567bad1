#include "reinput/synthetic_input.h"
#include "tests/support/hooked_desktop.h"

namespace tavelio::testing {
namespace {

using platform::KeyInput;

using SyntheticInputTest = HookedDesktopTest;

TEST_F(SyntheticInputTest, KeyEventFormsFollowTheLayoutMapping) {
    const auto layout = foregroundLayout();
    const struct {
        std::uint8_t vk;
        KeyInput press, release;
    } cases[] = {
        {vk::Back, injected(0, 0x0E, 0x8), injected(0, 0x0E, 0xA)},
        {'K', injected(0, 0x25, 0x8), injected(0, 0x25, 0xA)},
        // E0-prefixed keys: the low byte goes out, the prefix becomes the extended flag.
        {vk::RControl, injected(0, 0x1D, 0x9), injected(0, 0x1D, 0xB)},
        {vk::Delete, injected(0, 0x53, 0x9), injected(0, 0x53, 0xB)},
        {vk::Left, injected(0, 0x4B, 0x9), injected(0, 0x4B, 0xB)},
        // No scan code on the layout: by virtual key.
        {vk::DbeHiragana, injected(vk::DbeHiragana, 0, 0x0), injected(vk::DbeHiragana, 0, 0x2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("vk " + std::to_string(c.vk));
        InputBatch batch;
        addKeyEvent(batch, c.vk, false, layout);
        addKeyEvent(batch, c.vk, true, layout);
        ASSERT_EQ(batch.size(), 2u);
        EXPECT_EQ(batch.records[0], c.press);
        EXPECT_EQ(batch.records[1], c.release);
    }
    EXPECT_EQ(unicodeEvent(0xD83D, false), injected(0, 0xD83D, 0x4));
    EXPECT_EQ(unicodeEvent(0xD83D, true), injected(0, 0xD83D, 0x6));
}

TEST_F(SyntheticInputTest, TheMappingUsesTheForegroundThreadsLayout) {
    // The foreground editor runs a layout without a scan code for Backspace;
    // Tavelio's own thread keeps the US layout, which has one.
    constexpr platform::KeyboardLayout Other = 0xE0010411;
    sys().threads.at(sys().window(edit_).threadId).layout = Other;
    sys().keysWithoutScanCode[Other] = {vk::Back};
    EXPECT_EQ(foregroundLayout(), Other);
    InputBatch batch;
    addKeyEvent(batch, vk::Back, false, foregroundLayout());
    EXPECT_EQ(batch.records.at(0), injected(vk::Back, 0, 0));

    sys().foreground = 0; // no foreground window: the calling thread's layout
    EXPECT_EQ(foregroundLayout(), fake::UsLayout);
}

TEST_F(SyntheticInputTest, AnEmptyBatchSendsNothingAndSucceeds) {
    InputBatch batch;
    const SendResult result = sendInputBatch(batch);
    EXPECT_TRUE(result.ok());
    EXPECT_EQ(result.accepted, 0u);
    EXPECT_EQ(result.error, 0u);
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_TRUE(out("SENDINPUT_FAIL").empty());
}

TEST_F(SyntheticInputTest, ABatchGoesOutInOneCallAndIsEmptiedAfterwards) {
    const auto layout = foregroundLayout();
    InputBatch batch;
    addKeyEvent(batch, 'K', false, layout);
    addKeyEvent(batch, 'K', true, layout);
    addKeyEvent(batch, 'A', false, layout);
    addKeyEvent(batch, 'A', true, layout);
    sys().lastErrorValue = 87; // stale error from an earlier call must not be reported
    const SendResult result = sendInputBatch(batch);
    EXPECT_TRUE(result.ok());
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(result.accepted, 4u);
    EXPECT_EQ(result.error, 0u);
    ASSERT_EQ(sys().batches.size(), 1u);
    EXPECT_EQ(sys().batches[0].size(), 4u);
    EXPECT_EQ(sys().window(edit_).text, u"ka");
}

TEST_F(SyntheticInputTest, APartlyRefusedBatchReportsCountsAndError) {
    const auto layout = foregroundLayout();
    sys().acceptLimit = 1;
    sys().failError = 5;
    sys().press(vk::RControl); // the modifier state is part of the line
    InputBatch batch;
    addKeyEvent(batch, 'K', false, layout);
    addKeyEvent(batch, 'K', true, layout);
    addKeyEvent(batch, 'A', false, layout);
    const SendResult result = sendInputBatch(batch);
    EXPECT_FALSE(result.ok());
    EXPECT_TRUE(batch.empty());
    EXPECT_EQ(result.accepted, 1u);
    EXPECT_EQ(result.error, 5u);
    EXPECT_EQ(out("SENDINPUT_FAIL"),
              std::vector<std::string>{
                  "expected=3 sent=1 err=5 ctrl=1 lctrl=0 rctrl=1 shift=0 alt=0 win=0 bs=0"});
}

// ------------------------------------------------------- waitForHotkeyRelease

TEST_F(SyntheticInputTest, NothingHeldEndsTheWaitAtOnce) {
    EXPECT_TRUE(waitForHotkeyRelease());
    EXPECT_TRUE(sys().sleeps.empty());
    EXPECT_EQ(out("WAIT_HOTKEY_RELEASE_BEGIN"), Lines{"timeoutMs=3000 " + NoMods});
    EXPECT_EQ(out("WAIT_HOTKEY_RELEASE"), Lines{"result=ok elapsedMs=0 " + NoMods});
}

// Held keys come up after upAfter ms (never when 0); a wait that starts 256 ms
// before the 32-bit tick count wraps still takes its full time.
TEST_F(SyntheticInputTest, TheWaitPollsEveryTenMillisecondsUntilAllFourKeysAreUpOrThreeSeconds) {
    const std::string backHeld = "ctrl=0 lctrl=0 rctrl=0 shift=0 alt=0 win=0 bs=1";
    const std::string bothHeld = "ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=1";
    const struct {
        std::vector<std::uint8_t> held;
        std::uint32_t upAfter;
        std::size_t polls;
        std::string line;
        std::uint32_t startTick = 1000;
    } cases[] = {
        {{vk::Control}, 35, 4, "result=ok elapsedMs=40 " + NoMods},
        {{vk::Shift}, 10, 1, "result=ok elapsedMs=10 " + NoMods},
        {{vk::Menu}, 1, 1, "result=ok elapsedMs=10 " + NoMods},
        {{vk::Back}, 2990, 299, "result=ok elapsedMs=2990 " + NoMods},
        {{vk::Control, vk::Back}, 0, 300, "result=timeout elapsedMs=3000 " + bothHeld},
        {{vk::Back}, 1000, 100, "result=ok elapsedMs=1000 " + NoMods, 0xFFFFFF00u},
        {{vk::Back}, 0, 300, "result=timeout elapsedMs=3000 " + backHeld, 0xFFFFFF00u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        buildDesktop();
        sys().tick = c.startTick;
        hold(c.held);
        if (c.upAfter != 0) {
            sys().after(c.upAfter, [&] { sys().releaseAll(); });
        }
        EXPECT_EQ(waitForHotkeyRelease(), c.upAfter != 0);
        EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>(c.polls, 10));
        EXPECT_EQ(out("WAIT_HOTKEY_RELEASE"), Lines{c.line});
    }
}

// ----------------------------------------------------------- releaseModifiers

// Each key is lifted by its own scan code: the right-hand Ctrl and Alt by
// their extended codes, the right Shift by 0x36. A left-hand key-up would
// leave the right one down.
TEST_F(SyntheticInputTest, ReleasesEveryModifierKeyThatIsDown) {
    const auto ctrlUp = injected(0, 0x1D, 0xA);
    const auto shiftUp = injected(0, 0x2A, 0xA);
    const auto altUp = injected(0, 0x38, 0xA);
    const auto rightCtrlUp = injected(0, 0x1D, 0xB);
    const auto rightShiftUp = injected(0, 0x36, 0xA);
    const auto rightAltUp = injected(0, 0x38, 0xB);
    const struct {
        std::vector<std::uint8_t> held;
        std::vector<KeyInput> sent;
        std::string line;
    } cases[] = {
        {{vk::RControl}, {rightCtrlUp}, "keys=ctrl result=ok"},
        {{vk::LControl, vk::LMenu}, {ctrlUp, altUp}, "keys=ctrl alt result=ok"},
        {{vk::RMenu, vk::RShift, vk::Control},
         {ctrlUp, rightShiftUp, rightAltUp},
         "keys=ctrl shift alt result=ok"},
        {{vk::LShift}, {shiftUp}, "keys=shift result=ok"},
        {{vk::LControl, vk::RControl, vk::LShift, vk::RShift},
         {ctrlUp, rightCtrlUp, shiftUp, rightShiftUp},
         "keys=ctrl shift result=ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        sys().releaseAll();
        sys().batches.clear();
        sys().sleeps.clear();
        for (const auto key : c.held) {
            sys().press(key);
        }
        EXPECT_TRUE(releaseModifiers());
        ASSERT_EQ(sys().batches.size(), 1u);
        EXPECT_EQ(sys().batches[0], c.sent);
        EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>{12});
        EXPECT_EQ(out("RELEASE_MODIFIERS").back(), c.line);
        for (const auto key : {vk::Control, vk::Shift, vk::Menu, vk::LControl, vk::RControl,
                               vk::LShift, vk::RShift, vk::LMenu, vk::RMenu}) {
            EXPECT_FALSE(sys().down[key]) << "key " << int(key);
        }
    }
}

TEST_F(SyntheticInputTest, NoModifierDownSendsNothingAndDoesNotPause) {
    sys().press(vk::LWin); // the Windows keys are not released
    sys().press(vk::Back);
    EXPECT_TRUE(releaseModifiers());
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_TRUE(sys().sleeps.empty());
    EXPECT_EQ(out("RELEASE_MODIFIERS"), Lines{"none"});
}

TEST_F(SyntheticInputTest, AModifierWithoutScanCodeIsReleasedByVirtualKey) {
    sys().keysWithoutScanCode[fake::UsLayout] = {vk::LMenu};
    sys().press(vk::Control);
    sys().press(vk::Menu);
    EXPECT_TRUE(releaseModifiers());
    ASSERT_EQ(sys().batches.size(), 1u);
    EXPECT_EQ(sys().batches[0],
              (std::vector<KeyInput>{injected(0, 0x1D, 0xA), injected(vk::LMenu, 0, 0x2)}));
    EXPECT_FALSE(sys().down[vk::Menu]);
}

TEST_F(SyntheticInputTest, ARefusedReleaseFailsWithoutPausing) {
    sys().acceptLimit = 0;
    sys().press(vk::LControl);
    EXPECT_FALSE(releaseModifiers());
    EXPECT_TRUE(sys().sleeps.empty());
    EXPECT_TRUE(sys().down[vk::Control]);
    const auto lines = logLines(LogChannel::Output);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "[OUT] SENDINPUT_FAIL expected=1 sent=0 err=5 ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 "
              "win=0 bs=0");
    EXPECT_EQ(lines.back(), "[OUT] RELEASE_MODIFIERS keys=ctrl result=fail");
}

} // namespace
} // namespace tavelio::testing
