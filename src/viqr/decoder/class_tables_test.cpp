#include "viqr/decoder/class_tables.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "tables/letter_names.h"
#include "tables/letter_table.h"
#include "viqr/decoder/decoder_test_support.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {
namespace {

using ClassTables = testing_support::DecoderTest;

// The default character of every class code, as published.
struct DefaultClass {
    unsigned char ch;
    std::uint8_t code;
};
constexpr DefaultClass kPublishedDefaults[] = {
    {'D', 1},  {'A', 2},   {0xC5, 3},  {0xC2, 4},  {'E', 6},   {'I', 7},   {0xCA, 8},
    {'O', 9},  {'U', 10},  {0xD4, 11}, {0xB4, 12}, {0xBF, 13}, {'Y', 14},  {'d', 15},
    {'a', 16}, {0xE5, 17}, {0xE2, 18}, {'e', 20},  {'i', 21},  {0xEA, 22}, {'o', 23},
    {'u', 24}, {0xF4, 25}, {0xBD, 26}, {0xDF, 27}, {'y', 28},  {'\'', 29}, {'`', 30},
    {'?', 31}, {'~', 32},  {'.', 33},  {'(', 34},  {'^', 35},  {'+', 36},
};

TEST_F(ClassTables, BuildGivesExactlyThe34DefaultCharactersAClass) {
    std::array<int, 256> expected{};
    for (const DefaultClass& d : kPublishedDefaults) expected[d.ch] = d.code;
    int nonzero = 0;
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(default_class_table[std::size_t(b)], expected[std::size_t(b)]);
        EXPECT_EQ(active_class_table[std::size_t(b)], expected[std::size_t(b)]);
        nonzero += active_class_table[std::size_t(b)] != 0;
    }
    EXPECT_EQ(nonzero, 34);
    for (int none : {0xD0, 0xF0, 0xE1, 0x00, 0x62 /* b */, 0x42, 0x78, 0x7A, 0x5C, 0x2F})
        EXPECT_EQ(active_class_table[std::size_t(none)], 0) << none;
}

TEST_F(ClassTables, BuildDiscardsEveryChangeOfMark) {
    viqr_record record{};
    viqr_reset(&record);
    const auto built = active_class_table;
    ASSERT_EQ(viqr_set_mark('\'', '/', &record), 1);
    ASSERT_EQ(viqr_set_mark('^', 'a', &record), 1);
    build_class_tables();
    EXPECT_EQ(active_class_table, built);
    EXPECT_EQ(default_class_table, built);
}

TEST_F(ClassTables, SetMarkToItsOwnCharacterChangesNothing) {
    viqr_record record{};
    viqr_reset(&record);
    const auto before = active_class_table;
    EXPECT_EQ(viqr_set_mark('\'', '\'', &record), 1);
    EXPECT_EQ(active_class_table, before);
    EXPECT_EQ(std::memcmp(record.mark_chars, "(^+'`?~.", 8), 0);
}

TEST_F(ClassTables, MovingAcuteKeepsTheDefaultCharacterAnAcuteMark) {
    viqr_record record{};
    viqr_reset(&record);
    EXPECT_EQ(viqr_set_mark('\'', '/', &record), 1);
    EXPECT_EQ(active_class_table['/'], 29);
    EXPECT_EQ(active_class_table['\''], 29);
    EXPECT_EQ(record.mark_chars[3], '/');

    EXPECT_EQ(viqr_set_mark('\'', '!', &record), 1);
    EXPECT_EQ(active_class_table['!'], 29);
    EXPECT_EQ(active_class_table['/'], 0);
    EXPECT_EQ(active_class_table['\''], 29);
    EXPECT_EQ(record.mark_chars[3], '!');
    EXPECT_EQ(std::memcmp(record.mark_chars, "(^+!`?~.", 8), 0);
}

TEST_F(ClassTables, ALetterGivenToAMarkIsALetterAgainWhenTheMarkMovesOn) {
    viqr_record record{};
    viqr_reset(&record);
    EXPECT_EQ(viqr_set_mark('\'', 'a', &record), 1);
    EXPECT_EQ(active_class_table['a'], 29);
    EXPECT_EQ(viqr_set_mark('\'', '\'', &record), 1);
    EXPECT_EQ(active_class_table['a'], 16);
    EXPECT_EQ(active_class_table['\''], 29);
    EXPECT_EQ(record.mark_chars[3], '\'');
}

TEST_F(ClassTables, AnotherMarksCharacterBecomesThisMarkAndGetsItsClassBack) {
    viqr_record record{};
    viqr_reset(&record);
    EXPECT_EQ(viqr_set_mark('\'', 0x60, &record), 1);
    EXPECT_EQ(active_class_table[0x60], 29);
    EXPECT_EQ(record.mark_chars[4], 0x60);  // grave's slot still names it
    for (int b = 0; b < 256; ++b) EXPECT_NE(active_class_table[std::size_t(b)], 30) << b;
    EXPECT_EQ(viqr_set_mark('\'', '\'', &record), 1);
    EXPECT_EQ(active_class_table[0x60], 30);
    EXPECT_EQ(active_class_table['\''], 29);
}

TEST_F(ClassTables, SetMarkRefusesAnythingButTheEightDefaultCharacters) {
    viqr_record record{};
    viqr_reset(&record);
    ASSERT_EQ(viqr_set_mark('\'', '/', &record), 1);
    const auto before = active_class_table;
    viqr_record copy = record;
    for (int mark : {int('/'), int('a'), 0, -1, 256, 0x127 /* "'" + 256 */, 0x15E, -0xD8}) {
        SCOPED_TRACE(mark);
        EXPECT_EQ(viqr_set_mark(mark, '!', &record), 0);
        EXPECT_EQ(active_class_table, before);
        EXPECT_EQ(std::memcmp(&record, &copy, sizeof record), 0);
    }
    for (char mark : std::string("(^+'`?~.")) {
        viqr_record r{};
        viqr_reset(&r);
        EXPECT_EQ(viqr_set_mark(static_cast<unsigned char>(mark), 0x01, &r), 1) << mark;
    }
}

