#include "settings/settings_file.h"
#include "settings/settings_reader.h"
#include "tests/support/fake_test.h"

#include <functional>

namespace tavelio::testing {
namespace {

using Expect = std::function<void(Settings&)>;

struct ReadCase {
    const char* what;
    std::string file; // bytes on disk
    Expect expect;    // applied to the defaults
};
ReadCase row(const char* what, std::string file, Expect expect) {
    return {what, std::move(file), std::move(expect)};
}

// A literal with embedded NULs, all of it.
template <std::size_t N> std::string bytes(const char (&literal)[N]) {
    return std::string(literal, N - 1);
}

// Each file goes through the whole load: bytes on disk, decoding, every reader, the clamp.
const ReadCase readCases[] = {
    row("empty file", "", [](Settings&) {}),
    row("keys in any order on one line, no spaces",
        "{\"logging\":true,\"bufferMaxLength\":300,\"enabled\":false}",
        [](Settings& s) { s.logging = true, s.bufferMaxLength = 300, s.enabled = false; }),
    row("spread over lines with spaces around the colon",
        "{\r\n\"enabled\"\r\n  :\r\n\r\n  false\r\n,\"hotkey\"   :   \"Alt\"}",
        [](Settings& s) { s.enabled = false, s.hotkey = u"Alt"; }),
    row("romajiOnly false", "{\"romajiOnly\": false}", [](Settings& s) { s.romajiOnly = false; }),
    row("tab before false", "{\"enabled\":\tfalse}", [](Settings& s) { s.enabled = false; }),
    row("FALSE, 0 and quoted false keep the default",
        "{\"enabled\": FALSE, \"clearOnEnter\": 0, \"clearOnMouseClick\": \"false\"}",
        [](Settings&) {}),
    row("only the prefix of true or false counts",
        "{\"logging\": trueish, \"enabled\": falsehood, \"clearOnEnter\": fals}",
        [](Settings& s) { s.logging = true, s.enabled = false; }),
    row("whitespace is only space, tab, CR, LF", "{\"logging\":\f true}", [](Settings&) {}),
    row("colon with nothing after it", "{\"logging\": \r\n ", [](Settings&) {}),
    row("key without a colon", "{\"logging\"", [](Settings&) {}),
    row("key names are case-sensitive", "{\"Enabled\": false, \"LOGGING\": true}",
        [](Settings&) {}),
    row("first occurrence wins", "{\"logging\": true, \"logging\": false}",
        [](Settings& s) { s.logging = true; }),
    row("nested objects count the same", "{\"x\": {\"logging\": true}}",
        [](Settings& s) { s.logging = true; }),
    row("both numbers clamped", "{\"bufferMaxLength\": 50, \"reinputDelayMs\": 5000}",
        [](Settings& s) { s.bufferMaxLength = 100, s.reinputDelayMs = 1000; }),
    row("reinputDelayMs at the upper edge", "{\"reinputDelayMs\": 1000}",
        [](Settings& s) { s.reinputDelayMs = 1000; }),
    row("reinputDelayMs just above it", "{\"reinputDelayMs\": 1001}",
        [](Settings& s) { s.reinputDelayMs = 1000; }),
    row("bufferMaxLength just below 100", "{\"bufferMaxLength\": 99}",
        [](Settings& s) { s.bufferMaxLength = 100; }),
    row("bufferMaxLength above 500", "{\"bufferMaxLength\": 501}",
        [](Settings& s) { s.bufferMaxLength = 500; }),
    row("quoted number", "{\"bufferMaxLength\": \"300\"}",
        [](Settings& s) { s.bufferMaxLength = 300; }),
    row("null borrows the next key's digits, then the clamp",
        "{\"bufferMaxLength\": null, \"reinputDelayMs\": 50}",
        [](Settings& s) { s.bufferMaxLength = 100; }),
    row("null with no digits after it", "{\"bufferMaxLength\": null}", [](Settings&) {}),
    row("negative delay", "{\"reinputDelayMs\": -1}", [](Settings& s) { s.reinputDelayMs = 0; }),
    row("fraction", "{\"reinputDelayMs\": 12.9}", [](Settings& s) { s.reinputDelayMs = 12; }),
    row("exponent", "{\"reinputDelayMs\": 1e3}", [](Settings& s) { s.reinputDelayMs = 1; }),
    row("minus alone", "{\"reinputDelayMs\": -}", [](Settings& s) { s.reinputDelayMs = 0; }),
    row("double minus", "{\"reinputDelayMs\": --5}", [](Settings& s) { s.reinputDelayMs = 0; }),
    row("leading zeros", "{\"reinputDelayMs\": 007}", [](Settings& s) { s.reinputDelayMs = 7; }),
    row("32-bit limits exactly",
        "{\"reinputDelayMs\": -2147483648, \"bufferMaxLength\": 2147483647}",
        [](Settings& s) { s.reinputDelayMs = 0, s.bufferMaxLength = 500; }),
    row("one past the limits saturates",
        "{\"reinputDelayMs\": 2147483648, \"bufferMaxLength\": -2147483649}",
        [](Settings& s) { s.reinputDelayMs = 1000, s.bufferMaxLength = 100; }),
    row("thousands of digits saturate", "{\"reinputDelayMs\": -" + std::string(5000, '9') + "1}",
        [](Settings& s) { s.reinputDelayMs = 0; }),
    row("a number as string value takes the next key's name",
        "{\"hotkey\": 5, \"imeMode\": \"kana\"}",
        [](Settings& s) { s.hotkey = u"imeMode", s.imeMode = u"kana"; }),
    row("backslashes stay, an escaped quote ends the value",
        "{\"hotkey\": \"a\\\\b\", \"appMode\": \"x\\\"y\"}",
        [](Settings& s) { s.hotkey = u"a\\\\b", s.appMode = u"x\\"; }),
    row("empty string", "{\"hotkey\": \"\"}", [](Settings& s) { s.hotkey = u""; }),
    row("unterminated string", "{\"hotkey\": \"Ctrl", [](Settings&) {}),
    row("empty and numeric lists keep the defaults",
        "{\"excludedApps\": [], \"alternateHotkeys\": [ 1, 2 ]}", [](Settings&) {}),
    row("one empty name", "{\"excludedApps\": [\"\"]}",
        [](Settings& s) { s.excludedApps = {u""}; }),
    row("list items in order, no colon needed", "{\"alternateHotkeys\" [\"a\",\"b\" \"a\"]}",
        [](Settings& s) {
            s.alternateHotkeys = {u"a", u"b", u"a"};
        }),
    row("the first ] ends the list even inside an item",
        "{\"excludedApps\": [\"x.exe\", \"a]b\", \"c\"]}",
        [](Settings& s) { s.excludedApps = {u"x.exe"}; }),
    row("unterminated list", "{\"excludedApps\": [\"x.exe\"", [](Settings&) {}),
    row("a key first met as a string value is read there",
        "{\"hotkey\": \"logging\",\r\n \"alternateHotkeys\": [\"F1\"],\r\n \"logging\": true}",
        [](Settings& s) { s.hotkey = u"logging", s.alternateHotkeys = {u"F1"}; }),
    row("UTF-8 BOM", "\xEF\xBB\xBF{\"enabled\": false, \"hotkey\": \"Ctrl+Space\"}",
        [](Settings& s) { s.enabled = false, s.hotkey = u"Ctrl+Space"; }),
    row("UTF-16 file", bytes("\xFF\xFE{\0\"\0e\0n\0a\0b\0l\0e\0d\0\"\0:\0f\0a\0l\0s\0e\0}\0"),
        [](Settings&) {}),
    row("a file that is not UTF-8 throughout: each byte one character",
        "{\"hotkey\": \"\xE9\", \"appMode\": \"\xC3\xA9\"}",
        [](Settings& s) { s.hotkey = u"\u00e9", s.appMode = u"\u00c3\u00a9"; }),
    row("a UTF-8 file: names as written",
        "{\"excludedApps\": [\"\xE3\x83\xA1\xE3\x83\xA2\xE5\xB8\xB3.exe\", \"\xC3\x89"
        "dit.exe\"], "
        "\"hotkey\": \"\xF0\x9F\x98\x80\"}",
        [](Settings& s) {
            s.excludedApps = {u"\u30e1\u30e2\u5e33.exe", u"\u00c9dit.exe"};
            s.hotkey = u"\U0001F600";
        }),
    row("overlong and surrogate forms are no UTF-8",
        "{\"hotkey\": \"\xC0\xAF\", \"appMode\": \"\xED\xA0\x80\"}",
        [](Settings& s) { s.hotkey = u"\u00c0\u00af", s.appMode = u"\u00ed\u00a0\u0080"; }),
    row("CR LF inside a value becomes LF, a lone CR stays", "{\"hotkey\": \"a\r\nb\rc\r\r\n\"}",
        [](Settings& s) { s.hotkey = u"a\nb\rc\r\n"; }),
    row("control bytes and NUL are ordinary characters",
        bytes("{\"hotkey\": \"\0\x1A\", \"logging\": true}"),
        [](Settings& s) { s.hotkey = std::u16string(u"\0\x1A", 2), s.logging = true; }),
};

using SettingsReaderTest = FakeSystemTest;

TEST_F(SettingsReaderTest, FileQuirks) {
    const std::u16string path = settingsFilePath();
    for (const auto& c : readCases) {
        SCOPED_TRACE(c.what);
        putFile(path, c.file);
        Settings expected;
        c.expect(expected);
        EXPECT_EQ(loadSettings(), expected);
        EXPECT_EQ(fileBytes(path), c.file); // never rewritten
    }
}

TEST_F(SettingsReaderTest, ReadersReturnTheGivenFallback) {
    for (const auto* text :
         {u"", u"{\"k\"", u"{\"k\": ", u"{\"x\": 1, \"k\": \"true\"", u"{\"K\": 1}"}) {
        SCOPED_TRACE(narrow(text));
        EXPECT_TRUE(readBool(text, u"k", true));
        EXPECT_FALSE(readBool(text, u"k", false));
    }
    for (const auto* text : {u"", u"{\"k\": x", u"{\"k\" 1", u"{\"K\": 1}"}) {
        SCOPED_TRACE(narrow(text));
        EXPECT_EQ(readInt(text, u"k", -77), -77);
    }
    for (const auto* text : {u"", u"{\"k\": 1", u"{\"k\": \"x", u"{\"k\" \"x\""}) {
        SCOPED_TRACE(narrow(text));
        EXPECT_EQ(readString(text, u"k", u"fb"), u"fb");
    }
    for (const auto* text : {u"", u"{\"k\": [1]", u"{\"k\": [\"x\"", u"{\"k\": [\"x]\"]"}) {
        SCOPED_TRACE(narrow(text));
        EXPECT_EQ(readStringList(text, u"k", {u"fb"}), std::vector<std::u16string>{u"fb"});
    }
}

TEST_F(SettingsReaderTest, DecodingKeepsEveryByteAndOnlyFoldsCrLf) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) {
        bytes += static_cast<char>(b);
    }
    bytes += "\r\n\r";
    const std::u16string text = decodeSettingsText(bytes);
    ASSERT_EQ(text.size(), 258u);
    for (int b = 0; b < 256; ++b) {
        EXPECT_EQ(text[static_cast<std::size_t>(b)], static_cast<char16_t>(b));
    }
    EXPECT_EQ(text.substr(256), u"\n\r");
}

} // namespace
} // namespace tavelio::testing
