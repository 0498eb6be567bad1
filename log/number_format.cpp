#include "log/number_format.h"

#include <algorithm>
#include <iterator>

namespace tavelio {

std::u16string formatNumber(std::uint64_t value, Radix radix, std::size_t minWidth) {
    const unsigned base = radix == Radix::Decimal ? 10 : 16;
    const char16_t* digits = radix == Radix::UpperHex ? u"0123456789ABCDEF" : u"0123456789abcdef";
    char16_t buffer[24];
    char16_t* first = std::end(buffer);
    const std::size_t width = std::min(minWidth, std::size(buffer));
    do {
        *--first = digits[value % base];
        value /= base;
    } while (value != 0 || static_cast<std::size_t>(std::end(buffer) - first) < width);
    return std::u16string(first, std::end(buffer));
}

std::u16string signedDecimal(std::int64_t value) {
    if (value >= 0) {
        return decimal(static_cast<std::uint64_t>(value));
    }
    return u"-" + decimal(0 - static_cast<std::uint64_t>(value));
}

} // namespace tavelio
