// Test data: the letter and tone of every letter position, copied from the published
// table, as an independent check on everything derived from the table's order.
#pragma once

namespace toneshift::testdata {

struct LetterAndTone {
    const char* letter;  // base and shape, VIQR-style: "a^", "o+", "dd"
    const char* tone;    // "none", "acute", "grave", "hook", "tilde" or "dot"
};

inline constexpr LetterAndTone letters_by_position[134] = {
    {"dd", "none"},  {"DD", "none"},  {"a", "acute"},  {"a", "grave"},  {"a", "hook"},
    {"a", "tilde"},  {"a", "dot"},    {"a^", "none"},  {"a^", "acute"}, {"a^", "grave"},
    {"a^", "hook"},  {"a^", "tilde"}, {"a^", "dot"},   {"a(", "none"},  {"a(", "acute"},
    {"a(", "grave"}, {"a(", "hook"},  {"a(", "tilde"}, {"a(", "dot"},   {"e", "acute"},
    {"e", "grave"},  {"e", "hook"},   {"e", "tilde"},  {"e", "dot"},    {"e^", "none"},
    {"e^", "acute"}, {"e^", "grave"}, {"e^", "hook"},  {"e^", "tilde"}, {"e^", "dot"},
    {"i", "acute"},  {"i", "grave"},  {"i", "hook"},   {"i", "tilde"},  {"i", "dot"},
    {"o", "acute"},  {"o", "grave"},  {"o", "hook"},   {"o", "tilde"},  {"o", "dot"},
    {"o^", "none"},  {"o^", "acute"}, {"o^", "grave"}, {"o^", "hook"},  {"o^", "tilde"},
    {"o^", "dot"},   {"o+", "none"},  {"o+", "acute"}, {"o+", "grave"}, {"o+", "hook"},
    {"o+", "tilde"}, {"o+", "dot"},   {"u", "acute"},  {"u", "grave"},  {"u", "hook"},
    {"u", "tilde"},  {"u", "dot"},    {"u+", "none"},  {"u+", "acute"}, {"u+", "grave"},
    {"u+", "hook"},  {"u+", "tilde"}, {"u+", "dot"},   {"y", "acute"},  {"y", "grave"},
    {"y", "hook"},   {"y", "tilde"},  {"y", "dot"},    {"A", "acute"},  {"A", "grave"},
    {"A", "hook"},   {"A", "tilde"},  {"A", "dot"},    {"A^", "none"},  {"A^", "acute"},
    {"A^", "grave"}, {"A^", "hook"},  {"A^", "tilde"}, {"A^", "dot"},   {"A(", "none"},
    {"A(", "acute"}, {"A(", "grave"}, {"A(", "hook"},  {"A(", "tilde"}, {"A(", "dot"},
    {"E", "acute"},  {"E", "grave"},  {"E", "hook"},   {"E", "tilde"},  {"E", "dot"},
    {"E^", "none"},  {"E^", "acute"}, {"E^", "grave"}, {"E^", "hook"},  {"E^", "tilde"},
    {"E^", "dot"},   {"I", "acute"},  {"I", "grave"},  {"I", "hook"},   {"I", "tilde"},
    {"I", "dot"},    {"O", "acute"},  {"O", "grave"},  {"O", "hook"},   {"O", "tilde"},
    {"O", "dot"},    {"O^", "none"},  {"O^", "acute"}, {"O^", "grave"}, {"O^", "hook"},
    {"O^", "tilde"}, {"O^", "dot"},   {"O+", "none"},  {"O+", "acute"}, {"O+", "grave"},
    {"O+", "hook"},  {"O+", "tilde"}, {"O+", "dot"},   {"U", "acute"},  {"U", "grave"},
    {"U", "hook"},   {"U", "tilde"},  {"U", "dot"},    {"U+", "none"},  {"U+", "acute"},
    {"U+", "grave"}, {"U+", "hook"},  {"U+", "tilde"}, {"U+", "dot"},   {"Y", "acute"},
    {"Y", "grave"},  {"Y", "hook"},   {"Y", "tilde"},  {"Y", "dot"},
};

}  // namespace toneshift::testdata
