#include "capture/keyboard_hook.h"
#include "tests/support/hooked_desktop.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace tavelio::testing {
namespace {

std::string hex2(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string clearRequest(const std::string& reason) {
    return "[IN] CLEAR_REQUEST reason=" + reason;
}

Lines hotkeyExecute(const std::string& modifiers) {
    return {"[IN] HOTKEY_ROMAJI bufLen=2 romajiLen=2 keepLen=0 text=\"ka\" romaji=\"ka\"",
            "[IN] HOTKEY_EXECUTE bufLen=2 len=2 first2=\"ka\" last2=\"ka\" text=\"ka\" " +
                modifiers + " " + EditorContext + " ime=\"" + ImeOff + "\""};
}

// The event names of log lines, in order.
std::vector<std::string> eventNames(const Lines& lines) {
    std::vector<std::string> names;
    for (const auto& line : lines) {
        const auto start = line.find("] ") + 2;
        names.push_back(line.substr(start, line.find(' ', start) - start));
    }
    return names;
}

using KeyboardHookTest = HookedDesktopTest;

// Every row of the decision table, from a buffer holding "ka" (last = text).
TEST_F(KeyboardHookTest, DecisionTable) {
    using namespace vk;
    // Tapped: the key is released again before anything else comes.
    enum : unsigned { Swallowed = 1, CapsLockOn = 2, NumLockOn = 4, ClearOnSpace = 8, Tapped = 16 };
    struct Row {
        std::string name;
        std::uint32_t key;
        std::vector<std::uint8_t> held;
        bool imeOpen;
        std::string textAfter;
        Lines lines;
        unsigned options = 0;
    };
    auto appended = [](std::string ch, std::string source, std::string vkHex) {
        return Lines{"[IN] BUFFER action=append ch=\"" + ch +
                         "\" len=3 truncated=0 canExecute=1 last=text text=\"ka" + ch + "\"",
                     "[IN] APPEND source=" + source + " vk=0x" + vkHex + " ch=\"" + ch + "\""};
    };
    auto cleared = [](std::string reason) {
        return Lines{clearRequest(reason), ClearLine};
    };
    auto rejected = [](std::string key) {
        return Lines{"[IN] REJECT reason=not_printable " + key};
    };
    // The IME put text of its own in the field: the buffer no longer ends it.
    auto skipped = [](std::string vkHex) {
        return Lines{"[IN] SKIP reason=ime_open vk=0x" + vkHex + " ime=\"" + ImeOn + "\"",
                     clearRequest("ime_typing vk=0x" + vkHex), ClearLine};
    };
    const Lines backspaced = {
        "[IN] BUFFER action=backspace len=1 truncated=0 canExecute=1 last=backspace text=\"k\""};
    const Lines comboClear = cleared("modifier_combo vk=0x41");
    const Lines spaceClear = cleared("clear_on_space");
    const Lines smallK = appended("k", "vk", "4B");
    const Lines capitalK = appended("K", "vk", "4B");
    const Lines numpad7 = appended("7", "unicode", "67");
    const Lines hotkeySkipped = {
        "[IN] HOTKEY_SKIP matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=1 "
        "imeOpen=1 ime=\"" +
            ImeOn + "\" text=\"ka\"",
        clearRequest("modifier_combo vk=0x08"), ClearLine};
    const Lines spaceSkipped = {"[IN] SKIP reason=ime_open_on_space ime=\"" + ImeOn + "\"",
                                clearRequest("ime_typing vk=0x20"), ClearLine};
    const Lines spaceAppended = {
        "[IN] BUFFER action=append ch=\" \" len=3 truncated=0 canExecute=1 last=text text=\"ka \""};
    const Lines quoteAppended = {
        "[IN] BUFFER action=append ch=\"\"\" len=3 truncated=0 canExecute=1 last=text "
        "text=\"ka\\\"\"",
        "[IN] APPEND source=unicode vk=0xDE ch=\"\"\""};
    const Lines executed = hotkeyExecute("ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0");
    const Lines alternate = hotkeyExecute("ctrl=1 lctrl=0 rctrl=1 shift=1 alt=0 win=0 bs=0");

    std::vector<Row> rows = {
        {"hotkey passing every condition", Back, {LControl}, false, "ka", executed, Swallowed},
        {"alternate hotkey", Back, {RControl, RShift}, false, "ka", alternate, Swallowed},
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
        {"Ctrl+Enter", Return, {LControl}, false, "", cleared("modifier_combo vk=0x0D")},
        {"hotkey with the IME open", Back, {LControl}, true, "", hotkeySkipped},
        {"Backspace", Back, {}, false, "k", backspaced},
        {"Backspace with the IME open", Back, {}, true, "k", backspaced},
        {"Shift+Backspace", Back, {LShift}, false, "k", backspaced},
        {"Space with clearOnSpace", Space, {}, false, "", spaceClear, ClearOnSpace},
        {"Space with clearOnSpace and the IME open", Space, {}, true, "", spaceClear, ClearOnSpace},
        {"Space with the IME open", Space, {}, true, "", spaceSkipped},
        {"Space", Space, {}, false, "ka ", spaceAppended},
        {"Enter with the IME open", Return, {}, true, "", cleared("clear_key vk=0x0D")},
        {"K", 'K', {}, false, "kak", smallK},
        {"Shift+K", 'K', {LShift}, false, "kaK", capitalK},
        {"K with Caps Lock", 'K', {}, false, "kaK", capitalK, CapsLockOn},
        {"Shift+K with Caps Lock", 'K', {RShift}, false, "kak", smallK, CapsLockOn},
        {"7", '7', {}, false, "ka7", appended("7", "vk_digit", "37")},
        {"Shift+3 through the layout", '3', {LShift}, false, "ka#", appended("#", "unicode", "33")},
        {"semicolon through the layout", 0xBA, {}, false, "ka;", appended(";", "unicode", "BA")},
        {"Shift+quote through the layout", 0xDE, {LShift}, false, "ka\"", quoteAppended},
        {"numpad 7 with Num Lock",
         0x67,
         {},
         false,
         "ka7",
         appended("7", "unicode", "67"),
         NumLockOn},
        {"numpad 7 without Num Lock", 0x67, {}, false, "ka", rejected("vk=0x67 scan=0x47")},
        {"Delete", Delete, {}, false, "ka", rejected("vk=0x2E scan=0x53")},
        {"lone Alt tap",
         LMenu,
         {},
         false,
         "",
         {"[IN] REJECT reason=not_printable vk=0xA4 scan=0x38", clearRequest("menu vk=0xA4"),
          ClearLine},
         Tapped},
        {"F10", 0x79, {}, false, "", cleared("menu vk=0x79")},
        {"F10 with the IME open", 0x79, {}, true, "", cleared("menu vk=0x79")},
        {"Insert with the IME open", 0x2D, {}, true, "", cleared("function_key vk=0x2D")},
        {"Shift alone", LShift, {LShift}, false, "ka", rejected("vk=0xA0 scan=0x2A")},
        {"K with the IME open", 'K', {}, true, "", skipped("4B")},
        {"7 with the IME open", '7', {}, true, "", skipped("37")},
        {"semicolon with the IME open", 0xBA, {}, true, "", skipped("BA")},
        {"Delete with the IME open", Delete, {}, true, "", skipped("2E")},
    };
    // Every clear key, with and without Shift.
    for (const std::uint8_t clearKey :
         {Tab, Return, Escape, Prior, Next, End, Home, Left, Up, Right, Down}) {
        const std::string hex = hex2(clearKey);
        const Lines clear = cleared("clear_key vk=" + hex);
        rows.push_back({"clear key " + hex, clearKey, {}, false, "", clear});
        rows.push_back({"clear key " + hex + " with Shift", clearKey, {LShift}, false, "", clear});
    }
    // F6 moves into a browser's address bar, Insert turns overtype on: what
    // follows no longer lands behind the record.
    for (unsigned functionKey = F1; functionKey <= 0x87; ++functionKey) {
        if (functionKey != 0x79) {
            const std::string hex = hex2(functionKey);
            rows.push_back({"function key " + hex,
                            functionKey,
                            {},
                            false,
                            "",
                            cleared("function_key vk=" + hex)});
        }
    }
    rows.push_back({"Applications key", 0x5D, {}, false, "", cleared("function_key vk=0x5D")});
    rows.push_back({"Insert", 0x2D, {}, false, "", cleared("function_key vk=0x2D")});
    // The keys of a Japanese keyboard that work the IME reach the application
    // unrecorded, whatever its IME does with them.
    for (const std::uint8_t imeKey :
         {0x16, 0x19, 0x1A, 0x1C, 0x1D, 0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6}) {
        const std::string hex = hex2(imeKey);
        rows.push_back({"IME key " + hex, imeKey, {}, false, "", cleared("ime_key vk=" + hex)});
        rows.push_back({"IME key " + hex + " with the IME open",
                        imeKey,
                        {},
                        true,
                        "",
                        cleared("ime_key vk=" + hex)});
    }

    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        app_->buffer.clear();
        type(u"ka");
        hold(row.held);
        sys().toggled.fill(false);
        sys().toggled[Capital] = (row.options & CapsLockOn) != 0;
        sys().toggled[NumLock] = (row.options & NumLockOn) != 0;
        app_->settings.clearOnSpace = (row.options & ClearOnSpace) != 0;
        setIme(row.imeOpen);
        sys().posted.clear();
        mark();

        const bool swallowed = (row.options & Swallowed) != 0;
        EXPECT_EQ(key(row.key), swallowed);
        if ((row.options & Tapped) != 0) {
            EXPECT_FALSE(key(row.key, msg::SysKeyUp, 0x80));
        }
        EXPECT_EQ(narrow(app_->buffer.text()), row.textAfter);
        EXPECT_EQ(newLines(), row.lines);
        if (swallowed) {
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

    EXPECT_EQ(narrow(app_->buffer.text()), "ka");
    EXPECT_EQ(app_->buffer.last(), LastAction::Text);
    EXPECT_EQ(app_->hook.fromPid, pidOf(edit_));
    EXPECT_EQ(newLines(),
              (Lines{"[IN] BUFFER action=append ch=\"k\" len=1 truncated=0 canExecute=1 last=text "
                     "text=\"k\"",
                     "[IN] APPEND source=vk vk=0x4B ch=\"k\"",
                     "[IN] BUFFER action=append ch=\"a\" len=2 truncated=0 canExecute=1 last=text "
                     "text=\"ka\"",
                     "[IN] APPEND source=vk vk=0x41 ch=\"a\"",
                     hotkeyExecute("ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0")[0],
                     hotkeyExecute("ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=0")[1]}));
    expectOneExecuteRequest();
}

// The same Ctrl+Backspace when one of the conditions fails: it is logged as a
// skip, reaches the application and ends the segment.
TEST_F(KeyboardHookTest, AHotkeyPressThatCannotExecuteIsSkippedAndClears) {
    const auto cmd = sys().addEditor(u"C:\\Windows\\System32\\cmd.exe");
    ASSERT_EQ(cmd, 0x10050u); // the second editor of a fresh system
    const auto notepadTop = sys().window(edit_).parent;
    const std::string cmdIme = "hwnd=0x10050 open=0 conv=0x0 sent=0x0 native=0";
    const std::vector<std::uint8_t> ctrl{vk::LControl}, rightCtrl{vk::RControl};
    const std::vector<std::uint8_t> ctrlAlt{vk::LControl, vk::LMenu};
    const struct {
        const char* name;
        std::u16string typed;
        const std::vector<std::uint8_t>& held;
        bool imeOpen, enabled, excluded;
        std::string skipLine;
        std::string clearReason;
    } cases[] = {
        {"empty buffer", u"", ctrl, false, true, false,
         "matched=0 enabled=1 canExecute=0 truncated=0 bufLen=0 allowedApp=1 imeOpen=0 ime=\"" +
             ImeOff + "\" text=\"\"",
         "modifier_combo vk=0x08"},
        {"IME open", u"ka", ctrl, true, true, false,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=1 imeOpen=1 ime=\"" +
             ImeOn + "\" text=\"ka\"",
         "modifier_combo vk=0x08"},
        {"excluded application", u"ka", ctrl, false, true, true,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=0 imeOpen=0 ime=\"" +
             cmdIme + "\" text=\"ka\"",
         "disabled_or_excluded"},
        {"paused", u"ka", ctrl, false, false, false,
         "matched=0 enabled=0 canExecute=1 truncated=0 bufLen=2 allowedApp=1 imeOpen=0 ime=\"" +
             ImeOff + "\" text=\"ka\"",
         "disabled_or_excluded vk=0x08"},
        {"no hotkey matches Ctrl+Alt", u"ka", ctrlAlt, false, true, false,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=2 allowedApp=1 imeOpen=0 ime=\"" +
             ImeOff + "\" text=\"ka\"",
         "modifier_combo vk=0x08"},
        {"a quote in the text", u"a\"b", rightCtrl, true, true, false,
         "matched=0 enabled=1 canExecute=1 truncated=0 bufLen=3 allowedApp=1 imeOpen=1 ime=\"" +
             ImeOn + "\" text=\"a\\\"b\"",
         "modifier_combo vk=0x08"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sys().activate(c.excluded ? sys().window(cmd).parent : notepadTop,
                       c.excluded ? cmd : edit_);
        app_->hook.fromPid = pidOf(sys().foreground);
        app_->hook.fromWindow = sys().foreground;
        app_->buffer.clear();
        type(c.typed);
        hold(c.held);
        setIme(c.imeOpen);
        app_->settings.enabled = c.enabled;
        sys().posted.clear();
        mark();

        EXPECT_FALSE(key(vk::Back));
        EXPECT_TRUE(app_->buffer.text().empty());
        EXPECT_TRUE(sys().posted.empty());
        EXPECT_EQ(newLines(), (Lines{"[IN] HOTKEY_SKIP " + c.skipLine, clearRequest(c.clearReason),
                                     ClearLine}));
    }
}

// Ctrl+Backspace is the editors' delete-word key: over text that is not
// romaji it reaches the editor, which deletes a word.
TEST_F(KeyboardHookTest, TheHotkeyRunsOnlyOverRomaji) {
    const struct {
        std::u16string_view typed;
        bool romajiOnly;
        bool readable; // an Edit that tells its text
        int repeats;   // auto-repeats of Backspace, Ctrl held
        bool swallowed;
        std::size_t keepLen, romajiLen;
        std::u16string_view fieldAfter;
        std::vector<std::string> events;
    } cases[] = {
        {u"kana", true, false, 0, true, 0, 4, u"kana", {"HOTKEY_ROMAJI", "HOTKEY_EXECUTE"}},
        {u"met ha ashita",
         true,
         false,
         0,
         true,
         4,
         9,
         u"met ha ashita",
         {"HOTKEY_ROMAJI", "HOTKEY_EXECUTE"}},
        {u"hello world",
         true,
         false,
         0,
         false,
         11,
         0,
         u"hello ",
         {"HOTKEY_ROMAJI", "HOTKEY_SKIP", "CLEAR_REQUEST", "BUFFER"}},
        {u"see you ",
         true,
         false,
         0,
         false,
         7,
         0,
         u"see ",
         {"HOTKEY_ROMAJI", "HOTKEY_SKIP", "CLEAR_REQUEST", "BUFFER"}},
        {u"hello world", false, false, 0, true, 0, 0, u"hello world", {"HOTKEY_EXECUTE"}},
        // Held over English in a field that tells its text: the record is
        // gone after the first word, yet every repeat deletes a word at once,
        // none is taken to read the field.
        {u"hello big world",
         true,
         true,
         2,
         false,
         0,
         0,
         u"",
         {"HOTKEY_ROMAJI", "HOTKEY_SKIP", "CLEAR_REQUEST", "BUFFER", "HOTKEY_SKIP", "CLEAR_REQUEST",
          "BUFFER", "HOTKEY_SKIP", "CLEAR_REQUEST", "BUFFER"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.typed));
        buildDesktop();
        app_->settings.romajiOnly = c.romajiOnly;
        sys().window(edit_).answersEdit = c.readable;
        userTypes(c.typed);
        fake::deliverHardwareKey(vk::LControl, false);
        mark();
        for (int press = 0; press <= c.repeats; ++press) {
            fake::deliverHardwareKey(vk::Back, false);
        }
        const KeyDecision decision = lastDecision_;
        EXPECT_EQ(decision.swallow, c.swallowed);
        EXPECT_EQ(decision.hotkey, c.swallowed ? HotkeyOutcome::execute : HotkeyOutcome::skip);
        EXPECT_EQ(decision.romajiDecided, c.romajiOnly && c.repeats == 0);
        EXPECT_EQ(decision.romaji.keepLen, c.keepLen);
        EXPECT_EQ(decision.romaji.romajiLen, c.romajiLen);
        EXPECT_EQ(narrow(field()), narrow(c.fieldAfter));
        EXPECT_EQ(eventNames(newLines()), c.events);
        EXPECT_EQ(sys().posted.size(), c.swallowed ? 1u : 0u);
    }
}

TEST_F(KeyboardHookTest, ATruncatedBufferNeverExecutes) {
    type(std::u16string(201, u'x'));
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
    app_->settings.enabled = false;
    type(u"ka");
    mark();
    EXPECT_FALSE(key('A'));
    EXPECT_TRUE(app_->buffer.text().empty());
    EXPECT_EQ(newLines(), (Lines{clearRequest("disabled_or_excluded vk=0x41"), ClearLine}));

    // Settings are read once at start; the process is asked again here as
    // it would be after a switch to it.
    app_->settings.enabled = true;
    app_->settings.excludedApps = {u"NOTEPAD.EXE"};
    app_->hook.fromPid = 0;
    type(u"ka");
    mark();
    EXPECT_FALSE(key(vk::Space));
    EXPECT_TRUE(app_->buffer.text().empty());
    // No key code: what is typed into a password manager must not be
    // rebuildable from the log.
    EXPECT_EQ(newLines(), (Lines{clearRequest("disabled_or_excluded"), ClearLine}));

    // With appMode anything but "all" the list is not consulted.
    app_->settings.appMode = u"All";
    app_->hook.fromPid = 0;
    EXPECT_FALSE(key('A'));
    EXPECT_EQ(narrow(app_->buffer.text()), "a");

    // But Tavelio's own windows (its settings window) never take part.
    app_->hook.ownProcess = pidOf(edit_);
    app_->hook.fromPid = 0;
    mark();
    EXPECT_FALSE(key('A'));
    EXPECT_TRUE(app_->buffer.text().empty());
    EXPECT_EQ(newLines(), (Lines{clearRequest("disabled_or_excluded"), ClearLine}));
}

TEST_F(KeyboardHookTest, SwitchingToAnotherProcessClearsBeforeTheKeyIsRecorded) {
    EXPECT_FALSE(key('K'));
    const auto other = sys().addEditor(u"C:\\Tools\\editor.exe");
    const auto otherPid = pidOf(other);
    mark();
    EXPECT_FALSE(key('A'));
    EXPECT_EQ(narrow(app_->buffer.text()), "a");
    EXPECT_EQ(app_->hook.fromPid, otherPid);
    const auto lines = newLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], clearRequest("foreground_process fromPid=" + std::to_string(pidOf(edit_)) +
                                     " toPid=" + std::to_string(otherPid)));
    EXPECT_EQ(lines[1], ClearLine);
    EXPECT_EQ(lines[3], "[IN] APPEND source=vk vk=0x41 ch=\"a\"");
}

// Injected presses, marked ones, releases and non-action codes are not
// recorded and do not even look at the foreground process. Another program's
// presses reach the application unrecorded, so they end the segment.
TEST_F(KeyboardHookTest, InjectedEventsAndReleasesAreIgnored) {
    const struct {
        const char* name;
        std::uint32_t message;
        std::uint32_t flags;
        std::uintptr_t extraInfo;
        int code;
        bool clears = false;
    } cases[] = {
        {"injected by another program", msg::KeyDown, LowLevelKeyInjected, 0, 0, true},
        {"injected and marked", msg::KeyDown, LowLevelKeyInjected, InjectedInputMarker, 0},
        {"injected system key", msg::SysKeyDown, LowLevelKeyInjected | 0x20, 0x1234, 0, true},
        {"marked without the injected flag", msg::KeyDown, 0, InjectedInputMarker, 0},
        {"key release", msg::KeyUp, 0x80, 0, 0},
        {"injected release", msg::KeyUp, LowLevelKeyInjected | 0x80, 0, 0},
        {"system key release", msg::SysKeyUp, 0x80, 0, 0},
        {"not HC_ACTION", msg::KeyDown, 0, 0, 3},
    };
    // A remapper's Ctrl (Caps Lock made Ctrl) and a real Backspace are the hotkey.
    type(u"ka");
    EXPECT_FALSE(key(vk::LControl, msg::KeyDown, LowLevelKeyInjected));
    hold({vk::LControl});
    EXPECT_TRUE(key(vk::Back));
    expectOneExecuteRequest();
    sys().posted.clear();

    sys().addEditor(u"C:\\Tools\\editor.exe");
    app_->hook.fromPid = pidOf(edit_); // the foreground has moved on since
    for (const std::uint32_t k :
         {std::uint32_t{'A'}, std::uint32_t{vk::Back}, std::uint32_t{vk::Return},
          std::uint32_t{vk::LControl}, std::uint32_t{vk::LShift}, std::uint32_t{vk::RMenu},
          std::uint32_t{vk::LWin}}) {
        // Remappers inject the modifiers they make: those neither record nor clear.
        const bool modifier =
            k == vk::LControl || k == vk::LShift || k == vk::RMenu || k == vk::LWin;
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " vk=" + std::to_string(k));
            app_->buffer.clear();
            type(u"ka");
            hold({vk::LControl});
            mark();
            EXPECT_FALSE(key(k, c.message, c.flags, c.extraInfo, c.code));
            const bool clears = c.clears && !modifier;
            EXPECT_EQ(narrow(app_->buffer.text()), clears ? "" : "ka");
            EXPECT_EQ(app_->hook.fromPid, pidOf(edit_));
            const Lines cleared{clearRequest("injected vk=" + hex2(k)), ClearLine};
            EXPECT_EQ(newLines(), clears ? cleared : Lines{});
            EXPECT_TRUE(sys().posted.empty());
        }
    }
}

