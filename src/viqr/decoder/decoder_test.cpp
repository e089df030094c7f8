#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/decoder_test_support.h"
#include "viqr/decoder/viqr_decoder.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

using testing_support::bytes;
using Stream = testing_support::DecoderTest;
using Contexts = testing_support::DecoderTest;
using Decisions = testing_support::DecoderTest;

constexpr bool kDeferred = true;
constexpr bool kImmediate = false;

struct StreamCase {
    std::string input;
    bool deferred;
    std::string output;
    int state_after;
};

TEST_F(Stream, PublishedCases) {
    const StreamCase cases[] = {
        {"Vie^.t\n", kDeferred, bytes({0x56, 0x69, 0xAE, 0x74, 0x0A}), 0},
        {"Vie^.t\n", kImmediate, bytes({0x56, 0x69, 0x65, 0x08, 0xEA, 0x08, 0xAE, 0x74, 0x0A}), 0},
        {"a'", kDeferred, bytes({0xE1}), 0},
        {"a'", kImmediate, bytes({0x61, 0x08, 0xE1}), 0},
        {"a^'", kDeferred, bytes({0xA4}), 0},
        {"a^'", kImmediate, bytes({0x61, 0x08, 0xE2, 0x08, 0xA4}), 0},
        {"o+~", kDeferred, bytes({0xDE}), 0},
        {"u+o+'", kDeferred, bytes({0xDF, 0xBE}), 0},
        {"dd", kDeferred, bytes({0xF0}), 0},
        {"Dd", kDeferred, bytes({0xD0}), 0},
        {"dD", kDeferred, bytes({0xF0}), 0},
        {"a+", kDeferred, bytes({0x61, 0x2B}), 0},
        {"e(", kDeferred, bytes({0x65, 0x28}), 0},
        {"x'", kDeferred, bytes({0x78, 0x27}), 0},
        {"a'^", kDeferred, bytes({0xE1, 0x5E}), 0},
        {"A(^", kDeferred, bytes({0xC5, 0x5E}), 0},
        {bytes({0xE2, '\''}), kDeferred, bytes({0xA4}), 0},
        {"uoi ", kDeferred, bytes({0x75, 0x6F, 0x69, 0x20}), 0},
        {"ba", kDeferred, bytes({0x62}), 5},
        {"a\\'", kDeferred, bytes({0x61, 0x27}), 0},
        {"a\\'", kImmediate, bytes({0x61, 0x27}), 0},
        {"\\\\", kDeferred, bytes({0x5C}), 0},
        {"\\a'", kDeferred, bytes({0xE1}), 0},
        {"\\a'", kImmediate, bytes({0xE1}), 0},
        {"\\ua'", kImmediate, bytes({0x75, 0x61, 0x08, 0xE1}), 0},
        {"\\ua'", kDeferred, bytes({0x75, 0xE1}), 0},
        {"\\x", kDeferred, bytes({0x78}), 0},
        {"\\'", kDeferred, bytes({0x27}), 0},
        {"a\\V'", kImmediate, bytes({0x61, 0x08, 0xE1}), 0},
        {"a\\V'", kDeferred, bytes({0x61, 0x27}), 0},
        {"\\Lab\\Vc", kDeferred, bytes({0x61, 0x62, 0x63}), 0},
        {"\\La\\\\b\\x", kDeferred, bytes({0x61, 0x5C, 0x5C, 0x62, 0x5C, 0x78}), 2},
        {"\\Mab'c\\a'b", kDeferred, bytes({0x61, 0x62, 0x27, 0x63, 0xE1, 0x62}), 1},
        {"\\M\\ua' x", kDeferred, bytes({0x75, 0xE1, 0x20, 0x78}), 1},
        {"\\M\\uoi ", kDeferred, bytes({0x75, 0x6F, 0x69, 0x20}), 1},
    };
    for (const StreamCase& c : cases) {
        SCOPED_TRACE(c.input + (c.deferred ? " deferred" : " immediate"));
        for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
        const int ctx = open_dialogue_context(c.deferred);
        int state = -1;
        EXPECT_EQ(feed(ctx, c.input, &state), c.output);
        EXPECT_EQ(state, c.state_after);
    }
}

