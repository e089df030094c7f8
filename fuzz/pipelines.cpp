// The three conversion pipelines on arbitrary input for every pair of formats, dispatched as
// the dialogue dispatches them. Each conversion runs twice: once from a file, read in whole
// chunks, and once from a socket that hands the input over in pieces of the sizes that the
// input chooses; both must write the same bytes. Beyond that:
// - an 8-bit conversion writes exactly as many bytes as it reads, each one recoded;
// - a conversion to VIQR writes 7-bit text that reads back to the input in VISCII;
// - a conversion from VIQR writes at most two bytes per input byte, and two for the drain.
#include "dialogue/pipelines.h"

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "fuzz_check.h"
#include "tables/letter_table.h"
#include "tables/recode.h"

namespace toneshift {
namespace {

using fuzzing::Bytes;
using fuzzing::check;

// An anonymous file in memory holding `bytes`, positioned at its start.
int memory_file(const Bytes& bytes) {
    const int fd = ::memfd_create("toneshift-fuzz", 0);
    check(fd >= 0, "memfd_create");
    check(::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size()), "filling a file");
    check(::lseek(fd, 0, SEEK_SET) == 0, "rewinding a file");
    return fd;
}

Bytes contents(int fd) {
    Bytes bytes;
    check(::lseek(fd, 0, SEEK_SET) == 0, "rewinding a file");
    unsigned char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    return bytes;
}

// The dialogue's one decoder context, shared by every VIQR input of the run.
int reader_context() {
    static const int ctx = open_viqr_reader();
    return ctx;
}

// Converts what `in` gives from format `from` to format `to`, dispatched as the dialogue
// dispatches; returns what the conversion wrote.
Bytes convert(int in, int from, int to) {
    const auto buffers = std::make_unique<ConversionBuffers>();
    const int out = memory_file({});
    Conversion outcome;
    if (from == kViqr) {
        outcome = convert_from_viqr(in, out, to, reader_context(), *buffers);
    } else if (to == kViqr) {
        outcome = convert_to_viqr(in, out, from, *buffers);
    } else {
        outcome = convert_8bit(in, out, from, to, *buffers);
    }
    check(outcome == Conversion::kDone, "the conversion ends at the end of its input");
    Bytes written = contents(out);
    ::close(out);
    return written;
}

Bytes convert_whole(const Bytes& input, int from, int to) {
    const int in = memory_file(input);
    Bytes written = convert(in, from, to);
    ::close(in);
    return written;
}

// The same conversion with reads that return the input in pieces: a sequenced-packet socket
// hands over one message per read, and each piece is sent as one message.
Bytes convert_in_pieces(const Bytes& input, const Bytes& sizes, int from, int to) {
    int ends[2];
    check(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends) == 0, "socketpair");
    std::thread sender([&] {
        std::size_t sent = 0;
        for (std::size_t i = 0; sent < input.size(); ++i) {
            // 1..1021 bytes: each piece fits in one read of every pipeline (1023 or more).
            std::size_t piece = sizes.empty() ? 1021 : 1 + 4 * std::size_t(sizes[i % sizes.size()]);
            if (piece > input.size() - sent) piece = input.size() - sent;
            check(::send(ends[1], input.data() + sent, piece, 0) == ssize_t(piece), "send");
            sent += piece;
        }
        ::close(ends[1]);
    });
    Bytes written = convert(ends[0], from, to);
    sender.join();
    ::close(ends[0]);
    return written;
}

// The input starts with a header: the input format, the output format, then the number of
// piece sizes and the sizes (one byte b each, for a piece of 1 + 4b bytes). The rest is the
// file.
void run(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return;
    int from = data[0] % kFormatCount, to = data[1] % kFormatCount;
    if (from == kViqr && to == kViqr) to = kViscii;
    if (from == kPlainVietnamese) to = kPlainVietnamese;  // the dialogue copies format 9
    std::size_t header = 3 + data[2] % 8;
    if (header > size) header = size;
    const Bytes sizes(data + 3, data + header);
    const Bytes input(data + header, data + size);

    const Bytes written = convert_whole(input, from, to);
    check(convert_in_pieces(input, sizes, from, to) == written,
          "the pieces the input is read in make no difference");

    if (from == kViqr) {
        check(written.size() <= 2 * input.size() + 2, "at most two bytes per byte read");
    } else if (to == kViqr) {
        for (unsigned char b : written) check(b < 0x80, "VIQR output is 7-bit");
        Bytes viscii = input;
        recode_in_place(viscii.data(), viscii.size(), from, kViscii);
        check(convert_whole(written, kViqr, kViscii) == viscii,
              "VIQR output reads back to the input in VISCII");
    } else {
        check(written.size() == input.size(), "an 8-bit conversion keeps the size");
        for (std::size_t i = 0; i < input.size(); ++i)
            check(written[i] == recode_byte(input[i], from, to), "each byte is recoded");
    }
}

}  // namespace
}  // namespace toneshift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    toneshift::run(data, size);
    return 0;
}
