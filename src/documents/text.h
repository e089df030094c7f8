// The text of a legacy font as an office program stores it, read back to the font's bytes and
// decoded in the font's encoding through the converter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"
#include "detect/detect.h"

namespace toneshift::documents {

// The byte of a legacy font that an office program keeps as code point `c`: the byte of the
// same value for U+0000..U+00FF, the byte Windows-1252 gives a character of its 0x80..0x9F
// range (U+2018 is 0x91), the low byte of U+F000..U+F0FF (a symbol font's private use
// characters); -1 for every other character, which is no byte of the font.
constexpr int legacy_byte(char32_t c) {
    if (c <= 0xFF) return int(c);
    if (c >= 0xF000 && c <= 0xF0FF) return int(c - 0xF000);
    constexpr char32_t kWindows1252[32] = {
        0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
    for (int b = 0; b < 32; ++b)
        if (kWindows1252[b] == c) return 0x80 + b;
    return -1;
}
static_assert(legacy_byte(U'\u2018') == 0x91 && legacy_byte(U'\u0178') == 0x9F &&
              legacy_byte(U'\uF0E0') == 0xE0 && legacy_byte(U'\u00E0') == 0xE0 &&
              legacy_byte(U'\u1EA1') == -1);

// Decodes one code point of UTF-8 at `text[i]`, advancing `i`; invalid bytes read as
// U+FFFD one at a time (the XML parser gave valid UTF-8; this only keeps the reading safe).
char32_t next_code_point(std::string_view text, std::size_t& i);
void append_utf8(std::string& out, char32_t c);

// Where a piece of text is, for the messages: the part of the package and a place in it a
// person can find ("paragraph 12", "sheet Sales, cell B3").
struct TextPlace {
    std::string part;
    std::string place;
};

// One undefined byte sequence met, where, and in which font.
struct TextProblem {
    TextPlace where;
    std::string font;
    int format = -1;  // the font's encoding
    Problem problem;
};

// A piece of text left as it was: its font names one encoding, its bytes read clearly as
// another.
struct LeftText {
    TextPlace where;
    std::string font;
    int format = -1;
    int reads_as = -1;
};

// What a document's fonts held, for --detect: by font name.
struct FontUse {
    std::string font;
    int format = -1;
    std::uint64_t characters = 0;  // legacy characters read in it
    std::string sample;            // the first bytes of its text, for the syllable check
};

struct TextOptions {
    LossPolicy policy = LossPolicy::kRefuse;
    bool nfd = false;
    bool composite = false;
    // Whether a piece whose bytes clearly read as another encoding is left as it was.
    bool guard = true;
};

class TextConverter {
  public:
    explicit TextConverter(const TextOptions& options);
    ~TextConverter();
    TextConverter(const TextConverter&) = delete;
    TextConverter& operator=(const TextConverter&) = delete;

    enum class Outcome { kConverted, kLeft, kRefused };

    // Converts pieces of stored text (UTF-8) that follow one another in one paragraph in
    // font `font` of legacy encoding `format`, as one text: a letter whose bytes are split
    // between two pieces is read whole, and its character goes into the later piece. Each
    // converted piece replaces `pieces[k]` in place. Characters that are no byte of the font
    // are kept as they are. kLeft: the text reads clearly as another encoding and the pieces
    // are unchanged (recorded in left()). kRefused: under LossPolicy::kRefuse an undefined
    // byte was met (recorded in problems()); the pieces are then unspecified.
    Outcome convert(int format, const std::string& font, std::vector<std::string>& pieces,
                    const TextPlace& where);

    // Undefined input met: the first of each distinct font and part up to a bound, and the
    // total count.
    const std::vector<TextProblem>& problems() const { return problems_; }
    std::uint64_t problem_count() const { return problem_count_; }
    const std::vector<LeftText>& left() const { return left_; }
    const std::vector<FontUse>& fonts() const { return fonts_; }

  private:
    struct Shared;
    bool feed(Converter& converter, const unsigned char* bytes, std::size_t size, bool last,
              std::string& out);
    FontUse& use_of(const std::string& font, int format);

    TextOptions options_;
    std::unique_ptr<Converter> converters_[kConvertFormatCount];
    std::unique_ptr<Detector> detector_;
    std::string bytes_;
    std::vector<unsigned char> output_;
    std::vector<TextProblem> problems_;
    std::uint64_t problem_count_ = 0;
    std::vector<LeftText> left_;
    std::vector<FontUse> fonts_;
};

}  // namespace toneshift::documents
