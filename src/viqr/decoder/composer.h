// The composition step: one input character applied to a composition record. viqr_compose
// and the stream decoder both run this function; the composition rules live nowhere else.
#pragma once

#include <cstdint>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift::detail {

// What one step yields: the byte to put out, whether a letter is still open (the byte may
// be replaced by the next step's), and whether the byte replaces the previous step's byte.
struct compose_outcome {
    std::uint8_t byte;
    bool held;
    bool composed;
};

// The class of a byte now. The active table only ever holds codes below kClassCount; a
// value outside them counts as no role, so that no lookup can leave its table.
inline unsigned class_of(unsigned char ch) {
    const unsigned k = active_class_table[ch];
    return k < kClassCount ? k : kClassNone;
}

// A letter state outside the table counts as no letter.
inline unsigned bounded_letter_state(std::uint8_t s) {
    return s < kLetterStateCount ? s : 0;
}

inline compose_outcome compose_step(viqr_record& record, unsigned char ch) {
    const unsigned k = class_of(ch);
    if (record.phase == 2) {
        // A shape mark was accepted: only a tone mark may follow.
        record.phase = 0;
        record.mark2_char = ch;
        record.mark2_class = static_cast<std::uint8_t>(k);
        if (is_tone_class(k)) {
            const unsigned s = bounded_letter_state(record.letter_state);
            return {composed_letter[s * kToneColumnCount + (mark_bits[k] & kMarkTone)], false,
                    true};
        }
    } else if (record.phase == 1) {
        // A base letter was read: a shape mark, tone mark or stroke that it accepts.
        record.mark1_char = ch;
        record.mark1_class = static_cast<std::uint8_t>(k);
        const unsigned s = bounded_letter_state(record.letter_state);
        if ((mark_bits[k] & allowed_marks[s]) != 0) {
            // The tables keep s + step within the letter states (checked at compile time).
            const unsigned next = s + state_step[k];
            const bool shape = k >= kFirstShapeClass;
            record.letter_state = static_cast<std::uint8_t>(next);
            record.phase = shape ? 2 : 0;
            return {composed_letter[next * kToneColumnCount + (mark_bits[k] & kMarkTone)], shape,
                    true};
        }
    }
    // No letter open (any phase other than 1 and 2 counts as this), or the character ended
    // the open letter without belonging to it: it may begin the next one.
    record.base_char = ch;
    record.letter_state = static_cast<std::uint8_t>(k);
    const bool letter = is_letter_class(k);
    record.phase = letter ? 1 : 0;
    return {ch, letter, false};
}

}  // namespace toneshift::detail
