// Forms that log lines and settings.json share: numbers in decimal, or in
// hexadecimal with lower- or upper-case digits, zero-padded to at least
// minWidth digits; text as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavelio {

enum class Radix { Decimal, LowerHex, UpperHex };
std::u16string formatNumber(std::uint64_t value, Radix radix, std::size_t minWidth = 1);
inline std::u16string decimal(std::uint64_t value) {
    return formatNumber(value, Radix::Decimal);
}
std::u16string signedDecimal(std::int64_t value);
inline std::u16string lowerHex(std::uint64_t value) { // after keys ending in "=0x"
    return formatNumber(value, Radix::LowerHex);
}
inline std::u16string upperHex2(std::uint32_t value) { // "%02X": key and scan codes
    return formatNumber(value, Radix::UpperHex, 2);
}

// An unpaired surrogate becomes U+FFFD (EF BF BD).
std::string toUtf8(std::u16string_view text);

} // namespace tavelio