TEST_F(Stream, ModeLettersWriteNothingAndOtherBytesDropTheEscape) {
    struct Case {
        std::string input;
        int state;
    };
    const Case cases[] = {{"\\V", 0}, {"\\v", 0},     {"\\M", 1},     {"\\m", 1},   {"\\L", 2},
                          {"\\l", 2}, {"\\Lx\\V", 0}, {"\\Lx\\m", 1}, {"\\L\\l", 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        viqr_close(0, nullptr, nullptr);
        const int ctx = open_dialogue_context(kDeferred);
        int state = -1;
        const std::string out = feed(ctx, c.input, &state);
        EXPECT_EQ(out, c.input.find('x') == std::string::npos ? "" : "x");
        EXPECT_EQ(state, c.state);
    }
    // In compose and pass mode no other byte after the escape writes the escape character.
    for (int mode : {VIQR_MODE_COMPOSE, VIQR_MODE_PASS}) {
        for (int b = 0; b < 256; ++b) {
            if (b == '\\') continue;
            viqr_close(0, nullptr, nullptr);
            const int ctx = open_dialogue_context(kDeferred);
            viqr_set(ctx, mode, VIQR_STATE);
            std::string out = feed(ctx, bytes({'\\', b}));
            out += flush(ctx);  // a letter after the escape is held
            EXPECT_EQ(out.find('\\'), std::string::npos) << mode << " " << b;
        }
    }
}

TEST_F(Stream, ALetterLeftOpenInPassModeStillTakesAMarkInImmediateMode) {
    const int ctx = open_dialogue_context(kImmediate);
    EXPECT_EQ(feed(ctx, "a\\M\\V'"), bytes({0x61, 0x08, 0xE1}));
    viqr_close(ctx, nullptr, nullptr);
    const int again = open_dialogue_context(kImmediate);
    EXPECT_EQ(feed(again, "a\\L'\\V^"), bytes({0x61, 0x27, 0x08, 0xE2}));
}

TEST_F(Stream, EveryCallWritesAtMostTwoBytesAndReportsItsState) {
    std::mt19937 rng(1456);
    std::string alphabet = "aAeEoOuUdDyYiIbx'`?~.(^+\\VMLvml \x08\xE2\xC5";
    alphabet += '\0';
    for (int run = 0; run < 400; ++run) {
        for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
        const int ctx = viqr_open(int(rng() % 6), '\\', 0x08);
        viqr_set(ctx, int(rng() % 2), VIQR_DEFERRED);
        std::string input;
        for (int i = 0; i < 40; ++i) input += alphabet[rng() % alphabet.size()];
        feed(ctx, input);  // checks count and state of every call
        const int state = slot(ctx).state;
        EXPECT_TRUE(state >= 0 && state <= 5) << state;
        flush(ctx);
    }
}

// The stream decoder runs the composer's own steps: without escapes, the text a caller of
// viqr_compose builds is what the context writes (immediate mode: after applying the erase
// characters; deferred mode: once flushed).
TEST_F(Stream, WritesTheTextThatTheComposerBuilds) {
    std::mt19937 rng(1993);
    const std::string alphabet = "aAeEoOuUdDyYiIbnght'`?~.(^+ \xE2\xC5\xF4\xE1/";
    for (int run = 0; run < 300; ++run) {
        std::string input;
        for (int i = 0; i < 30; ++i) input += alphabet[rng() % alphabet.size()];
        SCOPED_TRACE(input);
        const bool moved = run % 3 == 0;

        viqr_record record{};
        viqr_reset(&record);
        if (moved) viqr_set_mark('\'', '/', &record);
        std::string text;
        for (char ch : input) {
            int held = 0, composed = 0;
            const int r = viqr_compose(&record, static_cast<unsigned char>(ch), &held, &composed);
            if (composed == 1)
                text.back() = static_cast<char>(r);
            else
                text += static_cast<char>(r);
        }

        for (bool deferred : {kDeferred, kImmediate}) {
            for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
            const int ctx = open_dialogue_context(deferred);
            if (moved) viqr_set_mark('\'', '/', &slot(ctx).record);
            std::string written = feed(ctx, input);
            written += flush(ctx);
            std::string shown;
            for (char b : written) {
                if (b == '\x08')
                    shown.pop_back();
                else
                    shown += b;
            }
            EXPECT_EQ(shown, text) << deferred;
            if (deferred) {
                EXPECT_EQ(written.find('\x08'), std::string::npos);
            }
        }
    }
}

TEST_F(Stream, EscapeCharacterThatIsAMarkIsComposedWhileALetterTakesIt) {
    struct Case {
        unsigned char escape;
        std::string input;
        std::string output;
        int state;
    };
    const Case cases[] = {
        {'\'', "a'", bytes({0xE1}), 0},          // accepted by the held letter
        {'\'', "''", bytes({0x27}), 0},          // an escape in compose mode
        {'\'', "x'a'", bytes({0x78, 0xE1}), 0},  // the escaped letter is held and composed
        {'\'', "a^''", bytes({0xA4}), 3},        // the tone, then an escape
        {'\'', "D'", bytes({0x44}), 3},          // refused by D: an escape after the letter
        {'^', "a^^x", bytes({0xE2, 0x78}), 0},   // shape accepted, then an escape
        {'^', "i^x", bytes({0x69, 0x78}), 0},    // not a mark of i: an escape
        {'a', "ea", bytes({0x65}), 5},           // a letter: composed, held as the next one
        {'a', "bab", bytes({0x62, 0x62}), 0},    // in compose mode an escape
        {'a', "baab", bytes({0x62, 0x61, 0x62}), 0},
        {'d', "dd", bytes({0x64}), 0},         // the escape, twice, in compose mode
        {'d', "edd", bytes({0x65, 0xF0}), 0},  // a letter after the held e, then its stroke
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(1, char(c.escape)) + " " + c.input);
        for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
        const int ctx = open_dialogue_context(kDeferred);
        viqr_set(ctx, c.escape, VIQR_ESCAPE);
        int state = -1;
        EXPECT_EQ(feed(ctx, c.input, &state), c.output);
        EXPECT_EQ(state, c.state);
    }
}

