// The three conversion pipelines: between 8-bit formats, to VIQR and from VIQR.
#pragma once

namespace toneshift {

// The dialogue's two data buffers, lent to a pipeline for one conversion. They start on a
// cache line, as the kernel's copies into and out of them run best.
struct alignas(64) ConversionBuffers {
    unsigned char data[1024];    // one chunk of input
    unsigned char output[4096];  // what one chunk becomes, where it grows
};

enum class Conversion {
    kDone,         // the input was used up and everything was written
    kReadFailed,   // reading the input failed; what came before it was written
    kWriteFailed,  // writing the output failed
};

// The escape character of every VIQR text that the program writes or reads.
inline constexpr unsigned char kViqrEscape = '\\';
// The erase character of the reading context (unused in its deferred mode).
inline constexpr unsigned char kViqrErase = 0x08;

// Byte by byte through the letter table; formats `from` and `to` are 0..9.
Conversion convert_8bit(int input, int output, int from, int to, ConversionBuffers& buffers);

// Input in format `from` (0..8) to VIQR, mapped to VISCII first. The result is the encoding
// of the whole input as one text, however the reads fall, and NUL bytes pass unchanged.
Conversion convert_to_viqr(int input, int output, int from, ConversionBuffers& buffers);

// Opens the one decoder context through which every VIQR input of the run is read: compose
// mode, the escape character "\", erase character 0x08, deferred mode on. Returns its number.
int open_viqr_reader();

// VIQR input to format `to` (0..9) through decoder context `ctx`. Each input is read from
// compose mode with nothing held, and what the context holds at the end is written out.
Conversion convert_from_viqr(int input, int output, int to, int ctx, ConversionBuffers& buffers);

}  // namespace toneshift
