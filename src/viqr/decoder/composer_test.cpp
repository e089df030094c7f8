#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tables/letter_names_fixture.h"
#include "tables/letter_table.h"
#include "viqr/decoder/decoder_test_support.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {
namespace {

using Composer = testing_support::DecoderTest;
using testing_support::bytes;

struct Result {
    int byte;
    int held;
    int composed;
};

// Feeds input to the record, one call each; returns every result and the text a caller
// builds by appending (composed 0) or overwriting its last byte (composed 1).
std::string compose_text(viqr_record& record, const std::string& input,
                         std::vector<Result>* results = nullptr) {
    std::string text;
    for (char ch : input) {
        int held = -1;
        int composed = -1;
        const int r = viqr_compose(&record, static_cast<unsigned char>(ch), &held, &composed);
        if (results != nullptr) results->push_back({r, held, composed});
        EXPECT_TRUE(held == 0 || held == 1);
        EXPECT_TRUE(composed == 0 || composed == 1);
        if (composed == 1 && !text.empty())
            text.back() = static_cast<char>(r);
        else
            text += static_cast<char>(r);
    }
    return text;
}

struct ComposeCase {
    std::string input;
    std::vector<Result> results;
    std::string text;
};

TEST_F(Composer, PublishedCases) {
    const ComposeCase cases[] = {
        {"a", {{0x61, 1, 0}}, bytes({0x61})},
        {"a'", {{0x61, 1, 0}, {0xE1, 0, 1}}, bytes({0xE1})},
        {"a.", {{0x61, 1, 0}, {0xD5, 0, 1}}, bytes({0xD5})},
        {"a^'", {{0x61, 1, 0}, {0xE2, 1, 1}, {0xA4, 0, 1}}, bytes({0xA4})},
        {"A(?", {{0x41, 1, 0}, {0xC5, 1, 1}, {0x02, 0, 1}}, bytes({0x02})},
        {"O+~", {{0x4F, 1, 0}, {0xB4, 1, 1}, {0xB3, 0, 1}}, bytes({0xB3})},
        {"Y?", {{0x59, 1, 0}, {0x14, 0, 1}}, bytes({0x14})},
        {"u+o+", {{0x75, 1, 0}, {0xDF, 1, 1}, {0x6F, 1, 0}, {0xBD, 1, 1}}, bytes({0xDF, 0xBD})},
        {"dd", {{0x64, 1, 0}, {0xF0, 0, 1}}, bytes({0xF0})},
        {"DD", {{0x44, 1, 0}, {0xD0, 0, 1}}, bytes({0xD0})},
        {"Dd", {{0x44, 1, 0}, {0xD0, 0, 1}}, bytes({0xD0})},
        {"dD", {{0x64, 1, 0}, {0xF0, 0, 1}}, bytes({0xF0})},
        {"DD'", {{0x44, 1, 0}, {0xD0, 0, 1}, {0x27, 0, 0}}, bytes({0xD0, 0x27})},
        {"D'", {{0x44, 1, 0}, {0x27, 0, 0}}, bytes({0x44, 0x27})},
        {"a'(", {{0x61, 1, 0}, {0xE1, 0, 1}, {0x28, 0, 0}}, bytes({0xE1, 0x28})},
        {"a((", {{0x61, 1, 0}, {0xE5, 1, 1}, {0x28, 0, 0}}, bytes({0xE5, 0x28})},
        {"a(^", {{0x61, 1, 0}, {0xE5, 1, 1}, {0x5E, 0, 0}}, bytes({0xE5, 0x5E})},
        {"i(", {{0x69, 1, 0}, {0x28, 0, 0}}, bytes({0x69, 0x28})},
        {"u^", {{0x75, 1, 0}, {0x5E, 0, 0}}, bytes({0x75, 0x5E})},
        {"ab", {{0x61, 1, 0}, {0x62, 0, 0}}, bytes({0x61, 0x62})},
        {"aa'", {{0x61, 1, 0}, {0x61, 1, 0}, {0xE1, 0, 1}}, bytes({0x61, 0xE1})},
        {"b'", {{0x62, 0, 0}, {0x27, 0, 0}}, bytes({0x62, 0x27})},
        {"'", {{0x27, 0, 0}}, bytes({0x27})},
        {bytes({0xE2, '\''}), {{0xE2, 1, 0}, {0xA4, 0, 1}}, bytes({0xA4})},
        {bytes({0xE1, 0x60}), {{0xE1, 0, 0}, {0x60, 0, 0}}, bytes({0xE1, 0x60})},
    };
    for (const ComposeCase& c : cases) {
        SCOPED_TRACE(c.input);
        viqr_record record{};
        viqr_reset(&record);
        std::vector<Result> results;
        EXPECT_EQ(compose_text(record, c.input, &results), c.text);
        ASSERT_EQ(results.size(), c.results.size());
        for (std::size_t i = 0; i < results.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(results[i].byte, c.results[i].byte);
            EXPECT_EQ(results[i].held, c.results[i].held);
            EXPECT_EQ(results[i].composed, c.results[i].composed);
        }
        EXPECT_EQ(record.phase != 0, c.results.back().held == 1);  // held: phase 1 or 2
    }
}

TEST_F(Composer, EveryLetterComposesFromItsVIQRName) {
    const std::pair<const char*, char> tones[] = {{"none", 0},   {"acute", '\''}, {"grave", '`'},
                                                  {"hook", '?'}, {"tilde", '~'},  {"dot", '.'}};
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const testdata::LetterAndTone& letter = testdata::letters_by_position[p];
        std::string name = letter.letter;
        for (const auto& [tone, mark] : tones)
            if (std::strcmp(letter.tone, tone) == 0 && mark != 0) name += mark;
        SCOPED_TRACE(name);
        viqr_record record{};
        viqr_reset(&record);
        EXPECT_EQ(compose_text(record, name), bytes({letter_table[kViscii][p]}));
    }
}

