#include <gtest/gtest.h>

#include <string>

#include "tables/letter_names.h"
#include "tables/letter_names_fixture.h"
#include "tables/letter_table.h"
#include "tables/recode.h"

namespace toneshift {
namespace {

struct RecodeCase {
    unsigned char byte;
    int from;
    int to;
    unsigned char expected;
};

TEST(RecodeByte, KnownLetters) {
    const RecodeCase cases[] = {
        {0xF0, 0, 1, 0xC7},  // small d with stroke, VISCII to VNCII
        {0xC7, 1, 0, 0xF0},  // and back
        {0xAC, 5, 0, 0xE3},  // shared by a~ and A~ in format 5: the small letter wins
        {0xE3, 0, 5, 0xAC},
        {0xC3, 0, 5, 0xAC},  // the capital goes to the shared byte too
        {0xE1, 0, 9, 0x61},  // diacritics dropped
        {0xD0, 0, 9, 0x44},
        {0x40, 0, 2, 0x40},  // no letter of VISCII, so unchanged, though a letter of format 2
        {0x02, 0, 3, 0xB2},  // a VISCII control-byte letter (A(?)
        {0x64, 9, 0, 0xF0},  // from format 9 the first letter with the byte wins
        {0x61, 9, 0, 0xE1},
    };
    for (const RecodeCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << int(c.byte) << " " << c.from << "->" << c.to);
        EXPECT_EQ(recode_byte(c.byte, c.from, c.to), c.expected);
    }
}

TEST(RecodeByte, LayoutBytesAndAsciiPassEveryConversionBetweenFormats0To8) {
    std::string passing = "\t\n\r 0123456789";
    for (char c = 'a'; c <= 'z'; ++c) passing += c;
    for (char c = 'A'; c <= 'Z'; ++c) passing += c;
    for (int from = 0; from <= 8; ++from) {
        for (int to = 0; to <= 9; ++to) {
            EXPECT_EQ(recode_byte(0x00, from, to), 0x00);
            for (char c : passing) {
                EXPECT_EQ(recode_byte(static_cast<unsigned char>(c), from, to),
                          static_cast<unsigned char>(c))
                    << int(c) << " " << from << "->" << to;
            }
        }
    }
}

TEST(RecodeByte, EqualFormatsMapEveryByteToItself) {
    for (int f = 0; f < kEightBitFormatCount; ++f)
        for (int b = 0; b < 256; ++b)
            EXPECT_EQ(recode_byte(static_cast<unsigned char>(b), f, f), b);
}

TEST(RecodeByte, EveryLetterRoundTripsBetweenFormatsWithOwnBytes) {
    // Formats whose letters all have bytes of their own lose nothing on the way through.
    const int distinct[] = {0, 1, 2, 3, 4, 6, 8};
    for (int a : distinct)
        for (int b : distinct)
            for (std::size_t p = 0; p < kLetterCount; ++p) {
                const unsigned char there = recode_byte(letter_table[a][p], a, b);
                ASSERT_EQ(there, letter_table[b][p]);
                ASSERT_EQ(recode_byte(there, b, a), letter_table[a][p]);
            }
}

TEST(RecodeByte, SharedBytesOfFormats5And7AreTheSmallLetters) {
    // Capitals that share their small letter's byte, by position.
    auto shared = [](int f) {
        std::string positions;
        for (std::size_t p = 68; p < kLetterCount; ++p)
            if (letter_table[f][p] == letter_table[f][p - 66]) positions += std::to_string(p) + " ";
        return positions;
    };
    EXPECT_EQ(shared(5),
              "71 72 75 76 77 78 80 81 82 83 84 85 86 87 88 89 91 92 93 94 95 96 97 98 99 100 "
              "102 103 104 105 107 108 109 110 111 113 114 116 117 119 121 122 125 126 127 128 "
              "130 131 132 133 ");
    EXPECT_EQ(shared(7),
              "71 72 77 78 80 81 82 83 84 87 88 89 92 94 95 97 98 99 100 104 105 110 111 116 117 "
              "120 121 122 126 127 128 130 132 133 ");
    for (int f : {5, 7}) {
        for (std::size_t p = 68; p < kLetterCount; ++p) {
            if (letter_table[f][p] == letter_table[f][p - 66]) {
                EXPECT_EQ(recode_byte(letter_table[f][p], f, 0), letter_table[0][p - 66]);
            }
        }
    }
}

TEST(RecodeMap, EqualsRecodeByteForEveryByteAndEveryPairOfFormats) {
    for (int from = 0; from < kEightBitFormatCount; ++from)
        for (int to = 0; to < kEightBitFormatCount; ++to)
            for (int b = 0; b < 256; ++b)
                ASSERT_EQ(recode_map(from, to)[std::size_t(b)],
                          recode_byte(static_cast<unsigned char>(b), from, to))
                    << b << " " << from << "->" << to;
}

TEST(LetterNames, MatchThePublishedLetterAndToneColumns) {
    const std::pair<std::string, std::string> tones[] = {
        {"none", ""}, {"acute", "'"}, {"grave", "`"}, {"hook", "?"}, {"tilde", "~"}, {"dot", "."}};
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const testdata::LetterAndTone& row = testdata::letters_by_position[p];
        std::string expected = row.letter;
        bool found = false;
        for (const auto& [word, mark] : tones)
            if (word == row.tone) {
                expected += mark;
                found = true;
            }
        ASSERT_TRUE(found) << row.tone;
        const LetterName& name = letter_names[p];
        EXPECT_EQ(std::string(name.text, name.size()), expected) << "position " << p;
    }
}

}  // namespace
}  // namespace toneshift
