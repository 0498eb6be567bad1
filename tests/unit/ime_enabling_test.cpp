#include "ime/ime_enabling.h"
#include "tests/support/hooked_desktop.h"

#include <cstdio>

namespace tavelio::testing {
namespace {

using platform::KeyInput;
using platform::WindowHandle;

class ImeEnablingTest : public HookedDesktopTest {
protected:
    static std::string hexOf(std::uint32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", value);
        return text;
    }
    std::vector<std::uint32_t> polls(std::size_t count) const {
        return std::vector<std::uint32_t>(count, 20);
    }
    WindowHandle fallback_ = 0;
};

TEST_F(ImeEnablingTest, AnImeAlreadyOnIsConfirmedByTheInputContext) {
    setIme(true);
    fallback_ = 0x999; // left from an earlier run
    EXPECT_TRUE(enableIme(fallback_).on);
    EXPECT_EQ(fallback_, 0u);
    EXPECT_TRUE(waitImeReady(fallback_));
    EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>{80});
    EXPECT_TRUE(sys().sent.empty());
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_EQ(runLines(), (Lines{
                              "[OUT] IME_ENABLE_BEGIN " + ImeOn,
                              "[OUT] IME_ENABLE method=ImmSetOpenStatus result=ok hwnd=0x10020",
                              "[OUT] IME_ENABLE_END " + ImeOn,
                              "[OUT] IME_READY result=ok " + ImeOn,
                          }));
}

TEST_F(ImeEnablingTest, TheInputContextAddsTheNativeBitAndKeepsTheRest) {
    const struct {
        const char* name;
        bool open;
        std::uint32_t conversion, sentence;
        bool setOpenFails, setConversionFails;
        bool result;
        std::uint32_t conversionAfter;
    } cases[] = {
        {"open, alphanumeric full-shape", true, 0x18, 0x8, false, false, true, 0x19},
        // Hiragana is NATIVE with FULLSHAPE; ROMAN stays as the user has it.
        {"closed, kana input", false, 0x0, 0x0, false, false, true, 0x9},
        {"closed, romaji input", false, 0x10, 0x0, false, false, true, 0x19},
        {"opens, but the mode cannot be set", false, 0x8, 0x1, false, true, false, 0x8},
        {"already open: the mode call is enough", true, 0x10, 0x8, true, false, true, 0x19},
        {"native set but the open call fails", false, 0x9, 0x8, true, false, false, 0x9},
        {"nothing works", false, 0x8, 0x8, true, true, false, 0x8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ime() = fake::ImeState{c.open, c.conversion, c.sentence, false, false, {}};
        makeImeStubborn();
        ime().setOpenFails = c.setOpenFails;
        ime().setConversionFails = c.setConversionFails;
        sys().sleeps.clear();
        startLogging();
        EXPECT_EQ(enableIme(fallback_).on, c.result);
        EXPECT_EQ(ime().conversion, c.conversionAfter);
        EXPECT_EQ(ime().sentence, c.sentence);
        const auto ok = events(LogChannel::Output, "IME_ENABLE");
        if (c.result) {
            EXPECT_EQ(ok, Lines{"method=ImmSetOpenStatus result=ok hwnd=0x10020"});
            EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>{80});
        } else {
            EXPECT_TRUE(ok.empty()); // no method-1 line on failure
            EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_FALLBACK"), Lines{"result=fail"});
        }
    }
}

TEST_F(ImeEnablingTest, TheDefaultImeWindowOpensWhatTheContextCannot) {
    const struct {
        const char* name;
        std::uint32_t conversion, conversionAfter;
        Lines modeLines; // between opening and success
    } cases[] = {
        {"kana mode kept from before", 0x9, 0x9, {}},
        // Opened in alphanumeric mode: the IME window also sets the native bit.
        {"alphanumeric full-shape",
         0x18,
         0x19,
         {"[OUT] IME_ENABLE_DEFAULT_WND_MODE imeWnd=0x10030 conv=0x18 delivered=1 result=0"}},
        {"nothing set: hiragana",
         0x0,
         0x9,
         {"[OUT] IME_ENABLE_DEFAULT_WND_MODE imeWnd=0x10030 conv=0x0 delivered=1 result=0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop();
        ime().conversion = c.conversion; // closed
        ime().setOpenFails = true;
        ime().setConversionFails = true;
        EXPECT_TRUE(enableIme(fallback_).on);
        EXPECT_EQ(ime().conversion, c.conversionAfter);
        const std::string before = "hwnd=0x10020 open=0 conv=0x" + hexOf(c.conversion) +
                                   " sent=0x0 native=" + ((c.conversion & 1) ? "1" : "0");
        const std::string after =
            "hwnd=0x10020 open=1 conv=0x" + hexOf(c.conversionAfter) + " sent=0x0 native=1";
        Lines expected{"[OUT] IME_ENABLE_BEGIN " + before,
                       "[OUT] IME_ENABLE_DEFAULT_WND imeWnd=0x10030 delivered=1 result=0"};
        expected.insert(expected.end(), c.modeLines.begin(), c.modeLines.end());
        expected.push_back("[OUT] IME_ENABLE method=WM_IME_CONTROL result=ok");
        expected.push_back("[OUT] IME_ENABLE_END " + after);
        EXPECT_EQ(runLines(), expected);
        ASSERT_FALSE(sys().sent.empty());
        const auto& m = sys().sent[0];
        EXPECT_EQ(m.window, EditorImeWindow);
        EXPECT_EQ(m.message, 0x0283u);
        EXPECT_EQ(m.wParam, 0x0006u);
        EXPECT_EQ(m.lParam, 1);
        EXPECT_EQ(m.flags & 0x0002u, 0x0002u); // SMTO_ABORTIFHUNG
        EXPECT_EQ(m.timeoutMs, 250u);
        EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>{80});
        EXPECT_TRUE(sys().batches.empty());
    }
}

TEST_F(ImeEnablingTest, AFailedDefaultWindowSendLeavesItToTheKeys) {
    const struct {
        const char* name;
        bool hung;
        std::intptr_t delivered;
        std::uintptr_t result;
        bool opens;
        bool hasImeWindow;
        const char* line; // the IME_ENABLE_DEFAULT_WND details, or "" for none
        std::uint32_t timeBeforeKeys;
    } cases[] = {
        {"hung", true, 1, 0, true, true, "imeWnd=0x10030 delivered=0 result=0", 250},
        {"refused", false, 1, 5, false, true, "imeWnd=0x10030 delivered=1 result=5", 0},
        {"not delivered", false, 0, 0, true, true, "imeWnd=0x10030 delivered=0 result=0", 0},
        {"delivered, still off", false, 1, 0, false, true, "imeWnd=0x10030 delivered=1 result=0",
         80},
        {"no IME window", false, 1, 0, true, false, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ime() = fake::ImeState{};
        ime().conversion = 0x9;
        ime().setOpenFails = true;
        ime().switchOnKeys = {vk::ImeOn};
        editorThreadWindows([&](fake::Window& w) {
            w.hung = c.hung;
            w.imeControlDelivered = c.delivered;
            w.imeControlResult = c.result;
            w.imeControlOpens = c.opens;
        });
        sys().window(edit_).defaultImeWindow = c.hasImeWindow ? EditorImeWindow : 0;
        startLogging();
        const std::uint32_t start = sys().tick;
        EXPECT_TRUE(enableIme(fallback_).on);
        EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_DEFAULT_WND"),
                  *c.line ? Lines{c.line} : Lines{});
        EXPECT_TRUE(events(LogChannel::Output, "IME_ENABLE").empty());
        EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_FALLBACK"),
                  Lines{"method=VK_IME_ON result=verified"});
        EXPECT_EQ(sys().tick - start, c.timeBeforeKeys + 120);
        EXPECT_EQ(fallback_, edit_);
        EXPECT_TRUE(waitImeReady(fallback_));
        EXPECT_EQ(fallback_, 0u);
    }
}

TEST_F(ImeEnablingTest, TheKeysAreTriedInOrderUntilOneSwitchesTheImeOn) {
    const auto imeOn = std::vector<KeyInput>{injected(0x16, 0, 0), injected(0x16, 0, 2)};
    const auto hiragana = std::vector<KeyInput>{injected(0xF2, 0, 0), injected(0xF2, 0, 2)};
    const auto convert = std::vector<KeyInput>{injected(0x1C, 0, 0), injected(0x1C, 0, 2)};
    const auto kanji = std::vector<KeyInput>{injected(0x19, 0, 0), injected(0x19, 0, 2)};
    const auto scan29 = std::vector<KeyInput>{injected(0, 0x29, 0x8), injected(0, 0x29, 0xA)};
    const std::string unreadable = "result=ok hwnd=0x10020 context=null";
    const std::string keyedOnFromAlphanumeric =
        "result=ok hwnd=0x10020 open=1 conv=0x19 sent=0x0 native=1";
    const struct {
        std::vector<std::uint32_t> switchOnKeys;
        const char* line;
        std::vector<std::vector<KeyInput>> batches;
        bool otherProcess = false; // its context cannot be had; its IME window answers
        // Open in alphanumeric mode, so it reads off: the Kanji key would switch it off.
        bool openAlphanumeric = false;
    } cases[] = {
        {{0x16, 0x19}, "method=VK_IME_ON result=verified", {imeOn}},
        // Older IMEs ignore IME On and get the next key.
        {{0xF2}, "method=VK_DBE_HIRAGANA result=verified", {imeOn, hiragana}},
        {{0x1C}, "method=VK_CONVERT result=verified", {imeOn, hiragana, convert}},
        {{0x19}, "method=VK_KANJI result=verified", {imeOn, hiragana, convert, kanji}},
        {{0x100 + 0x29},
         "method=scan29 result=verified",
         {imeOn, hiragana, convert, kanji, scan29}},
        {{0x1C}, "method=VK_CONVERT result=verified", {imeOn, hiragana, convert}, true},
        {{0x100 + 0x29},
         "method=scan29 result=verified",
         {imeOn, hiragana, convert, kanji, scan29},
         true},
        {{0x16, 0x19}, "method=VK_IME_ON result=verified", {imeOn}, false, true},
        {{0x16, 0x19}, "method=VK_IME_ON result=verified", {imeOn}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line + std::string(c.otherProcess ? ", another process" : "") +
                     (c.openAlphanumeric ? ", open in alphanumeric mode" : ""));
        buildDesktop();
        sys().contextsAcrossProcesses = !c.otherProcess;
        ime() = fake::ImeState{};
        if (c.openAlphanumeric) {
            ime().open = true;
            ime().conversion = 0x18;
        }
        makeImeStubborn();
        ime().switchOnKeys = c.switchOnKeys;
        sys().batches.clear();
        sys().sleeps.clear();
        startLogging();
        EXPECT_TRUE(enableIme(fallback_).on);
        EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_FALLBACK"), Lines{c.line});
        EXPECT_EQ(sys().batches, c.batches);
        std::vector<std::uint32_t> sleeps{80}; // the delivered WM_IME_CONTROL
        sleeps.insert(sleeps.end(), c.batches.size(), 120);
        EXPECT_EQ(sys().sleeps, sleeps);
        EXPECT_EQ(fallback_, edit_);
        EXPECT_TRUE(waitImeReady(fallback_));
        EXPECT_EQ(events(LogChannel::Output, "IME_READY"),
                  Lines{c.otherProcess       ? unreadable
                        : c.openAlphanumeric ? keyedOnFromAlphanumeric
                                             : "result=ok " + ImeKeyedOn});
    }
}

TEST_F(ImeEnablingTest, AnImeThatIgnoresEveryKeyFailsAfterFiveTries) {
    makeImeStubborn();
    EXPECT_FALSE(enableIme(fallback_).on);
    EXPECT_EQ(fallback_, 0u);
    EXPECT_EQ(sys().batches.size(), 5u);
    EXPECT_EQ(sys().sleeps, (std::vector<std::uint32_t>{80, 120, 120, 120, 120, 120}));
    EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_FALLBACK"), Lines{"result=fail"});
    EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_END"), Lines{ImeOff});
    // On a US layout scan code 0x29 is the backquote key, and the field gets one.
    EXPECT_EQ(sys().window(edit_).text, u"`");
}

TEST_F(ImeEnablingTest, KeysTheSystemRefusesAreSkippedWithoutAPause) {
    makeImeStubborn();
    sys().window(edit_).defaultImeWindow = 0;
    sys().acceptLimit = 1; // half of the first key, then nothing
    EXPECT_FALSE(enableIme(fallback_).on);
    EXPECT_EQ(sys().batches.size(), 5u);
    EXPECT_TRUE(sys().sleeps.empty());
    EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_FALLBACK"), Lines{"result=fail"});
}

TEST_F(ImeEnablingTest, AMethodOneSuccessIsOverriddenWhenTheImeGoesOffAgain) {
    // The application switches its IME off again while Tavelio lets it settle.
    makeImeStubborn();
    ime().setOpenFails = false;
    ime().setConversionFails = false;
    sys().window(edit_).defaultImeWindow = 0;
    sys().after(40, [&] { ime().open = false; });
    EXPECT_FALSE(enableIme(fallback_).on);
    EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE"),
              Lines{"method=ImmSetOpenStatus result=ok hwnd=0x10020"});
    EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_FALLBACK"), Lines{"result=fail"});
}

