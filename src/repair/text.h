// What repair and tone placement share of UTF-8 text: where words are, and writing a
// character.
#pragma once

#include <utf8proc.h>

#include <cstddef>
#include <string>

namespace toneshift::repair {

// A byte of a word: an ASCII letter, or any byte of a character outside ASCII.
constexpr bool word_byte(unsigned char b) {
    return b >= 0x80 || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

inline void append_utf8(std::string& out, char32_t c) {
    unsigned char buf[4];
    const auto n = utf8proc_encode_char(utf8proc_int32_t(c), buf);
    out.append(reinterpret_cast<const char*>(buf), std::size_t(n));
}

}  // namespace toneshift::repair
