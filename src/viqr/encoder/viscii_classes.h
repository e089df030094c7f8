// The VIQR encoder's view of VISCII bytes: every byte's VIQR spelling, the lower-case map and
// the character classes that decide where an escape is needed. All of it is computed at
// compile time from letter_table and letter_names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tables/letter_names.h"
#include "tables/letter_table.h"

namespace toneshift {

// Flags of viscii_class.
inline constexpr std::uint32_t VISCII_VOWEL = 0x100;       // a vowel, plain or a letter byte
inline constexpr std::uint32_t VISCII_SHAPE_MARK = 0x200;  // "(", "^", "+"
inline constexpr std::uint32_t VISCII_TONE_MARK = 0x400;   // "'", "`", "?", "~", "."
inline constexpr std::uint32_t VISCII_HAS_SHAPE = 0x800;   // a letter whose name holds a shape
inline constexpr std::uint32_t VISCII_HAS_TONE = 0x1000;   // a letter whose name ends in a tone

// A spelling: up to three characters, NUL-padded to four bytes.
using Spelling = std::array<unsigned char, 4>;

namespace detail {

// The letter position of every VISCII byte; -1 for a byte that is no letter.
inline constexpr auto viscii_positions = [] {
    std::array<short, 256> position{};
    position.fill(-1);
    for (std::size_t p = 0; p < kLetterCount; ++p) position[letter_table[kViscii][p]] = short(p);
    return position;
}();

constexpr bool is_shape_mark(unsigned char c) {
    return c == '(' || c == '^' || c == '+';
}

constexpr bool is_tone_mark(unsigned char c) {
    for (char mark : kToneMarks)
        if (c == static_cast<unsigned char>(mark)) return true;
    return false;
}

constexpr bool is_plain_vowel(unsigned char c) {
    for (unsigned char v : {'a', 'e', 'i', 'o', 'u', 'y', 'A', 'E', 'I', 'O', 'U', 'Y'})
        if (c == v) return true;
    return false;
}

}  // namespace detail

// Indexed by byte: a letter byte's VIQR name, the empty string for 0x00, and the byte itself
// for every other byte.
inline constexpr auto viqr_spelling = [] {
    std::array<Spelling, 256> spelling{};
    for (std::size_t b = 1; b < 256; ++b) {
        const short p = detail::viscii_positions[b];
        if (p < 0) {
            spelling[b] = {static_cast<unsigned char>(b), 0, 0, 0};
            continue;
        }
        const LetterName& name = letter_names[std::size_t(p)];
        for (std::size_t i = 0; i < 4; ++i)
            spelling[b][i] = static_cast<unsigned char>(name.text[i]);
    }
    return spelling;
}();

// "A" to "Z" to lower case, each capital letter byte to the small letter byte of the same
// name; every other byte to itself.
inline constexpr auto viscii_lower = [] {
    std::array<unsigned char, 256> lower{};
    for (std::size_t b = 0; b < 256; ++b) lower[b] = static_cast<unsigned char>(b);
    for (unsigned char c = 'A'; c <= 'Z'; ++c) lower[c] = static_cast<unsigned char>(c - 'A' + 'a');
    const LetterRow& viscii = letter_table[kViscii];
    lower[viscii[1]] = viscii[0];  // DD to dd
    for (std::size_t p = 2 + 66; p < kLetterCount; ++p) lower[viscii[p]] = viscii[p - 66];
    return lower;
}();

inline constexpr auto viscii_class = [] {
    std::array<std::uint32_t, 256> flags{};
    for (std::size_t c = 0; c < 128; ++c) {
        const auto ch = static_cast<unsigned char>(c);
        if (detail::is_plain_vowel(ch)) flags[c] |= VISCII_VOWEL;
        if (detail::is_shape_mark(ch)) flags[c] |= VISCII_SHAPE_MARK;
        if (detail::is_tone_mark(ch)) flags[c] |= VISCII_TONE_MARK;
    }
    for (std::size_t p = 2; p < kLetterCount; ++p) {  // every letter but the two d with stroke
        std::uint32_t& f = flags[letter_table[kViscii][p]];
        f |= VISCII_VOWEL;
        const LetterName& name = letter_names[p];
        for (std::size_t i = 1; i < name.size(); ++i) {
            const auto mark = static_cast<unsigned char>(name.text[i]);
            if (detail::is_shape_mark(mark)) f |= VISCII_HAS_SHAPE;
            if (detail::is_tone_mark(mark)) f |= VISCII_HAS_TONE;
        }
    }
    return flags;
}();

namespace detail {

constexpr std::size_t count_flagged(std::uint32_t flag) {
    std::size_t n = 0;
    for (std::uint32_t f : viscii_class) n += (f & flag) != 0;
    return n;
}

// What the letter table says of the classes; a slip in the table or its names breaks these.
static_assert(count_flagged(VISCII_VOWEL) == 12 + 132);
static_assert(count_flagged(VISCII_SHAPE_MARK) == 3 && count_flagged(VISCII_TONE_MARK) == 5);
static_assert(count_flagged(VISCII_HAS_SHAPE) == 72);
static_assert(count_flagged(VISCII_HAS_TONE) == 120);
static_assert(viscii_class[0x00] == 0 && viscii_class[0xF0] == 0 && viscii_class[0xD0] == 0);
// The twelve shaped letters without a tone, and no others.
static_assert([] {
    constexpr unsigned char shaped_untoned[12] = {0xC2, 0xC5, 0xCA, 0xD4, 0xB4, 0xBF,
                                                  0xE2, 0xE5, 0xEA, 0xF4, 0xBD, 0xDF};
    std::size_t n = 0;
    for (std::uint32_t f : viscii_class)
        n += (f & (VISCII_HAS_SHAPE | VISCII_HAS_TONE)) == VISCII_HAS_SHAPE;
    if (n != 12) return false;
    for (unsigned char b : shaped_untoned)
        if ((viscii_class[b] & (VISCII_HAS_SHAPE | VISCII_HAS_TONE)) != VISCII_HAS_SHAPE)
            return false;
    return true;
}());

// Every spelling is 7-bit and NUL-padded, at most three characters, empty only for 0x00.
static_assert([] {
    for (std::size_t b = 0; b < 256; ++b) {
        const Spelling& s = viqr_spelling[b];
        if ((s[0] == 0) != (b == 0) || s[3] != 0) return false;
        for (std::size_t i = 0; i < 4; ++i)
            if (s[i] >= 0x80 || (i > 0 && s[i - 1] == 0 && s[i] != 0)) return false;
    }
    return true;
}());

// Only "d" and "D" lower to "d"; only the two d with stroke lower to 0xF0.
static_assert([] {
    for (std::size_t b = 0; b < 256; ++b) {
        if ((viscii_lower[b] == 'd') != (b == 'd' || b == 'D')) return false;
        if ((viscii_lower[b] == 0xF0) != (b == 0xF0 || b == 0xD0)) return false;
    }
    return viscii_lower[0x02] == 0xC6;
}());

// Mode 0 asks of the previous byte p whether it is one of these kinds, and of the byte b
// after it which kinds force its escape; b is escaped when the two share a bit. Together they
// replace the escape tests 2 to 4 and the escape of a d with stroke after a plain "d".
inline constexpr unsigned char kPlainD = 1;          // "d" or "D"
inline constexpr unsigned char kShapelessVowel = 2;  // a vowel without a shape mark
inline constexpr unsigned char kTonelessVowel = 4;   // a vowel without a tone mark

inline constexpr auto previous_kind = [] {
    std::array<unsigned char, 256> kind{};
    for (std::size_t p = 0; p < 256; ++p) {
        const std::uint32_t f = viscii_class[p];
        if (viscii_lower[p] == 'd') kind[p] |= kPlainD;
        if ((f & (VISCII_VOWEL | VISCII_HAS_SHAPE)) == VISCII_VOWEL) kind[p] |= kShapelessVowel;
        if ((f & (VISCII_VOWEL | VISCII_HAS_TONE)) == VISCII_VOWEL) kind[p] |= kTonelessVowel;
    }
    return kind;
}();

inline constexpr auto escaped_after = [] {
    std::array<unsigned char, 256> kinds{};
    for (std::size_t b = 0; b < 256; ++b) {
        const std::uint32_t f = viscii_class[b];
        if (viscii_lower[b] == 'd' || viscii_lower[b] == 0xF0) kinds[b] |= kPlainD;
        if (f & VISCII_SHAPE_MARK) kinds[b] |= kShapelessVowel;
        if (f & VISCII_TONE_MARK) kinds[b] |= kTonelessVowel;
    }
    return kinds;
}();

// The number of bytes each byte is written as. A NUL counts one: only a run meets it, and
// writes it as the 0x00 its spelling starts with.
inline constexpr auto spelling_length = [] {
    std::array<unsigned char, 256> length{};
    for (std::size_t b = 0; b < 256; ++b) {
        unsigned char n = 0;
        while (n < 4 && viqr_spelling[b][n] != 0) ++n;
        length[b] = b == 0 ? 1 : n;
    }
    return length;
}();

// Mode 1 writes the escape character before these: every letter byte.
inline constexpr auto escaped_in_mode_1 = [] {
    std::array<bool, 256> escaped{};
    for (std::size_t b = 0; b < 256; ++b)
        escaped[b] = (viscii_class[b] & (VISCII_HAS_SHAPE | VISCII_HAS_TONE)) != 0 ||
                     viscii_lower[b] == 0xF0;
    return escaped;
}();

// An escaped byte is written as the escape character and its spelling, in at most three bytes;
// for all but the d with stroke that spelling is the byte itself, as the escape rules want.
static_assert([] {
    for (std::size_t b = 0; b < 256; ++b) {
        if (escaped_after[b] == 0) continue;
        if (spelling_length[b] > 2) return false;
        if (viscii_lower[b] != 0xF0 && (spelling_length[b] != 1 || viqr_spelling[b][0] != b))
            return false;
    }
    return true;
}());

}  // namespace detail
}  // namespace toneshift
