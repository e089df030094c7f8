// The terminal dialogue: the menu, the four questions, the checks, and one conversion per
// cycle, until an empty input-file name.
#pragma once

#include <cstdio>

namespace toneshift {

// Runs the whole dialogue on the given streams and returns the exit status (always 0).
// Call it once per process: it opens the decoder context that all VIQR input goes through.
int run_dialogue(std::FILE* in, std::FILE* out, std::FILE* err);

}  // namespace toneshift
