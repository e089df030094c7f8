// The encoder's rules for one byte in mode 0, shared by its byte-by-byte and vector paths.
// Internal to the encoder (and its tests).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "viqr/encoder/viscii_classes.h"

namespace toneshift::detail {

// The value the escape test compares each byte with. A NUL escape character matches no byte,
// so a NUL of a run always stays one 0x00.
constexpr int escape_match(unsigned char escape_char) {
    return escape_char != 0 ? escape_char : -1;
}

// Writes the first three bytes of b's spelling; the caller advances by its length. Three
// bytes per input byte is the output bound, so the spare bytes stay inside the buffer.
inline void put_spelling(const Spelling& s, unsigned char* out) {
    out[0] = s[0];
    out[1] = s[1];
    out[2] = s[2];
}

// Mode 0: writes b, which follows the input byte `previous`; returns the cursor past it.
inline unsigned char* encode_after(unsigned char previous, unsigned char b, unsigned char* out,
                                   unsigned char escape_char, int match) {
    // An escape character of the text is doubled, so it never opens a sequence.
    if (int(b) == match) {
        out[0] = escape_char;
        out[1] = b;
        return out + 2;
    }
    const Spelling& s = viqr_spelling[b];
    // A "d" or d with stroke after a plain "d", a mark after a vowel that lacks that kind of
    // mark: a reader would join it to the byte before.
    if (escaped_after[b] & previous_kind[previous]) {
        out[0] = escape_char;
        out[1] = s[0];
        out[2] = s[1];
        return out + 1 + spelling_length[b];
    }
    put_spelling(s, out);
    return out + spelling_length[b];
}

// Each byte's spelling in the low three bytes of a word and the number of bytes it is
// written as in the high byte, for writing a byte with one store.
inline constexpr auto spelling_words = [] {
    std::array<std::uint32_t, 256> words{};
    for (std::size_t b = 0; b < 256; ++b) {
        const Spelling& s = viqr_spelling[b];
        words[b] = std::uint32_t(s[0]) | std::uint32_t(s[1]) << 8 | std::uint32_t(s[2]) << 16 |
                   std::uint32_t(spelling_length[b]) << 24;
    }
    return words;
}();

// encode_after, writing four bytes wherever it writes fewer: for a caller with a byte of room
// to spare past the bound. The same bytes up to the cursor that it returns.
inline unsigned char* encode_after_wide(unsigned char previous, unsigned char b, unsigned char* out,
                                        unsigned char escape_char, int match) {
    std::uint32_t w = spelling_words[b];
    if (int(b) == match) {
        w = escape_char | std::uint32_t(b) << 8 | 2u << 24;
    } else if (escaped_after[b] & previous_kind[previous]) {
        w = escape_char | (w & 0xFFFF) << 8 | ((w >> 24) + 1) << 24;
    }
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &w, 4);
    } else {
        out[0] = static_cast<unsigned char>(w);
        out[1] = static_cast<unsigned char>(w >> 8);
        out[2] = static_cast<unsigned char>(w >> 16);
    }
    return out + (w >> 24);
}

// viqr_encode_run one byte at a time: the reference that the vector path is proven against.
std::size_t viqr_encode_run_scalar(const unsigned char* text, std::size_t length,
                                   unsigned char previous, unsigned char* out,
                                   unsigned char escape_char);

}  // namespace toneshift::detail