TEST_F(Composer, RecordFieldsRecordWhatWasExamined) {
    viqr_record record{};
    viqr_reset(&record);
    compose_text(record, "a^x");
    EXPECT_EQ(record.phase, 0);
    EXPECT_EQ(record.base_char, 'x');
    EXPECT_EQ(record.mark1_char, '^');
    EXPECT_EQ(record.mark1_class, 35);
    EXPECT_EQ(record.mark2_char, 'x');
    EXPECT_EQ(record.mark2_class, 0);
    EXPECT_EQ(record.letter_state, 0);
    EXPECT_EQ(std::memcmp(record.mark_chars, "(^+'`?~.", 8), 0);
}

TEST_F(Composer, AMovedMarkComposesAndTheDefaultCharacterStillDoes) {
    viqr_record record{};
    viqr_reset(&record);
    ASSERT_EQ(viqr_set_mark('\'', '/', &record), 1);
    EXPECT_EQ(compose_text(record, "a/"), bytes({0xE1}));
    EXPECT_EQ(compose_text(record, "a'"), bytes({0xE1}));
}

TEST_F(Composer, AChangeOfClassBetweenTwoCallsAppliesToTheNextCall) {
    viqr_record record{};
    viqr_reset(&record);
    compose_text(record, "a");
    ASSERT_EQ(viqr_set_mark('\'', '/', &record), 1);
    EXPECT_EQ(compose_text(record, "/"), bytes({0xE1}));
}

TEST_F(Composer, ResetInTheMiddleOfALetterStartsAnew) {
    viqr_record record{};
    viqr_reset(&record);
    EXPECT_EQ(compose_text(record, "a^"), bytes({0xE2}));
    viqr_reset(&record);
    std::vector<Result> results;
    EXPECT_EQ(compose_text(record, "'", &results), "'");
    EXPECT_EQ(results[0].composed, 0);
    EXPECT_EQ(results[0].held, 0);
}

// A record no operation produces: phase outside 0..2 counts as phase 0, a letter state
// outside 0..28 as no letter. Nothing may be read outside the tables (the sanitizer run
// checks that).
TEST_F(Composer, OutOfRangeRecordFieldsStayWithinTheTables) {
    for (int phase = 3; phase < 256; ++phase) {
        for (int ch = 0; ch < 256; ++ch) {
            viqr_record odd{};
            viqr_reset(&odd);
            viqr_record normal = odd;
            odd.phase = static_cast<std::uint8_t>(phase);
            odd.letter_state = 16;
            int held = -1, composed = -1, held0 = -1, composed0 = -1;
            const int r = viqr_compose(&odd, static_cast<unsigned char>(ch), &held, &composed);
            const int r0 =
                viqr_compose(&normal, static_cast<unsigned char>(ch), &held0, &composed0);
            ASSERT_EQ(r, r0) << phase << " " << ch;
            ASSERT_EQ(held, held0);
            ASSERT_EQ(composed, composed0);
            ASSERT_EQ(odd.phase, normal.phase);
        }
    }
    for (int state = 29; state < 256; ++state) {
        for (int ch = 0; ch < 256; ++ch) {
            viqr_record record{};
            viqr_reset(&record);
            int held = -1, composed = -1;
            record.phase = 1;
            record.letter_state = static_cast<std::uint8_t>(state);
            // No mark is accepted: the character is examined as the start of what follows.
            ASSERT_EQ(viqr_compose(&record, static_cast<unsigned char>(ch), &held, &composed), ch);
            ASSERT_EQ(composed, 0);
            record.phase = 2;
            record.letter_state = static_cast<std::uint8_t>(state);
            const int r = viqr_compose(&record, static_cast<unsigned char>(ch), &held, &composed);
            if (composed == 1) {
                ASSERT_EQ(r, 0) << state << " " << ch;  // a tone on no letter
                ASSERT_EQ(held, 0);
            } else {
                ASSERT_EQ(r, ch);
            }
        }
    }
}

}  // namespace
}  // namespace toneshift
