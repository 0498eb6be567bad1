#include "fuzz/fuzz_platform.h"

#include "platform/platform.h"

namespace tavelio::fuzz {

namespace {
std::string_view fileBytes;
bool written = false;
} // namespace

void setSettingsFileBytes(std::string_view bytes) {
    fileBytes = bytes;
    written = false;
}

bool settingsFileWritten() {
    return written;
}

} // namespace tavelio::fuzz

namespace tavelio::platform {

std::optional<std::u16string> roamingAppDataFolder() {
    return u"C:\\Users\\fuzz\\AppData\\Roaming";
}

PathState pathState(const std::u16string&) {
    return PathState::present;
}

bool createDirectories(const std::u16string&) {
    fuzz::written = true;
    return false;
}

std::optional<std::string> readFile(const std::u16string&) {
    return std::string(fuzz::fileBytes);
}

bool createNewFile(const std::u16string&, std::string_view) {
    fuzz::written = true;
    return false;
}

// The readers never save: a call here is a fault the target reports.
std::uint32_t replaceFile(const std::u16string&, std::string_view) {
    fuzz::written = true;
    return 5; // access denied: nothing is written
}

} // namespace tavelio::platform
