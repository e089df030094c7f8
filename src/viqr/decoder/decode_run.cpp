// decode_run_general: viqr_step over a whole run of input, with the context's fields in locals.
// In deferred mode the states that nearly every byte of a text meets run here as one state
// machine on the locals: compose mode with no letter open, holding a base letter, holding a
// letter with its shape mark and the byte after an escape character (all four while they
// return to compose mode), pass mode and literal mode. Anything else (immediate mode, a letter
// left open in compose mode, the states that return to pass mode, the escape in literal mode,
// a class given to 0x00) takes viqr_step itself for one byte, on the context brought up to
// date.
//
// Each byte is read once, at a negative index from the end of the run. The record's fields
// that only show at the end are not kept byte by byte:
// - in compose mode every byte but the escape character makes itself the record's base, in
//   the letter state of its own class; the machine notes only where the current stretch of
//   compose mode began (`plain_from`) and, where it ends, takes the base from its last byte;
// - the base letter is stored when a letter opens, the mark characters as they are read,
//   each with its byte's code, whose escape bit is cleared when the context is written.
#include "viqr/decoder/decode_run.h"

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

constexpr unsigned kEscapeBit = 0x80;  // in a byte's code: the byte is the escape character
constexpr unsigned kClassBits = 0x7F;

constexpr bool is_letter(unsigned k) {
    return k - kFirstLetterClass <= unsigned(kLastLetterClass - kFirstLetterClass);
}
constexpr bool is_tone(unsigned k) {
    return k - kFirstToneClass <= unsigned(kLastToneClass - kFirstToneClass);
}

// A tone mark's column in composed_letter, from its class.
constexpr unsigned kToneColumnOffset = kFirstToneClass - 1;
static_assert([] {
    for (unsigned k = kFirstToneClass; k <= kLastToneClass; ++k)
        if ((mark_bits[k] & kMarkTone) != k - kToneColumnOffset) return false;
    return true;
}());

}  // namespace

