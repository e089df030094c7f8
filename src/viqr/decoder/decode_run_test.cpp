// viqr_decode_run against viqr_step byte by byte: two contexts with the same parameters are
// fed the same text, one a run at a time and one a byte at a time; the bytes written and
// every field of the two contexts must agree after every run.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tables/simd_test_support.h"
#include "viqr/decoder/decoder_test_support.h"

namespace toneshift {
namespace {

using testing_support::DecoderTest;

class DecodeRunTest : public DecoderTest {
  protected:
    static bool same_context(int a, int b) {
        const detail::decoder_context& x = slot(a);
        const detail::decoder_context& y = slot(b);
        return x.state == y.state && x.escape_char == y.escape_char &&
               x.erase_char == y.erase_char && x.deferred == y.deferred &&
               x.pending_char == y.pending_char && x.resume_state == y.resume_state &&
               std::memcmp(&x.record, &y.record, sizeof x.record) == 0;
    }

    // A context in the given start state, escape character and output mode (erase 0x08).
    static int open_alike(int state, unsigned char escape, bool deferred) {
        const int ctx = viqr_open(state, escape, 0x08);
        viqr_set(ctx, deferred, VIQR_DEFERRED);
        return ctx;
    }

    // Makes `reference` an exact copy of `fast` (open leaves some fields as the slot's last
    // user left them).
    static void copy_context(int fast, int reference) { slot(reference) = slot(fast); }

