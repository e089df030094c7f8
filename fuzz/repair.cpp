// Repair and tone placement on any bytes: no fault, every line that no reading repaired comes
// out byte for byte, and placing tones in a style is idempotent and changes nothing when it
// says it changed nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "repair/repair.h"
#include "repair/tone_style.h"

namespace {

std::vector<std::string_view> lines_of(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        const std::size_t stop = end == std::string_view::npos ? text.size() : end + 1;
        lines.push_back(text.substr(at, stop - at));
        at = stop;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace toneshift;
    using fuzzing::check;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    repair::Repairer repairer;
    repair::RepairReport report;
    std::string out;
    repairer.repair_block(text, 1, out, report);
    const std::vector<std::string_view> in_lines = lines_of(text), out_lines = lines_of(out);
    check(in_lines.size() == out_lines.size(), "repair keeps the lines");
    std::vector<bool> repaired(in_lines.size() + 1);
    for (const repair::RepairedRange& r : report.ranges) {
        check(r.first >= 1 && r.first <= r.last && r.last <= in_lines.size(), "ranges in the text");
        for (std::uint64_t k = r.first; k <= r.last; ++k) repaired[k] = true;
    }
    for (std::size_t k = 0; k < in_lines.size() && k < out_lines.size(); ++k)
        check(repaired[k + 1] || in_lines[k] == out_lines[k], "a line not repaired is unchanged");

    for (const bool fix : {false, true}) {
        const repair::ToneOptions options{true, detect::ToneStyle::kNew, fix};
        std::string once, twice;
        const std::size_t changed = repair::place_tones(text, options, once);
        check(changed != 0 || once == text, "no change reported, none made");
        repair::place_tones(once, options, twice);
        check(twice == once, "placing tones is idempotent");
    }
    return 0;
}
