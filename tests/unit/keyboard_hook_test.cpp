#include "capture/keyboard_hook.h"
#include "platform/constants.h"
#include "tests/support/fake_layout.h"
#include "tests/support/fake_test.h"

#include <cstdio>
#include <memory>

namespace tavelio::testing {
namespace {

constexpr platform::WindowHandle HiddenWindow = 0x7F00;

// The editor of System::addEditor: edit control 0x10020 in process 4000.
const std::string ImeOff = "hwnd=0x10020 open=0 conv=0x0 sent=0x0 native=0";
const std::string ImeOn = "hwnd=0x10020 open=1 conv=0x9 sent=0x8 native=1";
const std::string ClearLine = "[IN] BUFFER action=clear len=0 truncated=0 canExecute=0 "
                              "last=cleared text=\"\"";
const std::string Window = "fg=0x10010 focus=0x10020 target=0x10020 pid=4000 exe=\"notepad.exe\" "
                           "class=\"Edit\" title=\"\"";

std::string hex2(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string clearRequest(const std::string& reason) {
    return "[IN] CLEAR_REQUEST reason=" + reason;
}

class KeyboardHookTest : public FakeSystemTest {
protected:
    void SetUp() override {
        FakeSystemTest::SetUp();
        edit = sys().addEditor();
        editorPid = pidOf(edit);
        startLogging();
        context = std::make_unique<HookContext>(HiddenWindow, settings, buffer);
    }
    void TearDown() override {
        context.reset();
        FakeSystemTest::TearDown();
    }

    // One key press as the low-level hook delivers it; true when swallowed.
    bool key(std::uint32_t vk, std::uint32_t message = msg::KeyDown, std::uint32_t flags = 0,
             std::uintptr_t extraInfo = 0, int code = HookActionCode) {
        const KeyEvent event{vk, fake::usScanCode(vk) & 0xFFu, flags, extraInfo};
        return processKeyEvent(*context, code, message, event);
    }
    void hold(const std::vector<std::uint8_t>& keys) {
        sys().releaseAll();
        for (const auto k : keys) {
            sys().press(k);
        }
    }
    // The one message a swallowed hotkey leaves: the execute request to the hidden window.
    void expectOneExecuteRequest() {
        ASSERT_EQ(sys().posted.size(), 1u);
        EXPECT_EQ(sys().posted[0].window, HiddenWindow);
        EXPECT_EQ(sys().posted[0].message, 0x8002u); // WM_APP + 2
        EXPECT_EQ(sys().posted[0].wParam, 0u);
        EXPECT_EQ(sys().posted[0].lParam, 0);
    }
    void setIme(bool open) {
        auto& ime = sys().ime(edit);
        ime.open = open;
        ime.conversion = open ? 0x9 : 0x0;
        ime.sentence = open ? 0x8 : 0x0;
    }
    void type(std::u16string_view text) {
        for (const char16_t c : text) {
            buffer.append(c);
        }
    }
    std::uint32_t pidOf(platform::WindowHandle window) {
        return sys().threads.at(sys().window(window).threadId).processId;
    }
    void mark() { seen = logLines(LogChannel::Input).size(); }
    std::vector<std::string> newLines() const {
        const auto all = logLines(LogChannel::Input);
        return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(seen), all.end());
    }

    Settings settings;
    InputBuffer buffer{200};
    std::unique_ptr<HookContext> context;
    platform::WindowHandle edit = 0;
    std::uint32_t editorPid = 0;
    std::size_t seen = 0;
};

// Every row of the decision table, from a buffer holding "ka" (last = text).
TEST_F(KeyboardHookTest, DecisionTable) {
    using namespace vk;
    struct Row {
        std::string name;
        std::uint32_t key;
        std::vector<std::uint8_t> held;
        bool imeOpen;
        std::string textAfter;
        std::vector<std::string> lines;
        bool swallowed = false;
        bool capsLock = false;
        bool numLock = false;
        bool clearOnSpace = false;
    };
    const std::string kaBuffer = "len=2 truncated=0 canExecute=1";
    auto appended = [](std::string ch, std::string source, std::string vkHex, std::string text) {
        return std::vector<std::string>{
            "[IN] BUFFER action=append ch=\"" + ch + "\" len=3 truncated=0 canExecute=1 " +
                "last=text text=\"" + text + "\"",
            "[IN] APPEND source=" + source + " vk=0x" + vkHex + " ch=\"" + ch + "\""};
    };
    const std::vector<std::string> comboClear = {clearRequest("modifier_combo vk=0x41"), ClearLine};

    std::vector<Row> rows = {
        {"hotkey passing every condition",
         Back,
         {LControl},
         false,
         "ka",
         {"[IN] HOTKEY_EXECUTE bufLen=2 len=2 first2=\"ka\" last2=\"ka\" text=\"ka\" ctrl=1 "
          "lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0 " +
          Window + " ime=\"" + ImeOff + "\""},
         true},
        {"alternate hotkey",
         Back,
         {RControl, RShift},
         false,
         "ka",
         {"[IN] HOTKEY_EXECUTE bufLen=2 len=2 first2=\"ka\" last2=\"ka\" text=\"ka\" ctrl=1 "
          "lctrl=0 rctrl=1 shift=1 alt=0 win=0 bs=0 " +
          Window + " ime=\"" + ImeOff + "\""},
         true},
        {"Ctrl key with Ctrl down", LControl, {LControl}, false, "ka", {}},
        {"Shift key with Alt down", LShift, {LMenu, LShift}, true, "ka", {}},
        {"Alt key with Ctrl down", Menu, {RControl, RMenu}, false, "ka", {}},
        {"Win key with Win down", LWin, {LWin}, false, "ka", {}},
        {"right Win key with Ctrl down", RWin, {LControl, RWin}, false, "ka", {}},
        {"Ctrl+A", 'A', {LControl}, false, "", comboClear},
        {"Ctrl+A with the IME open", 'A', {LControl}, true, "", comboClear},
        {"Alt+A", 'A', {LMenu}, false, "", comboClear},
        {"left Win+A", 'A', {LWin}, false, "", comboClear},
        {"right Win+A", 'A', {RWin}, false, "", comboClear},
        {"Ctrl+Shift+A", 'A', {LControl, LShift}, false, "", comboClear},
        {"Ctrl+Enter",
         Return,
         {LControl},
         false,
         "",
         {clearRequest("modifier_combo vk=0x0D"), ClearLine}},
        {"hotkey with the IME open",
         Back,
         {LControl},
         true,
         "",
         {"[IN] HOTKEY_SKIP matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=1 "
          "imeOpen=1 ime=\"" +
              ImeOn + "\" text=\"ka\"",
          clearRequest("modifier_combo vk=0x08"), ClearLine}},
        {"Backspace",
         Back,
         {},
         false,
         "k",
         {"[IN] BUFFER action=backspace len=1 truncated=0 canExecute=1 last=backspace text=\"k\""}},
        {"Backspace with the IME open",
         Back,
         {},
         true,
         "k",
         {"[IN] BUFFER action=backspace len=1 truncated=0 canExecute=1 last=backspace text=\"k\""}},
        {"Shift+Backspace",
         Back,
         {LShift},
         false,
         "k",
         {"[IN] BUFFER action=backspace len=1 truncated=0 canExecute=1 last=backspace text=\"k\""}},
        {"Space with clearOnSpace",
         Space,
         {},
         false,
         "",
         {clearRequest("clear_on_space"), ClearLine},
         false,
         false,
         false,
         true},
        {"Space with clearOnSpace and the IME open",
         Space,
         {},
         true,
         "",
         {clearRequest("clear_on_space"), ClearLine},
         false,
         false,
         false,
         true},
        {"Space with the IME open",
         Space,
         {},
         true,
         "ka",
         {"[IN] SKIP reason=ime_open_on_space ime=\"" + ImeOn + "\""}},
        {"Space",
         Space,
         {},
         false,
         "ka ",
         {"[IN] BUFFER action=append ch=\" \" len=3 truncated=0 canExecute=1 last=text "
          "text=\"ka \""}},
        {"Enter with the IME open",
         Return,
         {},
         true,
         "",
         {clearRequest("clear_key vk=0x0D"), ClearLine}},
        {"K", 'K', {}, false, "kak", appended("k", "vk", "4B", "kak")},
        {"Shift+K", 'K', {LShift}, false, "kaK", appended("K", "vk", "4B", "kaK")},
        {"K with Caps Lock", 'K', {}, false, "kaK", appended("K", "vk", "4B", "kaK"), false, true},
        {"Shift+K with Caps Lock",
         'K',
         {RShift},
         false,
         "kak",
         appended("k", "vk", "4B", "kak"),
         false,
         true},
        {"7", '7', {}, false, "ka7", appended("7", "vk_digit", "37", "ka7")},
        {"Shift+3 through the layout",
         '3',
         {LShift},
         false,
         "ka#",
         appended("#", "unicode", "33", "ka#")},
        {"semicolon through the layout",
         0xBA,
         {},
         false,
         "ka;",
         appended(";", "unicode", "BA", "ka;")},
        {"Shift+quote through the layout",
         0xDE,
         {LShift},
         false,
         "ka\"",
         {"[IN] BUFFER action=append ch=\"\"\" len=3 truncated=0 canExecute=1 last=text "
          "text=\"ka\\\"\"",
          "[IN] APPEND source=unicode vk=0xDE ch=\"\"\""}},
        {"numpad 7 with Num Lock",
         0x67,
         {},
         false,
         "ka7",
         appended("7", "unicode", "67", "ka7"),
         false,
         false,
         true},
        {"numpad 7 without Num Lock",
         0x67,
         {},
         false,
         "ka",
         {"[IN] REJECT reason=not_printable vk=0x67 scan=0x47"}},
        {"Delete", Delete, {}, false, "ka", {"[IN] REJECT reason=not_printable vk=0x2E scan=0x53"}},
        {"F1", F1, {}, false, "ka", {"[IN] REJECT reason=not_printable vk=0x70 scan=0x3B"}},
        {"Shift alone",
         LShift,
         {LShift},
         false,
         "ka",
         {"[IN] REJECT reason=not_printable vk=0xA0 scan=0x2A"}},
        {"K with the IME open",
         'K',
         {},
         true,
         "ka",
         {"[IN] SKIP reason=ime_open vk=0x4B ime=\"" + ImeOn + "\""}},
        {"7 with the IME open",
         '7',
         {},
         true,
         "ka",
         {"[IN] SKIP reason=ime_open vk=0x37 ime=\"" + ImeOn + "\""}},
        {"semicolon with the IME open",
         0xBA,
         {},
         true,
         "ka",
         {"[IN] SKIP reason=ime_open vk=0xBA ime=\"" + ImeOn + "\""}},
        {"Delete with the IME open",
         Delete,
         {},
         true,
         "ka",
         {"[IN] SKIP reason=ime_open vk=0x2E ime=\"" + ImeOn + "\""}},
    };
    // Every clear key, with and without Shift.
    for (const std::uint8_t clearKey :
         {Tab, Return, Escape, Prior, Next, End, Home, Left, Up, Right, Down}) {
        const std::string hex = hex2(clearKey);
        for (const bool shift : {false, true}) {
            rows.push_back({"clear key " + hex + (shift ? " with Shift" : ""),
                            clearKey,
                            shift ? std::vector<std::uint8_t>{LShift} : std::vector<std::uint8_t>{},
                            false,
                            "",
                            {clearRequest("clear_key vk=" + hex), ClearLine}});
        }
    }

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        buffer.clear();
        type(u"ka");
        hold(row.held);
        sys().toggled.fill(false);
        sys().toggled[Capital] = row.capsLock;
        sys().toggled[NumLock] = row.numLock;
        settings.clearOnSpace = row.clearOnSpace;
        setIme(row.imeOpen);
        sys().posted.clear();
        mark();

        EXPECT_EQ(key(row.key), row.swallowed);
        EXPECT_EQ(narrow(buffer.text()), row.textAfter);
        EXPECT_EQ(newLines(), row.lines);
        if (row.swallowed) {
            expectOneExecuteRequest();
        } else {
            EXPECT_TRUE(sys().posted.empty());
        }
    }
}

// The user types k and a, presses Ctrl, then Backspace with Ctrl down.
TEST_F(KeyboardHookTest, TypingThenTheHotkeyRequestsAnExecuteAndHidesThePress) {
    mark();
    EXPECT_FALSE(key('K'));
    EXPECT_FALSE(key('A'));
    sys().press(vk::LControl);
    EXPECT_FALSE(key(vk::LControl));
    EXPECT_TRUE(key(vk::Back));

    EXPECT_EQ(narrow(buffer.text()), "ka");
    EXPECT_EQ(buffer.last(), LastAction::Text);
    EXPECT_EQ(context->fromPid, editorPid);
    EXPECT_EQ(
        newLines(),
        (std::vector<std::string>{
            "[IN] BUFFER action=append ch=\"k\" len=1 truncated=0 canExecute=1 last=text "
            "text=\"k\"",
            "[IN] APPEND source=vk vk=0x4B ch=\"k\"",
            "[IN] BUFFER action=append ch=\"a\" len=2 truncated=0 canExecute=1 last=text "
            "text=\"ka\"",
            "[IN] APPEND source=vk vk=0x41 ch=\"a\"",
            "[IN] HOTKEY_EXECUTE bufLen=2 len=2 first2=\"ka\" last2=\"ka\" text=\"ka\" ctrl=1 "
            "lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0 " +
                Window + " ime=\"" + ImeOff + "\""}));
    expectOneExecuteRequest();
}

// The same Ctrl+Backspace when one of the conditions fails: it is logged as a
// skip, reaches the application and ends the segment.
TEST_F(KeyboardHookTest, AHotkeyPressThatCannotExecuteIsSkippedAndClears) {
    const auto cmd = sys().addEditor(u"C:\\Windows\\System32\\cmd.exe");
    ASSERT_EQ(cmd, 0x10050u); // the second editor of a fresh system
    const auto notepadTop = sys().window(edit).parent;
    const std::string cmdIme = "hwnd=0x10050 open=0 conv=0x0 sent=0x0 native=0";
    struct Case {
        const char* name;
        std::u16string typed;
        std::vector<std::uint8_t> held;
        bool imeOpen;
        bool enabled;
        bool excluded;
        std::string skipLine;
        std::string clearReason;
    };
    const Case cases[] = {
        {"empty buffer",
         u"",
         {vk::LControl},
         false,
         true,
         false,
         "matched=0 enabled=1 canExecute=0 truncated=0 bufLen=0 allowedApp=1 imeOpen=0 ime=\"" +
             ImeOff + "\" text=\"\"",
         "modifier_combo vk=0x08"},
        {"IME open",
         u"ka",
         {vk::LControl},
         true,
         true,
         false,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=1 imeOpen=1 ime=\"" +
             ImeOn + "\" text=\"ka\"",
         "modifier_combo vk=0x08"},
        {"excluded application",
         u"ka",
         {vk::LControl},
         false,
         true,
         true,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=0 imeOpen=0 ime=\"" +
             cmdIme + "\" text=\"ka\"",
         "disabled_or_excluded vk=0x08"},
        {"paused",
         u"ka",
         {vk::LControl},
         false,
         false,
         false,
         "matched=0 enabled=0 canExecute=1 truncated=0 bufLen=2 allowedApp=1 imeOpen=0 ime=\"" +
             ImeOff + "\" text=\"ka\"",
         "disabled_or_excluded vk=0x08"},
        {"no hotkey matches Ctrl+Alt",
         u"ka",
         {vk::LControl, vk::LMenu},
         false,
         true,
         false,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=1 imeOpen=0 ime=\"" +
             ImeOff + "\" text=\"ka\"",
         "modifier_combo vk=0x08"},
        {"a quote in the text",
         u"a\"b",
         {vk::RControl},
         true,
         true,
         false,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=3 allowedApp=1 imeOpen=1 ime=\"" +
             ImeOn + "\" text=\"a\\\"b\"",
         "modifier_combo vk=0x08"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sys().activate(c.excluded ? sys().window(cmd).parent : notepadTop, c.excluded ? cmd : edit);
        context->fromPid = pidOf(sys().foreground);
        buffer.clear();
        type(c.typed);
        hold(c.held);
        setIme(c.imeOpen);
        settings.enabled = c.enabled;
        sys().posted.clear();
        mark();

        EXPECT_FALSE(key(vk::Back));
        EXPECT_TRUE(buffer.text().empty());
        EXPECT_TRUE(sys().posted.empty());
        EXPECT_EQ(newLines(), (std::vector<std::string>{"[IN] HOTKEY_SKIP " + c.skipLine,
                                                        clearRequest(c.clearReason), ClearLine}));
    }
}

TEST_F(KeyboardHookTest, ATruncatedBufferNeverExecutes) {
    for (int i = 0; i < 201; ++i) {
        buffer.append(u'x');
    }
    hold({vk::LControl});
    mark();
    EXPECT_FALSE(key(vk::Back));
    EXPECT_TRUE(sys().posted.empty());
    ASSERT_EQ(newLines().size(), 3u);
    EXPECT_EQ(newLines()[0].rfind("[IN] HOTKEY_SKIP matched=0 enabled=1 canExecute=0 truncated=1 "
                                  "bufLen=200 allowedApp=1 imeOpen=0",
                                  0),
              0u);
}

TEST_F(KeyboardHookTest, PausedOrExcludedKeysClearTheBuffer) {
    settings.enabled = false;
    type(u"ka");
    mark();
    EXPECT_FALSE(key('A'));
    EXPECT_TRUE(buffer.text().empty());
    EXPECT_EQ(newLines(),
              (std::vector<std::string>{clearRequest("disabled_or_excluded vk=0x41"), ClearLine}));

    settings.enabled = true;
    settings.excludedApps = {u"NOTEPAD.EXE"};
    type(u"ka");
    mark();
    EXPECT_FALSE(key(vk::Space));
    EXPECT_TRUE(buffer.text().empty());
    EXPECT_EQ(newLines(),
              (std::vector<std::string>{clearRequest("disabled_or_excluded vk=0x20"), ClearLine}));

    // With appMode anything but "all" the list is not consulted.
    settings.appMode = u"All";
    EXPECT_FALSE(key('A'));
    EXPECT_EQ(narrow(buffer.text()), "a");
}

TEST_F(KeyboardHookTest, SwitchingToAnotherProcessClearsBeforeTheKeyIsRecorded) {
    EXPECT_FALSE(key('K'));
    const auto other = sys().addEditor(u"C:\\Tools\\editor.exe");
    const auto otherPid = pidOf(other);
    mark();
    EXPECT_FALSE(key('A'));
    EXPECT_EQ(narrow(buffer.text()), "a");
    EXPECT_EQ(context->fromPid, otherPid);
    const auto lines = newLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], clearRequest("foreground_process fromPid=" + std::to_string(editorPid) +
                                     " toPid=" + std::to_string(otherPid)));
    EXPECT_EQ(lines[1], ClearLine);
    EXPECT_EQ(lines[3], "[IN] APPEND source=vk vk=0x41 ch=\"a\"");
}

