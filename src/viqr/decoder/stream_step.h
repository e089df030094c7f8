// The stream decoder's per-byte step, defined inline so that a caller's decoding loop runs
// it without a call. Compose mode and holding a letter, the states that nearly every byte of
// a text meets, are tested first; the states after an escape character are in decoder.cpp.
// Included by viqr_decoder.h; include that instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "viqr/decoder/composer.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/decoder_types.h"

namespace toneshift {

namespace detail {

// Compose mode, for a byte that is not the escape character: what each outcome of the
// composition step writes. Each handler returns the number of bytes written at out.
struct compose_mode_handler {
    decoder_context& c;
    unsigned char ch;
    unsigned char* out;

    int no_letter() const {
        out[0] = ch;
        return 1;
    }
    int opens() const {
        if (c.deferred != 0) return hold(ch);
        out[0] = ch;  // immediate mode: written at once, corrected when a mark follows
        return 1;
    }
    int shape(std::uint8_t r) const { return c.deferred != 0 ? hold(r) : recomposed(r); }
    // In deferred mode too: the record can hold a letter opened in immediate mode, or one
    // that a change of state left open.
    int finished(std::uint8_t r) const { return recomposed(r); }

    int hold(std::uint8_t letter) const {
        c.pending_char = letter;
        c.resume_state = VIQR_MODE_COMPOSE;
        c.state = VIQR_HOLDING;
        return 0;
    }
    int recomposed(std::uint8_t r) const {
        out[0] = c.erase_char;  // in place of the byte written last
        out[1] = r;
        return 2;
    }
};

// Holding a letter (pending_char, 0 when none is held yet): what each outcome writes.
struct holding_handler {
    decoder_context& c;
    unsigned char ch;
    unsigned char* out;

    int finished(std::uint8_t r) const {
        out[0] = r;  // in place of the held letter
        c.state = c.resume_state;
        return 1;
    }
    int shape(std::uint8_t r) const {
        c.pending_char = r;
        return 0;
    }
    // The held letter is complete and ch begins the next one.
    int opens() const {
        if (c.pending_char == 0) {
            c.pending_char = ch;
            return 0;
        }
        out[0] = c.pending_char;
        if (c.deferred == 0 && c.resume_state == VIQR_MODE_COMPOSE) {
            out[1] = ch;  // stays open in the record; compose mode handles its marks
            c.state = VIQR_MODE_COMPOSE;
            return 2;
        }
        c.pending_char = ch;
        return 1;
    }
    // Neither a letter nor a mark of the held letter: only now is the escape recognised.
    int no_letter() const {
        int n = 0;
        if (c.pending_char != 0) out[n++] = c.pending_char;
        if (ch == c.escape_char) {
            c.state = VIQR_AFTER_ESCAPE;
            return n;
        }
        out[n++] = ch;
        c.state = c.resume_state;
        return n;
    }
};

// The states after an escape character, and a state that is none of the six. Returns the
// number of bytes written.
int step_after_escape(decoder_context& c, unsigned char ch, unsigned char* out);

}  // namespace detail

inline int viqr_step(int ctx, unsigned char ch, unsigned char* out, int* count) {
    if (!detail::is_context(ctx)) {
        *count = 0;
        return -1;
    }
    detail::decoder_context& c = detail::context_slots[static_cast<std::size_t>(ctx)];
    int n = 0;
    if (c.state == VIQR_MODE_COMPOSE) {
        if (ch != c.escape_char) {
            n = detail::compose_step(c.record, ch, detail::compose_mode_handler{c, ch, out});
        } else {
            c.resume_state = VIQR_MODE_COMPOSE;
            c.state = VIQR_AFTER_ESCAPE;
        }
    } else if (c.state == VIQR_HOLDING) {
        n = detail::compose_step(c.record, ch, detail::holding_handler{c, ch, out});
    } else if (c.state == VIQR_MODE_PASS) {
        if (ch != c.escape_char) {
            out[n++] = ch;  // the record is not touched
        } else {
            c.resume_state = VIQR_MODE_PASS;
            c.state = VIQR_AFTER_ESCAPE;
        }
    } else if (c.state == VIQR_MODE_LITERAL) {
        if (ch != c.escape_char) {
            out[n++] = ch;
        } else {
            c.state = VIQR_LITERAL_AFTER_ESCAPE;
        }
    } else {
        n = detail::step_after_escape(c, ch, out);
    }
    *count = n;
    return c.state;
}

}  // namespace toneshift
