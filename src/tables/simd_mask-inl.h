// Vector helpers shared by the Highway code of several modules. Included once per target,
// after <hwy/highway.h>, from a file that Highway compiles for each target.
#if defined(TONESHIFT_SIMD_MASK_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef TONESHIFT_SIMD_MASK_INL_H_
#undef TONESHIFT_SIMD_MASK_INL_H_
#else
#define TONESHIFT_SIMD_MASK_INL_H_
#endif

#include <hwy/highway.h>

#include <cstdint>
#include <cstring>

HWY_BEFORE_NAMESPACE();
namespace toneshift::simd::HWY_NAMESPACE {

// The bits of a mask's lanes, the first lane lowest (at most 64 lanes).
template <class D, class M>
HWY_ATTR inline std::uint64_t mask_bits(D d, M m) {
    std::uint8_t bytes[8] = {};
    hwy::HWY_NAMESPACE::StoreMaskBits(d, m, bytes);
    std::uint64_t bits;
    std::memcpy(&bits, bytes, 8);
    return bits;
}

}  // namespace toneshift::simd::HWY_NAMESPACE
HWY_AFTER_NAMESPACE();

#endif
