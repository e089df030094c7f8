// The converter's fast loops over the common text: 8-bit bytes into composed UTF-8, and
// UTF-8 whose characters are their own normal form into an 8-bit target, VISCII staged for
// VIQR, or UTF-8 again. Printable ASCII is found and copied a vector at a time; everything
// else is taken one character at a time through the converter's tables. Each loop stops
// where the general path must decide, and the converter takes over there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "convert/characters.h"

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
    // A byte-encoding target of several bytes a character (kSpelled): the spelling of each
    // character below U+0300 and in U+1EA0..U+1EF9, up to three bytes and their number in
    // bits 24 and 25; 0 where the general path must write it.
    const std::uint32_t* low_spellings = nullptr;
    const std::uint32_t* additional_spellings = nullptr;
    // Whether printable ASCII (0x20..0x7F) passes into the target as itself.
    bool ascii_passes = false;
};

// A byte encoding's bytes and two-byte spellings as units of the target, for the loop that
// reads such text a character at a time without the normalization of combining sequences
// (codec_units_run). A second byte's slot: its mark index (two-byte encodings), or its tone's
// index + 1 (Windows-1258, VN1); 0: it completes nothing.
inline constexpr std::size_t kMaxSecondSlots = 40;
struct CodecTables {
    std::array<ByteUnit, 256> units{};
    std::array<bool, 256> takes_second{};  // may begin a two-byte spelling
    std::array<std::uint8_t, 256> second_slot{};
    std::array<bool, 256> joins{};  // a combining byte: joins what is before it
    // By first byte and slot; slot 0 spells nothing.
    std::array<std::array<ByteUnit, kMaxSecondSlots + 1>, 256> pairs{};
    std::array<std::array<bool, kMaxSecondSlots + 1>, 256> spells{};  // the pair is a character
    bool has_joins = false;  // some byte joins what is before it
    // Each printable ASCII byte is a character alone, itself in the target: neither a second
    // byte nor one that joins, and its unit its own byte.
    bool ascii_alone = false;
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

// Reads in[i..n) of a byte encoding through t's units at w while each character is settled
// by its own bytes: up to a byte that is a problem, a base byte that ends the text (its mark
// may follow), or a character that a combining byte after it joins (or, where some byte
// joins, one that ends the text). Printable ASCII is copied a vector at a time where
// t.ascii_alone. Writes up to 16 bytes beyond what it returns as written.
RunEnd codec_units_run(const CodecTables& t, const unsigned char* in, std::size_t i, std::size_t n,
                       unsigned char* w);

// Where the UTF-8 loop writes.
enum class RunTarget {
    kBytes,    // an 8-bit target
    kStaged,   // VISCII bound for VIQR, in a stage that ends at w_limit (16 bytes spare)
    kUtf8,     // composed UTF-8
    kSpelled,  // a byte encoding of up to three bytes a character (low_spellings)
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
