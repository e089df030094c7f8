// The 134 letters as Unicode characters, derived from their VIQR names.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/letter_names.h"
#include "tables/letter_table.h"

namespace toneshift {

namespace detail {

// Where Unicode puts the Vietnamese letters. A letter without a tone is the ASCII vowel or
// its shaped form below; a toned one is precomposed either in Latin-1 / Latin Extended-A
// (the few listed in latin_toned) or in Latin Extended Additional, U+1EA0 to U+1EF9, which
// holds capital/small pairs vowel group by vowel group, in the table's order of the twelve
// groups, each group with the tones that have no code point elsewhere.
struct ShapedVowel {
    char base;
    char shape;
    char32_t small;  // capitals are one below, except the ASCII and Latin-1 ones
};
inline constexpr ShapedVowel shaped_vowels[] = {
    {'a', '^', 0x00E2}, {'a', '(', 0x0103}, {'e', '^', 0x00EA},
    {'o', '^', 0x00F4}, {'o', '+', 0x01A1}, {'u', '+', 0x01B0},
};

struct LatinToned {
    char base;
    char tone;
    char32_t small;
};
// Latin-1 (capital 0x20 below) and the two tildes of Latin Extended-A (capital one below).
inline constexpr LatinToned latin_toned[] = {
    {'a', '`', 0xE0}, {'a', '\'', 0xE1}, {'a', '~', 0xE3},  {'e', '`', 0xE8},  {'e', '\'', 0xE9},
    {'i', '`', 0xEC}, {'i', '\'', 0xED}, {'o', '`', 0xF2},  {'o', '\'', 0xF3}, {'o', '~', 0xF5},
    {'u', '`', 0xF9}, {'u', '\'', 0xFA}, {'y', '\'', 0xFD}, {'i', '~', 0x129}, {'u', '~', 0x169},
};

// The tones each vowel group has in Latin Extended Additional, in the block's order.
inline constexpr const char* extended_additional_tones[12] = {
    ".?", "'`?~.", "'`?~.", ".?~", "'`?~.", "?.", ".?", "'`?~.", "'`?~.", ".?", "'`?~.", "`.?~",
};

constexpr char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

constexpr char32_t capital_of(char32_t small) {
    if (small < 0x80) return small - 0x20;
    if (small < 0x100) return small - 0x20;
    return small - 1;
}

constexpr char32_t code_point_of(const LetterName& name) {
    const char first = name.text[0];
    const bool capital = first >= 'A' && first <= 'Z';
    if (lower(first) == 'd') return capital ? 0x110 : 0x111;
    const char base = lower(first);
    char shape = '\0';
    char tone = '\0';
    for (std::size_t i = 1; i < name.size(); ++i) {
        const char m = name.text[i];
        if (m == '^' || m == '(' || m == '+') {
            shape = m;
        } else {
            tone = m;
        }
    }
    char32_t small = 0;
    if (tone == '\0') {
        for (const ShapedVowel& v : shaped_vowels)
            if (v.base == base && v.shape == shape) small = v.small;
    } else {
        if (shape == '\0')
            for (const LatinToned& t : latin_toned)
                if (t.base == base && t.tone == tone) small = t.small;
        if (small == 0) {
            char32_t capital_cp = 0x1EA0;
            for (std::size_t g = 0; g < 12; ++g) {
                const VowelGroup& group = vowel_groups[g];
                for (const char* t = extended_additional_tones[g]; *t != '\0'; ++t) {
                    if (group.base == base && group.shape == shape && *t == tone)
                        small = capital_cp + 1;
                    capital_cp += 2;
                }
            }
        }
    }
    return capital ? capital_of(small) : small;
}

}  // namespace detail

// The precomposed (NFC) character of every letter position.
inline constexpr auto letter_code_points = [] {
    std::array<char32_t, kLetterCount> cps{};
    for (std::size_t p = 0; p < kLetterCount; ++p) cps[p] = detail::code_point_of(letter_names[p]);
    return cps;
}();

static_assert(letter_code_points[0] == 0x111 && letter_code_points[1] == 0x110 &&
              letter_code_points[8] == 0x1EA5 && letter_code_points[131] == 0x1EF6);
static_assert(detail::capital_of(0x1EA1) == 0x1EA0 && detail::capital_of(0xE1) == 0xC1);

// The letter's canonical decomposition (NFD): the base letter, then its combining marks in
// canonical order. The horn (combining class 216) and the dot below (220) come before the
// marks above (230), which keep their order: shape, then tone. The d with stroke has none.
struct LetterDecomposition {
    char32_t cps[3];
    std::uint8_t size;
};

namespace detail {

constexpr char32_t combining_mark(char m) {
    switch (m) {
        case '^':
            return 0x302;
        case '(':
            return 0x306;
        case '+':
            return 0x31B;
        case '\'':
            return 0x301;
        case '`':
            return 0x300;
        case '?':
            return 0x309;
        case '~':
            return 0x303;
        case '.':
            return 0x323;
        default:
            return 0;
    }
}

constexpr int combining_class(char32_t mark) {
    return mark == 0x31B ? 216 : mark == 0x323 ? 220 : 230;
}

}  // namespace detail

inline constexpr auto letter_decompositions = [] {
    std::array<LetterDecomposition, kLetterCount> out{};
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const LetterName& name = letter_names[p];
        LetterDecomposition& d = out[p];
        if (name.text[0] == 'd' || name.text[0] == 'D') {
            d.cps[0] = letter_code_points[p];
            d.size = 1;
            continue;
        }
        d.cps[0] = char32_t(name.text[0]);
        d.size = 1;
        for (std::size_t i = 1; i < name.size(); ++i)
            d.cps[d.size++] = detail::combining_mark(name.text[i]);
        // Stable sort of the (at most two) marks by combining class.
        if (d.size == 3 && detail::combining_class(d.cps[2]) < detail::combining_class(d.cps[1])) {
            const char32_t t = d.cps[1];
            d.cps[1] = d.cps[2];
            d.cps[2] = t;
        }
    }
    return out;
}();

