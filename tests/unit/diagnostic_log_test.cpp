#include "log/diagnostic_log.h"
#include "tests/support/fake_test.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace tavelio::testing {
namespace {

using DiagnosticLogTest = FakeSystemTest;

const std::string startDetails =
    "pid=100 input=\"C:\\\\Users\\\\tester\\\\AppData\\\\Roaming\\\\Tavelio\\\\logs\\\\input.log\" "
    "output=\"C:\\\\Users\\\\tester\\\\AppData\\\\Roaming\\\\Tavelio\\\\logs\\\\output.log\"";

TEST_F(DiagnosticLogTest, LoggingOffTouchesNothing) {
    putFile(logPath(LogChannel::Input), "old run");
    diagnosticLog().initialize(false);
    diagnosticLog().write(LogChannel::Input, u"BUFFER", u"x");
    diagnosticLog().stop();
    EXPECT_FALSE(diagnosticLog().isActive());
    EXPECT_EQ(fileBytes(logPath(LogChannel::Input)), "old run");
    EXPECT_FALSE(std::filesystem::exists(sys().hostPath(logPath(LogChannel::Output))));
}

TEST_F(DiagnosticLogTest, LoggingOffCreatesNoFolder) {
    diagnosticLog().initialize(false);
    EXPECT_FALSE(std::filesystem::exists(sys().hostPath(u"C:\\Users\\tester\\AppData\\Roaming")));
}

TEST_F(DiagnosticLogTest, StartReplacesTheOldFilesWithOneStartLineEach) {
    putFile(logPath(LogChannel::Input), "old\r\n");
    putFile(logPath(LogChannel::Output), "old\r\n");
    startLogging();
    EXPECT_EQ(fileBytes(logPath(LogChannel::Input)),
              "2026-03-14 09:26:53.589 [IN] START " + startDetails + "\r\n");
    EXPECT_EQ(fileBytes(logPath(LogChannel::Output)),
              "2026-03-14 09:26:53.589 [OUT] START " + startDetails + "\r\n");
}

TEST_F(DiagnosticLogTest, TimestampFieldsArePadded) {
    sys().time = {987, 1, 2, 3, 4, 5, 4};
    startLogging();
    diagnosticLog().write(LogChannel::Output, u"IME_READY", u"");
    const auto bytes = fileBytes(logPath(LogChannel::Output));
    EXPECT_NE(bytes.find("0987-01-02 03:04:05.004 [OUT] IME_READY\r\n"), std::string::npos);
}

TEST_F(DiagnosticLogTest, EmptyDetailsLeaveNoTrailingSpaceButGivenSpacesStay) {
    startLogging();
    diagnosticLog().write(LogChannel::Input, u"STOP", u"");
    diagnosticLog().write(LogChannel::Input, u"X", u"a ");
    EXPECT_EQ(logLines(LogChannel::Input),
              (Lines{"[IN] START " + startDetails, "[IN] STOP", "[IN] X a "}));
}

TEST_F(DiagnosticLogTest, ChannelsNeverMix) {
    startLogging();
    diagnosticLog().write(LogChannel::Input, u"APPEND", u"a");
    diagnosticLog().write(LogChannel::Output, u"SLEEP", u"b");
    EXPECT_EQ(events(LogChannel::Input, "APPEND").size(), 1u);
    EXPECT_EQ(events(LogChannel::Input, "SLEEP").size(), 0u);
    EXPECT_EQ(events(LogChannel::Output, "SLEEP").size(), 1u);
    EXPECT_EQ(events(LogChannel::Output, "APPEND").size(), 0u);
}

TEST_F(DiagnosticLogTest, JapaneseAndLoneSurrogatesBecomeUtf8) {
    startLogging();
    std::u16string details = u"title=\"\u3053\u3093\" bad=";
    details += static_cast<char16_t>(0xDC00);
    diagnosticLog().write(LogChannel::Input, u"T", details);
    EXPECT_EQ(logLines(LogChannel::Input).back(),
              "[IN] T title=\"\xE3\x81\x93\xE3\x82\x93\" bad=\xEF\xBF\xBD");
}

TEST_F(DiagnosticLogTest, ToUtf8Table) {
    const auto unit = [](char16_t u) {
        return std::u16string(1, u);
    };
    expectEach<std::u16string, std::string>(
        {{u"", ""},
         {u"a", "a"},
         {u"\u00E9", "\xC3\xA9"},
         {u"\u3042", "\xE3\x81\x82"},
         {u"\U0001F600", "\xF0\x9F\x98\x80"},
         {unit(0xD83D), "\xEF\xBF\xBD"},
         {unit(0xDE00) + u"a", "\xEF\xBF\xBD"
                               "a"},
         {unit(0xD83D) + unit(0xD83D) + unit(0xDE00), "\xEF\xBF\xBD\xF0\x9F\x98\x80"}},
        [](const std::u16string& in) { return toUtf8(in); });
}

TEST_F(DiagnosticLogTest, AFileDeletedWhileRunningIsRecreatedWithoutStart) {
    startLogging();
    diagnosticLog().flush();
    std::filesystem::remove(sys().hostPath(logPath(LogChannel::Output)));
    diagnosticLog().write(LogChannel::Output, u"SLEEP", u"ms=50");
    EXPECT_EQ(logLines(LogChannel::Output), Lines{"[OUT] SLEEP ms=50"});
}

TEST_F(DiagnosticLogTest, ALockedFileDropsLinesUntilReleased) {
    startLogging();
    diagnosticLog().flush();
    sys().lockedPaths.push_back(logPath(LogChannel::Input));
    diagnosticLog().write(LogChannel::Input, u"LOST", u"");
    diagnosticLog().flush();
    sys().lockedPaths.clear();
    diagnosticLog().write(LogChannel::Input, u"KEPT", u"");
    EXPECT_EQ(logLines(LogChannel::Input), (Lines{"[IN] START " + startDetails, "[IN] KEPT"}));
}

// The writer takes each line as it comes: nothing waits for more lines, a
// flush or the stop (real time here, since the writer is a real thread).
TEST_F(DiagnosticLogTest, ALineReachesItsFileOnItsOwn) {
    startLogging();
    diagnosticLog().write(LogChannel::Input, u"ALONE", u"");
    const auto file = sys().hostPath(logPath(LogChannel::Input));
    const auto landed = [&] {
        std::ifstream in(file, std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        return bytes.find("[IN] ALONE\r\n") != std::string::npos;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!landed() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(landed());
}

// A disk that stalls the writer: the queue fills to its bound, the rest is
// dropped, and each file says how many of its lines, where they would have been.
TEST_F(DiagnosticLogTest, WhatTheQueueCannotHoldIsDroppedAndCounted) {
    startLogging();
    diagnosticLog().flush();
    const std::u16string filler(1000, u'x');
    // Three times what the queue holds: it also fills while the writer holds a batch.
    const std::size_t written = 3 * DiagnosticLog::MaxQueuedBytes / filler.size();
    {
        const std::lock_guard stalled(fake::diskLock());
        // The writer takes the first line and waits at the disk with it: the
        // rest fill the queue and overflow it however the threads are timed.
        const int writes = fake::diskWrites();
        diagnosticLog().write(LogChannel::Input, u"LINE", u"n=0 " + filler);
        while (fake::diskWrites() == writes) {
            std::this_thread::yield();
        }
        for (std::size_t n = 1; n < written; ++n) {
            diagnosticLog().write(LogChannel::Input, u"LINE", u"n=" + decimal(n) + u" " + filler);
        }
        diagnosticLog().write(LogChannel::Output, u"OTHER", u"");
    }
    diagnosticLog().flush();
    diagnosticLog().write(LogChannel::Input, u"AFTER", u"");

    // Every line in order, each gap counted where it fell: the writer may take
    // a batch while the loop runs, so the queue can fill more than once.
    const auto lines = logLines(LogChannel::Input);
    ASSERT_GE(lines.size(), 4u);
    const std::string line = "[IN] LINE n=", dropped = "[IN] LOG_DROPPED lines=";
    std::size_t next = 0, kept = 0, gaps = 0;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i].rfind(dropped, 0) == 0) {
            next += std::stoul(lines[i].substr(dropped.size()));
            ++gaps;
            continue;
        }
        ASSERT_EQ(lines[i].rfind(line + std::to_string(next) + " x", 0), 0u) << lines[i];
        ++next;
        ++kept;
    }
    EXPECT_EQ(next, written);
    EXPECT_GE(gaps, 1u);
    EXPECT_LE(kept, 2 * DiagnosticLog::MaxQueuedBytes / filler.size());
    EXPECT_EQ(lines.back(), "[IN] AFTER");
    EXPECT_EQ(logLines(LogChannel::Output),
              (Lines{"[OUT] START " + startDetails, "[OUT] LOG_DROPPED lines=1"}));
}

