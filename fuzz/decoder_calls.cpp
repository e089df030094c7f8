// Drives the whole decoder interface with a sequence of calls decoded from the input, with
// arbitrary arguments: context numbers, states and flags out of range included. After every
// call it checks that the contexts stay well formed (every state 0..5, every count 0, 1 or
// 2, every class a class code) and that a refused call changed nothing.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/viqr_decoder.h"

namespace toneshift {
namespace {

using detail::context_slots;
using detail::decoder_context;

using detail::is_context;
using fuzzing::check;

constexpr bool is_state(int state) {
    return state >= VIQR_MODE_COMPOSE && state <= VIQR_HOLDING;
}

// The class table that a build gives: each default character with its code, 0 elsewhere.
constexpr auto built_class_table = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t k = 1; k < kClassCount; ++k)
        if (default_class_chars[k] != 0) table[default_class_chars[k]] = std::uint8_t(k);
    return table;
}();

bool tables_built() {
    return default_class_table == built_class_table && active_class_table == built_class_table;
}

bool same_record(const viqr_record& a, const viqr_record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;  // fifteen bytes, no padding
}

bool same_context(const decoder_context& a, const decoder_context& b) {
    return a.in_use == b.in_use && a.escape_char == b.escape_char && a.erase_char == b.erase_char &&
           a.deferred == b.deferred && a.pending_char == b.pending_char && a.state == b.state &&
           a.resume_state == b.resume_state && same_record(a.record, b.record);
}

// Everything that the decoder keeps between calls.
struct Snapshot {
    std::array<decoder_context, detail::kContextCount> slots = context_slots;
    std::array<std::uint8_t, 256> active = active_class_table;
    std::array<std::uint8_t, 256> defaults = default_class_table;

    bool unchanged() const {
        for (std::size_t i = 0; i < slots.size(); ++i)
            if (!same_context(slots[i], context_slots[i])) return false;
        return active == active_class_table && defaults == default_class_table;
    }
};

bool default_marks(const viqr_record& r) {
    return std::memcmp(r.mark_chars, default_mark_chars, kMarkSlotCount) == 0;
}

// What must hold after every call, whatever was called with whatever arguments.
void check_invariants() {
    for (const decoder_context& c : context_slots) {
        check(c.in_use <= 1, "in_use is 0 or 1");
        check(is_state(c.state), "a slot's state is 0..5");
        check(c.resume_state == VIQR_MODE_COMPOSE || c.resume_state == VIQR_MODE_PASS,
              "resume_state is a mode that an escape returns to");
        check(c.record.phase <= 2, "a context's record is in phase 0, 1 or 2");
    }
    for (std::uint8_t k : active_class_table) check(k < kClassCount, "active class is a code");
    check(default_class_table == std::array<std::uint8_t, 256>{} ||
              default_class_table == built_class_table,
          "the default class table is empty or built");
}

// An output area of exactly two bytes on the heap, so that a third byte written is caught.
struct Out {
    std::vector<unsigned char> bytes = std::vector<unsigned char>(2, 0xA5);
    unsigned char* data() { return bytes.data(); }
    bool untouched() const { return bytes[0] == 0xA5 && bytes[1] == 0xA5; }
};

constexpr int kUnsetCount = -7;

int pick_context(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 4) : in.ConsumeIntegral<int>();
}
int pick_state(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 7) : in.ConsumeIntegral<int>();
}
int pick_flag(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(0, 31) : in.ConsumeIntegral<int>();
}
int pick_value(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(-2, 0x1FF) : in.ConsumeIntegral<int>();
}
// A mark: mostly one of the eight default mark characters, sometimes any int.
int pick_mark(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeIntegral<int>();
    return static_cast<unsigned char>(default_mark_chars[in.ConsumeIntegralInRange(0, 7)]);
}

// The lowest of the four parameter bits in a flag, or 0 for none.
int selected_parameter(int flag) {
    for (int bit : {VIQR_STATE, VIQR_ESCAPE, VIQR_ERASE, VIQR_DEFERRED})
        if ((flag & bit) != 0) return bit;
    return 0;
}

