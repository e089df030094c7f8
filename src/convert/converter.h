// The streaming converter: any of its formats into any other, through characters.
// The source is read as characters and the same characters are written in the target;
// whatever the target cannot write exactly, and whatever input has no meaning, is reported.
//
// UTF-8 input is normalized one combining sequence at a time, in memory of fixed size: a
// starter and up to 31 characters that join it. A longer sequence is written as the Unicode
// Stream-Safe Text Format writes it: into UTF-8, U+034F COMBINING GRAPHEME JOINER goes
// between each 32 code points and the next, so that the output stays in NFC (or NFD) however
// long the run of marks; the joiner is output only, neither counted in columns nor reported.
// A target that is no Unicode encoding, which has no such joiner, gets the pieces as they
// normalize. Sources that spell letters with combining marks (Windows-1258, VN1, UTF-16,
// references) are normalized the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "tables/letter_table.h"

namespace toneshift {

// Format numbers: 0..9 the 8-bit formats and 10 VIQR (letter_table.h), 11 UTF-8: the
// twelve of the first converter, which detection knows. Then the encodings real files use:
// the byte encodings of byte_codecs.h (kTcvn3 .. kVietwareX), UTF-16 and references.
inline constexpr int kUtf8 = 11;
inline constexpr int kTcvn3 = 12;        // TCVN 5712:1993 VN3 ("ABC", the .Vn fonts)
inline constexpr int kTcvn3Caps = 13;    // the same bytes in an all-capital font (.VnTimeH)
inline constexpr int kTcvn3VnCaps = 14;  // a capitals font that keeps a..z small
inline constexpr int kVniWin = 15;       // VNI for Windows: a base letter and a mark byte
inline constexpr int kVniMac = 16;
inline constexpr int kCp1258 = 17;  // Windows-1258: characters and combining tone bytes
inline constexpr int kVn1 = 18;     // TCVN 5712:1993 VN1
inline constexpr int kBkhcm2 = 19;
inline constexpr int kVietwareF = 20;
inline constexpr int kVietwareX = 21;
inline constexpr int kUtf16 = 22;    // a byte-order mark read (none: little-endian) and written
inline constexpr int kUtf16Le = 23;  // no byte-order mark written
inline constexpr int kUtf16Be = 24;
inline constexpr int kReferences = 25;  // ASCII, every other character as "&#N;"
inline constexpr int kConvertFormatCount = 26;
inline constexpr int kByteCodecCount = kVietwareX - kTcvn3 + 1;

constexpr bool is_byte_codec(int f) {
    return f >= kTcvn3 && f <= kVietwareX;
}
// Formats whose characters are Unicode's own: the output is in a normal form.
constexpr bool is_unicode_format(int f) {
    return f == kUtf8 || (f >= kUtf16 && f <= kReferences);
}

enum class LossPolicy {
    kRefuse,         // stop at the first loss or undefined input; nothing after it is written
    kReplace,        // the nearest form: the small letter (formats 5 and 7), "?", or U+FFFD
    kTransliterate,  // as kReplace, but typographic punctuation first becomes its ASCII form
};

struct ConvertOptions {
    int from = kViscii;  // a format number, 0..kConvertFormatCount - 1
    int to = kViscii;
    LossPolicy policy = LossPolicy::kRefuse;
    // Unicode output (UTF-8, UTF-16, references): decomposed (NFD) rather than composed (NFC),
    // or in the composite form many Vietnamese tools write: the shaped vowels and d with
    // stroke precomposed, a tone as a combining mark, every other character NFC. At most one
    // of the two; either with another target makes a converter whose ok() is false.
    bool nfd = false;
    bool composite = false;
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

// The most output bytes one input byte becomes (a VISCII letter written as references in NFD:
// "e&#770;&#803;", thirteen), and the room convert() needs beyond that for what it holds back
// between pieces and writes at the end. Most conversions need far less: into UTF-8 at most
// three bytes for each input byte, five in NFD.
inline constexpr std::size_t kConvertGrowth = 13;
inline constexpr std::size_t kConvertSlack = 1024;

constexpr bool is_convert_format(int f) {
    return f >= 0 && f < kConvertFormatCount;
}

class Converter {
  public:
    // Formats outside 0..kConvertFormatCount - 1 make a converter whose ok() is false; so
    // does a Unicode form asked of a target that is no Unicode encoding. A VIQR source keeps
    // its decoder context here and takes one of the decoder's three slots only during a call
    // (waiting while three other calls hold them): converters are independent, and separate
    // ones may be used by separate threads at once.
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
