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
    s.romajiOnly = false; // a later key: written because it is not its default
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
                                 u"  \"romajiOnly\": false\n"
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
    EXPECT_EQ(settingsFromText(decodeSettingsText(encodeSettingsText(settingsToJson(s)))), s);
}

} // namespace
} // namespace tavelio::testing
