// viqr_decode_run: viqr_step over a whole run of input, with the context's fields in locals.
// In deferred mode the states that nearly every byte of a text meets (compose mode with no
// letter open, holding a letter, the byte after an escape character, pass and literal mode)
// run here as one state machine on the locals, with the composition steps of compose_step
// written out for the phase each state knows; anything else (immediate mode, a letter left
// open in compose mode, the escape in literal mode, a class given to 0x00) takes viqr_step
// itself for one byte, on the context brought up to date.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/composer.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {
namespace {

// One byte through viqr_step; returns the count. Kept out of line: it is the rare path.
[[gnu::noinline]] int step_one(int ctx, unsigned char ch, unsigned char* out) {
    int count = 0;
    viqr_step(ctx, ch, out, &count);
    return count;
}

constexpr int mode_of_letter(unsigned ch) {
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

constexpr unsigned kEscapeBit = 0x80;  // in a byte's code: the byte is the escape character

constexpr bool is_letter(unsigned k) {
    return k - kFirstLetterClass <= unsigned(kLastLetterClass - kFirstLetterClass);
}

}  // namespace

std::size_t viqr_decode_run(int ctx, const unsigned char* in, std::size_t n, unsigned char* out) {
    if (!detail::is_context(ctx)) return 0;  // a step on no context writes nothing
    detail::decoder_context& c = detail::context_slots[std::size_t(ctx)];
    const unsigned char* p = in;
    const unsigned char* const end = in + n;
    unsigned char* o = out;
    if (c.deferred == 0) {
        while (p != end) o += step_one(ctx, *p++, o);
        return std::size_t(o - out);
    }

    // Each byte's class, with the escape character marked: one lookup answers both tests.
    static_assert(kClassCount <= kEscapeBit);
    std::uint8_t code[256];
    std::memcpy(code, active_class_table.data(), sizeof code);
    code[c.escape_char] = static_cast<std::uint8_t>(code[c.escape_char] | kEscapeBit);
    // The step with 0x00 after an escape closes the open letter in the way written out below
    // only when 0x00 has no class (no mark was moved to it).
    const bool nul_has_no_class = active_class_table[0] == 0;

    // Where the machine is (state and record phase) is the label it runs at; the held letter,
    // the letter state, the mode to resume and, for the escape sequences, the phase are in
    // locals. The record's base and mark characters and classes are only ever written, and
    // are written in place.
    // A copy of the record on the stack takes the written fields: each write is one store.
    viqr_record rec = c.record;
    unsigned pending = c.pending_char;
    unsigned letter_state = rec.letter_state;
    int resume = c.resume_state;
    unsigned ch = 0, k = 0;
    const unsigned char* plain_from = p;

dispatch:  // from the context's state and the record's phase
    if (p == end) goto done;
    switch (c.state) {
        case VIQR_MODE_COMPOSE:
            if (rec.phase == 0) goto compose;
            break;
        case VIQR_MODE_PASS:
            goto pass;
        case VIQR_MODE_LITERAL:
            goto literal;
        case VIQR_AFTER_ESCAPE:
            if (nul_has_no_class) goto after_escape;
            break;
        case VIQR_HOLDING:
            if (rec.phase == 1) goto holding_base;
            if (rec.phase == 2) goto holding_shape;
            ch = *p++;
            k = code[ch] & ~kEscapeBit;
            goto holding_other;
        default:
            break;
    }
    // Anything else: viqr_step on the context, brought up to date and read back.
    c.resume_state = resume;
    c.pending_char = static_cast<std::uint8_t>(pending);
    rec.letter_state = static_cast<std::uint8_t>(letter_state);
    c.record = rec;
    o += step_one(ctx, *p++, o);
    rec = c.record;
    resume = c.resume_state;
    pending = c.pending_char;
    letter_state = rec.letter_state;
    goto dispatch;

compose:
    // Compose mode, no letter open: a byte of class 0 is written as it is, and becomes the
    // record's base in letter state 0 (set only where it shows: at an escape or the end).
    plain_from = p;
    for (;;) {
        // The loop carries nothing but the two cursors; what stopped it is read again after.
        for (;;) {
            if (p == end) {
                if (p != plain_from) {
                    rec.base_char = p[-1];
                    letter_state = 0;
                }
                c.state = VIQR_MODE_COMPOSE;
                rec.phase = 0;
                goto done;
            }
            const unsigned char b = *p++;
            if (code[b] != 0) break;
            *o++ = b;
        }
        ch = p[-1];
        const unsigned x = code[ch];
        if ((x & kEscapeBit) != 0) {  // the record is not touched
            if (p - 1 != plain_from) {
                rec.base_char = p[-2];
                letter_state = 0;
            }
            resume = VIQR_MODE_COMPOSE;
            rec.phase = 0;
            goto after_escape;
        }
        rec.base_char = static_cast<std::uint8_t>(ch);
        letter_state = x;
        if (is_letter(x)) {  // opens a letter: held back
            pending = ch;
            resume = VIQR_MODE_COMPOSE;
            goto holding_base;
        }
        *o++ = static_cast<unsigned char>(ch);  // a mark with no letter open
        plain_from = p;
    }

holding_base:
    // Holding a base letter (phase 1): a mark that it accepts composes.
    if (p == end) {
        c.state = VIQR_HOLDING;
        rec.phase = 1;
        goto done;
    }
    ch = *p++;
    k = code[ch];
    rec.mark1_char = static_cast<std::uint8_t>(ch);
    if (k == 0 && resume == VIQR_MODE_COMPOSE) {
        // The most common end of a letter: a byte of class 0 (no mark, no letter, not the
        // escape character) writes the letter and itself, and compose mode goes on.
        rec.mark1_class = 0;
        rec.base_char = static_cast<std::uint8_t>(ch);
        letter_state = 0;
        if (pending != 0) *o++ = static_cast<unsigned char>(pending);
        *o++ = static_cast<unsigned char>(ch);
        rec.phase = 0;
        goto compose;
    }
    k &= ~kEscapeBit;
    rec.mark1_class = static_cast<std::uint8_t>(k);
    {
        const unsigned m =
            first_mark_outcome[detail::bounded_letter_state(std::uint8_t(letter_state)) * 256 + k];
        if ((m & kFirstMarkAccepted) != 0) {
            letter_state = m >> kFirstMarkStateShift & kFirstMarkStateMask;
            if ((m & kFirstMarkShape) != 0) {  // shape accepted: still held
                pending = m & 0xFF;
                goto holding_shape;
            }
            *o++ = static_cast<unsigned char>(m);  // finished, in place of the held letter
            goto resumed;
        }
    }
    goto holding_other;

holding_shape:
    // Holding a letter with its shape mark (phase 2): only a tone mark composes.
    if (p == end) {
        c.state = VIQR_HOLDING;
        rec.phase = 2;
        goto done;
    }
    ch = *p++;
    k = code[ch] & ~kEscapeBit;
    rec.mark2_char = static_cast<std::uint8_t>(ch);
    rec.mark2_class = static_cast<std::uint8_t>(k);
    if (detail::is_tone_class(k)) {
        const unsigned s = detail::bounded_letter_state(std::uint8_t(letter_state));
        *o++ = composed_letter[s * kToneColumnCount + (mark_bits[k] & kMarkTone)];
        goto resumed;
    }
    goto holding_other;

holding_other:
    // Holding, and ch (class k) is no mark of the held letter.
    rec.base_char = static_cast<std::uint8_t>(ch);
    letter_state = k;
    if (is_letter(k)) {  // the held letter is complete and ch opens the next one
        if (pending != 0) *o++ = static_cast<unsigned char>(pending);
        pending = ch;
        goto holding_base;
    }
    // No letter: only now is the escape character recognised.
    if (pending != 0) *o++ = static_cast<unsigned char>(pending);
    rec.phase = 0;
    if ((code[ch] & kEscapeBit) != 0) goto after_escape;
    *o++ = static_cast<unsigned char>(ch);
    goto resumed;

resumed:
    // A letter is done (record phase 0): back to the mode that the context resumes.
    rec.phase = 0;
    if (resume == VIQR_MODE_COMPOSE) goto compose;
    if (resume == VIQR_MODE_PASS) goto pass;
    c.state = resume;
    goto dispatch;

after_escape:
    if (p == end) {
        c.state = VIQR_AFTER_ESCAPE;
        goto done;
    }
    ch = *p++;
    {
        const int mode = mode_of_letter(ch);
        if (mode >= 0) {  // the held letter and the record stay as they are
            c.state = mode;
            goto dispatch;
        }
    }
    // The step with 0x00 (class 0) closes an open letter.
    pending = 0;
    if (rec.phase == 1) {
        rec.mark1_char = 0;
        rec.mark1_class = 0;
    } else if (rec.phase == 2) {
        rec.mark2_char = 0;
        rec.mark2_class = 0;
    }
    rec.base_char = 0;
    letter_state = 0;
    rec.phase = 0;
    if ((code[ch] & kEscapeBit) != 0) {  // one escape character for the two read
        *o++ = static_cast<unsigned char>(ch);
        goto resumed;
    }
    k = code[ch] & ~kEscapeBit;  // handled at once as holding, with nothing held
    goto holding_other;

pass:
    // Pass mode: bytes pass unchanged; the record is not touched.
    for (;;) {
        if (p == end) {
            c.state = VIQR_MODE_PASS;
            goto done;
        }
        ch = *p++;
        if ((code[ch] & kEscapeBit) != 0) {
            resume = VIQR_MODE_PASS;
            goto after_escape;
        }
        *o++ = static_cast<unsigned char>(ch);
    }

literal:
    for (;;) {
        if (p == end) {
            c.state = VIQR_MODE_LITERAL;
            goto done;
        }
        ch = *p++;
        if ((code[ch] & kEscapeBit) != 0) {
            c.state = VIQR_LITERAL_AFTER_ESCAPE;
            goto dispatch;
        }
        *o++ = static_cast<unsigned char>(ch);
    }

done:
    c.resume_state = resume;
    c.pending_char = static_cast<std::uint8_t>(pending);
    rec.letter_state = static_cast<std::uint8_t>(letter_state);
    c.record = rec;
    return std::size_t(o - out);
}

}  // namespace toneshift