TEST_F(ClassTables, RebuildAfterAChangeLeavesTheSlotNamingTheNewCharacter) {
    viqr_record changed{};
    viqr_reset(&changed);
    ASSERT_EQ(viqr_set_mark('\'', '/', &changed), 1);

    // A second context opened elsewhere rebuilds the shared tables.
    const int ctx = viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08);
    ASSERT_EQ(ctx, 0);
    EXPECT_EQ(active_class_table['/'], 0);
    EXPECT_EQ(changed.mark_chars[3], '/');

    // Changing the mark again moves the class "/" has now (none), not the acute mark.
    EXPECT_EQ(viqr_set_mark('\'', '!', &changed), 1);
    EXPECT_EQ(active_class_table['!'], 0);
    EXPECT_EQ(active_class_table['/'], 0);
    EXPECT_EQ(active_class_table['\''], 29);
}

TEST_F(ClassTables, AChangeOfMarkIsSeenByEveryRecordAndSurvivesAFailedOpen) {
    for (int i = 0; i < 3; ++i) ASSERT_EQ(viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08), i);
    viqr_record changed{};
    viqr_reset(&changed);  // rebuilds too
    ASSERT_EQ(viqr_set_mark('\'', '/', &changed), 1);
    EXPECT_EQ(viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08), -1);
    EXPECT_EQ(active_class_table['/'], 29);

    viqr_record other{};
    std::memcpy(other.mark_chars, "(^+'`?~.", 8);  // made ready without a rebuild
    int held = -1;
    int composed = -1;
    viqr_compose(&other, 'a', &held, &composed);
    EXPECT_EQ(viqr_compose(&other, '/', &held, &composed), 0xE1);
    EXPECT_EQ(other.mark_chars[3], '\'');
}

// The VIQR name of each letter state, as published with the composition table.
constexpr const char* kLetterStateNames[29] = {
    "",  "D", "A",  "A(", "A^", "DD", "E", "I",  "E^", "O", "U",  "O^", "O+", "U+", "Y",
    "d", "a", "a(", "a^", "dd", "e",  "i", "e^", "o",  "u", "o^", "o+", "u+", "y",
};
constexpr const char* kToneMarkChars = "'`?~.";

TEST(ComposedLetter, EveryEntryIsTheVisciiByteOfItsLetterWithItsTone) {
    std::array<int, kLetterCount> hits{};
    for (std::size_t s = 0; s < 29; ++s) {
        for (std::size_t t = 0; t < 6; ++t) {
            const std::uint8_t entry = composed_letter[s * 6 + t];
            std::string name = kLetterStateNames[s];
            SCOPED_TRACE(name + " column " + std::to_string(t));
            const bool dee = name == "D" || name == "d" || name == "DD" || name == "dd";
            if (name.empty() || (dee && t > 0)) {
                EXPECT_EQ(entry, 0);
                continue;
            }
            if (t > 0) name += kToneMarkChars[t - 1];
            std::size_t position = kLetterCount;
            for (std::size_t p = 0; p < kLetterCount; ++p)
                if (std::string(letter_names[p].text) == name) position = p;
            if (position == kLetterCount) {
                // Not one of the 134: a plain ASCII letter without a tone.
                ASSERT_EQ(name.size(), 1u);
                EXPECT_EQ(entry, static_cast<unsigned char>(name[0]));
                continue;
            }
            EXPECT_EQ(entry, letter_table[kViscii][position]);
            ++hits[position];
        }
    }
    for (std::size_t p = 0; p < kLetterCount; ++p) EXPECT_EQ(hits[p], 1) << p;
}

// The one-lookup table of first marks says, for every letter state and byte value of a
// class, what the four small tables say.
TEST(FirstMarkOutcome, AgreesWithTheTablesItIsComputedFrom) {
    for (std::size_t s = 0; s < kLetterStateCount; ++s) {
        for (std::size_t k = 0; k < 256; ++k) {
            SCOPED_TRACE(testing::Message() << s << " " << k);
            const unsigned m = first_mark_outcome[s * 256 + k];
            const bool accepted = k < kClassCount && (mark_bits[k] & allowed_marks[s]) != 0;
            if (!accepted) {
                EXPECT_EQ(m, 0u);
                continue;
            }
            const std::size_t next = s + state_step[k];
            EXPECT_EQ(m & 0xFF, composed_letter[next * 6 + (mark_bits[k] & 7)]);
            EXPECT_EQ(m >> kFirstMarkStateShift & kFirstMarkStateMask, next);
            EXPECT_NE(m & kFirstMarkAccepted, 0u);
            EXPECT_EQ((m & kFirstMarkShape) != 0, k >= 34);
        }
    }
    // Spot checks against the published rules: a takes "^" to a^, o takes "+" to o+, d takes
    // a second d to dd, u refuses "^".
    EXPECT_EQ(first_mark_outcome[16 * 256 + 35] & 0xFF, 0xE2);
    EXPECT_EQ(first_mark_outcome[23 * 256 + 36] & 0xFF, 0xBD);
    EXPECT_EQ(first_mark_outcome[15 * 256 + 15] & 0xFF, 0xF0);
    EXPECT_EQ(first_mark_outcome[24 * 256 + 35], 0);
}

}  // namespace
}  // namespace toneshift
