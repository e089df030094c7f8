// What the converter knows of characters: how each format reads a byte, how each target
// writes a character, and the typographic punctuation it can transliterate. Internal to
// the converter (and its tests).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/byte_codecs.h"
#include "convert/converter.h"
#include "tables/letter_table.h"
#include "tables/letter_unicode.h"
#include "tables/recode.h"

namespace toneshift::convert_detail {

// Stands for a byte that means nothing in its format (undefined input).
inline constexpr char32_t kNoChar = 0xFFFFFFFF;
inline constexpr char32_t kReplacementCharacter = 0xFFFD;

// The character a byte of 8-bit format f (0..9) stands for: a letter byte is its letter (the
// first letter of the row that has the byte), any other byte below 0x80 is the ASCII or
// control character of its value, and the rest mean nothing. Plain Vietnamese is ASCII. A
// byte encoding's byte alone reads as its codec says.
constexpr char32_t source_char(int f, unsigned char b) {
    if (is_byte_codec(f)) return byte_codec(f).single[b];
    if (f >= kEightBitFormatCount) return kNoChar;
    const short p = f == kPlainVietnamese ? -1 : detail::first_positions[std::size_t(f)][b];
    if (p >= 0 && p < short(kLetterCount)) return letter_code_points[std::size_t(p)];
    return b < 0x80 ? char32_t(b) : kNoChar;
}

// Every format's bytes alone (all kNoChar for VIQR and the Unicode formats).
inline constexpr auto source_chars = [] {
    std::array<std::array<char32_t, 256>, kConvertFormatCount> chars{};
    for (int f = 0; f < kConvertFormatCount; ++f)
        for (int b = 0; b < 256; ++b) chars[std::size_t(f)][std::size_t(b)] = source_char(f, b);
    return chars;
}();

// How an 8-bit target (0..9; VIQR writes through VISCII) writes one character.
struct TargetByte {
    unsigned char byte = 0;  // the byte written when exact, or for a small-letter replacement
    bool exact = false;      // false: a loss
    char32_t nearest = '?';  // the loss's replacement character
};

// A byte encoding whose letters are each one byte (one_byte_codec) writes as its codec says;
// its nearest form of a loss is a letter's other case or "?".
constexpr TargetByte codec_target_byte(const ByteCodec& codec, char32_t c) {
    const ByteSpelling w = spelling_of(codec, c);
    if (w.size == 0) return {'?', false, '?'};
    return {w.bytes[0], w.exact, w.exact ? char32_t(0) : w.nearest};
}

constexpr TargetByte target_byte(int t, char32_t c) {
    if (is_byte_codec(t)) return codec_target_byte(byte_codec(t), c);
    const int p = letter_position(c);
    if (p >= 0) {
        const unsigned char b = letter_table[std::size_t(t)][std::size_t(p)];
        if (t == kPlainVietnamese) return {b, true, 0};  // drops diacritics by definition
        const short first = detail::first_positions[std::size_t(t)][b];
        // Formats 5 and 7 give some capitals their small letter's byte, which reads back as
        // the small letter: that is the nearest form.
        if (first == p) return {b, true, 0};
        return {b, false, letter_code_points[std::size_t(first)]};
    }
    if (c < 0x80) {
        const auto b = static_cast<unsigned char>(c);
        if (t == kPlainVietnamese) return {b, true, 0};
        // A byte that the target uses for a letter cannot also be the ASCII character.
        const short first = detail::first_positions[std::size_t(t)][b];
        if (first >= 0 && first < short(kLetterCount)) return {'?', false, '?'};
        return {b, true, 0};
    }
    return {'?', false, '?'};
}

// Typographic punctuation and its ASCII form, for LossPolicy::kTransliterate where the
// target lacks it.
struct Transliteration {
    char32_t from;
    const char* to;
};
inline constexpr Transliteration transliterations[] = {
    {0x2018, "'"},   {0x2019, "'"},  {0x201A, "'"},  {0x201B, "'"},   // single quotes
    {0x2039, "'"},   {0x203A, "'"},                                   // single guillemets
    {0x201C, "\""},  {0x201D, "\""}, {0x201E, "\""}, {0x201F, "\""},  // double quotes
    {0x00AB, "\""},  {0x00BB, "\""},                                  // guillemets
    {0x2012, "-"},   {0x2013, "-"},  {0x2014, "-"},  {0x2015, "-"},   // figure, en, em dash
    {0x2026, "..."},                                                  // ellipsis
    {0x00A0, " "},   {0x202F, " "},                                   // no-break spaces
    {0x2022, "*"},                                                    // bullet
};

inline constexpr auto transliterated_range = [] {
    std::array<char32_t, 2> range{transliterations[0].from, transliterations[0].from};
    for (const Transliteration& t : transliterations) {
        range[0] = t.from < range[0] ? t.from : range[0];
        range[1] = t.from > range[1] ? t.from : range[1];
    }
    return range;
}();

// Which characters of that range have a transliteration, as bits: most characters in it have
// none, and hostile text asks about each.
inline constexpr auto transliterated_bits = [] {
    std::array<std::uint64_t, (0x2040 - 0xA0) / 64 + 1> bits{};
    for (const Transliteration& t : transliterations)
        bits[(t.from - transliterated_range[0]) / 64] |=
            std::uint64_t(1) << ((t.from - transliterated_range[0]) % 64);
    return bits;
}();
static_assert((transliterated_range[1] - transliterated_range[0]) / 64 <
              transliterated_bits.size());

constexpr const char* transliteration_of(char32_t c) {
    if (c < transliterated_range[0] || c > transliterated_range[1]) return nullptr;
    const char32_t k = c - transliterated_range[0];
    if ((transliterated_bits[k / 64] >> (k % 64) & 1) == 0) return nullptr;
    for (const Transliteration& t : transliterations)
        if (t.from == c) return t.to;
    return nullptr;
}

// UTF-8 of one code point (below 0x110000); returns its length.
constexpr int put_utf8(char32_t c, unsigned char* out) {
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

// What one byte of an 8-bit source becomes in the target, written as one 8-byte store:
// up to 7 output bytes and their count. `problem` marks a byte that is undefined input or a
// loss; the converter takes those one at a time, to report them.
struct ByteUnit {
    unsigned char bytes[7];
    std::uint8_t size : 7;
    std::uint8_t problem : 1;
};
static_assert(sizeof(ByteUnit) == 8);

// The unit of byte b of 8-bit format `from` in target `to` (0..9, VISCII for a VIQR target,
// or UTF-8 composed or decomposed).
constexpr ByteUnit char_unit(int to, bool nfd, char32_t c);

constexpr ByteUnit byte_unit(int from, int to, bool nfd, unsigned char b) {
    const char32_t c = source_char(from, b);
    if (c == kNoChar) {
        ByteUnit u{};
        u.problem = 1;
        return u;
    }
    return char_unit(to, nfd, c);
}

// The unit of character c in target `to`, as byte_unit.
constexpr ByteUnit char_unit(int to, bool nfd, char32_t c) {
    ByteUnit u{};
    if (to == kUtf8) {
        const int p = letter_position(c);
        if (nfd && p >= 0) {
            const LetterDecomposition& d = letter_decompositions[std::size_t(p)];
            int n = 0;
            for (int i = 0; i < d.size; ++i) n += put_utf8(d.cps[i], u.bytes + n);
            u.size = std::uint8_t(n);
        } else {
            u.size = std::uint8_t(put_utf8(c, u.bytes));
        }
        return u;
    }
    const TargetByte t = target_byte(to == kViqr ? kViscii : to, c);
    u.bytes[0] = t.byte;
    u.size = 1;
    u.problem = t.exact ? 0 : 1;
    return u;
}

}  // namespace toneshift::convert_detail
