#include "ime/ime_state.h"
#include "tests/support/fake_test.h"

#include <cstdio>

namespace tavelio::testing {
namespace {

class ImeStateTest : public FakeSystemTest {
protected:
    std::string describe() { return narrow(describeImeState()); }
    static std::string hex(platform::WindowHandle window) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(window));
        return text;
    }
};

TEST_F(ImeStateTest, NoForegroundWindowMeansNoTarget) {
    const ImeTarget target = findImeTarget();
    EXPECT_EQ(target.window(), 0u);
    EXPECT_EQ(target.context(), 0u);
    EXPECT_FALSE(isImeOpen());
    EXPECT_EQ(describe(), "hwnd=null");
    EXPECT_TRUE(sys().attachCalls.empty());
}

// A window of another thread of this process: attached for the examination only.
TEST_F(ImeStateTest, AnotherThreadsWindowIsExaminedAttachedAndDetachedAgain) {
    const auto tid = sys().addThread(sys().ownProcessId);
    const auto top = sys().addWindow(tid, u"Frame");
    const auto edit = sys().addWindow(tid, u"Edit", u"", top);
    sys().addContext(edit);
    sys().activate(top, edit);
    {
        const ImeTarget target = findImeTarget();
        EXPECT_EQ(target.window(), edit);
        EXPECT_EQ(target.context(), sys().window(edit).context);
    }
    ASSERT_EQ(sys().attachCalls.size(), 2u);
    EXPECT_EQ(sys().attachCalls[0].from, sys().ownThreadId);
    EXPECT_EQ(sys().attachCalls[0].to, tid);
    EXPECT_TRUE(sys().attachCalls[0].attach);
    EXPECT_EQ(sys().attachCalls[1].to, tid);
    EXPECT_FALSE(sys().attachCalls[1].attach);
    EXPECT_EQ(sys().contextsReleased, 1);
}

TEST_F(ImeStateTest, TheProgramsOwnThreadIsNeitherAttachedNorDetached) {
    sys().threads[sys().ownThreadId] = fake::Thread{sys().ownThreadId, sys().ownProcessId};
    const auto top = sys().addWindow(sys().ownThreadId, u"TavelioTest");
    sys().addContext(top);
    sys().activate(top);
    EXPECT_EQ(findImeTarget().window(), top);
    EXPECT_FALSE(isImeOpen());
    EXPECT_TRUE(sys().attachCalls.empty());
}

// Attaching to another process's thread reads nothing and resets the key
// state that thread's application sees (a held Shift would be lost).
TEST_F(ImeStateTest, AnotherProcessIsNeverAttached) {
    const auto edit = sys().addEditor();
    EXPECT_EQ(findImeTarget().window(), edit);
    EXPECT_FALSE(isImeOpen());
    EXPECT_EQ(describe(), "hwnd=" + hex(edit) + " open=0 conv=0x0 sent=0x0 native=0");
    EXPECT_TRUE(sys().attachCalls.empty());
}

TEST_F(ImeStateTest, AFailedAttachIsNotUndoneButTheSearchGoesOn) {
    const auto tid = sys().addThread(sys().ownProcessId);
    const auto edit = sys().addWindow(tid, u"Edit");
    sys().addContext(edit);
    sys().activate(edit, edit);
    sys().attachFails = true;
    EXPECT_EQ(findImeTarget().window(), edit);
    ASSERT_EQ(sys().attachCalls.size(), 1u);
    EXPECT_TRUE(sys().attachCalls[0].attach);
}

TEST_F(ImeStateTest, AChildHoldingTheContextIsTheTarget) {
    const auto tid = sys().addThread(sys().addProcess(u"C:\\Apps\\browser.exe"));
    const auto top = sys().addWindow(tid, u"Frame");
    const auto pane = sys().addWindow(tid, u"Pane", u"", top);
    sys().addWindow(tid, u"Static", u"", pane); // before the field, without a context
    const auto field = sys().addWindow(tid, u"Field", u"", pane);
    fake::ImeState on;
    on.open = true;
    on.conversion = 0x9;
    on.sentence = 0x8;
    sys().addContext(field, on);

    // Focus on the frame itself: the search walks every level below it.
    sys().activate(top, top);
    EXPECT_EQ(findImeTarget().window(), field);
    EXPECT_EQ(describe(), "hwnd=" + hex(field) + " open=1 conv=0x9 sent=0x8 native=1");
    EXPECT_TRUE(isImeOpen());

    // Focus on a pane without a context.
    sys().activate(top, pane);
    EXPECT_EQ(findImeTarget().window(), field);
}

