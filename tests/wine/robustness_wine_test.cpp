// Files that another program holds, or that cannot be made, against the
// real file system: the log and the settings file.
#include "log/diagnostic_log.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/wine/wine_test.h"

#include <string>
#include <vector>

namespace tavelio {
namespace {

using winetest::bytesOf;
using winetest::hostPath;

// The event names of a log file's lines, in order.
std::vector<std::string> eventsOf(const std::filesystem::path& file) {
    const std::string bytes = bytesOf(file).value_or("");
    std::vector<std::string> events;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end - start);
        const auto tag = line.find("] ");
        const auto name = tag == std::string::npos ? line : line.substr(tag + 2);
        events.push_back(name.substr(0, name.find(' ')));
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    return events;
}

// Logs into the Wine user's roaming folder; the files, and the folders this
// test made, go afterwards.
class RobustnessWineTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto roaming = platform::roamingAppDataFolder();
        ASSERT_TRUE(roaming.has_value());
        tavelio_ = hostPath(*roaming) / "Tavelio";
        std::error_code ec;
        tavelioExisted_ = std::filesystem::exists(tavelio_, ec);
        logsExisted_ = std::filesystem::exists(tavelio_ / "logs", ec);
    }
    void TearDown() override {
        diagnosticLog().stop();
        std::error_code ec;
        for (const auto& file : files_) {
            std::filesystem::remove(file, ec);
        }
        // Only when empty: the settings file may live there.
        if (!logsExisted_) {
            std::filesystem::remove(tavelio_ / "logs", ec);
        }
        if (!tavelioExisted_) {
            std::filesystem::remove(tavelio_, ec);
        }
    }

    void startLogging() {
        diagnosticLog().initialize(true);
        files_ = {hostPath(diagnosticLog().path(LogChannel::Input)),
                  hostPath(diagnosticLog().path(LogChannel::Output))};
    }

    std::filesystem::path tavelio_;
    bool tavelioExisted_ = false;
    bool logsExisted_ = false;
    std::vector<std::filesystem::path> files_;
};

TEST_F(RobustnessWineTest, AFileHeldWithoutWriteSharingDropsLinesUntilReleased) {
    const struct {
        const char* name;
        DWORD access;
        DWORD share;
    } holders[] = {
        {"a reader sharing only reading", GENERIC_READ, FILE_SHARE_READ},
        {"a writer sharing nothing", GENERIC_WRITE, 0},
    };
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.name);
        startLogging();
        diagnosticLog().flush(); // the START lines are on disk before the file is held
        const std::u16string& output = diagnosticLog().path(LogChannel::Output);
        ASSERT_FALSE(output.empty());

        HANDLE held =
            CreateFileW(reinterpret_cast<const wchar_t*>(output.c_str()), holder.access,
                        holder.share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
        diagnosticLog().write(LogChannel::Output, u"DROPPED", u"while=held");
        diagnosticLog().write(LogChannel::Input, u"OTHER_FILE", u"not=held");
        EXPECT_TRUE(diagnosticLog().isActive());
        diagnosticLog().flush();
        CloseHandle(held);
        diagnosticLog().write(LogChannel::Output, u"LANDED", u"after=release");
        diagnosticLog().stop();

        EXPECT_EQ(eventsOf(files_[1]), (std::vector<std::string>{"START", "LANDED", "STOP"}));
        EXPECT_EQ(eventsOf(files_[0]), (std::vector<std::string>{"START", "OTHER_FILE", "STOP"}));
    }
}

TEST_F(RobustnessWineTest, ALogFileDeletedWhileRunningIsRecreatedByTheNextLine) {
    startLogging();
    diagnosticLog().write(LogChannel::Output, u"BEFORE", u"");
    diagnosticLog().flush();
    // No handle stays open between batches, so the user can delete the file.
    ASSERT_TRUE(DeleteFileW(files_[1].c_str())) << GetLastError();
    diagnosticLog().write(LogChannel::Output, u"AFTER", u"deleted=1");
    diagnosticLog().stop();
    EXPECT_EQ(eventsOf(files_[1]), (std::vector<std::string>{"AFTER", "STOP"}));
}

TEST_F(RobustnessWineTest, ASettingsFileHeldWithoutSharingGivesTheDefaultsAndIsLeftAlone) {
    const auto file = hostPath(settingsFilePath());
    const winetest::MovedAside usersOwn(file);
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    const std::string edited = "{\"logging\": true, \"bufferMaxLength\": 300}";
    winetest::putBytes(file, edited);

    HANDLE held = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
    EXPECT_EQ(loadSettings(), Settings{});
    CloseHandle(held);
    const Settings released = loadSettings();
    EXPECT_TRUE(released.logging);
    EXPECT_EQ(released.bufferMaxLength, 300);
    EXPECT_EQ(bytesOf(file), edited);
}

TEST_F(RobustnessWineTest, ALogsFolderThatCannotBeMadeDropsTheLinesAndNothingElse) {
    // A file named Tavelio where the folder should be; a real folder waits aside.
    const winetest::MovedAside folder(tavelio_);
    winetest::putBytes(tavelio_, "in the way");
    startLogging();
    EXPECT_TRUE(diagnosticLog().isActive());
    diagnosticLog().write(LogChannel::Output, u"DROPPED", u"no=folder");
    diagnosticLog().stop();
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::exists(files_[0], ec));
    EXPECT_FALSE(std::filesystem::exists(files_[1], ec));
    EXPECT_EQ(bytesOf(tavelio_), "in the way");
    files_.clear();
}

} // namespace
} // namespace tavelio
