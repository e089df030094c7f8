// One spelling of tone placement: the tone mark of every Vietnamese syllable written where
// the chosen style puts it ("hòa" or "hoà"), and, when asked, misplaced marks moved to where
// the syllable rules put them ("họat" to "hoạt").
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "detect/syllable.h"

namespace toneshift::repair {

struct ToneOptions {
    bool restyle = false;  // write the glides oa, oe, uy in `style`
    detect::ToneStyle style = detect::ToneStyle::kTraditional;
    bool fix = false;  // move marks that sit where no style puts them
};

// One word whose mark moves: its bytes in the text, and what it becomes.
struct PlacedWord {
    static constexpr std::size_t kMaxWordBytes = 24;
    std::size_t start = 0, end = 0;
    char bytes[kMaxWordBytes];  // the word written precomposed, `size` bytes
    std::size_t size = 0;
};

// The first word of `text` from `from` on whose mark place_tones() moves, or false when
// none is left. `from` is 0 or the end of a word found before (never inside a word). With
// it the text may be written in pieces, the stretches between changed words as they are.
bool next_placed_word(std::string_view text, std::size_t from, const ToneOptions& options,
                      PlacedWord& word);

// Appends UTF-8 `text` to `out` with the tone marks of its syllables placed as `options`
// say; returns how many syllables changed. A word that is no Vietnamese syllable (its
// letters, tone aside, break the syllable rules: "Dióxido", "Muñoz"), or that holds anything
// but letters and combining marks, is copied byte for byte, as is every unchanged word; a
// changed word is written precomposed (NFC), its capitals kept.
// Restyling alone (no fixing) looks only at the words that a vector scan flags as ending in
// a glide with its mark, and copies the stretches between them whole.
std::size_t place_tones(std::string_view text, const ToneOptions& options, std::string& out);

// The same result, every word with a byte outside ASCII decoded and looked at, found a byte at
// a time: the reference that the faster paths are tested against.
std::size_t place_tones_word_by_word(std::string_view text, const ToneOptions& options,
                                     std::string& out);

struct WordMemory;

// Tone placement for a stream of text: the same results as next_placed_word() and
// place_tones(), each word decoded once while it stays among the last two thousand or so looked at.
// Memory is fixed (about 130 KiB) and nothing is allocated after construction.
class TonePlacer {
  public:
    explicit TonePlacer(const ToneOptions& options);
    ~TonePlacer();
    TonePlacer(TonePlacer&&) noexcept;
    TonePlacer& operator=(TonePlacer&&) noexcept;

    const ToneOptions& options() const { return options_; }
    bool next(std::string_view text, std::size_t from, PlacedWord& word);
    std::size_t place(std::string_view text, std::string& out);

  private:
    ToneOptions options_;
    std::unique_ptr<WordMemory> memory_;
};

}  // namespace toneshift::repair