TEST_F(DiagnosticLogTest, StopWritesStopLinesAndNothingAfter) {
    startLogging();
    diagnosticLog().stop(u"keyboardCalls=7");
    diagnosticLog().write(LogChannel::Input, u"LATE", u"");
    diagnosticLog().stop();
    EXPECT_EQ(logLines(LogChannel::Input).back(), "[IN] STOP keyboardCalls=7");
    EXPECT_EQ(logLines(LogChannel::Output).back(), "[OUT] STOP");
    EXPECT_EQ(logLines(LogChannel::Input).size(), 2u);
    EXPECT_TRUE(diagnosticLog().path(LogChannel::Input).empty());
}

TEST_F(DiagnosticLogTest, WithoutARoamingFolderTheLogsGoToARelativeFolder) {
    sys().roamingFails = true;
    startLogging();
    EXPECT_EQ(diagnosticLog().path(LogChannel::Output), u"logs\\output.log");
    EXPECT_NE(
        fileBytes(u"logs\\output.log").find("[OUT] START pid=100 input=\"logs\\\\input.log\""),
        std::string::npos);
}

TEST_F(DiagnosticLogTest, AFolderThatCannotBeMadeKeepsLoggingOnAndDropsLines) {
    // A file where the Tavelio folder should be: the logs folder cannot be created.
    const auto roaming = sys().hostPath(sys().roaming);
    putFile(sys().roaming + u"\\Tavelio", "in the way");
    startLogging();
    EXPECT_TRUE(diagnosticLog().isActive());
    diagnosticLog().write(LogChannel::Input, u"DROPPED", u"");
    EXPECT_EQ(fileBytes(sys().roaming + u"\\Tavelio"), "in the way");
    // Once the obstacle is gone and the folder exists, lines land again.
    std::filesystem::remove(roaming / "Tavelio");
    std::filesystem::create_directories(roaming / "Tavelio" / "logs");
    diagnosticLog().write(LogChannel::Input, u"LANDS", u"");
    EXPECT_EQ(logLines(LogChannel::Input), Lines{"[IN] LANDS"});
}

} // namespace
} // namespace tavelio::testing
