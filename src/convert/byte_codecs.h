// The byte encodings beside the letter table's: one byte a letter (TCVN3 and its capitals
// fonts, VietWare-F), a base letter and a mark byte (VNI for Windows and for Mac, BK HCM 2,
// VietWare-X), or bytes that are characters and combining tone marks (Windows-1258, VN1).
// Each is one ByteCodec, computed at compile time from its table in tables/encodings.h: how
// a byte reads alone, which byte pairs spell a letter, and how each character is written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/converter.h"
#include "tables/encodings.h"
#include "tables/letter_names.h"
#include "tables/letter_unicode.h"

namespace toneshift {

// How a byte encoding writes one character: its bytes, or, where it has none (a loss), the
// nearest form's bytes and that form. `nearest` is 0 where the nearest form is "?".
struct ByteSpelling {
    std::uint8_t size = 0;        // 0: no spelling of its own
    unsigned char bytes[3] = {};  // three: a base and two tone bytes (Windows-1258, VN1)
    char32_t nearest = 0;         // size == 0, or a spelling shared with `nearest`: what is written
    bool exact = false;
};

struct ByteCodec {
    // Reading: what each byte is alone (kNoCharacter: nothing), whether it begins a two-byte
    // spelling, and which mark it is (its index + 1 among the encoding's mark bytes; 0: no
    // mark). A mark byte alone is nothing.
    std::array<char32_t, 256> single{};
    std::array<std::uint8_t, 256> base_index{};  // 0: no base; else its index + 1
    std::array<std::uint8_t, 256> mark_index{};
    static constexpr std::size_t kMaxBases = 48;
    static constexpr std::size_t kMaxMarks = 40;
    std::array<std::array<char32_t, kMaxMarks>, kMaxBases> pairs{};  // kNoCharacter: none
    bool has_pairs = false;
    // Writing the letters, by letter position; every other character it can write is a
    // single byte whose reading is that character.
    std::array<ByteSpelling, kLetterCount> letters{};
    // The byte that reads as each character below U+0300, or -1: the common case of a
    // character other than a letter, looked up without a search.
    std::array<std::int16_t, 0x300> byte_below_0x300{};
};

namespace detail {

// Fills byte_below_0x300 from the bytes alone: the lowest byte that reads as each.
constexpr void index_low_characters(ByteCodec& codec) {
    codec.byte_below_0x300.fill(-1);
    for (int b = 255; b >= 0; --b) {
        const char32_t c = codec.single[std::size_t(b)];
        if (c < 0x300) codec.byte_below_0x300[c] = std::int16_t(b);
    }
    // ASCII first where a byte reads as itself.
    for (int b = 0; b < 0x80; ++b)
        if (codec.single[std::size_t(b)] == char32_t(b))
            codec.byte_below_0x300[std::size_t(b)] = std::int16_t(b);
}

// Each letter's other case, by letter position, and whether it is the capital: the
// spelling table pairs every capital with its small letter.
struct LetterCases {
    std::array<std::uint8_t, kLetterCount> partner{};
    std::array<bool, kLetterCount> capital{};
};
inline constexpr LetterCases letter_cases = [] {
    LetterCases t{};
    for (std::size_t k = 0; k < kLetterCount / 2; ++k) {
        const std::size_t capital = spelling_positions[2 * k],
                          small = spelling_positions[2 * k + 1];
        t.partner[capital] = std::uint8_t(small);
        t.partner[small] = std::uint8_t(capital);
        t.capital[capital] = true;
    }
    return t;
}();

// What a capitals font draws for a character: the capital of a letter, A..Z for a..z when
// `ascii_too`.
constexpr char32_t capital_of(char32_t c, bool ascii_too) {
    if (ascii_too && c >= 'a' && c <= 'z') return c - 'a' + 'A';
    const int p = letter_position(c);
    if (p < 0 || letter_cases.capital[std::size_t(p)]) return c;
    return letter_code_points[letter_cases.partner[std::size_t(p)]];
}

constexpr char32_t small_of(char32_t c) {
    const int p = letter_position(c);
    if (p < 0 || !letter_cases.capital[std::size_t(p)]) return c;
    return letter_code_points[letter_cases.partner[std::size_t(p)]];
}

static_assert(capital_of(U'\u1EBD', false) == U'\u1EBC' && small_of(U'\u0110') == U'\u0111' &&
              capital_of('a', true) == 'A' && capital_of('a', false) == 'a');

// A codec from an encoding's spellings and the Windows-1252 bytes it keeps. `capitals`: the
// bytes as a capitals font draws them (every letter its capital, and with `ascii_capitals`
// a..z as A..Z too). `nbsp`: byte 0xA0 is the no-break space.
constexpr ByteCodec spelled_codec(const SpellingTable& table, std::uint32_t kept_cp1252,
                                  bool capitals = false, bool ascii_capitals = false,
                                  bool nbsp = false) {
    ByteCodec codec{};
    for (auto& row : codec.pairs) row.fill(kNoCharacter);
    codec.single.fill(kNoCharacter);
    for (int b = 0; b < 0x80; ++b) codec.single[std::size_t(b)] = char32_t(b);
    for (int b = 0x80; b < 0xA0; ++b)
        if ((kept_cp1252 >> (b - 0x80) & 1) != 0)
            codec.single[std::size_t(b)] = cp1252_high[std::size_t(b - 0x80)];
    if (nbsp) codec.single[0xA0] = 0xA0;
    const SpellingTable by_position = spellings_by_position(table);
    // Small letters first: a byte shared by a capital and its small letter reads as the small.
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const Spelling& s = by_position[p];
        if (s.size != 1) continue;
        char32_t& reads = codec.single[s.bytes[0]];
        if (reads == kNoCharacter || reads < 0x80 || !letter_cases.capital[p])
            reads = letter_code_points[p];
    }
    // The two-byte spellings: bases and marks in order of first use.
    std::size_t bases = 0, marks = 0;
    for (const Spelling& s : table) {
        if (s.size != 2) continue;
        codec.has_pairs = true;
        if (codec.base_index[s.bytes[0]] == 0) codec.base_index[s.bytes[0]] = std::uint8_t(++bases);
        if (codec.mark_index[s.bytes[1]] == 0) codec.mark_index[s.bytes[1]] = std::uint8_t(++marks);
        codec.single[s.bytes[1]] = kNoCharacter;
        char32_t& pair =
            codec.pairs[codec.base_index[s.bytes[0]] - 1u][codec.mark_index[s.bytes[1]] - 1u];
        const char32_t c = s.character;
        if (pair == kNoCharacter || small_of(c) == c) pair = c;
    }
    if (capitals) {
        for (char32_t& c : codec.single)
            if (c != kNoCharacter) c = capital_of(c, ascii_capitals);
        for (auto& row : codec.pairs)
            for (char32_t& c : row)
                if (c != kNoCharacter) c = capital_of(c, ascii_capitals);
    }
    // Writing: a letter is exact where its spelling reads back as it.
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const char32_t c = letter_code_points[p];
        // In a capitals font a capital is written with its own spelling or its small
        // letter's, whichever the font draws as it; a small letter is a loss, its capital.
        const char32_t wanted = capitals ? capital_of(c, ascii_capitals) : c;
        const std::size_t q = std::size_t(letter_position(wanted));
        Spelling s = by_position[q];
        if (s.size == 0 || (capitals && s.size == 1 && codec.single[s.bytes[0]] != wanted))
            s = by_position[std::size_t(letter_position(small_of(wanted)))];
        ByteSpelling& w = codec.letters[p];
        if (s.size == 0) continue;
        w.size = s.size;
        w.bytes[0] = s.bytes[0];
        w.bytes[1] = s.bytes[1];
        const char32_t reads =
            s.size == 1
                ? codec.single[s.bytes[0]]
                : codec.pairs[codec.base_index[s.bytes[0]] - 1u][codec.mark_index[s.bytes[1]] - 1u];
        w.exact = reads == c;
        w.nearest = reads;
    }
    index_low_characters(codec);
    return codec;
}

