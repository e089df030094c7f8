#include "viqr/encoder/viqr_encoder.h"

#include "viqr/encoder/encode_step.h"
#include "viqr/encoder/viscii_classes.h"

namespace toneshift {
namespace {

// Mode 1: every letter byte is preceded by the escape character, as is an escape character
// of the text.
inline unsigned char* encode_marked(unsigned char b, unsigned char* out,
                                    unsigned char escape_char) {
    if (b == escape_char || detail::escaped_in_mode_1[b]) *out++ = escape_char;
    detail::put_spelling(viqr_spelling[b], out);
    return out + detail::spelling_length[b];
}

}  // namespace

int viqr_encode(const unsigned char* text, unsigned char* out, unsigned char escape_char,
                int mode) {
    unsigned char* cursor = out;
    if (mode == 0) {
        const int match = detail::escape_match(escape_char);
        unsigned char previous = 0;
        for (unsigned char b; (b = *text) != 0; ++text, previous = b)
            cursor = detail::encode_after(previous, b, cursor, escape_char, match);
    } else if (mode == 1) {
        for (unsigned char b; (b = *text) != 0; ++text)
            cursor = encode_marked(b, cursor, escape_char);
    } else {
        return 0;
    }
    *cursor = 0;
    return int(cursor - out);
}

std::size_t detail::viqr_encode_run_scalar(const unsigned char* text, std::size_t length,
                                           unsigned char previous, unsigned char* out,
                                           unsigned char escape_char) {
    const int match = escape_match(escape_char);
    unsigned char* cursor = out;
    for (std::size_t i = 0; i < length; ++i) {
        cursor = encode_after(previous, text[i], cursor, escape_char, match);
        previous = text[i];
    }
    return std::size_t(cursor - out);
}

}  // namespace toneshift
