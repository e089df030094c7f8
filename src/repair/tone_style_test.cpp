#include "repair/tone_style.h"

#include <gtest/gtest.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "repair/pipeline.h"
#include "repair/text.h"
#include "tables/letter_unicode.h"
#include "tables/simd_test_support.h"

namespace toneshift::repair {
namespace {

using detect::ToneStyle;

std::string placed(const std::string& text, const ToneOptions& options,
                   std::size_t* changed = nullptr) {
    std::string out;
    const std::size_t n = place_tones(text, options, out);
    if (changed != nullptr) *changed = n;
    return out;
}

const ToneOptions kNew{true, ToneStyle::kNew, false};
const ToneOptions kOld{true, ToneStyle::kTraditional, false};
const ToneOptions kFix{false, ToneStyle::kTraditional, true};

TEST(ToneStyle, MovesTheMarkOfTheGlidesOnly) {
    struct Case {
        const char* text;
        ToneOptions options;
        const char* expected;
        std::size_t changed;
    };
    const Case cases[] = {
        // hòa khỏe thủy -> hoà khoẻ thuỷ, and back; capitals and a capital first.
        {"h\xc3\xb2"
         "a kh\xe1\xbb\x8f"
         "e th\xe1\xbb\xa7y",
         kNew, "ho\xc3\xa0 kho\xe1\xba\xbb thu\xe1\xbb\xb7", 3},
        {"ho\xc3\xa0 kho\xe1\xba\xbb thu\xe1\xbb\xb7", kOld,
         "h\xc3\xb2"
         "a kh\xe1\xbb\x8f"
         "e th\xe1\xbb\xa7y",
         3},
        {"H\xc3\x92"
         "A, Ho\xc3\xa0.",
         kNew, "HO\xc3\x80, Ho\xc3\xa0.", 1},
        // Decomposed input: "ho" + a + grave, written precomposed once moved.
        {"h"
         "o\xcc\x80"
         "a",
         kNew, "ho\xc3\xa0", 1},
        // One place in both styles: a final consonant, "qu", "gi", "ua", three vowels.
        {"ho\xc3\xa0n qu\xc3\xbd gi\xc3\xa0 c\xe1\xbb\xa7"
         "a ho\xe1\xba\xa1t kho\xe1\xba\xa3i",
         kNew,
         "ho\xc3\xa0n qu\xc3\xbd gi\xc3\xa0 c\xe1\xbb\xa7"
         "a ho\xe1\xba\xa1t kho\xe1\xba\xa3i",
         0},
        {"ho\xc3\xa0n qu\xc3\xbd gi\xc3\xa0 c\xe1\xbb\xa7"
         "a ho\xe1\xba\xa1t kho\xe1\xba\xa3i",
         kOld,
         "ho\xc3\xa0n qu\xc3\xbd gi\xc3\xa0 c\xe1\xbb\xa7"
         "a ho\xe1\xba\xa1t kho\xe1\xba\xa3i",
         0},
        // A misplaced mark moves only when asked: h\xe1\xbb\x8d" "at -> hoạt, ủê ỏai -> uể oải.
        {"h\xe1\xbb\x8d"
         "at \xe1\xbb\xa7\xc3\xaa \xe1\xbb\x8f"
         "ai",
         kNew,
         "h\xe1\xbb\x8d"
         "at \xe1\xbb\xa7\xc3\xaa \xe1\xbb\x8f"
         "ai",
         0},
        {"h\xe1\xbb\x8d"
         "at \xe1\xbb\xa7\xc3\xaa \xe1\xbb\x8f"
         "ai",
         kFix, "ho\xe1\xba\xa1t u\xe1\xbb\x83 o\xe1\xba\xa3i", 3},
        // q\xc3\xba" "a and g\xc3\xac" "a: the mark belongs after qu and gi in either style; a
        // glide keeps the style it is in when only fixing.
        {"q\xc3\xba"
         "a g\xc3\xac"
         "a ho\xc3\xa0 h\xc3\xb2"
         "a",
         kFix,
         "qu\xc3\xa1 gi\xc3\xa0 ho\xc3\xa0 h\xc3\xb2"
         "a",
         2},
        // Words that are no Vietnamese syllable never change.
        {"Di\xc3\xb3xido Mu\xc3\xb1oz caf\xc3\xa9 x\xc3\xb2"
         "ae",
         kFix,
         "Di\xc3\xb3xido Mu\xc3\xb1oz caf\xc3\xa9 x\xc3\xb2"
         "ae",
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::size_t changed = 0;
        EXPECT_EQ(placed(c.text, c.options, &changed), c.expected);
        EXPECT_EQ(changed, c.changed);
    }
}

// Every syllable of the system's dictionary (written in the new style), with the rules'
// places: unchanged in its own style, and back to itself from the traditional one.
TEST(ToneStyle, EverySyllableOfTheDictionary) {
    std::ifstream dic("/usr/share/hunspell/vi_VN.dic");
    if (!dic) GTEST_SKIP() << "no /usr/share/hunspell/vi_VN.dic (hunspell-vi)";
    std::string line;
    std::getline(dic, line);  // the count
    std::size_t words = 0, restyled = 0;
    while (std::getline(dic, line)) {
        const std::string word = line.substr(0, line.find('/'));
        if (word.empty() || word.find(' ') != std::string::npos) continue;
        ++words;
        SCOPED_TRACE(word);
        EXPECT_EQ(placed(word, kNew), word);
        EXPECT_EQ(placed(word, ToneOptions{true, ToneStyle::kNew, true}), word);
        std::size_t changed = 0;
        const std::string old = placed(word, kOld, &changed);
        restyled += changed;
        EXPECT_EQ(placed(old, kNew), word);
    }
    EXPECT_GT(words, 6000u);
    EXPECT_GT(restyled, 20u);  // the open glides: hoà, khoẻ, thuỷ, ...
}

std::string decomposed(const std::string& s) {
    utf8proc_uint8_t* out = nullptr;
    const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                                utf8proc_ssize_t(s.size()), &out, UTF8PROC_DECOMPOSE);
    std::string result =
        n >= 0 ? std::string(reinterpret_cast<const char*>(out), std::size_t(n)) : std::string();
    std::free(out);
    return result;
}

// Restyling finds its words with a vector scan, and a TonePlacer remembers the words it has
// seen; every word looked at afresh must give the same, in every mode, on every instruction
// set.
void expect_scan_matches(const std::string& text) {
    const ToneOptions modes[] = {kNew, kOld, kFix, ToneOptions{true, ToneStyle::kNew, true}};
    const char* const names[] = {"new", "traditional", "fixing", "new and fixing"};
    std::string slow[4];
    std::size_t slow_changed[4] = {};
    for (int m = 0; m < 4; ++m) slow_changed[m] = place_tones_word_by_word(text, modes[m], slow[m]);
    auto same = [&](const std::string& fast, std::size_t fast_changed, int m, const char* how) {
        if (fast != slow[m]) {
            std::size_t at = 0;
            while (at < fast.size() && at < slow[m].size() && fast[at] == slow[m][at]) ++at;
            const std::size_t from = at < 40 ? 0 : at - 40;
            ADD_FAILURE() << how << ", " << names[m] << ": first difference at byte " << at
                          << ": \"" << fast.substr(from, 80) << "\" for \""
                          << slow[m].substr(from, 80) << "\"";
        }
        EXPECT_EQ(fast_changed, slow_changed[m]) << how << ", " << names[m];
    };
    simd::for_each_supported_target([&] {
        for (int m = 0; m < 4; ++m) {
            std::string fast;
            const std::size_t n = place_tones(text, modes[m], fast);
            same(fast, n, m, "place_tones");
            // Twice through one placer: the second time from its memory.
            TonePlacer placer(modes[m]);
            for (int pass = 0; pass < 2; ++pass) {
                std::string remembered;
                const std::size_t r = placer.place(text, remembered);
                same(remembered, r, m, pass == 0 ? "TonePlacer" : "TonePlacer again");
            }
        }
    });
}

TEST(ToneStyle, FastPathsMatchEveryWordLookedAtOnTheDictionary) {
    std::ifstream dic("/usr/share/hunspell/vi_VN.dic");
    if (!dic) GTEST_SKIP() << "no /usr/share/hunspell/vi_VN.dic (hunspell-vi)";
    std::string line, text;
    std::getline(dic, line);
    // The words in both styles, as they are, in capitals and decomposed, between the
    // punctuation and spacing of prose.
    const char* const gaps[] = {" ", ", ", ".\n", "\t", "-", "(", ") ", "\xC2\xA0", "1"};
    std::size_t k = 0;
    while (std::getline(dic, line)) {
        const std::string word = line.substr(0, line.find('/'));
        std::string old;
        place_tones(word, kOld, old);
        std::string upper;
        for (const std::string& w : {word, old}) {
            text += w;
            text += gaps[k++ % std::size(gaps)];
        }
        for (char c : old) upper += c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
        text += upper + gaps[k++ % std::size(gaps)];
        text += decomposed(old) + gaps[k++ % std::size(gaps)];
    }
    ASSERT_GT(text.size(), 100000u);
    expect_scan_matches(text);
    std::string changed;
    EXPECT_GT(place_tones(text, kNew, changed), 100u);
    // Cut anywhere: a word at either end of the text.
    for (std::size_t cut = 0; cut < 4096; cut += 7) {
        SCOPED_TRACE(cut);
        expect_scan_matches(text.substr(cut, 997));
    }
}

TEST(ToneStyle, FastPathsMatchEveryWordLookedAtOnOddText) {
    // Marked glides, words that only look like them, non-syllables, other scripts, invalid
    // UTF-8, combining marks alone or on a non-letter.
    const std::string pieces[] = {
        "h\xc3\xb2"
        "a",
        "HO\xc3\x80",
        "th\xe1\xbb\xa7y",
        "THU\xe1\xbb\xb6",
        "kh\xe1\xbb\x8f"
        "e",
        "o\xcc\x80"
        "a",
        "u\xcc\x89y",
        "Di\xc3\xb3xido",
        "Mu\xc3\xb1oz",
        "c\xe1\xbb\xa7"
        "a",
        "Gi\xe1\xba\xa5y",
        "\xcc\x81",
        "\xcd\x82",
        "\xc3",
        "\xe1\xbb",
        "\xff",
        "\x80",
        "\xf0\x9f\x98\x80",
        "\xd0\xbf\xd1\x80\xd0\xb8",
        "\xe4\xb8\xad",
        "o",
        "U",
        "a",
        "Y",
        "e",
        " ",
        "\n",
        ".",
        "7",
        "\xc2\xa0",
    };
    std::vector<std::string> pool(std::begin(pieces), std::end(pieces));
    // Every letter, precomposed and decomposed.
    for (const char32_t c : letter_code_points) {
        std::string one;
        append_utf8(one, c);
        pool.push_back(one);
        pool.push_back(decomposed(one));
    }
    std::mt19937 random(20180101);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1), length(0, 90);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (std::size_t n = length(random); n > 0; --n) text += pool[pick(random)];
        SCOPED_TRACE(round);
        expect_scan_matches(text);
    }
}

