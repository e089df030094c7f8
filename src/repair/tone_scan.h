// The vector scan behind restyling: where, in UTF-8 text, a word may end in a glide (o-a,
// o-e, u-y) that carries a tone mark, so that every other stretch is copied undecoded.
#pragma once

#include <cstddef>

namespace toneshift::repair {

// The first k in [from, n) where p[k] may belong to a word that ends in a marked glide, or
// n when none does. It flags, at least:
//  - a plain a, e or y (either case) that ends a word, after a precomposed o or u with a tone
//    mark but no other (o before a or e, u before y);
//  - the lead byte of a two- or three-byte character that ends a word, after a plain ASCII
//    o or u;
//  - the lead byte of a combining mark from U+0300 to U+037F.
// It may flag more. Bytes before p[0] count as none, and the text's end ends a word.
std::size_t find_marked_glide(const unsigned char* p, std::size_t from, std::size_t n);

}  // namespace toneshift::repair
