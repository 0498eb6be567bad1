#include "capture/romaji_table.h"

#include "capture/romaji_gate.h"
#include "capture/romaji_hint.h"
#include "platform/constants.h"
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

// The hint beside the caret: when it shows, what it says, when it goes. From a
// record in notepad's field with the IME off; the hint showed for that field.
TEST(RomajiTableTest, TheHintShowsTheKanaOnceAWordEndsAndGoesAtOnce) {
    using enum HintAction;
    using enum HintReason;
    enum : unsigned {
        Visible = 1,
        Cleared = 2,      // the record was cleared since the hint showed
        ImeOn = 4,        // the watcher read the IME on
        OtherField = 8,   // another field of the same window has the focus
        OtherWindow = 16, // another window is in front
        Excluded = 32,    // the program in front takes no part
        Password = 64,
        HintOff = 128,
        Paused = 256,
        RunBegins = 512,
        RomajiOnlyOff = 1024,
        Truncated = 2048,
        ImeUnknown = 4096,
        NothingRead = 8192,
    };
    const struct {
        const char* name;
        std::u16string_view text;
        std::uint32_t sinceKeyMs;
        unsigned options;
        HintAction action;
        HintReason reason = none;
        std::u16string_view kana = u"";
        std::uint32_t lookAgainMs = 0;
        std::uint32_t lastKey = 'A';
    } rows[] = {
        {"a word ends", u"konnichiha ", 10, 0, show, none, u"こんにちは", 7990},
        {"a comma ends it", u"konnichiha,", 10, 0, show, none, u"こんにちは,", 7990},
        {"a full stop ends it", u"arigatou.", 10, 0, show, none, u"ありがとう.", 7990},
        {"mid-word: looked at again when the pause is over", u"konnichiha", 100, 0, stayHidden,
         none, u"", 500},
        {"a pause of 600 ms", u"konnichiha", 600, 0, show, none, u"こんにちは", 7400},
        {"English: the gate says no", u"hello world ", 10, 0, stayHidden},
        {"English, paused", u"hello world", 700, 0, stayHidden},
        {"under 6 letters", u"kana ", 10, 0, stayHidden},
        {"6 letters", u"sushi ga ", 10, 0, show, none, u"すし が", 7990},
        {"only the Japanese tail counts", u"I said kana ", 10, 0, stayHidden},
        {"typing on: it follows mid-word", u"konnichiha kyo", 50, Visible, show, none,
         u"こんにちは きょ", 7950},
        {"long: its end, after …", u"kyou ha ii tenki desu ne ", 10, 0, show, none,
         u"…う は いい てんき です ね", 7990},
        {"romajiOnly off: the whole record", u"see you ashita ", 10, RomajiOnlyOff, show, none,
         u"せえ よう あした", 7990},
        {"Enter cleared it", u"", 10, Visible | Cleared, hide, cleared, u"", 0, vk::Return},
        {"cleared, and typed on since", u"ko", 10, Visible | Cleared, hide, cleared},
        {"Esc", u"", 10, Visible | Cleared, hide, escape, u"", 0, vk::Escape},
        {"the hotkey", u"konnichiha ", 10, Visible | RunBegins, hide, hotkey},
        {"the IME went on", u"konnichiha ", 10, Visible | ImeOn, hide, imeOn},
        {"the IME on: nothing shows", u"konnichiha ", 10, ImeOn, stayHidden},
        {"the IME not read yet", u"konnichiha ", 10, ImeUnknown, stayHidden},
        {"another field", u"konnichiha ", 10, Visible | OtherField, hide, focus},
        {"another window", u"konnichiha ", 10, Visible | OtherWindow, hide, focus},
        {"a program left alone", u"konnichiha ", 10, Excluded, stayHidden},
        {"a password box", u"konnichiha ", 10, Password, stayHidden},
        {"nothing read of the desktop", u"konnichiha ", 10, NothingRead, stayHidden},
        {"8 s without a key", u"konnichiha ", 8000, Visible, hide, idle},
        {"7.9 s: it stays", u"konnichiha ", 7900, Visible, show, none, u"こんにちは", 100},
        {"the hint switched off", u"konnichiha ", 10, Visible | HintOff, hide, setting},
        {"paused from the tray", u"konnichiha ", 10, Visible | Paused, hide, setting},
        {"Backspace below 6 letters", u"konni", 10, Visible, hide, noRomaji},
        {"English typed after it", u"konnichiha and the ", 10, Visible, hide, noRomaji},
        {"a record the hotkey cannot run over", u"konnichiha ", 10, Truncated, stayHidden},
    };
    constexpr platform::WindowHandle Notepad = 0x100, Field = 0x101;
    for (const auto& row : rows) {
        const auto on = [&](unsigned option) {
            return (row.options & option) != 0;
        };
        HintShown shown{on(Visible), 5, Notepad, Field};
        HintView view;
        view.text = row.text;
        view.clears = on(Cleared) ? 6 : 5;
        view.canExecute = !on(Truncated) && !row.text.empty();
        view.lastKey = row.lastKey;
        view.lastKeyTick = 50000;
        view.now = 50000 + row.sinceKeyMs;
        view.enabled = !on(Paused);
        view.romajiHint = !on(HintOff);
        view.romajiOnly = !on(RomajiOnlyOff);
        view.runBegins = on(RunBegins);
        view.facts.generation = on(NothingRead) ? 0 : 3;
        view.facts.foreground = on(OtherWindow) ? 0x200 : Notepad;
        view.facts.focus = on(OtherWindow) ? 0x201 : (on(OtherField) ? 0x102 : Field);
        view.facts.allowed = !on(Excluded);
        view.facts.password = on(Password);
        view.facts.ime =
            on(ImeOn) ? ImeReading::on : (on(ImeUnknown) ? ImeReading::unknown : ImeReading::off);

        const HintDecision decision = decideHint(shown, view);
        EXPECT_EQ(decision.action, row.action) << row.name;
        EXPECT_EQ(narrow(hintReasonName(decision.reason)), narrow(hintReasonName(row.reason)))
            << row.name;
        EXPECT_EQ(narrow(decision.kana), narrow(row.kana)) << row.name;
        EXPECT_EQ(decision.lookAgainMs, row.lookAgainMs) << row.name;
    }
}

} // namespace
} // namespace tavelio::testing
