// The legacy encodings of Vietnamese that real files use beside the formats of the letter
// table: how each spells the 134 letters, the byte tables of Windows-1258 and of TCVN
// 5712:1993 VN1, and the Windows-1252 punctuation that files saved on Windows keep.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/letter_names.h"
#include "tables/letter_table.h"
#include "tables/letter_unicode.h"

namespace toneshift {

// Stands for a byte an encoding leaves undefined. It is no code point; the converter's
// kNoChar has the same value.
inline constexpr char32_t kNoCharacter = 0xFFFFFFFF;

// How an encoding spells one letter: one byte, or a base letter (an ASCII vowel or a
// one-byte letter of the same encoding) followed by a mark byte. bytes[1] is 0 for one byte.
struct Spelling {
    char32_t character;
    std::uint8_t size;
    unsigned char bytes[2];
};

// A row per letter, in the spelling order: the letters by groups a, a^, a(, dd, e, e^, i, o,
// o^, o+, u, u+, y, each capital followed by its small letter; a shaped vowel and dd come
// first untoned, then every vowel takes the tones acute, grave, hook above, tilde, dot below.
// Row r is the letter at position spelling_positions[r] of the letter table. A capital with
// its small letter's bytes has no spelling of its own: the encoding shows it only in a
// capitals font, which draws every small letter as its capital.
using SpellingTable = std::array<Spelling, kLetterCount>;

namespace detail {

// The letter position of spelling row `row`. dd is pair 17, after a, a^, a( (5 + 6 + 6
// pairs); the vowels keep the letter table's order.
constexpr std::size_t spelling_position(std::size_t row) {
    constexpr std::size_t kDdPair = 17;
    const std::size_t pair = row / 2;
    const bool capital = row % 2 == 0;
    if (pair == kDdPair) return capital ? 1 : 0;
    const std::size_t small = 2 + (pair < kDdPair ? pair : pair - 1);
    return capital ? small + 66 : small;
}

}  // namespace detail

inline constexpr auto spelling_positions = [] {
    std::array<std::uint8_t, kLetterCount> positions{};
    for (std::size_t r = 0; r < kLetterCount; ++r)
        positions[r] = std::uint8_t(detail::spelling_position(r));
    return positions;
}();

// The same spellings indexed by letter position.
constexpr SpellingTable spellings_by_position(const SpellingTable& table) {
    SpellingTable out{};
    for (std::size_t r = 0; r < kLetterCount; ++r) out[spelling_positions[r]] = table[r];
    return out;
}

// Each encoding's spellings, then the Windows-1252 punctuation bytes (0x80..0x9F) it leaves
// as they are: in a file saved on Windows those bytes are that punctuation.

// TCVN3 (TCVN 5712:1993 VN3, "ABC"; fonts .VnTime, .VnArial, ...): one byte a letter, 67
// small letters and only the capitals A( A^ E^ O^ O+ U+ DD of their own.
inline constexpr SpellingTable tcvn3_spellings{{
    {U'\u00C1', 1, {0xB8, 0x00}}, {U'\u00E1', 1, {0xB8, 0x00}},  // A' a'
    {U'\u00C0', 1, {0xB5, 0x00}}, {U'\u00E0', 1, {0xB5, 0x00}},  // A` a`
    {U'\u1EA2', 1, {0xB6, 0x00}}, {U'\u1EA3', 1, {0xB6, 0x00}},  // A? a?
    {U'\u00C3', 1, {0xB7, 0x00}}, {U'\u00E3', 1, {0xB7, 0x00}},  // A~ a~
    {U'\u1EA0', 1, {0xB9, 0x00}}, {U'\u1EA1', 1, {0xB9, 0x00}},  // A. a.
    {U'\u00C2', 1, {0xA2, 0x00}}, {U'\u00E2', 1, {0xA9, 0x00}},  // A^ a^
    {U'\u1EA4', 1, {0xCA, 0x00}}, {U'\u1EA5', 1, {0xCA, 0x00}},  // A^' a^'
    {U'\u1EA6', 1, {0xC7, 0x00}}, {U'\u1EA7', 1, {0xC7, 0x00}},  // A^` a^`
    {U'\u1EA8', 1, {0xC8, 0x00}}, {U'\u1EA9', 1, {0xC8, 0x00}},  // A^? a^?
    {U'\u1EAA', 1, {0xC9, 0x00}}, {U'\u1EAB', 1, {0xC9, 0x00}},  // A^~ a^~
    {U'\u1EAC', 1, {0xCB, 0x00}}, {U'\u1EAD', 1, {0xCB, 0x00}},  // A^. a^.
    {U'\u0102', 1, {0xA1, 0x00}}, {U'\u0103', 1, {0xA8, 0x00}},  // A( a(
    {U'\u1EAE', 1, {0xBE, 0x00}}, {U'\u1EAF', 1, {0xBE, 0x00}},  // A(' a('
    {U'\u1EB0', 1, {0xBB, 0x00}}, {U'\u1EB1', 1, {0xBB, 0x00}},  // A(` a(`
    {U'\u1EB2', 1, {0xBC, 0x00}}, {U'\u1EB3', 1, {0xBC, 0x00}},  // A(? a(?
    {U'\u1EB4', 1, {0xBD, 0x00}}, {U'\u1EB5', 1, {0xBD, 0x00}},  // A(~ a(~
    {U'\u1EB6', 1, {0xC6, 0x00}}, {U'\u1EB7', 1, {0xC6, 0x00}},  // A(. a(.
    {U'\u0110', 1, {0xA7, 0x00}}, {U'\u0111', 1, {0xAE, 0x00}},  // DD dd
    {U'\u00C9', 1, {0xD0, 0x00}}, {U'\u00E9', 1, {0xD0, 0x00}},  // E' e'
    {U'\u00C8', 1, {0xCC, 0x00}}, {U'\u00E8', 1, {0xCC, 0x00}},  // E` e`
    {U'\u1EBA', 1, {0xCE, 0x00}}, {U'\u1EBB', 1, {0xCE, 0x00}},  // E? e?
    {U'\u1EBC', 1, {0xCF, 0x00}}, {U'\u1EBD', 1, {0xCF, 0x00}},  // E~ e~
    {U'\u1EB8', 1, {0xD1, 0x00}}, {U'\u1EB9', 1, {0xD1, 0x00}},  // E. e.
    {U'\u00CA', 1, {0xA3, 0x00}}, {U'\u00EA', 1, {0xAA, 0x00}},  // E^ e^
    {U'\u1EBE', 1, {0xD5, 0x00}}, {U'\u1EBF', 1, {0xD5, 0x00}},  // E^' e^'
    {U'\u1EC0', 1, {0xD2, 0x00}}, {U'\u1EC1', 1, {0xD2, 0x00}},  // E^` e^`
    {U'\u1EC2', 1, {0xD3, 0x00}}, {U'\u1EC3', 1, {0xD3, 0x00}},  // E^? e^?
    {U'\u1EC4', 1, {0xD4, 0x00}}, {U'\u1EC5', 1, {0xD4, 0x00}},  // E^~ e^~
    {U'\u1EC6', 1, {0xD6, 0x00}}, {U'\u1EC7', 1, {0xD6, 0x00}},  // E^. e^.
    {U'\u00CD', 1, {0xDD, 0x00}}, {U'\u00ED', 1, {0xDD, 0x00}},  // I' i'
    {U'\u00CC', 1, {0xD7, 0x00}}, {U'\u00EC', 1, {0xD7, 0x00}},  // I` i`
    {U'\u1EC8', 1, {0xD8, 0x00}}, {U'\u1EC9', 1, {0xD8, 0x00}},  // I? i?
    {U'\u0128', 1, {0xDC, 0x00}}, {U'\u0129', 1, {0xDC, 0x00}},  // I~ i~
    {U'\u1ECA', 1, {0xDE, 0x00}}, {U'\u1ECB', 1, {0xDE, 0x00}},  // I. i.
    {U'\u00D3', 1, {0xE3, 0x00}}, {U'\u00F3', 1, {0xE3, 0x00}},  // O' o'
    {U'\u00D2', 1, {0xDF, 0x00}}, {U'\u00F2', 1, {0xDF, 0x00}},  // O` o`
    {U'\u1ECE', 1, {0xE1, 0x00}}, {U'\u1ECF', 1, {0xE1, 0x00}},  // O? o?
    {U'\u00D5', 1, {0xE2, 0x00}}, {U'\u00F5', 1, {0xE2, 0x00}},  // O~ o~
    {U'\u1ECC', 1, {0xE4, 0x00}}, {U'\u1ECD', 1, {0xE4, 0x00}},  // O. o.
    {U'\u00D4', 1, {0xA4, 0x00}}, {U'\u00F4', 1, {0xAB, 0x00}},  // O^ o^
    {U'\u1ED0', 1, {0xE8, 0x00}}, {U'\u1ED1', 1, {0xE8, 0x00}},  // O^' o^'
    {U'\u1ED2', 1, {0xE5, 0x00}}, {U'\u1ED3', 1, {0xE5, 0x00}},  // O^` o^`
    {U'\u1ED4', 1, {0xE6, 0x00}}, {U'\u1ED5', 1, {0xE6, 0x00}},  // O^? o^?
    {U'\u1ED6', 1, {0xE7, 0x00}}, {U'\u1ED7', 1, {0xE7, 0x00}},  // O^~ o^~
    {U'\u1ED8', 1, {0xE9, 0x00}}, {U'\u1ED9', 1, {0xE9, 0x00}},  // O^. o^.
    {U'\u01A0', 1, {0xA5, 0x00}}, {U'\u01A1', 1, {0xAC, 0x00}},  // O+ o+
    {U'\u1EDA', 1, {0xED, 0x00}}, {U'\u1EDB', 1, {0xED, 0x00}},  // O+' o+'
    {U'\u1EDC', 1, {0xEA, 0x00}}, {U'\u1EDD', 1, {0xEA, 0x00}},  // O+` o+`
    {U'\u1EDE', 1, {0xEB, 0x00}}, {U'\u1EDF', 1, {0xEB, 0x00}},  // O+? o+?
    {U'\u1EE0', 1, {0xEC, 0x00}}, {U'\u1EE1', 1, {0xEC, 0x00}},  // O+~ o+~
    {U'\u1EE2', 1, {0xEE, 0x00}}, {U'\u1EE3', 1, {0xEE, 0x00}},  // O+. o+.
    {U'\u00DA', 1, {0xF3, 0x00}}, {U'\u00FA', 1, {0xF3, 0x00}},  // U' u'
    {U'\u00D9', 1, {0xEF, 0x00}}, {U'\u00F9', 1, {0xEF, 0x00}},  // U` u`
    {U'\u1EE6', 1, {0xF1, 0x00}}, {U'\u1EE7', 1, {0xF1, 0x00}},  // U? u?
    {U'\u0168', 1, {0xF2, 0x00}}, {U'\u0169', 1, {0xF2, 0x00}},  // U~ u~
    {U'\u1EE4', 1, {0xF4, 0x00}}, {U'\u1EE5', 1, {0xF4, 0x00}},  // U. u.
    {U'\u01AF', 1, {0xA6, 0x00}}, {U'\u01B0', 1, {0xAD, 0x00}},  // U+ u+
    {U'\u1EE8', 1, {0xF8, 0x00}}, {U'\u1EE9', 1, {0xF8, 0x00}},  // U+' u+'
    {U'\u1EEA', 1, {0xF5, 0x00}}, {U'\u1EEB', 1, {0xF5, 0x00}},  // U+` u+`
    {U'\u1EEC', 1, {0xF6, 0x00}}, {U'\u1EED', 1, {0xF6, 0x00}},  // U+? u+?
    {U'\u1EEE', 1, {0xF7, 0x00}}, {U'\u1EEF', 1, {0xF7, 0x00}},  // U+~ u+~
    {U'\u1EF0', 1, {0xF9, 0x00}}, {U'\u1EF1', 1, {0xF9, 0x00}},  // U+. u+.
    {U'\u00DD', 1, {0xFD, 0x00}}, {U'\u00FD', 1, {0xFD, 0x00}},  // Y' y'
    {U'\u1EF2', 1, {0xFA, 0x00}}, {U'\u1EF3', 1, {0xFA, 0x00}},  // Y` y`
    {U'\u1EF6', 1, {0xFB, 0x00}}, {U'\u1EF7', 1, {0xFB, 0x00}},  // Y? y?
    {U'\u1EF8', 1, {0xFC, 0x00}}, {U'\u1EF9', 1, {0xFC, 0x00}},  // Y~ y~
    {U'\u1EF4', 1, {0xFE, 0x00}}, {U'\u1EF5', 1, {0xFE, 0x00}},  // Y. y.
}};
inline constexpr std::array<unsigned char, 27> tcvn3_kept_cp1252{
    0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8E, 0x91,
    0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9E, 0x9F};

// VNI for Windows (fonts VNI-Times, VNI-Helve, ...): a base letter and a mark byte that
// carries the tone, or shape and tone together; i, dd, o+ and u+ are single bytes, y. too.
inline constexpr SpellingTable vni_win_spellings{{
    {U'\u00C1', 2, {0x41, 0xD9}}, {U'\u00E1', 2, {0x61, 0xF9}},  // A' a'
    {U'\u00C0', 2, {0x41, 0xD8}}, {U'\u00E0', 2, {0x61, 0xF8}},  // A` a`
    {U'\u1EA2', 2, {0x41, 0xDB}}, {U'\u1EA3', 2, {0x61, 0xFB}},  // A? a?
    {U'\u00C3', 2, {0x41, 0xD5}}, {U'\u00E3', 2, {0x61, 0xF5}},  // A~ a~
    {U'\u1EA0', 2, {0x41, 0xCF}}, {U'\u1EA1', 2, {0x61, 0xEF}},  // A. a.
    {U'\u00C2', 2, {0x41, 0xC2}}, {U'\u00E2', 2, {0x61, 0xE2}},  // A^ a^
    {U'\u1EA4', 2, {0x41, 0xC1}}, {U'\u1EA5', 2, {0x61, 0xE1}},  // A^' a^'
    {U'\u1EA6', 2, {0x41, 0xC0}}, {U'\u1EA7', 2, {0x61, 0xE0}},  // A^` a^`
    {U'\u1EA8', 2, {0x41, 0xC5}}, {U'\u1EA9', 2, {0x61, 0xE5}},  // A^? a^?
    {U'\u1EAA', 2, {0x41, 0xC3}}, {U'\u1EAB', 2, {0x61, 0xE3}},  // A^~ a^~
    {U'\u1EAC', 2, {0x41, 0xC4}}, {U'\u1EAD', 2, {0x61, 0xE4}},  // A^. a^.
    {U'\u0102', 2, {0x41, 0xCA}}, {U'\u0103', 2, {0x61, 0xEA}},  // A( a(
    {U'\u1EAE', 2, {0x41, 0xC9}}, {U'\u1EAF', 2, {0x61, 0xE9}},  // A(' a('
    {U'\u1EB0', 2, {0x41, 0xC8}}, {U'\u1EB1', 2, {0x61, 0xE8}},  // A(` a(`
    {U'\u1EB2', 2, {0x41, 0xDA}}, {U'\u1EB3', 2, {0x61, 0xFA}},  // A(? a(?
    {U'\u1EB4', 2, {0x41, 0xDC}}, {U'\u1EB5', 2, {0x61, 0xFC}},  // A(~ a(~
    {U'\u1EB6', 2, {0x41, 0xCB}}, {U'\u1EB7', 2, {0x61, 0xEB}},  // A(. a(.
    {U'\u0110', 1, {0xD1, 0x00}}, {U'\u0111', 1, {0xF1, 0x00}},  // DD dd
    {U'\u00C9', 2, {0x45, 0xD9}}, {U'\u00E9', 2, {0x65, 0xF9}},  // E' e'
    {U'\u00C8', 2, {0x45, 0xD8}}, {U'\u00E8', 2, {0x65, 0xF8}},  // E` e`
    {U'\u1EBA', 2, {0x45, 0xDB}}, {U'\u1EBB', 2, {0x65, 0xFB}},  // E? e?
    {U'\u1EBC', 2, {0x45, 0xD5}}, {U'\u1EBD', 2, {0x65, 0xF5}},  // E~ e~
    {U'\u1EB8', 2, {0x45, 0xCF}}, {U'\u1EB9', 2, {0x65, 0xEF}},  // E. e.
    {U'\u00CA', 2, {0x45, 0xC2}}, {U'\u00EA', 2, {0x65, 0xE2}},  // E^ e^
    {U'\u1EBE', 2, {0x45, 0xC1}}, {U'\u1EBF', 2, {0x65, 0xE1}},  // E^' e^'
    {U'\u1EC0', 2, {0x45, 0xC0}}, {U'\u1EC1', 2, {0x65, 0xE0}},  // E^` e^`
    {U'\u1EC2', 2, {0x45, 0xC5}}, {U'\u1EC3', 2, {0x65, 0xE5}},  // E^? e^?
    {U'\u1EC4', 2, {0x45, 0xC3}}, {U'\u1EC5', 2, {0x65, 0xE3}},  // E^~ e^~
    {U'\u1EC6', 2, {0x45, 0xC4}}, {U'\u1EC7', 2, {0x65, 0xE4}},  // E^. e^.
    {U'\u00CD', 1, {0xCD, 0x00}}, {U'\u00ED', 1, {0xED, 0x00}},  // I' i'
    {U'\u00CC', 1, {0xCC, 0x00}}, {U'\u00EC', 1, {0xEC, 0x00}},  // I` i`
    {U'\u1EC8', 1, {0xC6, 0x00}}, {U'\u1EC9', 1, {0xE6, 0x00}},  // I? i?
    {U'\u0128', 1, {0xD3, 0x00}}, {U'\u0129', 1, {0xF3, 0x00}},  // I~ i~
    {U'\u1ECA', 1, {0xD2, 0x00}}, {U'\u1ECB', 1, {0xF2, 0x00}},  // I. i.
    {U'\u00D3', 2, {0x4F, 0xD9}}, {U'\u00F3', 2, {0x6F, 0xF9}},  // O' o'
    {U'\u00D2', 2, {0x4F, 0xD8}}, {U'\u00F2', 2, {0x6F, 0xF8}},  // O` o`
    {U'\u1ECE', 2, {0x4F, 0xDB}}, {U'\u1ECF', 2, {0x6F, 0xFB}},  // O? o?
    {U'\u00D5', 2, {0x4F, 0xD5}}, {U'\u00F5', 2, {0x6F, 0xF5}},  // O~ o~
    {U'\u1ECC', 2, {0x4F, 0xCF}}, {U'\u1ECD', 2, {0x6F, 0xEF}},  // O. o.
    {U'\u00D4', 2, {0x4F, 0xC2}}, {U'\u00F4', 2, {0x6F, 0xE2}},  // O^ o^
    {U'\u1ED0', 2, {0x4F, 0xC1}}, {U'\u1ED1', 2, {0x6F, 0xE1}},  // O^' o^'
    {U'\u1ED2', 2, {0x4F, 0xC0}}, {U'\u1ED3', 2, {0x6F, 0xE0}},  // O^` o^`
    {U'\u1ED4', 2, {0x4F, 0xC5}}, {U'\u1ED5', 2, {0x6F, 0xE5}},  // O^? o^?
    {U'\u1ED6', 2, {0x4F, 0xC3}}, {U'\u1ED7', 2, {0x6F, 0xE3}},  // O^~ o^~
    {U'\u1ED8', 2, {0x4F, 0xC4}}, {U'\u1ED9', 2, {0x6F, 0xE4}},  // O^. o^.
    {U'\u01A0', 1, {0xD4, 0x00}}, {U'\u01A1', 1, {0xF4, 0x00}},  // O+ o+
    {U'\u1EDA', 2, {0xD4, 0xD9}}, {U'\u1EDB', 2, {0xF4, 0xF9}},  // O+' o+'
    {U'\u1EDC', 2, {0xD4, 0xD8}}, {U'\u1EDD', 2, {0xF4, 0xF8}},  // O+` o+`
    {U'\u1EDE', 2, {0xD4, 0xDB}}, {U'\u1EDF', 2, {0xF4, 0xFB}},  // O+? o+?
    {U'\u1EE0', 2, {0xD4, 0xD5}}, {U'\u1EE1', 2, {0xF4, 0xF5}},  // O+~ o+~
    {U'\u1EE2', 2, {0xD4, 0xCF}}, {U'\u1EE3', 2, {0xF4, 0xEF}},  // O+. o+.
    {U'\u00DA', 2, {0x55, 0xD9}}, {U'\u00FA', 2, {0x75, 0xF9}},  // U' u'
    {U'\u00D9', 2, {0x55, 0xD8}}, {U'\u00F9', 2, {0x75, 0xF8}},  // U` u`
    {U'\u1EE6', 2, {0x55, 0xDB}}, {U'\u1EE7', 2, {0x75, 0xFB}},  // U? u?
    {U'\u0168', 2, {0x55, 0xD5}}, {U'\u0169', 2, {0x75, 0xF5}},  // U~ u~
    {U'\u1EE4', 2, {0x55, 0xCF}}, {U'\u1EE5', 2, {0x75, 0xEF}},  // U. u.
    {U'\u01AF', 1, {0xD6, 0x00}}, {U'\u01B0', 1, {0xF6, 0x00}},  // U+ u+
    {U'\u1EE8', 2, {0xD6, 0xD9}}, {U'\u1EE9', 2, {0xF6, 0xF9}},  // U+' u+'
    {U'\u1EEA', 2, {0xD6, 0xD8}}, {U'\u1EEB', 2, {0xF6, 0xF8}},  // U+` u+`
    {U'\u1EEC', 2, {0xD6, 0xDB}}, {U'\u1EED', 2, {0xF6, 0xFB}},  // U+? u+?
    {U'\u1EEE', 2, {0xD6, 0xD5}}, {U'\u1EEF', 2, {0xF6, 0xF5}},  // U+~ u+~
    {U'\u1EF0', 2, {0xD6, 0xCF}}, {U'\u1EF1', 2, {0xF6, 0xEF}},  // U+. u+.
    {U'\u00DD', 2, {0x59, 0xD9}}, {U'\u00FD', 2, {0x79, 0xF9}},  // Y' y'
    {U'\u1EF2', 2, {0x59, 0xD8}}, {U'\u1EF3', 2, {0x79, 0xF8}},  // Y` y`
    {U'\u1EF6', 2, {0x59, 0xDB}}, {U'\u1EF7', 2, {0x79, 0xFB}},  // Y? y?
    {U'\u1EF8', 2, {0x59, 0xD5}}, {U'\u1EF9', 2, {0x79, 0xF5}},  // Y~ y~
    {U'\u1EF4', 1, {0xCE, 0x00}}, {U'\u1EF5', 1, {0xEE, 0x00}},  // Y. y.
}};
inline constexpr std::array<unsigned char, 27> vni_win_kept_cp1252{
    0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8E, 0x91,
    0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9E, 0x9F};

// VNI for Mac: VNI for Windows with every byte read as Windows-1252 and written as Mac OS
// Roman (the tests check this), so it keeps no Windows punctuation.
inline constexpr SpellingTable vni_mac_spellings{{
    {U'\u00C1', 2, {0x41, 0xF4}}, {U'\u00E1', 2, {0x61, 0x9D}},  // A' a'
    {U'\u00C0', 2, {0x41, 0xAF}}, {U'\u00E0', 2, {0x61, 0xBF}},  // A` a`
    {U'\u1EA2', 2, {0x41, 0xF3}}, {U'\u1EA3', 2, {0x61, 0x9E}},  // A? a?
    {U'\u00C3', 2, {0x41, 0xCD}}, {U'\u00E3', 2, {0x61, 0x9B}},  // A~ a~
    {U'\u1EA0', 2, {0x41, 0xEC}}, {U'\u1EA1', 2, {0x61, 0x95}},  // A. a.
    {U'\u00C2', 2, {0x41, 0xE5}}, {U'\u00E2', 2, {0x61, 0x89}},  // A^ a^
    {U'\u1EA4', 2, {0x41, 0xE7}}, {U'\u1EA5', 2, {0x61, 0x87}},  // A^' a^'
    {U'\u1EA6', 2, {0x41, 0xCB}}, {U'\u1EA7', 2, {0x61, 0x88}},  // A^` a^`
    {U'\u1EA8', 2, {0x41, 0x81}}, {U'\u1EA9', 2, {0x61, 0x8C}},  // A^? a^?
    {U'\u1EAA', 2, {0x41, 0xCC}}, {U'\u1EAB', 2, {0x61, 0x8B}},  // A^~ a^~
    {U'\u1EAC', 2, {0x41, 0x80}}, {U'\u1EAD', 2, {0x61, 0x8A}},  // A^. a^.
    {U'\u0102', 2, {0x41, 0xE6}}, {U'\u0103', 2, {0x61, 0x90}},  // A( a(
    {U'\u1EAE', 2, {0x41, 0x83}}, {U'\u1EAF', 2, {0x61, 0x8E}},  // A(' a('
    {U'\u1EB0', 2, {0x41, 0xE9}}, {U'\u1EB1', 2, {0x61, 0x8F}},  // A(` a(`
    {U'\u1EB2', 2, {0x41, 0xF2}}, {U'\u1EB3', 2, {0x61, 0x9C}},  // A(? a(?
    {U'\u1EB4', 2, {0x41, 0x86}}, {U'\u1EB5', 2, {0x61, 0x9F}},  // A(~ a(~
    {U'\u1EB6', 2, {0x41, 0xE8}}, {U'\u1EB7', 2, {0x61, 0x91}},  // A(. a(.
    {U'\u0110', 1, {0x84, 0x00}}, {U'\u0111', 1, {0x96, 0x00}},  // DD dd
    {U'\u00C9', 2, {0x45, 0xF4}}, {U'\u00E9', 2, {0x65, 0x9D}},  // E' e'
    {U'\u00C8', 2, {0x45, 0xAF}}, {U'\u00E8', 2, {0x65, 0xBF}},  // E` e`
    {U'\u1EBA', 2, {0x45, 0xF3}}, {U'\u1EBB', 2, {0x65, 0x9E}},  // E? e?
    {U'\u1EBC', 2, {0x45, 0xCD}}, {U'\u1EBD', 2, {0x65, 0x9B}},  // E~ e~
    {U'\u1EB8', 2, {0x45, 0xEC}}, {U'\u1EB9', 2, {0x65, 0x95}},  // E. e.
    {U'\u00CA', 2, {0x45, 0xE5}}, {U'\u00EA', 2, {0x65, 0x89}},  // E^ e^
    {U'\u1EBE', 2, {0x45, 0xE7}}, {U'\u1EBF', 2, {0x65, 0x87}},  // E^' e^'
    {U'\u1EC0', 2, {0x45, 0xCB}}, {U'\u1EC1', 2, {0x65, 0x88}},  // E^` e^`
    {U'\u1EC2', 2, {0x45, 0x81}}, {U'\u1EC3', 2, {0x65, 0x8C}},  // E^? e^?
    {U'\u1EC4', 2, {0x45, 0xCC}}, {U'\u1EC5', 2, {0x65, 0x8B}},  // E^~ e^~
    {U'\u1EC6', 2, {0x45, 0x80}}, {U'\u1EC7', 2, {0x65, 0x8A}},  // E^. e^.
    {U'\u00CD', 1, {0xEA, 0x00}}, {U'\u00ED', 1, {0x92, 0x00}},  // I' i'
    {U'\u00CC', 1, {0xED, 0x00}}, {U'\u00EC', 1, {0x93, 0x00}},  // I` i`
    {U'\u1EC8', 1, {0xAE, 0x00}}, {U'\u1EC9', 1, {0xBE, 0x00}},  // I? i?
    {U'\u0128', 1, {0xEE, 0x00}}, {U'\u0129', 1, {0x97, 0x00}},  // I~ i~
    {U'\u1ECA', 1, {0xF1, 0x00}}, {U'\u1ECB', 1, {0x98, 0x00}},  // I. i.
    {U'\u00D3', 2, {0x4F, 0xF4}}, {U'\u00F3', 2, {0x6F, 0x9D}},  // O' o'
    {U'\u00D2', 2, {0x4F, 0xAF}}, {U'\u00F2', 2, {0x6F, 0xBF}},  // O` o`
    {U'\u1ECE', 2, {0x4F, 0xF3}}, {U'\u1ECF', 2, {0x6F, 0x9E}},  // O? o?
    {U'\u00D5', 2, {0x4F, 0xCD}}, {U'\u00F5', 2, {0x6F, 0x9B}},  // O~ o~
    {U'\u1ECC', 2, {0x4F, 0xEC}}, {U'\u1ECD', 2, {0x6F, 0x95}},  // O. o.
    {U'\u00D4', 2, {0x4F, 0xE5}}, {U'\u00F4', 2, {0x6F, 0x89}},  // O^ o^
    {U'\u1ED0', 2, {0x4F, 0xE7}}, {U'\u1ED1', 2, {0x6F, 0x87}},  // O^' o^'
    {U'\u1ED2', 2, {0x4F, 0xCB}}, {U'\u1ED3', 2, {0x6F, 0x88}},  // O^` o^`
    {U'\u1ED4', 2, {0x4F, 0x81}}, {U'\u1ED5', 2, {0x6F, 0x8C}},  // O^? o^?
    {U'\u1ED6', 2, {0x4F, 0xCC}}, {U'\u1ED7', 2, {0x6F, 0x8B}},  // O^~ o^~
    {U'\u1ED8', 2, {0x4F, 0x80}}, {U'\u1ED9', 2, {0x6F, 0x8A}},  // O^. o^.
    {U'\u01A0', 1, {0xEF, 0x00}}, {U'\u01A1', 1, {0x99, 0x00}},  // O+ o+
    {U'\u1EDA', 2, {0xEF, 0xF4}}, {U'\u1EDB', 2, {0x99, 0x9D}},  // O+' o+'
    {U'\u1EDC', 2, {0xEF, 0xAF}}, {U'\u1EDD', 2, {0x99, 0xBF}},  // O+` o+`
    {U'\u1EDE', 2, {0xEF, 0xF3}}, {U'\u1EDF', 2, {0x99, 0x9E}},  // O+? o+?
    {U'\u1EE0', 2, {0xEF, 0xCD}}, {U'\u1EE1', 2, {0x99, 0x9B}},  // O+~ o+~
    {U'\u1EE2', 2, {0xEF, 0xEC}}, {U'\u1EE3', 2, {0x99, 0x95}},  // O+. o+.
    {U'\u00DA', 2, {0x55, 0xF4}}, {U'\u00FA', 2, {0x75, 0x9D}},  // U' u'
    {U'\u00D9', 2, {0x55, 0xAF}}, {U'\u00F9', 2, {0x75, 0xBF}},  // U` u`
    {U'\u1EE6', 2, {0x55, 0xF3}}, {U'\u1EE7', 2, {0x75, 0x9E}},  // U? u?
    {U'\u0168', 2, {0x55, 0xCD}}, {U'\u0169', 2, {0x75, 0x9B}},  // U~ u~
    {U'\u1EE4', 2, {0x55, 0xEC}}, {U'\u1EE5', 2, {0x75, 0x95}},  // U. u.
    {U'\u01AF', 1, {0x85, 0x00}}, {U'\u01B0', 1, {0x9A, 0x00}},  // U+ u+
    {U'\u1EE8', 2, {0x85, 0xF4}}, {U'\u1EE9', 2, {0x9A, 0x9D}},  // U+' u+'
    {U'\u1EEA', 2, {0x85, 0xAF}}, {U'\u1EEB', 2, {0x9A, 0xBF}},  // U+` u+`
    {U'\u1EEC', 2, {0x85, 0xF3}}, {U'\u1EED', 2, {0x9A, 0x9E}},  // U+? u+?
    {U'\u1EEE', 2, {0x85, 0xCD}}, {U'\u1EEF', 2, {0x9A, 0x9B}},  // U+~ u+~
    {U'\u1EF0', 2, {0x85, 0xEC}}, {U'\u1EF1', 2, {0x9A, 0x95}},  // U+. u+.
    {U'\u00DD', 2, {0x59, 0xF4}}, {U'\u00FD', 2, {0x79, 0x9D}},  // Y' y'
    {U'\u1EF2', 2, {0x59, 0xAF}}, {U'\u1EF3', 2, {0x79, 0xBF}},  // Y` y`
    {U'\u1EF6', 2, {0x59, 0xF3}}, {U'\u1EF7', 2, {0x79, 0x9E}},  // Y? y?
    {U'\u1EF8', 2, {0x59, 0xCD}}, {U'\u1EF9', 2, {0x79, 0x9B}},  // Y~ y~
    {U'\u1EF4', 1, {0xEB, 0x00}}, {U'\u1EF5', 1, {0x94, 0x00}},  // Y. y.
}};
inline constexpr std::array<unsigned char, 0> vni_mac_kept_cp1252{};

// BK HCM 2: a^ a( e^ o^ o+ u+ dd and the toned i are single bytes; the rest a base letter
// and a tone byte.
inline constexpr SpellingTable bkhcm2_spellings{{
    {U'\u00C1', 2, {0x41, 0xC1}}, {U'\u00E1', 2, {0x61, 0xE1}},  // A' a'
    {U'\u00C0', 2, {0x41, 0xC2}}, {U'\u00E0', 2, {0x61, 0xE2}},  // A` a`
    {U'\u1EA2', 2, {0x41, 0xC3}}, {U'\u1EA3', 2, {0x61, 0xE3}},  // A? a?
    {U'\u00C3', 2, {0x41, 0xC4}}, {U'\u00E3', 2, {0x61, 0xE4}},  // A~ a~
    {U'\u1EA0', 2, {0x41, 0xC5}}, {U'\u1EA1', 2, {0x61, 0xE5}},  // A. a.
    {U'\u00C2', 1, {0xCA, 0x00}}, {U'\u00E2', 1, {0xEA, 0x00}},  // A^ a^
    {U'\u1EA4', 2, {0xCA, 0xCB}}, {U'\u1EA5', 2, {0xEA, 0xEB}},  // A^' a^'
    {U'\u1EA6', 2, {0xCA, 0xCC}}, {U'\u1EA7', 2, {0xEA, 0xEC}},  // A^` a^`
    {U'\u1EA8', 2, {0xCA, 0xCD}}, {U'\u1EA9', 2, {0xEA, 0xED}},  // A^? a^?
    {U'\u1EAA', 2, {0xCA, 0xCE}}, {U'\u1EAB', 2, {0xEA, 0xEE}},  // A^~ a^~
    {U'\u1EAC', 2, {0xCA, 0xC5}}, {U'\u1EAD', 2, {0xEA, 0xE5}},  // A^. a^.
    {U'\u0102', 1, {0xD9, 0x00}}, {U'\u0103', 1, {0xF9, 0x00}},  // A( a(
    {U'\u1EAE', 2, {0xD9, 0xC6}}, {U'\u1EAF', 2, {0xF9, 0xE6}},  // A(' a('
    {U'\u1EB0', 2, {0xD9, 0xC7}}, {U'\u1EB1', 2, {0xF9, 0xE7}},  // A(` a(`
    {U'\u1EB2', 2, {0xD9, 0xC8}}, {U'\u1EB3', 2, {0xF9, 0xE8}},  // A(? a(?
    {U'\u1EB4', 2, {0xD9, 0xC9}}, {U'\u1EB5', 2, {0xF9, 0xE9}},  // A(~ a(~
    {U'\u1EB6', 2, {0xD9, 0xC5}}, {U'\u1EB7', 2, {0xF9, 0xE5}},  // A(. a(.
    {U'\u0110', 1, {0xC0, 0x00}}, {U'\u0111', 1, {0xE0, 0x00}},  // DD dd
    {U'\u00C9', 2, {0x45, 0xC1}}, {U'\u00E9', 2, {0x65, 0xE1}},  // E' e'
    {U'\u00C8', 2, {0x45, 0xC2}}, {U'\u00E8', 2, {0x65, 0xE2}},  // E` e`
    {U'\u1EBA', 2, {0x45, 0xC3}}, {U'\u1EBB', 2, {0x65, 0xE3}},  // E? e?
    {U'\u1EBC', 2, {0x45, 0xC4}}, {U'\u1EBD', 2, {0x65, 0xE4}},  // E~ e~
    {U'\u1EB8', 2, {0x45, 0xC5}}, {U'\u1EB9', 2, {0x65, 0xE5}},  // E. e.
    {U'\u00CA', 1, {0xCF, 0x00}}, {U'\u00EA', 1, {0xEF, 0x00}},  // E^ e^
    {U'\u1EBE', 2, {0xCF, 0xCB}}, {U'\u1EBF', 2, {0xEF, 0xEB}},  // E^' e^'
    {U'\u1EC0', 2, {0xCF, 0xCC}}, {U'\u1EC1', 2, {0xEF, 0xEC}},  // E^` e^`
    {U'\u1EC2', 2, {0xCF, 0xCD}}, {U'\u1EC3', 2, {0xEF, 0xED}},  // E^? e^?
    {U'\u1EC4', 2, {0xCF, 0xCE}}, {U'\u1EC5', 2, {0xEF, 0xEE}},  // E^~ e^~
    {U'\u1EC6', 2, {0xCF, 0xE5}}, {U'\u1EC7', 2, {0xEF, 0xE5}},  // E^. e^.
    {U'\u00CD', 1, {0xD1, 0x00}}, {U'\u00ED', 1, {0xF1, 0x00}},  // I' i'
    {U'\u00CC', 1, {0xD2, 0x00}}, {U'\u00EC', 1, {0xF2, 0x00}},  // I` i`
    {U'\u1EC8', 1, {0xD3, 0x00}}, {U'\u1EC9', 1, {0xF3, 0x00}},  // I? i?
    {U'\u0128', 1, {0xD4, 0x00}}, {U'\u0129', 1, {0xF4, 0x00}},  // I~ i~
    {U'\u1ECA', 1, {0xD5, 0x00}}, {U'\u1ECB', 1, {0xF5, 0x00}},  // I. i.
    {U'\u00D3', 2, {0x4F, 0xC1}}, {U'\u00F3', 2, {0x6F, 0xE1}},  // O' o'
    {U'\u00D2', 2, {0x4F, 0xC2}}, {U'\u00F2', 2, {0x6F, 0xE2}},  // O` o`
    {U'\u1ECE', 2, {0x4F, 0xC3}}, {U'\u1ECF', 2, {0x6F, 0xE3}},  // O? o?
    {U'\u00D5', 2, {0x4F, 0xC4}}, {U'\u00F5', 2, {0x6F, 0xE4}},  // O~ o~
    {U'\u1ECC', 2, {0x4F, 0xC5}}, {U'\u1ECD', 2, {0x6F, 0xE5}},  // O. o.
    {U'\u00D4', 1, {0xD6, 0x00}}, {U'\u00F4', 1, {0xF6, 0x00}},  // O^ o^
    {U'\u1ED0', 2, {0xD6, 0xCB}}, {U'\u1ED1', 2, {0xF6, 0xEB}},  // O^' o^'
    {U'\u1ED2', 2, {0xD6, 0xCC}}, {U'\u1ED3', 2, {0xF6, 0xEC}},  // O^` o^`
    {U'\u1ED4', 2, {0xD6, 0xCD}}, {U'\u1ED5', 2, {0xF6, 0xED}},  // O^? o^?
    {U'\u1ED6', 2, {0xD6, 0xCE}}, {U'\u1ED7', 2, {0xF6, 0xEE}},  // O^~ o^~
    {U'\u1ED8', 2, {0xD6, 0xC5}}, {U'\u1ED9', 2, {0xF6, 0xE5}},  // O^. o^.
    {U'\u01A0', 1, {0xDA, 0x00}}, {U'\u01A1', 1, {0xFA, 0x00}},  // O+ o+
    {U'\u1EDA', 2, {0xDA, 0xC1}}, {U'\u1EDB', 2, {0xFA, 0xE1}},  // O+' o+'
    {U'\u1EDC', 2, {0xDA, 0xC2}}, {U'\u1EDD', 2, {0xFA, 0xE2}},  // O+` o+`
    {U'\u1EDE', 2, {0xDA, 0xC3}}, {U'\u1EDF', 2, {0xFA, 0xE3}},  // O+? o+?
    {U'\u1EE0', 2, {0xDA, 0xC4}}, {U'\u1EE1', 2, {0xFA, 0xE4}},  // O+~ o+~
    {U'\u1EE2', 2, {0xDA, 0xC5}}, {U'\u1EE3', 2, {0xFA, 0xE5}},  // O+. o+.
    {U'\u00DA', 2, {0x55, 0xC1}}, {U'\u00FA', 2, {0x75, 0xE1}},  // U' u'
    {U'\u00D9', 2, {0x55, 0xC2}}, {U'\u00F9', 2, {0x75, 0xE2}},  // U` u`
    {U'\u1EE6', 2, {0x55, 0xC3}}, {U'\u1EE7', 2, {0x75, 0xE3}},  // U? u?
    {U'\u0168', 2, {0x55, 0xC4}}, {U'\u0169', 2, {0x75, 0xE4}},  // U~ u~
    {U'\u1EE4', 2, {0x55, 0xC5}}, {U'\u1EE5', 2, {0x75, 0xE5}},  // U. u.
    {U'\u01AF', 1, {0xDB, 0x00}}, {U'\u01B0', 1, {0xFB, 0x00}},  // U+ u+
    {U'\u1EE8', 2, {0xDB, 0xC1}}, {U'\u1EE9', 2, {0xFB, 0xE1}},  // U+' u+'
    {U'\u1EEA', 2, {0xDB, 0xC2}}, {U'\u1EEB', 2, {0xFB, 0xE2}},  // U+` u+`
    {U'\u1EEC', 2, {0xDB, 0xC3}}, {U'\u1EED', 2, {0xFB, 0xE3}},  // U+? u+?
    {U'\u1EEE', 2, {0xDB, 0xC4}}, {U'\u1EEF', 2, {0xFB, 0xE4}},  // U+~ u+~
    {U'\u1EF0', 2, {0xDB, 0xC5}}, {U'\u1EF1', 2, {0xFB, 0xE5}},  // U+. u+.
    {U'\u00DD', 2, {0x59, 0xC1}}, {U'\u00FD', 2, {0x79, 0xE1}},  // Y' y'
    {U'\u1EF2', 2, {0x59, 0xC2}}, {U'\u1EF3', 2, {0x79, 0xE2}},  // Y` y`
    {U'\u1EF6', 2, {0x59, 0xC3}}, {U'\u1EF7', 2, {0x79, 0xE3}},  // Y? y?
    {U'\u1EF8', 2, {0x59, 0xC4}}, {U'\u1EF9', 2, {0x79, 0xE4}},  // Y~ y~
    {U'\u1EF4', 2, {0x59, 0xC5}}, {U'\u1EF5', 2, {0x79, 0xE5}},  // Y. y.
}};
inline constexpr std::array<unsigned char, 27> bkhcm2_kept_cp1252{
    0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8E, 0x91,
    0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9E, 0x9F};

// VietWare-F: one byte a letter, capitals as in TCVN3; its shaped capitals take 0x96..0x9C,
// so it keeps less Windows punctuation.
inline constexpr SpellingTable vietware_f_spellings{{
    {U'\u00C1', 1, {0xC0, 0x00}}, {U'\u00E1', 1, {0xC0, 0x00}},  // A' a'
    {U'\u00C0', 1, {0xAA, 0x00}}, {U'\u00E0', 1, {0xAA, 0x00}},  // A` a`
    {U'\u1EA2', 1, {0xB6, 0x00}}, {U'\u1EA3', 1, {0xB6, 0x00}},  // A? a?
    {U'\u00C3', 1, {0xBA, 0x00}}, {U'\u00E3', 1, {0xBA, 0x00}},  // A~ a~
    {U'\u1EA0', 1, {0xC1, 0x00}}, {U'\u1EA1', 1, {0xC1, 0x00}},  // A. a.
    {U'\u00C2', 1, {0x97, 0x00}}, {U'\u00E2', 1, {0xA1, 0x00}},  // A^ a^
    {U'\u1EA4', 1, {0xCA, 0x00}}, {U'\u1EA5', 1, {0xCA, 0x00}},  // A^' a^'
    {U'\u1EA6', 1, {0xC7, 0x00}}, {U'\u1EA7', 1, {0xC7, 0x00}},  // A^` a^`
    {U'\u1EA8', 1, {0xC8, 0x00}}, {U'\u1EA9', 1, {0xC8, 0x00}},  // A^? a^?
    {U'\u1EAA', 1, {0xC9, 0x00}}, {U'\u1EAB', 1, {0xC9, 0x00}},  // A^~ a^~
    {U'\u1EAC', 1, {0xCB, 0x00}}, {U'\u1EAD', 1, {0xCB, 0x00}},  // A^. a^.
    {U'\u0102', 1, {0x96, 0x00}}, {U'\u0103', 1, {0x9F, 0x00}},  // A( a(
    {U'\u1EAE', 1, {0xC5, 0x00}}, {U'\u1EAF', 1, {0xC5, 0x00}},  // A(' a('
    {U'\u1EB0', 1, {0xC2, 0x00}}, {U'\u1EB1', 1, {0xC2, 0x00}},  // A(` a(`
    {U'\u1EB2', 1, {0xC3, 0x00}}, {U'\u1EB3', 1, {0xC3, 0x00}},  // A(? a(?
    {U'\u1EB4', 1, {0xC4, 0x00}}, {U'\u1EB5', 1, {0xC4, 0x00}},  // A(~ a(~
    {U'\u1EB6', 1, {0xC6, 0x00}}, {U'\u1EB7', 1, {0xC6, 0x00}},  // A(. a(.
    {U'\u0110', 1, {0x98, 0x00}}, {U'\u0111', 1, {0xA2, 0x00}},  // DD dd
    {U'\u00C9', 1, {0xCF, 0x00}}, {U'\u00E9', 1, {0xCF, 0x00}},  // E' e'
    {U'\u00C8', 1, {0xCC, 0x00}}, {U'\u00E8', 1, {0xCC, 0x00}},  // E` e`
    {U'\u1EBA', 1, {0xCD, 0x00}}, {U'\u1EBB', 1, {0xCD, 0x00}},  // E? e?
    {U'\u1EBC', 1, {0xCE, 0x00}}, {U'\u1EBD', 1, {0xCE, 0x00}},  // E~ e~
    {U'\u1EB8', 1, {0xD1, 0x00}}, {U'\u1EB9', 1, {0xD1, 0x00}},  // E. e.
    {U'\u00CA', 1, {0x99, 0x00}}, {U'\u00EA', 1, {0xA3, 0x00}},  // E^ e^
    {U'\u1EBE', 1, {0xD5, 0x00}}, {U'\u1EBF', 1, {0xD5, 0x00}},  // E^' e^'
    {U'\u1EC0', 1, {0xD2, 0x00}}, {U'\u1EC1', 1, {0xD2, 0x00}},  // E^` e^`
    {U'\u1EC2', 1, {0xD3, 0x00}}, {U'\u1EC3', 1, {0xD3, 0x00}},  // E^? e^?
    {U'\u1EC4', 1, {0xD4, 0x00}}, {U'\u1EC5', 1, {0xD4, 0x00}},  // E^~ e^~
    {U'\u1EC6', 1, {0xD6, 0x00}}, {U'\u1EC7', 1, {0xD6, 0x00}},  // E^. e^.
    {U'\u00CD', 1, {0xDB, 0x00}}, {U'\u00ED', 1, {0xDB, 0x00}},  // I' i'
    {U'\u00CC', 1, {0xD8, 0x00}}, {U'\u00EC', 1, {0xD8, 0x00}},  // I` i`
    {U'\u1EC8', 1, {0xD9, 0x00}}, {U'\u1EC9', 1, {0xD9, 0x00}},  // I? i?
    {U'\u0128', 1, {0xDA, 0x00}}, {U'\u0129', 1, {0xDA, 0x00}},  // I~ i~
    {U'\u1ECA', 1, {0xDC, 0x00}}, {U'\u1ECB', 1, {0xDC, 0x00}},  // I. i.
    {U'\u00D3', 1, {0xE2, 0x00}}, {U'\u00F3', 1, {0xE2, 0x00}},  // O' o'
    {U'\u00D2', 1, {0xDF, 0x00}}, {U'\u00F2', 1, {0xDF, 0x00}},  // O` o`
    {U'\u1ECE', 1, {0xE0, 0x00}}, {U'\u1ECF', 1, {0xE0, 0x00}},  // O? o?
    {U'\u00D5', 1, {0xE1, 0x00}}, {U'\u00F5', 1, {0xE1, 0x00}},  // O~ o~
    {U'\u1ECC', 1, {0xE3, 0x00}}, {U'\u1ECD', 1, {0xE3, 0x00}},  // O. o.
    {U'\u00D4', 1, {0x9A, 0x00}}, {U'\u00F4', 1, {0xA4, 0x00}},  // O^ o^
    {U'\u1ED0', 1, {0xE7, 0x00}}, {U'\u1ED1', 1, {0xE7, 0x00}},  // O^' o^'
    {U'\u1ED2', 1, {0xE4, 0x00}}, {U'\u1ED3', 1, {0xE4, 0x00}},  // O^` o^`
    {U'\u1ED4', 1, {0xE5, 0x00}}, {U'\u1ED5', 1, {0xE5, 0x00}},  // O^? o^?
    {U'\u1ED6', 1, {0xE6, 0x00}}, {U'\u1ED7', 1, {0xE6, 0x00}},  // O^~ o^~
    {U'\u1ED8', 1, {0xE8, 0x00}}, {U'\u1ED9', 1, {0xE8, 0x00}},  // O^. o^.
    {U'\u01A0', 1, {0x9B, 0x00}}, {U'\u01A1', 1, {0xA5, 0x00}},  // O+ o+
    {U'\u1EDA', 1, {0xEC, 0x00}}, {U'\u1EDB', 1, {0xEC, 0x00}},  // O+' o+'
    {U'\u1EDC', 1, {0xE9, 0x00}}, {U'\u1EDD', 1, {0xE9, 0x00}},  // O+` o+`
    {U'\u1EDE', 1, {0xEA, 0x00}}, {U'\u1EDF', 1, {0xEA, 0x00}},  // O+? o+?
    {U'\u1EE0', 1, {0xEB, 0x00}}, {U'\u1EE1', 1, {0xEB, 0x00}},  // O+~ o+~
    {U'\u1EE2', 1, {0xED, 0x00}}, {U'\u1EE3', 1, {0xED, 0x00}},  // O+. o+.
    {U'\u00DA', 1, {0xF2, 0x00}}, {U'\u00FA', 1, {0xF2, 0x00}},  // U' u'
    {U'\u00D9', 1, {0xEE, 0x00}}, {U'\u00F9', 1, {0xEE, 0x00}},  // U` u`
    {U'\u1EE6', 1, {0xEF, 0x00}}, {U'\u1EE7', 1, {0xEF, 0x00}},  // U? u?
    {U'\u0168', 1, {0xF1, 0x00}}, {U'\u0169', 1, {0xF1, 0x00}},  // U~ u~
    {U'\u1EE4', 1, {0xF3, 0x00}}, {U'\u1EE5', 1, {0xF3, 0x00}},  // U. u.
    {U'\u01AF', 1, {0x9C, 0x00}}, {U'\u01B0', 1, {0xA7, 0x00}},  // U+ u+
    {U'\u1EE8', 1, {0xF7, 0x00}}, {U'\u1EE9', 1, {0xF7, 0x00}},  // U+' u+'
    {U'\u1EEA', 1, {0xF4, 0x00}}, {U'\u1EEB', 1, {0xF4, 0x00}},  // U+` u+`
    {U'\u1EEC', 1, {0xF5, 0x00}}, {U'\u1EED', 1, {0xF5, 0x00}},  // U+? u+?
    {U'\u1EEE', 1, {0xF6, 0x00}}, {U'\u1EEF', 1, {0xF6, 0x00}},  // U+~ u+~
    {U'\u1EF0', 1, {0xF8, 0x00}}, {U'\u1EF1', 1, {0xF8, 0x00}},  // U+. u+.
    {U'\u00DD', 1, {0xFC, 0x00}}, {U'\u00FD', 1, {0xFC, 0x00}},  // Y' y'
    {U'\u1EF2', 1, {0xF9, 0x00}}, {U'\u1EF3', 1, {0xF9, 0x00}},  // Y` y`
    {U'\u1EF6', 1, {0xFA, 0x00}}, {U'\u1EF7', 1, {0xFA, 0x00}},  // Y? y?
    {U'\u1EF8', 1, {0xFB, 0x00}}, {U'\u1EF9', 1, {0xFB, 0x00}},  // Y~ y~
    {U'\u1EF4', 1, {0xFF, 0x00}}, {U'\u1EF5', 1, {0xFF, 0x00}},  // Y. y.
}};
inline constexpr std::array<unsigned char, 19> vietware_f_kept_cp1252{
    0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A,
    0x8B, 0x8C, 0x8E, 0x91, 0x92, 0x93, 0x94, 0x95, 0x9E};

// VietWare-X: the shaped vowels, dd and the toned i are single bytes; the rest a base letter
// and a tone byte, whose dot below differs under o (0xDC, 0xFC) and y (0xD1, 0xF1).
inline constexpr SpellingTable vietware_x_spellings{{
    {U'\u00C1', 2, {0x41, 0xCF}}, {U'\u00E1', 2, {0x61, 0xEF}},  // A' a'
    {U'\u00C0', 2, {0x41, 0xCC}}, {U'\u00E0', 2, {0x61, 0xEC}},  // A` a`
    {U'\u1EA2', 2, {0x41, 0xCD}}, {U'\u1EA3', 2, {0x61, 0xED}},  // A? a?
    {U'\u00C3', 2, {0x41, 0xCE}}, {U'\u00E3', 2, {0x61, 0xEE}},  // A~ a~
    {U'\u1EA0', 2, {0x41, 0xDB}}, {U'\u1EA1', 2, {0x61, 0xFB}},  // A. a.
    {U'\u00C2', 1, {0xC1, 0x00}}, {U'\u00E2', 1, {0xE1, 0x00}},  // A^ a^
    {U'\u1EA4', 2, {0xC1, 0xDA}}, {U'\u1EA5', 2, {0xE1, 0xFA}},  // A^' a^'
    {U'\u1EA6', 2, {0xC1, 0xD6}}, {U'\u1EA7', 2, {0xE1, 0xF6}},  // A^` a^`
    {U'\u1EA8', 2, {0xC1, 0xD8}}, {U'\u1EA9', 2, {0xE1, 0xF8}},  // A^? a^?
    {U'\u1EAA', 2, {0xC1, 0xD9}}, {U'\u1EAB', 2, {0xE1, 0xF9}},  // A^~ a^~
    {U'\u1EAC', 2, {0xC1, 0xDB}}, {U'\u1EAD', 2, {0xE1, 0xFB}},  // A^. a^.
    {U'\u0102', 1, {0xC0, 0x00}}, {U'\u0103', 1, {0xE0, 0x00}},  // A( a(
    {U'\u1EAE', 2, {0xC0, 0xD5}}, {U'\u1EAF', 2, {0xE0, 0xF5}},  // A(' a('
    {U'\u1EB0', 2, {0xC0, 0xD2}}, {U'\u1EB1', 2, {0xE0, 0xF2}},  // A(` a(`
    {U'\u1EB2', 2, {0xC0, 0xD3}}, {U'\u1EB3', 2, {0xE0, 0xF3}},  // A(? a(?
    {U'\u1EB4', 2, {0xC0, 0xD4}}, {U'\u1EB5', 2, {0xE0, 0xF4}},  // A(~ a(~
    {U'\u1EB6', 2, {0xC0, 0xDB}}, {U'\u1EB7', 2, {0xE0, 0xFB}},  // A(. a(.
    {U'\u0110', 1, {0xC2, 0x00}}, {U'\u0111', 1, {0xE2, 0x00}},  // DD dd
    {U'\u00C9', 2, {0x45, 0xCF}}, {U'\u00E9', 2, {0x65, 0xEF}},  // E' e'
    {U'\u00C8', 2, {0x45, 0xCC}}, {U'\u00E8', 2, {0x65, 0xEC}},  // E` e`
    {U'\u1EBA', 2, {0x45, 0xCD}}, {U'\u1EBB', 2, {0x65, 0xED}},  // E? e?
    {U'\u1EBC', 2, {0x45, 0xCE}}, {U'\u1EBD', 2, {0x65, 0xEE}},  // E~ e~
    {U'\u1EB8', 2, {0x45, 0xDB}}, {U'\u1EB9', 2, {0x65, 0xFB}},  // E. e.
    {U'\u00CA', 1, {0xC3, 0x00}}, {U'\u00EA', 1, {0xE3, 0x00}},  // E^ e^
    {U'\u1EBE', 2, {0xC3, 0xDA}}, {U'\u1EBF', 2, {0xE3, 0xFA}},  // E^' e^'
    {U'\u1EC0', 2, {0xC3, 0xD6}}, {U'\u1EC1', 2, {0xE3, 0xF6}},  // E^` e^`
    {U'\u1EC2', 2, {0xC3, 0xD8}}, {U'\u1EC3', 2, {0xE3, 0xF8}},  // E^? e^?
    {U'\u1EC4', 2, {0xC3, 0xD9}}, {U'\u1EC5', 2, {0xE3, 0xF9}},  // E^~ e^~
    {U'\u1EC6', 2, {0xC3, 0xDB}}, {U'\u1EC7', 2, {0xE3, 0xFB}},  // E^. e^.
    {U'\u00CD', 1, {0xCA, 0x00}}, {U'\u00ED', 1, {0xEA, 0x00}},  // I' i'
    {U'\u00CC', 1, {0xC7, 0x00}}, {U'\u00EC', 1, {0xE7, 0x00}},  // I` i`
    {U'\u1EC8', 1, {0xC8, 0x00}}, {U'\u1EC9', 1, {0xE8, 0x00}},  // I? i?
    {U'\u0128', 1, {0xC9, 0x00}}, {U'\u0129', 1, {0xE9, 0x00}},  // I~ i~
    {U'\u1ECA', 1, {0xCB, 0x00}}, {U'\u1ECB', 1, {0xEB, 0x00}},  // I. i.
    {U'\u00D3', 2, {0x4F, 0xCF}}, {U'\u00F3', 2, {0x6F, 0xEF}},  // O' o'
    {U'\u00D2', 2, {0x4F, 0xCC}}, {U'\u00F2', 2, {0x6F, 0xEC}},  // O` o`
    {U'\u1ECE', 2, {0x4F, 0xCD}}, {U'\u1ECF', 2, {0x6F, 0xED}},  // O? o?
    {U'\u00D5', 2, {0x4F, 0xCE}}, {U'\u00F5', 2, {0x6F, 0xEE}},  // O~ o~
    {U'\u1ECC', 2, {0x4F, 0xDC}}, {U'\u1ECD', 2, {0x6F, 0xFC}},  // O. o.
    {U'\u00D4', 1, {0xC4, 0x00}}, {U'\u00F4', 1, {0xE4, 0x00}},  // O^ o^
    {U'\u1ED0', 2, {0xC4, 0xDA}}, {U'\u1ED1', 2, {0xE4, 0xFA}},  // O^' o^'
    {U'\u1ED2', 2, {0xC4, 0xD6}}, {U'\u1ED3', 2, {0xE4, 0xF6}},  // O^` o^`
    {U'\u1ED4', 2, {0xC4, 0xD8}}, {U'\u1ED5', 2, {0xE4, 0xF8}},  // O^? o^?
    {U'\u1ED6', 2, {0xC4, 0xD9}}, {U'\u1ED7', 2, {0xE4, 0xF9}},  // O^~ o^~
    {U'\u1ED8', 2, {0xC4, 0xDC}}, {U'\u1ED9', 2, {0xE4, 0xFC}},  // O^. o^.
    {U'\u01A0', 1, {0xC5, 0x00}}, {U'\u01A1', 1, {0xE5, 0x00}},  // O+ o+
    {U'\u1EDA', 2, {0xC5, 0xCF}}, {U'\u1EDB', 2, {0xE5, 0xEF}},  // O+' o+'
    {U'\u1EDC', 2, {0xC5, 0xCC}}, {U'\u1EDD', 2, {0xE5, 0xEC}},  // O+` o+`
    {U'\u1EDE', 2, {0xC5, 0xCD}}, {U'\u1EDF', 2, {0xE5, 0xED}},  // O+? o+?
    {U'\u1EE0', 2, {0xC5, 0xCE}}, {U'\u1EE1', 2, {0xE5, 0xEE}},  // O+~ o+~
    {U'\u1EE2', 2, {0xC5, 0xDC}}, {U'\u1EE3', 2, {0xE5, 0xFC}},  // O+. o+.
    {U'\u00DA', 2, {0x55, 0xCF}}, {U'\u00FA', 2, {0x75, 0xEF}},  // U' u'
    {U'\u00D9', 2, {0x55, 0xCC}}, {U'\u00F9', 2, {0x75, 0xEC}},  // U` u`
    {U'\u1EE6', 2, {0x55, 0xCD}}, {U'\u1EE7', 2, {0x75, 0xED}},  // U? u?
    {U'\u0168', 2, {0x55, 0xCE}}, {U'\u0169', 2, {0x75, 0xEE}},  // U~ u~
    {U'\u1EE4', 2, {0x55, 0xDB}}, {U'\u1EE5', 2, {0x75, 0xFB}},  // U. u.
    {U'\u01AF', 1, {0xC6, 0x00}}, {U'\u01B0', 1, {0xE6, 0x00}},  // U+ u+
    {U'\u1EE8', 2, {0xC6, 0xCF}}, {U'\u1EE9', 2, {0xE6, 0xEF}},  // U+' u+'
    {U'\u1EEA', 2, {0xC6, 0xCC}}, {U'\u1EEB', 2, {0xE6, 0xEC}},  // U+` u+`
    {U'\u1EEC', 2, {0xC6, 0xCD}}, {U'\u1EED', 2, {0xE6, 0xED}},  // U+? u+?
    {U'\u1EEE', 2, {0xC6, 0xCE}}, {U'\u1EEF', 2, {0xE6, 0xEE}},  // U+~ u+~
    {U'\u1EF0', 2, {0xC6, 0xDB}}, {U'\u1EF1', 2, {0xE6, 0xFB}},  // U+. u+.
    {U'\u00DD', 2, {0x59, 0xCF}}, {U'\u00FD', 2, {0x79, 0xEF}},  // Y' y'
    {U'\u1EF2', 2, {0x59, 0xCC}}, {U'\u1EF3', 2, {0x79, 0xEC}},  // Y` y`
    {U'\u1EF6', 2, {0x59, 0xCD}}, {U'\u1EF7', 2, {0x79, 0xED}},  // Y? y?
    {U'\u1EF8', 2, {0x59, 0xCE}}, {U'\u1EF9', 2, {0x79, 0xEE}},  // Y~ y~
    {U'\u1EF4', 2, {0x59, 0xD1}}, {U'\u1EF5', 2, {0x79, 0xF1}},  // Y. y.
}};
inline constexpr std::array<unsigned char, 27> vietware_x_kept_cp1252{
    0x80, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x8B, 0x8C, 0x8E, 0x91,
    0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0x9B, 0x9C, 0x9E, 0x9F};

// The Windows-1252 characters of bytes 0x80..0x9F.
// clang-format off
inline constexpr std::array<char32_t, 32> cp1252_high{{
    0x20AC, kNoCharacter, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, kNoCharacter, 0x017D, kNoCharacter,  // 88
    kNoCharacter, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, kNoCharacter, 0x017E, 0x0178,  // 98
}};
// clang-format on

namespace detail {

template <std::size_t N>
constexpr std::uint32_t cp1252_mask(const std::array<unsigned char, N>& bytes) {
    std::uint32_t mask = 0;
    for (unsigned char b : bytes) mask |= std::uint32_t{1} << (b - 0x80);
    return mask;
}

}  // namespace detail

// An encoding with a spelling table. Bit b - 0x80 of kept_cp1252 is set when byte b is its
// Windows-1252 character in that encoding.
struct SpelledEncoding {
    const char* name;
    const SpellingTable* spellings;
    std::uint32_t kept_cp1252;
};

constexpr bool keeps_cp1252(const SpelledEncoding& encoding, unsigned char b) {
    return b >= 0x80 && b < 0xA0 && (encoding.kept_cp1252 >> (b - 0x80) & 1) != 0;
}

inline constexpr std::array<SpelledEncoding, 6> spelled_encodings{{
    {"TCVN3", &tcvn3_spellings, detail::cp1252_mask(tcvn3_kept_cp1252)},
    {"VNI-Win", &vni_win_spellings, detail::cp1252_mask(vni_win_kept_cp1252)},
    {"VNI-Mac", &vni_mac_spellings, detail::cp1252_mask(vni_mac_kept_cp1252)},
    {"BK HCM 2", &bkhcm2_spellings, detail::cp1252_mask(bkhcm2_kept_cp1252)},
    {"VietWare-F", &vietware_f_spellings, detail::cp1252_mask(vietware_f_kept_cp1252)},
    {"VietWare-X", &vietware_x_spellings, detail::cp1252_mask(vietware_x_kept_cp1252)},
}};

// Windows-1258: byte -> character. 0xCC, 0xEC, 0xD2, 0xDE and 0xF2 are combining tone marks
// (U+0300 grave, U+0301 acute, U+0309 hook above, U+0303 tilde, U+0323 dot below); a letter
// is a precomposed byte or a base byte followed by one of them, and some letters can be
// both (a` is 0xE0 or 0x61 0xCC).
// clang-format off
inline constexpr std::array<char32_t, 256> cp1258_bytes{{
    0x0000, 0x0001, 0x0002, 0x0003, 0x0004, 0x0005, 0x0006, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 08
    0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x0015, 0x0016, 0x0017,  // 10
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 78
    0x20AC, kNoCharacter, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, kNoCharacter, 0x2039, 0x0152, kNoCharacter, kNoCharacter, kNoCharacter,  // 88
    kNoCharacter, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, kNoCharacter, 0x203A, 0x0153, kNoCharacter, kNoCharacter, 0x0178,  // 98
    0x00A0, 0x00A1, 0x00A2, 0x00A3, 0x00A4, 0x00A5, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x00AA, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x00AF,  // A8
    0x00B0, 0x00B1, 0x00B2, 0x00B3, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x00B9, 0x00BA, 0x00BB, 0x00BC, 0x00BD, 0x00BE, 0x00BF,  // B8
    0x00C0, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x00C5, 0x00C6, 0x00C7,  // C0
    0x00C8, 0x00C9, 0x00CA, 0x00CB, 0x0300, 0x00CD, 0x00CE, 0x00CF,  // C8
    0x0110, 0x00D1, 0x0309, 0x00D3, 0x00D4, 0x01A0, 0x00D6, 0x00D7,  // D0
    0x00D8, 0x00D9, 0x00DA, 0x00DB, 0x00DC, 0x01AF, 0x0303, 0x00DF,  // D8
    0x00E0, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x00E5, 0x00E6, 0x00E7,  // E0
    0x00E8, 0x00E9, 0x00EA, 0x00EB, 0x0301, 0x00ED, 0x00EE, 0x00EF,  // E8
    0x0111, 0x00F1, 0x0323, 0x00F3, 0x00F4, 0x01A1, 0x00F6, 0x00F7,  // F0
    0x00F8, 0x00F9, 0x00FA, 0x00FB, 0x00FC, 0x01B0, 0x20AB, 0x00FF,  // F8
}};
// clang-format on

// TCVN 5712:1993 VN1: byte -> character. Every one of the 134 letters is a byte: TCVN3's 74
// letter bytes are the same letters here, and the capitals TCVN3 lacks sit at 0x01, 0x02,
// 0x04..0x06, 0x11..0x17, 0x80..0x9F and 0xFF. 0xB0..0xB4 are combining tone marks (U+0300,
// U+0309, U+0303, U+0301, U+0323), which glibc composes with the letter before them.
// clang-format off
inline constexpr std::array<char32_t, 256> vn1_bytes{{
    0x0000, 0x00DA, 0x1EE4, 0x0003, 0x1EEA, 0x1EEC, 0x1EEE, 0x0007,  // 00
    0x0008, 0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x000E, 0x000F,  // 08
    0x0010, 0x1EE8, 0x1EF0, 0x1EF2, 0x1EF6, 0x1EF8, 0x00DD, 0x1EF4,  // 10
    0x0018, 0x0019, 0x001A, 0x001B, 0x001C, 0x001D, 0x001E, 0x001F,  // 18
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 20
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 28
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 30
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 38
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 40
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 48
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 50
    0x0058, 0x0059, 0x005A, 0x005B, 0x005C, 0x005D, 0x005E, 0x005F,  // 58
    0x0060, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 60
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 68
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 70
    0x0078, 0x0079, 0x007A, 0x007B, 0x007C, 0x007D, 0x007E, 0x007F,  // 78
    0x00C0, 0x1EA2, 0x00C3, 0x00C1, 0x1EA0, 0x1EB6, 0x1EAC, 0x00C8,  // 80
    0x1EBA, 0x1EBC, 0x00C9, 0x1EB8, 0x1EC6, 0x00CC, 0x1EC8, 0x0128,  // 88
    0x00CD, 0x1ECA, 0x00D2, 0x1ECE, 0x00D5, 0x00D3, 0x1ECC, 0x1ED8,  // 90
    0x1EDC, 0x1EDE, 0x1EE0, 0x1EDA, 0x1EE2, 0x00D9, 0x1EE6, 0x0168,  // 98
    0x00A0, 0x0102, 0x00C2, 0x00CA, 0x00D4, 0x01A0, 0x01AF, 0x0110,  // A0
    0x0103, 0x00E2, 0x00EA, 0x00F4, 0x01A1, 0x01B0, 0x0111, 0x1EB0,  // A8
    0x0300, 0x0309, 0x0303, 0x0301, 0x0323, 0x00E0, 0x1EA3, 0x00E3,  // B0
    0x00E1, 0x1EA1, 0x1EB2, 0x1EB1, 0x1EB3, 0x1EB5, 0x1EAF, 0x1EB4,  // B8
    0x1EAE, 0x1EA6, 0x1EA8, 0x1EAA, 0x1EA4, 0x1EC0, 0x1EB7, 0x1EA7,  // C0
    0x1EA9, 0x1EAB, 0x1EA5, 0x1EAD, 0x00E8, 0x1EC2, 0x1EBB, 0x1EBD,  // C8
    0x00E9, 0x1EB9, 0x1EC1, 0x1EC3, 0x1EC5, 0x1EBF, 0x1EC7, 0x00EC,  // D0
    0x1EC9, 0x1EC4, 0x1EBE, 0x1ED2, 0x0129, 0x00ED, 0x1ECB, 0x00F2,  // D8
    0x1ED4, 0x1ECF, 0x00F5, 0x00F3, 0x1ECD, 0x1ED3, 0x1ED5, 0x1ED7,  // E0
    0x1ED1, 0x1ED9, 0x1EDD, 0x1EDF, 0x1EE1, 0x1EDB, 0x1EE3, 0x00F9,  // E8
    0x1ED6, 0x1EE7, 0x0169, 0x00FA, 0x1EE5, 0x1EEB, 0x1EED, 0x1EEF,  // F0
    0x1EE9, 0x1EF1, 0x1EF3, 0x1EF7, 0x1EF9, 0x00FD, 0x1EF5, 0x1ED0,  // F8
}};
// clang-format on

// The combining tone marks in the letter table's tone order: acute, grave, hook above,
// tilde, dot below.
inline constexpr std::array<char32_t, 5> combining_tones{0x0301, 0x0300, 0x0309, 0x0303, 0x0323};
inline constexpr std::array<unsigned char, 5> cp1258_tone_bytes{0xEC, 0xCC, 0xD2, 0xDE, 0xF2};
inline constexpr std::array<unsigned char, 5> vn1_tone_bytes{0xB3, 0xB0, 0xB1, 0xB2, 0xB4};

namespace detail {

constexpr int byte_of(const std::array<char32_t, 256>& bytes, char32_t c) {
    for (int b = 0; b < 256; ++b)
        if (bytes[std::size_t(b)] == c) return b;
    return -1;
}

// The letter's spelling with the fewest bytes, as glibc writes it: its own byte, else the
// byte of the letter without its tone (or the ASCII vowel) followed by the tone's mark byte.
// A letter with neither is {c, 0, {0, 0}}.
constexpr Spelling shortest_spelling(const std::array<char32_t, 256>& bytes,
                                     const std::array<unsigned char, 5>& tone_bytes,
                                     std::size_t position) {
    const char32_t c = letter_code_points[position];
    if (const int b = byte_of(bytes, c); b >= 0) return {c, 1, {(unsigned char)(b), 0}};
    const LetterName& name = letter_names[position];
    const std::size_t size = name.size();
    int tone = -1;
    for (std::size_t t = 0; t < 5; ++t)
        if (name.text[size - 1] == kToneMarks[t]) tone = int(t);
    if (tone < 0) return {c, 0, {0, 0}};
    char32_t base = char32_t(name.text[0]);
    if (size == 3)
        for (std::size_t q = 0; q < kLetterCount; ++q)
            if (letter_names[q].size() == 2 && letter_names[q].text[0] == name.text[0] &&
                letter_names[q].text[1] == name.text[1])
                base = letter_code_points[q];
    const int b = byte_of(bytes, base);
    if (b < 0) return {c, 0, {0, 0}};
    return {c, 2, {(unsigned char)(b), tone_bytes[std::size_t(tone)]}};
}

constexpr SpellingTable shortest_spellings(const std::array<char32_t, 256>& bytes,
                                           const std::array<unsigned char, 5>& tone_bytes) {
    SpellingTable out{};
    for (std::size_t r = 0; r < kLetterCount; ++r)
        out[r] = shortest_spelling(bytes, tone_bytes, spelling_positions[r]);
    return out;
}

}  // namespace detail

// Windows-1258 and VN1 written with the fewest bytes, in the spelling order. VN1 has a byte
// for every letter; Windows-1258 has one for 30 of them and spells the rest with a mark byte.
inline constexpr SpellingTable cp1258_spellings =
    detail::shortest_spellings(cp1258_bytes, cp1258_tone_bytes);
inline constexpr SpellingTable vn1_spellings =
    detail::shortest_spellings(vn1_bytes, vn1_tone_bytes);

namespace detail {

constexpr bool same_spelling(const Spelling& a, const Spelling& b) {
    return a.size == b.size && a.bytes[0] == b.bytes[0] && a.bytes[1] == b.bytes[1];
}

constexpr bool in_spelling_order(const SpellingTable& t) {
    for (std::size_t r = 0; r < kLetterCount; ++r)
        if (t[r].character != letter_code_points[spelling_positions[r]]) return false;
    return true;
}

constexpr bool is_one_byte_letter(const SpellingTable& t, unsigned char b) {
    for (const Spelling& s : t)
        if (s.size == 1 && s.bytes[0] == b) return true;
    return false;
}

constexpr bool is_ascii_letter(unsigned char b) {
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

// One byte from 0x80 up, or a base (an ASCII letter or a one-byte letter) and a mark byte
// from 0x80 up.
constexpr bool well_formed(const SpellingTable& t) {
    for (const Spelling& s : t) {
        if (s.size == 1) {
            if (s.bytes[0] < 0x80 || s.bytes[1] != 0) return false;
        } else if (s.size == 2) {
            if (s.bytes[1] < 0x80) return false;
            if (!is_ascii_letter(s.bytes[0]) && !is_one_byte_letter(t, s.bytes[0])) return false;
        } else {
            return false;
        }
    }
    return true;
}

// No two letters share a spelling, except a capital with its small letter, the row after it.
constexpr bool spells_apart(const SpellingTable& t) {
    for (std::size_t i = 0; i < kLetterCount; ++i)
        for (std::size_t j = i + 1; j < kLetterCount; ++j)
            if (same_spelling(t[i], t[j]) && !(i % 2 == 0 && j == i + 1)) return false;
    return true;
}

constexpr std::size_t capitals_without_own_spelling(const SpellingTable& t) {
    std::size_t n = 0;
    for (std::size_t r = 0; r < kLetterCount; r += 2) n += same_spelling(t[r], t[r + 1]);
    return n;
}

constexpr bool has_own_spelling(const SpellingTable& t, char32_t capital) {
    for (std::size_t r = 0; r < kLetterCount; r += 2)
        if (t[r].character == capital) return !same_spelling(t[r], t[r + 1]);
    return false;
}

constexpr std::size_t distinct_spellings(const SpellingTable& t) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < kLetterCount; ++i) {
        bool first = true;
        for (std::size_t j = 0; j < i; ++j) first = first && !same_spelling(t[i], t[j]);
        n += first;
    }
    return n;
}

constexpr bool one_byte_within(const SpellingTable& t, unsigned char first, unsigned char last) {
    for (const Spelling& s : t)
        if (s.size != 1 || s.bytes[0] < first || s.bytes[0] > last) return false;
    return true;
}

// No mark byte is also a letter by itself, so a reader matching the longest spelling never
// has to choose between the two; a one-byte letter may still begin a two-byte spelling.
constexpr bool marks_apart_from_letters(const SpellingTable& t) {
    for (const Spelling& s : t)
        if (s.size == 2 && is_one_byte_letter(t, s.bytes[1])) return false;
    return true;
}

// Whether a capital with its own spelling is its small letter's bytes, each less 0x20.
constexpr bool follows_small_less_0x20(const Spelling& capital, const Spelling& small) {
    if (capital.size != small.size) return false;
    for (std::size_t k = 0; k < capital.size; ++k)
        if (capital.bytes[k] + 0x20 != small.bytes[k]) return false;
    return true;
}

// The capitals with their own spelling that do not follow their small letter less 0x20:
// how many, and the first of them (0 when none).
constexpr std::size_t capitals_off_pattern(const SpellingTable& t) {
    std::size_t n = 0;
    for (std::size_t r = 0; r < kLetterCount; r += 2)
        n += !same_spelling(t[r], t[r + 1]) && !follows_small_less_0x20(t[r], t[r + 1]);
    return n;
}
constexpr char32_t first_capital_off_pattern(const SpellingTable& t) {
    for (std::size_t r = 0; r < kLetterCount; r += 2)
        if (!same_spelling(t[r], t[r + 1]) && !follows_small_less_0x20(t[r], t[r + 1]))
            return t[r].character;
    return 0;
}

// Every one-byte spelling reads as its letter in `bytes`, or as its small letter when it is a
// capital without a spelling of its own.
constexpr bool reads_as(const SpellingTable& t, const std::array<char32_t, 256>& bytes) {
    for (std::size_t r = 0; r < kLetterCount; ++r) {
        if (t[r].size != 1) return false;
        const char32_t c = bytes[t[r].bytes[0]];
        const bool shared = r % 2 == 0 && same_spelling(t[r], t[r + 1]);
        if (c != (shared ? t[r + 1].character : t[r].character)) return false;
    }
    return true;
}

constexpr bool uses_byte(const SpellingTable& t, unsigned char b) {
    for (const Spelling& s : t)
        if (s.bytes[0] == b || (s.size == 2 && s.bytes[1] == b)) return true;
    return false;
}

// The encoding keeps exactly the Windows-1252 bytes that it spells no letter with.
constexpr bool keeps_every_free_cp1252_byte(const SpelledEncoding& e) {
    for (unsigned b = 0x80; b < 0xA0; ++b) {
        const bool free = cp1252_high[b - 0x80] != kNoCharacter && !uses_byte(*e.spellings, b);
        if (keeps_cp1252(e, (unsigned char)(b)) != free) return false;
    }
    return true;
}

constexpr std::size_t undefined_bytes(const std::array<char32_t, 256>& bytes) {
    std::size_t n = 0;
    for (char32_t c : bytes) n += c == kNoCharacter;
    return n;
}

// The combining marks of the table are the five tones, at their tone bytes.
constexpr bool combining_only_at(const std::array<char32_t, 256>& bytes,
                                 const std::array<unsigned char, 5>& tone_bytes) {
    for (std::size_t t = 0; t < 5; ++t)
        if (bytes[tone_bytes[t]] != combining_tones[t]) return false;
    std::size_t marks = 0;
    for (char32_t c : bytes) marks += c >= 0x300 && c < 0x370;
    return marks == 5;
}

constexpr bool ascii_below_0x80(const std::array<char32_t, 256>& bytes) {
    for (unsigned b = 0; b < 0x80; ++b)
        if (bytes[b] != b) return false;
    return true;
}

// Windows-1258 has the Windows-1252 punctuation at 0x80..0x9F, without S and Z with caron.
constexpr bool cp1258_high_is_cp1252_without_carons() {
    for (unsigned b = 0x80; b < 0xA0; ++b) {
        const bool caron = b == 0x8A || b == 0x8E || b == 0x9A || b == 0x9E;
        if (cp1258_bytes[b] != (caron ? kNoCharacter : cp1252_high[b - 0x80])) return false;
    }
    return true;
}

constexpr std::size_t one_byte_spellings(const SpellingTable& t) {
    std::size_t n = 0;
    for (const Spelling& s : t) n += s.size == 1;
    return n;
}

}  // namespace detail