TEST_F(KeyboardHookTest, SystemKeyPressesAreLookedAt) {
    type(u"ka");
    hold({vk::LMenu});
    EXPECT_FALSE(key('F', msg::SysKeyDown));
    EXPECT_TRUE(app_->buffer.text().empty());

    // Alt+Shift switches the layout: that Alt was not alone, no menu opens.
    type(u"ka");
    hold({});
    EXPECT_FALSE(key(vk::LMenu, msg::SysKeyDown));
    hold({vk::LMenu});
    EXPECT_FALSE(key(vk::LShift, msg::SysKeyDown));
    EXPECT_FALSE(key(vk::LShift, msg::SysKeyUp, 0x80));
    EXPECT_FALSE(key(vk::LMenu, msg::KeyUp, 0x80));
    EXPECT_EQ(narrow(app_->buffer.text()), "ka");
}

// SendInput's events come back through the hook flagged as injected, as on
// Windows: the program's own re-typing is never recorded again.
TEST_F(KeyboardHookTest, TheProgramsOwnInputComingBackThroughTheHookIsNotRecorded) {
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
    EXPECT_EQ(platform::sendInput(records, 4), 4u);
    EXPECT_EQ(narrow(app_->buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());
    EXPECT_EQ(platform::sendInput(records + 4, 2), 2u);
    EXPECT_EQ(narrow(app_->buffer.text()), ""); // the other program's Z ended the segment
    EXPECT_EQ(newLines(), (Lines{clearRequest("injected vk=0x5A"), ClearLine}));
    EXPECT_EQ(narrow(field()), "kz"); // the editor did get the keys
}

// The excluded-application question costs a process query: it is asked once
// per foreground process. The IME question is asked once per press.
// The hook answers from what the watcher read, on every key: it sends no
// message, queries no process and touches no file, so a busy application
// (its IME window answers only after 45 ms) costs the desktop's keys nothing.
TEST_F(KeyboardHookTest, TheHookAsksNoProgramAndWaitsForNone) {
    sys().contextsAcrossProcesses = false; // as Windows: another process's contexts read null
    editorThreadWindows([](fake::Window& w) { w.imeAnswerDelayMs = 45; });
    const std::u16string sentence = u"watashi ha nihongo wo hanashimasu";
    // The hint's window hears of the record once, until it has looked.
    app_->hook.hintWindow = 0x4242;
    sys().posted.clear();
    const auto hintNotes = [this] {
        return std::ranges::count_if(
            sys().posted, [](const fake::Message& m) { return m.message == HintNoteMessage; });
    };
    userTypes(sentence);
    EXPECT_EQ(hintNotes(), 1);
    app_->hook.hintNoted = false;
    userTypes(u" ");
    EXPECT_EQ(hintNotes(), 2);
    hold({vk::LControl});
    EXPECT_TRUE(key(vk::Back));
    hold({vk::LMenu});
    EXPECT_FALSE(key(vk::Tab));
    EXPECT_EQ(sys().hookCalls.count("SendMessageTimeout"), 0u);
    EXPECT_EQ(sys().hookCalls.count("OpenProcess"), 0u);
    EXPECT_EQ(sys().hookCalls.count("QueryFullProcessImageName"), 0u);
    EXPECT_EQ(sys().hookCalls.count("file"), 0u);
    EXPECT_EQ(sys().waitedInHookMs, 0u);
    EXPECT_GT(sys().watcherSent, 0); // the watcher asked in its stead
}

TEST_F(KeyboardHookTest, AFailureInsideTheDecisionsPassesTheKeyOn) {
    // A foreground window whose thread the fake system does not know makes the
    // seam throw, as a stand-in for anything going wrong inside the hook.
    sys().foreground = sys().addWindow(9999, u"Broken");
    type(u"ka");
    EXPECT_FALSE(key('K'));
    EXPECT_EQ(narrow(app_->buffer.text()), "ka");
}

// On US-International the quote key is a dead key, and the one the user
// pressed for the application must still be waiting after the hook's look.
TEST_F(KeyboardHookTest, DeadKeysAndControlCharactersAreRejected) {
    sys().deadKeys = {0xDE};
    sys().pendingDeadKey = u'\u00B4';
    mark();
    EXPECT_FALSE(appendFromUnicode(app_->buffer, KeyEvent{0xDE, 0x28, 0, 0}));
    EXPECT_FALSE(appendFromUnicode(app_->buffer, KeyEvent{vk::Escape, 0x01, 0, 0})); // gives 0x1B
    EXPECT_FALSE(appendFromVirtualKey(app_->buffer, KeyEvent{0xBA, 0x27, 0, 0}));
    EXPECT_TRUE(app_->buffer.text().empty());
    EXPECT_TRUE(newLines().empty());
    EXPECT_EQ(sys().pendingDeadKey, u'\u00B4');
}

TEST_F(KeyboardHookTest, CtrlAndAltNeverReachTheLayoutTranslation) {
    // classifyKey never gets here with Ctrl down, but the translation itself
    // must not produce Ctrl+letter control characters.
    hold({vk::LControl, vk::RMenu, vk::LShift});
    EXPECT_TRUE(appendFromUnicode(app_->buffer, KeyEvent{'Q', 0x10, 0, 0}));
    EXPECT_EQ(narrow(app_->buffer.text()), "Q");
}

TEST_F(KeyboardHookTest, TheForegroundThreadsLayoutTranslatesInOneCallThatKeepsTheState) {
    constexpr platform::KeyboardLayout Japanese = 0x04110411;
    sys().threads.at(sys().window(edit_).threadId).layout = Japanese;
    const int before = sys().toUnicodeCalls;
    EXPECT_FALSE(key(vk::Delete));
    EXPECT_EQ(sys().toUnicodeCalls - before, 1);
    EXPECT_EQ(sys().toUnicodeFlags, 0x4u);
    EXPECT_EQ(sys().toUnicodeLayout, Japanese);

    // No foreground window: the layout of the hook's own thread.
    sys().foreground = 0;
    EXPECT_FALSE(key(0xBD));
    EXPECT_EQ(sys().toUnicodeLayout, fake::UsLayout);
    EXPECT_EQ(narrow(app_->buffer.text()), "-");
}

// The hooks' thread, the watcher and a run's thread at once, as in the
// program: the record and the settings pass between them under the lock,
// the facts through the board. What each thread sees stays whole; the
// ThreadSanitizer stage of scripts/test proves the sharing free of races.
TEST_F(KeyboardHookTest, TheHooksTheWatcherAndARunShareTheRecordWithoutRaces) {
    diagnosticLog().stop();
    watcherCaughtUp_ = false;
    watcherReads();
    app_->hook.hintWindow = 0x4242;
    const Settings settings = app_->settings; // the watcher's copy
    std::atomic<bool> done{false};
    std::atomic<int> readings{0};
    std::thread watcher([&] {
        const fake::OnWatcherThread onWatcher;
        while (!done) {
            watchDesktop(app_->board, settings, 0, false);
            EXPECT_FALSE(keyboardHookMissing(app_->hook, sys().tick));
            ++readings;
        }
    });
    std::atomic<int> snapshots{0};
    std::thread run([&] {
        while (!done) {
            const std::lock_guard record(app_->hook.recordLock);
            const std::u16string snapshot = app_->buffer.text();
            EXPECT_EQ(snapshot.find_first_not_of(u'k'), std::u16string::npos);
            app_->hook.hintNoted = false; // the hint's look
            if (++snapshots % 3 == 0) {
                app_->buffer.clear(); // a run's success
            }
            app_->settings.clearOnSpace = !app_->settings.clearOnSpace; // a saved window
        }
    });
    // Keys until the other two have had their turns a few times, however
    // the system schedules them.
    int keys = 0;
    while (keys < 20000 || ((snapshots < 3 || readings < 3) && keys < 20000000)) {
        const fake::InsideHook inside;
        processKeyEvent(app_->hook, HookActionCode, msg::KeyDown, KeyEvent{'K', 0x25, 0, 0});
        processKeyEvent(app_->hook, HookActionCode, msg::KeyUp, KeyEvent{'K', 0x25, 0x80, 0});
        ++keys;
    }
    done = true;
    watcher.join();
    run.join();
    EXPECT_GE(snapshots, 3);
    EXPECT_LE(app_->buffer.text().size(), 200u);
    EXPECT_EQ(app_->hook.keyboardCalls.load(), 2u * static_cast<unsigned>(keys));
}

} // namespace
} // namespace tavelio::testing
