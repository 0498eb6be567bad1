#include "capture/romaji_table.h"

#include "capture/romaji_gate.h"

#include <cstdint>
#include <iterator>

namespace tavelio {

namespace {

struct Spelling {
    std::u16string_view romaji;
    std::u16string_view kana;
    bool english = false; // the IME reads it, but the gate does not count it as Japanese
};

constexpr bool E = true;

// Hepburn and Kunrei spellings side by side, with the combinations, th/dh, w
// and v forms and x small kana that IMEs accept; last the forms English is full
// of (l small kana, c before a vowel, cy, the q row).
constexpr Spelling spellings[] = {
    {u"a", u"あ"},        {u"i", u"い"},        {u"u", u"う"},        {u"e", u"え"},
    {u"o", u"お"},        {u"ka", u"か"},       {u"ki", u"き"},       {u"ku", u"く"},
    {u"ke", u"け"},       {u"ko", u"こ"},       {u"sa", u"さ"},       {u"si", u"し"},
    {u"su", u"す"},       {u"se", u"せ"},       {u"so", u"そ"},       {u"ta", u"た"},
    {u"ti", u"ち"},       {u"tu", u"つ"},       {u"te", u"て"},       {u"to", u"と"},
    {u"na", u"な"},       {u"ni", u"に"},       {u"nu", u"ぬ"},       {u"ne", u"ね"},
    {u"no", u"の"},       {u"ha", u"は"},       {u"hi", u"ひ"},       {u"hu", u"ふ"},
    {u"he", u"へ"},       {u"ho", u"ほ"},       {u"ma", u"ま"},       {u"mi", u"み"},
    {u"mu", u"む"},       {u"me", u"め"},       {u"mo", u"も"},       {u"ra", u"ら"},
    {u"ri", u"り"},       {u"ru", u"る"},       {u"re", u"れ"},       {u"ro", u"ろ"},
    {u"ga", u"が"},       {u"gi", u"ぎ"},       {u"gu", u"ぐ"},       {u"ge", u"げ"},
    {u"go", u"ご"},       {u"za", u"ざ"},       {u"zi", u"じ"},       {u"zu", u"ず"},
    {u"ze", u"ぜ"},       {u"zo", u"ぞ"},       {u"da", u"だ"},       {u"di", u"ぢ"},
    {u"du", u"づ"},       {u"de", u"で"},       {u"do", u"ど"},       {u"ba", u"ば"},
    {u"bi", u"び"},       {u"bu", u"ぶ"},       {u"be", u"べ"},       {u"bo", u"ぼ"},
    {u"pa", u"ぱ"},       {u"pi", u"ぴ"},       {u"pu", u"ぷ"},       {u"pe", u"ぺ"},
    {u"po", u"ぽ"},       {u"ya", u"や"},       {u"yi", u"い"},       {u"yu", u"ゆ"},
    {u"ye", u"いぇ"},     {u"yo", u"よ"},       {u"wa", u"わ"},       {u"wi", u"うぃ"},
    {u"wu", u"う"},       {u"we", u"うぇ"},     {u"wo", u"を"},       {u"shi", u"し"},
    {u"chi", u"ち"},      {u"tsu", u"つ"},      {u"fu", u"ふ"},       {u"ji", u"じ"},
    {u"kya", u"きゃ"},    {u"kyi", u"きぃ"},    {u"kyu", u"きゅ"},    {u"kye", u"きぇ"},
    {u"kyo", u"きょ"},    {u"gya", u"ぎゃ"},    {u"gyi", u"ぎぃ"},    {u"gyu", u"ぎゅ"},
    {u"gye", u"ぎぇ"},    {u"gyo", u"ぎょ"},    {u"sya", u"しゃ"},    {u"syi", u"しぃ"},
    {u"syu", u"しゅ"},    {u"sye", u"しぇ"},    {u"syo", u"しょ"},    {u"zya", u"じゃ"},
    {u"zyi", u"じぃ"},    {u"zyu", u"じゅ"},    {u"zye", u"じぇ"},    {u"zyo", u"じょ"},
    {u"tya", u"ちゃ"},    {u"tyi", u"ちぃ"},    {u"tyu", u"ちゅ"},    {u"tye", u"ちぇ"},
    {u"tyo", u"ちょ"},    {u"dya", u"ぢゃ"},    {u"dyi", u"ぢぃ"},    {u"dyu", u"ぢゅ"},
    {u"dye", u"ぢぇ"},    {u"dyo", u"ぢょ"},    {u"nya", u"にゃ"},    {u"nyi", u"にぃ"},
    {u"nyu", u"にゅ"},    {u"nye", u"にぇ"},    {u"nyo", u"にょ"},    {u"hya", u"ひゃ"},
    {u"hyi", u"ひぃ"},    {u"hyu", u"ひゅ"},    {u"hye", u"ひぇ"},    {u"hyo", u"ひょ"},
    {u"bya", u"びゃ"},    {u"byi", u"びぃ"},    {u"byu", u"びゅ"},    {u"bye", u"びぇ"},
    {u"byo", u"びょ"},    {u"pya", u"ぴゃ"},    {u"pyi", u"ぴぃ"},    {u"pyu", u"ぴゅ"},
    {u"pye", u"ぴぇ"},    {u"pyo", u"ぴょ"},    {u"mya", u"みゃ"},    {u"myi", u"みぃ"},
    {u"myu", u"みゅ"},    {u"mye", u"みぇ"},    {u"myo", u"みょ"},    {u"rya", u"りゃ"},
    {u"ryi", u"りぃ"},    {u"ryu", u"りゅ"},    {u"rye", u"りぇ"},    {u"ryo", u"りょ"},
    {u"jya", u"じゃ"},    {u"jyi", u"じぃ"},    {u"jyu", u"じゅ"},    {u"jye", u"じぇ"},
    {u"jyo", u"じょ"},    {u"fya", u"ふゃ"},    {u"fyi", u"ふぃ"},    {u"fyu", u"ふゅ"},
    {u"fye", u"ふぇ"},    {u"fyo", u"ふょ"},    {u"vya", u"ゔゃ"},    {u"vyi", u"ゔぃ"},
    {u"vyu", u"ゔゅ"},    {u"vye", u"ゔぇ"},    {u"vyo", u"ゔょ"},    {u"sha", u"しゃ"},
    {u"shu", u"しゅ"},    {u"she", u"しぇ"},    {u"sho", u"しょ"},    {u"cha", u"ちゃ"},
    {u"chu", u"ちゅ"},    {u"che", u"ちぇ"},    {u"cho", u"ちょ"},    {u"ja", u"じゃ"},
    {u"ju", u"じゅ"},     {u"je", u"じぇ"},     {u"jo", u"じょ"},     {u"fa", u"ふぁ"},
    {u"fi", u"ふぃ"},     {u"fe", u"ふぇ"},     {u"fo", u"ふぉ"},     {u"va", u"ゔぁ"},
    {u"vi", u"ゔぃ"},     {u"ve", u"ゔぇ"},     {u"vo", u"ゔぉ"},     {u"vu", u"ゔ"},
    {u"tha", u"てゃ"},    {u"dha", u"でゃ"},    {u"thi", u"てぃ"},    {u"dhi", u"でぃ"},
    {u"thu", u"てゅ"},    {u"dhu", u"でゅ"},    {u"the", u"てぇ"},    {u"dhe", u"でぇ"},
    {u"tho", u"てょ"},    {u"dho", u"でょ"},    {u"tsa", u"つぁ"},    {u"tsi", u"つぃ"},
    {u"tse", u"つぇ"},    {u"tso", u"つぉ"},    {u"wha", u"うぁ"},    {u"whi", u"うぃ"},
    {u"whe", u"うぇ"},    {u"who", u"うぉ"},    {u"whu", u"う"},      {u"wyi", u"ゐ"},
    {u"wye", u"ゑ"},      {u"kwa", u"くぁ"},    {u"gwa", u"ぐぁ"},    {u"twu", u"とぅ"},
    {u"dwu", u"どぅ"},    {u"xa", u"ぁ"},       {u"xi", u"ぃ"},       {u"xu", u"ぅ"},
    {u"xe", u"ぇ"},       {u"xo", u"ぉ"},       {u"xya", u"ゃ"},      {u"xyu", u"ゅ"},
    {u"xyo", u"ょ"},      {u"xtu", u"っ"},      {u"xtsu", u"っ"},     {u"xwa", u"ゎ"},
    {u"xka", u"ゕ"},      {u"xke", u"ゖ"},      {u"xn", u"ん"},       {u"la", u"ぁ", E},
    {u"li", u"ぃ", E},    {u"lu", u"ぅ", E},    {u"le", u"ぇ", E},    {u"lo", u"ぉ", E},
    {u"lya", u"ゃ", E},   {u"lyu", u"ゅ", E},   {u"lyo", u"ょ", E},   {u"ltu", u"っ", E},
    {u"ltsu", u"っ", E},  {u"lwa", u"ゎ", E},   {u"lka", u"ゕ", E},   {u"lke", u"ゖ", E},
    {u"ca", u"か", E},    {u"ci", u"し", E},    {u"cu", u"く", E},    {u"ce", u"せ", E},
    {u"co", u"こ", E},    {u"cya", u"ちゃ", E}, {u"cyi", u"ちぃ", E}, {u"cyu", u"ちゅ", E},
    {u"cye", u"ちぇ", E}, {u"cyo", u"ちょ", E}, {u"qa", u"くぁ", E},  {u"qi", u"くぃ", E},
    {u"qu", u"く", E},    {u"qe", u"くぇ", E},  {u"qo", u"くぉ", E},
};

// The spellings as a trie of their letters, built at compile time, so that a
// letter costs one step however many spellings there are.
struct Node {
    std::uint16_t next[26] = {};
    std::int16_t spelling = -1; // the spelling that ends here
    bool imeGoesOn = false;     // some longer spelling passes through
    bool gateGoesOn = false;    // some longer Japanese spelling passes through
    std::uint16_t parent = 0;
    std::uint8_t depth = 0;
    char16_t letter = 0; // the last letter of the path
};

constexpr std::size_t MaxNodes = 400;

struct Trie {
    Node nodes[MaxNodes] = {};
    std::uint16_t count = 1; // the root, the empty romaji

