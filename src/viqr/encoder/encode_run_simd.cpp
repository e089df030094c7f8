// viqr_encode_run in vectors. Most bytes of a text are written as themselves whatever byte
// comes before them: every byte below 0x80 that is no letter byte, no "d" or "D", no mark
// character and not the escape character, and the marks, "d" and "D" after a byte that no
// escape follows. Input is copied to the output as it is, a vector at a time, and only the
// bytes that may need more (found by nibble lookups of each byte and of the byte before it)
// are written, each with one four-byte store of a word looked up by the byte and the kind of
// the byte before it, followed by a new copy of the input from the byte after it. No byte
// takes a branch of its own. The end of a text is encoded from a padded copy, so that no
// vector reads or writes past the caller's bounds.
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "viqr/encoder/encode_step.h"
#include "viqr/encoder/viqr_encoder.h"
#include "viqr/encoder/viscii_classes.h"

#ifndef TONESHIFT_ENCODE_RUN_TABLES
#define TONESHIFT_ENCODE_RUN_TABLES
namespace toneshift::detail {

// The escape character that the callers use; the tables below hold its doubling, so a run
// with it compares no byte with the escape character.
inline constexpr unsigned char kUsualEscape = '\\';

// Whether byte b needs more than a copy: written as something else than itself, or escaped
// after some byte. The escape character is added apart.
inline constexpr auto needs_rules = [] {
    std::array<bool, 256> needs{};
    for (std::size_t b = 0; b < 256; ++b)
        needs[b] = escaped_after[b] != 0 || spelling_length[b] != 1 ||
                   (b != 0 && viqr_spelling[b][0] != b);
    return needs;
}();

// Sets of bytes as 16-byte tables indexed by the low nibble, for a vector to look up with
// the low and the high nibble of each byte: byte h * 16 + l is in the set when entry l and
// entry h of kByHighNibble share a bit. Below 0x80, bit h of entry l stands for byte
// h * 16 + l. The rows from 0x80 up take every bit: with `every_row`, a low nibble that no
// byte of the set has takes the control character 0x10 + l, which texts do not hold, so
// that no entry is 0 and every byte from 0x80 up is in the set.
inline constexpr std::array<std::uint8_t, 16> kByHighNibble{
    1, 2, 4, 8, 16, 32, 64, 128, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

template <typename Predicate>
constexpr std::array<std::uint8_t, 16> by_low_nibble(Predicate in_set, bool every_row) {
    std::array<std::uint8_t, 16> bits{};
    for (std::size_t b = 0; b < 0x80; ++b)
        if (in_set(b)) bits[b & 15] = std::uint8_t(bits[b & 15] | 1u << (b >> 4));
    if (every_row)
        for (std::uint8_t& entry : bits)
            if (entry == 0) entry = 1u << 1;
    return bits;
}

constexpr bool in_set(const std::array<std::uint8_t, 16>& low, std::size_t b) {
    return (low[b & 15] & kByHighNibble[b >> 4]) != 0;
}

// The bytes that the vectors write from the word table: every byte from 0x80 up, the bytes
// below it that are written as something else (control letters) and `escape`, if set;
// and the bytes that an escape may precede (marks, "d" and "D"), when the byte before them
// is one of a kind that may need it (a vowel, "d", "D", or any byte from 0x80 up). The table
// writes every byte right: a byte taken that needs nothing only costs time.
constexpr std::array<std::uint8_t, 16> always_special(int escape) {
    return by_low_nibble(
        [=](std::size_t b) {
            return (needs_rules[b] && escaped_after[b] == 0) || int(b) == escape;
        },
        true);
}
inline constexpr auto always_special_any = always_special(-1);
inline constexpr auto always_special_usual = always_special(kUsualEscape);
inline constexpr auto may_be_escaped =
    by_low_nibble([](std::size_t b) { return escaped_after[b] != 0; }, false);
inline constexpr auto may_need_escape_after =
    by_low_nibble([](std::size_t b) { return previous_kind[b] != 0; }, true);

// Every byte that the rules write as something else than itself after some byte is found
// after that byte (the escape character of the other table is found by a compare): a byte
// whose spelling is not itself, or the escape character, is always found; a byte escaped
// after another has escaped_after and that one previous_kind set, and both are found.
static_assert([] {
    for (std::size_t b = 0; b < 256; ++b) {
        const bool spelled_otherwise =
            spelling_length[b] != 1 || (b != 0 && viqr_spelling[b][0] != b);
        if ((spelled_otherwise || b == kUsualEscape) && !in_set(always_special_usual, b))
            return false;
        if (spelled_otherwise && !in_set(always_special_any, b)) return false;
        if (escaped_after[b] != 0 && !in_set(may_be_escaped, b) &&
            !(in_set(always_special_usual, b) && in_set(always_special_any, b)))
            return false;
        if (previous_kind[b] != 0 && !in_set(may_need_escape_after, b)) return false;
    }
    return true;
}());

// A byte as the vector path writes it after a byte of a given kind (previous_kind): what it
// is written as in the low three bytes, escape character included, and the number of those
// bytes less one in the high byte. Indexed by b * 8 + kind, so that no byte needs a branch.
inline constexpr std::size_t kKinds = 8;
static_assert([] {
    for (unsigned char k : previous_kind)
        if (k >= kKinds) return false;
    return true;
}());

constexpr std::uint32_t spelling_word(const Spelling& s, std::size_t length) {
    return std::uint32_t(s[0]) | std::uint32_t(s[1]) << 8 | std::uint32_t(s[2]) << 16 |
           std::uint32_t(length - 1) << 24;
}

// Every byte's word after a byte of no kind.
inline constexpr auto spelling_words = [] {
    std::array<std::uint32_t, 256> words{};
    for (std::size_t b = 0; b < 256; ++b)
        words[b] = spelling_word(viqr_spelling[b], spelling_length[b]);
    return words;
}();

// The word of byte b after a byte of the given kind, for the escape character `escape`, which
// is written doubled after any kind.
constexpr std::uint32_t word_after(unsigned char b, unsigned kind, unsigned char escape) {
    if (int(b) == escape_match(escape)) return spelling_word({escape, escape, 0, 0}, 2);
    const std::uint32_t w = spelling_words[b];
    if ((escaped_after[b] & kind) == 0) return w;
    // The escape character, then a spelling of at most two bytes (viscii_classes.h).
    return std::uint32_t(escape) | (w & 0xFFFF) << 8 | ((w >> 24) + 1) << 24;
}

// The words of every byte after every kind, for the escape character `escape`.
constexpr std::array<std::uint32_t, 256 * kKinds> run_words(unsigned char escape) {
    std::array<std::uint32_t, 256 * kKinds> words{};
    for (std::size_t b = 0; b < 256; ++b)
        for (std::size_t kind = 0; kind < kKinds; ++kind)
            words[b * kKinds + kind] =
                word_after(static_cast<unsigned char>(b), unsigned(kind), escape);
    return words;
}
inline constexpr auto usual_escape_words = run_words(kUsualEscape);

}  // namespace toneshift::detail
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "viqr/encoder/encode_run_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace toneshift::HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET != HWY_SCALAR  // one lane holds no 16-byte table

// The most lanes the vector path takes: its masks are 64-bit and its buffers for the end of
// a text are sized for it.
constexpr std::size_t kMaxLanes = 64;

// Encodes the whole vectors from t up to `end`, after t[-1], writing from o; returns where
// the output ends. `usual` says that escape_char is kUsualEscape, whose doubling the word
// table holds. Reads up to end + lanes - 1; writes at most 3 bytes for each byte encoded,
// then up to lanes bytes more that are no output: the callers see to both.
template <bool usual>
HWY_INLINE unsigned char* encode_vectors(const unsigned char* t, const unsigned char* end,
                                         unsigned char* o, unsigned char escape_char) {
    const hn::ScalableTag<std::uint8_t> d;
    const std::size_t lanes = hn::Lanes(d);
    const auto always_table = hn::LoadDup128(
        d, usual ? detail::always_special_usual.data() : detail::always_special_any.data());
    const auto escaped_table = hn::LoadDup128(d, detail::may_be_escaped.data());
    const auto after_table = hn::LoadDup128(d, detail::may_need_escape_after.data());
    const auto high_table = hn::LoadDup128(d, detail::kByHighNibble.data());
    const std::uint64_t all_lanes =
        lanes == 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << lanes) - 1;
    const auto low_nibble = hn::Set(d, 0x0F);
    [[maybe_unused]] const auto escape = hn::Set(d, escape_char);
    const hn::Repartition<std::uint16_t, decltype(d)> d16;
    // The special bytes of the vector at x, one bit each.
    auto special_bits = [&](const unsigned char* x) HWY_ATTR {
        const auto v = hn::LoadU(d, x);
        const auto p = hn::LoadU(d, x - 1);  // the byte before each
        auto high_row = [&](decltype(v) y) HWY_ATTR {
            return hn::TableLookupBytes(
                high_table,
                hn::And(hn::BitCast(d, hn::ShiftRight<4>(hn::BitCast(d16, y))), low_nibble));
        };
        const auto v_low = hn::And(v, low_nibble);
        const auto v_high = high_row(v);
        const auto always = hn::And(hn::TableLookupBytes(always_table, v_low), v_high);
        const auto escaped = hn::And(hn::TableLookupBytes(escaped_table, v_low), v_high);
        const auto after =
            hn::And(hn::TableLookupBytes(after_table, hn::And(p, low_nibble)), high_row(p));
        const auto zero = hn::Zero(d);
        auto plain =
            hn::And(hn::Eq(always, zero), hn::Or(hn::Eq(escaped, zero), hn::Eq(after, zero)));
        if constexpr (!usual) plain = hn::AndNot(hn::Eq(v, escape), plain);
        std::uint8_t bit_bytes[8] = {};
        hn::StoreMaskBits(d, plain, bit_bytes);
        std::uint64_t bits = 0;
        for (std::size_t b = 0; b < (lanes + 7) / 8; ++b)
            bits |= std::uint64_t(bit_bytes[b]) << (8 * b);
        return bits ^ all_lanes;
    };
    // The word of the byte at x, after the byte before it.
    auto word_at = [&](const unsigned char* x) HWY_ATTR {
        const unsigned char b = x[0];
        const unsigned char kind = detail::previous_kind[x[-1]];
        if constexpr (usual) return detail::usual_escape_words[b * detail::kKinds + kind];
        return detail::word_after(b, kind, escape_char);
    };
    // Two vectors at a time where their masks fit in 64 bits, so that the loop over the
    // special bytes, whose end the branch predictor cannot foresee, is left half as often.
    const std::size_t window = lanes <= 32 ? 2 * lanes : lanes;
    // The plain bytes after a special byte are copied 16 at a time: most runs of them are
    // short, and a 16-byte copy is cheaper to store than a wider one and crosses fewer cache
    // lines.
    const hn::CappedTag<std::uint8_t, 16> dc;
    const std::size_t copy = hn::Lanes(dc);
    auto window_bits = [&](const unsigned char* x) HWY_ATTR {
        std::uint64_t bits = special_bits(x);
        if (std::size_t(end - x) > lanes) bits |= special_bits(x + lanes) << lanes;
        return bits;
    };
    // Each window's special bytes are found while the window before it is written: when the
    // branch predictor misses the end of a window's loop, the next window's are at hand.
    std::uint64_t ahead = t < end ? window_bits(t) : 0;
    while (t < end) {
        const std::size_t size = std::min(window, std::size_t(end - t));
        std::uint64_t bits = ahead;
        if (t + size < end) ahead = window_bits(t + size);
        // Here and for every byte of the window, o + j is where t[j] is written if it is a
        // special byte, or copied to if it is not. The bytes before `copied` are in place.
        hn::StoreU(hn::LoadU(d, t), d, o);
        std::size_t copied = lanes;
        if (bits != 0) {
            std::size_t j = std::size_t(__builtin_ctzll(bits));
            bits &= bits - 1;
            std::uint32_t w = word_at(t + j);
            for (;;) {
                // The next special byte's word is read before this one's output is stored:
                // the reads need not wait for the stores.
                // (At the end, a byte of the window that is read for nothing: 64 & (window - 1).)
                const auto next = std::size_t(std::countr_zero(bits)) & (window - 1);
                const std::uint32_t next_w = word_at(t + next);
                while (copied < j) {  // plain bytes past the last copy, a vector at a time
                    hn::StoreU(hn::LoadU(d, t + copied), d, o + copied);
                    copied += lanes;
                }
                if constexpr (std::endian::native == std::endian::little) {
                    std::memcpy(o + j, &w, 4);
                } else {
                    o[j] = static_cast<unsigned char>(w);
                    o[j + 1] = static_cast<unsigned char>(w >> 8);
                    o[j + 2] = static_cast<unsigned char>(w >> 16);
                }
                o += w >> 24;
                // The plain bytes after it, copied again after what t[j] became.
                hn::StoreU(hn::LoadU(dc, t + j + 1), dc, o + j + 1);
                copied = j + 1 + copy;
                if (bits == 0) break;
                bits &= bits - 1;
                j = next;
                w = next_w;
            }
        }
        // The plain bytes up to the window's end, if the copies have not reached it (two
        // vectors, when a short copy after a special byte ends early in the window); else the
        // next window's first bytes, where it copies them again.
        std::size_t at = std::min(copied, size);
        if (at + lanes < size) {
            hn::StoreU(hn::LoadU(d, t + at), d, o + at);
            at += lanes;
        }
        hn::StoreU(hn::LoadU(d, t + at), d, o + at);
        o += size;
        t += size;
    }
    return o;
}

