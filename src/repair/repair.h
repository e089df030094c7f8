// Repairing garbled Vietnamese text ("mojibake"): text whose bytes went through the wrong
// character set once or twice and were saved again. Each candidate reading undoes such
// layers; the one whose text is Vietnamese by the detector's syllable scoring, by a clear
// margin over the text as it stands, is taken, line by line where it applies.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "repair/misreadings.h"

namespace toneshift::repair {

// One layer of garbling: the bytes of `original` (UTF-8, or a legacy byte format) taken for
// the characters of `misread_as`, and saved as those characters.
struct Layer {
    Charset misread_as = Charset::kWindows1252;
    int original = 0;  // a format number: kUtf8 or a byte format
    bool operator==(const Layer&) const = default;
};

// The layers a text went through, the last one first (the order they are undone in).
struct Reading {
    std::array<Layer, 2> layers{};
    std::size_t depth = 0;
    bool operator==(const Reading&) const = default;
};

// In words: "utf-8 read as windows-1252", "tcvn3 bytes shown as windows-1252",
// "utf-8 read as windows-1252 twice", "utf-8 read as windows-1258, then as windows-1252".
std::string describe(const Reading& r);

// Lines first..last (from 1) repaired by one reading.
struct RepairedRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    Reading reading;
};

struct RepairReport {
    // The repaired ranges, the first kMaxRanges - 1 and the latest (memory stays bounded);
    // `more_ranges` counts those between that are not kept.
    static constexpr std::size_t kMaxRanges = 64;
    std::vector<RepairedRange> ranges;  // empty: nothing repaired
    std::uint64_t more_ranges = 0;
    std::uint64_t characters = 0;   // characters outside ASCII the repaired lines hold
    std::uint64_t unrecovered = 0;  // letters lost in a lossy layer, left as U+FFFD
    std::uint64_t first_unrecovered_line = 0;
    std::uint64_t first_unrecovered_column = 0;
};

// Repairs UTF-8 text a block of whole lines at a time; the caller cuts the text at line
// ends (a block of at most a few MiB keeps memory bounded) and says where each block's first
// line is. Lines that no reading makes clearly better are copied as they are, byte for byte.
class Repairer {
  public:
    Repairer();
    ~Repairer();
    Repairer(const Repairer&) = delete;
    Repairer& operator=(const Repairer&) = delete;

    // Appends the block, repaired, to `out`; adds what was done to `report`. `first_line`
    // is the number of the block's first line (from 1).
    void repair_block(std::string_view block, std::uint64_t first_line, std::string& out,
                      RepairReport& report);

    struct State;

  private:
    std::unique_ptr<State> state_;
};

// A text's Vietnamese syllables by the detector's rules, and their weight: what readings are
// compared by.
struct TextScore {
    std::uint64_t valid = 0;      // words with diacritics that are syllables
    std::uint64_t invalid = 0;    // words with diacritics that are not
    std::uint64_t undefined = 0;  // invalid UTF-8
    std::int64_t weight = 0;      // valid ones, more for those known and common, less the rest
};
TextScore score_text(std::string_view utf8);

}  // namespace toneshift::repair