// A codec whose bytes are characters and combining tone marks (Windows-1258, VN1): reading
// is the byte table, composed by the converter; writing a letter takes the fewest bytes.
constexpr ByteCodec combining_codec(const std::array<char32_t, 256>& bytes,
                                    const SpellingTable& shortest) {
    ByteCodec codec{};
    for (auto& row : codec.pairs) row.fill(kNoCharacter);
    codec.single = bytes;
    const SpellingTable by_position = spellings_by_position(shortest);
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const Spelling& s = by_position[p];
        ByteSpelling& w = codec.letters[p];
        w.size = s.size;
        w.bytes[0] = s.bytes[0];
        w.bytes[1] = s.bytes[1];
        w.exact = s.size != 0;
        w.nearest = s.size != 0 ? letter_code_points[p] : 0;
    }
    index_low_characters(codec);
    return codec;
}

}  // namespace detail

// The byte encodings' formats, in order from kTcvn3.
inline constexpr std::array<ByteCodec, kByteCodecCount> byte_codecs{{
    detail::spelled_codec(tcvn3_spellings, detail::cp1252_mask(tcvn3_kept_cp1252), false, false,
                          true),
    detail::spelled_codec(tcvn3_spellings, detail::cp1252_mask(tcvn3_kept_cp1252), true, true,
                          true),
    detail::spelled_codec(tcvn3_spellings, detail::cp1252_mask(tcvn3_kept_cp1252), true, false,
                          true),
    detail::spelled_codec(vni_win_spellings, detail::cp1252_mask(vni_win_kept_cp1252)),
    detail::spelled_codec(vni_mac_spellings, detail::cp1252_mask(vni_mac_kept_cp1252)),
    detail::combining_codec(cp1258_bytes, cp1258_spellings),
    detail::combining_codec(vn1_bytes, vn1_spellings),
    detail::spelled_codec(bkhcm2_spellings, detail::cp1252_mask(bkhcm2_kept_cp1252)),
    detail::spelled_codec(vietware_f_spellings, detail::cp1252_mask(vietware_f_kept_cp1252)),
    detail::spelled_codec(vietware_x_spellings, detail::cp1252_mask(vietware_x_kept_cp1252)),
}};

