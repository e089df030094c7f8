// The streaming converter on arbitrary input, for every pair of the twelve formats and every
// policy. The first four bytes choose the source, the target, the policy with the UTF-8 form,
// and where the input is cut into pieces; the rest is the text.
// - Fed whole or in pieces, the output and the reports (with the first problem's place) are
//   the same.
// - Whatever the refuse policy converts without a problem reads back, from the target, as
//   the same characters that the input holds (a target of Plain Vietnamese aside, which
//   drops diacritics by its definition).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "convert/converter.h"
#include "fuzz_check.h"

namespace toneshift {
namespace {

using fuzzing::Bytes;
using fuzzing::check;

struct Result {
    Bytes output;
    std::uint64_t problems = 0;
    std::uint64_t first_offset = 0;
    std::uint64_t first_line = 0;
    std::uint64_t first_column = 0;
    bool refused = false;
};

// Converts `text` in the pieces that `cut` (0: whole) makes.
Result convert(const ConvertOptions& options, const unsigned char* text, std::size_t size,
               std::size_t cut) {
    Converter c(options);
    check(c.ok(), "a converter for two valid formats");
    Result r;
    Bytes out;
    std::size_t at = 0;
    while (!r.refused) {
        const std::size_t piece = cut == 0 ? size - at : std::min(cut, size - at);
        const bool last = at + piece == size;
        out.assign(kConvertGrowth * piece + kConvertSlack, 0);
        const ConvertResult step = c.convert(text + at, piece, out.data(), out.size(), last);
        check(step.written <= out.size(), "output within the buffer");
        r.output.insert(r.output.end(), out.begin(), out.begin() + std::ptrdiff_t(step.written));
        if (step.stop == ConvertResult::Stop::kRefused) {
            r.refused = true;
            break;
        }
        check(step.stop == ConvertResult::Stop::kInputUsed && step.consumed == piece,
              "a piece with room enough is taken whole");
        at += piece;
        if (last) break;
        cut = cut * 3 % 17 + 1;  // pieces of varying sizes
    }
    r.problems = c.problem_count();
    if (c.first_problem() != nullptr) {
        r.first_offset = c.first_problem()->offset;
        r.first_line = c.first_problem()->line;
        r.first_column = c.first_problem()->column;
    }
    check((r.problems != 0) == (c.first_problem() != nullptr), "a first problem when any");
    return r;
}

}  // namespace
}  // namespace toneshift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace toneshift;
    if (size < 4) return 0;
    ConvertOptions options;
    options.from = data[0] % kConvertFormatCount;
    options.to = data[1] % kConvertFormatCount;
    options.policy = LossPolicy(data[2] % 3);
    // A Unicode target in NFC, NFD or the composite form.
    options.nfd = is_unicode_format(options.to) && (data[2] & 0x80) != 0;
    options.composite = is_unicode_format(options.to) && !options.nfd && (data[2] & 0x40) != 0;
    const std::size_t cut = data[3] % 64;
    const unsigned char* text = data + 4;
    const std::size_t length = size - 4;

    const Result whole = convert(options, text, length, 0);
    const Result pieces = convert(options, text, length, cut);
    fuzzing::check(whole.output == pieces.output && whole.problems == pieces.problems &&
                       whole.first_offset == pieces.first_offset &&
                       whole.first_line == pieces.first_line &&
                       whole.first_column == pieces.first_column && whole.refused == pieces.refused,
                   "the same output and reports in pieces as whole");
    if (options.policy == LossPolicy::kRefuse && whole.problems == 0 &&
        options.to != kPlainVietnamese) {
        const ConvertOptions read_input{options.from, kUtf8, LossPolicy::kRefuse, false};
        const ConvertOptions read_output{options.to, kUtf8, LossPolicy::kRefuse, false};
        const Result expected = convert(read_input, text, length, 0);
        const Result back = convert(read_output, whole.output.data(), whole.output.size(), 0);
        fuzzing::check(back.problems == 0, "the output reads back without a problem");
        fuzzing::check(back.output == expected.output, "the output holds the input's characters");
    }
    return 0;
}