TEST_F(Contexts, OpenTakesTheLowestFreeSlotAndAFourthOpenChangesNothing) {
    EXPECT_EQ(viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08), 0);
    EXPECT_EQ(viqr_open(VIQR_MODE_PASS, '#', 0x7F), 1);
    EXPECT_EQ(viqr_open(VIQR_MODE_LITERAL, '\\', 0x08), 2);
    viqr_set(0, 1, VIQR_DEFERRED);
    feed(0, "ba^");
    ASSERT_EQ(viqr_set_mark('\'', '/', &slot(0).record), 1);
    const auto tables = active_class_table;
    const auto slots = detail::context_slots;

    EXPECT_EQ(viqr_open(VIQR_MODE_COMPOSE, 'x', 0x01), -1);
    EXPECT_EQ(active_class_table, tables);
    EXPECT_TRUE(same_slots(slots));

    viqr_close(1, nullptr, nullptr);
    EXPECT_EQ(slot(1).in_use, 0);
    EXPECT_EQ(viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08), 1);
    EXPECT_EQ(viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08), -1);
}

TEST_F(Contexts, OpenSetsTheParametersAndLeavesResumeStateAndTheLetterFields) {
    const int ctx = open_dialogue_context(kDeferred);
    feed(ctx, "\\M\\a^");  // held after an escape in pass mode: resume_state 1
    viqr_close(ctx, nullptr, nullptr);
    viqr_record& r = slot(ctx).record;
    r.mark_chars[3] = '/';
    const viqr_record before = r;

    EXPECT_EQ(viqr_open(VIQR_AFTER_ESCAPE, '#', 0x7F), ctx);
    const detail::decoder_context& c = slot(ctx);
    EXPECT_EQ(c.in_use, 1);
    EXPECT_EQ(c.state, VIQR_AFTER_ESCAPE);
    EXPECT_EQ(c.escape_char, '#');
    EXPECT_EQ(c.erase_char, 0x7F);
    EXPECT_EQ(c.deferred, 0);
    EXPECT_EQ(c.pending_char, 0);
    EXPECT_EQ(c.resume_state, VIQR_MODE_PASS);
    EXPECT_EQ(c.record.phase, 0);
    EXPECT_EQ(std::memcmp(&c.record.base_char, &before.base_char, 6), 0);
    EXPECT_EQ(std::memcmp(c.record.mark_chars, "(^+'`?~.", 8), 0);

    // Opened in state 3, it goes back to the mode its slot's last user left.
    int state = -1;
    EXPECT_EQ(feed(ctx, "#", &state), "#");
    EXPECT_EQ(state, VIQR_MODE_PASS);
}

