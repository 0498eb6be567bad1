#include "reinput/deletion.h"
#include "tests/support/hooked_desktop.h"

namespace tavelio::testing {
namespace {

using platform::KeyInput;

const KeyInput BackDown = injected(0, 0x0E, 0x8);
const KeyInput BackUp = injected(0, 0x0E, 0xA);

class DeletionTest : public HookedDesktopTest {
protected:
    // The steps that wrote a BS_STEP_BEGIN line, as "i=N/M".
    Lines tracedSteps() const {
        Lines steps;
        for (const auto& line : out("BS_STEP_BEGIN")) {
            steps.push_back(line.substr(0, line.find(' ')));
        }
        return steps;
    }
};

TEST_F(DeletionTest, AnEmptyTextDoesNothing) {
    EXPECT_TRUE(sendDeletion(u""));
    EXPECT_TRUE(sendBackspaces(0));
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_TRUE(sys().sleeps.empty());
    EXPECT_EQ(logLines(LogChannel::Output).size(), 1u); // START only
}

TEST_F(DeletionTest, OneCharacterIsOneBackspaceWithTheFullTrace) {
    field() = u"xk";
    EXPECT_TRUE(sendDeletion(u"k"));
    EXPECT_EQ(field(), u"x");
    EXPECT_EQ(sys().batches, (std::vector<std::vector<KeyInput>>{{BackDown, BackUp}}));
    EXPECT_EQ(sys().sleeps, (std::vector<std::uint32_t>{12, 24}));
    const std::string mods = NoMods;
    EXPECT_EQ(
        runLines(),
        (Lines{
            "[OUT] SEND_DELETION_BEGIN method=backspace len=1 first2=\"k\" last2=\"k\" "
            "text=\"k\" " +
                mods + " " + EditorContext,
            "[OUT] SEND_BACKSPACES_BEGIN count=1 delayMs=12 " + mods + " " + EditorContext,
            "[OUT] BS_STEP_BEGIN i=1/1 elapsedMs=0 " + mods,
            "[OUT] BS_STEP_DONE i=1/1 elapsedMs=12 ctrlHeld=0 " + mods,
            "[OUT] SEND_BACKSPACES_DONE count=1 elapsedMs=12 ctrlHeldSteps=0 first2CtrlHeld=0 " +
                mods,
            "[OUT] SEND_DELETION_DONE len=1 first2=\"k\" last2=\"k\" pauseMs=24 " + mods,
        }));
}

TEST_F(DeletionTest, LongDeletionsTraceOnlyTheEndsAndTheCtrlHeldSteps) {
    const struct {
        std::size_t count;
        Lines traced;
    } cases[] = {
        {6, {"i=1/6", "i=2/6", "i=3/6", "i=4/6", "i=5/6", "i=6/6"}},
        {7, {"i=1/7", "i=2/7", "i=3/7", "i=5/7", "i=6/7", "i=7/7"}},
        {10, {"i=1/10", "i=2/10", "i=3/10", "i=8/10", "i=9/10", "i=10/10"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("count " + std::to_string(c.count));
        buildDesktop();
        EXPECT_TRUE(sendBackspaces(c.count));
        EXPECT_EQ(tracedSteps(), c.traced);
        EXPECT_EQ(out("BS_STEP_DONE").size(), c.traced.size());
        EXPECT_EQ(sys().batches.size(), c.count);
        EXPECT_EQ(sys().sleptMs, 12 * c.count);
        EXPECT_EQ(out("SEND_BACKSPACES_DONE"),
                  Lines{"count=" + std::to_string(c.count) +
                        " elapsedMs=" + std::to_string(12 * c.count) +
                        " ctrlHeldSteps=0 first2CtrlHeld=0 " + NoMods});
    }
}

// Ctrl pressed by the user before step 5 of 10: with Ctrl down a Backspace
// takes a whole word, the user's own "xyz " with it. A run's deletion stops
// before that step; the step is still traced with its Ctrl.
TEST_F(DeletionTest, CtrlPressedDuringARunsDeletionStopsItBeforeTheNextStep) {
    field() = u"xyz 0123456789";
    const std::uint32_t start = sys().tick;
    // Step k starts 12 ms after step k-1: step 5 starts at +48.
    sys().at(start + 45, [&] { sys().press(vk::LControl); });
    sys().at(start + 50, [&] { sys().release(vk::LControl); });
    RunWatch run;
    run.running = true;
    EXPECT_FALSE(sendBackspaces(10, 0, &run));
    EXPECT_EQ(field(), u"xyz 012345");
    EXPECT_EQ(sys().batches.size(), 4u);
    EXPECT_EQ(tracedSteps(), (Lines{"i=1/10", "i=2/10", "i=3/10", "i=5/10"}));
    const std::string ctrl = "ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0";
    EXPECT_EQ(out("BS_STEP_BEGIN")[3], "i=5/10 elapsedMs=48 " + ctrl);
    EXPECT_EQ(out("SEND_BACKSPACES_FAIL"),
              Lines{"requested=10 failedAt=5 reason=user_input " + ctrl});
    EXPECT_TRUE(out("SEND_BACKSPACES_DONE").empty());
}

TEST_F(DeletionTest, CtrlHeldFromTheStartCountsInTheFirstTwo) {
    sys().press(vk::RControl);
    EXPECT_TRUE(sendBackspaces(4));
    EXPECT_EQ(out("SEND_BACKSPACES_DONE").back(),
              "count=4 elapsedMs=48 ctrlHeldSteps=4 first2CtrlHeld=2 ctrl=1 lctrl=0 rctrl=1 "
              "shift=0 alt=0 win=0 bs=0");
}

TEST_F(DeletionTest, ACharacterOutsideTheBmpTakesTwoBackspaces) {
    field() = u"a\U0001F600";
    EXPECT_TRUE(sendDeletion(u"\U0001F600"));
    EXPECT_EQ(sys().batches.size(), 2u);
    EXPECT_EQ(field(), u"a");
    EXPECT_EQ(out("SEND_BACKSPACES_BEGIN").at(0).substr(0, 8), "count=2 ");
}

TEST_F(DeletionTest, ARefusedStepStopsTheDeletionThere) {
    field() = u"abcdefghij";
    sys().acceptLimit = 7; // steps 1 to 3 whole, the press of step 4 only
    sys().refusesOnce = true;
    EXPECT_FALSE(sendDeletion(u"abcdefghij"));
    EXPECT_EQ(field(), u"abcdef"); // four presses reached the field
    EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>(3, 12));
    // Step 4's release was refused: it goes out again on its own, so that
    // Backspace does not stay down.
    ASSERT_EQ(sys().batches.size(), 5u);
    EXPECT_EQ(sys().batches[4], std::vector<KeyInput>{BackUp});
    EXPECT_FALSE(sys().down[vk::Back]);
    // Step 4 is not among the traced ones.
    const std::string held = "ctrl=0 lctrl=0 rctrl=0 shift=0 alt=0 win=0 bs=1";
    auto lines = logLines(LogChannel::Output);
    ASSERT_GE(lines.size(), 4u);
    lines.erase(lines.begin(), lines.end() - 4);
    EXPECT_EQ(lines, (Lines{
                         "[OUT] BS_STEP_DONE i=3/10 elapsedMs=36 ctrlHeld=0 " + NoMods,
                         "[OUT] SENDINPUT_FAIL expected=2 sent=1 err=5 " + held,
                         "[OUT] SEND_BACKSPACES_FAIL requested=10 failedAt=4 sentEvents=1 err=5 "
                         "elapsedMs=36 ctrlHeldSteps=0 first2CtrlHeld=0 " +
                             NoMods + " " + EditorContext,
                         "[OUT] SEND_DELETION_FAIL len=10 first2=\"ab\" last2=\"ij\" " + NoMods,
                     }));
    EXPECT_TRUE(out("SEND_BACKSPACES_DONE").empty());
}

TEST_F(DeletionTest, ALayoutWithoutABackspaceScanCodeSendsTheVirtualKey) {
    sys().keysWithoutScanCode[fake::UsLayout] = {vk::Back};
    field() = u"ab";
    EXPECT_TRUE(sendBackspaces(1));
    EXPECT_EQ(sys().batches.at(0),
              (std::vector<KeyInput>{injected(vk::Back, 0, 0), injected(vk::Back, 0, 2)}));
    EXPECT_EQ(field(), u"a");
}

} // namespace
} // namespace tavelio::testing