// Injected presses, marked ones, releases and non-action codes change nothing
// and do not even look at the foreground process.
TEST_F(KeyboardHookTest, InjectedEventsAndReleasesAreIgnored) {
    const struct {
        const char* name;
        std::uint32_t message;
        std::uint32_t flags;
        std::uintptr_t extraInfo;
        int code;
    } cases[] = {
        {"injected by another program", msg::KeyDown, LowLevelKeyInjected, 0, 0},
        {"injected and marked", msg::KeyDown, LowLevelKeyInjected, InjectedInputMarker, 0},
        {"injected system key", msg::SysKeyDown, LowLevelKeyInjected | 0x20, 0x1234, 0},
        {"marked without the injected flag", msg::KeyDown, 0, InjectedInputMarker, 0},
        {"key release", msg::KeyUp, 0x80, 0, 0},
        {"system key release", msg::SysKeyUp, 0x80, 0, 0},
        {"not HC_ACTION", msg::KeyDown, 0, 0, 3},
    };
    sys().addEditor(u"C:\\Tools\\editor.exe");
    context->fromPid = editorPid; // the foreground has moved on since
    for (const std::uint32_t k :
         {std::uint32_t{'A'}, std::uint32_t{vk::Back}, std::uint32_t{vk::Return}}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " vk=" + std::to_string(k));
            buffer.clear();
            type(u"ka");
            hold({vk::LControl});
            mark();
            EXPECT_FALSE(key(k, c.message, c.flags, c.extraInfo, c.code));
            EXPECT_EQ(narrow(buffer.text()), "ka");
            EXPECT_EQ(context->fromPid, editorPid);
            EXPECT_TRUE(newLines().empty());
            EXPECT_TRUE(sys().posted.empty());
        }
    }
}

