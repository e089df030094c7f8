// The tables that the vector decoder looks bytes up in, derived from the class tables.
// Internal to the decoder (and its tests).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "viqr/decoder/class_tables.h"

namespace toneshift::detail {

// Byte tables looked up in vectors. A vector lookup takes a 16-entry table, indexed by the
// low four bits of each lane, and gives 0 where the lane's top bit is set. A longer table is
// looked up in steps of 16 entries (rows): the index is lowered by 16 after each step,
// saturating as a signed byte, so that it drops below 0 (top bit set) once past its own
// row and an index from 0x80 up never comes down into range. Each row is stored as its
// difference (XOR) from the row before, so the XOR of the steps' results is the entry.
template <std::size_t kRows>
using stepped_table = std::array<std::array<std::uint8_t, 16>, kRows>;

// The rows of table[first], table[first + 1], ...; entries past the table are 0.
template <std::size_t kRows, std::size_t n>
constexpr stepped_table<kRows> stepped_rows(const std::array<std::uint8_t, n>& table,
                                            std::size_t first = 0) {
    stepped_table<kRows> rows{};
    auto at = [&](std::size_t x) -> std::uint8_t { return x < n ? table[x] : 0; };
    for (std::size_t r = 0; r < kRows; ++r)
        for (std::size_t l = 0; l < 16; ++l)
            rows[r][l] = static_cast<std::uint8_t>(at(first + 16 * r + l) ^
                                                   (r == 0 ? 0 : at(first + 16 * (r - 1) + l)));
    return rows;
}

// The vector lookup of one lane, step by step: what the vector code computes.
template <std::size_t kRows>
constexpr std::uint8_t stepped_lookup(const stepped_table<kRows>& rows, std::uint8_t index) {
    std::uint8_t r = 0;
    int x = static_cast<std::int8_t>(index);
    for (std::size_t step = 0; step < kRows; ++step) {
        if (x >= 0) r = static_cast<std::uint8_t>(r ^ rows[step][unsigned(x) & 15]);
        x = x - 16 < -128 ? -128 : x - 16;
    }
    return r;
}

// By class code (0 to 47): the marks a letter accepts (0 for every other class), and the
// mark bits a character adds.
inline constexpr auto allowed_by_class = [] {
    std::array<std::uint8_t, 48> allowed{};
    for (std::size_t k = kFirstLetterClass; k <= kLastLetterClass; ++k)
        allowed[k] = allowed_marks[k];
    return allowed;
}();
inline constexpr auto mark_bits_by_class = [] {
    std::array<std::uint8_t, 48> bits{};
    for (std::size_t k = 0; k < kClassCount; ++k) bits[k] = mark_bits[k];
    return bits;
}();
inline constexpr auto allowed_rows = stepped_rows<3>(allowed_by_class);
inline constexpr auto mark_bits_rows = stepped_rows<3>(mark_bits_by_class);

// How far a mark moves the letter state, by its mark bits shifted right by three (breve,
// circumflex, horn and stroke are one bit each; tones have none of these bits).
inline constexpr auto step_by_shape_bits = [] {
    std::array<std::uint8_t, 16> step{};
    for (std::size_t k = 0; k < kClassCount; ++k)
        if (state_step[k] != 0) step[mark_bits[k] >> 3] = state_step[k];
    return step;
}();
static_assert([] {
    for (std::size_t k = 0; k < kClassCount; ++k)
        if ((mark_bits[k] & kMarkTone) != 0 && (mark_bits[k] >> 3) != 0) return false;
    return true;
}());

// composed_letter by letter state * 6 + tone column (at most 173): its first 128 entries
// and the rest, each in rows.
inline constexpr auto composed_low_rows = stepped_rows<8>(composed_letter);
inline constexpr auto composed_high_rows = stepped_rows<3>(composed_letter, 128);
static_assert(composed_letter.size() <= 128 + 3 * 16);

// The class code the vector composition gives a mode letter that has no class of its own.
inline constexpr std::uint8_t kModeLetterCode = 37;
static_assert(kModeLetterCode >= kClassCount && kModeLetterCode < 48);

// For each mask of 8 bits, the positions of its set bits in order (the rest 0): the table
// that packs the kept bytes of 8 together. One more entry of padding, so that 16 bytes can
// be read from any entry.
// `high` gives the positions in the upper 8 bytes of 16.
template <bool high>
constexpr std::array<std::uint8_t, 257 * 8> make_pack_indices() {
    std::array<std::uint8_t, 257 * 8> indices{};
    for (unsigned m = 0; m < 256; ++m) {
        unsigned at = 0;
        for (unsigned b = 0; b < 8; ++b)
            if ((m >> b & 1) != 0)
                indices[m * 8 + at++] = static_cast<std::uint8_t>(b + (high ? 8 : 0));
    }
    return indices;
}
inline constexpr auto pack_indices = make_pack_indices<false>();
inline constexpr auto pack_indices_high = make_pack_indices<true>();

}  // namespace toneshift::detail
