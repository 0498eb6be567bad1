#include "capture/romaji_table.h"

namespace tavelio {

namespace {

struct Spelling {
    std::u16string_view romaji;
    std::u16string_view kana;
};

// Hepburn and Kunrei spellings side by side, plus the x/l small kana that IMEs accept.
constexpr Spelling spellings[] = {
    {u"a", u"あ"},     {u"i", u"い"},     {u"u", u"う"},     {u"e", u"え"},     {u"o", u"お"},
    {u"ka", u"か"},    {u"ki", u"き"},    {u"ku", u"く"},    {u"ke", u"け"},    {u"ko", u"こ"},
    {u"sa", u"さ"},    {u"shi", u"し"},   {u"si", u"し"},    {u"su", u"す"},    {u"se", u"せ"},
    {u"so", u"そ"},    {u"ta", u"た"},    {u"chi", u"ち"},   {u"ti", u"ち"},    {u"tsu", u"つ"},
    {u"tu", u"つ"},    {u"te", u"て"},    {u"to", u"と"},    {u"na", u"な"},    {u"ni", u"に"},
    {u"nu", u"ぬ"},    {u"ne", u"ね"},    {u"no", u"の"},    {u"ha", u"は"},    {u"hi", u"ひ"},
    {u"fu", u"ふ"},    {u"hu", u"ふ"},    {u"he", u"へ"},    {u"ho", u"ほ"},    {u"ma", u"ま"},
    {u"mi", u"み"},    {u"mu", u"む"},    {u"me", u"め"},    {u"mo", u"も"},    {u"ya", u"や"},
    {u"yu", u"ゆ"},    {u"yo", u"よ"},    {u"ye", u"いぇ"},  {u"ra", u"ら"},    {u"ri", u"り"},
    {u"ru", u"る"},    {u"re", u"れ"},    {u"ro", u"ろ"},    {u"wa", u"わ"},    {u"wi", u"うぃ"},
    {u"we", u"うぇ"},  {u"wo", u"を"},    {u"ga", u"が"},    {u"gi", u"ぎ"},    {u"gu", u"ぐ"},
    {u"ge", u"げ"},    {u"go", u"ご"},    {u"za", u"ざ"},    {u"ji", u"じ"},    {u"zi", u"じ"},
    {u"zu", u"ず"},    {u"ze", u"ぜ"},    {u"zo", u"ぞ"},    {u"da", u"だ"},    {u"di", u"ぢ"},
    {u"du", u"づ"},    {u"de", u"で"},    {u"do", u"ど"},    {u"ba", u"ば"},    {u"bi", u"び"},
    {u"bu", u"ぶ"},    {u"be", u"べ"},    {u"bo", u"ぼ"},    {u"pa", u"ぱ"},    {u"pi", u"ぴ"},
    {u"pu", u"ぷ"},    {u"pe", u"ぺ"},    {u"po", u"ぽ"},    {u"va", u"ゔぁ"},  {u"vi", u"ゔぃ"},
    {u"vu", u"ゔ"},    {u"ve", u"ゔぇ"},  {u"vo", u"ゔぉ"},  {u"fa", u"ふぁ"},  {u"fi", u"ふぃ"},
    {u"fe", u"ふぇ"},  {u"fo", u"ふぉ"},  {u"kya", u"きゃ"}, {u"kyu", u"きゅ"}, {u"kyo", u"きょ"},
    {u"gya", u"ぎゃ"}, {u"gyu", u"ぎゅ"}, {u"gyo", u"ぎょ"}, {u"sha", u"しゃ"}, {u"shu", u"しゅ"},
    {u"she", u"しぇ"}, {u"sho", u"しょ"}, {u"sya", u"しゃ"}, {u"syu", u"しゅ"}, {u"syo", u"しょ"},
    {u"ja", u"じゃ"},  {u"ju", u"じゅ"},  {u"je", u"じぇ"},  {u"jo", u"じょ"},  {u"jya", u"じゃ"},
    {u"jyu", u"じゅ"}, {u"jyo", u"じょ"}, {u"zya", u"じゃ"}, {u"zyu", u"じゅ"}, {u"zyo", u"じょ"},
    {u"cha", u"ちゃ"}, {u"chu", u"ちゅ"}, {u"che", u"ちぇ"}, {u"cho", u"ちょ"}, {u"tya", u"ちゃ"},
    {u"tyu", u"ちゅ"}, {u"tyo", u"ちょ"}, {u"cya", u"ちゃ"}, {u"cyu", u"ちゅ"}, {u"cyo", u"ちょ"},
    {u"dya", u"ぢゃ"}, {u"dyu", u"ぢゅ"}, {u"dyo", u"ぢょ"}, {u"nya", u"にゃ"}, {u"nyu", u"にゅ"},
    {u"nyo", u"にょ"}, {u"hya", u"ひゃ"}, {u"hyu", u"ひゅ"}, {u"hyo", u"ひょ"}, {u"bya", u"びゃ"},
    {u"byu", u"びゅ"}, {u"byo", u"びょ"}, {u"pya", u"ぴゃ"}, {u"pyu", u"ぴゅ"}, {u"pyo", u"ぴょ"},
    {u"mya", u"みゃ"}, {u"myu", u"みゅ"}, {u"myo", u"みょ"}, {u"rya", u"りゃ"}, {u"ryu", u"りゅ"},
    {u"ryo", u"りょ"}, {u"xa", u"ぁ"},    {u"xi", u"ぃ"},    {u"xu", u"ぅ"},    {u"xe", u"ぇ"},
    {u"xo", u"ぉ"},    {u"xya", u"ゃ"},   {u"xyu", u"ゅ"},   {u"xyo", u"ょ"},   {u"xtu", u"っ"},
    {u"xtsu", u"っ"},  {u"xwa", u"ゎ"},   {u"la", u"ぁ"},    {u"li", u"ぃ"},    {u"lu", u"ぅ"},
    {u"le", u"ぇ"},    {u"lo", u"ぉ"},    {u"lya", u"ゃ"},   {u"lyu", u"ゅ"},   {u"lyo", u"ょ"},
    {u"ltu", u"っ"},   {u"ltsu", u"っ"},  {u"lwa", u"ゎ"},
};

constexpr std::u16string_view smallTsu = u"っ";
constexpr std::u16string_view syllabicN = u"ん";

bool isVowel(char16_t c) {
    return c == u'a' || c == u'i' || c == u'u' || c == u'e' || c == u'o';
}

char16_t toLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

std::u16string_view kanaOf(std::u16string_view romaji) {
    for (const auto& s : spellings) {
        if (s.romaji == romaji) {
            return s.kana;
        }
    }
    return {};
}

bool startsSomeSpelling(std::u16string_view romaji) {
    for (const auto& s : spellings) {
        if (s.romaji.starts_with(romaji)) {
            return true;
        }
    }
    return false;
}

RomajiStep typeLetter(std::u16string_view pending, char16_t letter) {
    RomajiStep step;
    std::u16string text(pending);
    // kk, ss, tt ... and Hepburn's tch: the first consonant becomes a small tsu.
    const bool doubled =
        text.size() == 1 && text[0] == letter && letter != u'n' && !isVowel(letter);
    if (doubled || (text == u"t" && letter == u'c')) {
        step.committed = smallTsu;
        step.pending = std::u16string(1, letter);
        return step;
    }
    // nn waits for the next letter: before a vowel or y the second n starts the next syllable,
    // so both konnichiha and konnnichiha give こんにちは.
    if (text == u"n" && letter == u'n') {
        step.pending = u"nn";
        return step;
    }
    if (text == u"nn") {
        step.committed = syllabicN;
        text = (isVowel(letter) || letter == u'y') ? u"n" : u"";
    }
    // n before any other consonant is ん.
    if (text == u"n" && !isVowel(letter) && letter != u'y') {
        step.committed = syllabicN;
        text.clear();
    }
    text += letter;
    if (const auto kana = kanaOf(text); !kana.empty()) {
        step.committed += kana;
        return step;
    }
    if (startsSomeSpelling(text)) {
        step.pending = std::move(text);
        return step;
    }
    // A dead end: the letters before stay as typed and the new one starts afresh.
    text.pop_back();
    step.committed += text;
    if (text.empty()) {
        step.committed += letter; // a letter no spelling starts with
        return step;
    }
    RomajiStep fresh = typeLetter({}, letter);
    step.committed += fresh.committed;
    step.pending = std::move(fresh.pending);
    return step;
}

} // namespace

bool isRomajiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::u16string finishRomaji(std::u16string_view pending) {
    return (pending == u"n" || pending == u"nn") ? std::u16string(syllabicN)
                                                 : std::u16string(pending);
}

std::u16string displayRomaji(std::u16string_view pending) {
    return pending == u"nn" ? std::u16string(syllabicN) : std::u16string(pending);
}

RomajiStep typeRomaji(std::u16string_view pending, char16_t typed) {
    if (isRomajiLetter(typed)) {
        return typeLetter(pending, toLower(typed));
    }
    RomajiStep step;
    if ((pending == u"n" || pending == u"nn") && typed == u'\'') {
        step.committed = syllabicN; // n' separates ん from a following vowel or y
        return step;
    }
    step.committed = finishRomaji(pending);
    step.committed += typed;
    return step;
}

} // namespace tavelio
