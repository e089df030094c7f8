// The two halves of viqr_decode_run. Internal to the decoder (and its tests and fuzz targets);
// callers use viqr_decoder.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "viqr/decoder/contexts.h"

namespace toneshift::detail {

// viqr_decode_run for every context configuration, a byte's class at a time: the reference
// that the vector path hands everything it does not cover to, and its fallback.
std::size_t decode_run_general(int ctx, const unsigned char* in, std::size_t n, unsigned char* out);

// The mode each byte selects after the escape character, -1 for none: one lookup.
inline constexpr auto mode_letters = [] {
    std::array<std::int8_t, 256> modes{};
    for (unsigned ch = 0; ch < modes.size(); ++ch)
        modes[ch] = static_cast<std::int8_t>(mode_of_letter(static_cast<unsigned char>(ch)));
    return modes;
}();

}  // namespace toneshift::detail
