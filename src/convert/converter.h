// The streaming converter: any of the twelve formats into any other, through characters.
// The source is read as characters and the same characters are written in the target;
// whatever the target cannot write exactly, and whatever input has no meaning, is reported.
//
// UTF-8 input is normalized one combining sequence at a time, in memory of fixed size: a
// starter and up to 31 characters that join it. A longer sequence is written as the Unicode
// Stream-Safe Text Format writes it: into UTF-8, U+034F COMBINING GRAPHEME JOINER goes
// between each 32 code points and the next, so that the output stays in NFC (or NFD) however
// long the run of marks; the joiner is output only, neither counted in columns nor reported.
// An 8-bit or VIQR target, which has no such joiner, gets the pieces as they normalize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tables/letter_table.h"

namespace toneshift {

// Format numbers: 0..9 the 8-bit formats and 10 VIQR (letter_table.h), 11 UTF-8.
inline constexpr int kUtf8 = 11;
inline constexpr int kConvertFormatCount = 12;

enum class LossPolicy {
    kRefuse,         // stop at the first loss or undefined input; nothing after it is written
    kReplace,        // the nearest form: the small letter (formats 5 and 7), "?", or U+FFFD
    kTransliterate,  // as kReplace, but typographic punctuation first becomes its ASCII form
};

struct ConvertOptions {
    int from = kViscii;  // 0..11
    int to = kViscii;    // 0..11
    LossPolicy policy = LossPolicy::kRefuse;
    bool nfd = false;  // UTF-8 output decomposed (NFD) rather than composed (NFC)
};

// One character of the input that the target cannot write exactly (a loss), or one piece
// of input that means nothing in the source format (undefined input).
struct Problem {
    enum class Kind { kLoss, kUndefined };
    Kind kind = Kind::kLoss;
    std::uint64_t offset = 0;     // of the piece's first byte in the input, from 0
    std::uint64_t line = 1;       // from 1: the line feeds of the decoded text before it, plus 1
    std::uint64_t column = 1;     // from 1: the characters since its line began, plus 1
    char32_t character = 0;       // kLoss: the character
    unsigned char bytes[4] = {};  // kUndefined: the bytes of the piece (a maximal subpart)
    std::uint8_t byte_count = 0;
    // What it becomes under kReplace or kTransliterate, as characters of the target.
    char32_t replacement[3] = {};
    std::uint8_t replacement_size = 0;
};

// One distinct problem of the current input and how often it was met: `problem` is its first
// occurrence (offset, line, column, replacement as there).
struct ProblemCount {
    Problem problem;
    std::uint64_t count = 0;
};

struct ConvertResult {
    enum class Stop {
        kInputUsed,   // all of the piece was taken (and, when it was the last, everything held)
        kOutputFull,  // the output had no room for more: call again with the rest of the input
        kRefused,     // kRefuse met a problem: see first_problem(); nothing more is converted
    };
    std::size_t consumed = 0;  // bytes of the piece taken
    std::size_t written = 0;   // bytes written to the output
    Stop stop = Stop::kInputUsed;
};

// The most output bytes one input byte becomes (a VISCII letter written as UTF-8 NFD: five),
// and the room convert() needs beyond that for what it holds back between pieces and writes
// at the end. Most conversions need less: at most three bytes for each input byte.
inline constexpr std::size_t kConvertGrowth = 5;
inline constexpr std::size_t kConvertSlack = 1024;

constexpr bool is_convert_format(int f) {
    return f >= 0 && f < kConvertFormatCount;
}

class Converter {
  public:
    // Formats outside 0..11 make a converter whose ok() is false; so does a VIQR source
    // when no decoder context is free (the decoder has three, shared by the process).
    explicit Converter(const ConvertOptions& options);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return ok_; }
    const ConvertOptions& options() const { return options_; }

    // Converts the next piece of input. `last` says that no input follows it: what is
    // still held (a combining sequence, a VIQR letter, a truncated UTF-8 sequence) is then
    // written or reported. Takes as much of the piece as is sure to fit in `out`: all of
    // it when out_size >= kConvertGrowth * in_size + kConvertSlack. Allocates nothing but the
    // problem tally (at the first problem, and rarely as distinct ones grow). Feeding a
    // text whole, byte by byte, or split anywhere gives the same output and the same problems.
    ConvertResult convert(const unsigned char* in, std::size_t in_size, unsigned char* out,
                          std::size_t out_size, bool last);

    // Starts the next input of the same output: the source is read afresh (offsets, lines
    // and problems from 0, a VIQR source in compose mode) while the output continues (into
    // VIQR, the byte before still decides the escapes). Call after the last piece of the
    // input before.
    void next_input();

    // Starts this converter's output where `before`'s stopped, as next_input() on one converter
    // would: into VIQR, the last byte `before` wrote still decides the escapes. For a run of
    // inputs whose source formats differ. Call before the first convert().
    void continue_output(const Converter& before);

    // Losses and undefined input met in the current input so far; under kRefuse at most 1.
    std::uint64_t problem_count() const { return problem_count_; }
    // The first of them, or nullptr.
    const Problem* first_problem() const { return problem_count_ != 0 ? &first_problem_ : nullptr; }
    // The distinct problems of the current input so far, most frequent first (equal counts:
    // the one met first comes first), at most `limit` of them; `distinct` is set to how many
    // distinct ones there are in all. Distinct means: the same lost character, or the same
    // undefined byte sequence. Their tally costs a few instructions a problem and memory in
    // proportion to the distinct ones, allocated at the first problem.
    std::vector<ProblemCount> most_frequent_problems(std::size_t limit,
                                                     std::uint64_t& distinct) const;

    struct State;  // what is carried from one piece to the next; allocated once, here

  private:
    ConvertOptions options_;
    bool ok_ = false;
    std::uint64_t problem_count_ = 0;
    Problem first_problem_{};
    std::unique_ptr<State> state_;
};

}  // namespace toneshift
