// The vector decoder's tables against the class tables they are derived from: every index a
// vector lookup can meet gives the entry of the table it stands for (or 0 past it), looked
// up step by step as the vector code does.
#include "viqr/decoder/vector_tables.h"

#include <gtest/gtest.h>

#include <random>

namespace toneshift::detail {
namespace {

// Class codes run below 48 (the mode letters' code included).
TEST(VectorTables, AllowedAndMarkBitsByEveryClassCode) {
    for (unsigned k = 0; k < 48; ++k) {
        SCOPED_TRACE("class " + std::to_string(k));
        const bool letter = k >= kFirstLetterClass && k <= kLastLetterClass;
        EXPECT_EQ(stepped_lookup(allowed_rows, std::uint8_t(k)), letter ? allowed_marks[k] : 0);
        EXPECT_EQ(stepped_lookup(mark_bits_rows, std::uint8_t(k)),
                  k < kClassCount ? mark_bits[k] : 0);
    }
}

// A composing letter's index (letter state * 6 + tone column) is below 176; other lanes'
// lookups are not used.
TEST(VectorTables, ComposedLetterAtEveryIndexInItsTwoHalves) {
    for (unsigned index = 0; index < 128 + 3 * 16; ++index) {
        SCOPED_TRACE("index " + std::to_string(index));
        const std::uint8_t expected = index < composed_letter.size() ? composed_letter[index] : 0;
        // The low rows answer below 0x80 and give 0 above; the high rows take the index with
        // its top bit flipped.
        const std::uint8_t low = stepped_lookup(composed_low_rows, std::uint8_t(index));
        const std::uint8_t high = stepped_lookup(composed_high_rows, std::uint8_t(index ^ 0x80));
        EXPECT_EQ(low ^ high, expected);
        EXPECT_EQ(index >= 0x80 ? low : high, 0);
    }
}

TEST(VectorTables, StepOfEveryMarkByItsShapeBits) {
    for (unsigned k = 0; k < kClassCount; ++k) {
        if (mark_bits[k] == 0) continue;
        SCOPED_TRACE("class " + std::to_string(k));
        EXPECT_EQ(step_by_shape_bits[mark_bits[k] >> 3], state_step[k]);
    }
}

// The rows of any table of byte codes from 0x20 on, looked up by a byte less 0x20 (as a
// signed byte, saturating), give the code of every byte from 0x20 to 0x7F and 0 for the
// rest: the class codes the vectors take from a class table that viqr_set_mark changed.
TEST(VectorTables, RowsOfAnyCodeTableFromItsRowTwo) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::array<std::uint8_t, 128> codes{};
        for (unsigned b = 0x20; b < 0x80; ++b) codes[b] = std::uint8_t(random() % 48);
        const auto rows = stepped_rows<6>(codes, 0x20);
        for (unsigned b = 0; b < 0x100; ++b) {
            const int lowered = std::int8_t(b) - 0x20 < -128 ? -128 : std::int8_t(b) - 0x20;
            EXPECT_EQ(stepped_lookup(rows, std::uint8_t(lowered)),
                      b >= 0x20 && b < 0x80 ? codes[b] : 0)
                << "byte " << b;
        }
    }
}

TEST(VectorTables, PackIndicesListTheSetBitsInOrder) {
    for (unsigned m = 0; m < 256; ++m) {
        unsigned at = 0;
        for (unsigned b = 0; b < 8; ++b) {
            if ((m >> b & 1) == 0) continue;
            EXPECT_EQ(pack_indices[m * 8 + at], b) << "mask " << m;
            EXPECT_EQ(pack_indices_high[m * 8 + at], b + 8) << "mask " << m;
            ++at;
        }
    }
}

}  // namespace
}  // namespace toneshift::detail