// The letter whose decomposition is an ASCII base letter followed by `first` and `second`
// (0 for none) exactly, or -1: the letters of fully decomposed (NFD) text.
namespace detail {
constexpr int mark_index(char32_t mark) {
    for (char m : {'^', '(', '+', '\'', '`', '?', '~', '.'})
        if (combining_mark(m) == mark) return int(std::string_view("^(+'`?~.").find(m)) + 1;
    return mark == 0 ? 0 : -1;
}
inline constexpr auto letter_of_decomposition = [] {
    std::array<std::array<std::array<short, 9>, 9>, 128> map{};
    for (auto& a : map)
        for (auto& b : a) b.fill(-1);
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const LetterDecomposition& d = letter_decompositions[p];
        if (d.size < 2) continue;
        map[d.cps[0]][std::size_t(mark_index(d.cps[1]))]
           [std::size_t(mark_index(d.size == 3 ? d.cps[2] : 0))] = short(p);
    }
    return map;
}();
}  // namespace detail

constexpr int letter_of_decomposition(char32_t base, char32_t first, char32_t second) {
    const int a = detail::mark_index(first), b = detail::mark_index(second);
    if (base >= 0x80 || a <= 0 || b < 0) return -1;
    return detail::letter_of_decomposition[base][std::size_t(a)][std::size_t(b)];
}

static_assert(letter_of_decomposition('o', 0x323, 0x302) == 45 &&
              letter_of_decomposition('o', 0x302, 0x323) == -1 &&
              letter_of_decomposition('a', 0x301, 0) == 2);

// The letter position of a character, or -1 when it is no letter of the table.
namespace detail {
inline constexpr char32_t kLatinFirst = 0xC0, kLatinEnd = 0x1B1;
inline constexpr char32_t kAdditionalFirst = 0x1EA0, kAdditionalEnd = 0x1EFA;
inline constexpr auto letter_of_code_point = [] {
    std::array<short, (kLatinEnd - kLatinFirst) + (kAdditionalEnd - kAdditionalFirst)> map{};
    map.fill(-1);
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const char32_t cp = letter_code_points[p];
        if (cp >= kLatinFirst && cp < kLatinEnd) map[cp - kLatinFirst] = short(p);
        if (cp >= kAdditionalFirst && cp < kAdditionalEnd)
            map[(kLatinEnd - kLatinFirst) + (cp - kAdditionalFirst)] = short(p);
    }
    return map;
}();
}  // namespace detail

constexpr int letter_position(char32_t cp) {
    if (cp >= detail::kLatinFirst && cp < detail::kLatinEnd)
        return detail::letter_of_code_point[cp - detail::kLatinFirst];
    if (cp >= detail::kAdditionalFirst && cp < detail::kAdditionalEnd)
        return detail::letter_of_code_point[(detail::kLatinEnd - detail::kLatinFirst) +
                                            (cp - detail::kAdditionalFirst)];
    return -1;
}

}  // namespace toneshift