// A text through TextPipeline (tones only, UTF-8 to UTF-8, through the writing converter or
// not), fed `piece` bytes at a time.
struct Piped {
    std::string out;
    TextPipeline::Status status;
    std::uint64_t restyled;
};
Piped pipe(const std::string& text, std::size_t piece, bool writer) {
    PipelineOptions o;
    o.write_through_converter = writer;
    o.place_tones = true;
    o.tones = kNew;
    TextPipeline pipeline(o);
    Piped p{};
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t at = 0;; at += piece) {
        const std::size_t n = std::min(piece, text.size() - std::min(at, text.size()));
        p.status = pipeline.feed(bytes + std::min(at, text.size()), n, n == 0, p.out);
        if (p.status != TextPipeline::Status::kOk || n == 0) break;
    }
    p.restyled = pipeline.restyled();
    return p;
}

// The writing converter's output for `text`; all of it when the text ends there (`last`).
std::string converted(const std::string& text, bool last = true) {
    Converter c(ConvertOptions{kUtf8, kUtf8, LossPolicy::kRefuse});
    std::vector<unsigned char> out(kConvertGrowth * text.size() + kConvertSlack);
    const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), out.data(), out.size(), last);
    return std::string(reinterpret_cast<const char*>(out.data()), r.written);
}

