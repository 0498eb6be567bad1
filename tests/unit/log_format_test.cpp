#include "log/log_format.h"
#include "platform/constants.h"
#include "tests/support/fake_test.h"

namespace tavelio::testing {
namespace {

using LogFormatTest = FakeSystemTest;

TEST_F(LogFormatTest, EscapeLogTextTable) {
    expectEach<std::u16string, std::string>(
        {{u"", ""},
         {u"plain", "plain"},
         {u"a\"b\\c", "a\\\"b\\\\c"},
         {u"\t\n\r", "\\t\\n\\r"},
         {std::u16string(1, u'\0') + u"\x01\x7F", "\\u0000\\u0001\\u007F"},
         {u"\x1B", "\\u001B"},
         {u"\u00E9\u3042", "\u00E9\u3042"},
         {u"~ ", "~ "}},
        [](const std::u16string& in) { return narrow(escapeLogText(in)); });
}

TEST_F(LogFormatTest, EscapeLeavesLoneSurrogatesAlone) {
    const std::u16string lone(1, static_cast<char16_t>(0xD800));
    EXPECT_EQ(escapeLogText(lone), lone);
}

TEST_F(LogFormatTest, SummarizeTextCountsCodeUnits) {
    expectEach<std::u16string, std::u16string>(
        {{u"konnichiha", u"len=10 first2=\"ko\" last2=\"ha\""},
         {u"k", u"len=1 first2=\"k\" last2=\"k\""},
         {u"", u"len=0 first2=\"\" last2=\"\""},
         {u"\"\\x", u"len=3 first2=\"\\\"\\\\\" last2=\"\\\\x\""},
         // A pair outside the BMP counts two units and may be cut in half.
         {u"a\U0001F600", u"len=3 first2=\"a\xD83D\" last2=\"\U0001F600\""}},
        summarizeText);
}

TEST_F(LogFormatTest, ModifierStateReadsEachKeyAtCallTime) {
    EXPECT_EQ(narrow(describeModifierState()), "ctrl=0 lctrl=0 rctrl=0 shift=0 alt=0 win=0 bs=0");
    sys().press(vk::LControl);
    sys().press(vk::Back);
    EXPECT_EQ(narrow(describeModifierState()), "ctrl=1 lctrl=1 rctrl=0 shift=0 alt=0 win=0 bs=1");
    sys().releaseAll();
    sys().press(vk::RWin);
    sys().press(vk::RShift);
    sys().press(vk::Menu);
    EXPECT_EQ(narrow(describeModifierState()), "ctrl=0 lctrl=0 rctrl=0 shift=1 alt=1 win=1 bs=0");
}

TEST_F(LogFormatTest, WindowContextWithoutForegroundWindow) {
    EXPECT_EQ(narrow(describeWindowContext()),
              "fg=0x0 focus=0x0 target=0x0 pid=0 exe=\"\" class=\"\" title=\"\"");
}

TEST_F(LogFormatTest, WindowContextNamesTheFocusedControl) {
    // The first editor of a fresh system: window 0x10010, its edit control 0x10020,
    // process 4000. Literal values, so that the handles' formatting is checked too.
    ASSERT_EQ(sys().addEditor(u"C:\\Program Files\\Editor\\Edit\"or.exe"), 0x10020u);
    EXPECT_EQ(narrow(describeWindowContext()),
              "fg=0x10010 focus=0x10020 target=0x10020 pid=4000 exe=\"Edit\\\"or.exe\" "
              "class=\"Edit\" title=\"\"");
}

TEST_F(LogFormatTest, WindowContextFallsBackToForegroundAndCutsLongTitles) {
    const auto pid = sys().addProcess(u"C:\\x\\app.exe");
    const auto tid = sys().addThread(pid);
    const auto top = sys().addWindow(tid, u"Main", std::u16string(300, u'T'));
    ASSERT_EQ(top, 0x10010u);
    sys().activate(top);
    const auto text = narrow(describeWindowContext());
    EXPECT_NE(text.find("focus=0x0 target=0x10010 "), std::string::npos);
    EXPECT_NE(text.find("title=\"" + std::string(255, 'T') + "\""), std::string::npos);
    EXPECT_EQ(text.find(std::string(256, 'T')), std::string::npos);
}

TEST_F(LogFormatTest, ProcessImageNameTable) {
    const struct {
        const char* name;
        std::u16string path;
        bool canOpen;
        bool canQueryImage;
        std::u16string expected;
    } cases[] = {
        {"backslashes", u"C:\\Windows\\System32\\CMD.EXE", true, true, u"CMD.EXE"},
        {"forward slashes", u"C:/tools/vim.exe", true, true, u"vim.exe"},
        {"no folder", u"bare.exe", true, true, u"bare.exe"},
        {"process cannot be opened", u"C:\\secure\\vault.exe", false, true, u""},
        {"image name cannot be read", u"C:\\x\\hidden.exe", true, false, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pid = sys().addProcess(c.path);
        sys().processes.at(pid).canOpen = c.canOpen;
        sys().processes.at(pid).canQueryImage = c.canQueryImage;
        EXPECT_EQ(processImageName(sys().addWindow(sys().addThread(pid), u"W")), c.expected);
    }
    EXPECT_EQ(processImageName(0), u"");
    EXPECT_EQ(processImageName(0xDEAD), u""); // no such window
}

TEST_F(LogFormatTest, NumberForms) {
    EXPECT_EQ(decimal(0), u"0");
    EXPECT_EQ(decimal(UINT64_MAX), u"18446744073709551615");
    EXPECT_EQ(signedDecimal(-1), u"-1");
    EXPECT_EQ(signedDecimal(INT64_MIN), u"-9223372036854775808");
    EXPECT_EQ(lowerHex(0), u"0");
    EXPECT_EQ(lowerHex(0x30554), u"30554");
    EXPECT_EQ(lowerHex(UINT64_MAX), u"ffffffffffffffff");
    EXPECT_EQ(upperHex2(0x0D), u"0D");
    EXPECT_EQ(upperHex2(0x1AB), u"1AB");
}

} // namespace
} // namespace tavelio::testing
