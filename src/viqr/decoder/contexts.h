// The three decoder context slots. Internal to the decoder (and its tests); callers use
// viqr_decoder.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "viqr/decoder/decoder_types.h"

namespace toneshift::detail {

struct decoder_context {
    std::uint8_t in_use;  // 1 while the slot is open
    std::uint8_t escape_char;
    std::uint8_t erase_char;    // written before a recomposed letter in immediate mode
    std::uint8_t deferred;      // not 0: letters are held back until complete
    std::uint8_t pending_char;  // the letter held in VIQR_HOLDING; 0 when none
    int state;                  // decoder state 0..5
    int resume_state;           // the mode (0 or 1) that states 3 and 5 return to
    viqr_record record;         // the letter being composed
};

inline constexpr std::size_t kContextCount = 3;

// The decoder's process-wide state, all zero at program start. It is one object so that the
// per-byte step reaches the class table and its context from one base address.
struct decoder_storage {
    std::array<std::uint8_t, 256> active_class_table;
    std::array<std::uint8_t, 256> default_class_table;
    // viqr_open leaves resume_state and the record's letter fields as the slot's last user
    // left them.
    std::array<decoder_context, kContextCount> context_slots;
    // Stands for every context number outside 0..2 in the per-byte step: never open, and in
    // a state that is none of the six, so a step on it writes nothing and reports -1. The
    // step needs no test of the number of its own, and a caller's loop selects the slot once.
    decoder_context refused_context{0, 0, 0, 0, 0, -1, 0, {}};
};
// Hidden: inside a shared library it is reached directly, not through the offset table.
[[gnu::visibility("hidden")]] extern decoder_storage storage;

inline constexpr auto& context_slots = storage.context_slots;

// The mode a byte after the escape character selects, or -1 when it is no mode letter.
constexpr int mode_of_letter(unsigned char ch) {
    switch (ch) {
        case 'V':
        case 'v':
            return VIQR_MODE_COMPOSE;
        case 'M':
        case 'm':
            return VIQR_MODE_PASS;
        case 'L':
        case 'l':
            return VIQR_MODE_LITERAL;
        default:
            return -1;
    }
}

constexpr bool is_context(int ctx) {
    return ctx >= 0 && ctx < int(kContextCount);
}

}  // namespace toneshift::detail