// Neither a context nor an IME window: nothing tells whether the key worked.
TEST_F(ImeEnablingTest, WithNothingToReadTheKeyIsSentUnverifiedAndTheWaitAcceptsIt) {
    sys().window(edit_).context = 0;
    editorThreadWindows([](fake::Window& w) { w.defaultImeWindow = 0; });
    EXPECT_TRUE(enableIme(fallback_).on);
    EXPECT_EQ(fallback_, edit_);
    EXPECT_TRUE(waitImeReady(fallback_));
    EXPECT_EQ(fallback_, 0u);
    EXPECT_EQ(runLines(),
              (Lines{
                  "[OUT] IME_ENABLE_BEGIN hwnd=0x10020 context=null",
                  "[OUT] IME_ENABLE method=ImmSetOpenStatus result=skip reason=no_context",
                  "[OUT] IME_ENABLE_FALLBACK method=VK_IME_ON result=sent_unverified",
                  "[OUT] IME_ENABLE_END hwnd=0x10020 context=null",
                  "[OUT] IME_READY result=key_fallback_unverified hwnd=0x10020 context=null",
              }));
    std::vector<std::uint32_t> sleeps{120};
    const auto wait = polls(25);
    sleeps.insert(sleeps.end(), wait.begin(), wait.end());
    EXPECT_EQ(sys().sleeps, sleeps);
}