// Encodes text[1, length) for length >= 2, after text[0] whose output ends at o; the caller's
// output ends at out_end. Kept out of line, so that the compiler allocates each escape
// character's loop its registers on its own.
template <bool usual>
HWY_NOINLINE unsigned char* encode_rest(const unsigned char* text, std::size_t length,
                                        unsigned char* o, unsigned char escape_char,
                                        const unsigned char* out_end) {
    const hn::ScalableTag<std::uint8_t> d;
    const std::size_t lanes = hn::Lanes(d);
    // While a whole vector follows the last one, every read stays inside the text and every
    // write inside the bound: the output so far is at most 3i bytes, of 3 * length.
    const std::size_t whole = length >= 2 * lanes + 1 ? (length - 1 - lanes) / lanes : 0;
    const std::size_t i = 1 + whole * lanes;
    // The rest, fewer than two vectors, from a copy with the byte before it and zero bytes
    // after it (each written as one 0x00, whatever comes before). The copy is made first, so
    // that its stores are done before the vectors read it.
    const std::size_t rest = length - i;
    alignas(64) unsigned char in[1 + 3 * kMaxLanes] = {};
    in[0] = text[i - 1];
    std::memcpy(in + 1, text + i, rest);
    if (whole != 0) o = encode_vectors<usual>(text + 1, text + i, o, escape_char);
    const std::size_t padded = (rest + lanes - 1) / lanes * lanes;
    // Straight into the caller's output where everything written fits; else into a buffer
    // of its own, copied out.
    const std::size_t most = 3 * rest + (padded - rest) + lanes;
    if (std::size_t(out_end - o) >= most)
        return encode_vectors<usual>(in + 1, in + 1 + padded, o, escape_char) - (padded - rest);
    alignas(64) unsigned char out[7 * kMaxLanes + 4];
    const unsigned char* written_end =
        encode_vectors<usual>(in + 1, in + 1 + padded, out, escape_char);
    const auto n = std::size_t(written_end - out) - (padded - rest);
    std::memcpy(o, out, n);
    return o + n;
}

