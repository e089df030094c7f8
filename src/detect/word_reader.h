// How each candidate format reads one word of raw bytes: how many of the syllables it
// decodes to are valid, how many are not, and how many bytes mean nothing in it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/byte_codecs.h"
#include "convert/converter.h"
#include "detect/syllable.h"
#include "tables/letter_names.h"
#include "tables/letter_table.h"

namespace toneshift::detect {

// The formats detection scores, indexed by format number: the first twelve and the byte
// encodings, but the capitals fonts of TCVN3 (the font, not the bytes, makes them capitals:
// detection names tcvn3 for their text). UTF-16 and references are told by the detector
// itself, before and beside the words.
inline constexpr int kCandidateCount = kVietwareX + 1;

// Formats whose bytes are read one by one, or a base and a mark byte, into letters: the
// 8-bit formats but plain, and the byte encodings.
constexpr bool is_byte_candidate(int f) {
    return (f >= 0 && f < kPlainVietnamese) ||
           (is_byte_codec(f) && f != kTcvn3Caps && f != kTcvn3VnCaps);
}
inline constexpr auto byte_candidates = [] {
    std::array<int, kCandidateCount> out{};
    std::size_t n = 0;
    for (int f = 0; f < kCandidateCount; ++f)
        if (is_byte_candidate(f)) out[n++] = f;
    return out;
}();
inline constexpr std::size_t kByteCandidateCount = [] {
    std::size_t n = 0;
    for (int f = 0; f < kCandidateCount; ++f) n += is_byte_candidate(f) ? 1 : 0;
    return n;
}();
static_assert(kByteCandidateCount == 9 + 8);

// The score of one raw word under every candidate. A syllable counts only when the
// candidate decodes it to at least one letter outside ASCII ("marked"): unmarked words read
// the same in every format. A lone letter counts as nothing (VIQR: as weak evidence) unless
// it is a common one-letter word. VIQR (format 10) counts a syllable as weak evidence when its
// only mark is a final "?" or ".", which is also ordinary punctuation.
struct WordScore {
    std::array<std::uint8_t, kCandidateCount> valid{};
    std::array<std::uint8_t, kCandidateCount> known{};   // the valid ones in the dictionary
    std::array<std::uint8_t, kCandidateCount> common{};  // the valid ones that are common
    std::array<std::uint8_t, kCandidateCount> invalid{};
    std::array<std::uint8_t, kCandidateCount> undefined{};
    std::uint8_t weak_valid = 0;
    std::uint8_t weak_invalid = 0;
};

// What a byte is in an 8-bit format: a letter position 0..133, or one of these.
inline constexpr std::uint8_t kAsciiLetter = 0xF0;
inline constexpr std::uint8_t kSeparator = 0xF1;
inline constexpr std::uint8_t kUndefinedByte = 0xF2;

constexpr bool is_ascii_letter(unsigned b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

// Control bytes that no text holds (white space and escape aside).
constexpr bool is_binary_control(unsigned b) {
    return (b < 0x20 && b != '\t' && b != '\n' && b != '\v' && b != '\f' && b != '\r' &&
            b != 0x1B) ||
           b == 0x7F;
}

// byte -> letter position (the first position where a row holds the byte twice), or the
// class of a byte that is no letter. Filled from the last position to the first, so that
// the first one stays.
inline constexpr auto byte_meaning = [] {
    std::array<std::array<std::uint8_t, 256>, kEightBitFormatCount> out{};
    for (std::size_t f = 0; f < kEightBitFormatCount; ++f) {
        for (unsigned b = 0; b < 256; ++b)
            out[f][b] = is_ascii_letter(b)                    ? kAsciiLetter
                        : (b >= 0x80 || is_binary_control(b)) ? kUndefinedByte
                                                              : kSeparator;
        for (std::size_t p = kLetterCount; p-- > 0;) out[f][letter_table[f][p]] = std::uint8_t(p);
    }
    return out;
}();

// What byte b reads as alone in byte candidate f: a character, or kNoCharacter for a byte
// that means nothing there (a mark byte of VNI alone included).
constexpr char32_t reading_of(int f, unsigned b) {
    if (f < kPlainVietnamese) {
        const std::uint8_t m = byte_meaning[std::size_t(f)][b];
        return m < kLetterCount      ? letter_code_points[m]
               : m == kUndefinedByte ? kNoCharacter
                                     : char32_t(b);
    }
    return byte_codec(f).single[b];
}

// A byte below 0x80 that some byte candidate reads as a letter outside ASCII.
constexpr bool is_low_letter_byte(unsigned b) {
    if (b >= 0x80 || is_ascii_letter(b)) return false;
    for (int f = 0; f < kCandidateCount; ++f)
        if (is_byte_candidate(f) && reading_of(f, b) != kNoCharacter && reading_of(f, b) >= 0x80)
            return true;
    return false;
}

// The raw words are cut at bytes of this class; the detector scores each once per word.
enum class ByteClass : std::uint8_t {
    kOther,     // ends a word
    kLetter,    // an ASCII letter
    kWordByte,  // 0x80 and above, or a letter of some format below 0x80
    kMark,      // a VIQR mark: part of a word after its first byte
    kNewline,   // ends a word and a line
    kBinary,    // a control byte that no text holds
};

inline constexpr auto byte_class = [] {
    std::array<ByteClass, 256> out{};
    for (unsigned b = 0; b < 256; ++b) {
        ByteClass c = ByteClass::kOther;
        if (is_ascii_letter(b)) {
            c = ByteClass::kLetter;
        } else if (b >= 0x80 || is_low_letter_byte(b)) {
            c = ByteClass::kWordByte;
        } else if (b == '\'' || b == '?' || b == '.' || b == '(' || b == '+') {
            c = ByteClass::kMark;
        } else if (b == '\n') {
            c = ByteClass::kNewline;
        } else if (is_binary_control(b)) {
            c = ByteClass::kBinary;
        }
        out[b] = c;
    }
    return out;
}();

// How the counts of a score weigh when readings are compared: a syllable that a wrong
// reading makes weighs this many valid ones, and a byte that means nothing in a format this
// many; a valid syllable counts once, kKnownWeight more when the dictionary knows it, and
// kCommonWeight more again when it is one of the common ones.
inline constexpr std::int64_t kInvalidWeight = 4;
inline constexpr std::uint64_t kKnownWeight = 2;
inline constexpr std::uint64_t kCommonWeight = 2;
inline constexpr std::int64_t kUndefinedWeight = 8;

// Scores one raw word (at most kMaxWordBytes bytes) under every candidate.
inline constexpr std::size_t kMaxWordBytes = 64;
WordScore score_word(const unsigned char* bytes, std::size_t size);
// Letter position 0..133 as a syllable letter (its base, shape, tone and case).
SyllableLetter syllable_letter(std::size_t position);

// The same for UTF-8 alone (the kUtf8 counts of the score), for text already decoded.
WordScore score_utf8_word(const unsigned char* bytes, std::size_t size);

}  // namespace toneshift::detect
