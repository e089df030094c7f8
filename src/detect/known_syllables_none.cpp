// An empty list of known syllables, for the build tool that makes the real one.
#include "detect/syllable.h"

namespace toneshift::detect {

const std::uint64_t known_syllable_keys[] = {0};
const std::size_t known_syllable_count = 0;

}  // namespace toneshift::detect
