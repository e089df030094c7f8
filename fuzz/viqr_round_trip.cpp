// The encoder and the decoder together. For any VISCII text the mode-0 encoding is 7-bit,
// and a decoder context in the dialogue's configuration (compose mode, deferred, drained by
// a flush at the end) reads it back to the text, byte for byte. The text is encoded both
// through viqr_encode (up to its first NUL) and through viqr_encode_run (NUL bytes
// included, in two pieces, each judged by the byte before it, as the pipeline does).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "dialogue/pipelines.h"
#include "fuzz_check.h"
#include "viqr/decoder/viqr_decoder.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

using fuzzing::Bytes;
using fuzzing::check;

bool seven_bit(const unsigned char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (bytes[i] >= 0x80) return false;
    return true;
}

// Reads VIQR text through a fresh context in the dialogue's configuration.
Bytes decode(const unsigned char* viqr, std::size_t n) {
    static int ctx = -1;
    if (ctx >= 0) viqr_close(ctx, nullptr, nullptr);
    ctx = open_viqr_reader();
    check(ctx >= 0, "a context opens");
    Bytes text;
    unsigned char out[2];
    int count = 0;
    for (std::size_t i = 0; i < n; ++i) {
        viqr_step(ctx, viqr[i], out, &count);
        check(count >= 0 && count <= 2, "a step writes 0, 1 or 2 bytes");
        text.insert(text.end(), out, out + count);
    }
    viqr_flush(ctx, out, &count);
    check(count >= 0 && count <= 2, "a flush writes 0, 1 or 2 bytes");
    text.insert(text.end(), out, out + count);
    return text;
}

// viqr_encode on the text up to its first NUL, into an area of exactly 3n + 1 bytes.
void round_trip_nul_terminated(const Bytes& input) {
    Bytes text(input.begin(), input.end());
    text.push_back(0);
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    Bytes out(3 * n + 1);
    const int length = viqr_encode(text.data(), out.data(), kViqrEscape, 0);
    check(length >= 0 && std::size_t(length) <= 3 * n, "the encoding fits its bound");
    check(out[std::size_t(length)] == 0, "a NUL follows the encoding");
    check(seven_bit(out.data(), std::size_t(length)), "the encoding is 7-bit");
    for (int i = 0; i < length; ++i) check(out[std::size_t(i)] != 0, "no NUL inside the text");
    const Bytes back = decode(out.data(), std::size_t(length));
    check(back == Bytes(text.begin(), text.begin() + std::ptrdiff_t(n)), "the text comes back");
}

// viqr_encode_run over the whole text, NUL bytes included, whole and in two pieces.
void round_trip_run(const Bytes& text, std::size_t split) {
    const std::size_t n = text.size();
    Bytes whole(3 * n);
    const std::size_t length = viqr_encode_run(text.data(), n, 0, whole.data(), kViqrEscape);
    check(length <= 3 * n, "the encoding fits its bound");
    whole.resize(length);
    check(seven_bit(whole.data(), length), "the encoding is 7-bit");

    Bytes first(3 * split), second(3 * (n - split));
    first.resize(viqr_encode_run(text.data(), split, 0, first.data(), kViqrEscape));
    const unsigned char previous = split > 0 ? text[split - 1] : 0;
    second.resize(
        viqr_encode_run(text.data() + split, n - split, previous, second.data(), kViqrEscape));
    first.insert(first.end(), second.begin(), second.end());
    check(first == whole, "encoding in two pieces gives the whole encoding");

    check(decode(whole.data(), length) == text, "the text comes back");
}

}  // namespace
}  // namespace toneshift

// The first byte places the split point; the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const toneshift::Bytes text(data + 1, data + size);
    toneshift::round_trip_nul_terminated(text);
    toneshift::round_trip_run(text, text.size() * data[0] / 255);
    return 0;
}