TEST_F(ImeStateTest, TheForegroundWindowIsTriedWhenTheFocusHasNoContext) {
    const auto tid = sys().addThread(sys().ownProcessId);
    const auto top = sys().addWindow(tid, u"Main");
    const auto side = sys().addWindow(tid, u"Side", u"", top);
    sys().addWindow(tid, u"Button", u"", side);
    sys().addContext(top);
    sys().activate(top, side);
    EXPECT_EQ(findImeTarget().window(), top);
    // One attachment per candidate, each undone before the next.
    ASSERT_EQ(sys().attachCalls.size(), 4u);
    EXPECT_FALSE(sys().attachCalls[1].attach);
    EXPECT_TRUE(sys().attachCalls[2].attach);
}

TEST_F(ImeStateTest, NoContextAnywhereLeavesTheFocusWindowWithoutAContext) {
    const auto tid = sys().addThread(sys().addProcess(u"C:\\Apps\\game.exe"));
    const auto top = sys().addWindow(tid, u"Game");
    const auto view = sys().addWindow(tid, u"View", u"", top);
    sys().activate(top, view);
    const ImeTarget target = findImeTarget();
    EXPECT_EQ(target.window(), view);
    EXPECT_EQ(target.context(), 0u);
    EXPECT_FALSE(isImeOpen());
    EXPECT_EQ(describe(), "hwnd=" + hex(view) + " context=null");

    // Without GetGUIThreadInfo the foreground window stands in.
    sys().guiThreadInfoFails = true;
    EXPECT_EQ(findImeTarget().window(), top);
    EXPECT_EQ(describe(), "hwnd=" + hex(top) + " context=null");
}

TEST_F(ImeStateTest, OnlyAnOpenImeInNativeModeCountsAsOn) {
    const auto edit = sys().addEditor();
    const struct {
        const char* name;
        bool open;
        std::uint32_t conversion, sentence;
        bool on;
        const char* description;
    } cases[] = {
        {"hiragana", true, 0x9, 0x8, true, "open=1 conv=0x9 sent=0x8 native=1"},
        {"katakana", true, 0xB, 0x8, true, "open=1 conv=0xb sent=0x8 native=1"},
        {"half-width katakana", true, 0x3, 0x0, true, "open=1 conv=0x3 sent=0x0 native=1"},
        {"alphanumeric", true, 0x0, 0x8, false, "open=1 conv=0x0 sent=0x8 native=0"},
        {"full-width alphanumeric", true, 0x8, 0x8, false, "open=1 conv=0x8 sent=0x8 native=0"},
        {"closed with the native bit", false, 0x9, 0x8, false, "open=0 conv=0x9 sent=0x8 native=1"},
        {"closed", false, 0x0, 0x0, false, "open=0 conv=0x0 sent=0x0 native=0"},
    };
    for (const auto& c : cases) {
        auto& ime = sys().ime(edit);
        ime.open = c.open;
        ime.conversion = c.conversion;
        ime.sentence = c.sentence;
        EXPECT_EQ(isImeOpen(), c.on) << c.name;
        EXPECT_EQ(isNativeOpen(sys().window(edit).context), c.on) << c.name;
        EXPECT_EQ(describe(), "hwnd=" + hex(edit) + " " + c.description) << c.name;
    }
    EXPECT_FALSE(isNativeOpen(0));
}

TEST_F(ImeStateTest, HandlesAreWrittenAsFullUnsignedValues) {
    EXPECT_EQ(narrow(describeImeContext(0xFFFFFFFF80001234u, 0)),
              "hwnd=0xffffffff80001234 context=null");
    EXPECT_EQ(narrow(describeImeContext(0, 0)), "hwnd=0x0 context=null");
}

TEST_F(ImeStateTest, EveryQueryGivesBackTheContextItObtained) {
    sys().addEditor();
    for (int i = 0; i < 10; ++i) {
        isImeOpen();
        describeImeState();
    }
    EXPECT_EQ(sys().contextsObtained, 20);
    EXPECT_EQ(sys().contextsReleased, 20);
    EXPECT_EQ(sys().attachedNow(), 0);
}

TEST_F(ImeStateTest, ATargetReleasesItsContextExactlyOnceWhereverItMoves) {
    const auto edit = sys().addEditor();
    ImeTarget first = findImeTarget();
    ImeTarget moved(std::move(first));
    EXPECT_EQ(first.context(), 0u);
    EXPECT_EQ(sys().contextsReleased, 0);
    ImeTarget other = findImeTarget();
    other = std::move(moved); // the context `other` held goes back now
    EXPECT_EQ(sys().contextsReleased, 1);
    EXPECT_EQ(other.window(), edit);
    other.release();
    other.release();
    EXPECT_EQ(sys().contextsReleased, 2);
    EXPECT_EQ(sys().contextsObtained, 2);
}

} // namespace
} // namespace tavelio::testing