TEST_F(Contexts, GetWritesTheParameterOfTheLowestFlagBit) {
    const int ctx = viqr_open(VIQR_MODE_LITERAL, '\\', 0x08);
    viqr_set(ctx, 7, VIQR_DEFERRED);
    int state = -1;
    viqr_get(ctx, &state, 3);
    EXPECT_EQ(state, VIQR_MODE_LITERAL);
    viqr_get(ctx, &state, VIQR_STATE | 0x100);
    EXPECT_EQ(state, VIQR_MODE_LITERAL);

    struct Case {
        int flag;
        int expected;
    };
    for (const Case& c : {Case{6, '\\'}, Case{VIQR_ESCAPE, '\\'}, Case{12, 0x08},
                          Case{VIQR_DEFERRED, 7}, Case{VIQR_DEFERRED | 0x30, 7}}) {
        unsigned char out[2] = {0xEE, 0xEE};
        viqr_get(ctx, out, c.flag);
        EXPECT_EQ(out[0], c.expected) << c.flag;
        EXPECT_EQ(out[1], 0xEE) << c.flag;  // one byte only
    }
    for (int flag : {0, 16, 0x70, INT_MIN}) {
        unsigned char out[sizeof(int)];
        std::memset(out, 0xEE, sizeof out);
        viqr_get(ctx, out, flag);
        for (unsigned char b : out) EXPECT_EQ(b, 0xEE) << flag;
    }
}

TEST_F(Contexts, SetStoresTheLowByteOfTheLowestFlagsParameter) {
    const int ctx = open_dialogue_context(kDeferred);
    viqr_set(ctx, 1, 12);
    EXPECT_EQ(slot(ctx).erase_char, 0x01);
    EXPECT_EQ(slot(ctx).deferred, 1);
    viqr_set(ctx, 0x123, VIQR_ESCAPE);
    EXPECT_EQ(slot(ctx).escape_char, 0x23);
    viqr_set(ctx, 0x200, VIQR_DEFERRED);
    EXPECT_EQ(slot(ctx).deferred, 0);

    feed(ctx, "a^");  // immediate mode now: written, still open
    const detail::decoder_context before = slot(ctx);
    for (int flag : {0, 16, 0x70}) {
        viqr_set(ctx, 5, flag);
        EXPECT_EQ(slot(ctx).state, before.state);
        EXPECT_EQ(slot(ctx).escape_char, before.escape_char);
        EXPECT_EQ(slot(ctx).erase_char, before.erase_char);
        EXPECT_EQ(slot(ctx).deferred, before.deferred);
        EXPECT_EQ(slot(ctx).record.phase, 2);
    }
    // A parameter set while a letter is open leaves it open.
    viqr_set(ctx, '#', VIQR_ESCAPE);
    viqr_set(ctx, '!', VIQR_ERASE);
    EXPECT_EQ(feed(ctx, "'"), bytes({'!', 0xA4}));
}

struct FlushCase {
    std::string input;
    std::string flushed;
    int state_after;
};

TEST_F(Contexts, FlushWritesWhatTheContextHoldsByState) {
    const FlushCase cases[] = {
        {"", "", 0},
        {"ba", bytes({0x61}), 0},
        {"a^", bytes({0xE2}), 0},
        {"a\\", bytes({0x5C}), 3},
        {"\\L\\", bytes({0x5C, 0x5C}), 4},
        {"\\M", "", 1},
        {"\\L", "", 2},
        {"\\La", "", 2},
        {"\\M\\u", bytes({0x75}), 1},  // held after an escape in pass mode
        {"\\M\\a^", bytes({0xE2}), 1},
        {"a'", "", 0},
    };
    for (const FlushCase& c : cases) {
        SCOPED_TRACE(c.input);
        for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
        const int ctx = open_dialogue_context(kDeferred);
        feed(ctx, c.input);
        EXPECT_EQ(flush(ctx), c.flushed);
        EXPECT_EQ(slot(ctx).state, c.state_after);
        if (c.state_after <= VIQR_MODE_PASS) {
            EXPECT_EQ(slot(ctx).pending_char, 0);
            EXPECT_EQ(slot(ctx).record.phase, 0);
            EXPECT_EQ(slot(ctx).resume_state, c.state_after);
        }
        // Flushing again writes the same waiting escape, or nothing.
        EXPECT_EQ(flush(ctx), c.state_after >= 3 ? c.flushed : "");
    }
}