#endif

std::size_t EncodeRun(const unsigned char* text, std::size_t length, unsigned char previous,
                      unsigned char* out, unsigned char escape_char) {
    const int match = detail::escape_match(escape_char);
    unsigned char* o = out;
#if HWY_TARGET != HWY_SCALAR
    const hn::ScalableTag<std::uint8_t> d;
    if (hn::Lanes(d) <= kMaxLanes && length >= 2) {
        // The first byte follows `previous`; every later one follows the byte before it.
        o = detail::encode_after(previous, text[0], o, escape_char, match);
        unsigned char* const out_end = out + 3 * length;
        o = escape_char == detail::kUsualEscape
                ? encode_rest<true>(text, length, o, escape_char, out_end)
                : encode_rest<false>(text, length, o, escape_char, out_end);
        return std::size_t(o - out);
    }
#endif
    for (std::size_t i = 0; i < length; ++i)
        o = detail::encode_after(i > 0 ? text[i - 1] : previous, text[i], o, escape_char, match);
    return std::size_t(o - out);
}

}  // namespace toneshift::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace toneshift {

std::size_t viqr_encode_run(const unsigned char* text, std::size_t length, unsigned char previous,
                            unsigned char* out, unsigned char escape_char) {
    using Function = std::size_t (*)(const unsigned char*, std::size_t, unsigned char,
                                     unsigned char*, unsigned char);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(EncodeRun);
    static simd::Choice<Function> choice;
    return choice.get(variants)(text, length, previous, out, escape_char);
}

}  // namespace toneshift
#endif