// What the tables are known to hold; a mistyped byte breaks one of these.
static_assert([] {
    for (const SpelledEncoding& e : spelled_encodings) {
        const SpellingTable& t = *e.spellings;
        if (!detail::in_spelling_order(t) || !detail::well_formed(t) || !detail::spells_apart(t) ||
            !detail::marks_apart_from_letters(t))
            return false;
    }
    for (const SpellingTable* t : {&cp1258_spellings, &vn1_spellings})
        if (!detail::in_spelling_order(*t) || !detail::spells_apart(*t) ||
            detail::capitals_without_own_spelling(*t) != 0)
            return false;
    return detail::well_formed(cp1258_spellings) &&
           detail::marks_apart_from_letters(cp1258_spellings);
}());

// TCVN3: 67 small letters and 7 capitals, A( A^ E^ O^ O+ U+ DD, each a byte of 0xA1..0xFE
// (0xA0 is the no-break space); VN1 reads those 74 bytes as the same letters.
static_assert(detail::one_byte_within(tcvn3_spellings, 0xA1, 0xFE));
static_assert(detail::distinct_spellings(tcvn3_spellings) == 74);
static_assert(detail::capitals_without_own_spelling(tcvn3_spellings) == 60);
static_assert(detail::has_own_spelling(tcvn3_spellings, 0x0102) &&
              detail::has_own_spelling(tcvn3_spellings, 0x00C2) &&
              detail::has_own_spelling(tcvn3_spellings, 0x00CA) &&
              detail::has_own_spelling(tcvn3_spellings, 0x00D4) &&
              detail::has_own_spelling(tcvn3_spellings, 0x01A0) &&
              detail::has_own_spelling(tcvn3_spellings, 0x01AF) &&
              detail::has_own_spelling(tcvn3_spellings, 0x0110));
