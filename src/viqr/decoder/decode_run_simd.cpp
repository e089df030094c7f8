// viqr_decode_run in vectors, for deferred mode in compose mode (the dialogue's and the
// converter's configuration); every other configuration, and pass and literal mode, go to
// decode_run_general.
//
// Most bytes of a VIQR text come out as themselves: every letter is written at once, as if
// nothing followed it, and rewritten in place when a mark composes with it. The only bytes
// that need more are the escape character and a byte that can act as a mark (a tone, shape
// or stroke mark) right after a letter byte; a vector of input is copied to the output as it
// is and only those bytes, found with nibble lookups and a compare, go through the rules one
// by one, each followed by a new copy of the input from the byte after what it took.
//
// The state at a byte that needs the rules is either what the rules left (right after them)
// or follows from the byte before it alone: a letter byte that no rule took opened a letter.
// Of the record's fields that last, the held letter and the first mark character are found
// when the run ends (or leaves compose mode), by looking back for the last letter byte.
//
// Output goes through a buffer of the decoder's own and is copied out as it becomes final,
// so that the caller's buffer receives exactly the bytes counted, as from viqr_step.
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "viqr/decoder/class_tables.h"
#include "viqr/decoder/contexts.h"
#include "viqr/decoder/decode_run.h"
#include "viqr/decoder/vector_tables.h"
#include "viqr/decoder/viqr_decoder.h"

#ifndef TONESHIFT_DECODE_RUN_SIMD_SHARED
#define TONESHIFT_DECODE_RUN_SIMD_SHARED
namespace toneshift::detail {

constexpr bool acts_as_mark(unsigned k) {
    return mark_bits[k] != 0;  // tone and shape marks, and the stroke (D, d)
}

// The letter bytes and the mark bytes below 0x80 of a class table, as nibble tables: bit h
// of entry l is set when byte h * 16 + l belongs to the set. Bytes from 0x80 up count as
// both (they are tested apart).
struct ascii_sets {
    std::array<std::uint8_t, 128> classes{};  // the table these were made from
    std::array<std::uint8_t, 16> letters{};
    std::array<std::uint8_t, 16> marks{};
    // The class codes of bytes below 0x80 for the vector composition, a mode letter
    // kModeLetterCode, in rows; usable unless a mode letter has a class.
    stepped_table<6> code_rows{};  // from 0x20
    bool codes_usable = false;
    bool made = false;
    bool is_default = false;  // the sets of the default table
};

// The sets of a class table's first half.
constexpr ascii_sets make_ascii_sets(const std::uint8_t* table) {
    ascii_sets sets{};
    for (unsigned b = 0; b < 0x80; ++b) sets.classes[b] = table[b];
    for (unsigned b = 0; b < 0x80; ++b) {
        const auto bit = static_cast<std::uint8_t>(1u << (b >> 4));
        if (is_letter_class(table[b])) sets.letters[b & 15] |= bit;
        if (acts_as_mark(table[b])) sets.marks[b & 15] |= bit;
    }
    std::array<std::uint8_t, 128> codes{};
    sets.codes_usable = true;
    for (unsigned b = 0; b < 0x80; ++b) {
        codes[b] = table[b];
        if (mode_letters[b] >= 0) {
            if (table[b] != kClassNone) sets.codes_usable = false;
            codes[b] = kModeLetterCode;
        }
    }
    // Bytes below 0x20 have no code in any table the vectors take: the lookup starts at row 2.
    for (unsigned b = 0; b < 0x20; ++b)
        if (codes[b] != 0) sets.codes_usable = false;
    sets.code_rows = stepped_rows<6>(codes, 0x20);
    sets.made = true;
    return sets;
}

// The sets of the default class table, made when the program is compiled: what every
// decoder uses unless a mark has been moved, read by any number of threads at once.
inline constexpr ascii_sets default_ascii_sets = [] {
    std::array<std::uint8_t, 256> table{};
    for (std::size_t k = 1; k < kClassCount; ++k)
        if (default_class_chars[k] != 0) table[default_class_chars[k]] = std::uint8_t(k);
    ascii_sets sets = make_ascii_sets(table.data());
    sets.is_default = true;
    return sets;
}();

// The sets of the active class table, in one object at a fixed address (the decoding loop
// reaches its fields without a register). While the table is the default one they are
// default_ascii_sets and nothing writes them, so decoders in any number of threads read them
// at once; a moved mark (the dialogue's, in one thread) makes them again, and a rebuilt
// table puts the default ones back.
inline constinit ascii_sets active_sets = default_ascii_sets;

// Out of the decoding loop's way: rare, and large once inlined.
[[gnu::cold, gnu::noinline]] inline void remake_active_sets() {
    if (!class_table_changed.load(std::memory_order_relaxed)) {
        active_sets = default_ascii_sets;
        return;
    }
    const std::uint8_t* table = active_class_table.data();
    if (std::memcmp(active_sets.classes.data(), table, active_sets.classes.size()) != 0)
        active_sets = make_ascii_sets(table);
}

inline const ascii_sets& active_ascii_sets() {
    if (class_table_changed.load(std::memory_order_relaxed) || !active_sets.is_default)
        remake_active_sets();
    return active_sets;
}

inline constexpr std::array<std::uint8_t, 16> high_nibble_bits{1, 2, 4, 8, 16, 32, 64, 128};

// What a character of class k does after a shape mark that led to letter state s: the
// composed byte when it is a tone mark, else 0; indexed by s * 64 + k.
inline constexpr auto tone_after_shape = [] {
    std::array<std::uint8_t, kLetterStateCount * 64> composed{};
    for (std::size_t s = 0; s < kLetterStateCount; ++s)
        for (std::size_t k = kFirstToneClass; k <= kLastToneClass; ++k)
            composed[s * 64 + k] =
                composed_letter[s * kToneColumnCount + (mark_bits[k] & kMarkTone)];
    return composed;
}();
static_assert(kClassCount <= 64);
// A letter state that a shape mark leads to has a byte for every tone, none of them 0, so 0
// means no tone mark.
static_assert([] {
    for (std::size_t s = 0; s < kLetterStateCount; ++s)
        for (std::size_t k = kFirstShapeClass; k <= kLastShapeClass; ++k) {
            const unsigned m = first_mark_outcome[s * 256 + k];
            if ((m & kFirstMarkAccepted) == 0) continue;
            const std::size_t next = m >> kFirstMarkStateShift & kFirstMarkStateMask;
            for (std::size_t t = 0; t < 64; ++t)
                if ((tone_after_shape[next * 64 + t] != 0) != is_tone_class(unsigned(t)))
                    return false;
        }
    return true;
}());

// Input is looked at in blocks of this many bytes.
inline constexpr std::size_t kBlock = 32;
// Output is copied out of the buffer once it holds this much, looked at after every block;
// what is copied out stays below the size from which memcpy moves bytes one instruction
// each.
inline constexpr std::size_t kFlushAt = 1024;
// Rules reach at most two bytes past a block; a copy takes a block from there.
inline constexpr std::size_t kReach = 2;
inline constexpr std::size_t kMainMargin = 2 * kBlock + kReach;

}  // namespace toneshift::detail

