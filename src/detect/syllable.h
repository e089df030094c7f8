// What a written Vietnamese syllable may look like: onset, rhyme and tone, by the rules of
// the orthography. The detector asks this of every word that a candidate format decodes.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace toneshift::detect
