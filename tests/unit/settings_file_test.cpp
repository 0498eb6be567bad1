#include "app/settings_apply.h"
#include "app/settings_form.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/support/default_settings_file.h"
#include "tests/support/fake_test.h"

#include <filesystem>

namespace tavelio::testing {
namespace {

using testdata::DefaultFileBytes;

const std::u16string SettingsPath = u"C:\\Users\\tester\\AppData\\Roaming\\Tavelio\\settings.json";

using SettingsFileTest = FakeSystemTest;

TEST_F(SettingsFileTest, FirstLoadCreatesTheFolderAndTheDefaultFileAndReadsItBack) {
    ASSERT_FALSE(std::filesystem::exists(sys().hostPath(u"C:\\Users")));
    EXPECT_EQ(loadSettings(), Settings{});
    const std::string bytes = fileBytes(SettingsPath);
    EXPECT_EQ(bytes, DefaultFileBytes);
    std::size_t lines = 0;
    for (std::size_t at = bytes.find("\r\n"); at != std::string::npos;
         at = bytes.find("\r\n", at + 2)) {
        ++lines;
    }
    EXPECT_EQ(lines, 26u);
    EXPECT_EQ(bytes.find('\n'), bytes.find("\r\n") + 1); // no bare LF before the first CR LF
    EXPECT_EQ(bytes.substr(bytes.size() - 3), "}\r\n");
}

TEST_F(SettingsFileTest, ExistingFileIsNeverRewritten) {
    // LF endings, a missing key and an unknown one: all kept as the user saved them.
    const std::string edited = "{\n  \"enabled\": false,\n  \"colour\": \"red\"\n}";
    putFile(SettingsPath, edited);
    for (int load = 0; load < 2; ++load) {
        EXPECT_FALSE(loadSettings().enabled);
        EXPECT_EQ(fileBytes(SettingsPath), edited);
    }
}

TEST_F(SettingsFileTest, SecondStartFindsTheCreatedFileAndKeepsTheUsersEdit) {
    loadSettings();
    std::string bytes = fileBytes(SettingsPath);
    bytes.replace(bytes.find("\"logging\": false"), 16, "\"logging\": true");
    putFile(SettingsPath, bytes);
    EXPECT_TRUE(loadSettings().logging);
    EXPECT_EQ(fileBytes(SettingsPath), bytes);
}

TEST_F(SettingsFileTest, UnreadablePathsGiveTheDefaultsAndAreLeftAlone) {
    // A folder where the file should be.
    std::filesystem::create_directories(sys().hostPath(SettingsPath));
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_TRUE(std::filesystem::is_directory(sys().hostPath(SettingsPath)));
    EXPECT_TRUE(std::filesystem::is_empty(sys().hostPath(SettingsPath)));
    std::filesystem::remove(sys().hostPath(SettingsPath));

    // A file that refuses to open (locked by another program).
    const std::string locked = "{\"enabled\": false}";
    putFile(SettingsPath, locked);
    sys().lockedPaths.push_back(SettingsPath);
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_EQ(fileBytes(SettingsPath), locked);
}

TEST_F(SettingsFileTest, PathWhoseExistenceIsUnknownIsNotWritten) {
    sys().unknownPaths.push_back(SettingsPath);
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_FALSE(std::filesystem::exists(sys().hostPath(SettingsPath).parent_path()));
}

TEST_F(SettingsFileTest, FolderThatCannotBeCreatedGivesTheDefaults) {
    sys().roaming = u"C:\\blocker";
    putFile(u"C:\\blocker", "a file, not a folder");
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_EQ(fileBytes(u"C:\\blocker"), "a file, not a folder");
}

TEST_F(SettingsFileTest, WithoutARoamingFolderTheFileLivesInTheCurrentDirectory) {
    sys().roamingFails = true;
    EXPECT_EQ(settingsFilePath(), u"settings.json");
    std::filesystem::create_directories(root_ / "cwd");
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_EQ(fileBytes(u"settings.json"), DefaultFileBytes);
    putFile(u"settings.json", "{\"bufferMaxLength\": 321}");
    EXPECT_EQ(loadSettings().bufferMaxLength, 321);
}

TEST_F(SettingsFileTest, PathJoinsTavelioAndTheFileNameOntoTheRoamingFolder) {
    const std::u16string file = u"Tavelio\\settings.json";
    expectEach<std::u16string, std::u16string>(
        {{u"C:\\Data\\Roaming", u"C:\\Data\\Roaming\\" + file},
         {u"C:\\Data\\Roaming\\", u"C:\\Data\\Roaming\\" + file},
         {u"D:\\", u"D:\\" + file},
         {u"C:\\Users\\\u5c71\u7530", u"C:\\Users\\\u5c71\u7530\\" + file}},
        [this](const std::u16string& roaming) {
            sys().roaming = roaming;
            return settingsFilePath();
        });
}

TEST_F(SettingsFileTest, EscapeDoublesOnlyBackslashesAndQuotes) {
    expectEach<std::u16string, std::u16string>(
        {{u"\\x\"", u"\\\\x\\\""},
         {u"", u""},
         {u"\"\"", u"\\\"\\\""},
         {u"a\nb\tc\u0001\u00e9\u3042/", u"a\nb\tc\u0001\u00e9\u3042/"}},
        escapeJsonString);
}

TEST_F(SettingsFileTest, JsonTextOfAnEditedRecord) {
    Settings s;
    s.enabled = false;
    s.hotkey = u"C:\\\"x\"";
    s.alternateHotkeys.clear();
    s.bufferMaxLength = -5;
    s.reinputDelayMs = INT32_MIN;
    s.excludedApps = {u"a.exe", u""};
    s.logging = true;
    s.romajiOnly = false; // later keys: written because they are not their defaults
    s.romajiHint = false;
    EXPECT_EQ(settingsToJson(s), u"{\n"
                                 u"  \"enabled\": false,\n"
                                 u"  \"startWithWindows\": false,\n"
                                 u"  \"hotkey\": \"C:\\\\\\\"x\\\"\",\n"
                                 u"  \"alternateHotkeys\": [\n"
                                 u"  ],\n"
                                 u"  \"bufferMaxLength\": -5,\n"
                                 u"  \"clearOnSpace\": false,\n"
                                 u"  \"clearOnEnter\": true,\n"
                                 u"  \"clearOnMouseClick\": true,\n"
                                 u"  \"imeMode\": \"auto\",\n"
                                 u"  \"reinputDelayMs\": -2147483648,\n"
                                 u"  \"inputMethod\": \"sendinput\",\n"
                                 u"  \"appMode\": \"all\",\n"
                                 u"  \"excludedApps\": [\n"
                                 u"    \"a.exe\",\n"
                                 u"    \"\"\n"
                                 u"  ],\n"
                                 u"  \"logging\": true,\n"
                                 u"  \"romajiOnly\": false,\n"
                                 u"  \"romajiHint\": false\n"
                                 u"}\n");
}

// UTF-8, as the reader reads a file that is valid UTF-8: a name such as
// "\u00c3\u00a9" must not come back as "\u00e9".
TEST_F(SettingsFileTest, EncodingIsUtf8WithCrLf) {
    EXPECT_EQ(encodeSettingsText(u"a\nb\r\u00c3\u00a9\u0100\u3042\n"),
              std::string("a\r\nb\r\xc3\x83\xc2\xa9\xc4\x80\xe3\x81\x82\r\n"));
}

TEST_F(SettingsFileTest, WrittenRecordReadsBackUnchanged) {
    Settings s;
    s.enabled = false;
    s.startWithWindows = true;
    s.hotkey = u"Ctrl+Shift+Backspace";
    s.alternateHotkeys = {u"", u"Ctrl+Backspace", u"Ctrl+Backspace"};
    s.bufferMaxLength = 500;
    s.clearOnSpace = true;
    s.clearOnEnter = false;
    s.clearOnMouseClick = false;
    s.imeMode = u"";
    s.reinputDelayMs = 1000;
    s.inputMethod = u"caf\u00e9";
    s.appMode = u"All";
    s.excludedApps = {u"x.exe", u"\u00c3\u00a9.exe"};
    s.logging = true;
    s.romajiOnly = false;
    s.romajiHint = false;
    EXPECT_EQ(settingsFromText(decodeSettingsText(encodeSettingsText(settingsToJson(s)))), s);
}

// Saving from the settings window: the old file stays whole whatever refuses.
TEST_F(SettingsFileTest, SavingReplacesTheFileWholeOrLeavesItAsItWas) {
    Settings edited;
    edited.logging = true;
    edited.romajiOnly = false;
    const std::string old = "{\"enabled\": false}";
    const std::string next = encodeSettingsText(settingsToJson(edited));
    namespace fs = std::filesystem;
    struct Row {
        const char* name;
        void (*refuse)(fake::System&, const fs::path& file);
        std::uint32_t error; // 0: saved
    };
    const Row rows[] = {
        {"a plain file", [](fake::System&, const fs::path&) {}, 0},
        {"no file yet", [](fake::System&, const fs::path& file) { fs::remove(file); }, 0},
        {"no folder yet",
         [](fake::System&, const fs::path& file) { fs::remove_all(file.parent_path()); }, 0},
        {"read-only",
         [](fake::System&, const fs::path& file) {
             fs::permissions(
                 file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                 fs::perm_options::remove);
         },
         5},
        {"a folder in its place",
         [](fake::System&, const fs::path& file) {
             fs::remove(file);
             fs::create_directory(file);
         },
         5},
        {"in use", [](fake::System& s, const fs::path&) { s.lockedPaths.push_back(SettingsPath); },
         32},
        {"disk full", [](fake::System& s, const fs::path&) { s.diskFull = true; }, 112},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sys().lockedPaths.clear();
        sys().diskFull = false;
        fs::remove_all(sys().hostPath(SettingsPath));
        putFile(SettingsPath, old);
        const fs::path file = sys().hostPath(SettingsPath);
        const bool existed = (row.refuse(sys(), file), fs::exists(file));
        const bool folder = fs::is_directory(file);
        const SettingsSave save = saveSettingsFile(edited);
        EXPECT_EQ(save.error, row.error);
        EXPECT_EQ(save.saved(), row.error == 0);
        if (row.error == 0) {
            EXPECT_EQ(fileBytes(SettingsPath), next);
        } else if (existed && !folder) {
            sys().lockedPaths.clear();
            EXPECT_EQ(fileBytes(SettingsPath), old);
        }
        EXPECT_FALSE(fs::exists(sys().hostPath(SettingsPath + u".new")));
        fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    }

    // Restore defaults then OK: the very text of a first start.
    fs::remove_all(sys().hostPath(SettingsPath));
    sys().lockedPaths.clear();
    sys().diskFull = false;
    EXPECT_TRUE(saveSettingsFile(Settings{}).saved());
    EXPECT_EQ(fileBytes(SettingsPath), DefaultFileBytes);

    // A backslash reads back doubled: refused rather than changed on each save.
    Settings slashed;
    slashed.imeMode = u"a\\b";
    const SettingsSave refused = saveSettingsFile(slashed);
    EXPECT_TRUE(refused.unfaithful);
    EXPECT_FALSE(refused.saved());
    EXPECT_EQ(fileBytes(SettingsPath), DefaultFileBytes);
    // The message names the value, a list's item among the others.
    EXPECT_EQ(refused.unfaithfulKey, u"imeMode");
    EXPECT_EQ(refused.unfaithfulValue, u"a\\b");
    Settings bracketed;
    bracketed.excludedApps = {u"x.exe", u"a]b.exe", u"y.exe"};
    const SettingsSave item = saveSettingsFile(bracketed);
    EXPECT_FALSE(item.saved());
    EXPECT_EQ(item.unfaithfulKey, u"excludedApps");
    EXPECT_EQ(item.unfaithfulValue, u"a]b.exe");
}

TEST_F(SettingsFileTest, WindowControlsMapOntoTheRecord) {
    const auto hotkeys = [](std::u16string hotkey, std::vector<std::u16string> alternates) {
        Settings s;
        s.hotkey = std::move(hotkey);
        s.alternateHotkeys = std::move(alternates);
        return s;
    };
    const Settings odd = hotkeys(u"ctrl+backspace", {u"Ctrl+Shift+Backspace"});
    const struct {
        Settings file;
        HotkeyChoice shown;
    } read[] = {
        {Settings{}, HotkeyChoice::both},
        {hotkeys(u"Ctrl+Backspace", {u"Ctrl+Backspace"}), HotkeyChoice::ctrlOnly},
        {hotkeys(u"Ctrl+Shift+Backspace", {u"Ctrl+Shift+Backspace"}), HotkeyChoice::ctrlShiftOnly},
        {odd, HotkeyChoice::asInFile},
        {hotkeys(u"Ctrl+Backspace", {u"Ctrl+Shift+Backspace", u"x"}), HotkeyChoice::asInFile},
    };
    for (const auto& row : read) {
        EXPECT_EQ(hotkeyChoiceOf(row.file), row.shown) << narrow(row.file.hotkey);
        // Each item writes what reads back as that item; asInFile the file's own texts.
        Settings written;
        setHotkeyChoice(written, row.shown, row.file);
        EXPECT_EQ(hotkeyChoiceOf(written), row.shown);
        EXPECT_EQ(written.hotkey, row.file.hotkey);
        EXPECT_EQ(written.alternateHotkeys, row.file.alternateHotkeys);
    }

    Settings mode;
    const Settings other = [] {
        Settings s;
        s.appMode = u"All";
        return s;
    }();
    const struct {
        const Settings& file;
        bool ticked;
        std::u16string_view expected;
    } modes[] = {{Settings{}, true, u"all"},
                 {Settings{}, false, u"none"},
                 {other, false, u"All"},
                 {other, true, u"all"}};
    for (const auto& row : modes) {
        setAppModeTicked(mode, row.ticked, row.file);
        EXPECT_EQ(mode.appMode, row.expected);
        EXPECT_EQ(appModeTicked(mode), row.ticked);
    }

    expectEach<std::u16string, std::int32_t>(
        {{u"300", 300},
         {u"99", 100},
         {u"0500", 500},
         {u"501", 500},
         {u"99999999999999999999", 500},
         {u"", 250},
         {u"-5", 250},
         {u"1e3", 250},
         {u"\uff13\uff10\uff10", 250}},
        [](const std::u16string& text) { return fieldNumber(text, BufferMaxLengthRange, 250); });

    // A name added to the list that the file could not give back is refused there.
    expectEach<std::u16string, bool>({{u"notepad.exe", true},
                                      {u"[1] tool.exe", false},
                                      {u"tool].exe", false},
                                      {u"say \"hi\".exe", false},
                                      {u"[draft.exe", true},
                                      {u"\u30e1\u30e2\u5e33.exe", true}},
                                     storableProgramName);
}

TEST_F(SettingsFileTest, ApplyingASavedRecordTakesEffectAtOnce) {
    Settings active;
    active.enabled = false; // paused from the tray
    InputBuffer buffer(active.bufferMaxLength);
    buffer.append(u'k');
    RunWatch run;
    HookContext hooks(0, active, buffer, run);
    DiagnosticLog& log = diagnosticLog();

    Settings next;
    next.logging = true;
    next.excludedApps = {u"notepad.exe"};
    SettingsApplied applied = applySettings(active, buffer, &hooks, log, next);
    EXPECT_TRUE(applied.loggingStarted);
    EXPECT_FALSE(applied.bufferRenewed);
    EXPECT_FALSE(active.enabled);
    EXPECT_TRUE(active.logging);
    EXPECT_EQ(buffer.text(), u"k"); // the same length keeps what is recorded

    next.bufferMaxLength = 300;
    next.logging = false;
    applied = applySettings(active, buffer, &hooks, log, next);
    EXPECT_TRUE(applied.bufferRenewed);
    EXPECT_TRUE(applied.loggingStopped);
    EXPECT_EQ(buffer.maxLength(), 300);
    EXPECT_EQ(buffer.text(), u"");
    EXPECT_FALSE(log.isActive());
    std::vector<std::string> names;
    for (const std::string& line : logLines(LogChannel::Input)) {
        names.push_back(line.substr(0, line.find(' ', 5)));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"[IN] START", "[IN] BUFFER", "[IN] STOP"}));
}

} // namespace
} // namespace tavelio::testing
