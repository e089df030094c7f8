// Which format is a text in? Decides from what each candidate format decodes it to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace toneshift {

struct Detection {
    enum class Verdict { kFormat, kUnknown, kMixed };
    Verdict verdict = Verdict::kUnknown;
    int format = -1;  // kFormat: the format number (never a capitals font of TCVN3)
    // Words for people after the format name: a confidence, the other candidates, the line
    // ranges of a mixed text.
    std::string details;
    // kUnknown and kMixed: the formats that were in question, for a refusal to name.
    std::vector<int> candidates;
    // kMixed: the line ranges (from 1) and the format each reads as, in order.
    struct Range {
        std::uint64_t first_line = 0;
        std::uint64_t last_line = 0;
        int format = -1;
    };
    std::vector<Range> ranges;
};

// Fed a text in pieces of any size, then asked once. Memory stays bounded whatever the
// text's size.
class Detector {
  public:
    Detector();
    ~Detector();
    Detector(const Detector&) = delete;
    Detector& operator=(const Detector&) = delete;

    void feed(const unsigned char* data, std::size_t size);
    Detection finish();
    // Starts another text. The scores of the words met so far stay cached, so that one
    // detector over many files of one kind reads each after the first much faster.
    void reset();

    // After finish(), for a text that was given as format `given`: the format the text
    // clearly is instead, where that format reads it as other characters and `given` reads
    // it badly (bytes that mean nothing in it, or fewer than half of its words with
    // diacritics making syllables); -1 otherwise. Never a format that reads the text as
    // `given` does, never plain Vietnamese, and never for 7-bit text. UTF-16 text is named
    // when given any other format or the other order of bytes.
    int clearly_other_than(int given) const;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace toneshift
