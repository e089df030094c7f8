// What tsconv does with a parsed command line.
#pragma once

#include "tsconv/options.h"

namespace toneshift::tsconv {

// Exit statuses, in the grep and diff tradition.
inline constexpr int kExitDone = 0;     // every input converted (or, with --check, exact)
inline constexpr int kExitRefused = 1;  // an input refused, or with --check not exact
inline constexpr int kExitTrouble = 2;  // usage, an output that is an input, input or output

// Converts (or checks) every input as `options` say; returns the exit status.
int run_conversion(const Options& options);

}  // namespace toneshift::tsconv