    // Feeds `text` to context `fast` in runs that end at `cuts` and to `reference` byte by
    // byte; checks that both write the same and end the same after every run.
    static void expect_same(int fast, int reference, const std::string& text,
                            const std::vector<std::size_t>& cuts) {
        std::size_t from = 0;
        for (std::size_t k = 0; k <= cuts.size(); ++k) {
            const std::size_t to = k < cuts.size() ? cuts[k] : text.size();
            const auto* in = reinterpret_cast<const unsigned char*>(text.data()) + from;
            std::vector<unsigned char> out(2 * (to - from) + 1, 0xEE);
            const std::size_t m = viqr_decode_run(fast, in, to - from, out.data());
            ASSERT_LE(m, 2 * (to - from));
            EXPECT_EQ(out[m], 0xEE) << "nothing written past the count";
            EXPECT_EQ(std::count(out.begin() + long(m), out.end(), 0xEE), long(out.size() - m))
                << "nothing written anywhere past the count";
            const std::string expected = feed(reference, text.substr(from, to - from));
            ASSERT_EQ(std::string(out.begin(), out.begin() + long(m)), expected)
                << "run " << from << ".." << to;
            ASSERT_TRUE(same_context(fast, reference)) << "after run " << from << ".." << to;
            from = to;
        }
    }
};

TEST_F(DecodeRunTest, TheTablesOfCasesThroughRunsOfEveryLength) {
    // The decoder's own examples, each split at every position.
    const std::string texts[] = {"Vie^.t\n",     "u+o+'",     "dd Dd dD",      "a\\'",
                                 "\\\\",         "\\ua'",     "\\Lab\\Vc",     "\\La\\\\b\\x",
                                 "\\Mab'c\\a'b", "\\M\\uoi ", "A(^ a'^ x' a+", "ba"};
    for (bool deferred : {true, false}) {
        for (const std::string& text : texts) {
            for (std::size_t cut = 0; cut <= text.size(); ++cut) {
                SCOPED_TRACE(text + " cut at " + std::to_string(cut) +
                             (deferred ? " deferred" : " immediate"));
                SetUp();
                const int fast = open_dialogue_context(deferred);
                const int reference = open_dialogue_context(deferred);
                copy_context(fast, reference);
                expect_same(fast, reference, text, {cut});
            }
        }
    }
}

// Random texts over the bytes that matter (letters, marks, escape and mode letters, a
// letter byte, NUL, plain bytes), in random runs, from every start state, in both output
// modes, with the escape character plain, a letter or a mark, and with a moved mark.
TEST_F(DecodeRunTest, RandomTextsInRandomRunsInEveryConfiguration) {
    const std::string alphabet =
        std::string("aAeEiIoOuUyYdD(^+'`?~.\\VvMmLlxt \n") + '\0' + "\xE2\xF0\x08";
    std::mt19937 random(4);
    for (int round = 0; round < 3000; ++round) {
        SetUp();
        const int state = round % 6;
        const unsigned char escape = "\\\\\\a'("[round % 6];
        const bool deferred = round % 7 != 0;
        const int fast = open_alike(state, escape, deferred);
        const int reference = open_alike(state, escape, deferred);
        ASSERT_GE(reference, 0);
        copy_context(fast, reference);
        if (round % 11 == 0) {
            viqr_record scratch{};
            viqr_reset(&scratch);
            ASSERT_EQ(viqr_set_mark('\'', 'x', &scratch), 1);  // shared by both contexts
        }
        std::string text(random() % 300, ' ');
        for (char& ch : text) ch = alphabet[random() % alphabet.size()];
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0; at < text.size(); at += 1 + random() % 40) cuts.push_back(at);
        SCOPED_TRACE("round " + std::to_string(round));
        expect_same(fast, reference, text, cuts);
        if (HasFatalFailure()) return;
    }
}

// Long texts that look like VIQR (mostly plain bytes and letters, marks after letters,
// doubled and single escapes, now and then a mode), in runs from one byte to several
// thousand, so that every block of the vector code meets every kind of byte at every offset:
// whole blocks, the last blocks of a run, a buffer copied out in the middle of a run.
TEST_F(DecodeRunTest, LongRunsOnEveryInstructionSet) {
    const std::string plain = "tnhcmg,; \n-01";
    const std::string letters = "aeiouyAEIOUYdD\xE2\xF4";
    const std::string marks = "'`?~.(^+dD";
    const std::string rare = std::string("\\VMLvml\x08\xFF") + '\0';
    const int ran = simd::for_each_supported_target([&] {
        std::mt19937 random(13);
        for (int round = 0; round < 120; ++round) {
            SetUp();
            const unsigned char escapes[] = {'\\', '\\', '\\', 'a', '\'', 0};
            const unsigned char escape = escapes[round % 6];
            const int state = round % 9 < 6 ? VIQR_MODE_COMPOSE : round % 6;
            const bool deferred = round % 10 != 0;
            const int fast = open_alike(state, escape, deferred);
            const int reference = open_alike(state, escape, deferred);
            ASSERT_GE(reference, 0);
            copy_context(fast, reference);
            if (round % 7 == 3) {
                viqr_record scratch{};
                viqr_reset(&scratch);
                ASSERT_EQ(viqr_set_mark('^', "x\xE2-"[round % 3], &scratch), 1);
            }
            std::string text(1000 + random() % 9000, ' ');
            for (char& ch : text) {
                const unsigned pick = random() % 100;
                const std::string& from = pick < 45   ? plain
                                          : pick < 75 ? letters
                                          : pick < 97 ? marks
                                                      : rare;
                ch = from[random() % from.size()];
            }
            std::vector<std::size_t> cuts;
            for (std::size_t at = random() % 100; at < text.size();
                 at += 1 + random() % (round % 2 == 0 ? 80 : 5000))
                cuts.push_back(at);
            SCOPED_TRACE("round " + std::to_string(round));
            expect_same(fast, reference, text, cuts);
            if (HasFatalFailure()) return;
        }
    });
    EXPECT_GE(ran, 2);
}

// Runs of one to six escape characters, after a plain byte, a letter or a shape mark, and
// before a letter, a mark, a mode letter, a plain byte or a stroke, at every offset of the
// first three blocks of the vector code (32 bytes each), so that a run meets every lane and
// reaches across every block boundary; the text in one run, and cut after the byte that
// follows the escape characters, where the context is compared.
TEST_F(DecodeRunTest, RunsOfEscapesAtEveryOffset) {
    const std::string before[] = {"x ", "xa", "a("};
    const std::string after = "a'V d";
    const int ran = simd::for_each_supported_target([&] {
        for (const std::string& lead : before) {
            for (std::size_t length = 1; length <= 6; ++length) {
                for (const char next : after) {
                    for (std::size_t at = 0; at + lead.size() <= 3 * 32; ++at) {
                        std::string text(at, 't');
                        text += lead + std::string(length, '\\') + next;
                        const std::size_t cut = text.size();
                        while (text.size() < 200) text += "Vie^.t a'n u+o+` dd ";
                        for (bool whole : {true, false}) {
                            SetUp();
                            const int fast = open_alike(VIQR_MODE_COMPOSE, '\\', true);
                            const int reference = open_alike(VIQR_MODE_COMPOSE, '\\', true);
                            ASSERT_GE(reference, 0);
                            copy_context(fast, reference);
                            SCOPED_TRACE(lead + " then " + std::to_string(length) +
                                         " escapes and " + next + " at " + std::to_string(at) +
                                         (whole ? "" : " cut after them"));
                            expect_same(
                                fast, reference, text,
                                whole ? std::vector<std::size_t>{} : std::vector<std::size_t>{cut});
                            if (HasFatalFailure()) return;
                        }
                    }
                }
            }
        }
    });
    EXPECT_GE(ran, 2);
}

TEST_F(DecodeRunTest, NoContextWritesNothing) {
    const unsigned char in[] = "a'b";
    unsigned char out[8] = {};
    for (int ctx : {-1, 3, 1000}) EXPECT_EQ(viqr_decode_run(ctx, in, 3, out), 0u);
}

}  // namespace
}  // namespace toneshift
