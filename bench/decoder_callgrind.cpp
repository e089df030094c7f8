// Decodes a VIQR text of the given number of MiB once, in the dialogue's configuration, for
// counting instructions with callgrind. Only decode_text does the decoding, so
//   valgrind --tool=callgrind --toggle-collect='*decode_text*' decoder_callgrind 4
// counts exactly the decoding loop; divide by the bytes in that the program prints.
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "viqr/decoder/viqr_decoder.h"
#include "viqr_sample_text.h"

namespace {

// Feeds every byte of text to viqr_step and drains the context; returns the bytes written.
[[gnu::noinline]] std::size_t decode_text(int ctx, const std::string& text, unsigned char* out) {
    unsigned char* cursor = out;
    for (char ch : text) {
        int count = 0;
        toneshift::viqr_step(ctx, static_cast<unsigned char>(ch), cursor, &count);
        cursor += count;
    }
    int count = 0;
    toneshift::viqr_flush(ctx, cursor, &count);
    return static_cast<std::size_t>(cursor + count - out);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace toneshift;
    const long mib = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
    const std::string text = bench::viqr_sample_text(std::size_t(mib) << 20);
    std::vector<unsigned char> out(2 * text.size() + 2);

    const int ctx = viqr_open(VIQR_MODE_COMPOSE, '\\', 0x08);
    viqr_set(ctx, 1, VIQR_DEFERRED);
    const std::size_t written = decode_text(ctx, text, out.data());

    unsigned long sum = 0;
    for (std::size_t i = 0; i < written; ++i) sum = sum * 31 + out[i];
    std::printf("%zu bytes in, %zu bytes out, checksum %lx\n", text.size(), written, sum);
    return 0;
}
