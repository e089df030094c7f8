// The data that drive letter composition: the class of every byte, what each letter state
// accepts, what a mark does to it, and the VISCII byte of every letter with every tone.
// Internal to the decoder (and its tests); callers use viqr_decoder.h.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "viqr/decoder/contexts.h"

namespace toneshift {

// Class codes: 0 no role, 1..28 letters (the code is also the letter state a composition
// starts in), 29..33 tone marks, 34..36 shape marks.
inline constexpr std::uint8_t kClassNone = 0;
inline constexpr std::uint8_t kFirstLetterClass = 1;
inline constexpr std::uint8_t kLastLetterClass = 28;
inline constexpr std::uint8_t kFirstToneClass = 29;
inline constexpr std::uint8_t kLastToneClass = 33;
inline constexpr std::uint8_t kFirstShapeClass = 34;
inline constexpr std::uint8_t kLastShapeClass = 36;
inline constexpr std::size_t kClassCount = 37;

// Letter states 0..28; 0 stands for no letter. 5 and 19 (the d with stroke) have no
// character of their own: only the stroke reaches them.
inline constexpr std::size_t kLetterStateCount = 29;
inline constexpr std::uint8_t kStateCapitalDStroke = 5;
inline constexpr std::uint8_t kStateSmallDStroke = 19;

// Tone columns of composed_letter: 0 none, 1 acute, 2 grave, 3 hook above, 4 tilde, 5 dot.
inline constexpr std::size_t kToneColumnCount = 6;

// Mark bits, shared by allowed_marks and mark_bits.
inline constexpr std::uint8_t kMarkTone = 0x07;  // tone column, or "any tone" when allowed
inline constexpr std::uint8_t kMarkBreve = 0x08;
inline constexpr std::uint8_t kMarkCircumflex = 0x10;
inline constexpr std::uint8_t kMarkHorn = 0x20;
inline constexpr std::uint8_t kMarkStroke = 0x40;

// The marks each letter state accepts, by letter state.
inline constexpr std::array<std::uint8_t, kLetterStateCount> allowed_marks{
    0x00,                                      // 0 no letter
    0x40, 0x1F, 0x07, 0x07, 0x00, 0x17, 0x07,  // 1 D, A, A(, A^, DD, E, I
    0x07, 0x37, 0x27, 0x07, 0x07, 0x07, 0x07,  // 8 E^, O, U, O^, O+, U+, Y
    0x40, 0x1F, 0x07, 0x07, 0x00, 0x17, 0x07,  // 15 d, a, a(, a^, dd, e, i
    0x07, 0x37, 0x27, 0x07, 0x07, 0x07, 0x07,  // 22 e^, o, u, o^, o+, u+, y
};

// What a character of each class adds as a mark, by class code.
inline constexpr std::array<std::uint8_t, kClassCount> mark_bits{
    0x00,                                                     // 0 no role
    0x40, 0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0,  // 1 D .. 14 Y
    0x40, 0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0,  // 15 d .. 28 y
    0x01, 0x02, 0x03, 0x04, 0x05,                             // 29..33 tones
    0x08, 0x10, 0x20,                                         // 34..36 shapes
};

// How far an accepted mark of each class moves the letter state, by class code.
inline constexpr std::array<std::uint8_t, kClassCount> state_step{
    0,                                         // 0 no role
    4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 1 D .. 14 Y
    4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 15 d .. 28 y
    0, 0, 0, 0, 0,                             // 29..33 tones
    1, 2, 3,                                   // 34..36 breve, circumflex, horn
};

// The VISCII byte of each letter state (row) with each tone column; letter state s and tone
// column t are at s * 6 + t.
inline constexpr std::array<std::uint8_t, kLetterStateCount * kToneColumnCount> composed_letter{
    // none  acute grave hook  tilde dot
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // 0 (none)
    0x44, 0x00, 0x00, 0x00, 0x00, 0x00,  // 1 D
    0x41, 0xC1, 0xC0, 0xC4, 0xC3, 0x80,  // 2 A
    0xC5, 0x81, 0x82, 0x02, 0x05, 0x83,  // 3 A(
    0xC2, 0x84, 0x85, 0x86, 0x06, 0x87,  // 4 A^
    0xD0, 0x00, 0x00, 0x00, 0x00, 0x00,  // 5 DD
    0x45, 0xC9, 0xC8, 0xCB, 0x88, 0x89,  // 6 E
    0x49, 0xCD, 0xCC, 0x9B, 0xCE, 0x98,  // 7 I
    0xCA, 0x8A, 0x8B, 0x8C, 0x8D, 0x8E,  // 8 E^
    0x4F, 0xD3, 0xD2, 0x99, 0xA0, 0x9A,  // 9 O
    0x55, 0xDA, 0xD9, 0x9C, 0x9D, 0x9E,  // 10 U
    0xD4, 0x8F, 0x90, 0x91, 0x92, 0x93,  // 11 O^
    0xB4, 0x95, 0x96, 0x97, 0xB3, 0x94,  // 12 O+
    0xBF, 0xBA, 0xBB, 0xBC, 0xFF, 0xB9,  // 13 U+
    0x59, 0xDD, 0x9F, 0x14, 0x19, 0x1E,  // 14 Y
    0x64, 0x00, 0x00, 0x00, 0x00, 0x00,  // 15 d
    0x61, 0xE1, 0xE0, 0xE4, 0xE3, 0xD5,  // 16 a
    0xE5, 0xA1, 0xA2, 0xC6, 0xC7, 0xA3,  // 17 a(
    0xE2, 0xA4, 0xA5, 0xA6, 0xE7, 0xA7,  // 18 a^
    0xF0, 0x00, 0x00, 0x00, 0x00, 0x00,  // 19 dd
    0x65, 0xE9, 0xE8, 0xEB, 0xA8, 0xA9,  // 20 e
    0x69, 0xED, 0xEC, 0xEF, 0xEE, 0xB8,  // 21 i
    0xEA, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE,  // 22 e^
    0x6F, 0xF3, 0xF2, 0xF6, 0xF5, 0xF7,  // 23 o
    0x75, 0xFA, 0xF9, 0xFC, 0xFB, 0xF8,  // 24 u
    0xF4, 0xAF, 0xB0, 0xB1, 0xB2, 0xB5,  // 25 o^
    0xBD, 0xBE, 0xB6, 0xB7, 0xDE, 0xFE,  // 26 o+
    0xDF, 0xD1, 0xD7, 0xD8, 0xE6, 0xF1,  // 27 u+
    0x79, 0xFD, 0xCF, 0xD6, 0xDB, 0xDC,  // 28 y
};

// The default character of each class code; 0 where a code has none (0 itself, and the
// d with stroke, 5 and 19).
inline constexpr std::array<unsigned char, kClassCount> default_class_chars{
    0x00,                                    // 0 no role
    'D',  'A', 0xC5, 0xC2, 0x00, 'E',  'I',  // 1..7
    0xCA, 'O', 'U',  0xD4, 0xB4, 0xBF, 'Y',  // 8..14
    'd',  'a', 0xE5, 0xE2, 0x00, 'e',  'i',  // 15..21
    0xEA, 'o', 'u',  0xF4, 0xBD, 0xDF, 'y',  // 22..28
    '\'', '`', '?',  '~',  '.',              // 29..33 tone marks
    '(',  '^', '+',                          // 34..36 shape marks
};

// Mark slots of a record's mark_chars: breve, circumflex, horn, acute, grave, hook above,
// tilde, dot below. The default characters, as one string in slot order:
inline constexpr char default_mark_chars[] = "(^+'`?~.";
inline constexpr std::size_t kMarkSlotCount = 8;
inline constexpr std::array<std::uint8_t, kMarkSlotCount> mark_slot_class{34, 35, 36, 29,
                                                                          30, 31, 32, 33};

// The class tables, indexed by byte value, shared by every context and record. Both are all
// zero until the first build; active_class_table is what composition reads, and it differs
// from default_class_table only where viqr_set_mark has moved a mark since the last build.
inline constexpr auto& default_class_table = detail::storage.default_class_table;
inline constexpr auto& active_class_table = detail::storage.active_class_table;

// Resets default_class_table to the default codes and copies it into active_class_table,
// discarding every change of mark.
void build_class_tables() noexcept;

namespace detail {
// False only while active_class_table is the default table, built: then the decoder's vector
// sets are the ones made at compile time. True before the first build and after a mark moves.
[[gnu::visibility("hidden")]] extern std::atomic<bool> class_table_changed;
}  // namespace detail

namespace detail {

constexpr bool is_letter_class(unsigned k) {
    return k >= kFirstLetterClass && k <= kLastLetterClass;
}
// Whether each class code is a letter, as a table the per-byte step indexes in place of the
// range test (one entry for every byte value, though no class code reaches kClassCount).
inline constexpr auto letter_class_flags = [] {
    std::array<bool, 256> flags{};
    for (unsigned k = 0; k < flags.size(); ++k) flags[k] = is_letter_class(k);
    return flags;
}();
static_assert(letter_class_flags[kFirstLetterClass] && letter_class_flags[kLastLetterClass] &&
              !letter_class_flags[kClassNone] && !letter_class_flags[kFirstToneClass] &&
              !letter_class_flags[255]);

constexpr bool is_tone_class(unsigned k) {
    return k >= kFirstToneClass && k <= kLastToneClass;
}
constexpr bool is_shape_class(unsigned k) {
    return k >= kFirstShapeClass && k <= kLastShapeClass;
}

constexpr bool tables_are_consistent() {
    // Every byte has at most one default class, and 34 bytes have one.
    int with_code = 0;
    for (std::size_t k = 1; k < kClassCount; ++k) {
        if (default_class_chars[k] == 0) continue;
        ++with_code;
        for (std::size_t j = k + 1; j < kClassCount; ++j)
            if (default_class_chars[j] == default_class_chars[k]) return false;
    }
    if (with_code != 34) return false;
    if (default_class_chars[kStateCapitalDStroke] != 0 ||
        default_class_chars[kStateSmallDStroke] != 0)
        return false;
    // Accepting any mark from any letter state stays within the letter states, and a
    // shape mark or stroke leads to a letter that has a byte of its own.
    for (std::size_t s = 0; s < kLetterStateCount; ++s) {
        for (std::size_t k = 0; k < kClassCount; ++k) {
            if ((mark_bits[k] & allowed_marks[s]) == 0) continue;
            const std::size_t next = s + state_step[k];
            if (next >= kLetterStateCount) return false;
            if (composed_letter[next * kToneColumnCount + (mark_bits[k] & kMarkTone)] == 0)
                return false;
        }
    }
    // Only marks and the D/d carry mark bits; tone marks carry exactly their column.
    for (std::size_t k = 0; k < kClassCount; ++k) {
        const bool dee = k == 1 || k == 15;
        if ((mark_bits[k] & kMarkTone) >= kToneColumnCount) return false;
        if (is_tone_class(unsigned(k)) && mark_bits[k] != k - kFirstToneClass + 1) return false;
        if (!is_tone_class(unsigned(k)) && !is_shape_class(unsigned(k)) && !dee &&
            (mark_bits[k] != 0 || state_step[k] != 0))
            return false;
    }
    // A letter's character is its own row's byte without a tone.
    for (std::size_t k = kFirstLetterClass; k <= kLastLetterClass; ++k)
        if (k != kStateCapitalDStroke && k != kStateSmallDStroke &&
            composed_letter[k * kToneColumnCount] != default_class_chars[k])
            return false;
    // Rows 0, 1, 5, 15 and 19 hold nothing with a tone; row 0 holds nothing at all.
    for (std::size_t s : {0, 1, 5, 15, 19})
        for (std::size_t t = 1; t < kToneColumnCount; ++t)
            if (composed_letter[s * kToneColumnCount + t] != 0) return false;
    if (composed_letter[0] != 0) return false;
    // The mark slots name the default characters of their classes.
    for (std::size_t i = 0; i < kMarkSlotCount; ++i)
        if (default_class_chars[mark_slot_class[i]] !=
            static_cast<unsigned char>(default_mark_chars[i]))
            return false;
    return sizeof(default_mark_chars) == kMarkSlotCount + 1;
}
static_assert(tables_are_consistent());

}  // namespace detail

// What a character of class k does as the first mark of a letter in letter state s, for
// every letter state and every byte value of k: whether the letter accepts it
// (mark_bits[k] AND allowed_marks[s] is not 0), and if so whether it is a shape mark, the
// letter state it leads to (s + state_step[k]) and the composed byte for that state and the
// mark's tone column. Computed from the four tables above, so that the composition looks up
// one entry per mark; indexed by s * 256 + k.
inline constexpr std::uint16_t kFirstMarkAccepted = 0x2000;
inline constexpr std::uint16_t kFirstMarkShape = 0x4000;
inline constexpr unsigned kFirstMarkStateShift = 8;
inline constexpr std::uint16_t kFirstMarkStateMask = 0x1F;

inline constexpr auto first_mark_outcome = [] {
    std::array<std::uint16_t, kLetterStateCount * 256> outcome{};
    for (std::size_t s = 0; s < kLetterStateCount; ++s) {
        for (std::size_t k = 0; k < kClassCount; ++k) {
            if ((mark_bits[k] & allowed_marks[s]) == 0) continue;
            const std::size_t next = s + state_step[k];
            const unsigned r =
                composed_letter[next * kToneColumnCount + (mark_bits[k] & kMarkTone)];
            outcome[s * 256 + k] =
                static_cast<std::uint16_t>(r | next << kFirstMarkStateShift | kFirstMarkAccepted |
                                           (k >= kFirstShapeClass ? kFirstMarkShape : 0));
        }
    }
    return outcome;
}();
static_assert(kLetterStateCount - 1 <= kFirstMarkStateMask);

}  // namespace toneshift
