// viqr_encode_run in vectors. Most bytes of a text are written as themselves whatever byte
// comes before them: every byte below 0x80 that is no letter byte, no "d" or "D", no mark
// character and not the escape character. A vector of input is copied to the output as it
// is, and only the bytes that need more (found with two nibble lookups and two compares) are
// written one by one, by the same rules as the byte-by-byte encoder, each followed by a new
// copy of the input from the byte after it.
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include <array>
#include <cstddef>
#include <cstdint>

#include "viqr/encoder/encode_step.h"
#include "viqr/encoder/viqr_encoder.h"
#include "viqr/encoder/viscii_classes.h"

#ifndef TONESHIFT_ENCODE_RUN_TABLES
#define TONESHIFT_ENCODE_RUN_TABLES
namespace toneshift::detail {

// Whether byte b needs the byte-by-byte rules: written as something else than itself, or
// escaped after some byte. The escape character is tested apart.
inline constexpr auto needs_rules = [] {
    std::array<bool, 256> needs{};
    for (std::size_t b = 0; b < 256; ++b)
        needs[b] = escaped_after[b] != 0 || spelling_length[b] != 1 ||
                   (b != 0 && viqr_spelling[b][0] != b);
    return needs;
}();

// The bytes below 0x80 that need the rules, as two 16-byte tables: bit h of entry l of the
// first is set when byte h * 16 + l needs them, and entry h of the second is bit h. Bytes
// from 0x80 up all need them (they are letter bytes) and are tested apart.
inline constexpr auto rules_by_low_nibble = [] {
    std::array<std::uint8_t, 16> bits{};
    for (std::size_t b = 0; b < 0x80; ++b)
        if (needs_rules[b]) bits[b & 15] = std::uint8_t(bits[b & 15] | 1u << (b >> 4));
    return bits;
}();
inline constexpr std::array<std::uint8_t, 16> rules_by_high_nibble{1, 2, 4, 8, 16, 32, 64, 128};

static_assert([] {
    for (std::size_t b = 0; b < 256; ++b) {
        const bool found =
            b >= 0x80 || (rules_by_low_nibble[b & 15] & rules_by_high_nibble[b >> 4]) != 0;
        if (found != needs_rules[b]) return false;
    }
    return true;
}());

}  // namespace toneshift::detail
#endif

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "viqr/encoder/encode_run_simd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace toneshift::HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

std::size_t EncodeRun(const unsigned char* text, std::size_t length, unsigned char previous,
                      unsigned char* out, unsigned char escape_char) {
    const int match = detail::escape_match(escape_char);
    unsigned char* o = out;
    std::size_t i = 0;
#if HWY_TARGET != HWY_SCALAR  // one lane holds no 16-byte table
    const hn::ScalableTag<std::uint8_t> d;
    const std::size_t lanes = hn::Lanes(d);
    if (lanes <= 64 && length >= lanes + 1) {
        const auto low_table = hn::LoadDup128(d, detail::rules_by_low_nibble.data());
        const auto high_table = hn::LoadDup128(d, detail::rules_by_high_nibble.data());
        const auto low_nibble = hn::Set(d, 0x0F);
        const auto escape = hn::Set(d, escape_char);
        const hn::RebindToSigned<decltype(d)> di;
        const hn::Repartition<std::uint16_t, decltype(d)> d16;
        // The bytes of a vector that need the rules, as bits.
        auto special_bits = [&](decltype(hn::Zero(d)) v) HWY_ATTR {
            const auto high =
                hn::And(hn::BitCast(d, hn::ShiftRight<4>(hn::BitCast(d16, v))), low_nibble);
            const auto found = hn::And(hn::TableLookupBytes(low_table, hn::And(v, low_nibble)),
                                       hn::TableLookupBytes(high_table, high));
            const auto special =
                hn::Or(hn::Or(hn::RebindMask(d, hn::Lt(hn::BitCast(di, v), hn::Zero(di))),
                              hn::Eq(v, escape)),
                       hn::Ne(found, hn::Zero(d)));
            std::uint64_t bits = 0;
            if (!hn::AllFalse(d, special)) {
                std::uint8_t bit_bytes[8] = {};
                hn::StoreMaskBits(d, special, bit_bytes);
                for (std::size_t b = 0; b < (lanes + 7) / 8; ++b)
                    bits |= std::uint64_t(bit_bytes[b]) << (8 * b);
            }
            return bits;
        };
        // The first byte follows `previous`; every later one follows the byte before it.
        o = detail::encode_after(previous, text[0], o, escape_char, match);
        i = 1;
        // While a whole vector follows the current one, every copy and every four-byte write
        // stays inside the bound: the output so far is at most 3i bytes, of 3 * length.
        for (; i + 2 * lanes <= length; i += lanes) {
            const unsigned char* t = text + i;
            const auto v = hn::LoadU(d, t);
            hn::StoreU(v, d, o);
            std::uint64_t bits = special_bits(v);
            std::size_t done = 0;  // bytes of this vector written
            while (bits != 0) {
                const auto j = std::size_t(__builtin_ctzll(bits));
                bits &= bits - 1;
                o += j - done;  // the plain bytes before j, already copied
                o = detail::encode_after_wide(t[std::ptrdiff_t(j) - 1], t[j], o, escape_char,
                                              match);
                done = j + 1;
                // The rest of the vector's plain bytes, copied again after what j became.
                hn::StoreU(hn::LoadU(d, t + done), d, o);
            }
            o += lanes - done;
        }
        // The last whole vector: copies that would pass the end of the text are made byte
        // by byte.
        if (i + lanes <= length) {
            const unsigned char* t = text + i;
            const auto v = hn::LoadU(d, t);
            hn::StoreU(v, d, o);
            std::uint64_t bits = special_bits(v);
            std::size_t done = 0;
            while (bits != 0) {
                const auto j = std::size_t(__builtin_ctzll(bits));
                bits &= bits - 1;
                o += j - done;
                o = detail::encode_after(t[std::ptrdiff_t(j) - 1], t[j], o, escape_char, match);
                done = j + 1;
                if (i + done + lanes <= length) {
                    hn::StoreU(hn::LoadU(d, t + done), d, o);
                } else {
                    for (std::size_t r = done; r < lanes; ++r) o[r - done] = t[r];
                }
            }
            o += lanes - done;
            i += lanes;
        }
    }
#endif
    for (; i < length; ++i)
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
