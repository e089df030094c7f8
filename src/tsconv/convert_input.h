// The conversion of one input: read in buffers of fixed size, fed to the converter, and
// what comes out written to the output, in constant memory whatever the input's size.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>

#include "convert/converter.h"
#include "detect/detect.h"
#include "tsconv/output_file.h"
#include "tsconv/progress.h"

namespace toneshift::tsconv {

// The two buffers of a run, allocated once: the output has room for whatever one input
// buffer can become, so the converter takes every buffer whole.
struct Buffers {
    static constexpr std::size_t kInputSize = std::size_t(64) << 10;
    static constexpr std::size_t kOutputSize = kConvertGrowth * kInputSize + kConvertSlack;
    std::unique_ptr<unsigned char[]> input{new unsigned char[kInputSize]};
    std::unique_ptr<unsigned char[]> output{new unsigned char[kOutputSize]};
    // The guard's detector, kept from file to file: the words it has scored stay cached.
    std::unique_ptr<Detector> detector{new Detector};
};

struct InputEnd {
    enum class How {
        kDone,         // the input was used up and its conversion written
        kRefused,      // the converter refused (its first_problem() says why)
        kReadFailed,   // reading failed; `error` is the errno
        kWriteFailed,  // writing failed; `error` is the errno
    };
    How how = How::kDone;
    int error = 0;
};

// Reads up to `size` bytes from `fd` into `data`, as read() does, but waits (with poll) on a
// descriptor that is non-blocking instead of failing with EAGAIN, and retries after EINTR.
ssize_t read_input(int fd, unsigned char* data, std::size_t size);

// Converts everything that file descriptor `input` holds, as one input of `converter`
// (the caller calls next_input() between inputs of one output), into `output`. Unless
// `preread` is kNothingRead, the first `preread` bytes of the input buffer are the first
// read of `input`, made already (0: the input was found empty).
inline constexpr std::ptrdiff_t kNothingRead = -1;
InputEnd convert_input(int input, Converter& converter, OutputFile& output, Buffers& buffers,
                       Progress& progress, std::ptrdiff_t preread = kNothingRead);

}  // namespace toneshift::tsconv
