// tsconv --repair: garbled text repaired, a block of whole lines at a time, and written as
// -t says (in its own encoding when -t is not given).
#pragma once

#include "tsconv/options.h"

namespace toneshift::tsconv {

// Repairs every input into the destination of the options; the exit status.
int run_repair(const Options& options);

}  // namespace toneshift::tsconv