void call_open(FuzzedDataProvider& in) {
    const int state = pick_state(in);
    const auto escape = in.ConsumeIntegral<unsigned char>();
    const auto erase = in.ConsumeIntegral<unsigned char>();
    int lowest_free = -1;
    for (std::size_t i = 0; i < context_slots.size() && lowest_free < 0; ++i)
        if (context_slots[i].in_use == 0) lowest_free = int(i);
    const Snapshot before;
    const int ctx = viqr_open(state, escape, erase);
    if (!is_state(state) || lowest_free < 0) {
        check(ctx == -1 && before.unchanged(), "a refused open returns -1 and changes nothing");
        return;
    }
    check(ctx == lowest_free, "open takes the lowest free slot");
    const decoder_context& c = context_slots[std::size_t(ctx)];
    check(c.in_use == 1 && c.state == state && c.escape_char == escape && c.erase_char == erase &&
              c.deferred == 0 && c.pending_char == 0 && c.record.phase == 0 &&
              default_marks(c.record),
          "open sets up the slot");
    check(tables_built(), "open rebuilds the class tables");
}

void call_get(FuzzedDataProvider& in) {
    const int ctx = pick_context(in);
    const int flag = pick_flag(in);
    const int parameter = selected_parameter(flag);
    // An int for the state, a single byte for the others.
    std::vector<unsigned char> out(parameter == VIQR_STATE ? sizeof(int) : 1, 0xA5);
    const Snapshot before;
    viqr_get(ctx, out.data(), flag);
    check(before.unchanged(), "get changes nothing");
    const bool untouched = std::all_of(out.begin(), out.end(), [](auto b) { return b == 0xA5; });
    if (!is_context(ctx) || parameter == 0) {
        check(untouched, "get of nothing writes nothing");
        return;
    }
    const decoder_context& c = context_slots[std::size_t(ctx)];
    int state = 0;
    switch (parameter) {
        case VIQR_STATE:
            std::memcpy(&state, out.data(), sizeof state);
            check(state == c.state, "get writes the state");
            break;
        case VIQR_ESCAPE:
            check(out[0] == c.escape_char, "get writes the escape character");
            break;
        case VIQR_ERASE:
            check(out[0] == c.erase_char, "get writes the erase character");
            break;
        default:
            check(out[0] == c.deferred, "get writes the deferred flag");
            break;
    }
}

void call_set(FuzzedDataProvider& in) {
    const int ctx = pick_context(in);
    const int value = pick_value(in);
    const int flag = pick_flag(in);
    const int parameter = selected_parameter(flag);
    const Snapshot before;
    viqr_set(ctx, value, flag);
    if (!is_context(ctx) || parameter == 0 || (parameter == VIQR_STATE && !is_state(value))) {
        check(before.unchanged(), "a refused set changes nothing");
        return;
    }
    const decoder_context& c = context_slots[std::size_t(ctx)];
    const auto low_byte = static_cast<unsigned char>(value & 0xFF);
    if (parameter == VIQR_ESCAPE) check(c.escape_char == low_byte, "set stores the escape");
    if (parameter == VIQR_ERASE) check(c.erase_char == low_byte, "set stores the erase");
    if (parameter == VIQR_DEFERRED) check(c.deferred == low_byte, "set stores deferred");
}

void call_step(FuzzedDataProvider& in) {
    const int ctx = pick_context(in);
    const auto ch = in.ConsumeIntegral<unsigned char>();
    Out out;
    int count = kUnsetCount;
    const Snapshot before;
    const int state = viqr_step(ctx, ch, out.data(), &count);
    if (!is_context(ctx)) {
        check(state == -1 && count == 0 && out.untouched() && before.unchanged(),
              "a step of no context touches nothing");
        return;
    }
    check(count >= 0 && count <= 2, "a step writes 0, 1 or 2 bytes");
    check(state == context_slots[std::size_t(ctx)].state, "a step returns the new state");
}

// viqr_flush and viqr_close: with or without an output area and a count.
void call_drain(FuzzedDataProvider& in, bool close) {
    const int ctx = pick_context(in);
    const bool give_out = in.ConsumeBool();
    const bool give_count = in.ConsumeBool();
    Out out;
    int count = kUnsetCount;
    const Snapshot before;
    auto* out_arg = give_out ? out.data() : nullptr;
    auto* count_arg = give_count ? &count : nullptr;
    if (close) {
        viqr_close(ctx, out_arg, count_arg);
    } else {
        viqr_flush(ctx, out_arg, count_arg);
    }
    if (!is_context(ctx)) {
        check(out.untouched() && before.unchanged(), "a drain of no context touches nothing");
        check(count == (give_count ? 0 : kUnsetCount), "a drain of no context counts 0");
        return;
    }
    if (close) check(context_slots[std::size_t(ctx)].in_use == 0, "close frees the slot");
    if (give_out && give_count) {
        check(count >= 0 && count <= 2, "a drain writes 0, 1 or 2 bytes");
    } else {
        // Without both, everything the drain would write is discarded.
        check(out.untouched() && count == kUnsetCount, "a discarded drain writes nothing");
    }
}

