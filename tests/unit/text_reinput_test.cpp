#include "reinput/text_reinput.h"
#include "tests/support/hooked_desktop.h"

#include <numeric>

namespace tavelio::testing {
namespace {

using platform::KeyInput;
using Batches = std::vector<std::vector<KeyInput>>;

KeyInput scan(std::uint16_t code, bool up, bool extended = false) {
    return injected(0, code, 0x8u | (up ? 0x2u : 0u) | (extended ? 0x1u : 0u));
}
KeyInput unicode(char16_t unit, bool up) {
    return injected(0, unit, up ? 0x6u : 0x4u);
}

using TextReinputTest = HookedDesktopTest;

TEST_F(TextReinputTest, EachCharacterGoesOutAsTheKeyStrokesThatProduceIt) {
    // A layout that has € on AltGr+E (Ctrl+Alt), and ß on a key without a scan code.
    sys().extraKeyScans[u'€'] = 0x0645;
    sys().extraKeyScans[u'ß'] = 0x00DF;
    const struct {
        std::u16string text;
        Batches batches;
        std::u16string typed;
        bool capsLock = false;
    } cases[] = {
        {u"k", {{scan(0x25, false), scan(0x25, true)}}, u"k"},
        {u"K", {{scan(0x2A, false), scan(0x25, false), scan(0x25, true), scan(0x2A, true)}}, u"K"},
        // Caps Lock on: Shift is inverted for the letters, so the case comes out as recorded.
        {u"K", {{scan(0x25, false), scan(0x25, true)}}, u"K", true},
        {u"k",
         {{scan(0x2A, false), scan(0x25, false), scan(0x25, true), scan(0x2A, true)}},
         u"k",
         true},
        {u"!",
         {{scan(0x2A, false), scan(0x02, false), scan(0x02, true), scan(0x2A, true)}},
         u"!",
         true},
        {u"!", {{scan(0x2A, false), scan(0x02, false), scan(0x02, true), scan(0x2A, true)}}, u"!"},
        {u"/", {{scan(0x35, false), scan(0x35, true)}}, u"/"},
        {u"€",
         {{scan(0x1D, false), scan(0x38, false), scan(0x12, false), scan(0x12, true),
           scan(0x38, true), scan(0x1D, true)}},
         u"€"},
        // The layout names a key but has no scan code for it: a Unicode packet instead.
        {u"ß", {{unicode(u'ß', false), unicode(u'ß', true)}}, u"ß"},
        // No key of the layout gives these: Unicode packets, a surrogate pair as two units.
        {u"é", {{unicode(u'é', false), unicode(u'é', true)}}, u"é"},
        {u"\U0001F600",
         {{unicode(0xD83D, false), unicode(0xD83D, true)},
          {unicode(0xDE00, false), unicode(0xDE00, true)}},
         u"\U0001F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(narrow(c.text));
        sys().batches.clear();
        sys().sleeps.clear();
        sys().toggled[vk::Capital] = c.capsLock;
        field().clear();
        EXPECT_TRUE(sendText(c.text));
        EXPECT_EQ(sys().batches, c.batches);
        EXPECT_EQ(field(), c.typed);
        EXPECT_EQ(sys().sleeps, std::vector<std::uint32_t>(c.batches.size(), 48));
        for (const auto key : {vk::Shift, vk::Control, vk::Menu}) {
            EXPECT_FALSE(sys().down[key]) << "left a modifier down";
        }
    }
}

TEST_F(TextReinputTest, AModifierWithoutScanCodeIsLeftOut) {
    sys().keysWithoutScanCode[fake::UsLayout] = {vk::LShift};
    EXPECT_TRUE(sendText(u"K"));
    EXPECT_EQ(sys().batches, (Batches{{scan(0x25, false), scan(0x25, true)}}));
}

TEST_F(TextReinputTest, PausesAreTheLeadInThenTheStepForTheTextLength) {
    const struct {
        std::size_t length;
        std::uint32_t step;
        std::uint32_t total;
    } cases[] = {
        {0, 0, 0},    {1, 0, 48},   {2, 0, 96},    {3, 8, 104},
        {10, 8, 160}, {11, 8, 168}, {12, 12, 216}, {20, 12, 312},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("length " + std::to_string(c.length));
        sys().sleeps.clear();
        EXPECT_TRUE(sendText(std::u16string(c.length, u'a')));
        std::vector<std::uint32_t> expected;
        for (std::size_t i = 0; i < c.length; ++i) {
            expected.push_back(i < 2 ? 48 : c.step);
        }
        EXPECT_EQ(sys().sleeps, expected);
        EXPECT_EQ(std::accumulate(sys().sleeps.begin(), sys().sleeps.end(), 0u), c.total);
    }
}

TEST_F(TextReinputTest, TheTraceNamesTheFirstTwoCharacters) {
    EXPECT_TRUE(sendText(u"a\"b"));
    EXPECT_EQ(runLines(), (Lines{
                              "[OUT] SEND_TEXT_BEGIN len=3 text=\"a\\\"b\"",
                              "[OUT] SEND_TEXT_LEADIN index=1 ch=\"a\" delayMs=48",
                              "[OUT] SEND_TEXT_LEADIN index=2 ch=\"\\\"\" delayMs=48",
                              "[OUT] SEND_TEXT_DONE len=3",
                          }));
}

TEST_F(TextReinputTest, AnEmptyTextWritesBeginAndDoneOnly) {
    EXPECT_TRUE(sendText(u""));
    EXPECT_TRUE(sys().batches.empty());
    EXPECT_EQ(out("SEND_TEXT_BEGIN"), Lines{"len=0 text=\"\""});
    EXPECT_EQ(out("SEND_TEXT_DONE"), Lines{"len=0"});
}

TEST_F(TextReinputTest, TwoSpacesBothTakeTheLeadIn) {
    field() = u"ka";
    EXPECT_TRUE(sendText(u"  "));
    EXPECT_EQ(field(), u"ka  ");
    EXPECT_EQ(out("SEND_TEXT_LEADIN"),
              (Lines{"index=1 ch=\" \" delayMs=48", "index=2 ch=\" \" delayMs=48"}));
    EXPECT_EQ(sys().sleeps, (std::vector<std::uint32_t>{48, 48}));
}

TEST_F(TextReinputTest, WithTheImeOnTheRomajiBecomeKana) {
    ime().open = true;
    ime().conversion = 0x9;
    EXPECT_TRUE(sendText(u"konnnichiha"));
    EXPECT_EQ(field(), u"こんにちは");
    EXPECT_EQ(sys().window(edit_).composition, u"");
}

TEST_F(TextReinputTest, ARefusedKeyStrokeStopsAtThatCharacter) {
    sys().acceptLimit = 5; // "ab" whole, then only the Shift press of "C"
    sys().refusesOnce = true;
    EXPECT_FALSE(sendText(u"abCd"));
    // The Shift it pressed is let go again: nothing stays down for the user.
    ASSERT_EQ(sys().batches.size(), 4u);
    EXPECT_EQ(sys().batches.back(), (Batches::value_type{scan(0x2A, true)}));
    EXPECT_FALSE(sys().down[vk::Shift]);
    EXPECT_EQ(field(), u"ab");
    EXPECT_EQ(sys().sleeps, (std::vector<std::uint32_t>{48, 48}));
    auto lines = logLines(LogChannel::Output);
    lines.erase(lines.begin(), lines.end() - 2);
    EXPECT_EQ(lines,
              (Lines{"[OUT] SENDINPUT_FAIL expected=4 sent=1 err=5 ctrl=0 lctrl=0 rctrl=0 shift=1 "
                     "alt=0 win=0 bs=0",
                     "[OUT] SEND_TEXT_FAIL index=3 ch=\"C\""}));
    EXPECT_TRUE(out("SEND_TEXT_DONE").empty());
}

TEST_F(TextReinputTest, ARefusedUnicodePacketWritesOnlyTheSendInputLine) {
    sys().acceptLimit = 2;
    EXPECT_FALSE(sendText(u"aé"));
    EXPECT_EQ(field(), u"a");
    EXPECT_EQ(out("SENDINPUT_FAIL").size(), 1u);
    EXPECT_TRUE(out("SEND_TEXT_FAIL").empty());
    EXPECT_TRUE(out("SEND_TEXT_DONE").empty());
}

} // namespace
} // namespace tavelio::testing
