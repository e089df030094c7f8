#include "tsconv/convert_input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace toneshift::tsconv {

ssize_t read_input(int fd, unsigned char* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, data, size);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, -1) < 0 && errno != EINTR) return -1;
    }
}

InputEnd convert_input(int input, Converter& converter, OutputFile& output, Buffers& buffers,
                       Progress& progress, std::ptrdiff_t preread) {
    for (;;) {
        const ssize_t got = preread != kNothingRead
                                ? ssize_t(preread)
                                : read_input(input, buffers.input.get(), Buffers::kInputSize);
        preread = kNothingRead;
        if (got < 0) return {InputEnd::How::kReadFailed, errno};
        const bool last = got == 0;
        const unsigned char* piece = buffers.input.get();
        std::size_t left = std::size_t(got);
        // One call takes the whole buffer; the loop is for a converter that stops early.
        for (;;) {
            const ConvertResult r =
                converter.convert(piece, left, buffers.output.get(), Buffers::kOutputSize, last);
            if (!output.write(buffers.output.get(), r.written))
                return {InputEnd::How::kWriteFailed, errno};
            if (r.stop == ConvertResult::Stop::kRefused) return {InputEnd::How::kRefused, 0};
            piece += r.consumed;
            left -= r.consumed;
            if (r.stop == ConvertResult::Stop::kInputUsed && left == 0) break;
        }
        progress.add(std::size_t(got));
        if (last) return {};
    }
}

}  // namespace toneshift::tsconv
