// The VIQR name of every letter position, derived from the order of the letter table.
#pragma once

#include <array>
#include <cstddef>

#include "tables/letter_table.h"

namespace toneshift {

// A VIQR name: base letter ("dd"/"DD" for the d with stroke), at most one shape mark, at
// most one tone mark; NUL-padded to four bytes.
struct LetterName {
    char text[4];
    constexpr std::size_t size() const {
        std::size_t n = 0;
        while (n < 4 && text[n] != '\0') ++n;
        return n;
    }
};

// Tone marks in the table's column order: acute, grave, hook above, tilde, dot below.
inline constexpr char kToneMarks[5] = {'\'', '`', '?', '~', '.'};

namespace detail {

struct VowelGroup {
    char base;
    char shape;  // '\0' for a plain vowel
};

// The twelve vowel letters of one case, in the table's order.
inline constexpr VowelGroup vowel_groups[12] = {
    {'a', '\0'}, {'a', '^'}, {'a', '('}, {'e', '\0'}, {'e', '^'}, {'i', '\0'},
    {'o', '\0'}, {'o', '^'}, {'o', '+'}, {'u', '\0'}, {'u', '+'}, {'y', '\0'},
};

constexpr LetterName name_at(std::size_t position) {
    if (position == 0) return {{'d', 'd', '\0', '\0'}};
    if (position == 1) return {{'D', 'D', '\0', '\0'}};
    const bool capital = position >= 2 + 66;
    std::size_t q = (position - 2) % 66;
    for (const VowelGroup& g : vowel_groups) {
        // A shaped vowel has an entry without a tone, then its five tones; a plain one only
        // its five tones.
        const std::size_t entries = g.shape != '\0' ? 6 : 5;
        if (q < entries) {
            LetterName n{{char(capital ? g.base - 'a' + 'A' : g.base), '\0', '\0', '\0'}};
            std::size_t at = 1;
            if (g.shape != '\0') n.text[at++] = g.shape;
            const std::size_t tone = g.shape != '\0' ? q : q + 1;  // 0 means no tone
            if (tone > 0) n.text[at] = kToneMarks[tone - 1];
            return n;
        }
        q -= entries;
    }
    return {};
}

}  // namespace detail

inline constexpr auto letter_names = [] {
    std::array<LetterName, kLetterCount> names{};
    for (std::size_t p = 0; p < kLetterCount; ++p) names[p] = detail::name_at(p);
    return names;
}();

static_assert(detail::name_at(0).text[1] == 'd' && detail::name_at(8).text[2] == '\'' &&
              detail::name_at(131).text[1] == '?' && detail::name_at(131).text[0] == 'Y');

}  // namespace toneshift