TEST_F(ImeEnablingTest, SwitchingWindowsAfterAnUnverifiedKeyMakesTheWaitTimeOut) {
    const struct {
        const char* name;
        bool otherHasContext;
        const char* line;
    } cases[] = {
        {"IME off", true, "result=timeout hwnd=0x10050 open=0 conv=0x0 sent=0x0 native=0"},
        {"IME unreadable", false, "result=timeout hwnd=0x10050 context=null"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop();
        sys().window(edit_).context = 0;
        editorThreadWindows([](fake::Window& w) { w.defaultImeWindow = 0; });
        EXPECT_TRUE(enableIme(fallback_).on);
        const WindowHandle other = sys().addEditor(u"C:\\Tools\\other.exe");
        ASSERT_EQ(other, 0x10050u);
        if (!c.otherHasContext) {
            sys().window(other).context = 0;
        }
        sys().activate(EditorTop, edit_); // addEditor activated the new one; the user is still here
        sys().after(100, [&] { sys().activate(other - 0x10, other); });
        EXPECT_FALSE(waitImeReady(fallback_));
        EXPECT_EQ(events(LogChannel::Output, "IME_READY"), Lines{c.line});
        expectNothingHeld();
    }
}

TEST_F(ImeEnablingTest, TheWorkingWindowIsStoredEvenWhenFocusMovesDuringTheKeys) {
    sys().window(edit_).context = 0;
    editorThreadWindows([](fake::Window& w) { w.defaultImeWindow = 0; });
    const WindowHandle other = sys().addEditor(u"C:\\Tools\\other.exe");
    sys().window(other).context = 0;
    for (auto& [handle, w] : sys().windows) {
        w.defaultImeWindow = 0; // nothing to read anywhere
    }
    sys().activate(EditorTop, edit_);
    sys().after(100, [&] { sys().activate(other - 0x10, other); }); // during the 120 ms pause
    EXPECT_TRUE(enableIme(fallback_).on);
    EXPECT_EQ(fallback_, edit_);
    EXPECT_EQ(events(LogChannel::Output, "IME_ENABLE_END"), Lines{"hwnd=0x10050 context=null"});
}

TEST_F(ImeEnablingTest, NoWindowAtAllFailsAtOnce) {
    sys().foreground = 0;
    EXPECT_FALSE(enableIme(fallback_).on);
    EXPECT_EQ(runLines(), Lines{"[OUT] IME_ENABLE result=fail reason=no_hwnd"});
    EXPECT_TRUE(sys().sleeps.empty());
    EXPECT_TRUE(sys().batches.empty());
}

TEST_F(ImeEnablingTest, TheWaitPollsEveryTwentyMillisecondsForHalfASecond) {
    const struct {
        const char* name;
        std::uint32_t startTick;
        std::uint32_t onAfter; // 0: never
        bool result;
        std::size_t polls;
        bool afterKeysToAnotherProcess = false; // its IME window still reads it
    } cases[] = {
        {"on after 70 ms", 1000, 70, true, 4},
        {"on at the last check", 1000, 480, true, 24},
        {"never on", 1000, 0, false, 25},
        {"never on, tick count wrapping", 0xFFFFFF00u, 0, false, 25},
        {"never on after a key, read through the IME window", 1000, 0, false, 25, true},
        {"on after a key, read through the IME window", 1000, 70, true, 4, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sys().contextsAcrossProcesses = !c.afterKeysToAnotherProcess;
        fallback_ = c.afterKeysToAnotherProcess ? edit_ : 0;
        ime() = fake::ImeState{};
        sys().tick = c.startTick;
        sys().sleeps.clear();
        startLogging();
        if (c.onAfter != 0) {
            sys().after(c.onAfter, [&] {
                ime().open = true;
                ime().conversion = 0x1;
            });
        }
        EXPECT_EQ(waitImeReady(fallback_), c.result);
        EXPECT_EQ(sys().sleeps, polls(c.polls));
        EXPECT_EQ(events(LogChannel::Output, "IME_READY").at(0).substr(0, 10),
                  c.result ? "result=ok " : "result=tim");
    }
}

} // namespace
} // namespace tavelio::testing
