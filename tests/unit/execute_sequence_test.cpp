#include "tests/support/hooked_desktop.h"

#include <cstdio>
#include <functional>
#include <numeric>

namespace tavelio::testing {
namespace {

using platform::KeyInput;
using platform::WindowHandle;
using Sleeps = std::vector<std::uint32_t>;

std::string head(const std::string& line, const std::string& expected) {
    return line.substr(0, expected.size());
}

std::string hex8(std::uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

class ExecuteSequenceTest : public HookedDesktopTest {
protected:
    // The hidden window's dispatch of the posted request.
    // lParam 1 says the hook took the press for the field alone.
    void dispatchExecuteRequest(bool forField = false) {
        if (forField) {
            ASSERT_EQ(sys().posted.size(), 1u);
            EXPECT_EQ(sys().posted[0].lParam, 1);
            sys().posted[0].lParam = 0;
        }
        ASSERT_NO_FATAL_FAILURE(expectOneExecuteRequest());
        sys().posted.clear();
        app_->run.forField = forField;
        executeReinput(app_->run);
    }
    // What the hidden window does when it is asked to close during a run.
    void stopAfter(std::uint32_t ms) {
        sys().after(ms, [this] { app_->watch.stopRequested = true; });
    }
    std::uint32_t slept() const {
        const auto& sleeps = fake::system().sleeps;
        return std::accumulate(sleeps.begin(), sleeps.end(), 0u);
    }
};

TEST_F(ExecuteSequenceTest, TheRoadOfOneTypicalEvent) {
    userTypes(u"ka");
    EXPECT_EQ(field(), u"ka");
    EXPECT_EQ(app_->buffer.text(), u"ka");

    userPressesHotkey(30, 45);
    EXPECT_EQ(field(), u"ka"); // the hotkey's Backspace never reached the editor
    ASSERT_EQ(events(LogChannel::Input, "HOTKEY_EXECUTE").size(), 1u);
    mark();

    dispatchExecuteRequest();

    EXPECT_EQ(field(), u"か");
    EXPECT_EQ(sys().window(edit_).composition, u"");
    EXPECT_EQ(app_->buffer.text(), u"");
    EXPECT_EQ(app_->buffer.last(), LastAction::Cleared);
    EXPECT_EQ(app_->sessionCounter.load(), 1u);

    const std::string sid = "sid=1-000003E8";
    // The hotkey's Backspace was swallowed: Windows never sees it down.
    const std::string held = "ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0";
    const std::string ka = "len=2 first2=\"ka\" last2=\"ka\"";
    EXPECT_EQ(
        runLines(),
        (Lines{
            "[OUT] EXECUTE_BEGIN " + sid + " bufLen=2 reinputLen=2 trailingSpaces=0 deleteLen=2 " +
                ka + " text=\"ka\" reinput=\"ka\" " + held + " " + EditorContext + " ime=\"" +
                ImeOff + "\" source=record",
            "[OUT] WAIT_HOTKEY_RELEASE_BEGIN timeoutMs=3000 " + held,
            "[OUT] WAIT_HOTKEY_RELEASE result=ok elapsedMs=50 " + NoMods,
            "[OUT] HOTKEY_RELEASED " + sid + " " + NoMods,
            "[OUT] RELEASE_MODIFIERS none",
            "[OUT] MODIFIERS_CLEAR " + sid + " " + NoMods,
            "[OUT] IME_ENABLE_BEGIN " + ImeOff,
            "[OUT] IME_ENABLE method=ImmSetOpenStatus result=ok hwnd=0x10020",
            "[OUT] IME_ENABLE_END " + ImeSwitchedOn,
            "[OUT] IME_READY result=ok " + ImeSwitchedOn,
            "[OUT] IME_ENABLED " + sid + " " + ImeSwitchedOn,
            "[OUT] DELETE_PHASE " + sid + " " + ka + " " + NoMods + " " + EditorContext,
            "[OUT] SEND_DELETION_BEGIN method=backspace " + ka + " text=\"ka\" " + NoMods + " " +
                EditorContext,
            "[OUT] SEND_BACKSPACES_BEGIN count=2 delayMs=12 " + NoMods + " " + EditorContext,
            "[OUT] BS_STEP_BEGIN i=1/2 elapsedMs=0 " + NoMods,
            "[OUT] BS_STEP_DONE i=1/2 elapsedMs=12 ctrlHeld=0 " + NoMods,
            "[OUT] BS_STEP_BEGIN i=2/2 elapsedMs=12 " + NoMods,
            "[OUT] BS_STEP_DONE i=2/2 elapsedMs=24 ctrlHeld=0 " + NoMods,
            "[OUT] SEND_BACKSPACES_DONE count=2 elapsedMs=24 ctrlHeldSteps=0 "
            "first2CtrlHeld=0 " +
                NoMods,
            "[OUT] SEND_DELETION_DONE " + ka + " pauseMs=24 " + NoMods,
            "[OUT] DELETE_PHASE_DONE " + sid + " " + ka + " " + NoMods + " " + EditorContext,
            "[OUT] IME_ENABLE_BEGIN " + ImeSwitchedOn,
            "[OUT] IME_ENABLE method=ImmSetOpenStatus result=ok hwnd=0x10020",
            "[OUT] IME_ENABLE_END " + ImeSwitchedOn,
            "[OUT] IME_READY result=ok " + ImeSwitchedOn,
            "[OUT] IME_REASSERTED " + sid + " " + ImeSwitchedOn,
            "[OUT] SLEEP " + sid + " ms=50",
            "[OUT] REINPUT_PHASE " + sid + " " + ka + " text=\"ka\" " + NoMods,
            "[OUT] SEND_TEXT_BEGIN len=2 text=\"ka\"",
            "[OUT] SEND_TEXT_LEADIN index=1 ch=\"k\" delayMs=48",
            "[OUT] SEND_TEXT_LEADIN index=2 ch=\"a\" delayMs=48",
            "[OUT] SEND_TEXT_DONE len=2",
            "[OUT] EXECUTE_SUCCESS " + sid + " reinputLen=2 trailingSpaces=0 " + ka,
        }));

    // Hotkey wait, 16 ms, the IME's 80 ms, two Backspaces and the deletion's
    // pause, the IME again, the delay, and the two lead-in pauses.
    EXPECT_EQ(sys().sleeps, (Sleeps{10, 10, 10, 10, 10, 16, 80, 12, 12, 24, 80, 50, 48, 48}));

    // Every injected key came back through the hook and was ignored: the only
    // input.log line the run added is the buffer's clear.
    EXPECT_EQ(newLines(), Lines{ClearLine});
    for (const auto& batch : sys().batches) {
        for (const auto& record : batch) {
            EXPECT_EQ(record.extraInfo, InjectedInputMarker);
        }
    }
}

TEST_F(ExecuteSequenceTest, FiveUnitsTake270MillisecondsOfPausesPlusTheImeWaits) {
    userTypes(u"kanji");
    executeReinput(app_->run);
    EXPECT_EQ(field(), u"かんじ");
    EXPECT_EQ(sys().sleeps, (Sleeps{16, 80, 12, 12, 12, 12, 12, 24, 80, 50, 48, 48, 8, 8, 8}));
    EXPECT_EQ(slept(), 270u + 80u + 80u);
}

TEST_F(ExecuteSequenceTest, AbortsKeepTheBufferUntilInputHasReachedTheApplication) {
    struct Case {
        std::string reason;
        std::function<void()> arrange;
        std::u16string fieldText;
        std::u16string composition;
        bool bufferKept;
    };
    const std::vector<Case> cases = {
        {"not_ready enabled=0", [this] { app_->settings.enabled = false; }, u"kana", u"", true},
        {"not_ready enabled=1", [this] { app_->run.buffer = nullptr; }, u"kana", u"", true},
        // The record no longer ends in romaji when the run starts.
        {"no_romaji", [this] { userTypes(u" hello"); }, u"kana hello", u"", true},
        // The hotkey was pressed in a window that is no longer in front.
        {"foreground_changed target=0x10040 fg=0x10010",
         [this] { app_->run.requestWindow = 0x10040; }, u"kana", u"", true},
        {"closing " + NoMods, [this] { app_->watch.stopRequested = true; }, u"kana", u"", true},
        // The hotkey's press was swallowed and Ctrl stays down.
        {"hotkey_not_released ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0",
         [] {
             fake::deliverHardwareKey(vk::LControl, false);
             fake::deliverHardwareKey(vk::Back, false);
         },
         u"kana", u"", true},
        // A right Ctrl whose key-up was lost: its own state reads down while
        // the generic key reads up, and the system refuses the key-up.
        {"modifier_release_failed ctrl=0 lctrl=0 rctrl=1 shift=0 alt=0 win=0 bs=0",
         [this] {
             sys().down[vk::RControl] = true;
             sys().acceptLimit = 0;
         },
         u"kana", u"", true},
        // No method switches the IME on; the last fallback key is the
        // backquote key of a US keyboard, and it types one: the field no
        // longer ends with the recorded text, so the buffer is forgotten.
        {"ime_enable_failed ime=\"" + ImeOff + "\"", [this] { makeImeStubborn(); }, u"kana`", u"",
         false},
        // The same, but the system refuses every IME key: nothing reached the
        // field and the buffer is kept for another try.
        {"ime_enable_failed ime=\"" + ImeOff + "\"",
         [this] {
             makeImeStubborn();
             sys().acceptLimit = 0;
         },
         u"kana", u"", true},
        // A key went out to a window whose IME cannot be read, then the user
        // went elsewhere.
        {"ime_ready_failed ime=\"hwnd=0x10050 open=0 conv=0x0 sent=0x0 native=0\"",
         [this] {
             sys().window(edit_).context = 0;
             editorThreadWindows([](fake::Window& w) { w.defaultImeWindow = 0; });
             sys().addEditor(u"C:\\Tools\\other.exe");
             sys().activate(EditorTop, edit_);
             sys().after(400, [this] { sys().activate(0x10040, 0x10050); });
         },
         u"kana", u"", false},
        {"deletion_failed len=4 first2=\"ka\" last2=\"na\" " + NoMods,
         [this] { sys().acceptLimit = 2; }, u"kan", u"", false},
        {"reinput_failed", [this] { sys().acceptLimit = 8 + 2; }, u"", u"k", false},
        {"trailing_space_failed",
         [this] {
             userTypes(u" ");
             sys().acceptLimit = 10 + 8;
         },
         u"かな", u"", false},
        // The program is closing: a close or an end of session arrives while
        // the run pauses (the hidden window's answer to it), and no key goes
        // out after it. While the IME is awaited, 30 ms in: nothing deleted.
        {"closing " + NoMods, [this] { stopAfter(30); }, u"kana", u"", true},
        // In the pause after the four Backspaces, 150 ms in: nothing typed.
        {"closing " + NoMods, [this] { stopAfter(150); }, u"", u"", false},
        // While the run waits reinputDelayMs before typing, 260 ms in.
        {"closing " + NoMods, [this] { stopAfter(260); }, u"", u"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        buildDesktop();
        userTypes(u"kana");
        c.arrange();
        const std::u16string before = app_->buffer.text();
        mark();

        executeReinput(app_->run);

        EXPECT_EQ(out("EXECUTE_ABORT"), Lines{"sid=1-000003E8 reason=" + c.reason});
        EXPECT_TRUE(out("EXECUTE_SUCCESS").empty());
        EXPECT_EQ(field(), c.fieldText);
        EXPECT_EQ(sys().window(edit_).composition, c.composition);
        if (c.bufferKept) {
            EXPECT_EQ(app_->buffer.text(), before);
            EXPECT_EQ(app_->buffer.last(), LastAction::Text);
            EXPECT_EQ(newLines(), Lines{});
        } else {
            EXPECT_EQ(app_->buffer.text(), u"");
            EXPECT_FALSE(app_->buffer.canExecute());
            EXPECT_EQ(newLines(), Lines{ClearLine});
        }
        expectNothingHeld();
    }
}

// The user acts while a run is under way: from then on nothing more is
// injected, and the buffer is forgotten exactly when the deletion had begun.
TEST_F(ExecuteSequenceTest, ARunStopsWhenTheUserActs) {
    enum class Act { ctrl, shift, letter, arrow, click };
    const struct {
        const char* name;
        std::uint32_t at; // ms into the run (see FiveUnitsTake... for its pauses)
        std::u16string field;
        bool deleting; // the deletion had begun
    } moments[] = {
        {"before the IME switch", 10, u"kana", false},
        {"mid-deletion", 100, u"kan", true},  // the first Backspace goes at +96
        {"mid-typing", 350, u"\u304b", true}, // k at +298, a at +346
    };
    const struct {
        const char* name;
        Act act;
    } acts[] = {{"Ctrl", Act::ctrl},
                {"Shift", Act::shift},
                {"a letter", Act::letter},
                {"an arrow", Act::arrow},
                {"a mouse button", Act::click}};
    for (const auto& moment : moments) {
        for (const auto& act : acts) {
            SCOPED_TRACE(std::string(act.name) + " " + moment.name);
            buildDesktop();
            app_->settings.clearOnMouseClick = false; // only the run's own rule clears
            userTypes(u"kana");
            std::size_t batchesAtPress = 0;
            sys().after(moment.at, [&] {
                batchesAtPress = sys().batches.size();
                switch (act.act) {
                case Act::ctrl:
                    fake::deliverHardwareKey(vk::LControl, false);
                    break;
                case Act::shift:
                    fake::deliverHardwareKey(vk::RShift, false);
                    break;
                case Act::letter:
                case Act::arrow: {
                    const std::uint8_t key = act.act == Act::letter ? 'X' : vk::Left;
                    fake::deliverHardwareKey(key, false);
                    fake::deliverHardwareKey(key, true);
                    break;
                }
                case Act::click:
                    processMouseEvent(app_->hook, HookActionCode, msg::LButtonDown,
                                      MouseEvent{5, 5, 0, 0});
                    break;
                }
            });
            executeReinput(app_->run);

            EXPECT_EQ(sys().batches.size(), batchesAtPress);
            EXPECT_EQ(sys().window(edit_).shortcuts, u"");
            // The user's own letter reaches the field; with the IME on it
            // waits in the composition.
            const bool typedByUser = act.act == Act::letter && !moment.deleting;
            EXPECT_EQ(field(), moment.field + (typedByUser ? u"x" : u""));
            const auto aborts = out("EXECUTE_ABORT");
            ASSERT_EQ(aborts.size(), 1u);
            EXPECT_EQ(head(aborts[0], "sid=1-000003E8 reason=user_input "),
                      "sid=1-000003E8 reason=user_input ");
            if (moment.deleting) {
                EXPECT_EQ(app_->buffer.text(), u"");
            } else if (act.act != Act::arrow) { // an arrow clears by its own rule
                EXPECT_EQ(app_->buffer.text(), typedByUser ? u"kanax" : u"kana");
                EXPECT_TRUE(app_->buffer.canExecute());
            }
            expectNothingHeld();
        }
    }
}

TEST_F(ExecuteSequenceTest, NothingIsInjectedBeforeTheHotkeyIsReleased) {
    userTypes(u"kana");
    fake::deliverHardwareKey(vk::LControl, false);
    fake::deliverHardwareKey(vk::Back, false);
    executeReinput(app_->run);
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_EQ(slept(), 3000u);
    const std::string timeout = "result=timeout elapsedMs=3000 ctrl=1";
    EXPECT_EQ(head(out("WAIT_HOTKEY_RELEASE").at(0), timeout), timeout);
}

TEST_F(ExecuteSequenceTest, ATruncatedBufferIsNotReady) {
    type(std::u16string(201, u'a'));
    executeReinput(app_->run);
    EXPECT_EQ(out("EXECUTE_ABORT"), Lines{"sid=1-000003E8 reason=not_ready enabled=1"});
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_EQ(app_->buffer.text().size(), 200u);
}

TEST_F(ExecuteSequenceTest, TrailingSpacesAreDeletedAndTypedAgainAfterTheText) {
    userTypes(u"kana ");
    ASSERT_EQ(app_->buffer.text(), u"kana ");
    executeReinput(app_->run);
    EXPECT_EQ(field(), u"かな ");
    const std::string begin =
        "sid=1-000003E8 bufLen=5 reinputLen=4 trailingSpaces=1 deleteLen=5 len=5 first2=\"ka\" "
        "last2=\"a \" text=\"kana \" reinput=\"kana\" ";
    EXPECT_EQ(head(out("EXECUTE_BEGIN").at(0), begin), begin);
    const KeyInput spaceDown = injected(0, 0x39, 0x8);
    const KeyInput spaceUp = injected(0, 0x39, 0xA);
    ASSERT_EQ(sys().batches.size(), 5u + 4u + 1u);
    EXPECT_EQ(sys().batches.back(), (std::vector<KeyInput>{spaceDown, spaceUp}));
    EXPECT_EQ(out("SEND_TEXT_BEGIN"), (Lines{"len=4 text=\"kana\"", "len=1 text=\" \""}));
    EXPECT_EQ(out("SEND_TRAILING_SPACES"), Lines{"sid=1-000003E8 count=1 result=ok"});
    EXPECT_EQ(out("EXECUTE_SUCCESS"),
              Lines{"sid=1-000003E8 reinputLen=4 trailingSpaces=1 len=5 first2=\"ka\" "
                    "last2=\"a \""});
    // Five Backspaces, then "kana" and the space each with the lead-in pacing.
    EXPECT_EQ(sys().sleeps, (Sleeps{16, 80, 12, 12, 12, 12, 12, 24, 80, 50, 48, 48, 8, 8, 48}));
}

// Only the romaji at the end is deleted and typed again; with romajiOnly off
// the whole record is, whatever it holds.
TEST_F(ExecuteSequenceTest, TheRunConvertsTheRomajiPartAlone) {
    const struct {
        std::u16string_view typed;
        bool romajiOnly;
        std::u16string_view field;
        std::size_t backspaces;
    } cases[] = {
        {u"i said arigatou", true, u"i said ありがとう", 8},
        {u"meeting ha ashita ", true, u"meeting は あした ", 10},
        {u"hello world", false, u"へっぉ をrl", 11}, // the d waits in the composition
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.typed));
        buildDesktop();
        app_->settings.romajiOnly = c.romajiOnly;
        userTypes(c.typed);
        executeReinput(app_->run);
        EXPECT_EQ(narrow(field()), narrow(c.field));
        const std::string count = "count=" + std::to_string(c.backspaces) + " ";
        EXPECT_EQ(head(out("SEND_BACKSPACES_BEGIN").at(0), count), count);
        EXPECT_EQ(out("EXECUTE_SUCCESS").size(), 1u);
        EXPECT_EQ(app_->buffer.text(), u"");
    }
}

TEST_F(ExecuteSequenceTest, WithoutTrailingSpacesSuccessFollowsTheText) {
    userTypes(u"ka");
    executeReinput(app_->run);
    EXPECT_TRUE(out("SEND_TRAILING_SPACES").empty());
    const auto lines = runLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "[OUT] SEND_TEXT_DONE len=2");
}

TEST_F(ExecuteSequenceTest, TheDelayBeforeRetypingFollowsTheSetting) {
    const struct {
        std::int32_t delay;
        Lines sleepLines;
        std::uint32_t total;
    } cases[] = {
        {50, {"sid=1-000003E8 ms=50"}, 16 + 80 + 24 + 24 + 80 + 50 + 96},
        {0, {}, 16 + 80 + 24 + 24 + 80 + 96},
        {-20, {}, 16 + 80 + 24 + 24 + 80 + 96},
        {300, {"sid=1-000003E8 ms=300"}, 16 + 80 + 24 + 24 + 80 + 300 + 96},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("delay " + std::to_string(c.delay));
        buildDesktop();
        app_->settings.reinputDelayMs = c.delay;
        userTypes(u"ka");
        executeReinput(app_->run);
        EXPECT_EQ(out("SLEEP"), c.sleepLines);
        EXPECT_EQ(slept(), c.total);
        EXPECT_EQ(field(), u"か");
    }
}

TEST_F(ExecuteSequenceTest, SessionIdsCountRunsAndCarryTheTickCount) {
    const struct {
        std::uint32_t counterBefore;
        std::uint32_t tick;
        const char* sid;
    } cases[] = {
        {0, 1000, "sid=1-000003E8"},
        {1, 0xABCD, "sid=2-0000ABCD"},
        {41, 0xFEDCBA98u, "sid=42-FEDCBA98"},
        {0xFFFFFFFFu, 7, "sid=0-00000007"}, // the counter wraps to 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sid);
        buildDesktop();
        app_->sessionCounter = c.counterBefore;
        sys().tick = c.tick;
        userTypes(u"ka");
        executeReinput(app_->run);
        ASSERT_EQ(out("EXECUTE_SUCCESS").size(), 1u);
        EXPECT_EQ(head(out("EXECUTE_SUCCESS")[0], c.sid), c.sid);
        EXPECT_EQ(app_->sessionCounter.load(), c.counterBefore + 1);
    }
}

TEST_F(ExecuteSequenceTest, ASecondRequestAfterSuccessIsNotReady) {
    userTypes(u"ka");
    executeReinput(app_->run);
    const auto batches = sys().batches.size();
    const std::uint32_t tick = sys().tick;
    executeReinput(app_->run);
    EXPECT_EQ(out("EXECUTE_ABORT"), Lines{"sid=2-" + hex8(tick) + " reason=not_ready enabled=1"});
    EXPECT_EQ(sys().batches.size(), batches);
    EXPECT_EQ(field(), u"か");
}

TEST_F(ExecuteSequenceTest, ASecondRequestAfterAFailedDeletionDeletesNothingMore) {
    userTypes(u"kana");
    sys().acceptLimit = 2; // one Backspace gets through
    executeReinput(app_->run);
    EXPECT_EQ(field(), u"kan");
    sys().acceptLimit.reset();
    executeReinput(app_->run);
    EXPECT_EQ(field(), u"kan");
    EXPECT_EQ(out("EXECUTE_ABORT").back().substr(15), "reason=not_ready enabled=1");
}

TEST_F(ExecuteSequenceTest, AReassertionWhoseKeysLeaveTheImeOffStopsAndForgets) {
    userTypes(u"ka");
    // The first Backspace goes out at +96; then the application shuts its IME
    // and no method brings it back. The last IME key types a backquote.
    sys().after(100, [this] {
        ime().open = false;
        makeImeStubborn();
    });
    executeReinput(app_->run);
    const std::string ime = "ime=\"hwnd=0x10020 open=0 conv=0x9 sent=0x0 native=1\"";
    EXPECT_EQ(out("IME_REASSERT_UNCONFIRMED"), Lines{"sid=1-000003E8 sent=0 " + ime});
    EXPECT_TRUE(out("IME_REASSERTED").empty());
    EXPECT_EQ(out("EXECUTE_ABORT"), Lines{"sid=1-000003E8 reason=ime_reassert_failed " + ime});
    EXPECT_TRUE(out("EXECUTE_SUCCESS").empty());
    EXPECT_EQ(field(), u"`"); // no romaji typed after it
    EXPECT_EQ(app_->buffer.text(), u"");
}

TEST_F(ExecuteSequenceTest, AReassertionThatSendsButCannotConfirmSaysSo) {
    userTypes(u"ka");
    // The first Backspace goes out at +96; the field then loses its context
    // and its IME window, and the focus moves to another control of the window
    // while the wait runs (another window in front would end the run: see
    // robustness tests). Nothing can be read, so the run goes on.
    sys().after(100, [this] {
        sys().window(edit_).context = 0;
        editorThreadWindows([](fake::Window& w) { w.defaultImeWindow = 0; });
    });
    const WindowHandle other =
        sys().addWindow(sys().window(edit_).threadId, u"Edit", u"", EditorTop);
    sys().after(400, [this, other] { sys().activate(EditorTop, other); });
    executeReinput(app_->run);
    EXPECT_EQ(out("IME_REASSERT_UNCONFIRMED"),
              Lines{"sid=1-000003E8 sent=1 ime=\"hwnd=0x10040 context=null\""});
    EXPECT_EQ(out("EXECUTE_SUCCESS").size(), 1u);
}

TEST_F(ExecuteSequenceTest, LoggingOffChangesNeitherTheInputNorItsTiming) {
    userTypes(u"kana ");
    executeReinput(app_->run);
    const auto batchesLogged = sys().batches;
    const auto sleepsLogged = sys().sleeps;
    ASSERT_FALSE(runLines().empty());

    buildDesktop(false);
    userTypes(u"kana ");
    executeReinput(app_->run);
    EXPECT_EQ(sys().batches, batchesLogged);
    EXPECT_EQ(sys().sleeps, sleepsLogged);
    EXPECT_EQ(field(), u"かな ");
    EXPECT_TRUE(logLines(LogChannel::Output).empty());
    EXPECT_EQ(app_->buffer.text(), u"");
}

// What the watcher read decides what the hotkey does, while the hook itself
// never waits: a busy editor costs no letter, an IME that went on by itself
// or a password box leaves the hotkey to the editor, and a run that finds
// the IME on after all deletes nothing.
TEST_F(ExecuteSequenceTest, WhatTheWatcherReadDecidesTheHotkey) {
    const struct Row {
        const char* name;
        std::function<void()> before;    // the desktop before the keys
        std::function<void()> after;     // between the keys and the hotkey
        std::u16string field;            // the editor's text at the end
        bool ran;                        // the hook took the press for a run
        std::vector<std::string> clears; // CLEAR_REQUEST reasons, in order
        std::string abort;               // the run's EXECUTE_ABORT, or none
        bool keysLogged = true;          // APPEND lines for the letters
    } rows[] = {
        // The watcher has not read the program just come to the front: its
        // keys are held back without a line, and its reading keeps them...
        {"a program not read yet",
         [this] {
             watcherCaughtUp_ = false;
             app_->board.publish(DesktopFacts{}); // about no window
         },
         [this] { watcherReads(); },
         u"こんにちは",
         true,
         {},
         "",
         false},
        // ... or lets them go, leaving no key code behind.
        {"a program not read yet that turns out excluded",
         [this] {
             watcherCaughtUp_ = false;
             app_->board.publish(DesktopFacts{});
             app_->settings.excludedApps = {u"notepad.exe"};
         },
         [this] { watcherReads(); },
         u"",
         false,
         {"disabled_or_excluded", "disabled_or_excluded", "disabled_or_excluded"},
         "",
         false},
        {"a busy editor: its IME window answers after 45 ms",
         [this] {
             sys().contextsAcrossProcesses = false;
             editorThreadWindows([](fake::Window& w) { w.imeAnswerDelayMs = 45; });
         },
         nullptr,
         u"こんにちは",
         true,
         {},
         ""},
        // The watcher is still waiting for that answer: the letters are held
        // back, and the run reads the IME itself.
        {"the IME not read yet: the letters are held back",
         [this] {
             sys().contextsAcrossProcesses = false;
             watcherCaughtUp_ = false;
             editorThreadWindows([](fake::Window& w) { w.hung = true; });
             watcherReads();
             editorThreadWindows([](fake::Window& w) {
                 w.hung = false;
                 w.imeAnswerDelayMs = 45;
             });
         },
         nullptr,
         u"こんにちは",
         true,
         {},
         ""},
        // A click on the IME's indicator, or the program's own doing.
        {"the IME went on without a key",
         nullptr,
         [this] {
             ime().open = true;
             ime().conversion = 0x9;
             watcherReads();
         },
         u"",
         false,
         {"ime_changed", "modifier_combo"},
         ""},
        {"an Edit with ES_PASSWORD", [this] { sys().window(edit_).style = 0x0020; }, nullptr, u"",
         false, std::vector<std::string>(12, "password"), "", false},
        {"a focus that accessibility marks protected (a browser's password input)",
         [this] { focusProtected_ = true; }, nullptr, u"", false,
         std::vector<std::string>(12, "password"), "", false},
        // The watcher read it off before it went on: the letters went into
        // the IME, and the field holds no romaji to delete.
        {"the run finds the IME on",
         nullptr,
         [this] {
             watcherCaughtUp_ = false;
             ime().open = true;
             ime().conversion = 0x9;
         },
         u"konnichiha",
         true,
         {},
         "ime_on"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        buildDesktop();
        watcherCaughtUp_ = true;
        focusProtected_ = false;
        if (row.before) {
            row.before();
        }
        userTypes(u"konnichiha");
        if (row.after) {
            row.after();
        }
        mark();
        sys().waitedInHookMs = 0;
        userPressesHotkey(30, 45);
        EXPECT_EQ(sys().waitedInHookMs, 0u);
        EXPECT_EQ(!sys().posted.empty(), row.ran);
        if (row.ran) {
            dispatchExecuteRequest();
        }
        sys().advance(100);
        // "reason=" starts the details of both events.
        const auto reasonOf = [](const std::string& details) {
            return details.substr(7, details.find(' ', 7) - 7);
        };
        std::vector<std::string> reasons;
        for (const auto& details : events(LogChannel::Input, "CLEAR_REQUEST")) {
            reasons.push_back(reasonOf(details));
        }
        EXPECT_EQ(reasons, row.clears);
        const auto aborts = out("EXECUTE_ABORT");
        EXPECT_EQ(aborts.empty() ? "" : reasonOf(aborts[0].substr(aborts[0].find("reason="))),
                  row.abort);
        EXPECT_EQ(!events(LogChannel::Input, "APPEND").empty(), row.keysLogged);
        if (row.abort.empty()) {
            EXPECT_EQ(field(), row.field);
        } else {
            // Nothing deleted: the one Backspace is the hotkey's, given back with Ctrl.
            EXPECT_EQ(sys().window(edit_).text + sys().window(edit_).composition, u"");
            EXPECT_EQ(sys().batches.size(), 1u);
        }
    }
}

// Where the field tells its text, the run converts what is really there: a
// selection is typed over, the romaji before the caret is read after a
// click, and the field says what is deleted when it differs from the record.
TEST_F(ExecuteSequenceTest, WhatTheFieldHoldsDecidesTheRun) {
    const struct Row {
        const char* name;
        std::u16string typed;             // by the user, before the field changes
        std::function<void()> change;     // the field, the click or the program
        std::u16string text, composition; // the field at the end (the fake's IME commits kana)
        bool backspaces;                  // the run deleted something
        std::string abort;                // the run's EXECUTE_ABORT, or none
        std::string source;               // EXECUTE_BEGIN's source, when it began
    } rows[] = {
        {"a selection of ohayou is typed over", u"",
         [this] {
             field() = u"ohayou gozaimasu";
             sys().window(edit_).selectionStart = 0;
             sys().window(edit_).selectionEnd = 6;
         },
         u"おはよう gozaimasu", u"", false, "", "selection"},
        {"an English selection gets the editor's own Ctrl+Backspace", u"",
         [this] {
             field() = u"hello world";
             sys().window(edit_).selectionStart = 0;
             sys().window(edit_).selectionEnd = 5;
         },
         u" world", u"", false, "selection_not_romaji", ""},
        {"romaji before the caret after a click", u"konnichiha",
         [this] {
             processMouseEvent(app_->hook, HookActionCode, msg::LButtonDown, MouseEvent{5, 5});
         },
         u"こんにちは", u"", true, "", "field"},
        {"AutoCorrect's capital: the field's Konnichiha goes, the record's keys come",
         u"konnichiha", [this] { field()[0] = u'K'; }, u"こんにちは", u"", true, "", "record"},
        {"a field that changed between reading and deleting is left alone", u"konnichiha",
         [this] { sys().after(20, [this] { field() += u'x'; }); }, u"konnichihax", u"", false,
         "field_changed", "record"},
        // The watcher had found it readable; the run finds it busy, and the
        // press it took goes back: the editor deletes the word itself.
        {"a field that stops answering after a click: the press goes back", u"konnichiha",
         [this] {
             processMouseEvent(app_->hook, HookActionCode, msg::LButtonDown, MouseEvent{5, 5});
             watcherReads();
             watcherCaughtUp_ = false;
             sys().window(edit_).hung = true;
         },
         u"", u"", false, "not_ready", ""},
        {"a field that does not answer in time: the record, as without it", u"konnichiha",
         [this] { sys().window(edit_).hung = true; }, u"こんにちは", u"", true, "", "record"},
        {"a selection over a line break is left alone", u"",
         [this] {
             field() = u"ohayou\r\ngozaimasu";
             sys().window(edit_).selectionStart = 3;
             sys().window(edit_).selectionEnd = 11;
         },
         u"ohayou\r\ngozaimasu", u"", false, "selection_too_long", ""},
        {"only the caret's line is read: the romaji of the line above stays", u"",
         [this] { field() = u"konnichiha\r\n"; }, u"konnichiha\r\n", u"", false, "no_romaji", ""},
    };
    // An Edit tells its text by its own messages; a browser's document, by
    // UI Automation: the same field, read either way, gives the same run.
    for (const bool automation : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(automation ? "UI Automation: " : "Edit: ") + row.name);
            buildDesktop();
            watcherCaughtUp_ = true;
            if (automation) {
                sys().window(edit_).className = u"Chrome_RenderWidgetHostHWND";
                sys().window(edit_).answersAutomation = true;
            } else {
                sys().window(edit_).answersEdit = true;
            }
            userTypes(row.typed);
            row.change();
            userPressesHotkey(30, 45);
            ASSERT_NO_FATAL_FAILURE(dispatchExecuteRequest(!app_->buffer.canExecute()));
            sys().advance(100);
            EXPECT_EQ(field(), row.text);
            EXPECT_EQ(sys().window(edit_).composition, row.composition);
            // "reason=" and "source=" stand in the lines' details.
            const auto valueOf = [](const std::string& details, const std::string& key) {
                const auto at = details.find(key + "=");
                if (at == std::string::npos) {
                    return std::string();
                }
                const auto from = at + key.size() + 1;
                return details.substr(from, details.find(' ', from) - from);
            };
            const auto aborts = out("EXECUTE_ABORT");
            EXPECT_EQ(aborts.empty() ? "" : valueOf(aborts[0], "reason"), row.abort);
            const auto begun = out("EXECUTE_BEGIN");
            EXPECT_EQ(begun.empty() ? "" : valueOf(begun[0], "source"), row.source);
            EXPECT_EQ(!out("DELETE_PHASE").empty(), row.backspaces);
        }
    }
}

} // namespace
} // namespace tavelio::testing
