#include "capture/clear_triggers.h"
#include "tests/support/hooked_desktop.h"

#include <cstdio>

namespace tavelio::testing {
namespace {

class ClearTriggersTest : public HookedDesktopTest {
protected:
    static std::string hexOf(platform::WindowHandle window) {
        char text[24];
        std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(window));
        return text;
    }
};

TEST_F(ClearTriggersTest, MouseButtonPressesClearAndEverythingElseIsLeftAlone) {
    const MouseEvent at12{1, 2}, extremes{2147483647, -2147483647 - 1};
    const struct {
        const char* name;
        std::uint32_t message;
        MouseEvent event;
        const char* clear; // empty: nothing happens
        bool clearOnMouseClick = true;
        bool enabled = true;
        int code = HookActionCode;
    } cases[] = {
        {"left press",
         msg::LButtonDown,
         {-1200, 340},
         "mouse_click message=0x201 x=-1200 y=340 bufLen=5"},
        {"right press", msg::RButtonDown, {0, 0}, "mouse_click message=0x204 x=0 y=0 bufLen=5"},
        {"middle press", msg::MButtonDown, {7, -3}, "mouse_click message=0x207 x=7 y=-3 bufLen=5"},
        {"x-button press", msg::XButtonDown, extremes,
         "mouse_click message=0x20b x=2147483647 y=-2147483648 bufLen=5"},
        {"press while paused", msg::LButtonDown, at12, "mouse_click message=0x201 x=1 y=2 bufLen=5",
         true, false},
        {"right release", msg::RButtonUp, at12, ""},
        {"left release", msg::LButtonUp, at12, ""},
        {"move", msg::MouseMove, at12, ""},
        {"wheel", msg::MouseWheel, at12, ""},
        // Another program's click may move the caret all the same.
        {"injected press",
         msg::LButtonDown,
         {1, 2, LowLevelMouseInjected, 0},
         "injected message=0x201 x=1 y=2 bufLen=5"},
        {"injected press, clearOnMouseClick off",
         msg::LButtonDown,
         {1, 2, LowLevelMouseInjected, 0},
         "",
         false},
        {"marked press", msg::LButtonDown, {1, 2, 0, InjectedInputMarker}, ""},
        {"clearOnMouseClick off", msg::LButtonDown, at12, "", false},
        {"not HC_ACTION", msg::LButtonDown, at12, "", true, true, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        app_->buffer.clear();
        type(u"hello");
        app_->settings.clearOnMouseClick = c.clearOnMouseClick;
        app_->settings.enabled = c.enabled;
        mark();
        processMouseEvent(app_->hook, c.code, c.message, c.event);
        const std::string clear = c.clear;
        if (clear.empty()) {
            EXPECT_EQ(narrow(app_->buffer.text()), "hello");
            EXPECT_TRUE(newLines().empty());
        } else {
            EXPECT_EQ(narrow(app_->buffer.text()), "");
            EXPECT_EQ(newLines(), (Lines{"[IN] CLEAR_REQUEST reason=" + clear, ClearLine}));
        }
    }
}

TEST_F(ClearTriggersTest, AClickInAnExcludedApplicationStillClears) {
    sys().addEditor(u"C:\\Windows\\System32\\cmd.exe");
    ASSERT_FALSE(allowedApp(app_->settings));
    type(u"ab");
    processMouseEvent(app_->hook, 0, msg::LButtonDown, MouseEvent{5, 5, 0, 0});
    EXPECT_TRUE(app_->buffer.text().empty());
}

TEST_F(ClearTriggersTest, AChangeOfForegroundWindowClearsButTheFirstPressOnlyRecords) {
    const auto first = sys().addEditor();
    const auto firstPid = pidOf(first);
    type(u"ka");
    mark();

    EXPECT_EQ(checkForegroundProcess(app_->hook), firstPid);
    EXPECT_EQ(app_->hook.fromPid, firstPid);
    EXPECT_EQ(narrow(app_->buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());

    // Another window of the same process holds other text: a change too.
    const auto tid = sys().window(first).threadId;
    const auto dialog = sys().addWindow(tid, u"#32770", u"Find");
    sys().activate(dialog);
    EXPECT_EQ(checkForegroundProcess(app_->hook), firstPid);
    EXPECT_TRUE(app_->buffer.text().empty());
    EXPECT_EQ(newLines(),
              (Lines{"[IN] CLEAR_REQUEST reason=foreground_window fromHwnd=0x" +
                         hexOf(sys().window(first).parent) + " toHwnd=0x" + hexOf(dialog),
                     ClearLine}));
    type(u"ka");
    mark();

    const auto second = sys().addEditor(u"C:\\Program Files\\Editor\\editor.exe");
    const auto secondPid = pidOf(second);
    EXPECT_EQ(checkForegroundProcess(app_->hook), secondPid);
    EXPECT_EQ(app_->hook.fromPid, secondPid);
    EXPECT_TRUE(app_->buffer.text().empty());
    const auto pids = "fromPid=" + std::to_string(firstPid) + " toPid=" + std::to_string(secondPid);
    EXPECT_EQ(newLines(),
              (Lines{"[IN] CLEAR_REQUEST reason=foreground_process " + pids, ClearLine}));
}

TEST_F(ClearTriggersTest, AnUnidentifiedForegroundChangesNothing) {
    app_->hook.fromPid = 4242;
    type(u"ka");
    mark();
    sys().foreground = 0;
    EXPECT_EQ(checkForegroundProcess(app_->hook), 0u);
    sys().foreground = 0xDEAD0; // a window the system no longer knows: process id 0
    EXPECT_EQ(checkForegroundProcess(app_->hook), 0u);
    EXPECT_EQ(app_->hook.fromPid, 4242u);
    EXPECT_EQ(narrow(app_->buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());
}

TEST_F(ClearTriggersTest, TheAppFilterComparesWholeFileNamesWithoutRegardToCase) {
    const std::u16string cmd = u"C:\\Windows\\System32\\cmd.exe";
    const std::vector<std::u16string> defaults = Settings{}.excludedApps;
    const struct {
        const char* name;
        std::u16string image;
        std::vector<std::u16string> excluded;
        bool allowed;
        std::u16string appMode = u"all";
        bool canOpen = true;
        bool canQuery = true;
    } cases[] = {
        {"default list, cmd", cmd, defaults, false},
        {"default list, terminal in other case", u"C:\\Apps\\windowsterminal.EXE", defaults, false},
        {"default list, notepad", u"C:\\Windows\\notepad.exe", defaults, true},
        {"entry in capitals", cmd, {u"CMD.EXE"}, false},
        {"entry without extension", cmd, {u"cmd"}, true},
        {"entry with a path", cmd, {cmd}, true},
        {"entry longer than the name", u"C:\\x\\cmd.exe", {u"xcmd.exe"}, true},
        {"forward slashes", u"C:/Tools/KeePass.exe", {u"keepass.exe"}, false},
        {"later entry matches", u"C:\\Tools\\b.exe", {u"a.exe", u"B.exe"}, false},
        {"empty list", cmd, {}, true},
        {"mode All", cmd, defaults, true, u"All"},
        {"mode with a blank", cmd, defaults, true, u"all "},
        {"mode none", cmd, defaults, true, u"none"},
        {"process cannot be opened", cmd, defaults, true, u"all", false},
        {"image name cannot be read", cmd, defaults, true, u"all", true, false},
        {"image path ends in a separator", u"C:\\Windows\\", {u""}, true},
        // Only A-Z are lowered, as the C runtime does in the "C" locale.
        {"non-ASCII letters keep their case", u"C:\\x\\\u00C9dit.exe", {u"\u00E9dit.exe"}, true},
        {"non-ASCII letters, same case", u"C:\\x\\\u00C9DIT.exe", {u"\u00C9dit.EXE"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pid = pidOf(sys().addEditor(c.image));
        sys().processes.at(pid).canOpen = c.canOpen;
        sys().processes.at(pid).canQueryImage = c.canQuery;
        Settings s;
        s.appMode = c.appMode;
        s.excludedApps = c.excluded;
        EXPECT_EQ(allowedApp(s), c.allowed);
        EXPECT_EQ(allowedProcess(s, pid), c.allowed);
    }
}

TEST_F(ClearTriggersTest, AnUnknownForegroundIsAllowed) {
    Settings s;
    s.excludedApps = {u"cmd.exe"};
    sys().foreground = 0;
    EXPECT_TRUE(allowedApp(s));
    EXPECT_TRUE(allowedProcess(s, 0));
    EXPECT_EQ(sys().processHandlesOpened, 0);
}

// What the watcher reads of the focus, which the hooks then go by.
TEST_F(ClearTriggersTest, TheWatcherReadsWhoHasTheKeysAndWhetherTheyAreSecret) {
    const struct {
        const char* name;
        std::u16string exe;
        std::u16string focusClass;
        std::uint32_t style;
        bool storeApp; // the focus sits in a Store app's frame
        bool password, allowed;
        std::u16string readExe; // the program whose name excludedApps is matched against
        bool readable;          // a run can read the focus: the hook may take the press for it
    } cases[] = {
        {"an Edit", u"C:\\Tools\\editor.exe", u"Edit", 0x0004, false, false, true, u"editor.exe",
         true},
        {"an Edit with ES_PASSWORD", u"C:\\Tools\\editor.exe", u"Edit", 0x0020, false, true, true,
         u"editor.exe", false},
        {"a RichEdit with ES_PASSWORD", u"C:\\Tools\\editor.exe", u"RICHEDIT50W", 0x0020, false,
         true, true, u"editor.exe", false},
        // 0x20 is BS_LEFTTEXT on a button: no password there.
        {"a button with the same bit", u"C:\\Tools\\editor.exe", u"Button", 0x0020, false, false,
         true, u"editor.exe", false},
        {"an excluded program", u"C:\\Windows\\System32\\cmd.exe", u"Edit", 0, false, false, false,
         u"cmd.exe", false},
        // The frame's GetGUIThreadInfo has no focus: the app's own window, and
        // its own process, take the keys.
        {"a Store app", u"C:\\Program Files\\WindowsApps\\Mail\\mail.exe", u"Edit", 0, true, false,
         true, u"mail.exe", true},
        {"a browser's page that tells UI Automation its text", u"C:\\Apps\\browser.exe",
         u"Chrome_RenderWidgetHostHWND", 0, false, false, true, u"browser.exe", true},
        {"a console, whatever it tells UI Automation", u"C:\\Windows\\System32\\conhost.exe",
         u"ConsoleWindowClass", 0, false, false, true, u"conhost.exe", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        buildDesktop(false);
        const auto process = sys().addProcess(c.exe);
        const auto thread = sys().addThread(process);
        platform::WindowHandle top = 0;
        platform::WindowHandle focus = 0;
        if (c.storeApp) {
            const auto frameThread = sys().addThread(
                sys().addProcess(u"C:\\Windows\\System32\\ApplicationFrameHost.exe"));
            top = sys().addWindow(frameThread, u"ApplicationFrameWindow");
            focus = sys().addWindow(thread, u"Windows.UI.Core.CoreWindow", u"", top);
            sys().activate(top, 0);
            sys().threads.at(thread).focus = focus;
        } else {
            top = sys().addWindow(thread, u"Frame");
            focus = sys().addWindow(thread, c.focusClass, u"", top);
            sys().activate(top, focus);
        }
        sys().window(focus).style = c.style;
        // Every one answers, as far as its kind is asked: a button is asked
        // by UI Automation alone, and has no text there.
        sys().window(focus).answersEdit = true;
        sys().window(focus).answersAutomation = c.focusClass != u"Button";
        const DesktopFacts facts = readDesktopFacts(app_->settings, sys().ownProcessId, false);
        EXPECT_EQ(facts.foreground, top);
        EXPECT_EQ(facts.focus, focus);
        EXPECT_EQ(facts.processId, process);
        EXPECT_EQ(facts.exe(), c.readExe);
        EXPECT_EQ(facts.password, c.password);
        EXPECT_EQ(facts.allowed, c.allowed);
        EXPECT_EQ(facts.readableField, c.readable);
    }
}

} // namespace
} // namespace tavelio::testing
