// The vector viqr_encode_run against the byte-by-byte encoder. The input starts with a header:
// the escape character, the byte before the text, then the number of piece lengths and the
// lengths; the rest is the text. It is encoded whole and in pieces (each piece judged by the
// last byte of the piece before) by both; all must give the same bytes.
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "viqr/encoder/encode_step.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

using fuzzing::Bytes;
using fuzzing::check;

// Encodes text[from, to) both ways into buffers of exactly the bound; appends the result.
void encode_piece(const std::uint8_t* text, std::size_t from, std::size_t to,
                  unsigned char previous, unsigned char escape, Bytes& fast, Bytes& reference) {
    const std::size_t n = to - from;
    Bytes a(3 * n), b(3 * n);
    const std::size_t m = viqr_encode_run(text + from, n, previous, a.data(), escape);
    const std::size_t k =
        detail::viqr_encode_run_scalar(text + from, n, previous, b.data(), escape);
    check(m == k, "the same length as byte by byte");
    fast.insert(fast.end(), a.begin(), a.begin() + long(m));
    reference.insert(reference.end(), b.begin(), b.begin() + long(k));
}

void run(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    const unsigned char escape = data[0];
    const unsigned char previous = data[1];
    std::size_t header = 3 + data[2] % 16;
    if (header > size) header = size;
    const Bytes lengths(data + 3, data + header);
    const std::uint8_t* text = data + header;
    const std::size_t n = size - header;

    Bytes whole, whole_reference;
    encode_piece(text, 0, n, previous, escape, whole, whole_reference);
    check(whole == whole_reference, "the same bytes as byte by byte");

    Bytes pieces, pieces_reference;
    for (std::size_t from = 0, k = 0; from < n; ++k) {
        std::size_t length = lengths.empty() ? n : 1 + lengths[k % lengths.size()];
        if (length > n - from) length = n - from;
        encode_piece(text, from, from + length, from > 0 ? text[from - 1] : previous, escape,
                     pieces, pieces_reference);
        from += length;
    }
    check(pieces == pieces_reference, "the same bytes as byte by byte, in pieces");
    check(pieces == whole, "pieces make no difference");
}

}  // namespace
}  // namespace toneshift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    toneshift::run(data, size);
    return 0;
}