std::size_t detail::decode_run_general(int ctx, const unsigned char* in, std::size_t n,
                                       unsigned char* out) {
    if (!detail::is_context(ctx)) return 0;  // a step on no context writes nothing
    detail::decoder_context& c = detail::context_slots[std::size_t(ctx)];
    unsigned char* o = out;
    // The machine relies on 0x00 having no class: it closes an open letter after an escape
    // character as written out below, and no held letter is ever 0.
    if (c.deferred == 0 || active_class_table[0] != kClassNone) {
        for (std::size_t j = 0; j < n; ++j) o += step_one(ctx, in[j], o);
        return std::size_t(o - out);
    }

    // Each byte's class, with the escape character marked: one lookup answers both tests.
    static_assert(kClassCount <= kEscapeBit);
    std::uint8_t code[256];
    std::memcpy(code, active_class_table.data(), sizeof code);
    code[c.escape_char] = static_cast<std::uint8_t>(code[c.escape_char] | kEscapeBit);

    const unsigned char* const end = in + n;
    std::ptrdiff_t i = -std::ptrdiff_t(n);  // the next byte is end[i]
    // A copy of the record on the stack takes the written fields: each write is one store.
    viqr_record rec;
    unsigned pending = 0;  // the held letter
    unsigned state = 0;    // the letter state, for the state the machine is in
    int resume = 0;
    std::ptrdiff_t plain_from = 0;  // where the current stretch of compose mode began
    unsigned ch = 0, cx = 0;        // the byte in hand and its code

    // The context, up to date, into the locals; then the label of its state.
dispatch:
    if (i == 0) return std::size_t(o - out);
    rec = c.record;
    pending = c.pending_char;
    resume = c.resume_state;
    state = rec.letter_state;
    switch (c.state) {
        case VIQR_MODE_COMPOSE:
            // Every path out of compose mode below resumes compose mode.
            if (rec.phase != 0 || resume != VIQR_MODE_COMPOSE) break;
            plain_from = i;
            goto compose;
        case VIQR_HOLDING:
            if (resume != VIQR_MODE_COMPOSE || pending == 0 || state >= kLetterStateCount) break;
            if (rec.phase == 1) goto holding_base;
            if (rec.phase == 2) goto holding_shape;
            break;
        case VIQR_AFTER_ESCAPE:
            if (resume == VIQR_MODE_COMPOSE && rec.phase == 0) goto after_escape;
            break;
        case VIQR_MODE_PASS:
            goto pass;
        case VIQR_MODE_LITERAL:
            goto literal;
        default:
            break;
    }
    // Anything else: viqr_step on the context as it is.
    o += step_one(ctx, end[i], o);
    ++i;
    goto dispatch;

    // Writes the locals back into the context, in state `s`.
#define TONESHIFT_WRITE_BACK(s)                                                    \
    do {                                                                           \
        rec.mark1_class = static_cast<std::uint8_t>(rec.mark1_class & kClassBits); \
        rec.mark2_class = static_cast<std::uint8_t>(rec.mark2_class & kClassBits); \
        c.record = rec;                                                            \
        c.pending_char = static_cast<std::uint8_t>(pending);                       \
        c.resume_state = resume;                                                   \
        c.state = (s);                                                             \
    } while (false)

compose:
    // Compose mode, no letter open. The common paths of a letter (its marks, and the byte of
    // class 0 that ends it) are written out in this one loop.
    for (;;) {
        {
            // Bytes of class 0 are written as they are, at `o` kept as `base + i`.
            unsigned char* const base = o - i;
            if (i == 0) goto compose_end;
            do {
                const unsigned b = end[i];
                if (code[b] != 0) break;
                base[i] = static_cast<unsigned char>(b);
            } while (++i != 0);
            o = base + i;
            if (i == 0) goto compose_end;
        }
        // Read again: keeps the loop's registers its own.
        asm("" : "+r"(i));
        ch = end[i];
        cx = code[ch];
        ++i;
        if (cx > kLastLetterClass) {
            if ((cx & kEscapeBit) != 0) goto compose_escape;
            *o++ = static_cast<unsigned char>(ch);  // a mark with no letter open
            continue;
        }
        // A letter opens: held back.
        pending = ch;
        state = cx;
        rec.base_char = static_cast<std::uint8_t>(ch);

    holding_base:
        // Holding a base letter (record phase 1): a mark that it accepts composes.
        if (i == 0) goto holding_base_end;
        ch = end[i];
        cx = code[ch];
        ++i;
        rec.mark1_char = static_cast<std::uint8_t>(ch);
        rec.mark1_class = static_cast<std::uint8_t>(cx);
        if (cx == 0) {
            // The most common end of a letter: a byte of class 0 writes the letter and itself,
            // and becomes the record's base.
            o[0] = static_cast<unsigned char>(pending);
            o[1] = static_cast<unsigned char>(ch);
            o += 2;
            plain_from = i - 1;
            continue;
        }
        {
            const unsigned m = first_mark_outcome[state * 256 + (cx & kClassBits)];
            if ((m & kFirstMarkAccepted) == 0) goto holding_other;
            state = m >> kFirstMarkStateShift & kFirstMarkStateMask;
            if ((m & kFirstMarkShape) == 0) {
                *o++ = static_cast<unsigned char>(m);  // finished, in place of the held letter
                plain_from = i;
                continue;
            }
            pending = m & 0xFF;  // shape accepted: still held
        }

    holding_shape:
        // Holding a letter with its shape mark (record phase 2): only a tone mark composes.
        if (i == 0) goto holding_shape_end;
        ch = end[i];
        cx = code[ch];
        ++i;
        rec.mark2_char = static_cast<std::uint8_t>(ch);
        rec.mark2_class = static_cast<std::uint8_t>(cx);
        {
            const unsigned k = cx & kClassBits;
            if (!is_tone(k)) goto holding_other;
            // The letter state stays that of the shape.
            *o++ = composed_letter[state * kToneColumnCount + k - kToneColumnOffset];
        }
        plain_from = i;
        continue;

    holding_other:
        // Holding, and ch (code cx) is no mark of the held letter: it becomes the record's
        // base.
        rec.base_char = static_cast<std::uint8_t>(ch);
        state = cx & kClassBits;
        *o++ = static_cast<unsigned char>(pending);
        if (is_letter(state)) {  // the held letter is complete and ch opens the next one
            pending = ch;
            goto holding_base;
        }
        if ((cx & kEscapeBit) != 0) {  // only now is the escape character recognised
            rec.letter_state = static_cast<std::uint8_t>(state);
            rec.phase = 0;
            goto after_escape;
        }
        *o++ = static_cast<unsigned char>(ch);
        plain_from = i - 1;
        continue;

    after_escape:
        // After the escape character, returning to compose mode; the record's phase is 0 and
        // its base and letter state are up to date.
        if (i == 0) goto after_escape_end;
        ch = end[i];
        ++i;
        {
            const int mode = detail::mode_letters[ch];
            if (mode >= 0) {  // the held letter and the record stay as they are
                if (mode != VIQR_MODE_COMPOSE) {
                    TONESHIFT_WRITE_BACK(mode);
                    goto dispatch;
                }
                state = rec.letter_state;
                plain_from = i;
                continue;
            }
        }
        // 0x00 (class 0) closes the record, which has no letter open; nothing is held.
        pending = 0;
        cx = code[ch];
        if ((cx & kEscapeBit) != 0) {  // one escape character for the two read
            *o++ = static_cast<unsigned char>(ch);
            rec.base_char = 0;
            state = 0;
            plain_from = i;
            continue;
        }
        rec.base_char = static_cast<std::uint8_t>(ch);
        state = cx;
        if (is_letter(cx)) {  // handled at once as holding, with nothing held
            pending = ch;
            goto holding_base;
        }
        *o++ = static_cast<unsigned char>(ch);
        plain_from = i - 1;
        continue;

    compose_escape:
        // The escape character in compose mode leaves the record as it is.
        if (i - 1 != plain_from) {
            rec.base_char = end[i - 2];
            state = code[end[i - 2]] & kClassBits;
        }
        rec.letter_state = static_cast<std::uint8_t>(state);
        rec.phase = 0;
        goto after_escape;
    }

compose_end:
    // Every byte of compose mode made itself the record's base.
    if (i != plain_from) {
        rec.base_char = end[-1];
        state = code[end[-1]] & kClassBits;
    }
    rec.letter_state = static_cast<std::uint8_t>(state);
    rec.phase = 0;
    TONESHIFT_WRITE_BACK(VIQR_MODE_COMPOSE);
    return std::size_t(o - out);

holding_base_end:
    rec.letter_state = static_cast<std::uint8_t>(state);
    rec.phase = 1;
    TONESHIFT_WRITE_BACK(VIQR_HOLDING);
    return std::size_t(o - out);

holding_shape_end:
    rec.letter_state = static_cast<std::uint8_t>(state);
    rec.phase = 2;
    TONESHIFT_WRITE_BACK(VIQR_HOLDING);
    return std::size_t(o - out);

after_escape_end:
    TONESHIFT_WRITE_BACK(VIQR_AFTER_ESCAPE);
    return std::size_t(o - out);

pass:
    // Pass mode: bytes pass unchanged; the record is not touched.
    for (;;) {
        if (i == 0) {
            TONESHIFT_WRITE_BACK(VIQR_MODE_PASS);
            return std::size_t(o - out);
        }
        const unsigned ch = end[i];
        ++i;
        if ((code[ch] & kEscapeBit) != 0) {
            resume = VIQR_MODE_PASS;
            TONESHIFT_WRITE_BACK(VIQR_AFTER_ESCAPE);
            goto dispatch;
        }
        *o++ = static_cast<unsigned char>(ch);
    }

literal:
    for (;;) {
        if (i == 0) {
            TONESHIFT_WRITE_BACK(VIQR_MODE_LITERAL);
            return std::size_t(o - out);
        }
        const unsigned ch = end[i];
        ++i;
        if ((code[ch] & kEscapeBit) != 0) {
            TONESHIFT_WRITE_BACK(VIQR_LITERAL_AFTER_ESCAPE);
            goto dispatch;
        }
        *o++ = static_cast<unsigned char>(ch);
    }
#undef TONESHIFT_WRITE_BACK
}

}  // namespace toneshift
