// The scan for marked glides, compiled once for every instruction set that Highway targets;
// the best one the CPU offers is chosen at each call (simd_dispatch.h). In Vietnamese prose
// about one word in a hundred and fifty is flagged, so the scan, not the words, sets the pace.
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include "repair/tone_scan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "repair/text.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "repair/tone_scan.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "tables/simd_mask-inl.h"

#ifndef TONESHIFT_TONE_SCAN_ONCE
#define TONESHIFT_TONE_SCAN_ONCE
namespace toneshift::repair::tone_scan_detail {

// The byte at `at`, or 0 (no word byte) outside [0, n).
inline unsigned char byte_at(const unsigned char* p, std::ptrdiff_t at, std::size_t n) {
    return at < 0 || std::size_t(at) >= n ? 0 : p[at];
}

// The flag of find_marked_glide() at k, one byte at a time: for the text's edges.
inline bool flagged(const unsigned char* p, std::size_t k, std::size_t n) {
    const auto at = std::ptrdiff_t(k);
    const unsigned v = p[k], m1 = byte_at(p, at - 1, n), m2 = byte_at(p, at - 2, n);
    if ((v & 0xFE) == 0xCC) return true;
    const unsigned low = v | 0x20, m1_low = m1 | 0x20, m1_odd = m1 | 0x01;
    if (low == 'a' || low == 'e' || low == 'y') {
        // The last two bytes of o or u with a tone mark: C3 (acute, grave, tilde on o; acute
        // and grave on u, small and capital a 0x20 apart), C5 (u with tilde), E1 BB (hook
        // and dot, small and capital side by side).
        const bool toned_o = (m2 == 0xC3 && (m1_low == 0xB3 || m1_low == 0xB2 || m1_low == 0xB5)) ||
                             (m2 == 0xBB && (m1_odd == 0x8F || m1_odd == 0x8D));
        const bool toned_u = (m2 == 0xC3 && (m1_low == 0xBA || m1_low == 0xB9)) ||
                             (m2 == 0xC5 && m1_odd == 0xA9) ||
                             (m2 == 0xBB && (m1_odd == 0xA7 || m1_odd == 0xA5));
        return (low == 'y' ? toned_u : toned_o) && !word_byte(byte_at(p, at + 1, n));
    }
    if (m1_low != 'o' && m1_low != 'u') return false;
    if (v >= 0xC0 && v < 0xE0) return !word_byte(byte_at(p, at + 2, n));
    if (v >= 0xE0 && v < 0xF0) return !word_byte(byte_at(p, at + 3, n));
    return false;
}

// The three bytes before and at k (m2, m1, v) are each looked up by their two nibbles: a byte
// is in a class where both its nibbles' entries hold the class's bit, and k may be flagged
// where the three bytes share a bit:
//   bits 0 to 4, the last two bytes of an o with a tone mark (after C3: acute, grave, tilde;
//     after E1 BB: hook, dot) before a or e, or of such a u (after C3: acute, grave; after C5:
//     tilde; after E1 BB: hook, dot) before y, either case;
//   bits 5 and 6, a lead byte of two or three bytes after o or u;
//   bit 7, the lead byte of a combining mark (CC, CD).
struct NibbleClasses {
    std::uint8_t high[16] = {};
    std::uint8_t low[16] = {};
    constexpr void add(unsigned bits, std::initializer_list<int> highs,
                       std::initializer_list<int> lows) {
        for (int h : highs) high[h] |= std::uint8_t(bits);
        for (int l : lows) low[l] |= std::uint8_t(bits);
    }
    constexpr void add_everywhere(unsigned bits) {
        for (int k = 0; k < 16; ++k) {
            high[k] |= std::uint8_t(bits);
            low[k] |= std::uint8_t(bits);
        }
    }
    constexpr bool has(unsigned char b, unsigned bits) const {
        return (high[b >> 4] & low[b & 15] & bits) != 0;
    }
};

constexpr NibbleClasses kBefore = [] {  // m1
    NibbleClasses c;
    c.add(0x01, {0x9, 0xB}, {0x2, 0x3, 0x5});  // o: 92 93 95 B2 B3 B5 after C3
    c.add(0x02, {0x8}, {0xC, 0xD, 0xE, 0xF});  // o: 8C..8F after E1 BB
    c.add(0x04, {0x9, 0xB}, {0x9, 0xA});       // u: 99 9A B9 BA after C3
    c.add(0x08, {0xA}, {0x8, 0x9});            // u: A8 A9 after C5
    c.add(0x10, {0xA}, {0x4, 0x5, 0x6, 0x7});  // u: A4..A7 after E1 BB
    c.add(0x20, {0x4, 0x6}, {0xF});            // O o
    c.add(0x40, {0x5, 0x7}, {0x5});            // U u
    c.add_everywhere(0x80);
    return c;
}();
constexpr NibbleClasses kTwoBefore = [] {  // m2
    NibbleClasses c;
    c.add(0x01 | 0x04, {0xC}, {0x3});
    c.add(0x08, {0xC}, {0x5});
    c.add(0x02 | 0x10, {0xB}, {0xB});
    c.add_everywhere(0x20 | 0x40 | 0x80);
    return c;
}();
constexpr NibbleClasses kAt = [] {  // v
    NibbleClasses c;
    c.add(0x01 | 0x02, {0x4, 0x6}, {0x1, 0x5});    // A a E e
    c.add(0x04 | 0x08 | 0x10, {0x5, 0x7}, {0x9});  // Y y
    c.add(0x20 | 0x40, {0xC, 0xD, 0xE}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
    c.add(0x80, {0xC}, {0xC, 0xD});
    return c;
}();

// The classes as flagged() reads the bytes, for every byte: what the vectors test is never
// less.
constexpr bool classes_cover_flags() {
    for (int b = 0; b < 256; ++b) {
        const auto u = static_cast<unsigned char>(b);
        const unsigned low = unsigned(b) | 0x20;
        if (((b & 0xFE) == 0xCC) != kAt.has(u, 0x80)) return false;
        if ((low == 'a' || low == 'e') != kAt.has(u, 0x03)) return false;
        if ((low == 'y') != kAt.has(u, 0x1C)) return false;
        if ((b >= 0xC0 && b < 0xF0) != kAt.has(u, 0x60)) return false;
        if ((low == 'o') != kBefore.has(u, 0x20) || (low == 'u') != kBefore.has(u, 0x40))
            return false;
        const unsigned odd = unsigned(b) | 1;
        if ((low == 0xB3 || low == 0xB2 || low == 0xB5) != kBefore.has(u, 0x01)) return false;
        if ((odd == 0x8F || odd == 0x8D) != kBefore.has(u, 0x02)) return false;
        if ((low == 0xBA || low == 0xB9) != kBefore.has(u, 0x04)) return false;
        if ((odd == 0xA9) != kBefore.has(u, 0x08)) return false;
        if ((odd == 0xA7 || odd == 0xA5) != kBefore.has(u, 0x10)) return false;
        if ((b == 0xC3) != kTwoBefore.has(u, 0x05) || (b == 0xC5) != kTwoBefore.has(u, 0x08) ||
            (b == 0xBB) != kTwoBefore.has(u, 0x12))
            return false;
    }
    return true;
}
static_assert(classes_cover_flags());

}  // namespace toneshift::repair::tone_scan_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace toneshift::repair::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;
using simd::HWY_NAMESPACE::mask_bits;

}  // namespace