    constexpr std::uint16_t child(std::uint16_t at, char16_t letter) const {
        return nodes[at].next[letter - u'a'];
    }
};

constexpr Trie buildTrie() {
    Trie t;
    for (std::size_t i = 0; i < std::size(spellings); ++i) {
        const Spelling& s = spellings[i];
        std::uint16_t at = 0;
        for (const char16_t letter : s.romaji) {
            t.nodes[at].imeGoesOn = true;
            t.nodes[at].gateGoesOn = t.nodes[at].gateGoesOn || !s.english;
            std::uint16_t& next = t.nodes[at].next[letter - u'a'];
            if (next == 0) {
                Node& added = t.nodes[t.count];
                added.parent = at;
                added.depth = static_cast<std::uint8_t>(t.nodes[at].depth + 1);
                added.letter = letter;
                next = t.count++;
            }
            at = next;
        }
        if (t.nodes[at].spelling < 0) {
            t.nodes[at].spelling = static_cast<std::int16_t>(i);
        }
    }
    return t;
}

constexpr Trie trie = buildTrie();
static_assert(trie.count < MaxNodes);

constexpr std::uint16_t NodeN = trie.child(0, u'n');
constexpr std::uint16_t NodeT = trie.child(0, u't');
constexpr std::u16string_view SmallTsu = u"っ";
constexpr std::u16string_view SyllabicN = u"ん";

// Which spellings a reading takes: the IME's all of them, the gate's only
// the Japanese ones.
enum class Reading { ime, gate };

std::u16string_view kanaAt(std::uint16_t node, Reading reading) {
    const int index = trie.nodes[node].spelling;
    if (index < 0 || (reading == Reading::gate && spellings[index].english)) {
        return {};
    }
    return spellings[index].kana;
}

bool goesOn(std::uint16_t node, Reading reading) {
    return reading == Reading::ime ? trie.nodes[node].imeGoesOn : trie.nodes[node].gateGoesOn;
}

bool isVowel(char16_t c) {
    return c == u'a' || c == u'i' || c == u'u' || c == u'e' || c == u'o';
}

char16_t toLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}

// The romaji waiting for more letters: a path of the trie, or nn.
struct Pending {
    std::uint16_t node = 0;
    bool nn = false;
    bool isN() const { return nn || node == NodeN; }
};

// The letters of a pending path, into `out` (at most four).
std::u16string_view lettersOf(std::uint16_t node, char16_t (&out)[8]) {
    const std::size_t depth = trie.nodes[node].depth;
    for (std::size_t i = depth; i > 0; --i, node = trie.nodes[node].parent) {
        out[i - 1] = trie.nodes[node].letter;
    }
    return {out, depth};
}

// One lower-case letter into the pending romaji. `out` takes the kana and
// the letters committed as typed, in order.
template <typename Out> void typeLetter(Pending& p, char16_t letter, Reading reading, Out& out) {
    if (p.nn) {
        // Before a vowel or y the second n starts the next syllable, so both
        // konnichiha and konnnichiha give こんにちは.
        out.kana(SyllabicN);
        p = Pending{(isVowel(letter) || letter == u'y') ? NodeN : std::uint16_t{0}};
    } else {
        // kk, ss, tt ... and Hepburn's tch: the first consonant becomes a
        // small tsu. A doubled l is the IME's, not a Japanese typist's.
        const Node& at = trie.nodes[p.node];
        const bool doubled = at.depth == 1 && at.letter == letter && letter != u'n' &&
                             !isVowel(letter) && !(reading == Reading::gate && letter == u'l');
        if (doubled || (p.node == NodeT && letter == u'c')) {
            out.kana(SmallTsu);
            p = Pending{trie.child(0, letter)};
            return;
        }
        if (p.node == NodeN && letter == u'n') {
            p = Pending{0, true};
            return;
        }
    }
    // n before any other consonant is ん.
    if (p.node == NodeN && !isVowel(letter) && letter != u'y') {
        out.kana(SyllabicN);
        p = Pending{};
    }
    const std::uint16_t next = trie.child(p.node, letter);
    if (next != 0) {
        if (const auto kana = kanaAt(next, reading); !kana.empty()) {
            out.kana(kana);
            p = Pending{};
            return;
        }
        if (goesOn(next, reading)) {
            p.node = next;
            return;
        }
    }
    // A dead end: the letters before stay as typed and the new one starts afresh.
    if (p.node == 0) {
        out.typed({&letter, 1});
        return;
    }
    char16_t letters[8];
    out.typed(lettersOf(p.node, letters));
    p = Pending{};
    typeLetter(p, letter, reading, out);
}

// The composition ends: a lone n (or nn) is ん, other pending letters stay as typed.
template <typename Out> void finish(Pending& p, Out& out) {
    if (p.isN()) {
        out.kana(SyllabicN);
    } else if (p.node != 0) {
        char16_t letters[8];
        out.typed(lettersOf(p.node, letters));
    }
    p = Pending{};
}

struct TextOut {
    std::u16string text;
    void kana(std::u16string_view k) { text += k; }
    void typed(std::u16string_view t) { text += t; }
};

// The gate only needs to know whether any letter stayed a letter.
struct LetterLeft {
    bool left = false;
    void kana(std::u16string_view) {}
    void typed(std::u16string_view) { left = true; }
};

Pending pendingOf(std::u16string_view romaji, TextOut& out) {
    if (romaji == u"nn") {
        return Pending{0, true};
    }
    Pending p;
    for (const char16_t letter : romaji) {
        const std::uint16_t next =
            letter >= u'a' && letter <= u'z' ? trie.child(p.node, letter) : std::uint16_t{0};
        if (next == 0) {
            // Not romaji the IME could have kept: as typed.
            out.typed(romaji);
            return Pending{};
        }
        p.node = next;
    }
    return p;
}

std::u16string pendingText(const Pending& p) {
    if (p.nn) {
        return u"nn";
    }
    char16_t letters[8];
    return std::u16string(lettersOf(p.node, letters));
}

// What an IME takes into the composition beside the letters (digits, the
// long-vowel mark, Japanese punctuation).
bool isRomajiMark(char16_t c) {
    return (c >= u'0' && c <= u'9') || c == u'-' || c == u',' || c == u'.' || c == u'!' ||
           c == u'?';
}

} // namespace

