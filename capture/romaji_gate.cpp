#include "capture/romaji_gate.h"

#include <algorithm>
#include <iterator>

namespace tavelio {

namespace {

// The most frequent English words that read as romaji ("the", "time", "see"):
// made by scripts/make-english-words, sorted.
constexpr std::u16string_view commonEnglish[] = {
#include "capture/common_english.inc"
};

bool isLetter(char16_t c) {
    return c >= u'a' && c <= u'z';
}

// A word made only of digits and the marks an IME takes with romaji.
bool isNeutral(std::u16string_view word) {
    return std::ranges::all_of(word, [](char16_t c) {
        return (c >= u'0' && c <= u'9') || c == u'-' || c == u',' || c == u'.' || c == u'!' ||
               c == u'?';
    });
}

// Of those, the ones Japanese romaji uses more than English ("no", "de", "ha"):
// made by scripts/make-english-words, sorted.
constexpr std::u16string_view alsoJapanese[] = {
#include "capture/also_japanese.inc"
};

// Punctuation around a word is no part of it in a dictionary.
template <std::size_t N>
bool listed(const std::u16string_view (&list)[N], std::u16string_view word) {
    const auto first = std::ranges::find_if(word, isLetter);
    const auto last = std::find_if(word.rbegin(), word.rend(), isLetter).base();
    if (first >= last) {
        return false;
    }
    return std::binary_search(std::begin(list), std::end(list), std::u16string_view(first, last));
}

} // namespace

RomajiPart findRomajiPart(std::u16string_view text) noexcept {
    RomajiPart part;
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == u' ') {
        --end;
    }
    part.trailingSpaces = text.size() - end;

    // Words from the end, while they read as romaji or are neutral.
    std::size_t runStart = end;
    for (std::size_t wordEnd = end; wordEnd > 0;) {
        const std::size_t space = text.rfind(u' ', wordEnd - 1);
        const std::size_t wordStart = space == std::u16string_view::npos ? 0 : space + 1;
        const std::u16string_view word = text.substr(wordStart, wordEnd - wordStart);
        if (!word.empty()) {
            if (!readsAsRomaji(word) && !isNeutral(word)) {
                break;
            }
            runStart = wordStart;
        }
        wordEnd = wordStart == 0 ? 0 : wordStart - 1;
    }

    // English words and digits before the first Japanese word stay as typed, save one
    // right before it that Japanese uses more than English ("no", "ha"). Looked for from
    // the front, as the first Japanese word is most often near it.
    std::size_t start = end;
    std::u16string_view previous;
    std::size_t previousStart = runStart;
    for (std::size_t wordStart = runStart; wordStart < end;) {
        const std::size_t space = text.find(u' ', wordStart);
        const std::size_t wordEnd = std::min(space, end);
        const std::u16string_view word = text.substr(wordStart, wordEnd - wordStart);
        if (!word.empty()) {
            if (readsAsRomaji(word) && !listed(commonEnglish, word)) {
                const bool alsoJapaneseBefore =
                    !previous.empty() && readsAsRomaji(previous) && listed(alsoJapanese, previous);
                start = alsoJapaneseBefore ? previousStart : wordStart;
                break;
            }
            previous = word;
            previousStart = wordStart;
        }
        wordStart = wordEnd + 1;
    }
    part.keepLen = start;
    part.romajiLen = end - start;
    return part;
}

} // namespace tavelio
