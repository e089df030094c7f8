// The decoder's constants and its composition record. Part of the interface of
// viqr_decoder.h, which includes it; include that.
#pragma once

#include <cstdint>

namespace toneshift {

// Parameter flags of viqr_get and viqr_set; where several are given, the lowest counts.
inline constexpr int VIQR_STATE = 1;
inline constexpr int VIQR_ESCAPE = 2;
inline constexpr int VIQR_ERASE = 4;
inline constexpr int VIQR_DEFERRED = 8;

// Decoder states: the three modes, then the three states that last until the next byte.
inline constexpr int VIQR_MODE_COMPOSE = 0;
inline constexpr int VIQR_MODE_PASS = 1;
inline constexpr int VIQR_MODE_LITERAL = 2;
inline constexpr int VIQR_AFTER_ESCAPE = 3;
inline constexpr int VIQR_LITERAL_AFTER_ESCAPE = 4;
inline constexpr int VIQR_HOLDING = 5;

// The progress of composing one letter from a base letter and its marks.
struct viqr_record {
    std::uint8_t phase;  // 0 no letter open, 1 base letter read, 2 shape mark accepted
    std::uint8_t base_char;
    std::uint8_t mark1_char;
    std::uint8_t mark2_char;
    std::uint8_t letter_state;
    std::uint8_t mark1_class;
    std::uint8_t mark2_class;
    std::uint8_t mark_chars[8];  // breve, circumflex, horn, acute, grave, hook, tilde, dot
};
static_assert(sizeof(viqr_record) == 15);

}  // namespace toneshift
