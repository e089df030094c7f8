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

#include "repair/text.h"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "repair/tone_scan.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

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

}  // namespace toneshift::repair::tone_scan_detail
#endif

HWY_BEFORE_NAMESPACE();
namespace toneshift::repair::HWY_NAMESPACE {
namespace {

namespace hn = hwy::HWY_NAMESPACE;

// The bits of a mask's lanes, the first lane lowest.
template <class D, class M>
HWY_ATTR inline std::uint64_t mask_bits(D d, M m) {
    std::uint8_t bytes[8] = {};
    hn::StoreMaskBits(d, m, bytes);
    std::uint64_t bits;
    std::memcpy(&bits, bytes, 8);
    return bits;
}

}  // namespace

// A vector marks, in two loads and a score of operations, every byte that may be flagged
// (about one in seventy of Vietnamese prose): a combining mark's lead, an a, e or y after a
// byte outside ASCII, a lead byte after an o or u; each is then checked one at a time.
HWY_ATTR std::size_t FindMarkedGlide(const unsigned char* p, std::size_t from, std::size_t n) {
    using tone_scan_detail::flagged;
    const hn::CappedTag<std::uint8_t, 32> d;
    const hn::RebindToSigned<decltype(d)> di;
    const std::size_t lanes = hn::Lanes(d);
    std::size_t k = from;
    for (; k < n && k < 1; ++k)
        if (flagged(p, k, n)) return k;
    const auto x20 = hn::Set(d, 0x20);
    // Each vector reads the byte before its block.
    for (; k + lanes <= n; k += lanes) {
        const auto v = hn::LoadU(d, p + k);
        const auto m1 = hn::LoadU(d, p + k - 1);
        const auto low = hn::Or(v, x20);
        const auto m1_low = hn::Or(m1, x20);
        const auto mark = hn::Eq(hn::And(v, hn::Set(d, 0xFE)), hn::Set(d, 0xCC));
        const auto aey = hn::Or(hn::Or(hn::Eq(low, hn::Set(d, 'a')), hn::Eq(low, hn::Set(d, 'e'))),
                                hn::Eq(low, hn::Set(d, 'y')));
        // As signed bytes, those outside ASCII are negative.
        const auto after_high = hn::RebindMask(d, hn::Lt(hn::BitCast(di, m1), hn::Zero(di)));
        const auto lead = hn::Eq(hn::And(v, hn::Set(d, 0xC0)), hn::Set(d, 0xC0));
        const auto after_ou =
            hn::Or(hn::Eq(m1_low, hn::Set(d, 'o')), hn::Eq(m1_low, hn::Set(d, 'u')));
        const auto maybe = hn::Or(mark, hn::Or(hn::And(aey, after_high), hn::And(after_ou, lead)));
        for (std::uint64_t bits = mask_bits(d, maybe); bits != 0; bits &= bits - 1) {
            const std::size_t at = k + std::size_t(__builtin_ctzll(bits));
            if (flagged(p, at, n)) return at;
        }
    }
    for (; k < n; ++k)
        if (flagged(p, k, n)) return k;
    return n;
}

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
