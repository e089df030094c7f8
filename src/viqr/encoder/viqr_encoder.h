// VISCII text into VIQR, the 7-bit mnemonic spelling of Vietnamese.
#pragma once

#include <cstddef>

namespace toneshift {

// Writes the NUL-terminated VISCII `text` to `out` as VIQR, then a NUL, and returns the
// number of bytes written before the NUL. Mode 0 escapes every character that a composing
// reader would wrongly join to the one before it; mode 1 puts `escape_char` before every
// letter that the reader must build. Any other mode writes nothing and returns 0.
// `out` must hold 3n+1 bytes in mode 0 and 4n+1 in mode 1, for a text of length n; bytes of
// it past the NUL may be set to 0x00. `escape_char` is not NUL.
int viqr_encode(const unsigned char* text, unsigned char* out, unsigned char escape_char, int mode);

// Mode 0 over `length` bytes of `text`, NUL bytes included (each is written as one 0x00),
// judging the first byte's escape by `previous`, the byte that preceded the text. Writes
// no terminating NUL; returns the number of bytes written (at most 3 * length). `out` must
// hold 3 * length bytes; those past the count may be overwritten. Encoding a text in pieces,
// each with the last byte of the piece before, gives the same bytes as encoding it whole.
// Vectorised: runs of bytes that are written as themselves are copied a vector at a time.
std::size_t viqr_encode_run(const unsigned char* text, std::size_t length, unsigned char previous,
                            unsigned char* out, unsigned char escape_char);

}  // namespace toneshift
