// A re-input run when the foreground application misbehaves: it hangs while
// the run talks to its IME, or its window closes in the middle of the run.
#include "tests/support/hooked_desktop.h"

#include <numeric>

namespace tavelio::testing {
namespace {

using platform::WindowHandle;

constexpr std::uint32_t ImeControlTimeoutMs = 250;

class RobustnessExecuteTest : public HookedDesktopTest {
protected:
    // A fresh desktop, when asked with another editor behind the one in front.
    void buildDesktop(bool editorBehind = false) {
        HookedDesktopTest::buildDesktop();
        if (editorBehind) {
            behind_ = sys().addEditor(u"C:\\Windows\\write.exe");
            sys().window(behind_).text = u"the user's other text";
            behindTop_ = sys().foreground;
            sys().activate(EditorTop, edit_);
        }
    }

    // The user types ka and na with the IME off, then Ctrl+Backspace, and
    // lets go of both keys shortly after.
    void typeAndPressHotkey() {
        userTypes(u"kana");
        userPressesHotkey(20, 30);
        ASSERT_NO_FATAL_FAILURE(expectOneExecuteRequest());
        sys().posted.clear();
    }

    // The run's last output.log line, which must be its end: a success or an abort.
    std::string terminalLine() const {
        const auto lines = logLines(LogChannel::Output);
        return lines.empty() ? std::string() : lines.back();
    }
    int terminalLines() const {
        return static_cast<int>(out("EXECUTE_SUCCESS").size() + out("EXECUTE_ABORT").size());
    }

    // The buffer holds the recorded text untouched, ready for another try, or
    // nothing at all; never a part of it.
    void expectSoundBuffer() const {
        const auto& buffer = app_->buffer;
        if (buffer.text().empty()) {
            EXPECT_EQ(buffer.last(), LastAction::Cleared);
            EXPECT_FALSE(buffer.truncated());
        } else {
            EXPECT_EQ(buffer.text(), u"kana");
            EXPECT_TRUE(buffer.canExecute());
        }
    }

