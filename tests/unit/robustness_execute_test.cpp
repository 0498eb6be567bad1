// A re-input run when the foreground application misbehaves: it hangs while
// the run talks to its IME, or its window closes in the middle of the run.
#include "capture/hook_context.h"
#include "platform/constants.h"
#include "reinput/execute_sequence.h"
#include "tests/support/fake_test.h"

#include <memory>
#include <numeric>

namespace tavelio::testing {
namespace {

using platform::WindowHandle;

constexpr WindowHandle HiddenWindow = 0x9000;
constexpr std::uint32_t ImeControlTimeoutMs = 250;

struct Tavelio {
    Settings settings;
    InputBuffer buffer{200};
    std::atomic<std::uint32_t> sessionCounter{0};
    WindowHandle keyFallbackWindow = 0;
    HookContext hook{HiddenWindow, settings, buffer};
    ExecuteContext context{settings, &buffer, sessionCounter, keyFallbackWindow};
};

class RobustnessExecuteTest : public FakeSystemTest {
protected:
    // A fresh desktop with an editor in front (and, when asked, another one
    // behind it) and Tavelio's hook watching the keyboard.
    WindowHandle buildDesktop(bool editorBehind = false) {
        fake::resetSystem(root_);
        diagnosticLog().stop();
        std::error_code ec; // no log of an earlier desktop may pass for this one's
        std::filesystem::remove_all(sys().hostPath(sys().roaming + u"\\Tavelio"), ec);
        startLogging();
        if (editorBehind) {
            behind_ = sys().addEditor(u"C:\\Windows\\write.exe");
            sys().window(behind_).text = u"the user's other text";
            behindTop_ = sys().foreground;
        }
        edit_ = sys().addEditor();
        app_ = std::make_unique<Tavelio>();
        sys().keyboardHook = [this](const fake::HookKeyEvent& e) {
            return processKeyEvent(app_->hook, 0, e.message,
                                   KeyEvent{e.vkCode, e.scanCode, e.flags, e.extraInfo});
        };
        return edit_;
    }

    // The user types ka and na with the IME off, then Ctrl+Backspace, and
    // lets go of both keys shortly after.
    void typeAndPressHotkey() {
        for (const std::uint8_t key : {'K', 'A', 'N', 'A'}) {
            fake::deliverHardwareKey(key, false);
            fake::deliverHardwareKey(key, true);
        }
        fake::deliverHardwareKey(vk::LControl, false);
        fake::deliverHardwareKey(vk::Back, false);
        sys().after(20, [] { fake::deliverHardwareKey(vk::Back, true); });
        sys().after(30, [] { fake::deliverHardwareKey(vk::LControl, true); });
        ASSERT_EQ(sys().posted.size(), 1u);
        sys().posted.clear();
    }

    // The run's last output.log line, which must be its end: a success or an abort.
    std::string terminalLine() const {
        const auto lines = logLines(LogChannel::Output);
        return lines.empty() ? std::string() : lines.back();
    }
    int terminalLines() const {
        return static_cast<int>(events(LogChannel::Output, "EXECUTE_SUCCESS").size() +
                                events(LogChannel::Output, "EXECUTE_ABORT").size());
    }

    // Nothing the run obtained outlives it.
    void expectNothingHeld() {
        EXPECT_EQ(sys().contextsObtained, sys().contextsReleased);
        EXPECT_EQ(sys().attachDepth, 0);
        EXPECT_EQ(sys().processHandlesOpened, sys().processHandlesClosed);
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

    WindowHandle edit_ = 0;
    WindowHandle behind_ = 0;
    WindowHandle behindTop_ = 0;
    std::unique_ptr<Tavelio> app_;
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
        // The context refuses to open (another process's), and every window
        // of the editor's thread, its default IME window included, hangs.
        sys().ime(edit_).setOpenFails = true;
        if (c.keysSwitchTheImeOn) {
            sys().ime(edit_).switchOnKeys = {vk::DbeHiragana};
        }
        const auto thread = sys().window(edit_).threadId;
        for (auto& [handle, w] : sys().windows) {
            w.hung = w.threadId == thread;
        }
        typeAndPressHotkey();

        const std::uint32_t start = sys().tick;
        const auto sleepsBefore = sys().sleeps.size();
        executeReinput(app_->context);
        const std::uint32_t took = sys().tick - start;

        EXPECT_EQ(terminalLine().substr(0, std::string(c.end).size()), c.end);
        EXPECT_EQ(terminalLines(), 1);
        ASSERT_FALSE(sys().sent.empty());
        for (const auto& m : sys().sent) {
            EXPECT_EQ(m.timeoutMs, ImeControlTimeoutMs);
            EXPECT_EQ(m.flags & 0x2u, 0x2u) << "SMTO_ABORTIFHUNG";
        }
        // Time passes only in the run's own pauses and in the hung sends.
        const auto& sleeps = sys().sleeps;
        const std::uint32_t paused = std::accumulate(
            sleeps.begin() + static_cast<std::ptrdiff_t>(sleepsBefore), sleeps.end(), 0u);
        EXPECT_EQ(took, paused + ImeControlTimeoutMs * sys().sent.size());
        EXPECT_LT(took, 1500u);
        if (c.keysSwitchTheImeOn) {
            EXPECT_EQ(sys().window(edit_).text, c.field);
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
    executeReinput(app_->context);
    const std::uint32_t runMs = sys().tick - start;
    ASSERT_EQ(sys().window(edit_).text, u"\u304b\u306a");
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
            executeReinput(app_->context);

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
         "target=0x10040 fg=0x10010",
         "deletion_failed", u"ka"},
        {"between two typed characters", 'K', 1,
         "SEND_TEXT_FAIL index=2 ch=\"a\" reason=foreground_changed target=0x10040 fg=0x10010",
         "reinput_failed", u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop(true);
        ASSERT_EQ(sys().foreground, 0x10040u);
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
        executeReinput(app_->context);

        const auto failEvent = std::string(c.failLine).substr(0, std::string(c.failLine).find(' '));
        const auto fails = events(LogChannel::Output, failEvent);
        ASSERT_EQ(fails.size(), 1u);
        EXPECT_EQ(failEvent + " " + fails[0], c.failLine);
        const auto aborts = events(LogChannel::Output, "EXECUTE_ABORT");
        ASSERT_EQ(aborts.size(), 1u);
        EXPECT_NE(aborts[0].find(std::string("reason=") + c.abort), std::string::npos) << aborts[0];
        EXPECT_EQ(sys().window(edit_).text, c.field);
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
