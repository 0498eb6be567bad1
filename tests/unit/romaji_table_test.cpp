#include "capture/romaji_table.h"

#include "capture/romaji_gate.h"
#include "tests/support/fake_test.h"

#include <gtest/gtest.h>

namespace tavelio::testing {
namespace {

// What an application shows after the whole text was typed and the composition ended.
std::u16string typed(std::u16string_view text) {
    std::u16string shown, pending;
    for (const char16_t c : text) {
        auto step = typeRomaji(pending, c);
        shown += step.committed;
        pending = std::move(step.pending);
    }
    return shown + finishRomaji(pending);
}

struct Conversion {
    std::u16string_view romaji, kana;
};

void expectConversions(std::initializer_list<Conversion> cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(narrow(typed(c.romaji)), narrow(c.kana)) << narrow(c.romaji);
    }
}

TEST(RomajiTableTest, BasicSyllablesInHepburnAndKunreiSpellings) {
    expectConversions({
        {u"aiueo", u"あいうえお"},
        {u"kakikukeko", u"かきくけこ"},
        {u"sashisuseso", u"さしすせそ"},
        {u"sasisuseso", u"さしすせそ"},
        {u"tachitsuteto", u"たちつてと"},
        {u"tatituteto", u"たちつてと"},
        {u"naninuneno", u"なにぬねの"},
        {u"hahifuheho", u"はひふへほ"},
        {u"hahihuheho", u"はひふへほ"},
        {u"mamimumemo", u"まみむめも"},
        {u"yayuyo", u"やゆよ"},
        {u"rarirurero", u"らりるれろ"},
        {u"wawo", u"わを"},
        {u"gagigugego", u"がぎぐげご"},
        {u"zajizuzezo", u"ざじずぜぞ"},
        {u"zazizuzezo", u"ざじずぜぞ"},
        {u"dadidudedo", u"だぢづでど"},
        {u"babibubebo", u"ばびぶべぼ"},
        {u"papipupepo", u"ぱぴぷぺぽ"},
    });
}

TEST(RomajiTableTest, YCombinationsInBothSystems) {
    expectConversions({
        {u"kyakyukyo", u"きゃきゅきょ"},
        {u"gyagyugyo", u"ぎゃぎゅぎょ"},
        {u"shashusho", u"しゃしゅしょ"},
        {u"syasyusyo", u"しゃしゅしょ"},
        {u"jajujo", u"じゃじゅじょ"},
        {u"zyazyuzyo", u"じゃじゅじょ"},
        {u"chachucho", u"ちゃちゅちょ"},
        {u"tyatyutyo", u"ちゃちゅちょ"},
        {u"nyanyunyo", u"にゃにゅにょ"},
        {u"hyahyuhyo", u"ひゃひゅひょ"},
        {u"byabyubyo", u"びゃびゅびょ"},
        {u"pyapyupyo", u"ぴゃぴゅぴょ"},
        {u"myamyumyo", u"みゃみゅみょ"},
        {u"ryaryuryo", u"りゃりゅりょ"},
    });
}

TEST(RomajiTableTest, DoubledConsonantsBecomeSmallTsu) {
    expectConversions({
        {u"kitte", u"きって"},
        {u"zasshi", u"ざっし"},
        {u"kekka", u"けっか"},
        {u"ippai", u"いっぱい"},
        {u"mittsu", u"みっつ"},
        {u"matcha", u"まっちゃ"},
        {u"maccha", u"まっちゃ"},
        {u"xtu", u"っ"},
    });
}

TEST(RomajiTableTest, SyllabicN) {
    expectConversions({
        {u"konnichiha", u"こんにちは"},
        {u"kanji", u"かんじ"},
        {u"shinbun", u"しんぶん"},
        {u"kon'ya", u"こんや"},
        {u"konya", u"こにゃ"},
        {u"honn", u"ほん"},
        {u"hon", u"ほん"},   // a lone n when the composition ends
        {u"hon.", u"ほん."}, // and before a non-letter
        {u"hon ", u"ほん "},
        {u"sanpo", u"さんぽ"},
        {u"nnn", u"んん"},
        {u"konnnichiha", u"こんにちは"},
        {u"minna", u"みんな"},
        {u"konnyaku", u"こんにゃく"},
        {u"onnnn", u"おんん"},
    });
}

TEST(RomajiTableTest, PendingNnIsShownAsN) {
    EXPECT_EQ(narrow(displayRomaji(u"nn")), "ん");
    EXPECT_EQ(narrow(displayRomaji(u"n")), "n");
    EXPECT_EQ(narrow(displayRomaji(u"ky")), "ky");
}

TEST(RomajiTableTest, WordsAndCase) {
    expectConversions({
        {u"desu", u"です"},
        {u"ka", u"か"},
        {u"KA", u"か"},
        {u"Arigatou", u"ありがとう"},
        {u"nihongo", u"にほんご"},
        {u"toukyou", u"とうきょう"},
    });
}

TEST(RomajiTableTest, LettersThatAreNoRomajiStayAsTyped) {
    expectConversions({
        {u"q", u"q"},
        {u"kqa", u"kくぁ"},
        {u"kya1", u"きゃ1"},
        {u"ky.", u"ky."},
        {u"k", u"k"},
    });
}

TEST(RomajiTableTest, EachStepCommitsWhatIsCompleteAndKeepsTheRestPending) {
    const struct {
        std::u16string_view pending;
        char16_t typed;
        std::u16string_view committed, stillPending;
    } cases[] = {
        {u"", u'k', u"", u"k"},    {u"k", u'a', u"か", u""},   {u"k", u'k', u"っ", u"k"},
        {u"s", u'h', u"", u"sh"},  {u"sh", u'i', u"し", u""},  {u"n", u'n', u"", u"nn"},
        {u"n", u'k', u"ん", u"k"}, {u"n", u'y', u"", u"ny"},   {u"n", u'a', u"な", u""},
        {u"n", u'\'', u"ん", u""}, {u"n", u'!', u"ん!", u""},  {u"t", u'c', u"っ", u"c"},
        {u"k", u'q', u"k", u"q"},  {u"ch", u'k', u"ch", u"k"}, {u"", u'A', u"あ", u""},
        {u"", u'.', u".", u""},    {u"xts", u'u', u"っ", u""}, {u"k", u'Y', u"", u"ky"},
    };
    for (const auto& c : cases) {
        const auto step = typeRomaji(c.pending, c.typed);
        EXPECT_EQ(narrow(step.committed), narrow(c.committed))
            << narrow(c.pending) << " + " << static_cast<char>(c.typed);
        EXPECT_EQ(narrow(step.pending), narrow(c.stillPending))
            << narrow(c.pending) << " + " << static_cast<char>(c.typed);
    }
}

// What Ctrl+Backspace converts of a recorded text: the part, or nothing.
TEST(RomajiTableTest, TheGateConvertsTheRomajiAtTheEndAndNoEnglish) {
    const struct {
        std::u16string_view text, part;
    } cases[] = {
        // Converted whole.
        {u"konnichiha", u"konnichiha"},
        {u"arigatou gozaimasu", u"arigatou gozaimasu"},
        {u"sushi", u"sushi"},
        {u"kana", u"kana"},
        {u"kanji", u"kanji"},
        {u"tsunami", u"tsunami"},
        {u"toukyou", u"toukyou"},
        {u"kyou ha ii tenki desu ne", u"kyou ha ii tenki desu ne"},
        {u"ganbatte!", u"ganbatte!"},
        {u"koohii", u"koohii"},
        {u"2kara 5", u"2kara 5"},
        {u"nihon", u"nihon"},
        {u"kin'you", u"kin'you"},
        {u"matcha ", u"matcha "}, // with its trailing space
        // Only the tail.
        {u"I said arigatou", u"arigatou"},
        {u"meeting ha ashita", u"ha ashita"},
        {u"see you ashita", u"ashita"},
        {u"call me ashita", u"ashita"},
        {u"I'm home tadaima", u"tadaima"},
        {u"I need to go, jaa ne", u"jaa ne"},
        {u"meet at 3 ashita", u"ashita"}, // the 3 would go through the IME
        {u"to no kekka", u"no kekka"},    // one word Japanese uses more, no further
        {u"ashita you ", u"ashita you "}, // English after the Japanese is part of it
        // Nothing.
        {u"hello world", u""},
        {u"the", u""},
        {u"see you", u""},
        {u"I went to", u""},
        {u"time", u""},
        {u"take care", u""},
        {u"OK", u""},
        {u"KA", u""},
        {u"Konnichiha", u""},
        {u"www.example.com", u""},
        {u"12345", u""},
        {u"hallo", u""}, // a doubled l: the IME's small tsu, no typist's
        {u"cake", u""},  // c before a vowel
        {u"quote", u""}, // the q row
        {u"kan ", u"kan "},
        {u"", u""},
        {u"   ", u""},
    };
    for (const auto& c : cases) {
        const RomajiPart part = findRomajiPart(c.text);
        EXPECT_EQ(narrow(part.of(c.text)), narrow(c.part)) << narrow(c.text);
        EXPECT_EQ(part.convert(), !c.part.empty()) << narrow(c.text);
        EXPECT_EQ(part.keepLen + part.romajiLen + part.trailingSpaces, c.text.size())
            << narrow(c.text);
    }
}

} // namespace
} // namespace tavelio::testing