TEST_F(KeyboardHookTest, SystemKeyPressesAreLookedAt) {
    type(u"ka");
    hold({vk::LMenu});
    EXPECT_FALSE(key('F', msg::SysKeyDown));
    EXPECT_TRUE(buffer.text().empty());
}

// SendInput's events come back through the hook flagged as injected, as on
// Windows: the program's own re-typing is never recorded again.
TEST_F(KeyboardHookTest, TheProgramsOwnInputComingBackThroughTheHookIsNotRecorded) {
    sys().keyboardHook = [&](const fake::HookKeyEvent& e) {
        return processKeyEvent(*context, HookActionCode, e.message,
                               KeyEvent{e.vkCode, e.scanCode, e.flags, e.extraInfo});
    };
    type(u"ka");
    mark();
    const platform::KeyInput records[] = {
        {vk::Back, 0, 0, 0, InjectedInputMarker},
        {vk::Back, 0, keyevent::KeyUp, 0, InjectedInputMarker},
        {0, 0x25, keyevent::ScanCode, 0, InjectedInputMarker}, // K
        {0, 0x25, keyevent::ScanCode | keyevent::KeyUp, 0, InjectedInputMarker},
        {'Z', 0, 0, 0, 0}, // another program's input, unmarked
        {'Z', 0, keyevent::KeyUp, 0, 0},
    };
    EXPECT_EQ(platform::sendInput(records, 6), 6u);
    EXPECT_EQ(narrow(buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());
    EXPECT_EQ(narrow(sys().window(edit).text), "kz"); // the editor did get the keys
}

// Each question costs a process query or a thread attachment; a press asks it once.
TEST_F(KeyboardHookTest, APressAsksForTheAppFilterAndTheImeAtMostOnce) {
    diagnosticLog().stop(); // the log lines ask again, on purpose
    type(u"ka");
    setIme(true);
    hold({vk::LControl});
    EXPECT_FALSE(key(vk::Back)); // step 6 and the key rule both need the filter
    EXPECT_EQ(sys().processHandlesOpened, 1);
    EXPECT_EQ(sys().contextsObtained, 1);

    setIme(false);
    hold({});
    EXPECT_FALSE(key('K'));
    EXPECT_EQ(sys().processHandlesOpened, 2);
    EXPECT_EQ(sys().contextsObtained, 2);
    EXPECT_EQ(narrow(buffer.text()), "k");
}

TEST_F(KeyboardHookTest, AFailureInsideTheDecisionsPassesTheKeyOn) {
    // A foreground window whose thread the fake system does not know makes the
    // seam throw, as a stand-in for anything going wrong inside the hook.
    sys().foreground = sys().addWindow(9999, u"Broken");
    type(u"ka");
    EXPECT_FALSE(key('K'));
    EXPECT_EQ(narrow(buffer.text()), "ka");
}

TEST_F(KeyboardHookTest, DeadKeysAndControlCharactersAreRejected) {
    sys().deadKeys = {0xDE};
    mark();
    EXPECT_FALSE(appendFromUnicode(buffer, KeyEvent{0xDE, 0x28, 0, 0}));
    EXPECT_FALSE(appendFromUnicode(buffer, KeyEvent{vk::Escape, 0x01, 0, 0})); // gives 0x1B
    EXPECT_FALSE(appendFromVirtualKey(buffer, KeyEvent{0xBA, 0x27, 0, 0}));
    EXPECT_TRUE(buffer.text().empty());
    EXPECT_TRUE(newLines().empty());
}

TEST_F(KeyboardHookTest, CtrlAndAltNeverReachTheLayoutTranslation) {
    // classifyKey never gets here with Ctrl down, but the translation itself
    // must not produce Ctrl+letter control characters.
    hold({vk::LControl, vk::RMenu, vk::LShift});
    EXPECT_TRUE(appendFromUnicode(buffer, KeyEvent{'Q', 0x10, 0, 0}));
    EXPECT_EQ(narrow(buffer.text()), "Q");
}

TEST_F(KeyboardHookTest, TheForegroundThreadsLayoutTranslatesAfterAnEmptyTranslation) {
    constexpr platform::KeyboardLayout Japanese = 0x04110411;
    sys().threads.at(sys().window(edit).threadId).layout = Japanese;
    const int before = sys().toUnicodeCalls;
    EXPECT_FALSE(key(vk::Delete));
    EXPECT_EQ(sys().toUnicodeCalls - before, 2); // the empty translation, then the key
    EXPECT_EQ(sys().toUnicodeLayout, Japanese);

    // No foreground window: the layout of the hook's own thread.
    sys().foreground = 0;
    EXPECT_FALSE(key(0xBD));
    EXPECT_EQ(sys().toUnicodeLayout, fake::UsLayout);
    EXPECT_EQ(narrow(buffer.text()), "-");
}

} // namespace
} // namespace tavelio::testing