    WindowHandle behind_ = 0;
    WindowHandle behindTop_ = 0;
};

TEST_F(RobustnessExecuteTest, AHungApplicationCostsEachImeMessageNoMoreThanItsTimeout) {
    const struct {
        const char* name;
        bool keysSwitchTheImeOn; // the IME still takes keys while its window hangs
        const char* end;
        std::u16string field;
    } cases[] = {
        {"the IME cannot be reached at all", false, "[OUT] EXECUTE_ABORT", u"kana"},
        {"the IME keys still work", true, "[OUT] EXECUTE_SUCCESS", u"\u304b\u306a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop();
        // The context refuses to open (another process's), and once the
        // hotkey is pressed every window of the editor's thread, its default
        // IME window included, hangs.
        ime().setOpenFails = true;
        if (c.keysSwitchTheImeOn) {
            ime().switchOnKeys = {vk::DbeHiragana};
        }
        typeAndPressHotkey();
        editorThreadWindows([](fake::Window& w) { w.hung = true; });
        sys().sent.clear();
        sys().longestBlockingSendMs = 0;

        const std::uint32_t start = sys().tick;
        const auto sleepsBefore = sys().sleeps.size();
        executeReinput(app_->run);
        const std::uint32_t took = sys().tick - start;

        EXPECT_EQ(terminalLine().substr(0, std::string(c.end).size()), c.end);
        EXPECT_EQ(terminalLines(), 1);
        ASSERT_FALSE(sys().sent.empty());
        std::size_t imeMessages = 0;
        for (const auto& m : sys().sent) {
            // The field's own messages (EM_GETSEL) have a time-out of their own.
            if (m.message == msg::ImeControl) {
                EXPECT_EQ(m.timeoutMs, ImeControlTimeoutMs);
                ++imeMessages;
            }
            EXPECT_EQ(m.flags & 0x2u, 0x2u) << "SMTO_ABORTIFHUNG";
        }
        // While the run waits on the application, Tavelio's own hooks are
        // still answered (no SMTO_BLOCK): the desktop's keys do not stall.
        EXPECT_EQ(sys().longestBlockingSendMs, 0u);
        // Time passes only in the run's own pauses and in the hung sends.
        const auto& sleeps = sys().sleeps;
        const std::uint32_t paused = std::accumulate(
            sleeps.begin() + static_cast<std::ptrdiff_t>(sleepsBefore), sleeps.end(), 0u);
        EXPECT_EQ(took, paused + ImeControlTimeoutMs * imeMessages);
        EXPECT_LT(took, 1500u);
        if (c.keysSwitchTheImeOn) {
            EXPECT_EQ(field(), c.field);
        }
        expectNothingHeld();
        expectSoundBuffer();
    }
}

TEST_F(RobustnessExecuteTest, TheTargetClosingAtAnyMomentOfTheRunEndsItCleanly) {
    // How long an undisturbed run takes, from the dispatch to its end.
    buildDesktop();
    typeAndPressHotkey();
    std::uint32_t start = sys().tick;
    executeReinput(app_->run);
    const std::uint32_t runMs = sys().tick - start;
    ASSERT_EQ(field(), u"\u304b\u306a");
    ASSERT_GT(runMs, 300u);

    for (const bool editorBehind : {false, true}) {
        for (std::uint32_t at = 0; at <= runMs + 6; at += 6) {
            SCOPED_TRACE("closed " + std::to_string(at) + " ms into the run" +
                         (editorBehind ? ", another editor behind" : ""));
            buildDesktop(editorBehind);
            typeAndPressHotkey();
            const auto top = sys().foreground;
            sys().after(at, [this, top, editorBehind] {
                sys().destroyWindow(top);
                if (editorBehind) {
                    sys().activate(behindTop_, behind_);
                }
            });
            start = sys().tick;
            executeReinput(app_->run);

            EXPECT_EQ(terminalLines(), 1);
            const std::string end = terminalLine();
            EXPECT_TRUE(end.starts_with("[OUT] EXECUTE_SUCCESS") ||
                        end.starts_with("[OUT] EXECUTE_ABORT"))
                << end;
            if (end.starts_with("[OUT] EXECUTE_SUCCESS")) {
                EXPECT_TRUE(app_->buffer.text().empty());
            }
            expectSoundBuffer();
            expectNothingHeld();
            EXPECT_EQ(sys().windows.count(edit_), sys().tick - start < at ? 1u : 0u);
            if (editorBehind) {
                // The window that came to the front loses nothing and gets none
                // of the text; at most the IME key fallback's last key (scan
                // 0x29, a backquote where no IME takes it) if the switch came
                // while the IME keys were going out.
                const auto& behind = sys().window(behind_).text;
                EXPECT_TRUE(behind == u"the user's other text" ||
                            behind == u"the user's other text`")
                    << narrow(behind);
            }
        }
    }
}

TEST_F(RobustnessExecuteTest, AnotherWindowInFrontStopsTheKeysBeforeTheFirstThatWouldReachIt) {
    const struct {
        const char* name;
        std::uint32_t vk;     // the injected key whose release brings the other window up
        int releases;         // after this many of them
        const char* failLine; // the primitive's refusal
        const char* abort;
        std::u16string field; // what the run's own window holds afterwards
    } cases[] = {
        {"between two Backspaces", vk::Back, 2,
         "SEND_BACKSPACES_FAIL requested=4 failedAt=3 reason=foreground_changed "
         "target=0x10010 fg=0x10040",
         "deletion_failed", u"ka"},
        {"between two typed characters", 'K', 1,
         "SEND_TEXT_FAIL index=2 ch=\"a\" reason=foreground_changed target=0x10010 fg=0x10040",
         "reinput_failed", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop(true);
        ASSERT_EQ(sys().foreground, EditorTop);
        typeAndPressHotkey();
        auto hook = sys().keyboardHook;
        int releases = 0;
        sys().keyboardHook = [&, hook](const fake::HookKeyEvent& e) {
            const bool swallowed = hook(e);
            if (e.message == msg::KeyUp && (e.flags & LowLevelKeyInjected) != 0 &&
                e.vkCode == c.vk && ++releases == c.releases) {
                sys().activate(behindTop_, behind_);
            }
            return swallowed;
        };
        executeReinput(app_->run);

        const auto failEvent = std::string(c.failLine).substr(0, std::string(c.failLine).find(' '));
        const auto fails = out(failEvent);
        ASSERT_EQ(fails.size(), 1u);
        EXPECT_EQ(failEvent + " " + fails[0], c.failLine);
        const auto aborts = out("EXECUTE_ABORT");
        ASSERT_EQ(aborts.size(), 1u);
        EXPECT_NE(aborts[0].find(std::string("reason=") + c.abort), std::string::npos) << aborts[0];
        EXPECT_EQ(field(), c.field);
        EXPECT_EQ(sys().window(behind_).text, u"the user's other text");
        EXPECT_EQ(sys().window(behind_).composition, u"");
        // Part of the text has left the application: a second request must not
        // delete again.
        EXPECT_EQ(app_->buffer.text(), u"");
        expectNothingHeld();
    }
}

} // namespace
} // namespace tavelio::testing
