#include "tables/simd_dispatch.h"

#if HWY_ARCH_X86
#include <cpuid.h>
#endif

namespace toneshift::simd {
namespace detail {

std::atomic<std::int64_t> cpu_targets{0};
std::atomic<std::int64_t> restriction{0};

#if HWY_ARCH_X86
// Not every compiler's __builtin_cpu_supports knows this one.
bool has_f16c() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
}
#endif

std::int64_t find_supported_targets() {
    std::int64_t targets = HWY_STATIC_TARGET | HWY_EMU128 | HWY_SCALAR;
#if HWY_ARCH_X86
    // The instruction sets that Highway compiles each target with (set_macros-inl.h).
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("ssse3")) return targets;
    targets |= HWY_SSSE3;
    if (!(__builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("sse4.2") &&
          __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("aes")))
        return targets;
    targets |= HWY_SSE4;
    if (__builtin_cpu_supports("avx") && __builtin_cpu_supports("avx2") &&
        __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
        __builtin_cpu_supports("fma") && has_f16c())
        targets |= HWY_AVX2;
#endif
    return targets;
}

}  // namespace detail

void restrict_targets_for_test(std::int64_t mask) {
    detail::restriction.store(mask, std::memory_order_relaxed);
}

}  // namespace toneshift::simd
