// The scan for marked glides, compiled once for every instruction set that Highway targets;
// the best one the CPU offers is chosen at each call (simd_dispatch.h). In Vietnamese prose
// about one word in a hundred and fifty is flagged, so the scan, not the words, sets the pace.
// clang-format off
#include "tables/simd_dispatch.h"  // before Highway's headers
// clang-format on

#include "repair/tone_scan.h"

#include <cstddef>
#include <cstdint>

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

template <class D, class V>
HWY_ATTR inline auto is_word_byte(D d, V x) {
    const auto letter =
        hn::Lt(hn::Sub(hn::Or(x, hn::Set(d, 0x20)), hn::Set(d, 'a')), hn::Set(d, 26));
    return hn::Or(letter, hn::Gt(x, hn::Set(d, 0x7F)));
}

}  // namespace

HWY_ATTR std::size_t FindMarkedGlide(const unsigned char* p, std::size_t from, std::size_t n) {
    using tone_scan_detail::flagged;
    const hn::CappedTag<std::uint8_t, 32> d;
    const std::size_t lanes = hn::Lanes(d);
    std::size_t k = from;
    // The vectors read two bytes before k and three past its block.
    for (; k < n && k < 2; ++k)
        if (flagged(p, k, n)) return k;
    const auto x20 = hn::Set(d, 0x20);
    const auto x01 = hn::Set(d, 0x01);
    for (; k + lanes + 3 <= n; k += lanes) {
        const auto v = hn::LoadU(d, p + k);
        const auto m1 = hn::LoadU(d, p + k - 1);
        const auto m2 = hn::LoadU(d, p + k - 2);
        const auto mark = hn::Eq(hn::And(v, hn::Set(d, 0xFE)), hn::Set(d, 0xCC));
        const auto low = hn::Or(v, x20);
        const auto m1_low = hn::Or(m1, x20);
        const auto m1_odd = hn::Or(m1, x01);
        const auto after_c3 = hn::Eq(m2, hn::Set(d, 0xC3));
        const auto after_bb = hn::Eq(m2, hn::Set(d, 0xBB));
        const auto toned_o = hn::Or(
            hn::And(after_c3, hn::Or(hn::Or(hn::Eq(m1_low, hn::Set(d, 0xB3)),
                                            hn::Eq(m1_low, hn::Set(d, 0xB2))),
                                     hn::Eq(m1_low, hn::Set(d, 0xB5)))),
            hn::And(after_bb,
                    hn::Or(hn::Eq(m1_odd, hn::Set(d, 0x8F)), hn::Eq(m1_odd, hn::Set(d, 0x8D)))));
        const auto toned_u = hn::Or(
            hn::Or(hn::And(after_c3, hn::Or(hn::Eq(m1_low, hn::Set(d, 0xBA)),
                                            hn::Eq(m1_low, hn::Set(d, 0xB9)))),
                   hn::And(hn::Eq(m2, hn::Set(d, 0xC5)), hn::Eq(m1_odd, hn::Set(d, 0xA9)))),
            hn::And(after_bb,
                    hn::Or(hn::Eq(m1_odd, hn::Set(d, 0xA7)), hn::Eq(m1_odd, hn::Set(d, 0xA5)))));
        const auto ae = hn::Or(hn::Eq(low, hn::Set(d, 'a')), hn::Eq(low, hn::Set(d, 'e')));
        const auto y = hn::Eq(low, hn::Set(d, 'y'));
        const auto end1 = hn::Not(is_word_byte(d, hn::LoadU(d, p + k + 1)));
        const auto plain_last = hn::And(hn::Or(hn::And(ae, toned_o), hn::And(y, toned_u)), end1);
        const auto after_ou =
            hn::Or(hn::Eq(m1_low, hn::Set(d, 'o')), hn::Eq(m1_low, hn::Set(d, 'u')));
        const auto two = hn::Eq(hn::And(v, hn::Set(d, 0xE0)), hn::Set(d, 0xC0));
        const auto three = hn::Eq(hn::And(v, hn::Set(d, 0xF0)), hn::Set(d, 0xE0));
        const auto end2 = hn::Not(is_word_byte(d, hn::LoadU(d, p + k + 2)));
        const auto end3 = hn::Not(is_word_byte(d, hn::LoadU(d, p + k + 3)));
        const auto marked_last =
            hn::And(after_ou, hn::Or(hn::And(two, end2), hn::And(three, end3)));
        const auto hit = hn::Or(mark, hn::Or(plain_last, marked_last));
        const intptr_t first = hn::FindFirstTrue(d, hit);
        if (first >= 0) return k + std::size_t(first);
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