// The records that the record operations work on: two of the caller's, which start with
// whatever bytes the input gives (any phase, any letter state), and the three contexts'.
struct Records {
    std::array<viqr_record, 2> own{};
    // Whether an own record still holds the input's bytes: a phase 2 with a letter state
    // that no shape mark leads to, for one, which only such a record can hold.
    std::array<bool, 2> arbitrary{true, true};

    // Picks a record; `arbitrary_now` tells whether it may hold fields that no call produces.
    // A call that `settles` it (compose, reset) leaves it as calls do.
    viqr_record& pick(FuzzedDataProvider& in, bool settles, bool* arbitrary_now) {
        const auto i = std::size_t(in.ConsumeIntegralInRange(0, 4));
        if (i >= own.size()) {
            *arbitrary_now = false;
            return context_slots[i - own.size()].record;
        }
        *arbitrary_now = arbitrary[i];
        if (settles) arbitrary[i] = false;
        return own[i];
    }
};

void call_compose(FuzzedDataProvider& in, Records& records) {
    bool arbitrary = false;
    viqr_record& record = records.pick(in, true, &arbitrary);
    const auto ch = in.ConsumeIntegral<unsigned char>();
    int held = kUnsetCount, composed = kUnsetCount;
    const int result = viqr_compose(&record, ch, &held, &composed);
    check(result >= 0 && result <= 255, "compose returns a byte");
    check((held == 0 || held == 1) && (composed == 0 || composed == 1), "flags are 0 or 1");
    check(record.phase <= 2, "compose leaves phase 0, 1 or 2");
    check((held == 1) == (record.phase != 0), "held says whether a letter is open");
    if (composed == 0) check(result == ch, "a byte not composed is the input byte");
    if (!arbitrary) check(composed == 0 || result != 0, "a composed letter is a letter byte");
}

void call_reset(FuzzedDataProvider& in, Records& records) {
    bool arbitrary = false;
    viqr_record& record = records.pick(in, true, &arbitrary);
    viqr_reset(&record);
    check(record.phase == 0 && default_marks(record), "reset makes the record ready");
    check(tables_built(), "reset rebuilds the class tables");
}

void call_set_mark(FuzzedDataProvider& in, Records& records) {
    const int mark = pick_mark(in);
    const auto new_char = in.ConsumeIntegral<unsigned char>();
    bool arbitrary = false;
    viqr_record& record = records.pick(in, false, &arbitrary);
    const viqr_record was = record;
    const Snapshot before;
    const int done = viqr_set_mark(mark, new_char, &record);
    const char* slot = nullptr;
    for (const char& c : default_mark_chars)
        if (c != '\0' && mark == static_cast<unsigned char>(c)) slot = &c;
    if (slot == nullptr) {
        check(done == 0 && same_record(was, record) && before.unchanged(),
              "an unknown mark is refused and changes nothing");
        return;
    }
    check(done == 1, "a default mark character is accepted");
    check(record.mark_chars[slot - default_mark_chars] == new_char, "the slot names new_char");
    check(default_class_table == before.defaults, "set_mark leaves the default table");
}

}  // namespace
}  // namespace toneshift

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace toneshift;
    // Every input starts from the program's start: all slots and both class tables zero.
    detail::context_slots = {};
    active_class_table.fill(0);
    default_class_table.fill(0);

    FuzzedDataProvider in(data, size);
    Records records;
    for (viqr_record& r : records.own) {
        const std::vector<std::uint8_t> bytes = in.ConsumeBytes<std::uint8_t>(sizeof r);
        if (!bytes.empty()) std::memcpy(&r, bytes.data(), bytes.size());
    }
    while (in.remaining_bytes() > 0) {
        switch (in.ConsumeIntegralInRange(0, 9)) {
            case 0:
                call_open(in);
                break;
            case 1:
                call_get(in);
                break;
            case 2:
                call_set(in);
                break;
            case 3:
            case 4:
                call_step(in);  // the call that real use makes most
                break;
            case 5:
                call_drain(in, false);
                break;
            case 6:
                call_drain(in, true);
                break;
            case 7:
                call_compose(in, records);
                break;
            case 8:
                call_reset(in, records);
                break;
            default:
                call_set_mark(in, records);
                break;
        }
        check_invariants();
    }
    return 0;
}
