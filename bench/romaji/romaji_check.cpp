// The gate over phrases read from files or standard input, through the
// program's own code: what it would convert, and how often it is right.
//
//   romaji_check                         one line out per phrase in: the part converted, or empty
//   romaji_check --reads                 the words in that read as romaji, one a line
//   romaji_check --figures JA EN [--goals]
//                                        the share of JA converted whole, of EN converted at all,
//                                        of mixed phrases (the tail of an EN phrase, a space, a
//                                        JA phrase) converted exactly in their JA part, the
//                                        first 30 misses of each; --goals fails below them
#include "capture/romaji_gate.h"
#include "log/number_format.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Invalid bytes become U+FFFD: such a phrase is no romaji either way.
std::u16string fromUtf8(std::string_view in) {
    std::u16string out;
    for (std::size_t i = 0; i < in.size();) {
        const auto byte = static_cast<unsigned char>(in[i]);
        const int extra = byte < 0x80    ? 0
                          : byte >= 0xF0 ? 3
                          : byte >= 0xE0 ? 2
                          : byte >= 0xC0 ? 1
                                         : -1;
        if (extra < 0 || i + static_cast<std::size_t>(extra) >= in.size()) {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        char32_t code = extra == 0 ? byte : byte & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            code = (code << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::u16string_view convertedPart(std::u16string_view phrase) {
    const auto part = tavelio::findRomajiPart(phrase);
    return phrase.substr(part.keepLen, part.romajiLen);
}

std::vector<std::string> readLines(std::istream& in) {
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

// Data lines only: the corpora open with a header of # lines.
bool readCorpus(const char* path, std::vector<std::string>& phrases) {
    std::ifstream file(path);
    if (!file) {
        std::cerr << "romaji_check: cannot read " << path << '\n';
        return false;
    }
    for (auto& line : readLines(file)) {
        if (!line.empty() && line[0] != '#') {
            phrases.push_back(std::move(line));
        }
    }
    return true;
}

struct Misses {
    std::size_t count = 0;
    std::vector<std::string> first;
    void add(const std::string& phrase, std::u16string_view part) {
        ++count;
        if (first.size() < 30) {
            first.push_back(phrase + "  ->  \"" + tavelio::toUtf8(part) + "\"");
        }
    }
};

// Each Japanese phrase once, after the last 1 to n words of an English phrase drawn by a
// fixed seed: the same corpora give the same mixed phrases on every machine.
std::vector<std::string> mixedPhrases(const std::vector<std::string>& japanese,
                                      const std::vector<std::string>& english) {
    std::mt19937 draw(26);
    std::vector<std::string> mixed;
    for (const auto& phrase : japanese) {
        const std::string& from = english[draw() % english.size()];
        std::vector<std::size_t> starts;
        for (std::size_t i = 0; i < from.size(); ++i) {
            if (from[i] != ' ' && (i == 0 || from[i - 1] == ' ')) {
                starts.push_back(i);
            }
        }
        const std::string tail =
            starts.empty() ? from : from.substr(starts[starts.size() - 1 - draw() % starts.size()]);
        mixed.push_back(tail + ' ' + phrase);
    }
    return mixed;
}

int figures(const char* japanesePath, const char* englishPath, bool goals) {
    std::vector<std::string> japanese;
    std::vector<std::string> english;
    if (!readCorpus(japanesePath, japanese) || !readCorpus(englishPath, english) ||
        japanese.empty() || english.empty()) {
        return 2;
    }
    Misses notWhole;
    for (const auto& phrase : japanese) {
        const auto text = fromUtf8(phrase);
        const auto part = convertedPart(text);
        if (part.size() != text.size()) {
            notWhole.add(phrase, part);
        }
    }
    Misses converted;
    for (const auto& phrase : english) {
        const auto text = fromUtf8(phrase);
        const auto part = convertedPart(text);
        if (!part.empty()) {
            converted.add(phrase, part);
        }
    }
    Misses notExact;
    const auto mixed = mixedPhrases(japanese, english);
    for (std::size_t i = 0; i < mixed.size(); ++i) {
        const auto text = fromUtf8(mixed[i]);
        auto expected = fromUtf8(japanese[i]);
        while (!expected.empty() && expected.back() == u' ') {
            expected.pop_back();
        }
        const auto part = convertedPart(text);
        if (part != expected) {
            notExact.add(mixed[i], part);
        }
    }
    const double whole = 100.0 * static_cast<double>(japanese.size() - notWhole.count) /
                         static_cast<double>(japanese.size());
    const double touched =
        100.0 * static_cast<double>(converted.count) / static_cast<double>(english.size());
    const double exact = 100.0 * static_cast<double>(mixed.size() - notExact.count) /
                         static_cast<double>(mixed.size());
    std::printf("Japanese converted whole: %.2f %% (%zu of %zu; goal >= 99.5 %%)\n", whole,
                japanese.size() - notWhole.count, japanese.size());
    std::printf("English converted in any part: %.2f %% (%zu of %zu; goal <= 1 %%)\n", touched,
                converted.count, english.size());
    std::printf("Mixed converted exactly in their Japanese: %.2f %% (%zu of %zu; goal >= 98 %%)\n",
                exact, mixed.size() - notExact.count, mixed.size());
    std::printf("\nJapanese not converted whole (first %zu):\n", notWhole.first.size());
    for (const auto& line : notWhole.first) {
        std::printf("  %s\n", line.c_str());
    }
    std::printf("\nEnglish converted (first %zu):\n", converted.first.size());
    for (const auto& line : converted.first) {
        std::printf("  %s\n", line.c_str());
    }
    std::printf("\nMixed not converted exactly (first %zu):\n", notExact.first.size());
    for (const auto& line : notExact.first) {
        std::printf("  %s\n", line.c_str());
    }
    return goals && (whole < 99.5 || touched > 1.0 || exact < 98.0) ? 1 : 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--figures" && (argc == 4 || (argc == 5 && std::string(argv[4]) == "--goals"))) {
        return figures(argv[2], argv[3], argc == 5);
    }
    if (mode == "--reads" && argc == 2) {
        for (const auto& word : readLines(std::cin)) {
            if (tavelio::readsAsRomaji(fromUtf8(word))) {
                std::cout << word << '\n';
            }
        }
        return 0;
    }
    if (argc != 1) {
        std::cerr << "usage: romaji_check [--reads | --figures JAPANESE ENGLISH [--goals]]\n";
        return 2;
    }
    for (const auto& phrase : readLines(std::cin)) {
        const auto text = fromUtf8(phrase);
        std::cout << tavelio::toUtf8(convertedPart(text)) << '\n';
    }
    return 0;
}