// The lambdas of the decoding loop share its locals: inlined, those stay in registers.
#define TONESHIFT_INLINE __attribute__((always_inline))
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "viqr/decoder/decode_run_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace toneshift::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using namespace toneshift::detail;

// Bit j of each: byte j of a block is a letter byte, acts as a mark, is the escape character.
struct block_bits {
    std::uint32_t letters, marks, escapes;
};

#if HWY_TARGET == HWY_SCALAR
// One lane holds no 16-byte table: the class table, byte by byte.
struct Classifier {
    const std::uint8_t* table;
    unsigned escape;

    Classifier(const std::uint8_t* t, unsigned e, const ascii_sets&) : table(t), escape(e) {}
    block_bits operator()(const std::uint8_t* s) const {
        block_bits r{0, 0, 0};
        for (std::size_t j = 0; j < kBlock; ++j) {
            const unsigned k = table[s[j]];
            r.letters |= std::uint32_t(is_letter_class(k)) << j;
            r.marks |= std::uint32_t(acts_as_mark(k)) << j;
            r.escapes |= std::uint32_t(s[j] == escape) << j;
        }
        return r;
    }
};
#else
using D = hn::CappedTag<std::uint8_t, kBlock>;
using V = hn::Vec<D>;

// The top bit of every lane, as bits.
HWY_INLINE std::uint32_t top_bits(V v) {
#if HWY_TARGET == HWY_AVX2
    return std::uint32_t(_mm256_movemask_epi8(v.raw));
#elif HWY_TARGET == HWY_SSE4 || HWY_TARGET == HWY_SSSE3
    return std::uint32_t(_mm_movemask_epi8(v.raw));
#else
    const D d;
    const hn::RebindToSigned<D> di;
    std::uint8_t bytes[kBlock / 8] = {};
    hn::StoreMaskBits(d, hn::RebindMask(d, hn::Lt(hn::BitCast(di, v), hn::Zero(di))), bytes);
    std::uint32_t bits = 0;
    for (std::size_t j = 0; j < kBlock / 8; ++j) bits |= std::uint32_t(bytes[j]) << (8 * j);
    return bits;
#endif
}

struct Classifier {
    V letters, marks, high_bits, low_nibble, below_top, escape;

    HWY_ATTR Classifier(const std::uint8_t*, unsigned e, const ascii_sets& sets) {
        const D d;
        letters = hn::LoadDup128(d, sets.letters.data());
        marks = hn::LoadDup128(d, sets.marks.data());
        high_bits = hn::LoadDup128(d, high_nibble_bits.data());
        low_nibble = hn::Set(d, 0x0F);
        below_top = hn::Set(d, 0x7F);
        escape = hn::Set(d, static_cast<std::uint8_t>(e));
    }

