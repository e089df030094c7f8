// Decoder contexts and their parameters, and the stream decoder's states after an escape.
#include <atomic>
#include <cstring>
#include <thread>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/composer.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {

namespace detail {

decoder_storage storage{};

}  // namespace detail

namespace {

// Guards which slots are in use, and the building of the class tables at an open: held for
// a few dozen instructions at a time, so a spin lock (which also keeps the programs free of
// the thread library's start-up cost).
std::atomic_flag slots_busy = ATOMIC_FLAG_INIT;

class SlotsLock {
  public:
    SlotsLock() noexcept {
        while (slots_busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~SlotsLock() noexcept { slots_busy.clear(std::memory_order_release); }
    SlotsLock(const SlotsLock&) = delete;
    SlotsLock& operator=(const SlotsLock&) = delete;
};

using detail::context_slots;
using detail::decoder_context;
using detail::is_context;

constexpr bool is_state(int state) {
    return state >= VIQR_MODE_COMPOSE && state <= VIQR_HOLDING;
}

// The parameter a flag selects: its lowest of the four parameter bits, or 0 for none.
constexpr int selected_parameter(int flag) {
    for (int bit : {VIQR_STATE, VIQR_ESCAPE, VIQR_ERASE, VIQR_DEFERRED})
        if ((flag & bit) != 0) return bit;
    return 0;
}

// Closes an open letter; whatever the step yields is dropped.
struct dropping_handler {
    int no_letter() const { return 0; }
    int opens() const { return 0; }
    int shape(std::uint8_t) const { return 0; }
    int finished(std::uint8_t) const { return 0; }
};

}  // namespace

namespace detail {

int step_after_escape(decoder_context& c, unsigned char ch, unsigned char* out) {
    switch (c.state) {
        case VIQR_AFTER_ESCAPE: {
            const int mode = mode_of_letter(ch);
            if (mode >= 0) {
                c.state = mode;  // the held letter and the record stay as they are
                return 0;
            }
            c.pending_char = 0;
            detail::compose_step(c.record, 0x00, dropping_handler{});
            if (ch == c.escape_char) {
                out[0] = ch;  // one escape character for the two read
                c.state = c.resume_state;
                return 1;
            }
            // Anything else is handled at once as in state 5, with nothing held.
            c.state = VIQR_HOLDING;
            return detail::compose_step(c.record, ch, holding_handler{c, ch, out});
        }
        case VIQR_LITERAL_AFTER_ESCAPE: {
            const int mode = mode_of_letter(ch);
            if (mode >= 0) {
                c.state = mode;
                return 0;
            }
            out[0] = c.escape_char;
            out[1] = ch;
            c.state = VIQR_MODE_LITERAL;
            return 2;
        }
        default:
            // Not a decoder state (open and set refuse one): nothing happens.
            return 0;
    }
}

}  // namespace detail

namespace {

// The first free slot, or -1. Under SlotsLock.
int free_slot() noexcept {
    for (std::size_t i = 0; i < detail::kContextCount; ++i)
        if (context_slots[i].in_use == 0) return int(i);
    return -1;
}

// Opens slot i. Under SlotsLock.
void open_slot(int i, int state, unsigned char escape_char, unsigned char erase_char) noexcept {
    decoder_context& c = context_slots[std::size_t(i)];
    c.in_use = 1;
    c.state = state;
    c.escape_char = escape_char;
    c.erase_char = erase_char;
    c.deferred = 0;
    c.pending_char = 0;
    c.record.phase = 0;
    build_class_tables();
    std::memcpy(c.record.mark_chars, default_mark_chars, kMarkSlotCount);
}

}  // namespace

int viqr_open(int state, unsigned char escape_char, unsigned char erase_char) {
    if (!is_state(state)) return -1;
    const SlotsLock lock;
    const int i = free_slot();
    if (i >= 0) open_slot(i, state, escape_char, erase_char);
    return i;
}

int viqr_open_waiting(int state, unsigned char escape_char, unsigned char erase_char) {
    if (!is_state(state)) return -1;
    for (;; std::this_thread::yield()) {
        const SlotsLock lock;
        const int i = free_slot();
        if (i < 0) continue;
        open_slot(i, state, escape_char, erase_char);
        return i;
    }
}

int viqr_borrow(const viqr_snapshot* snapshot) {
    for (;; std::this_thread::yield()) {
        const SlotsLock lock;
        const int i = free_slot();
        if (i < 0) continue;
        decoder_context& c = context_slots[std::size_t(i)];
        std::memcpy(&c, snapshot->bytes, sizeof(decoder_context));
        c.in_use = 1;
        return i;
    }
}

void viqr_give_back(int ctx, viqr_snapshot* snapshot) {
    if (!is_context(ctx)) return;
    std::memcpy(snapshot->bytes, &context_slots[std::size_t(ctx)], sizeof(decoder_context));
    const SlotsLock lock;
    context_slots[std::size_t(ctx)].in_use = 0;
}

void viqr_get(int ctx, void* out, int flag) {
    if (!is_context(ctx)) return;
    const decoder_context& c = context_slots[std::size_t(ctx)];
    switch (selected_parameter(flag)) {
        case VIQR_STATE:
            std::memcpy(out, &c.state, sizeof c.state);
            break;
        case VIQR_ESCAPE:
            *static_cast<unsigned char*>(out) = c.escape_char;
            break;
        case VIQR_ERASE:
            *static_cast<unsigned char*>(out) = c.erase_char;
            break;
        case VIQR_DEFERRED:
            *static_cast<unsigned char*>(out) = c.deferred;
            break;
        default:
            break;
    }
}

void viqr_set(int ctx, int value, int flag) {
    if (!is_context(ctx)) return;
    decoder_context& c = context_slots[std::size_t(ctx)];
    const auto low_byte = static_cast<std::uint8_t>(value & 0xFF);
    switch (selected_parameter(flag)) {
        case VIQR_STATE:
            if (!is_state(value)) return;
            c.state = value;
            viqr_flush(ctx, nullptr, nullptr);  // drains from the new state
            break;
        case VIQR_ESCAPE:
            c.escape_char = low_byte;
            break;
        case VIQR_ERASE:
            c.erase_char = low_byte;
            break;
        case VIQR_DEFERRED:
            c.deferred = low_byte;
            break;
        default:
            break;
    }
}

void viqr_flush(int ctx, unsigned char* out, int* count) {
    if (!is_context(ctx)) {
        if (count != nullptr) *count = 0;
        return;
    }
    // Without both a buffer and a count, everything the drain writes is discarded.
    unsigned char scratch[2];
    int scratch_count = 0;
    if (out == nullptr || count == nullptr) {
        out = scratch;
        count = &scratch_count;
    }
    // Two escape characters complete an escape sequence in every mode: the first writes
    // what the context holds, the second (discarded) returns a waiting escape to waiting.
    const unsigned char escape = context_slots[std::size_t(ctx)].escape_char;
    viqr_step(ctx, escape, out, count);
    unsigned char discarded[2];
    int discarded_count = 0;
    viqr_step(ctx, escape, discarded, &discarded_count);
}

static_assert(sizeof(decoder_context) <= sizeof(viqr_snapshot::bytes));

void viqr_save(int ctx, viqr_snapshot* snapshot) {
    if (is_context(ctx))
        std::memcpy(snapshot->bytes, &context_slots[std::size_t(ctx)], sizeof(decoder_context));
}

void viqr_restore(int ctx, const viqr_snapshot* snapshot) {
    if (is_context(ctx))
        std::memcpy(&context_slots[std::size_t(ctx)], snapshot->bytes, sizeof(decoder_context));
}

void viqr_finish(int ctx, unsigned char* out, int* count) {
    int state = 0;
    viqr_get(ctx, &state, VIQR_STATE);
    if (is_context(ctx) && state == VIQR_LITERAL_AFTER_ESCAPE) {
        const unsigned char escape = context_slots[std::size_t(ctx)].escape_char;
        viqr_flush(ctx, nullptr, nullptr);
        out[0] = escape;
        *count = 1;
        return;
    }
    viqr_flush(ctx, out, count);
}

void viqr_close(int ctx, unsigned char* out, int* count) {
    viqr_flush(ctx, out, count);
    if (!is_context(ctx)) return;
    const SlotsLock lock;
    context_slots[std::size_t(ctx)].in_use = 0;
}

}  // namespace toneshift