TEST_F(Contexts, FlushInImmediateModeClosesTheWrittenLetter) {
    const int ctx = open_dialogue_context(kImmediate);
    EXPECT_EQ(feed(ctx, "a"), "a");
    EXPECT_EQ(flush(ctx), "");
    EXPECT_EQ(slot(ctx).record.phase, 0);
    EXPECT_EQ(feed(ctx, "'"), "'");
}

TEST_F(Contexts, FlushWithoutABufferDrainsAndDiscards) {
    const int ctx = open_dialogue_context(kDeferred);
    feed(ctx, "ba");
    int count = 77;
    viqr_flush(ctx, nullptr, &count);
    EXPECT_EQ(count, 77);
    EXPECT_EQ(slot(ctx).state, VIQR_MODE_COMPOSE);
    EXPECT_EQ(slot(ctx).pending_char, 0);
    EXPECT_EQ(feed(ctx, "'"), "'");
}

TEST_F(Contexts, CloseFlushesThenFreesTheSlot) {
    const int ctx = open_dialogue_context(kDeferred);
    feed(ctx, "ba");
    unsigned char out[2] = {0xEE, 0xEE};
    int count = -1;
    viqr_close(ctx, out, &count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(out[0], 0x61);
    EXPECT_EQ(slot(ctx).in_use, 0);
    EXPECT_EQ(slot(ctx).escape_char, '\\');  // kept until the slot is opened again
    EXPECT_EQ(viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08), ctx);
}