static_assert(detail::reads_as(tcvn3_spellings, vn1_bytes));

// VietWare-F has TCVN3's capitals: the same 60 shown only by a capitals font.
static_assert(detail::one_byte_within(vietware_f_spellings, 0x80, 0xFF));
static_assert(detail::capitals_without_own_spelling(vietware_f_spellings) == 60);
static_assert(detail::distinct_spellings(vietware_f_spellings) == 74);

// The two-byte encodings give every capital a spelling of its own. In VNI for Windows and
// VietWare-X every capital is its small letter less 0x20, byte for byte, base and mark; in
// BK HCM 2 all but E^. (0xCF 0xE5): its mark byte is the small letters' dot below where the
// pattern, and every other dotted capital, has 0xC5. VNI for Mac follows Mac OS Roman's
// order instead.
static_assert(detail::capitals_without_own_spelling(vni_win_spellings) == 0 &&
              detail::capitals_without_own_spelling(vni_mac_spellings) == 0 &&
              detail::capitals_without_own_spelling(bkhcm2_spellings) == 0 &&
              detail::capitals_without_own_spelling(vietware_x_spellings) == 0);
static_assert(detail::capitals_off_pattern(vni_win_spellings) == 0);
static_assert(detail::capitals_off_pattern(vietware_x_spellings) == 0);
static_assert(detail::capitals_off_pattern(bkhcm2_spellings) == 1 &&
              detail::first_capital_off_pattern(bkhcm2_spellings) == 0x1EC6);
