#include "tests/support/fake_test.h"

#include "settings/settings_file.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tavelio {
void PrintTo(const Settings& settings, std::ostream* os) {
    *os << testing::narrow(settingsToJson(settings));
}
} // namespace tavelio

namespace tavelio::testing {

std::string narrow(std::u16string_view text) {
    return toUtf8(text);
}

void FakeSystemTest::SetUp() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root_ = std::filesystem::temp_directory_path() /
            ("tavelio-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root_);
    // The log's writer reads the fake's files: it ends before the system is replaced.
    diagnosticLog().stop();
    fake::resetSystem(root_);
}

void FakeSystemTest::expectNothingHeld() const {
    const auto& s = fake::system();
    EXPECT_EQ(s.contextsObtained, s.contextsReleased) << "IMM input contexts leaked";
    EXPECT_EQ(s.attachDepth, 0) << "a thread-input attachment outlived its call";
    EXPECT_EQ(s.processHandlesOpened, s.processHandlesClosed) << "process handles leaked";
}

void FakeSystemTest::TearDown() {
    expectNothingHeld();
    diagnosticLog().stop();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
}

void FakeSystemTest::startLogging() {
    diagnosticLog().initialize(true);
}

std::u16string FakeSystemTest::logPath(LogChannel channel) const {
    return fake::system().roaming + u"\\Tavelio\\logs\\" +
           (channel == LogChannel::Input ? u"input.log" : u"output.log");
}

std::string FakeSystemTest::fileBytes(const std::u16string& windowsPath) const {
    // Lines the log's writer still holds reach their files first.
    diagnosticLog().flush();
    std::ifstream in(fake::system().hostPath(windowsPath), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void FakeSystemTest::putFile(const std::u16string& windowsPath, const std::string& bytes) const {
    diagnosticLog().flush();
    const auto host = fake::system().hostPath(windowsPath);
    std::filesystem::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> FakeSystemTest::logLines(LogChannel channel) const {
    std::vector<std::string> lines;
    const std::string bytes = fileBytes(logPath(channel));
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto end = bytes.find("\r\n", start);
        const std::string line = bytes.substr(start, end == std::string::npos ? end : end - start);
        // "2026-03-14 09:26:53.589 " is 24 characters.
        lines.push_back(line.size() > 24 ? line.substr(24) : line);
        if (end == std::string::npos) {
            break;
        }
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> FakeSystemTest::events(LogChannel channel,
                                                const std::string& event) const {
    std::vector<std::string> found;
    const std::string tag = channel == LogChannel::Input ? "[IN] " : "[OUT] ";
    for (const auto& line : logLines(channel)) {
        if (line.rfind(tag + event, 0) != 0) {
            continue;
        }
        const auto rest = line.substr(tag.size() + event.size());
        if (rest.empty()) {
            found.emplace_back();
        } else if (rest[0] == ' ') {
            found.push_back(rest.substr(1));
        }
    }
    return found;
}

} // namespace tavelio::testing
