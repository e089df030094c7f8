// How each candidate format reads one word of raw bytes: how many of the syllables it
// decodes to are valid, how many are not, and how many bytes mean nothing in it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/converter.h"
#include "tables/letter_names.h"
#include "tables/letter_table.h"

namespace toneshift::detect {

// The formats detection scores, indexed by format number: the first twelve.
inline constexpr int kCandidateCount = kUtf8 + 1;

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

// A byte below 0x80 that some 8-bit candidate (0..8) reads as a letter.
constexpr bool is_low_letter_byte(unsigned b) {
    if (b >= 0x80 || is_ascii_letter(b)) return false;
    for (std::size_t f = 0; f < kPlainVietnamese; ++f)
        if (byte_meaning[f][b] < kLetterCount) return true;
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

// Scores one raw word (at most kMaxWordBytes bytes) under every candidate.
inline constexpr std::size_t kMaxWordBytes = 64;
WordScore score_word(const unsigned char* bytes, std::size_t size);

}  // namespace toneshift::detect
