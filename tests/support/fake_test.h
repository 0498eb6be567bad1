// The fixture every unit test starts from: a fresh fake system in its own
// temporary folder, logging off, and checks that nothing leaked.
#pragma once

#include "log/diagnostic_log.h"
#include "settings/settings.h"
#include "tests/support/fake_system.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace tavelio {
// Failures show a settings record as the file text it would be written as.
void PrintTo(const Settings& settings, std::ostream* os);
} // namespace tavelio

namespace tavelio::testing {

using Lines = std::vector<std::string>;

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
    // The raw bytes of a file given by its Windows path, and a file written
    // with exactly these bytes (its folders made first).
    std::string fileBytes(const std::u16string& windowsPath) const;
    void putFile(const std::u16string& windowsPath, const std::string& bytes) const;
    std::u16string logPath(LogChannel channel) const;
    // Every IMM context, thread attachment and process handle obtained was given back.
    void expectNothingHeld() const;

    std::filesystem::path root_;
};

std::string narrow(std::u16string_view text); // UTF-8, for readable assertions

// A table of inputs and what f must give for each, one row per case.
template <typename In, typename Out, typename F>
void expectEach(std::initializer_list<std::pair<In, Out>> rows, F f) {
    for (const auto& [in, out] : rows) {
        std::string name;
        if constexpr (std::is_convertible_v<In, std::u16string_view>) {
            name = narrow(in);
        } else {
            name = ::testing::PrintToString(in);
        }
        SCOPED_TRACE(name);
        EXPECT_EQ(f(in), out);
    }
}

} // namespace tavelio::testing
