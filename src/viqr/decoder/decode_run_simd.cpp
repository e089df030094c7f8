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
    bool made = false;
};

// The sets of the active class table, made again only when its first half has changed.
inline const ascii_sets& active_ascii_sets() {
    static ascii_sets sets;
    const std::uint8_t* table = active_class_table.data();
    if (!sets.made || std::memcmp(sets.classes.data(), table, sets.classes.size()) != 0) {
        std::memcpy(sets.classes.data(), table, sets.classes.size());
        sets.letters.fill(0);
        sets.marks.fill(0);
        for (unsigned b = 0; b < 0x80; ++b) {
            const auto bit = static_cast<std::uint8_t>(1u << (b >> 4));
            if (is_letter_class(table[b])) sets.letters[b & 15] |= bit;
            if (acts_as_mark(table[b])) sets.marks[b & 15] |= bit;
        }
        sets.made = true;
    }
    return sets;
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
// Output is copied out of the buffer once it holds this much, looked at after every
// segment of input; what is copied out stays below the size from which memcpy moves bytes
// one instruction each.
inline constexpr std::size_t kFlushAt = 1024;
inline constexpr std::size_t kSegment = 512;
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
    alignas(64) unsigned char buf[kFlushAt + kSegment + 4 * kBlock];
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

    const Classifier classify(cls, esc, active_ascii_sets());
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
    // After input position i, when the buffer is full enough.
    auto flush_after = [&](std::size_t i) TONESHIFT_INLINE {
        const std::size_t e = h_end > i ? h_end : i;
        if (std::ptrdiff_t(e) + dq >= std::ptrdiff_t(kFlushAt)) flush(e);
    };

    std::size_t i = 0;
    bool in_compose = true;
    // A held letter or a waiting escape character: the first byte goes through the rules.
    if (n >= kMainMargin) {
        in_compose = block.operator()<false>(0, in, kBlock, entry != kNoLetter ? 1 : 0);
        i = kBlock;
        const std::size_t last = n - kMainMargin;  // the last block read from the input
        while (in_compose && i <= last) {
            const std::size_t stop = last - i < kSegment ? last + 1 : i + kSegment;
            for (; i < stop; i += kBlock) {
                if (!block.operator()<false>(i, in + i, kBlock, 0)) {
                    in_compose = false;
                    break;
                }
            }
            if (in_compose) flush_after(i);
        }
    }
    if (in_compose && i < n) {
        // The last blocks, from a copy that can be read past the end.
        alignas(64) std::uint8_t tail[kMainMargin + 2 * kBlock + kReach] = {};
        const std::size_t from = i;
        std::memcpy(tail, in + from, n - from);
        for (; in_compose && i < n; i += kBlock) {
            const std::size_t len = n - i < kBlock ? n - i : kBlock;
            in_compose = block.operator()<true>(i, tail + (i - from), len,
                                                i == 0 && entry != kNoLetter ? 1 : 0);
            if (in_compose) flush_after(i + len);
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
