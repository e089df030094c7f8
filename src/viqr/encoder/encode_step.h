// The encoder's rules for one byte in mode 0, shared by its byte-by-byte and vector paths.
// Internal to the encoder (and its tests).
#pragma once

#include <cstddef>

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

// viqr_encode_run one byte at a time: the reference that the vector path is proven against.
std::size_t viqr_encode_run_scalar(const unsigned char* text, std::size_t length,
                                   unsigned char previous, unsigned char* out,
                                   unsigned char escape_char);

}  // namespace toneshift::detail