constexpr const ByteCodec& byte_codec(int format) {
    return byte_codecs[std::size_t(format - kTcvn3)];
}

// Whether a codec's bytes are each a character alone, none a combining mark: such an
// encoding is read and written through the byte tables and vector maps of the 8-bit formats.
constexpr bool one_byte_each(const ByteCodec& codec) {
    if (codec.has_pairs) return false;
    for (char32_t c : codec.single)
        if (c != kNoCharacter && c >= 0x300 && c < 0x370) return false;
    for (const ByteSpelling& w : codec.letters)
        if (w.size > 1) return false;
    return true;
}
// By format number, decided once: the converter asks it for every character.
inline constexpr auto one_byte_codecs = [] {
    std::array<bool, kConvertFormatCount> formats{};
    for (int f = kTcvn3; f <= kVietwareX; ++f)
        formats[std::size_t(f)] = one_byte_each(byte_codecs[std::size_t(f - kTcvn3)]);
    return formats;
}();
constexpr bool one_byte_codec(int format) {
    return format >= 0 && format < kConvertFormatCount && one_byte_codecs[std::size_t(format)];
}
static_assert(one_byte_codec(kTcvn3) && one_byte_codec(kTcvn3Caps) &&
              one_byte_codec(kTcvn3VnCaps) && one_byte_codec(kVietwareF) &&
              !one_byte_codec(kVniWin) && !one_byte_codec(kCp1258) && !one_byte_codec(kVn1));

// The letter that c and a combining tone after it are in NFC, where c is an ASCII letter or a
// letter of the table without a tone (a shaped vowel): its base, its shape mark and the tone
// in canonical order (the dot below before the circumflex or breve, after the horn).
// kNoCharacter for any other c, and where they make no letter.
constexpr char32_t letter_with_tone(char32_t c, char32_t tone) {
    char32_t base = c, shape = 0;
    if (c >= 0x80) {
        const int p = letter_position(c);
        if (p < 0) return kNoCharacter;
        const LetterDecomposition& d = letter_decompositions[std::size_t(p)];
        if (d.size != 2) return kNoCharacter;
        base = d.cps[0];
        shape = d.cps[1];
    }
    char32_t first = shape != 0 ? shape : tone, second = shape != 0 ? tone : 0;
    if (second != 0 && detail::combining_class(second) < detail::combining_class(first)) {
        const char32_t t = first;
        first = second;
        second = t;
    }
    const int p = letter_of_decomposition(base, first, second);
    return p < 0 ? kNoCharacter : letter_code_points[std::size_t(p)];
}
static_assert(letter_with_tone(U'\u00EA', 0x323) == U'\u1EC7' &&
              letter_with_tone(U'\u01B0', 0x323) == U'\u1EF1' &&
              letter_with_tone('a', 0x301) == U'\u00E1' &&
              letter_with_tone(U'\u00E1', 0x323) == kNoCharacter &&
              letter_with_tone('n', 0x300) == kNoCharacter);

