// viqr_decode_run: viqr_step over a whole run of input, with the context's fields in locals.
// Compose mode with no letter open and holding a letter in deferred mode, the states that
// nearly every byte of a text meets, run here on the locals with the same composition steps
// as compose_step; every other state and immediate mode take viqr_step itself, one byte at a
// time, on the context brought up to date.
#include <cstddef>
#include <cstdint>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/composer.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

std::size_t viqr_decode_run(int ctx, const unsigned char* in, std::size_t n, unsigned char* out) {
    if (!detail::is_context(ctx)) return 0;  // a step on no context writes nothing
    detail::decoder_context& c = detail::context_slots[std::size_t(ctx)];
    unsigned char* cursor = out;
    std::size_t i = 0;
    if (c.deferred == 0) {
        for (; i < n; ++i) {
            int count = 0;
            viqr_step(ctx, in[i], cursor, &count);
            cursor += count;
        }
        return std::size_t(cursor - out);
    }

    const std::uint8_t* const classes = active_class_table.data();
    const unsigned char escape = c.escape_char;
    int state = c.state;
    int resume = c.resume_state;
    unsigned pending = c.pending_char;
    viqr_record& record = c.record;
    unsigned phase = record.phase;
    unsigned base = record.base_char;
    unsigned mark1 = record.mark1_char, mark1_class = record.mark1_class;
    unsigned mark2 = record.mark2_char, mark2_class = record.mark2_class;
    unsigned letter_state = record.letter_state;

    while (i < n) {
        if (state == VIQR_MODE_COMPOSE && phase == 0) {
            // Compose mode with no letter open: a byte of class 0 is written as it is; the
            // record keeps the last one as its base, in letter state 0.
            const unsigned char* p = in + i;
            const unsigned char* const end = in + n;
            unsigned ch = 0, k = 0;
            while (p != end) {
                ch = *p;
                k = classes[ch];
                if (k != 0 || ch == escape) break;
                *cursor++ = static_cast<unsigned char>(ch);
                ++p;
            }
            if (p != in + i) {
                base = p[-1];
                letter_state = 0;
            }
            i = std::size_t(p - in);
            if (p == end || ch == escape) {
                if (p == end) break;
            } else {
                ++i;
                base = ch;
                letter_state = k;
                if (!detail::letter_class_flags[k]) {  // a mark with no letter open
                    *cursor++ = static_cast<unsigned char>(ch);
                    continue;
                }
                phase = 1;  // opens a letter: held back
                pending = ch;
                resume = VIQR_MODE_COMPOSE;
                state = VIQR_HOLDING;
            }
        }
        if (state == VIQR_HOLDING) {
            // Holding a letter in deferred mode.
            while (i < n) {
                const unsigned ch = in[i];
                const unsigned k = classes[ch];
                ++i;
                if (phase == 1) {
                    mark1 = ch;
                    mark1_class = k;
                    const unsigned m =
                        first_mark_outcome[detail::bounded_letter_state(
                                               static_cast<std::uint8_t>(letter_state)) *
                                               256 +
                                           k];
                    if ((m & kFirstMarkAccepted) != 0) {
                        letter_state = m >> kFirstMarkStateShift & kFirstMarkStateMask;
                        if ((m & kFirstMarkShape) != 0) {  // shape accepted
                            phase = 2;
                            pending = m & 0xFF;
                            continue;
                        }
                        phase = 0;  // finished, in place of the held letter
                        *cursor++ = static_cast<unsigned char>(m);
                        state = resume;
                        break;
                    }
                } else if (phase == 2) {
                    mark2 = ch;
                    mark2_class = k;
                    if (detail::is_tone_class(k)) {  // finished by a tone mark
                        phase = 0;
                        const unsigned s =
                            detail::bounded_letter_state(static_cast<std::uint8_t>(letter_state));
                        *cursor++ =
                            composed_letter[s * kToneColumnCount + (mark_bits[k] & kMarkTone)];
                        state = resume;
                        break;
                    }
                }
                base = ch;
                letter_state = k;
                if (detail::letter_class_flags[k]) {  // the held letter is complete; ch opens one
                    phase = 1;
                    if (pending != 0) *cursor++ = static_cast<unsigned char>(pending);
                    pending = ch;
                    continue;
                }
                phase = 0;  // no letter: only now is the escape character recognised
                if (pending != 0) *cursor++ = static_cast<unsigned char>(pending);
                if (ch == escape) {
                    state = VIQR_AFTER_ESCAPE;
                    break;
                }
                *cursor++ = static_cast<unsigned char>(ch);
                state = resume;
                break;
            }
            continue;
        }
        if (i == n) break;
        // Any other state, or an escape character in compose mode: viqr_step on the context.
        c.state = state;
        c.resume_state = resume;
        c.pending_char = static_cast<std::uint8_t>(pending);
        record.phase = static_cast<std::uint8_t>(phase);
        record.base_char = static_cast<std::uint8_t>(base);
        record.mark1_char = static_cast<std::uint8_t>(mark1);
        record.mark1_class = static_cast<std::uint8_t>(mark1_class);
        record.mark2_char = static_cast<std::uint8_t>(mark2);
        record.mark2_class = static_cast<std::uint8_t>(mark2_class);
        record.letter_state = static_cast<std::uint8_t>(letter_state);
        int count = 0;
        viqr_step(ctx, in[i++], cursor, &count);
        cursor += count;
        state = c.state;
        resume = c.resume_state;
        pending = c.pending_char;
        phase = record.phase;
        base = record.base_char;
        mark1 = record.mark1_char;
        mark1_class = record.mark1_class;
        mark2 = record.mark2_char;
        mark2_class = record.mark2_class;
        letter_state = record.letter_state;
    }

    c.state = state;
    c.resume_state = resume;
    c.pending_char = static_cast<std::uint8_t>(pending);
    record.phase = static_cast<std::uint8_t>(phase);
    record.base_char = static_cast<std::uint8_t>(base);
    record.mark1_char = static_cast<std::uint8_t>(mark1);
    record.mark1_class = static_cast<std::uint8_t>(mark1_class);
    record.mark2_char = static_cast<std::uint8_t>(mark2);
    record.mark2_class = static_cast<std::uint8_t>(mark2_class);
    record.letter_state = static_cast<std::uint8_t>(letter_state);
    return std::size_t(cursor - out);
}

}  // namespace toneshift
