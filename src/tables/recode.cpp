#include "tables/recode.h"

namespace toneshift {

unsigned char recode_byte(unsigned char byte, int from, int to) {
    const LetterRow& source = letter_table[std::size_t(from)];
    for (std::size_t p = 0; p < kRowSize; ++p) {
        if (source[p] == byte) return letter_table[std::size_t(to)][p];
        if (source[p] == 0x00) break;  // the end mark: the byte is no letter of this format
    }
    return byte;
}

}  // namespace toneshift