    HWY_ATTR block_bits operator()(const std::uint8_t* s) const {
        const D d;
        const hn::Repartition<std::uint16_t, D> d16;
        constexpr std::size_t lanes = hn::MaxLanes(D());
        block_bits r{0, 0, 0};
        for (std::size_t part = 0; part < kBlock / lanes; ++part) {
            const V v = hn::LoadU(d, s + part * lanes);
            const V low = hn::And(v, low_nibble);
            const V high =
                hn::And(hn::BitCast(d, hn::ShiftRight<4>(hn::BitCast(d16, v))), low_nibble);
            const V bit = hn::TableLookupBytes(high_bits, high);  // 0 from 0x80 up
            // A lane whose looked-up bits meet `bit` gets its top bit set by the saturated
            // add; a byte from 0x80 up has its own top bit set.
            const V letter = hn::Or(
                hn::SaturatedAdd(hn::And(hn::TableLookupBytes(letters, low), bit), below_top), v);
            const V mark = hn::Or(
                hn::SaturatedAdd(hn::And(hn::TableLookupBytes(marks, low), bit), below_top), v);
            const unsigned shift = unsigned(part * lanes);
            r.letters |= top_bits(letter) << shift;
            r.marks |= top_bits(mark) << shift;
            r.escapes |= top_bits(hn::VecFromMask(d, hn::Eq(v, escape))) << shift;
        }
        return r;
    }
};
#endif

#if HWY_TARGET == HWY_AVX2
// Whole blocks composed in vectors (one vector is one block here).
static_assert(hn::MaxLanes(D()) == kBlock);

using DI = hn::RebindToSigned<D>;
using D128 = hn::Full128<std::uint8_t>;

// A stepped table's rows, one vector each (both halves alike).
template <std::size_t kRows>
struct vector_rows {
    V row[kRows];
    HWY_ATTR explicit vector_rows(const stepped_table<kRows>& rows) {
        const D d;
        for (std::size_t r = 0; r < kRows; ++r) row[r] = hn::LoadDup128(d, rows[r].data());
    }
    // Lane by lane, the table's entry at each index of v.
    HWY_ATTR HWY_INLINE V operator()(V v) const {
        const D d;
        const DI di;
        const auto sixteen = hn::Set(di, 16);
        auto x = hn::BitCast(di, v);
        V r = hn::TableLookupBytesOr0(row[0], hn::BitCast(d, x));
        for (std::size_t step = 1; step < kRows; ++step) {
            x = hn::SaturatedSub(x, sixteen);
            r = hn::Xor(r, hn::TableLookupBytesOr0(row[step], hn::BitCast(d, x)));
        }
        return r;
    }
};

// The lookups of the vector composition.
struct Composer {
    vector_rows<6> codes;  // of each byte less 0x20
    vector_rows<3> allowed, marks;
    vector_rows<8> composed_low;
    vector_rows<3> composed_high;
    V steps, shape_bits, tone_bits, stroke_bit, low_nibble, mode_code, escape;

    HWY_ATTR Composer(const ascii_sets& sets, unsigned escape_char)
        : codes(sets.code_rows),
          allowed(allowed_rows),
          marks(mark_bits_rows),
          composed_low(composed_low_rows),
          composed_high(composed_high_rows) {
        const D d;
        steps = hn::LoadDup128(d, step_by_shape_bits.data());
        shape_bits = hn::Set(d, kMarkBreve | kMarkCircumflex | kMarkHorn);
        tone_bits = hn::Set(d, kMarkTone);
        stroke_bit = hn::Set(d, kMarkStroke);
        low_nibble = hn::Set(d, 0x0F);
        mode_code = hn::Set(d, kModeLetterCode);
        escape = hn::Set(d, static_cast<std::uint8_t>(escape_char));
    }

    // The composed byte of each index below 176 (letter state * 6 + tone column).
    HWY_ATTR HWY_INLINE V composed(V index) const {
        const D d;
        return hn::Xor(composed_low(index), composed_high(hn::Xor(index, hn::Set(d, 0x80))));
    }
};

// The class codes of one block, and the mark bits they add.
struct block_codes {
    V bytes, codes, marks;
};

HWY_ATTR HWY_INLINE block_codes code_block(const Composer& composer, const std::uint8_t* s) {
    const D d;
    const DI di;
    const V bytes = hn::LoadU(d, s);
    const V codes =
        composer.codes(hn::BitCast(d, hn::SaturatedSub(hn::BitCast(di, bytes), hn::Set(di, 0x20))));
    return {bytes, codes, composer.marks(codes)};
}

// Lanes k.. of a followed by lanes ..k of b.
template <int k>
HWY_ATTR HWY_INLINE V lanes_from(V a, V b) {
    const D d;
    return hn::CombineShiftRightBytes<k>(d, hn::ConcatLowerUpper(d, b, a), a);
}

HWY_ATTR HWY_INLINE std::uint64_t lane_bits(hn::Mask<D> m) {
    return top_bits(hn::VecFromMask(D(), m));
}
#endif

// Copies kBlock bytes.
HWY_INLINE void copy_block(unsigned char* to, const std::uint8_t* from) {
#if HWY_TARGET == HWY_SCALAR
    std::memcpy(to, from, kBlock);
#else
    const D d;
    constexpr std::size_t lanes = hn::MaxLanes(D());
    for (std::size_t part = 0; part < kBlock / lanes; ++part)
        hn::StoreU(hn::LoadU(d, from + part * lanes), d, to + part * lanes);
#endif
}

