// The vector recoding against the byte-by-byte map, on every instruction set that this CPU
// and the build offer.
#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tables/letter_table.h"
#include "tables/recode.h"
#include "tables/simd_dispatch.h"

namespace toneshift {
namespace {

// Runs `body` once for each instruction set that map_in_place can run on here.
template <typename Body>
void for_each_target(Body body) {
    int ran = 0;
    const std::int64_t targets[] = {HWY_AVX2,
                                    HWY_SSE4,
                                    HWY_SSSE3,
                                    HWY_NEON,
                                    HWY_EMU128,
                                    HWY_SCALAR,
                                    std::int64_t(HWY_STATIC_TARGET)};
    for (const std::int64_t target : targets) {
        simd::restrict_targets_for_test(target);
        // Skipped where the target is not compiled or this CPU lacks it.
        if (std::string(detail::map_in_place_target()) != hwy::TargetName(target)) continue;
        SCOPED_TRACE(hwy::TargetName(target));
        body();
        ++ran;
    }
    simd::restrict_targets_for_test(0);
    EXPECT_GE(ran, 2);  // the baseline and at least one other
}

TEST(NibblePlan, ListsExactlyTheRowsThatDifferFromTheIdentity) {
    for (int from = 0; from < kEightBitFormatCount; ++from) {
        for (int to = 0; to < kEightBitFormatCount; ++to) {
            const NibblePlan& plan = recode_plan(from, to);
            std::vector<bool> listed(16);
            for (int j = 0; j < plan.count; ++j) {
                if (j > 0) {
                    ASSERT_LT(plan.rows[j - 1], plan.rows[j]);
                }
                listed[plan.rows[j]] = true;
            }
            for (int row = 0; row < 16; ++row) {
                bool identity = true;
                for (int low = 0; low < 16; ++low)
                    identity = identity && recode_byte(static_cast<unsigned char>(row * 16 + low),
                                                       from, to) == row * 16 + low;
                EXPECT_EQ(listed[std::size_t(row)], !identity)
                    << from << "->" << to << " row " << row;
            }
        }
    }
    // The rows of the benchmarked pair: VISCII letters lie in rows 0, 1 and 8 to 15.
    EXPECT_EQ(recode_plan(0, 3).count, 10);
    EXPECT_EQ(recode_plan(4, 4).count, 0);
}

TEST(RecodeInPlace, EveryByteOfEveryPairOfFormatsOnEveryTarget) {
    for_each_target([] {
        std::vector<unsigned char> all(256 + 5);
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<unsigned char>(i * 7);
        for (int from = 0; from < kEightBitFormatCount; ++from) {
            for (int to = 0; to < kEightBitFormatCount; ++to) {
                std::vector<unsigned char> fast = all, reference = all;
                recode_in_place(fast.data(), fast.size(), from, to);
                for (unsigned char& b : reference) b = recode_byte(b, from, to);
                ASSERT_EQ(fast, reference) << from << "->" << to;
            }
        }
    });
}

TEST(RecodeInPlace, RandomBuffersOfEveryLengthAndAlignmentOnEveryTarget) {
    for_each_target([] {
        std::mt19937 random(13);
        std::vector<unsigned char> buffer(200 + 64 + 16);
        const std::pair<int, int> pairs[] = {{0, 3}, {3, 0}, {0, 9}, {5, 0}, {1, 2}, {8, 7}};
        for (const auto& [from, to] : pairs) {
            const ByteMap& map = recode_map(from, to);
            for (std::size_t length = 0; length <= 200; ++length) {
                for (std::size_t offset = 0; offset < 64; ++offset) {
                    for (unsigned char& b : buffer) b = static_cast<unsigned char>(random());
                    std::vector<unsigned char> reference = buffer;
                    recode_in_place(buffer.data() + offset, length, from, to);
                    map_in_place_scalar(map, reference.data() + offset, length);
                    ASSERT_EQ(buffer, reference)
                        << from << "->" << to << " length " << length << " offset " << offset;
                }
            }
        }
    });
}

TEST(MapInto, FromOneBufferIntoAnotherOfEveryLengthOnEveryTarget) {
    for_each_target([] {
        std::mt19937 random(17);
        const ByteMap& map = recode_map(0, 3);
        std::vector<unsigned char> from(200 + 16), to(200 + 32);
        for (std::size_t length = 0; length <= 200; ++length) {
            for (std::size_t offset : {0, 1, 7, 16}) {
                for (unsigned char& b : from) b = static_cast<unsigned char>(random());
                std::fill(to.begin(), to.end(), 0xEE);
                map_into(map, recode_plan(0, 3), from.data(), to.data() + offset, length);
                std::vector<unsigned char> expected(to.size(), 0xEE);
                for (std::size_t i = 0; i < length; ++i) expected[offset + i] = map[from[i]];
                ASSERT_EQ(to, expected) << "length " << length << " offset " << offset;
            }
        }
    });
}

}  // namespace
}  // namespace toneshift
