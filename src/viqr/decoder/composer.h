// The composition step: one input character applied to a composition record. viqr_compose
// and the stream decoder both run this function; the composition rules live nowhere else.
#pragma once

#include <cstdint>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/decoder_types.h"

namespace toneshift::detail {

// A letter state outside the table counts as no letter.
inline unsigned bounded_letter_state(std::uint8_t s) {
    return s < kLetterStateCount ? s : 0;
}

// Applies ch to the record and reports the outcome to the caller's handler, whose result it
// returns. The four outcomes, with the flags viqr_compose reports for them:
//   handler.no_letter()    held 0, composed 0: ch is neither a letter nor an accepted mark
//                          (an open letter is complete); the byte put out is ch
//   handler.opens()        held 1, composed 0: ch is a letter and opens one (an open letter
//                          is complete); the byte put out is ch
//   handler.shape(r)       held 1, composed 1: a shape mark was added; r may still take a tone
//   handler.finished(r)    held 0, composed 1: a tone mark or the stroke finished letter r
// The handlers let each caller act on the outcome directly, with no flags in between.
template <typename Handler>
inline auto compose_step(viqr_record& record, unsigned char ch, Handler&& handler) {
    // The active table only ever holds class codes below kClassCount; a table indexed by k
    // has an entry for every byte value, or k is tested first, so no value leaves a table.
    const unsigned k = active_class_table[ch];
    const unsigned phase = record.phase;
    if (phase == 1) {
        // A base letter was read: a shape mark, tone mark or stroke that it accepts.
        record.mark1_char = ch;
        record.mark1_class = static_cast<std::uint8_t>(k);
        const unsigned m = first_mark_outcome[bounded_letter_state(record.letter_state) * 256 + k];
        if ((m & kFirstMarkAccepted) != 0) {
            const auto r = static_cast<std::uint8_t>(m);
            record.letter_state =
                static_cast<std::uint8_t>(m >> kFirstMarkStateShift & kFirstMarkStateMask);
            if ((m & kFirstMarkShape) != 0) {
                record.phase = 2;
                return handler.shape(r);
            }
            record.phase = 0;
            return handler.finished(r);
        }
    } else if (phase == 2) {
        // A shape mark was accepted: only a tone mark may follow.
        record.phase = 0;
        record.mark2_char = ch;
        record.mark2_class = static_cast<std::uint8_t>(k);
        if (is_tone_class(k)) {
            const unsigned s = bounded_letter_state(record.letter_state);
            return handler.finished(
                composed_letter[s * kToneColumnCount + (mark_bits[k] & kMarkTone)]);
        }
    }
    // No letter open (any phase other than 1 and 2 counts as this), or ch ended the open
    // letter without belonging to it: it may begin the next one.
    record.base_char = ch;
    record.letter_state = static_cast<std::uint8_t>(k);
    if (is_letter_class(k)) {
        record.phase = 1;
        return handler.opens();
    }
    record.phase = 0;
    return handler.no_letter();
}

}  // namespace toneshift::detail
