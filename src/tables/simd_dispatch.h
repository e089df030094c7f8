// The choice among the instruction sets that a vectorised function is compiled for.
//
// Highway compiles each vectorised function once per target (foreach_target.h); this picks,
// at run time, the best one the CPU offers. It stands in for HWY_DYNAMIC_DISPATCH, whose
// library (libhwy.so) costs over five million instructions of start-up in every process,
// more than converting a 4 MiB file takes; with this the program needs Highway's headers
// only. Include this header before any Highway header in a file that uses it.
#pragma once

// The targets compiled: x86 from SSSE3 to AVX2 and the baseline, Arm's NEON and the baseline.
// AVX-512 and SVE bring nothing to byte shuffles of 16-byte tables.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS \
    (HWY_AVX3 | HWY_AVX3_DL | HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
#endif

#include <hwy/detect_targets.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace toneshift::simd {

namespace detail {
std::int64_t find_supported_targets();
// Atomic, read relaxed (plain loads): any thread may be the first to look, and each finds
// the same answer.
// Hidden: inside a shared library they are reached directly, not through the offset table.
[[gnu::visibility("hidden")]] extern std::atomic<std::int64_t> cpu_targets;  // 0 until found
[[gnu::visibility("hidden")]] extern std::atomic<std::int64_t> restriction;  // 0 when none
}  // namespace detail

// The Highway targets that this CPU runs, as a mask of HWY_* bits: found with CPUID on x86,
// and elsewhere the baseline that the program was compiled for.
inline std::int64_t supported_targets() {
    std::int64_t cpu = detail::cpu_targets.load(std::memory_order_relaxed);
    if (cpu == 0) {
        cpu = detail::find_supported_targets();
        detail::cpu_targets.store(cpu, std::memory_order_relaxed);
    }
    const std::int64_t r = detail::restriction.load(std::memory_order_relaxed);
    return r != 0 ? cpu & r : cpu;
}

// Tests only: pretends that the CPU runs only the targets in `mask` (0 ends the pretence).
void restrict_targets_for_test(std::int64_t mask);

// One compiled variant of a function.
template <typename Function>
struct Variant {
    std::int64_t target;
    Function function;
};

// The variant of the best supported target: the lowest bit, as Highway ranks them. The last
// variant is the baseline's, taken when no other is supported.
template <typename Function, std::size_t n>
Function choose(const Variant<Function> (&variants)[n]) {
    const std::int64_t supported = supported_targets();
    const Variant<Function>* best = &variants[n - 1];
    for (const Variant<Function>& v : variants)
        if ((v.target & supported) != 0 && v.target < best->target) best = &v;
    return best->function;
}

// A choice made once and kept for as long as the supported targets stay the same.
// The variant chosen for the targets it was made for, remade when they change (tests
// restrict them). Any thread may make it: each makes the same choice.
template <typename Function>
struct Choice {
    std::atomic<Function> function{nullptr};
    std::atomic<std::int64_t> made_for{0};

    template <std::size_t n>
    Function get(const Variant<Function> (&variants)[n]) {
        const std::int64_t supported = supported_targets();
        if (supported != made_for.load(std::memory_order_acquire)) {
            function.store(choose(variants), std::memory_order_relaxed);
            made_for.store(supported, std::memory_order_release);
            return choose(variants);
        }
        return function.load(std::memory_order_relaxed);
    }
};

}  // namespace toneshift::simd

// The variants of FUNCTION in a file compiled through foreach_target.h, for simd::choose;
// used in its HWY_ONCE part.
#define TONESHIFT_SIMD_ENTRY(TARGET, NS, FUNCTION) {TARGET, &NS::FUNCTION},
#if HWY_TARGETS & HWY_AVX2
#define TONESHIFT_SIMD_AVX2(F) TONESHIFT_SIMD_ENTRY(HWY_AVX2, N_AVX2, F)
#else
#define TONESHIFT_SIMD_AVX2(F)
#endif
#if HWY_TARGETS & HWY_SSE4
#define TONESHIFT_SIMD_SSE4(F) TONESHIFT_SIMD_ENTRY(HWY_SSE4, N_SSE4, F)
#else
#define TONESHIFT_SIMD_SSE4(F)
#endif
#if HWY_TARGETS & HWY_SSSE3
#define TONESHIFT_SIMD_SSSE3(F) TONESHIFT_SIMD_ENTRY(HWY_SSSE3, N_SSSE3, F)
#else
#define TONESHIFT_SIMD_SSSE3(F)
#endif
#if HWY_TARGETS & HWY_NEON
#define TONESHIFT_SIMD_NEON(F) TONESHIFT_SIMD_ENTRY(HWY_NEON, N_NEON, F)
#else
#define TONESHIFT_SIMD_NEON(F)
#endif
#if HWY_TARGETS & HWY_EMU128
#define TONESHIFT_SIMD_EMU128(F) TONESHIFT_SIMD_ENTRY(HWY_EMU128, N_EMU128, F)
#else
#define TONESHIFT_SIMD_EMU128(F)
#endif
#if HWY_TARGETS & HWY_SCALAR
#define TONESHIFT_SIMD_SCALAR(F) TONESHIFT_SIMD_ENTRY(HWY_SCALAR, N_SCALAR, F)
#else
#define TONESHIFT_SIMD_SCALAR(F)
#endif
#define TONESHIFT_SIMD_VARIANTS(F)                                                 \
    {                                                                              \
        TONESHIFT_SIMD_AVX2(F)                                                     \
        TONESHIFT_SIMD_SSE4(F)                                                     \
        TONESHIFT_SIMD_SSSE3(F)                                                    \
        TONESHIFT_SIMD_NEON(F) TONESHIFT_SIMD_EMU128(F) TONESHIFT_SIMD_SCALAR(F) { \
            HWY_STATIC_TARGET, &HWY_STATIC_DISPATCH(F)                             \
        }                                                                          \
    }