// Lines of prose with glides in either style, capitals, decomposed letters and words that
// only look like syllables.
std::string prose_lines(std::size_t size) {
    const std::string line =
        "H\xc3\xb2"
        "a b\xc3\xacnh, kh\xe1\xbb\x8f"
        "e m\xe1\xba\xa1nh v\xc3\xa0 th\xc3\xb9y "
        "ch\xe1\xbb\x8dn THU\xe1\xbb\xb6 c\xe1\xbb\xa7"
        "a Mu\xc3\xb1oz ho"
        "a\xcc\x80 "
        "t\xc3\xb9y \xc3\xbd t\xe1\xbb\x9b, x\xc3\xb3"
        "a \xe2\x80\x94 ho\xc3\xa0 h\xe1\xbb\x8d"
        "at.\n";
    std::string text;
    while (text.size() < size) text += line;
    return text;
}

TEST(TonePipeline, PlacesTonesAsOnePassOverTheTextDoes) {
    // Blocks of whole lines, fed in pieces that cut characters and words anywhere.
    const std::string text = prose_lines(std::size_t(3) << 20);
    std::string whole;
    const std::size_t moved = place_tones_word_by_word(text, kNew, whole);
    ASSERT_GT(moved, 10000u);
    for (const std::size_t piece : {std::size_t(65536), std::size_t(4099), std::size_t(1) << 22}) {
        for (const bool writer : {false, true}) {
            SCOPED_TRACE(std::to_string(piece) + (writer ? " through the writer" : ""));
            const Piped p = pipe(text, piece, writer);
            EXPECT_EQ(p.status, TextPipeline::Status::kOk);
            EXPECT_TRUE(p.out == (writer ? converted(whole) : whole));
            EXPECT_EQ(p.restyled, moved);
        }
    }
}

