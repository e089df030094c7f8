#include "repair/tone_style.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

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

}  // namespace
}  // namespace toneshift::repair
