// The fixture every unit test starts from: a fresh fake system in its own
// temporary folder, logging off, and checks that nothing leaked.
#pragma once

#include "log/diagnostic_log.h"
#include "tests/support/fake_system.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavelio::testing {

class FakeSystemTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    fake::System& sys() { return fake::system(); }
    // Switches the diagnostic log on (it writes START lines into the fake roaming folder).
    void startLogging();
    // The lines of a log file with the timestamp cut off ("[IN] BUFFER action=..."),
    // or an empty list when the file does not exist.
    std::vector<std::string> logLines(LogChannel channel) const;
    // Only the lines of one event, details only ("action=append ...").
    std::vector<std::string> events(LogChannel channel, const std::string& event) const;
    // The raw bytes of a file given by its Windows path.
    std::string fileBytes(const std::u16string& windowsPath) const;
    std::u16string logPath(LogChannel channel) const;

    std::filesystem::path root_;
};

std::string narrow(std::u16string_view text); // UTF-8, for readable assertions

} // namespace tavelio::testing
