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

// All zero at program start; viqr_open leaves resume_state and the record's letter fields
// as the slot's last user left them.
extern std::array<decoder_context, kContextCount> context_slots;

constexpr bool is_context(int ctx) {
    return ctx >= 0 && ctx < int(kContextCount);
}

}  // namespace toneshift::detail
