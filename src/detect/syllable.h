// What a written Vietnamese syllable may look like: onset, rhyme and tone, by the rules of
// the orthography. The detector asks this of every word that a candidate format decodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace toneshift::detect {

// One decoded letter of a word.
struct SyllableLetter {
    char base = 'a';        // 'a'..'z', or 'D' for the d with stroke; always small
    char shape = '\0';      // '\0', '^' circumflex, '(' breve, '+' horn
    std::uint8_t tone = 0;  // 0 none, 1 acute, 2 grave, 3 hook above, 4 tilde, 5 dot below
    bool capital = false;
};

inline constexpr std::size_t kMaxSyllableLetters = 8;

// Whether `letters` spell one valid syllable: a known onset, a rhyme of the language, the
// tone on the vowel that carries it (either placement for oa, oe and uy), only the acute
// or dot tone after the stop finals p, t, c and ch, and a case pattern of a word (all small,
// first capital, or all capitals).
bool valid_syllable(const SyllableLetter* letters, std::size_t count);

// Where a syllable's tone mark belongs: the index of the letter that carries it, or -1 when
// the letters (their tone aside) spell no syllable or no vowel takes a tone. The glides oa,
// oe and uy without a final consonant carry it on their first vowel in the traditional style
// ("hòa", "khỏe", "thủy") and on their second in the style of the 2018 rules ("hoà", "khoẻ",
// "thuỷ"); every other rhyme has one place, the same in both.
enum class ToneStyle : std::uint8_t { kTraditional, kNew };
int tone_place(const SyllableLetter* letters, std::size_t count, ToneStyle style);

// A syllable's letters, case aside, as one number: the same syllable gives the same key
// however it was written.
constexpr std::uint64_t syllable_key(const SyllableLetter* letters, std::size_t count) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t k = 0; k < count; ++k) {
        const SyllableLetter& l = letters[k];
        for (unsigned v : {unsigned(static_cast<unsigned char>(l.base)),
                           unsigned(static_cast<unsigned char>(l.shape)), unsigned(l.tone)})
            h = (h ^ v) * 1099511628211ull;
    }
    return h;
}

// Whether the syllable is in the list of the language's syllables made at build time from
// the system's Vietnamese dictionary (an empty list where the dictionary is missing).
bool known_syllable(const SyllableLetter* letters, std::size_t count);
bool have_known_syllables();

// Whether the syllable is one of the few that carry most running text.
bool common_syllable(const SyllableLetter* letters, std::size_t count);

// The list itself: keys sorted ascending (generated).
extern const std::uint64_t known_syllable_keys[];
extern const std::size_t known_syllable_count;

}  // namespace toneshift::detect
