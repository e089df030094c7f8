#include "dialogue/pipelines.h"

#include <unistd.h>

#include <cerrno>
#include <cstddef>

#include "tables/letter_table.h"
#include "tables/recode.h"
#include "viqr/decoder/viqr_decoder.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

// One read, retried when a signal interrupts it. Returns the byte count, 0 at the end of
// the input, -1 on failure.
ssize_t read_some(int fd, unsigned char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) return n;
    }
}

// Writes all n bytes, resuming after short writes and interruptions.
bool write_all(int fd, const unsigned char* bytes, std::size_t n) {
    while (n > 0) {
        const ssize_t written = ::write(fd, bytes, n);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        n -= std::size_t(written);
    }
    return true;
}

// The encoder writes at most three bytes for one input byte.
static_assert(3 * sizeof(ConversionBuffers::data) <= sizeof(ConversionBuffers::output));

// The decoder writes at most two bytes for one input byte, and its drain at most two.
static_assert(2 * sizeof(ConversionBuffers::data) <= sizeof(ConversionBuffers::output));

}  // namespace

Conversion convert_8bit(int input, int output, int from, int to, ConversionBuffers& buffers) {
    for (;;) {
        const ssize_t n = read_some(input, buffers.data, sizeof buffers.data);
        if (n == 0) return Conversion::kDone;
        if (n < 0) return Conversion::kReadFailed;
        recode_in_place(buffers.data, std::size_t(n), from, to);
        if (!write_all(output, buffers.data, std::size_t(n))) return Conversion::kWriteFailed;
    }
}

Conversion convert_to_viqr(int input, int output, int from, ConversionBuffers& buffers) {
    unsigned char previous = 0;  // the last byte of the chunk before, for the escape rules
    for (;;) {
        // The encoder is given a length, so the chunk takes the whole data buffer with no
        // room kept for a terminating NUL: reads of 1 KiB stay within one page of the input.
        const ssize_t n = read_some(input, buffers.data, sizeof buffers.data);
        if (n == 0) return Conversion::kDone;
        if (n < 0) return Conversion::kReadFailed;
        if (from != kViscii) recode_in_place(buffers.data, std::size_t(n), from, kViscii);
        const std::size_t length =
            viqr_encode_run(buffers.data, std::size_t(n), previous, buffers.output, kViqrEscape);
        previous = buffers.data[n - 1];
        if (!write_all(output, buffers.output, length)) return Conversion::kWriteFailed;
    }
}

int open_viqr_reader() {
    const int ctx = viqr_open(VIQR_MODE_COMPOSE, kViqrEscape, kViqrErase);
    viqr_set(ctx, 1, VIQR_DEFERRED);
    return ctx;
}

Conversion convert_from_viqr(int input, int output, int to, int ctx, ConversionBuffers& buffers) {
    // Whatever an earlier input left (a mode, a waiting escape) must not reach this one.
    viqr_set(ctx, VIQR_MODE_COMPOSE, VIQR_STATE);
    auto put = [&](std::size_t m) {
        if (to != kViscii) recode_in_place(buffers.output, m, kViscii, to);
        return write_all(output, buffers.output, m);
    };
    Conversion outcome = Conversion::kDone;
    for (;;) {
        const ssize_t n = read_some(input, buffers.data, sizeof buffers.data);
        if (n <= 0) {
            // A failed read ends the input like its end: what was read is still drained.
            if (n < 0) outcome = Conversion::kReadFailed;
            break;
        }
        const std::size_t m = viqr_decode_run(ctx, buffers.data, std::size_t(n), buffers.output);
        if (!put(m)) return Conversion::kWriteFailed;
    }
    // Drain what the context still holds; a lone escape character that ended the input in
    // literal mode is written once, as it is in the other modes.
    int count = 0;
    viqr_finish(ctx, buffers.output, &count);
    return put(std::size_t(count)) ? outcome : Conversion::kWriteFailed;
}

}  // namespace toneshift
