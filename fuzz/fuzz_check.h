// What the fuzz targets share: a failed property stops the run, so that libFuzzer keeps the
// input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace toneshift::fuzzing {

using Bytes = std::vector<unsigned char>;

inline void check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

}  // namespace toneshift::fuzzing
