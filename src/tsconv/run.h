// What tsconv does with a parsed command line.
#pragma once

#include <string>
#include <vector>

#include "tsconv/options.h"

namespace toneshift::tsconv {

// Exit statuses, in the grep and diff tradition.
inline constexpr int kExitDone = 0;     // every input converted (or, with --check, exact)
inline constexpr int kExitRefused = 1;  // an input refused, or with --check not exact
inline constexpr int kExitTrouble = 2;  // usage, an output that is an input, input or output

// Converts (or checks) every input as `options` say; returns the exit status. Under
// -f auto each input is detected first and converted from the format named for it.
int run_conversion(const Options& options);

// --detect: one line per input (or, with -r, per file of a folder), "NAME: FORMAT ...", on
// standard output, in the order of the inputs. 0 when every input
// got a format name, 1 when any is unknown or mixed, 2 for trouble.
int run_detection(const Options& options);

}  // namespace toneshift::tsconv
