// The settings file against the real platform layer, in the Wine user's
// roaming application-data folder.
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/support/default_settings_file.h"
#include "tests/wine/wine_test.h"

namespace tavelio {
namespace {

using testdata::DefaultFileBytes;
using winetest::bytesOf;
using winetest::hostPath;
using winetest::putBytes;

// Moves a user's existing settings aside for the test and puts everything back after it.
class SettingsWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto roaming = platform::roamingAppDataFolder();
        ASSERT_TRUE(roaming.has_value());
        ASSERT_FALSE(roaming->empty());
        roaming_ = *roaming;
        file_ = hostPath(settingsFilePath());
        folder_ = file_.parent_path();
        std::error_code ec;
        folderExisted_ = std::filesystem::exists(folder_, ec);
        usersOwn_.emplace(file_);
        ASSERT_FALSE(std::filesystem::exists(file_, ec));
    }

    void TearDown() override {
        usersOwn_.reset();
        if (!folderExisted_) {
            std::error_code ec;
            std::filesystem::remove(folder_, ec); // only when empty: the logs may live there
        }
    }

    std::u16string roaming_;
    std::filesystem::path file_;
    std::filesystem::path folder_;
    bool folderExisted_ = false;
    std::optional<winetest::MovedAside> usersOwn_;
};

TEST_F(SettingsWineTest, PathIsTavelioInTheRoamingFolder) {
    const std::u16string separator = roaming_.back() == u'\\' ? u"" : u"\\";
    EXPECT_EQ(settingsFilePath(), roaming_ + separator + u"Tavelio\\settings.json");
}

TEST_F(SettingsWineTest, FirstLoadCreatesTheDefaultFileByteForByte) {
    if (!folderExisted_) {
        ASSERT_FALSE(std::filesystem::exists(folder_));
    }
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_TRUE(std::filesystem::is_directory(folder_));
    EXPECT_EQ(bytesOf(file_), DefaultFileBytes);
}

TEST_F(SettingsWineTest, EditedFileIsReadAndLeftAloneByteForByte) {
    loadSettings();
    // LF endings, a missing key, an unknown key and a Latin-1 byte, as a user's editor may save.
    const std::string edited =
        "{\n  \"logging\": true,\n  \"bufferMaxLength\": 50,\n  \"hotkey\": \"\xE9\",\n"
        "  \"colour\": \"red\"\n}";
    putBytes(file_, edited);
    for (int load = 0; load < 2; ++load) {
        const Settings s = loadSettings();
        EXPECT_TRUE(s.logging);
        EXPECT_EQ(s.bufferMaxLength, 100);
        EXPECT_EQ(s.hotkey, u"\u00e9");
        EXPECT_EQ(s.excludedApps, Settings{}.excludedApps);
        EXPECT_EQ(bytesOf(file_), edited);
    }
}

TEST_F(SettingsWineTest, FolderInPlaceOfTheFileGivesTheDefaults) {
    ASSERT_TRUE(std::filesystem::create_directories(file_));
    EXPECT_EQ(loadSettings(), Settings{});
    EXPECT_TRUE(std::filesystem::is_directory(file_));
    EXPECT_TRUE(std::filesystem::is_empty(file_));
}

// The file is created only while absent, so a file that appears between the
// existence check and the write (another process, the user) is never replaced.
TEST_F(SettingsWineTest, CreatingNeverReplacesAFileThatAppearedMeanwhile) {
    std::filesystem::create_directories(folder_);
    putBytes(file_, "the user's own");
    EXPECT_FALSE(platform::createNewFile(settingsFilePath(), "defaults"));
    EXPECT_EQ(bytesOf(file_), "the user's own");
    std::filesystem::remove(file_);
    EXPECT_TRUE(platform::createNewFile(settingsFilePath(), "defaults"));
    EXPECT_EQ(bytesOf(file_), "defaults");
}

// What the fake refuses, the real move refuses too, and the old file stays whole.
TEST_F(SettingsWineTest, SavingReplacesTheFileOrLeavesItWhole) {
    std::filesystem::create_directories(folder_);
    const std::wstring path(file_.wstring());
    const struct {
        const char* name;
        DWORD attributes; // set on the old file
        bool held;        // another program has it open without delete sharing
        bool replaced;
    } rows[] = {
        {"a plain file", FILE_ATTRIBUTE_NORMAL, false, true},
        {"read-only", FILE_ATTRIBUTE_READONLY, false, false},
        {"open in another program", FILE_ATTRIBUTE_NORMAL, true, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        putBytes(file_, "old");
        SetFileAttributesW(path.c_str(), row.attributes);
        HANDLE held =
            row.held ? CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr)
                     : INVALID_HANDLE_VALUE;
        const SettingsSave save = saveSettingsFile(Settings{});
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
        }
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(save.saved(), row.replaced) << save.error;
        EXPECT_EQ(bytesOf(file_), row.replaced ? DefaultFileBytes : "old");
        EXPECT_FALSE(std::filesystem::exists(file_.string() + ".new"));
    }
    std::filesystem::remove(file_);
    ASSERT_TRUE(std::filesystem::create_directories(file_));
    EXPECT_NE(saveSettingsFile(Settings{}).error, 0u); // a folder in its place
    EXPECT_TRUE(std::filesystem::is_empty(file_));
    std::filesystem::remove(file_);
}

} // namespace
} // namespace tavelio
