// The recurring pieces of log details: escaping, modifier and window
// snapshots, text summaries, and the number forms every line uses.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

// Free text for the inside of double quotes: \t \n \r \" \\ and \uXXXX for the
// other control characters; everything from U+0080 on passes unchanged.
std::u16string escapeLogText(std::u16string_view text);

// ctrl= lctrl= rctrl= shift= alt= win= bs= from the asynchronous key state.
std::u16string describeModifierState();

// fg=0x focus=0x target=0x pid= exe="" class="" title="" of the foreground window.
std::u16string describeWindowContext();

// len= first2="" last2="" in UTF-16 code units.
std::u16string summarizeText(std::u16string_view text);

// File name of the executable behind a window, as the system reports it; empty
// when the window, its process or its image cannot be found.
std::u16string processImageName(platform::WindowHandle window);
// The same for a process id (0 gives an empty name).
std::u16string processImageNameOf(std::uint32_t processId);

// Number forms of the details convention.
std::u16string decimal(std::uint64_t value);
std::u16string signedDecimal(std::int64_t value);
std::u16string lowerHex(std::uint64_t value);  // after keys ending in "=0x"
std::u16string upperHex2(std::uint32_t value); // "%02X": key and scan codes
inline std::u16string_view flag(bool value) {
    return value ? u"1" : u"0";
}
// Widens ASCII text.
std::u16string ascii(std::string_view text);

} // namespace tavelio