// The character a two-byte spelling reads as, or kNoCharacter.
constexpr char32_t pair_of(const ByteCodec& codec, unsigned char base, unsigned char mark) {
    if (codec.base_index[base] == 0 || codec.mark_index[mark] == 0) return kNoCharacter;
    return codec.pairs[codec.base_index[base] - 1u][codec.mark_index[mark] - 1u];
}

// How `codec` writes character c when it is a single byte (a letter, ASCII, punctuation):
// the byte whose reading is c, or -1. Letters come from `letters`; this is for the rest.
constexpr int single_byte_of(const ByteCodec& codec, char32_t c) {
    if (c < 0x300) return codec.byte_below_0x300[c];
    for (int b = 0x80; b < 0x100; ++b)
        if (codec.single[std::size_t(b)] == c) return b;
    for (int b = 0; b < 0x80; ++b)
        if (codec.single[std::size_t(b)] == c) return b;
    return -1;
}

// How `codec` writes character c from its tables: a letter's spelling, the byte that reads
// as c, or (a capitals font) a small a..z as the capital's byte, a loss. Size 0: none here
// (Windows-1258 and VN1 may still spell it with tone bytes; the converter tries that).
constexpr ByteSpelling spelling_of(const ByteCodec& codec, char32_t c) {
    if (const int p = letter_position(c); p >= 0) return codec.letters[std::size_t(p)];
    ByteSpelling w;
    int b = single_byte_of(codec, c);
    const bool exact = b >= 0;
    if (!exact && c >= 'a' && c <= 'z') b = single_byte_of(codec, c - 'a' + 'A');
    if (b < 0) return w;
    w.size = 1;
    w.bytes[0] = static_cast<unsigned char>(b);
    w.exact = exact;
    w.nearest = exact ? 0 : c - 'a' + 'A';
    return w;
}

// A spelling of up to three bytes packed as the UTF-8 loop writes it: the bytes from the
// lowest, their number in bits 24 and 25; 0 for a character it leaves to the general path.
constexpr std::uint32_t packed_spelling(const ByteSpelling& w) {
    if (!w.exact || w.size == 0 || w.size > 3) return 0;
    return std::uint32_t(w.bytes[0]) | std::uint32_t(w.bytes[1]) << 8 |
           std::uint32_t(w.bytes[2]) << 16 | std::uint32_t(w.size) << 24;
}

// How a byte encoding of several bytes a character writes each character that the UTF-8
// loop takes (below U+0300, and U+1EA0..U+1EF9): spelling_of's exact spellings, packed.
// A character with none there (a loss, or Windows-1258 and VN1 spelling it with a tone byte
// the tables do not hold) is 0: the general path writes it.
struct SpelledTargets {
    std::array<std::uint32_t, 0x300> low{};
    std::array<std::uint32_t, detail::kAdditionalEnd - detail::kAdditionalFirst> additional{};
};
inline constexpr auto spelled_targets = [] {
    std::array<SpelledTargets, kByteCodecCount> all{};
    for (std::size_t k = 0; k < kByteCodecCount; ++k) {
        if (one_byte_each(byte_codecs[k])) continue;  // the byte tables serve those
        for (char32_t c = 0; c < 0x300; ++c)
            all[k].low[c] = packed_spelling(spelling_of(byte_codecs[k], c));
        for (char32_t c = detail::kAdditionalFirst; c < detail::kAdditionalEnd; ++c)
            all[k].additional[c - detail::kAdditionalFirst] =
                packed_spelling(spelling_of(byte_codecs[k], c));
    }
    return all;
}();
constexpr const SpelledTargets& spelled_target(int format) {
    return spelled_targets[std::size_t(format - kTcvn3)];
}
static_assert(spelled_target(kVniWin).low['a'] == (0x61u | 1u << 24) &&
              spelled_target(kCp1258).additional[0x1EC7 - detail::kAdditionalFirst] ==
                  (0xEAu | 0xF2u << 8 | 2u << 24));

}  // namespace toneshift
