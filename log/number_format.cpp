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

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
}

} // namespace tavelio
