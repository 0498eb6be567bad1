// Arbitrary bytes as settings.json: the whole load, every reader on every key,
// and a record written by the writer must read back as itself.
#include "fuzz/fuzz_platform.h"
#include "settings/settings_file.h"
#include "settings/settings_reader.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace tavelio;

constexpr std::array<std::u16string_view, 16> Keys = {
    u"enabled",         u"startWithWindows", u"hotkey",       u"alternateHotkeys",
    u"bufferMaxLength", u"clearOnSpace",     u"clearOnEnter", u"clearOnMouseClick",
    u"imeMode",         u"reinputDelayMs",   u"inputMethod",  u"appMode",
    u"excludedApps",    u"logging",          u"romajiOnly",   u"romajiHint"};

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "settings_readers: %s\n", what);
        std::abort();
    }
}

bool isValueOf(std::u16string_view text, std::u16string_view value) {
    // What a reader returns between quotes is a quote-free slice of the text.
    return value.find(u'"') == std::u16string_view::npos &&
           text.find(value) != std::u16string_view::npos;
}

void readEveryKey(std::u16string_view text) {
    const std::vector<std::u16string> fallbackList = {u"fallback"};
    for (const auto key : Keys) {
        readBool(text, key, true);
        readBool(text, key, false);
        readInt(text, key, -1);
        const auto s = readString(text, key, u"fallback");
        require(s == u"fallback" || isValueOf(text, s), "readString invented text");
        const auto list = readStringList(text, key, fallbackList);
        require(!list.empty(), "readStringList returned an empty list");
        if (list != fallbackList) {
            for (const auto& item : list) {
                require(isValueOf(text, item), "readStringList invented text");
            }
        }
    }
}

// A string the writer and the readers agree on: no quote, no backslash (the
// readers do not undo escapes), no ']' in list items, and not a key name (the
// readers would find the key there first).
std::u16string cleanString(FuzzedDataProvider& in, bool listItem) {
    std::u16string out;
    for (const char c : in.ConsumeRandomLengthString(24)) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(c));
        if (unit != u'"' && unit != u'\\' && !(listItem && unit == u']')) {
            out += unit;
        }
    }
    for (const auto key : Keys) {
        if (out == key) {
            out += u'_';
        }
    }
    return out;
}

std::vector<std::u16string> cleanList(FuzzedDataProvider& in) {
    std::vector<std::u16string> list(in.ConsumeIntegralInRange<std::size_t>(0, 4));
    for (auto& item : list) {
        item = cleanString(in, true);
    }
    return list;
}

void writtenRecordReadsBack(FuzzedDataProvider& in) {
    Settings s;
    s.enabled = in.ConsumeBool();
    s.startWithWindows = in.ConsumeBool();
    s.hotkey = cleanString(in, false);
    s.alternateHotkeys = cleanList(in);
    s.bufferMaxLength = in.ConsumeIntegral<std::int32_t>();
    s.clearOnSpace = in.ConsumeBool();
    s.clearOnEnter = in.ConsumeBool();
    s.clearOnMouseClick = in.ConsumeBool();
    s.imeMode = cleanString(in, false);
    s.reinputDelayMs = in.ConsumeIntegral<std::int32_t>();
    s.inputMethod = cleanString(in, false);
    s.appMode = cleanString(in, false);
    s.excludedApps = cleanList(in);
    s.logging = in.ConsumeBool();
    s.romajiOnly = in.ConsumeBool();
    s.romajiHint = in.ConsumeBool();

    Settings expected = s;
    expected.bufferMaxLength = clampBufferMaxLength(s.bufferMaxLength);
    expected.reinputDelayMs = clampReinputDelayMs(s.reinputDelayMs);
    // An empty list cannot be expressed in the file: the reader restores the default.
    if (expected.alternateHotkeys.empty()) {
        expected.alternateHotkeys = Settings{}.alternateHotkeys;
    }
    if (expected.excludedApps.empty()) {
        expected.excludedApps = Settings{}.excludedApps;
    }
    const auto bytes = encodeSettingsText(settingsToJson(s));
    require(settingsFromText(decodeSettingsText(bytes)) == expected,
            "a written record did not read back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string text = decodeSettingsText(bytes);
    require(text.size() <= bytes.size(), "decoding grew the text");

    readEveryKey(text);
    const Settings fromText = settingsFromText(text);
    require(fromText.bufferMaxLength >= 100 && fromText.bufferMaxLength <= 500,
            "bufferMaxLength escaped the clamp");

    fuzz::setSettingsFileBytes(bytes);
    require(loadSettings() == fromText, "loading differs from reading the decoded text");
    require(!fuzz::settingsFileWritten(), "an existing file was written");

    FuzzedDataProvider in(data, size);
    writtenRecordReadsBack(in);
    return 0;
}
