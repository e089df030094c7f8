#include "detect/syllable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "detect/word_reader.h"

namespace toneshift::detect {
namespace {

// Reads a word written in VIQR notation ("nguo+`i", "DDa^'t") into syllable letters.
std::vector<SyllableLetter> letters(const std::string& viqr) {
    std::vector<SyllableLetter> out;
    for (std::size_t i = 0; i < viqr.size(); ++i) {
        const char c = viqr[i];
        if ((c == 'd' || c == 'D') && i + 1 < viqr.size() &&
            (viqr[i + 1] == 'd' || viqr[i + 1] == 'D')) {
            out.push_back({'D', '\0', 0, c == 'D'});
            ++i;
        } else if (c >= 'a' && c <= 'z') {
            out.push_back({c, '\0', 0, false});
        } else if (c >= 'A' && c <= 'Z') {
            out.push_back({char(c - 'A' + 'a'), '\0', 0, true});
        } else if (c == '^' || c == '(' || c == '+') {
            out.back().shape = c;
        } else {
            const std::string tones = "'`?~.";
            out.back().tone = std::uint8_t(tones.find(c) + 1);
        }
    }
    return out;
}

bool valid(const std::string& viqr) {
    const auto l = letters(viqr);
    return valid_syllable(l.data(), l.size());
}

TEST(Syllable, RulesOfTheSyllable) {
    struct Case {
        const char* word;
        bool valid;
        const char* why;
    };
    const Case cases[] = {
        {"ngu+o+`i", true, "shaped vowels take the tone"},
        {"Vie^.t", true, "first capital"},
        {"VIE^.T", true, "all capitals"},
        {"vIe^.t", false, "a capital inside a word"},
        {"vie^t", false, "a stop final without the acute or dot tone"},
        {"vie^`t", false, "a stop final with the grave tone"},
        {"ca'ch", true, "ch is a stop final with the acute tone"},
        {"qua'", true, "qu takes the rhyme a"},
        {"quye^`n", true, "qu before ye^n"},
        {"gi`", true, "gi with the rhyme i"},
        {"gio+~", true, "gi before another vowel"},
        {"hoa`", true, "tone on the second vowel of oa (new placement)"},
        {"ho`a", true, "tone on the first vowel of oa (old placement)"},
        {"ma`i", true, "tone on the first vowel of ai"},
        {"mai`", false, "tone on the glide of ai"},
        {"ki'nh", true, "k before i"},
        {"ka'", false, "k before a"},
        {"ce'", false, "c before e"},
        {"nghe~", true, "ngh before e"},
        {"ddi", true, "the d with stroke"},
        {"a'ddi", false, "no onset after a vowel"},
        {"a^", false, "a^ needs a final"},
        {"a(n", true, "a( with a final"},
        {"fi'", false, "f is no onset"},
        {"tra^'o", false, "no rhyme a^o"},
        {"u+o+'c", true, "the rhyme u+o+c"},
        {"khuyu~", false, "the tone of uyu sits on the middle vowel"},
        {"khuy?u", true, "the middle vowel of uyu"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.word) + ": " + c.why);
        EXPECT_EQ(valid(c.word), c.valid);
    }
}

// The Vietnamese dictionary of the system (an independent list of the syllables of the
// language) read through the UTF-8 reading: nearly every entry is a valid syllable.
TEST(Syllable, AcceptsTheSyllablesOfTheDictionary) {
    std::ifstream dic("/usr/share/hunspell/vi_VN.dic");
    if (!dic) GTEST_SKIP() << "hunspell-vi is not installed";
    std::string line;
    std::getline(dic, line);  // the entry count
    std::size_t marked = 0, valid_count = 0;
    std::vector<std::string> rejected;
    while (std::getline(dic, line)) {
        const std::string word = line.substr(0, line.find('/'));
        const WordScore s =
            score_word(reinterpret_cast<const unsigned char*>(word.data()), word.size());
        if (s.valid[kUtf8] + s.invalid[kUtf8] != 1) continue;
        ++marked;
        if (s.valid[kUtf8] == 1) {
            ++valid_count;
        } else {
            rejected.push_back(word);
        }
    }
    ASSERT_GT(marked, 4000u);
    std::string sample;
    for (std::size_t i = 0; i < rejected.size() && i < 200; ++i) sample += rejected[i] + " ";
    EXPECT_GE(valid_count * 1000, marked * 995)
        << marked << " " << rejected.size() << " rejected: " << sample;
}

}  // namespace
}  // namespace toneshift::detect

namespace toneshift::detect {
namespace {

// The byte table against its definition: a search of the row for the first position that
// holds the byte.
TEST(ByteMeaning, IsTheFirstPositionOfTheByteInItsRow) {
    for (std::size_t f = 0; f < kEightBitFormatCount; ++f) {
        for (unsigned b = 0; b < 256; ++b) {
            int first = -1;
            for (std::size_t p = 0; p < kLetterCount && first < 0; ++p)
                if (letter_table[f][p] == b) first = int(p);
            SCOPED_TRACE("format " + std::to_string(f) + ", byte " + std::to_string(b));
            if (first >= 0) {
                EXPECT_EQ(byte_meaning[f][b], first);
            } else {
                EXPECT_GE(byte_meaning[f][b], kAsciiLetter);
            }
        }
    }
}

}  // namespace
}  // namespace toneshift::detect