// The bytes before and at each place, looked up by nibbles (NibbleClasses).
template <class D, class V>
HWY_ATTR inline V classes(D d, V bytes, V high_table, V low_table) {
    const auto low = hn::And(bytes, hn::Set(d, 0x0F));
    const auto high = hn::And(hn::ShiftRight<4>(bytes), hn::Set(d, 0x0F));
    return hn::And(hn::TableLookupBytes(high_table, high), hn::TableLookupBytes(low_table, low));
}

// A vector marks every place whose three bytes (two before and itself) may be flagged: a
// plain a, e or y after o or u with a tone mark, a lead byte after a plain o or u, the lead
// of a combining mark (about one byte in 150 of Vietnamese prose); the ends of words are then
// checked one place at a time.
#if HWY_TARGET == HWY_SCALAR
// Vectors of one byte hold no table: a byte at a time.
HWY_ATTR std::size_t FindMarkedGlide(const unsigned char* p, std::size_t from, std::size_t n) {
    for (std::size_t k = from; k < n; ++k)
        if (tone_scan_detail::flagged(p, k, n)) return k;
    return n;
}
#else
HWY_ATTR std::size_t FindMarkedGlide(const unsigned char* p, std::size_t from, std::size_t n) {
    using namespace tone_scan_detail;
    const hn::CappedTag<std::uint8_t, 32> d;
    const std::size_t lanes = hn::Lanes(d);
    std::size_t k = from;
    for (; k < n && k < 2; ++k)
        if (flagged(p, k, n)) return k;
    const auto before_high = hn::LoadDup128(d, kBefore.high);
    const auto before_low = hn::LoadDup128(d, kBefore.low);
    const auto two_before_high = hn::LoadDup128(d, kTwoBefore.high);
    const auto two_before_low = hn::LoadDup128(d, kTwoBefore.low);
    const auto at_high = hn::LoadDup128(d, kAt.high);
    const auto at_low = hn::LoadDup128(d, kAt.low);
    // Each vector reads the two bytes before its block.
    for (; k + lanes <= n; k += lanes) {
        const auto v = classes(d, hn::LoadU(d, p + k), at_high, at_low);
        const auto m1 = classes(d, hn::LoadU(d, p + k - 1), before_high, before_low);
        const auto m2 = classes(d, hn::LoadU(d, p + k - 2), two_before_high, two_before_low);
        const auto maybe = hn::Ne(hn::And(hn::And(v, m1), m2), hn::Zero(d));
        if (hn::AllFalse(d, maybe)) continue;
        for (std::uint64_t bits = mask_bits(d, maybe); bits != 0; bits &= bits - 1) {
            const std::size_t at = k + std::size_t(__builtin_ctzll(bits));
            if (flagged(p, at, n)) return at;
        }
    }
    for (; k < n; ++k)
        if (flagged(p, k, n)) return k;
    return n;
}
#endif

}  // namespace toneshift::repair::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace toneshift::repair {

std::size_t find_marked_glide(const unsigned char* p, std::size_t from, std::size_t n) {
    using Function = std::size_t (*)(const unsigned char*, std::size_t, std::size_t);
    static constexpr simd::Variant<Function> variants[] = TONESHIFT_SIMD_VARIANTS(FindMarkedGlide);
    static simd::Choice<Function> choice;
    return choice.get(variants)(p, from, n);
}

}  // namespace toneshift::repair
#endif