TEST(TonePipeline, CutsALineLongerThanABlockWhereRepairWould) {
    // One line of 5 MiB without a space: cut at the first character's start from
    // kLongestBlock back, here inside "h\xc3\xb2" "a", whose two halves keep their marks.
    std::string text = ";";
    while (text.size() < std::size_t(5) << 20)
        text +=
            "h\xc3\xb2"
            "a;";
    text +=
        "\nh\xc3\xb2"
        "a\n";
    const std::size_t cut = TextPipeline::kLongestBlock;
    ASSERT_EQ(text.compare(cut - 3, 4,
                           "h\xc3\xb2"
                           "a"),
              0);
    std::string expected;
    place_tones_word_by_word(text.substr(0, cut), kNew, expected);
    place_tones_word_by_word(text.substr(cut), kNew, expected);
    std::string whole;
    const std::size_t moved = place_tones_word_by_word(text, kNew, whole);
    // Fed in pieces, and all at once: the line feed after the long line is then in hand
    // before the cut is made.
    for (const std::size_t piece : {std::size_t(65536), text.size()}) {
        for (const bool writer : {false, true}) {
            SCOPED_TRACE(std::to_string(piece) + (writer ? " through the writer" : ""));
            const Piped p = pipe(text, piece, writer);
            EXPECT_TRUE(p.out == (writer ? converted(expected) : expected));
            EXPECT_EQ(p.restyled, moved - 1);
        }
    }
}

TEST(TonePipeline, ARefusedBlockWritesNothingOfItself) {
    // Lines of 1000 bytes fed 64 KiB at a time: the first block ends at the last line feed of
    // the first MiB; an undefined byte in the second refuses it whole, its syllables counted.
    std::string line = prose_lines(1000).substr(0, 999);
    while (line.back() & 0x80) line.pop_back();
    line.resize(999, '.');
    std::replace(line.begin(), line.end(), '\n', ' ');
    line += '\n';
    std::string text;
    while (text.size() < std::size_t(3) << 20) text += line;
    const std::size_t first_block = (TextPipeline::kBlockSize / 1000) * 1000;
    text[first_block + 500] = '\xff';
    const std::string head = text.substr(0, first_block);
    std::string head_placed;
    const std::size_t head_moved = place_tones_word_by_word(head, kNew, head_placed);
    const Piped p = pipe(text, 65536, true);
    EXPECT_EQ(p.status, TextPipeline::Status::kWriterRefused);
    // (The writer holds the last character back for marks that might follow.)
    EXPECT_TRUE(p.out == converted(head_placed, false))
        << p.out.size() << " bytes written for " << converted(head_placed, false).size();
    // The second block ends at the last line feed of the next MiB fed.
    const std::size_t second_end = ((std::size_t(2) << 20) / 1000) * 1000;
    std::string second;
    EXPECT_EQ(p.restyled,
              head_moved + place_tones_word_by_word(
                               text.substr(first_block, second_end - first_block), kNew, second));
}

}  // namespace
}  // namespace toneshift::repair
