#include "tests/support/fake_romaji.h"

#include <cstddef>
#include <string_view>

namespace tavelio::fake {

namespace {

struct Syllable {
    std::u16string_view romaji;
    std::u16string_view kana;
};

constexpr Syllable table[] = {
    {u"a", u"あ"},     {u"i", u"い"},     {u"u", u"う"},     {u"e", u"え"},     {u"o", u"お"},
    {u"ka", u"か"},    {u"ki", u"き"},    {u"ku", u"く"},    {u"ke", u"け"},    {u"ko", u"こ"},
    {u"sa", u"さ"},    {u"shi", u"し"},   {u"si", u"し"},    {u"su", u"す"},    {u"se", u"せ"},
    {u"so", u"そ"},    {u"ta", u"た"},    {u"chi", u"ち"},   {u"ti", u"ち"},    {u"tsu", u"つ"},
    {u"tu", u"つ"},    {u"te", u"て"},    {u"to", u"と"},    {u"na", u"な"},    {u"ni", u"に"},
    {u"nu", u"ぬ"},    {u"ne", u"ね"},    {u"no", u"の"},    {u"ha", u"は"},    {u"hi", u"ひ"},
    {u"fu", u"ふ"},    {u"hu", u"ふ"},    {u"he", u"へ"},    {u"ho", u"ほ"},    {u"ma", u"ま"},
    {u"mi", u"み"},    {u"mu", u"む"},    {u"me", u"め"},    {u"mo", u"も"},    {u"ya", u"や"},
    {u"yu", u"ゆ"},    {u"yo", u"よ"},    {u"ra", u"ら"},    {u"ri", u"り"},    {u"ru", u"る"},
    {u"re", u"れ"},    {u"ro", u"ろ"},    {u"wa", u"わ"},    {u"wo", u"を"},    {u"nn", u"ん"},
    {u"ga", u"が"},    {u"gi", u"ぎ"},    {u"gu", u"ぐ"},    {u"ge", u"げ"},    {u"go", u"ご"},
    {u"za", u"ざ"},    {u"ji", u"じ"},    {u"zu", u"ず"},    {u"ze", u"ぜ"},    {u"zo", u"ぞ"},
    {u"da", u"だ"},    {u"de", u"で"},    {u"do", u"ど"},    {u"ba", u"ば"},    {u"bi", u"び"},
    {u"bu", u"ぶ"},    {u"be", u"べ"},    {u"bo", u"ぼ"},    {u"pa", u"ぱ"},    {u"pi", u"ぴ"},
    {u"pu", u"ぷ"},    {u"pe", u"ぺ"},    {u"po", u"ぽ"},    {u"kya", u"きゃ"}, {u"kyu", u"きゅ"},
    {u"kyo", u"きょ"}, {u"sha", u"しゃ"}, {u"shu", u"しゅ"}, {u"sho", u"しょ"}, {u"cha", u"ちゃ"},
    {u"chu", u"ちゅ"}, {u"cho", u"ちょ"},
};

bool isVowel(char16_t c) {
    return c == u'a' || c == u'i' || c == u'u' || c == u'e' || c == u'o';
}
bool isLetter(char16_t c) {
    return c >= u'a' && c <= u'z';
}

bool isPrefixOfSome(std::u16string_view text) {
    for (const auto& s : table) {
        if (s.romaji.substr(0, text.size()) == text) {
            return true;
        }
    }
    return false;
}

} // namespace

RomajiStep convertRomaji(const std::u16string& pending, char16_t typed) {
    RomajiStep step;
    const char16_t lower = (typed >= u'A' && typed <= u'Z') ? typed + 0x20 : typed;
    std::u16string text = pending;
    if (!isLetter(lower)) {
        // A non-letter ends the composition: a lone n becomes ん.
        step.committed = (text == u"n") ? std::u16string(u"ん") : text;
        step.committed += typed;
        return step;
    }
    // A doubled consonant (not n) becomes っ.
    if (text.size() == 1 && text[0] == lower && !isVowel(lower) && lower != u'n') {
        step.committed = u"っ";
        step.pending = std::u16string(1, lower);
        return step;
    }
    // n before a consonant other than n or y becomes ん.
    if (text == u"n" && !isVowel(lower) && lower != u'n' && lower != u'y') {
        step.committed = u"ん";
        text.clear();
    }
    text += lower;
    for (const auto& s : table) {
        if (s.romaji == text) {
            step.committed += s.kana;
            return step;
        }
    }
    if (!isPrefixOfSome(text)) {
        step.committed += text; // not romaji: leave it as typed
        return step;
    }
    step.pending = text;
    return step;
}

} // namespace tavelio::fake
