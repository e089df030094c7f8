// The converter's fast loops over the common text: 8-bit bytes into composed UTF-8, and
// UTF-8 whose characters are their own normal form into an 8-bit target, VISCII staged for
// VIQR, or UTF-8 again. Printable ASCII is found and copied a vector at a time; everything
// else is taken one character at a time through the converter's tables. Each loop stops
// where the general path must decide, and the converter takes over there.
#pragma once

#include <cstddef>
#include <cstdint>

namespace toneshift::convert_detail {

// A unit that is a problem, in RunTables::short_units.
inline constexpr std::uint32_t kShortProblem = 0x80000000;
// A character that the general path must write, in RunTables::low_targets and
// additional_targets.
inline constexpr std::uint16_t kSlowChar = 0x100;

// The converter's tables, as the loops read them.
struct RunTables {
    // Each byte of an 8-bit source in composed UTF-8: up to three bytes, their number in
    // bits 24 and 25; kShortProblem for a byte that is a problem.
    const std::uint32_t* short_units = nullptr;
    // The byte of an 8-bit target for each character below U+0300 and in U+1EA0..U+1EF9.
    const std::uint16_t* low_targets = nullptr;
    const std::uint16_t* additional_targets = nullptr;
    // Whether printable ASCII (0x20..0x7F) passes into the target as itself.
    bool ascii_passes = false;
};

// Where a loop stopped, and the line feeds and characters it went through.
struct RunEnd {
    std::size_t next = 0;              // the first byte not taken
    unsigned char* written = nullptr;  // the end of the output
    std::uint64_t lines = 0;           // line feeds taken
    std::uint64_t column = 0;          // characters after the last line feed, or all when none
};

// Writes in[i..end) of an 8-bit source as composed UTF-8 at w, up to the first byte that is a
// problem. The source's printable ASCII must be itself in short_units. Writes up to 16 bytes
// beyond what it returns as written.
RunEnd expand_units(const RunTables& t, const unsigned char* in, std::size_t i, std::size_t end,
                    unsigned char* w);

// Where the UTF-8 loop writes.
enum class RunTarget {
    kBytes,   // an 8-bit target
    kStaged,  // VISCII bound for VIQR, in a stage that ends at w_limit (16 bytes spare)
    kUtf8,    // composed UTF-8
};

// Takes the characters of UTF-8 text in[i..n) that are their own normal form and that the
// target writes exactly: ASCII, anything below U+0300, the letters of U+1EA0..U+1EF9, and
// ASCII letters followed by the marks of a Vietnamese letter, written as that letter. Each is
// written at once; when the next character might join it (a mark, or anything the loop does
// not know), or the text ends after it, it is taken back, so that the general path sees it
// with what follows. Writes up to 16 bytes beyond what it returns as written.
RunEnd utf8_run(RunTarget target, const RunTables& t, const unsigned char* in, std::size_t i,
                std::size_t n, unsigned char* w, unsigned char* w_limit);

// The six control bytes that VISCII uses for letters.
inline constexpr unsigned char kVisciiControlLetters[] = {0x02, 0x05, 0x06, 0x14, 0x19, 0x1E};

constexpr bool is_viscii_control_letter(unsigned char b) {
    for (unsigned char c : kVisciiControlLetters)
        if (b == c) return true;
    return false;
}

// Whether any of in[0..n) is one of them.
bool has_viscii_control_letter(const unsigned char* in, std::size_t n);

// How many line feeds in[0..n) holds.
std::uint64_t count_newlines(const unsigned char* in, std::size_t n);

// The instruction set the loops run on (for tests).
const char* fast_runs_target();

}  // namespace toneshift::convert_detail