static_assert(detail::one_byte_spellings(vni_win_spellings) == 18 &&
              detail::one_byte_spellings(vni_mac_spellings) == 18 &&
              detail::one_byte_spellings(bkhcm2_spellings) == 24 &&
              detail::one_byte_spellings(vietware_x_spellings) == 24);

// The Windows punctuation an encoding keeps is every Windows-1252 character at a byte that
// spells no letter there; VNI for Mac, a Mac OS Roman encoding, keeps none.
static_assert([] {
    // By name: comparing the addresses of two tables is no constant expression to every
    // compiler (GCC's debug builds refuse it).
    for (const SpelledEncoding& e : spelled_encodings)
        if (std::string_view(e.name) == "VNI-Mac" ? e.kept_cp1252 != 0
                                                  : !detail::keeps_every_free_cp1252_byte(e))
            return false;
    return true;
}());

// Windows-1258 leaves 9 bytes undefined, VN1 none; each has the five tones as combining
// marks and nothing else combining.
static_assert(detail::undefined_bytes(cp1258_bytes) == 9 &&
              detail::undefined_bytes(vn1_bytes) == 0);
static_assert(detail::ascii_below_0x80(cp1258_bytes));
static_assert(detail::cp1258_high_is_cp1252_without_carons());
static_assert(detail::combining_only_at(cp1258_bytes, cp1258_tone_bytes));
static_assert(detail::combining_only_at(vn1_bytes, vn1_tone_bytes));
// VN1 spells every letter with a byte of its own, some of them control bytes (0x01..0x17).
static_assert(detail::one_byte_spellings(vn1_spellings) == kLetterCount);
static_assert(detail::one_byte_spellings(cp1258_spellings) == 30);
}  // namespace toneshift
