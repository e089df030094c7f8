// The vector viqr_encode_run against the byte-by-byte encoder, on every instruction set that
// this CPU and the build offer.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tables/simd_test_support.h"
#include "viqr/encoder/encode_step.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

using Bytes = std::vector<unsigned char>;

// Encodes `text` both ways into buffers of exactly 3n bytes and expects the same result.
void expect_same(const Bytes& text, unsigned char previous, unsigned char escape) {
    Bytes fast(3 * text.size()), reference(3 * text.size());
    const std::size_t n = viqr_encode_run(text.data(), text.size(), previous, fast.data(), escape);
    const std::size_t m = detail::viqr_encode_run_scalar(text.data(), text.size(), previous,
                                                         reference.data(), escape);
    ASSERT_EQ(n, m);
    ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + long(n), reference.begin()));
}

TEST(EncodeRun, EveryByteAfterEveryByteOnEveryTarget) {
    const int ran = simd::for_each_supported_target([] {
        for (const unsigned char escape : {'\\', 'a', '(', 'd', '\0'}) {
            SCOPED_TRACE(int(escape));
            // "p b" for every b, after a plain start: every pair of bytes, both ways round.
            for (int p = 0; p < 256; ++p) {
                Bytes text(40, 'x');
                for (int b = 0; b < 256; ++b) {
                    text.push_back(static_cast<unsigned char>(p));
                    text.push_back(static_cast<unsigned char>(b));
                }
                expect_same(text, static_cast<unsigned char>(p), escape);
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    });
    EXPECT_GE(ran, 2);
}

TEST(EncodeRun, RandomTextsOfEveryLengthAndAlignmentOnEveryTarget) {
    simd::for_each_supported_target([] {
        std::mt19937 random(10);
        // Mostly plain bytes, as in a text, with letters, d, marks and escapes between them.
        const std::string often = "tnh cmg,\n a\\dD'(^.`?~+\xE1\xF0\xD0\x02";
        std::vector<unsigned char> storage(200 + 64);
        for (std::size_t length = 0; length <= 200; ++length) {
            for (std::size_t offset = 0; offset < 64; offset += 1 + offset / 8) {
                for (unsigned char& b : storage)
                    b = random() % 4 == 0
                            ? static_cast<unsigned char>(random())
                            : static_cast<unsigned char>(often[random() % often.size()]);
                // In place, so that the text starts at every alignment.
                const unsigned char* text = storage.data() + offset;
                Bytes fast(3 * length), reference(3 * length);  // the bound, exactly
                const auto previous = static_cast<unsigned char>(random());
                const unsigned char escape = "\\\\\\a("[random() % 5];
                const std::size_t n = viqr_encode_run(text, length, previous, fast.data(), escape);
                const std::size_t m = detail::viqr_encode_run_scalar(text, length, previous,
                                                                     reference.data(), escape);
                ASSERT_EQ(n, m) << "length " << length << " offset " << offset;
                ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + long(n), reference.begin()))
                    << "length " << length << " offset " << offset;
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    });
}

// Texts that grow the most, of every length, into buffers of exactly the bound: written
// past it, the vectors would show under AddressSanitizer. Expected bytes written by hand.
TEST(EncodeRun, TextsThatGrowTheMostOnEveryTarget) {
    struct Case {
        const char* name;
        unsigned char escape;
        std::string unit;                   // repeated, then cut to the length
        std::vector<std::string> spelling;  // of each byte of the unit, where it stands
    };
    const Case cases[] = {
        {"a with circumflex and acute, three bytes each", '\\', "\xA4", {"a^'"}},
        {"d with stroke after d, escaped", '\\', "d\xF0", {"d", "\\dd"}},
        {"d with stroke after d, another escape", '(', "d\xF0", {"d", "(dd"}},
        {"the escape character, doubled", '\\', "\\", {"\\\\"}},
        {"the escape character, doubled, another escape", '~', "~", {"~~"}},
    };
    simd::for_each_supported_target([&] {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            for (std::size_t length = 1; length <= 200; ++length) {
                Bytes text(length);
                std::string expected;
                for (std::size_t i = 0; i < length; ++i) {
                    text[i] = static_cast<unsigned char>(c.unit[i % c.unit.size()]);
                    expected += c.spelling[i % c.unit.size()];
                }
                Bytes out(3 * length);
                const std::size_t n =
                    viqr_encode_run(text.data(), length, ' ', out.data(), c.escape);
                ASSERT_EQ(std::string(out.begin(), out.begin() + long(n)), expected)
                    << "length " << length;
            }
        }
    });
}

}  // namespace
}  // namespace toneshift
