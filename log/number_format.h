// Number forms that log lines and settings.json share: decimal, or
// hexadecimal in lower- or upper-case digits, zero-padded to at least
// minWidth digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

} // namespace tavelio