constexpr bool is_letter(unsigned k) {
    return k - kFirstLetterClass <= unsigned(kLastLetterClass - kFirstLetterClass);
}

// The phases of the machine below: the record's phases, and the byte after the escape.
constexpr unsigned kNoLetter = 0, kBaseLetter = 1, kShapeLetter = 2, kAfterEscape = 3;

}  // namespace

std::size_t DecodeRun(int ctx, const unsigned char* in, std::size_t n, unsigned char* out) {
    if (!is_context(ctx)) return 0;  // a step on no context writes nothing
    decoder_context& c = context_slots[std::size_t(ctx)];
    const std::uint8_t* const cls = active_class_table.data();
    const unsigned esc = c.escape_char;
    // The escape character after itself, unless it is a mode letter (no byte value else).
    const unsigned doubled_escape = mode_letters[esc] < 0 ? esc : 0x100;
    viqr_record rec = c.record;
    // The machine below relies on the escape character and 0x00 having no class, and on
    // every path it takes returning to compose mode.
    if (n == 0 || c.deferred == 0 || cls[0] != kClassNone || cls[esc] != kClassNone ||
        c.resume_state != VIQR_MODE_COMPOSE)
        return decode_run_general(ctx, in, n, out);
    unsigned entry = kNoLetter;
    switch (c.state) {
        case VIQR_MODE_COMPOSE:
            if (rec.phase != 0) return decode_run_general(ctx, in, n, out);
            break;
        case VIQR_HOLDING:
            if (c.pending_char == 0 || rec.letter_state >= kLetterStateCount ||
                (rec.phase != 1 && rec.phase != 2))
                return decode_run_general(ctx, in, n, out);
            entry = rec.phase;
            break;
        case VIQR_AFTER_ESCAPE:
            if (rec.phase != 0) return decode_run_general(ctx, in, n, out);
            entry = kAfterEscape;
            break;
        default:
            return decode_run_general(ctx, in, n, out);
    }

    // What the rules left where they last stopped (input position h_end): the phase, the
    // letter state and the record's base. At a later position all three follow from the byte
    // before it.
    std::size_t h_end = 0;
    unsigned ph = entry, S = rec.letter_state, base = rec.base_char;
    // The fields that only show at the end. The held letter is the last letter byte that
    // opened a letter, at pend_from or later, else pend_val; the first mark character is the
    // byte after the last letter byte that opened a letter, else m1c. Every letter byte
    // opens a letter but a stroke mark; of those only the last, at stroke_at, can be met
    // when looking back. The second mark character is kept as it is read.
    struct {
        std::size_t pend_from, stroke_at;
        unsigned pend_val, m2c, m2k;
    } late{0, ~std::size_t(0), c.pending_char, rec.mark2_char, rec.mark2_class};
    unsigned m1c = rec.mark1_char, m1k = rec.mark1_class;
    if (entry == kBaseLetter) {  // the held letter is not in the input: its first mark is
        m1c = in[0];
        m1k = cls[m1c];
    }

    // The output of input position q is at buf + q + dq, up to position h_end and through
    // the bytes copied after it.
    // Past kFlushAt: a block's output, and the whole vectors written past it.
    alignas(64) unsigned char buf[kFlushAt + 4 * kBlock];
    std::ptrdiff_t dq = 0;
    unsigned char* w = out;  // the final output copied out so far
    // A held letter is written as if it had just been read.
    if (entry == kBaseLetter || entry == kShapeLetter) {
        buf[0] = static_cast<unsigned char>(late.pend_val);
        dq = 1;
    }
    // Whether the output up to input position e ends with a held letter.
    auto holding = [&](std::size_t e) TONESHIFT_INLINE {
        return e == h_end ? ph == kBaseLetter || ph == kShapeLetter : is_letter(cls[in[e - 1]]);
    };
    // Copies out the output up to input position e, but a held letter.
    auto flush = [&](std::size_t e) TONESHIFT_INLINE {
        const std::size_t keep = holding(e) ? 1 : 0;
        const auto fill = std::size_t(std::ptrdiff_t(e) + dq);
        std::memcpy(w, buf, fill - keep);
        w += fill - keep;
        if (keep != 0) buf[0] = buf[fill - 1];
        dq = std::ptrdiff_t(keep) - std::ptrdiff_t(e);
    };

    const ascii_sets& sets = active_ascii_sets();
    const Classifier classify(cls, esc, sets);
    std::uint64_t carry = 0;  // whether the byte before the block is a letter byte
    int mode = -1;
    // One block of len bytes at input position i, whose bytes are at s; s can be read
    // kBlock + kReach bytes past the block. False when an escape sequence left compose mode.
    // In the last blocks (kLast) the rules can meet the end of the input.
    auto block = [&]<bool kLast>(std::size_t i, const std::uint8_t* s, std::size_t len,
                                 std::uint64_t force) HWY_ATTR TONESHIFT_INLINE {
        // The rules may have taken the first bytes already.
        const std::size_t from = h_end > i ? h_end : i;
        copy_block(buf + (std::ptrdiff_t(from) + dq), s + (from - i));
        const block_bits bb = classify(s);
        std::uint64_t bits =
            bb.escapes | (bb.marks & (std::uint64_t(bb.letters) << 1 | carry)) | force;
        carry = bb.letters >> (kBlock - 1);
        if (len < kBlock) bits &= ~(~std::uint64_t(0) << len);
        if (from != i) bits &= ~std::uint64_t(0) << (from - i);
        while (bits != 0) {
            // The rules from byte q on; o is the output of q.
            std::size_t q = i + std::size_t(__builtin_ctzll(bits));
            unsigned char* o = buf + (std::ptrdiff_t(q) + dq);
            unsigned b, k;
            if (q == h_end) {
                if (ph == kShapeLetter) goto shape_letter;
                if (ph == kAfterEscape) goto after_escape;
                if (ph == kNoLetter) goto no_letter;
            } else {
                base = in[q - 1];
                S = cls[base];
                if (!is_letter(S)) goto no_letter;
            }
            // A letter open in letter state S, written last.
            b = in[q];
            k = cls[b];
            {
                const unsigned m = first_mark_outcome[S * 256 + k];
                if ((m & kFirstMarkAccepted) != 0) {
                    S = m >> kFirstMarkStateShift & kFirstMarkStateMask;
                    o[-1] = static_cast<unsigned char>(m);
                    ++q;
                    if ((m & kFirstMarkShape) != 0) {
                        late.pend_val = m & 0xFF;
                        late.pend_from = q;
                        goto shape_letter;
                    }
                    if (__builtin_expect(is_letter(k), 0)) late.stroke_at = q - 1;
                    ph = kNoLetter;
                    goto one_byte;
                }
            }
            goto other;
        shape_letter:
            // A letter with its shape mark, written last: only a tone mark composes.
            if (kLast && q == n) {
                ph = kShapeLetter;
                goto more_bytes;
            }
            b = in[q];
            k = cls[b];
            late.m2c = b;
            late.m2k = k;
            if (const unsigned r = tone_after_shape[S * 64 + k]; r != 0) {
                o[-1] = static_cast<unsigned char>(r);
                ++q;
                ph = kNoLetter;
                goto more_bytes;
            }
            goto other;
        no_letter:
            b = in[q];
            k = cls[b];
            if (b == esc) {
                ++q;
                // The commonest escape sequence, the escape character twice, at once.
                if ((!kLast || q != n) && in[q] == doubled_escape) goto doubled;
                goto after_escape;
            }
        other:
            // b (class k) is no mark of an open letter: it makes itself the record's base.
            base = b;
            S = k;
            ++q;
            if (is_letter(k)) {  // opens a letter, held (and written as if it were not)
                *o++ = static_cast<unsigned char>(b);
                ph = kBaseLetter;
                goto more_bytes;
            }
            if (b == esc) goto after_escape;  // after a held letter, only now recognised
            *o++ = static_cast<unsigned char>(b);
            ph = kNoLetter;
            goto more_bytes;
        after_escape:
            if (kLast && q == n) {
                ph = kAfterEscape;
                goto more_bytes;
            }
            b = in[q];
            {
                const int selected = mode_letters[b];
                if (selected >= 0) {  // the held letter and the record stay as they are
                    ++q;
                    if (selected == VIQR_MODE_COMPOSE) {
                        ph = kNoLetter;
                        goto more_bytes;
                    }
                    mode = selected;
                    ph = kAfterEscape;
                    h_end = q;
                    dq = (o - buf) - std::ptrdiff_t(q);
                    return false;
                }
            }
            // 0x00 (class 0) closes the record, which has no letter open; nothing is held.
        doubled:
            late.pend_val = 0;
            late.pend_from = q;
            if (b == esc) {  // one escape character for the two read
                *o++ = static_cast<unsigned char>(b);
                base = 0;
                S = 0;
                ++q;
                ph = kNoLetter;
                goto more_bytes;
            }
            k = cls[b];
            goto other;
        more_bytes:
            // The rules took more than the byte of the lowest bit, or left the byte after
            // them to the next.
            bits &= ~std::uint64_t(0) << (q - i);
            goto taken;
        one_byte:
            bits &= bits - 1;
        taken:
            h_end = q;
            dq = (o - buf) - std::ptrdiff_t(q);
            copy_block(o, s + (q - i));
        }
        return true;
    };
#if HWY_TARGET == HWY_AVX2
    // Blocks from input position i on, up to stop, composed in vectors for as long as every
    // byte in them that needs the rules is one of the common kinds: a mark after a letter,
    // a tone after a shape mark, an escape character before a byte that selects no mode.
    // Each block's letters take their marks from up to two bytes past it. The bytes of block
    // i are at s, which can be read two blocks past each block and holds only bytes of
    // class 0 past the input's end. here holds the class codes of block i and follows i.
    // Leaves i at the first block not composed, and the machine's state as the rules would.
    const bool compose_in_vectors = sets.codes_usable && mode_letters[esc] < 0;
    const Composer composer(sets, esc);
    // In the last blocks (kLast) the input can end less than two blocks past a block.
    auto vector_blocks = [&]<bool kLast>(std::size_t& i, const std::uint8_t* s, std::size_t stop,
                                         block_codes& here) HWY_ATTR TONESHIFT_INLINE {
        const D d;
        const std::size_t first_i = i;
        // The first byte the rules have not taken, and whether a letter is open before it
        // that takes it as a mark.
        std::size_t from = h_end > i ? h_end : i;
        bool refused = from >= n;
        if (!refused) {
            unsigned open_state = 0;
            if (h_end >= i) {
                refused = ph == kShapeLetter || ph == kAfterEscape;
                if (ph == kBaseLetter) open_state = S;
            } else {
                open_state = cls[in[i - 1]];
            }
            refused =
                refused ||
                (is_letter(open_state) &&
                 (first_mark_outcome[open_state * 256 + cls[in[from]]] & kFirstMarkAccepted) != 0);
        }
        unsigned char* o = buf + (std::ptrdiff_t(from) + dq);
        // Of the last block composed: its place, its last byte, and which of its bytes were
        // taken as marks, as second marks, and after an acting escape character.
        std::size_t last_i = 0, end = 0;
        std::uint64_t last_taken = 0, last_took2 = 0, last_shaped = 0, last_escaped = 0;
        // Whether the block before ended with an escape character that acts on the byte
        // after it.
        std::uint64_t escape_carry = 0;
        // The last blocks with a letter that took a shape mark, with a byte after an acting
        // escape character, with a stroke, and which bytes those are.
        std::size_t shaped_i = 0, escaped_i = 0, stroke_i = 0;
        std::uint64_t shaped = 0, escaped_bits = 0, stroke_bits = 0;
        constexpr std::uint64_t kLastLane = std::uint64_t(1) << (kBlock - 1);
        constexpr std::uint64_t kBlockLanes = (kLastLane << 1) - 1;
        constexpr std::uint64_t kEven = 0x5555555555555555;
        while (i < stop) {
            const block_codes next = code_block(composer, s + (i - first_i) + kBlock);
            const block_codes cur = here;
            here = next;
            if (refused || from >= n) break;  // refused, or nothing left to take
            const std::size_t ahead = n - i;
            const std::size_t len = !kLast || ahead >= kBlock ? kBlock : ahead;
            const std::uint64_t inside =  // the lanes of input
                !kLast || ahead >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << ahead) - 1;
            const std::uint64_t valid = inside & ~std::uint64_t(0) << (from - i);

            // Lane j: what the bytes after byte j add as marks.
            const V marks1 = lanes_from<1>(cur.marks, next.marks);
            const V marks2 = lanes_from<2>(cur.marks, next.marks);
            const V zero = hn::Zero(d);
            const auto first = hn::Ne(hn::And(composer.allowed(cur.codes), marks1), zero);
            const auto shape = hn::And(first, hn::Ne(hn::And(marks1, composer.shape_bits), zero));
            const auto second = hn::And(shape, hn::Ne(hn::And(marks2, composer.tone_bits), zero));
            const std::uint64_t took1 = lane_bits(first) & valid;
            const std::uint64_t took_shape = lane_bits(shape) & valid;
            const std::uint64_t took2 = lane_bits(second) & valid;
            const std::uint64_t strokes =
                lane_bits(hn::And(first, hn::Eq(marks1, composer.stroke_bit))) & valid;
            // Escape characters and mode letters past the block change nothing in it (an
            // escape character at its last byte is refused below).
            const std::uint64_t escapes = lane_bits(hn::Eq(cur.bytes, composer.escape)) & valid;
            const std::uint64_t modes = lane_bits(hn::Eq(cur.codes, composer.mode_code));
            const std::uint64_t high = top_bits(cur.bytes) | std::uint64_t(top_bits(next.bytes))
                                                                 << kBlock;
            // The escape characters that act: the first of each pair in a run of them, the
            // run starting one byte before the block when the block before left one waiting.
            const std::uint64_t escapes_from = escapes << 1 | escape_carry;
            const std::uint64_t even_runs =
                escapes_from & ~(escapes_from + (escapes_from & ~(escapes_from << 1) & kEven));
            const std::uint64_t escapers_from =
                (even_runs & kEven) | (escapes_from & ~even_runs & ~kEven);
            const std::uint64_t escapers = escapers_from >> 1;
            const std::uint64_t taken = took1 << 1 | took2 << 2;  // marks composed
            // The rules read on past the block after an escape character at its last byte,
            // and after a shape mark at its last byte or the first past it that no tone
            // follows; the next block takes that byte as they would. Refused: a mode letter
            // after an escape character, and bytes left waiting at the input's end.
            const std::uint64_t last = std::uint64_t(1) << (len - 1);
            const std::uint64_t waits = took_shape & ~took2 & (last | last >> 1);
            if (((high & (kLastLane << 3) - 1) | (escapers_from & modes) | (took1 & took1 << 1)) !=
                    0 ||
                (kLast && ((escapers & ~(inside >> 1)) | (waits & ~(inside >> 2))) != 0))
                break;
            escape_carry = escapers >> (len - 1) & 1;

            // The block's output: each letter composed with its marks, the marks taken and
            // the acting escape characters left out.
            const V shifted = hn::BitCast(
                d, hn::ShiftRight<3>(hn::BitCast(hn::Repartition<std::uint16_t, D>(), marks1)));
            const V state = hn::Add(
                cur.codes,
                hn::TableLookupBytes(composer.steps, hn::And(shifted, composer.low_nibble)));
            const V tone =
                hn::And(hn::Or(marks1, hn::IfThenElseZero(second, marks2)), composer.tone_bits);
            const V three = hn::Add(hn::Add(state, state), state);
            const V out = hn::IfThenElse(
                first, composer.composed(hn::Add(hn::Add(three, three), tone)), cur.bytes);
            const std::uint64_t keep = valid & ~taken & ~escapers & kBlockLanes;
            const D128 d16;
            const hn::Vec<D128> halves[2] = {hn::LowerHalf(out), hn::UpperHalf(d16, out)};
            // Each group's place counted from the block's start, so that the groups do not
            // wait for one another.
            for (std::size_t g = 0; g < kBlock / 8; ++g) {
                const unsigned m = unsigned(keep >> (8 * g)) & 0xFF;
                const std::uint8_t* indices =
                    g % 2 == 0 ? pack_indices.data() : pack_indices_high.data();
                const auto before =
                    unsigned(__builtin_popcountll(keep & ((std::uint64_t(1) << (8 * g)) - 1)));
                hn::StoreU(hn::TableLookupBytes(halves[g / 2], hn::LoadU(d16, indices + 8 * m)),
                           d16, o + before);
            }
            o += __builtin_popcountll(keep);

            const std::uint64_t escaped = escapers_from & kBlockLanes;
            // Conditional moves: whether a block has these is hard to foretell.
            shaped_i = took_shape != 0 ? i : shaped_i;
            shaped = took_shape != 0 ? took_shape : shaped;
            escaped_i = escaped != 0 ? i : escaped_i;
            escaped_bits = escaped != 0 ? escaped : escaped_bits;
            stroke_i = strokes != 0 ? i : stroke_i;
            stroke_bits = strokes != 0 ? strokes : stroke_bits;
            last_i = i;
            last_taken = taken;
            last_took2 = took2;
            last_shaped = took_shape;
            last_escaped = escaped;
            // Where the rules take over: after the block and the marks its letters took past it.
            end = i + len + std::size_t(taken >> len & 1) + std::size_t(taken >> (len + 1) & 1);
            from = end;
            i += kBlock;
            if (o - buf >= std::ptrdiff_t(kFlushAt)) {  // copied out, but the last byte
                const auto fill = std::size_t(o - buf) - 1;
                std::memcpy(w, buf, fill);
                w += fill;
                buf[0] = buf[fill];
                o = buf + 1;
            }
        }
        if (i == first_i) return;

        // The machine's state after the last byte taken, or waiting for the next.
        h_end = end;
        dq = (o - buf) - std::ptrdiff_t(end);
        // What the first mark after the letter at input position p does.
        const auto outcome_at = [&](std::size_t p) {
            return first_mark_outcome[cls[in[p]] * 256 + cls[in[p + 1]]];
        };
        // After the byte of input position t of the last block; after a shape mark, its
        // letter waits for a tone.
        const auto state_after = [&](std::size_t t) {
            const std::size_t lane = t - last_i;
            if ((last_taken >> lane & 1) != 0) {  // a mark composed
                const bool second_mark = lane >= 2 && (last_took2 >> (lane - 2) & 1) != 0;
                const std::size_t letter = second_mark ? t - 2 : t - 1;
                base = in[letter];
                S = outcome_at(letter) >> kFirstMarkStateShift & kFirstMarkStateMask;
                ph =
                    !second_mark && (last_shaped >> (lane - 1) & 1) != 0 ? kShapeLetter : kNoLetter;
            } else if ((last_escaped >> lane & 1) != 0 && in[t] == esc) {
                base = 0;
                S = 0;
                ph = kNoLetter;
            } else {
                base = in[t];
                S = cls[base];
                ph = is_letter(S) ? kBaseLetter : kNoLetter;
            }
        };
        if (escape_carry != 0) {  // an escape character, the block's last byte
            state_after(end - 2);
            if (ph != kNoLetter) {  // the escape character closed the letter
                base = esc;
                S = 0;
            }
            ph = kAfterEscape;
        } else {
            state_after(end - 1);
        }
        carry = i <= n && is_letter(cls[in[i - 1]]) ? 1 : 0;  // for a next block
        // The record's fields that show at the end.
        const auto at = [](std::size_t block_i, std::uint64_t bits) {
            return bits != 0 ? std::ptrdiff_t(block_i) + (63 - __builtin_clzll(bits)) : -1;
        };
        const std::ptrdiff_t shaped_at = at(shaped_i, shaped);
        const std::ptrdiff_t escaped_at = at(escaped_i, escaped_bits);
        const std::ptrdiff_t stroke_at = at(stroke_i, stroke_bits);
        if (shaped_at >= 0) {
            const auto p = std::size_t(shaped_at);
            late.m2c = in[p + 2];
            late.m2k = cls[late.m2c];
        }
        if (shaped_at >= 0 && shaped_at + 2 > escaped_at) {
            const auto p = std::size_t(shaped_at);
            late.pend_val = outcome_at(p) & 0xFF;
            late.pend_from = p + 2;
        } else if (escaped_at >= 0) {
            late.pend_val = 0;
            late.pend_from = std::size_t(escaped_at);
        }
        if (stroke_at >= 0) late.stroke_at = std::size_t(stroke_at) + 1;
    };