bool isRomajiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

std::u16string finishRomaji(std::u16string_view pending) {
    return (pending == u"n" || pending == u"nn") ? std::u16string(SyllabicN)
                                                 : std::u16string(pending);
}

std::u16string displayRomaji(std::u16string_view pending) {
    return pending == u"nn" ? std::u16string(SyllabicN) : std::u16string(pending);
}

RomajiStep typeRomaji(std::u16string_view pending, char16_t typed) {
    TextOut out;
    Pending p = pendingOf(pending, out);
    if (isRomajiLetter(typed)) {
        typeLetter(p, toLower(typed), Reading::ime, out);
    } else if (p.isN() && typed == u'\'') {
        out.kana(SyllabicN); // n' separates ん from a following vowel or y
        p = Pending{};
    } else {
        finish(p, out);
        out.typed({&typed, 1});
    }
    return RomajiStep{std::move(out.text), pendingText(p)};
}

bool readsAsRomaji(std::u16string_view word) noexcept {
    Pending p;
    LetterLeft out;
    bool letters = false;
    for (const char16_t c : word) {
        if (c >= u'a' && c <= u'z') {
            letters = true;
            typeLetter(p, c, Reading::gate, out);
        } else if (c == u'\'' && p.isN()) {
            p = Pending{};
        } else if (isRomajiMark(c)) {
            finish(p, out);
        } else {
            return false; // a capital, or what no IME takes into romaji
        }
        if (out.left) {
            return false;
        }
    }
    finish(p, out);
    return letters && !out.left;
}

} // namespace tavelio
