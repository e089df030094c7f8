#include "viqr/encoder/viscii_classes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tables/letter_names_fixture.h"
#include "tables/letter_table.h"

namespace toneshift {
namespace {

// A letter's VIQR name from the published Letter and Tone columns.
std::string published_name(std::size_t position) {
    const testdata::LetterAndTone& row = testdata::letters_by_position[position];
    const std::pair<const char*, const char*> tones[] = {
        {"none", ""}, {"acute", "'"}, {"grave", "`"}, {"hook", "?"}, {"tilde", "~"}, {"dot", "."}};
    for (const auto& [word, mark] : tones)
        if (std::strcmp(word, row.tone) == 0) return std::string(row.letter) + mark;
    ADD_FAILURE() << "unknown tone " << row.tone;
    return {};
}

// The spelling as a string; every entry ends in NUL by its fourth byte.
std::string spelling_of(unsigned b) {
    return reinterpret_cast<const char*>(viqr_spelling[b].data());
}

TEST(ViqrSpelling, EveryByteIsItsPublishedNameOrItself) {
    std::string expected[256];
    for (unsigned b = 1; b < 256; ++b) expected[b] = std::string(1, char(b));
    for (std::size_t p = 0; p < kLetterCount; ++p)
        expected[letter_table[kViscii][p]] = published_name(p);
    for (unsigned b = 0; b < 256; ++b) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << b);
        EXPECT_EQ(spelling_of(b), expected[b]);
        const Spelling& s = viqr_spelling[b];
        for (std::size_t i = expected[b].size(); i < 4; ++i) EXPECT_EQ(s[i], 0) << "padding " << i;
    }
}

TEST(ViqrSpelling, NamedExamples) {
    const std::pair<unsigned, const char*> examples[] = {
        {0xE1, "a'"}, {0xA4, "a^'"}, {0x02, "A(?"}, {0xF0, "dd"},   {0xD0, "DD"},
        {0xDF, "u+"}, {0xB3, "O+~"}, {0x00, ""},    {0x07, "\x07"}, {0x7F, "\x7F"},
    };
    for (const auto& [b, name] : examples) EXPECT_EQ(spelling_of(b), name) << std::hex << b;
}

TEST(VisciiLower, CapitalsMapToTheSmallLetterOfTheSameName) {
    // Reference: search the published names for the lower-case form of each letter's name.
    unsigned char expected[256];
    for (unsigned b = 0; b < 256; ++b) expected[b] = static_cast<unsigned char>(b);
    for (unsigned char c = 'A'; c <= 'Z'; ++c) expected[c] = static_cast<unsigned char>(c + 32);
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        std::string lowered = published_name(p);
        for (char& c : lowered)
            if (c >= 'A' && c <= 'Z') c = char(c + 32);
        for (std::size_t q = 0; q < kLetterCount; ++q)
            if (published_name(q) == lowered)
                expected[letter_table[kViscii][p]] = letter_table[kViscii][q];
    }
    for (unsigned b = 0; b < 256; ++b) EXPECT_EQ(viscii_lower[b], expected[b]) << std::hex << b;
    EXPECT_EQ(viscii_lower[0x02], 0xC6);  // "A(?" to "a(?"
    EXPECT_EQ(viscii_lower[0xD0], 0xF0);  // "DD" to "dd"
    EXPECT_EQ(viscii_lower['D'], 'd');
}

TEST(VisciiClass, LetterBytesFollowThePublishedColumns) {
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const testdata::LetterAndTone& row = testdata::letters_by_position[p];
        const std::string letter = row.letter;
        const bool stroke = letter == "dd" || letter == "DD";
        std::uint32_t expected = 0;
        if (!stroke) expected |= VISCII_VOWEL;
        if (!stroke && letter.size() == 2) expected |= VISCII_HAS_SHAPE;
        if (std::strcmp(row.tone, "none") != 0) expected |= VISCII_HAS_TONE;
        EXPECT_EQ(viscii_class[letter_table[kViscii][p]], expected) << "position " << p;
    }
}

TEST(VisciiClass, OtherBytesCarryOnlyTheirOwnClass) {
    std::uint32_t expected[256] = {};
    for (unsigned char c : std::string("aeiouyAEIOUY")) expected[c] = VISCII_VOWEL;
    for (unsigned char c : std::string("(+^")) expected[c] = VISCII_SHAPE_MARK;
    for (unsigned char c : std::string("'.?~`")) expected[c] = VISCII_TONE_MARK;
    for (unsigned b = 0; b < 256; ++b) {
        if (detail::viscii_positions[b] >= 0) continue;  // letters: the test above
        EXPECT_EQ(viscii_class[b], expected[b]) << std::hex << b;
    }
}

// The four escape tests of mode 0 as they read, in terms of the classes, with the d with
// stroke after a plain "d" added; the two derived tables must agree on every pair.
bool escaped_by_rule(unsigned p, unsigned b) {
    const auto bare = [](unsigned byte, std::uint32_t mark) {
        return (viscii_class[byte] & VISCII_VOWEL) && !(viscii_class[byte] & mark);
    };
    if (viscii_lower[b] == 'd' && viscii_lower[p] == 'd') return true;
    if ((viscii_class[b] & VISCII_SHAPE_MARK) && bare(p, VISCII_HAS_SHAPE)) return true;
    if ((viscii_class[b] & VISCII_TONE_MARK) && bare(p, VISCII_HAS_TONE)) return true;
    return viscii_lower[b] == 0xF0 && viscii_lower[p] == 'd';
}

TEST(EncoderTables, EscapeKindsAgreeWithTheEscapeTestsOnEveryPair) {
    for (unsigned p = 0; p < 256; ++p)
        for (unsigned b = 0; b < 256; ++b)
            ASSERT_EQ((detail::escaped_after[b] & detail::previous_kind[p]) != 0,
                      escaped_by_rule(p, b))
                << std::hex << "previous " << p << " byte " << b;
}

TEST(EncoderTables, LengthsAndModeOneEscapesFollowTheSpellings) {
    EXPECT_EQ(detail::spelling_length[0], 1);  // a NUL of a run is written as itself
    for (unsigned b = 1; b < 256; ++b) {
        EXPECT_EQ(detail::spelling_length[b], spelling_of(b).size()) << std::hex << b;
        EXPECT_EQ(detail::escaped_in_mode_1[b], detail::viscii_positions[b] >= 0) << std::hex << b;
    }
}

}  // namespace
}  // namespace toneshift
