#include "viqr/encoder/viqr_encoder.h"

#include "viqr/encoder/viscii_classes.h"

namespace toneshift {
namespace {

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
    if (detail::escaped_after[b] & detail::previous_kind[previous]) {
        out[0] = escape_char;
        out[1] = s[0];
        out[2] = s[1];
        return out + 1 + detail::spelling_length[b];
    }
    put_spelling(s, out);
    return out + detail::spelling_length[b];
}

// Mode 1: every letter byte is preceded by the escape character, as is an escape character
// of the text.
inline unsigned char* encode_marked(unsigned char b, unsigned char* out,
                                    unsigned char escape_char) {
    if (b == escape_char || detail::escaped_in_mode_1[b]) *out++ = escape_char;
    put_spelling(viqr_spelling[b], out);
    return out + detail::spelling_length[b];
}

}  // namespace

int viqr_encode(const unsigned char* text, unsigned char* out, unsigned char escape_char,
                int mode) {
    unsigned char* cursor = out;
    if (mode == 0) {
        const int match = escape_match(escape_char);
        unsigned char previous = 0;
        for (unsigned char b; (b = *text) != 0; ++text, previous = b)
            cursor = encode_after(previous, b, cursor, escape_char, match);
    } else if (mode == 1) {
        for (unsigned char b; (b = *text) != 0; ++text)
            cursor = encode_marked(b, cursor, escape_char);
    } else {
        return 0;
    }
    *cursor = 0;
    return int(cursor - out);
}

std::size_t viqr_encode_run(const unsigned char* text, std::size_t length, unsigned char previous,
                            unsigned char* out, unsigned char escape_char) {
    const int match = escape_match(escape_char);
    unsigned char* cursor = out;
    for (std::size_t i = 0; i < length; ++i) {
        cursor = encode_after(previous, text[i], cursor, escape_char, match);
        previous = text[i];
    }
    return std::size_t(cursor - out);
}

}  // namespace toneshift
