// Mapping a byte of one 8-bit format into another through letter_table.
#pragma once

#include <array>
#include <cstddef>

#include "tables/letter_table.h"

namespace toneshift {

// The byte that stands for the same letter in format `to`, or `byte` itself when it is no
// letter of format `from`. Formats are 0..9. This is the reference definition: a search of
// the source row for the first position holding the byte (0x00 is found at the end mark),
// so where a row holds a byte twice the first position wins.
unsigned char recode_byte(unsigned char byte, int from, int to);

using ByteMap = std::array<unsigned char, 256>;

namespace detail {

// First position of every byte in every row, as recode_byte's search finds it; -1 where
// the byte is no letter of the row.
inline constexpr auto first_positions = [] {
    std::array<std::array<short, 256>, kEightBitFormatCount> first{};
    for (std::size_t f = 0; f < kEightBitFormatCount; ++f) {
        first[f].fill(-1);
        for (std::size_t p = kRowSize; p-- > 0;) first[f][letter_table[f][p]] = short(p);
    }
    return first;
}();

inline constexpr auto recode_maps = [] {
    std::array<ByteMap, kEightBitFormatCount * kEightBitFormatCount> maps{};
    for (std::size_t from = 0; from < kEightBitFormatCount; ++from) {
        for (std::size_t to = 0; to < kEightBitFormatCount; ++to) {
            ByteMap& map = maps[from * kEightBitFormatCount + to];
            for (std::size_t b = 0; b < 256; ++b) {
                const short p = first_positions[from][b];
                map[b] = p < 0 ? static_cast<unsigned char>(b) : letter_table[to][std::size_t(p)];
            }
        }
    }
    return maps;
}();

}  // namespace detail

// The whole of recode_byte(., from, to) as one 256-byte map, for the per-byte hot paths.
inline const ByteMap& recode_map(int from, int to) {
    return detail::recode_maps[std::size_t(from) * kEightBitFormatCount + std::size_t(to)];
}

// Where a byte map differs from the identity, by high nibble: the vector recoding looks up
// only the 16-byte rows of the map listed here, and leaves every other byte as it is.
struct NibblePlan {
    unsigned char count;     // rows that need a lookup, 0..16
    unsigned char rows[16];  // their high nibbles, ascending
};

constexpr NibblePlan nibble_plan(const ByteMap& map) {
    NibblePlan plan{};
    for (std::size_t row = 0; row < 16; ++row) {
        bool identity = true;
        for (std::size_t low = 0; low < 16; ++low)
            identity = identity && map[row * 16 + low] == row * 16 + low;
        if (!identity) plan.rows[plan.count++] = static_cast<unsigned char>(row);
    }
    return plan;
}

namespace detail {

inline constexpr auto recode_plans = [] {
    std::array<NibblePlan, kEightBitFormatCount * kEightBitFormatCount> plans{};
    for (std::size_t i = 0; i < plans.size(); ++i) plans[i] = nibble_plan(recode_maps[i]);
    return plans;
}();

}  // namespace detail

inline const NibblePlan& recode_plan(int from, int to) {
    return detail::recode_plans[std::size_t(from) * kEightBitFormatCount + std::size_t(to)];
}

// Maps n bytes in place through `map`, one byte at a time: the reference for map_in_place.
inline void map_in_place_scalar(const ByteMap& map, unsigned char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) bytes[i] = map[bytes[i]];
}

// Maps n bytes in place through `map`, whose rows that differ from the identity `plan`
// lists (nibble_plan(map)), a vector at a time on the best instruction set that the CPU
// offers; the same bytes as map_in_place_scalar. map_into maps n bytes at `from` into `to`,
// the same place or one that does not overlap it.
void map_into(const ByteMap& map, const NibblePlan& plan, const unsigned char* from,
              unsigned char* to, std::size_t n);
inline void map_in_place(const ByteMap& map, const NibblePlan& plan, unsigned char* bytes,
                         std::size_t n) {
    map_into(map, plan, bytes, bytes, n);
}

// Recodes n bytes in place from format `from` to format `to` (both 0..9): each byte b
// becomes recode_byte(b, from, to). Vectorised; any length and alignment.
inline void recode_in_place(unsigned char* bytes, std::size_t n, int from, int to) {
    map_in_place(recode_map(from, to), recode_plan(from, to), bytes, n);
}

namespace detail {

// The instruction set that map_in_place runs on in this process, e.g. "AVX2".
const char* map_in_place_target();

}  // namespace detail

}  // namespace toneshift
