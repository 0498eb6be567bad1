// settings.json as users leave it: huge, or cut short by a crash or a full
// disk. The file always loads, quickly, and is never rewritten.
#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/support/fake_test.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif

namespace tavelio::testing {
namespace {

constexpr std::size_t FiftyMegabytes = 50u * 1024 * 1024;

// Every key away from its default, so a key that was not read shows.
const Settings edited{.enabled = false,
                      .startWithWindows = true,
                      .hotkey = u"Ctrl+Shift+Space",
                      .alternateHotkeys = {u"Ctrl+Alt+Backspace", u"Ctrl+F12"},
                      .bufferMaxLength = 321,
                      .clearOnSpace = true,
                      .clearOnEnter = false,
                      .clearOnMouseClick = false,
                      .imeMode = u"kana",
                      .reinputDelayMs = 75,
                      .inputMethod = u"unicode",
                      .appMode = u"none",
                      .excludedApps = {u"a.exe", u"b.exe"},
                      .logging = true};

class RobustnessSettingsTest : public FakeSystemTest {
protected:
    void put(const std::string& bytes) { putFile(settingsFilePath(), bytes); }
    std::string onDisk() const { return fileBytes(settingsFilePath()); }
};

// The size the large files take: 50 MB, except where memory checking makes
// every byte dear (memcheck runs this build about a hundred times slower,
// the address sanitizer about five); the paths taken are the same.
std::size_t largeFileSize() {
#if defined(__SANITIZE_ADDRESS__)
    return FiftyMegabytes / 16;
#else
#if __has_include(<valgrind/valgrind.h>)
    if (RUNNING_ON_VALGRIND != 0) {
        return FiftyMegabytes / 256;
    }
#endif
    return FiftyMegabytes;
#endif
}

// The keys written last, after `size` bytes of blank lines: every reader
// crosses the whole file before it finds its key.
std::string keysLast(std::size_t size) {
    const std::string keys = encodeSettingsText(settingsToJson(edited));
    std::string file(size - keys.size(), ' ');
    for (std::size_t end = 80; end <= file.size(); end += 80) {
        file.replace(end - 2, 2, "\r\n");
    }
    return file + keys;
}

// No key at all: every reader searches the whole file in vain.
std::string noKeys(std::size_t size) {
    const std::string line = "lorem ipsum dolor sit amet, consectetur adipiscing elit\r\n";
    std::string file(size, ' ');
    for (std::size_t at = 0; at + line.size() <= size; at += line.size()) {
        file.replace(at, line.size(), line);
    }
    return file;
}

TEST_F(RobustnessSettingsTest, AFiftyMegabyteFileLoadsInTimeLinearInItsSize) {
    const std::size_t large = largeFileSize();
    const struct {
        const char* name;
        std::string (*make)(std::size_t);
        Settings expected;
    } cases[] = {
        {"keys after 50 MB of blank lines", keysLast, edited},
        {"50 MB without a key", noKeys, Settings{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // CPU time of a load, so that other work on the machine does not count.
        auto load = [&](std::size_t size) {
            const std::string file = c.make(size);
            put(file);
            const std::clock_t start = std::clock();
            const auto wallStart = std::chrono::steady_clock::now();
            const Settings loaded = loadSettings();
            const double cpuMs =
                1000.0 * static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
            const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - wallStart)
                                    .count();
            EXPECT_EQ(loaded, c.expected);
            EXPECT_EQ(std::filesystem::file_size(sys().hostPath(settingsFilePath())),
                      file.size()); // never rewritten
            // Even a slow build under a sanitizer stays far below this.
            EXPECT_LT(wallMs, 60'000);
            return cpuMs;
        };
        const double tenth = load(large / 10);
        const double whole = load(large);
        RecordProperty(std::string("cpu ms ") + c.name, static_cast<int>(whole));
        // Ten times the bytes, about ten times the time; a search that went
        // quadratic would take a hundred times.
        EXPECT_LT(whole, 25.0 * std::max(tenth, 5.0)) << tenth << " ms for a tenth";
    }
}

// A file cut off at any byte (a crash mid-save, a full disk) never yields a
// value that was not in the file: each key reads as written or keeps its
// default, except that the digits of a number cut short read as far as they
// go. The cut file is never replaced by the defaults.
TEST_F(RobustnessSettingsTest, AFileCutAtAnyByteReadsEachKeyAsWrittenOrAsItsDefault) {
    const Settings full = edited;
    const Settings defaults;
    const std::string file = encodeSettingsText(settingsToJson(full));
    // The number prefixes a cut can leave: 3, 32 of 321 (clamped to 100), 7 of 75.
    const std::vector<std::int32_t> bufferCuts = {100, 321};
    const std::vector<std::int32_t> delayCuts = {7, 75};

    for (std::size_t cut = 0; cut <= file.size(); ++cut) {
        SCOPED_TRACE("cut at byte " + std::to_string(cut));
        const std::string bytes = file.substr(0, cut);
        put(bytes);
        const Settings s = loadSettings();
        EXPECT_EQ(onDisk(), bytes);

        auto either = [](const auto& value, const auto& written, const auto& fallback) {
            return value == written || value == fallback;
        };
        EXPECT_TRUE(either(s.enabled, full.enabled, defaults.enabled));
        EXPECT_TRUE(either(s.startWithWindows, full.startWithWindows, defaults.startWithWindows));
        EXPECT_TRUE(either(s.hotkey, full.hotkey, defaults.hotkey)) << narrow(s.hotkey);
        EXPECT_TRUE(either(s.alternateHotkeys, full.alternateHotkeys, defaults.alternateHotkeys));
        EXPECT_TRUE(either(s.clearOnSpace, full.clearOnSpace, defaults.clearOnSpace));
        EXPECT_TRUE(either(s.clearOnEnter, full.clearOnEnter, defaults.clearOnEnter));
        EXPECT_TRUE(
            either(s.clearOnMouseClick, full.clearOnMouseClick, defaults.clearOnMouseClick));
        EXPECT_TRUE(either(s.imeMode, full.imeMode, defaults.imeMode)) << narrow(s.imeMode);
        EXPECT_TRUE(either(s.inputMethod, full.inputMethod, defaults.inputMethod));
        EXPECT_TRUE(either(s.appMode, full.appMode, defaults.appMode)) << narrow(s.appMode);
        EXPECT_TRUE(either(s.excludedApps, full.excludedApps, defaults.excludedApps));
        EXPECT_TRUE(either(s.logging, full.logging, defaults.logging));
        EXPECT_TRUE(s.bufferMaxLength == defaults.bufferMaxLength ||
                    std::count(bufferCuts.begin(), bufferCuts.end(), s.bufferMaxLength) == 1)
            << s.bufferMaxLength;
        EXPECT_TRUE(s.reinputDelayMs == defaults.reinputDelayMs ||
                    std::count(delayCuts.begin(), delayCuts.end(), s.reinputDelayMs) == 1)
            << s.reinputDelayMs;
    }
    // Whole, it reads back exactly.
    put(file);
    EXPECT_EQ(loadSettings(), full);
}

} // namespace
} // namespace tavelio::testing