TEST_F(Contexts, SetStateDrainsFromTheNewState) {
    struct Case {
        int value;
        int state_after;
        bool record_closed;
        int pending_after;  // -1: as before
    };
    const Case cases[] = {
        {0, 0, true, 0}, {1, 1, true, 0},   {2, 2, false, -1},
        {3, 3, true, 0}, {4, 4, false, -1}, {5, 0, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        for (int ctx = 0; ctx < 3; ++ctx) viqr_close(ctx, nullptr, nullptr);
        const int ctx = open_dialogue_context(kDeferred);
        ASSERT_EQ(feed(ctx, "a"), "");  // held in compose mode: resume_state 0
        const int resume = slot(ctx).resume_state;
        ASSERT_EQ(resume, VIQR_MODE_COMPOSE);
        viqr_set(ctx, c.value, VIQR_STATE);
        EXPECT_EQ(slot(ctx).state, c.state_after);
        EXPECT_EQ(slot(ctx).record.phase == 0, c.record_closed);
        EXPECT_EQ(slot(ctx).pending_char, c.pending_after >= 0 ? c.pending_after : 'a');
        EXPECT_EQ(slot(ctx).resume_state, c.value <= 1 ? c.value : resume);
    }
}

TEST_F(Contexts, SetStateFiveReturnsToTheResumeState) {
    const int ctx = open_dialogue_context(kDeferred);
    feed(ctx, "\\M\\a");  // held after an escape in pass mode
    viqr_set(ctx, VIQR_HOLDING, VIQR_STATE);
    EXPECT_EQ(slot(ctx).state, VIQR_MODE_PASS);
    EXPECT_EQ(feed(ctx, "'"), "'");
}

TEST_F(Contexts, SetStateZeroDropsAHeldLetter) {
    const int ctx = open_dialogue_context(kDeferred);
    EXPECT_EQ(feed(ctx, "a"), "");
    viqr_set(ctx, VIQR_MODE_COMPOSE, VIQR_STATE);
    int state = -1;
    EXPECT_EQ(feed(ctx, "'", &state), "'");
    EXPECT_EQ(state, VIQR_MODE_COMPOSE);
}

TEST_F(Contexts, SetStateTwoLeavesTheLetterOpenInTheRecord) {
    const int ctx = open_dialogue_context(kDeferred);
    EXPECT_EQ(feed(ctx, "a"), "");
    viqr_set(ctx, VIQR_MODE_LITERAL, VIQR_STATE);
    int state = -1;
    EXPECT_EQ(feed(ctx, "\\V'", &state), bytes({0x08, 0xE1}));
    EXPECT_EQ(state, VIQR_MODE_COMPOSE);
    EXPECT_EQ(slot(ctx).record.phase, 0);
}

TEST_F(Decisions, AContextNumberOutsideTheSlotsTouchesNothing) {
    const int ctx = open_dialogue_context(kDeferred);
    feed(ctx, "ba");
    const auto slots = detail::context_slots;
    const auto tables = active_class_table;
    for (int bad : {-1, 3, 4, 1000, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(bad);
        unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
        int count = 77;
        EXPECT_EQ(viqr_step(bad, 'x', out, &count), -1);
        EXPECT_EQ(count, 0);
        count = 77;
        viqr_flush(bad, out, &count);
        EXPECT_EQ(count, 0);
        count = 77;
        viqr_close(bad, out, &count);
        EXPECT_EQ(count, 0);
        count = 77;
        viqr_flush(bad, nullptr, &count);
        EXPECT_EQ(count, 0);
        viqr_flush(bad, out, nullptr);
        viqr_close(bad, nullptr, nullptr);
        for (int flag : {1, 2, 4, 8}) {
            viqr_get(bad, out, flag);
            viqr_set(bad, 2, flag);
        }
        // Every escape character, letter and mark too: the stand-in slot never changes.
        for (int b = 0; b < 256; ++b) {
            ASSERT_EQ(viqr_step(bad, static_cast<unsigned char>(b), out, &count), -1);
            ASSERT_EQ(count, 0);
        }
        for (unsigned char b : out) EXPECT_EQ(b, 0xEE);
        EXPECT_TRUE(same_slots(slots));
        EXPECT_EQ(active_class_table, tables);
    }
    EXPECT_EQ(flush(ctx), "a");
}

TEST_F(Decisions, AStateOutsideTheSixIsRefusedWhereItIsGiven) {
    viqr_record record{};
    viqr_reset(&record);
    ASSERT_EQ(viqr_set_mark('\'', '/', &record), 1);
    for (int bad : {-1, 6, 7, 255, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(viqr_open(bad, '\\', 0x08), -1);
        EXPECT_EQ(slot(0).in_use, 0);
        EXPECT_EQ(active_class_table['/'], 29);  // not rebuilt
    }
    const int ctx = open_dialogue_context(kDeferred);
    EXPECT_EQ(ctx, 0);
    feed(ctx, "\\Mb\\a");
    for (int bad : {-1, 6, 0x100, INT_MAX}) {
        viqr_set(ctx, bad, VIQR_STATE);
        EXPECT_EQ(slot(ctx).state, VIQR_HOLDING) << bad;
        EXPECT_EQ(slot(ctx).pending_char, 'a') << bad;
    }
    EXPECT_EQ(feed(ctx, "'x"), bytes({0xE1, 'x'}));
}

TEST_F(Decisions, FlushAndCloseWithABufferButNoCountDiscard) {
    const int ctx = open_dialogue_context(kDeferred);
    feed(ctx, "ba");
    unsigned char out[2] = {0xEE, 0xEE};
    viqr_flush(ctx, out, nullptr);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(out[1], 0xEE);
    EXPECT_EQ(slot(ctx).state, VIQR_MODE_COMPOSE);
    EXPECT_EQ(slot(ctx).pending_char, 0);

    feed(ctx, "\\L\\");
    viqr_close(ctx, out, nullptr);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_EQ(out[1], 0xEE);
    EXPECT_EQ(slot(ctx).in_use, 0);
}

}  // namespace
}  // namespace toneshift

namespace toneshift {
namespace {

using RoundTrip = testing_support::DecoderTest;

// What the encoder writes, the dialogue's reading context reads back: random VISCII texts,
// weighted towards the letters, marks and "d" that escapes exist for, in every length.
TEST_F(RoundTrip, TheEncodingOfAnyVisciiTextDecodesToTheText) {
    const int ctx = open_dialogue_context(kDeferred);
    std::mt19937 random(20261210);
    const std::string awkward = "aeiouyAEIOUYdD'`?~.(^+\\\xF0\xD0\xE1\xE2\xE5\xA4\xC2";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const std::size_t length = random() % 40;
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned pick = random() % 3;
            char b = pick == 0 ? char(1 + random() % 255) : awkward[random() % awkward.size()];
            text += b;
        }
        std::string viqr(3 * text.size() + 1, '\0');
        const int n = viqr_encode(reinterpret_cast<const unsigned char*>(text.c_str()),
                                  reinterpret_cast<unsigned char*>(viqr.data()), '\\', 0);
        viqr.resize(std::size_t(n));
        std::string decoded = feed(ctx, viqr);
        decoded += flush(ctx);
        ASSERT_EQ(decoded, text) << "VIQR: " << viqr;
    }
}

}  // namespace
}  // namespace toneshift
