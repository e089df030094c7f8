// For tests: runs a body once on each instruction set that the vectorised functions can run on
// here (see simd_dispatch.h).
#pragma once

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <cstdint>

#include "tables/simd_dispatch.h"

namespace toneshift::simd {

// Runs `body` once for each target this CPU supports, with the dispatch restricted to it, and
// returns how many ran.
template <typename Body>
int for_each_supported_target(Body body) {
    int ran = 0;
    const std::int64_t cpu = supported_targets();
    const std::int64_t targets[] = {HWY_AVX2, HWY_SSE4,   HWY_SSSE3,
                                    HWY_NEON, HWY_EMU128, HWY_SCALAR};
    for (const std::int64_t target : targets) {
        if ((cpu & target) == 0) continue;
        restrict_targets_for_test(target);
        SCOPED_TRACE(hwy::TargetName(target));
        body();
        ++ran;
    }
    restrict_targets_for_test(0);
    return ran;
}

}  // namespace toneshift::simd