#endif

    // After input position i, when the buffer is full enough.
    auto flush_after = [&](std::size_t i) TONESHIFT_INLINE {
        const std::size_t e = h_end > i ? h_end : i;
        if (std::ptrdiff_t(e) + dq >= std::ptrdiff_t(kFlushAt)) flush(e);
    };

    std::size_t i = 0;
    bool in_compose = true;
    // A held letter or a waiting escape character: the first byte goes through the rules.
    auto rules_block = [&]<bool kLast>(const std::uint8_t* s,
                                       std::size_t len) HWY_ATTR TONESHIFT_INLINE {
        // A letter with its shape mark or an escape character left by the vectors waits for
        // the byte at h_end.
        const std::uint64_t force = i == 0 && entry != kNoLetter ? 1
                                    : h_end >= i && (ph == kShapeLetter || ph == kAfterEscape)
                                        ? std::uint64_t(1) << (h_end - i)
                                        : 0;
        return block.template operator()<kLast>(i, s, len, force);
    };
    if (n >= kMainMargin) {
#if HWY_TARGET == HWY_AVX2
        block_codes here = code_block(composer, in);
#endif
        const std::size_t last = n - kMainMargin;  // the last block read from the input
        while (i <= last) {
#if HWY_TARGET == HWY_AVX2
            if (compose_in_vectors) {
                vector_blocks.template operator()<false>(i, in + i, last + 1, here);
                if (i > last) break;
            }
#endif
            // A block the vectors left to the rules.
            if (!rules_block.template operator()<false>(in + i, kBlock)) {
                in_compose = false;
                break;
            }
            i += kBlock;
            flush_after(i);
        }
    }
    if (in_compose && i < n) {
        // The last blocks, from a copy that can be read past the end.
        alignas(64) std::uint8_t tail[kMainMargin + 2 * kBlock + kReach] = {};
        const std::size_t from = i;
        std::memcpy(tail, in + from, n - from);
#if HWY_TARGET == HWY_AVX2
        block_codes here = code_block(composer, tail);
#endif
        while (in_compose && i < n) {
#if HWY_TARGET == HWY_AVX2
            if (compose_in_vectors) {
                vector_blocks.template operator()<true>(i, tail + (i - from), n, here);
                if (i >= n) break;
            }
#endif
            const std::size_t len = n - i < kBlock ? n - i : kBlock;
            in_compose = rules_block.template operator()<true>(tail + (i - from), len);
            i += kBlock;
            if (in_compose) flush_after(i - kBlock + len);
        }
    }

    // The context brought up to date at input position e.
    const std::size_t e = in_compose ? n : h_end;
    if (e != h_end) {
        base = in[e - 1];
        S = cls[base];
        ph = is_letter(S) ? kBaseLetter : kNoLetter;
    }
    unsigned pend = late.pend_val;
    for (std::size_t t = e; t > late.pend_from;) {
        --t;
        if (is_letter(cls[in[t]]) && t != late.stroke_at) {
            pend = in[t];
            break;
        }
    }
    for (std::size_t t = e - 1; t > 0;) {
        --t;
        if (is_letter(cls[in[t]]) && t != late.stroke_at) {
            m1c = in[t + 1];
            m1k = cls[m1c];
            break;
        }
    }
    rec.phase = static_cast<std::uint8_t>(ph == kAfterEscape ? 0 : ph);
    rec.base_char = static_cast<std::uint8_t>(base);
    rec.letter_state = static_cast<std::uint8_t>(S);
    rec.mark1_char = static_cast<std::uint8_t>(m1c);
    rec.mark1_class = static_cast<std::uint8_t>(m1k);
    rec.mark2_char = static_cast<std::uint8_t>(late.m2c);
    rec.mark2_class = static_cast<std::uint8_t>(late.m2k);
    c.record = rec;
    c.pending_char = static_cast<std::uint8_t>(pend);
    c.resume_state = VIQR_MODE_COMPOSE;
    if (mode >= 0) {  // pass or literal mode from here on
        c.state = mode;
        flush(e);
        return std::size_t(w - out) + decode_run_general(ctx, in + e, n - e, w);
    }
    c.state = ph == kNoLetter      ? VIQR_MODE_COMPOSE
              : ph == kAfterEscape ? VIQR_AFTER_ESCAPE
                                   : VIQR_HOLDING;
    flush(e);
    return std::size_t(w - out);
}

}  // namespace toneshift::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace toneshift {

std::size_t viqr_decode_run(int ctx, const unsigned char* in, std::size_t n, unsigned char* out) {
    using Function = std::size_t (*)(int, const unsigned char*, std::size_t, unsigned char*);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(DecodeRun);
    static simd::Choice<Function> choice;
    return choice.get(variants)(ctx, in, n, out);
}

}  // namespace toneshift
#endif
