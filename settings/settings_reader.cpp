#include "settings/settings_reader.h"

#include "platform/platform.h"
#include "settings/settings_file.h"
#include "settings/settings_keys.h"

#include <algorithm>
#include <limits>

namespace tavelio {

namespace {

constexpr auto npos = std::u16string_view::npos;

// Where "key" (quotes included) first occurs, or npos. Scans for the bare key
// and checks the quotes around it, so no pattern string is built per lookup.
std::size_t findKey(std::u16string_view text, std::u16string_view key) {
    for (std::size_t at = text.find(key, 1); at != npos; at = text.find(key, at + 1)) {
        const std::size_t after = at + key.size();
        if (after >= text.size()) {
            return npos;
        }
        if (text[at - 1] == u'"' && text[after] == u'"') {
            return at - 1;
        }
    }
    return npos;
}

// What follows the first ':' at or after the key; nothing when the key or the
// colon is missing.
std::u16string_view valueText(std::u16string_view text, std::u16string_view key) {
    const std::size_t at = findKey(text, key);
    const std::size_t colon = at == npos ? npos : text.find(u':', at);
    return colon == npos ? std::u16string_view() : text.substr(colon + 1);
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// An optional '-', then digits up to the first non-digit; 0 without digits.
std::int32_t toInt32(std::u16string_view text, std::size_t at) {
    bool negative = false;
    if (at < text.size() && text[at] == u'-') {
        negative = true;
        ++at;
    }
    // Accumulate the magnitude and stop growing it past the limit, so a run
    // of a million digits neither overflows nor changes the saturated result.
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; at < text.size() && isDigit(text[at]); ++at) {
        if (magnitude < limit) {
            magnitude = magnitude * 10 + (text[at] - u'0');
        }
    }
    if (negative) {
        return magnitude >= limit ? std::numeric_limits<std::int32_t>::min()
                                  : static_cast<std::int32_t>(-magnitude);
    }
    return magnitude >= limit ? std::numeric_limits<std::int32_t>::max()
                              : static_cast<std::int32_t>(magnitude);
}

} // namespace

bool readBool(std::u16string_view text, std::u16string_view key, bool fallback) {
    std::u16string_view value = valueText(text, key);
    value.remove_prefix(std::min(value.find_first_not_of(u" \t\r\n"), value.size()));
    if (value.starts_with(u"true")) {
        return true;
    }
    if (value.starts_with(u"false")) {
        return false;
    }
    return fallback;
}

std::int32_t readInt(std::u16string_view text, std::u16string_view key, std::int32_t fallback) {
    const std::u16string_view value = valueText(text, key);
    const std::size_t at = value.find_first_of(u"-0123456789");
    return at == npos ? fallback : toInt32(value, at);
}

std::u16string readString(std::u16string_view text, std::u16string_view key,
                          std::u16string_view fallback) {
    const std::u16string_view value = valueText(text, key);
    const std::size_t open = value.find(u'"');
    const std::size_t close = open == npos ? npos : value.find(u'"', open + 1);
    return std::u16string(close == npos ? fallback : value.substr(open + 1, close - open - 1));
}

std::vector<std::u16string> readStringList(std::u16string_view text, std::u16string_view key,
                                           const std::vector<std::u16string>& fallback) {
    const std::size_t at = findKey(text, key);
    if (at == npos) {
        return fallback;
    }
    const std::size_t open = text.find(u'[', at);
    if (open == npos) {
        return fallback;
    }
    // The list ends at the first ']', even one inside a quoted item.
    const std::size_t end = text.find(u']', open + 1);
    if (end == npos) {
        return fallback;
    }
    std::vector<std::u16string> items;
    std::size_t pos = open + 1;
    while (pos < end) {
        const std::size_t first = text.find(u'"', pos);
        if (first == npos || first >= end) {
            break;
        }
        const std::size_t second = text.find(u'"', first + 1);
        if (second == npos || second > end) {
            break;
        }
        items.emplace_back(text.substr(first + 1, second - first - 1));
        pos = second + 1;
    }
    return items.empty() ? fallback : items;
}

namespace {

bool isContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The code point of the UTF-8 sequence at `at`, and its length; 0 for a
// sequence that is not UTF-8: truncated, overlong, a surrogate or above
// U+10FFFF.
std::size_t utf8Sequence(std::string_view bytes, std::size_t at, char32_t& codePoint) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() - at < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(bytes[at + i]);
        if (!isContinuation(byte)) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    return codePoint < minimum || surrogate || codePoint > 0x10FFFF ? 0 : length;
}

// The UTF-8 reading; false at the first sequence that is not UTF-8.
bool decodeUtf8(std::string_view bytes, std::u16string& text) {
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t codePoint = 0;
        const std::size_t length = utf8Sequence(bytes, i, codePoint);
        if (length == 0) {
            return false;
        }
        i += length;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            text += static_cast<char16_t>(0xD800 + (codePoint >> 10));
            text += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else if (codePoint != u'\r' || i >= bytes.size() || bytes[i] != '\n') {
            text += static_cast<char16_t>(codePoint); // a CR before LF: the LF stands for the pair
        }
    }
    return true;
}

} // namespace

std::u16string decodeSettingsText(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    if (decodeUtf8(bytes, text)) {
        return text;
    }
    // Not UTF-8 throughout: each byte is the character with its code.
    text.clear();
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue; // the LF that follows stands for the pair
        }
        text += static_cast<char16_t>(byte);
    }
    return text;
}

Settings settingsFromText(std::u16string_view text) {
    Settings s;
    for (const SettingKey& key : SettingKeys) {
        std::visit(
            FieldVisitor{
                [&](bool Settings::*field) { s.*field = readBool(text, key.name, s.*field); },
                [&](std::int32_t Settings::*field) {
                    const std::int32_t value = readInt(text, key.name, s.*field);
                    s.*field = key.range != nullptr ? key.range->clamp(value) : value;
                },
                [&](std::u16string Settings::*field) {
                    s.*field = readString(text, key.name, s.*field);
                },
                [&](std::vector<std::u16string> Settings::*field) {
                    s.*field = readStringList(text, key.name, s.*field);
                },
            },
            key.field);
    }
    return s;
}

Settings loadSettings() {
    const Settings defaults;
    ensureSettingsFile(defaults);
    const auto bytes = platform::readFile(settingsFilePath());
    if (!bytes) {
        return defaults;
    }
    return settingsFromText(decodeSettingsText(*bytes));
}

} // namespace tavelio
