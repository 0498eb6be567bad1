#include "capture/clear_triggers.h"
#include "platform/constants.h"
#include "tests/support/fake_test.h"

#include <memory>

namespace tavelio::testing {
namespace {

constexpr platform::WindowHandle HiddenWindow = 0x7F00;
const std::string ClearLine = "[IN] BUFFER action=clear len=0 truncated=0 canExecute=0 "
                              "last=cleared text=\"\"";

class ClearTriggersTest : public FakeSystemTest {
protected:
    void SetUp() override {
        FakeSystemTest::SetUp();
        startLogging();
        context = std::make_unique<HookContext>(HiddenWindow, settings, buffer);
    }
    void TearDown() override {
        context.reset();
        FakeSystemTest::TearDown();
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
    std::size_t seen = 0;
};

TEST_F(ClearTriggersTest, MouseButtonPressesClearAndEverythingElseIsLeftAlone) {
    const struct {
        const char* name;
        int code;
        std::uint32_t message;
        MouseEvent event;
        bool clearOnMouseClick;
        bool enabled;
        const char* detail; // empty: nothing happens
    } cases[] = {
        {"left press",
         0,
         msg::LButtonDown,
         {-1200, 340, 0, 0},
         true,
         true,
         "message=0x201 x=-1200 y=340 bufLen=5"},
        {"right press",
         0,
         msg::RButtonDown,
         {0, 0, 0, 0},
         true,
         true,
         "message=0x204 x=0 y=0 bufLen=5"},
        {"middle press",
         0,
         msg::MButtonDown,
         {7, -3, 0, 0},
         true,
         true,
         "message=0x207 x=7 y=-3 bufLen=5"},
        {"x-button press",
         0,
         msg::XButtonDown,
         {2147483647, -2147483647 - 1, 0, 0},
         true,
         true,
         "message=0x20b x=2147483647 y=-2147483648 bufLen=5"},
        {"press while paused",
         0,
         msg::LButtonDown,
         {1, 2, 0, 0},
         true,
         false,
         "message=0x201 x=1 y=2 bufLen=5"},
        {"right release", 0, msg::RButtonUp, {1, 2, 0, 0}, true, true, ""},
        {"left release", 0, msg::LButtonUp, {1, 2, 0, 0}, true, true, ""},
        {"move", 0, msg::MouseMove, {1, 2, 0, 0}, true, true, ""},
        {"wheel", 0, msg::MouseWheel, {1, 2, 0, 0}, true, true, ""},
        {"injected press", 0, msg::LButtonDown, {1, 2, LowLevelMouseInjected, 0}, true, true, ""},
        {"marked press", 0, msg::LButtonDown, {1, 2, 0, InjectedInputMarker}, true, true, ""},
        {"clearOnMouseClick off", 0, msg::LButtonDown, {1, 2, 0, 0}, false, true, ""},
        {"not HC_ACTION", 3, msg::LButtonDown, {1, 2, 0, 0}, true, true, ""},
    };
    for (const auto& c : cases) {
        buffer.clear();
        type(u"hello");
        settings.clearOnMouseClick = c.clearOnMouseClick;
        settings.enabled = c.enabled;
        mark();
        processMouseEvent(*context, c.code, c.message, c.event);
        const std::string detail = c.detail;
        if (detail.empty()) {
            EXPECT_EQ(narrow(buffer.text()), "hello") << c.name;
            EXPECT_TRUE(newLines().empty()) << c.name;
        } else {
            EXPECT_EQ(narrow(buffer.text()), "") << c.name;
            EXPECT_EQ(newLines(),
                      (std::vector<std::string>{"[IN] CLEAR_REQUEST reason=mouse_click " + detail,
                                                ClearLine}))
                << c.name;
        }
    }
}

TEST_F(ClearTriggersTest, AClickInAnExcludedApplicationStillClears) {
    sys().addEditor(u"C:\\Windows\\System32\\cmd.exe");
    ASSERT_FALSE(allowedApp(settings));
    type(u"ab");
    processMouseEvent(*context, 0, msg::LButtonDown, MouseEvent{5, 5, 0, 0});
    EXPECT_TRUE(buffer.text().empty());
}

TEST_F(ClearTriggersTest, AChangeOfForegroundProcessClearsButTheFirstPressOnlyRecords) {
    const auto first = sys().addEditor();
    const auto firstPid = pidOf(first);
    type(u"ka");
    mark();

    EXPECT_EQ(checkForegroundProcess(*context), firstPid);
    EXPECT_EQ(context->fromPid, firstPid);
    EXPECT_EQ(narrow(buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());

    // Another window of the same process does not count as a change.
    const auto tid = sys().window(first).threadId;
    const auto dialog = sys().addWindow(tid, u"#32770", u"Find");
    sys().activate(dialog);
    EXPECT_EQ(checkForegroundProcess(*context), firstPid);
    EXPECT_EQ(narrow(buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());

    const auto second = sys().addEditor(u"C:\\Program Files\\Editor\\editor.exe");
    const auto secondPid = pidOf(second);
    EXPECT_EQ(checkForegroundProcess(*context), secondPid);
    EXPECT_EQ(context->fromPid, secondPid);
    EXPECT_TRUE(buffer.text().empty());
    EXPECT_EQ(newLines(), (std::vector<std::string>{"[IN] CLEAR_REQUEST reason=foreground_process "
                                                    "fromPid=" +
                                                        std::to_string(firstPid) +
                                                        " toPid=" + std::to_string(secondPid),
                                                    ClearLine}));
}

TEST_F(ClearTriggersTest, AnUnidentifiedForegroundChangesNothing) {
    context->fromPid = 4242;
    type(u"ka");
    mark();
    sys().foreground = 0;
    EXPECT_EQ(checkForegroundProcess(*context), 0u);
    sys().foreground = 0xDEAD0; // a window the system no longer knows: process id 0
    EXPECT_EQ(checkForegroundProcess(*context), 0u);
    EXPECT_EQ(context->fromPid, 4242u);
    EXPECT_EQ(narrow(buffer.text()), "ka");
    EXPECT_TRUE(newLines().empty());
}

TEST_F(ClearTriggersTest, TheAppFilterComparesWholeFileNamesWithoutRegardToCase) {
    const struct {
        const char* name;
        std::u16string image;
        std::u16string appMode;
        std::vector<std::u16string> excluded;
        bool canOpen;
        bool canQuery;
        bool allowed;
    } cases[] = {
        {"default list, cmd", u"C:\\Windows\\System32\\cmd.exe", u"all", Settings{}.excludedApps,
         true, true, false},
        {"default list, terminal in other case", u"C:\\Apps\\windowsterminal.EXE", u"all",
         Settings{}.excludedApps, true, true, false},
        {"default list, notepad", u"C:\\Windows\\notepad.exe", u"all", Settings{}.excludedApps,
         true, true, true},
        {"entry in capitals",
         u"C:\\Windows\\System32\\cmd.exe",
         u"all",
         {u"CMD.EXE"},
         true,
         true,
         false},
        {"entry without extension",
         u"C:\\Windows\\System32\\cmd.exe",
         u"all",
         {u"cmd"},
         true,
         true,
         true},
        {"entry with a path",
         u"C:\\Windows\\System32\\cmd.exe",
         u"all",
         {u"C:\\Windows\\System32\\cmd.exe"},
         true,
         true,
         true},
        {"entry longer than the name", u"C:\\x\\cmd.exe", u"all", {u"xcmd.exe"}, true, true, true},
        {"forward slashes", u"C:/Tools/KeePass.exe", u"all", {u"keepass.exe"}, true, true, false},
        {"later entry matches",
         u"C:\\Tools\\b.exe",
         u"all",
         {u"a.exe", u"B.exe"},
         true,
         true,
         false},
        {"empty list", u"C:\\Windows\\System32\\cmd.exe", u"all", {}, true, true, true},
        {"mode All", u"C:\\Windows\\System32\\cmd.exe", u"All", Settings{}.excludedApps, true, true,
         true},
        {"mode with a blank", u"C:\\Windows\\System32\\cmd.exe", u"all ", Settings{}.excludedApps,
         true, true, true},
        {"mode none", u"C:\\Windows\\System32\\cmd.exe", u"none", Settings{}.excludedApps, true,
         true, true},
        {"process cannot be opened", u"C:\\Windows\\System32\\cmd.exe", u"all",
         Settings{}.excludedApps, false, true, true},
        {"image name cannot be read", u"C:\\Windows\\System32\\cmd.exe", u"all",
         Settings{}.excludedApps, true, false, true},
        {"image path ends in a separator", u"C:\\Windows\\", u"all", {u""}, true, true, true},
        // Only A-Z are lowered, as the C runtime does in the "C" locale.
        {"non-ASCII letters keep their case",
         u"C:\\x\\\u00C9dit.exe",
         u"all",
         {u"\u00E9dit.exe"},
         true,
         true,
         true},
        {"non-ASCII letters, same case",
         u"C:\\x\\\u00C9DIT.exe",
         u"all",
         {u"\u00C9dit.EXE"},
         true,
         true,
         false},
    };
    for (const auto& c : cases) {
        const auto edit = sys().addEditor(c.image);
        const auto pid = pidOf(edit);
        sys().processes.at(pid).canOpen = c.canOpen;
        sys().processes.at(pid).canQueryImage = c.canQuery;
        Settings s;
        s.appMode = c.appMode;
        s.excludedApps = c.excluded;
        EXPECT_EQ(allowedApp(s), c.allowed) << c.name;
        EXPECT_EQ(allowedProcess(s, pid), c.allowed) << c.name;
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

} // namespace
} // namespace tavelio::testing
