// The character sets that garble text: a program that took bytes for the characters of one
// of these (UTF-8 read as Windows-1252, a TCVN3 file shown in a Western font) and saved
// what it showed. Each is its byte table and its inverse, computed at compile time.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tables/encodings.h"

namespace toneshift::repair {

enum class Charset : std::uint8_t { kWindows1252, kLatin1, kWindows1258, kWindows1250 };
inline constexpr std::size_t kCharsetCount = 4;

constexpr std::string_view charset_name(Charset c) {
    switch (c) {
        case Charset::kWindows1252:
            return "windows-1252";
        case Charset::kLatin1:
            return "latin-1";
        case Charset::kWindows1258:
            return "windows-1258";
        case Charset::kWindows1250:
            return "windows-1250";
    }
    return "";
}

// clang-format off
// Windows-1250, bytes 0x80 to 0xFF (glibc's CP1250 charmap).
inline constexpr std::array<char32_t, 128> cp1250_high{{
    0x20AC, kNoCharacter, 0x201A, kNoCharacter, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    kNoCharacter, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,  // 88
    kNoCharacter, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    kNoCharacter, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,  // 98
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,  // A0
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,  // A8
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,  // B8
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,  // C0
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,  // C8
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,  // D0
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,  // D8
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,  // E0
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,  // E8
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,  // F0
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,  // F8
}};
// clang-format on

// What each byte reads as in each character set. The holes of the Windows sets read as the
// C1 control of the same value, as many decoders keep them.
inline constexpr auto charset_bytes = [] {
    std::array<std::array<char32_t, 256>, kCharsetCount> out{};
    for (std::size_t c = 0; c < kCharsetCount; ++c)
        for (unsigned b = 0; b < 256; ++b) out[c][b] = b;
    for (unsigned b = 0x80; b < 0xA0; ++b) {
        const char32_t w = cp1252_high[b - 0x80];
        out[std::size_t(Charset::kWindows1252)][b] = w == kNoCharacter ? b : w;
    }
    for (unsigned b = 0x80; b < 0x100; ++b) {
        const char32_t w = cp1258_bytes[b];
        out[std::size_t(Charset::kWindows1258)][b] = w == kNoCharacter ? b : w;
    }
    for (unsigned b = 0x80; b < 0x100; ++b) {
        const char32_t w = cp1250_high[b - 0x80];
        out[std::size_t(Charset::kWindows1250)][b] = w == kNoCharacter ? b : w;
    }
    return out;
}();

// The inverse: each set's characters at or above 0x80, sorted, with their bytes.
struct CharByte {
    char32_t character;
    std::uint8_t byte;
};
inline constexpr auto charset_inverse = [] {
    std::array<std::array<CharByte, 128>, kCharsetCount> out{};
    for (std::size_t c = 0; c < kCharsetCount; ++c) {
        for (unsigned b = 0x80; b < 0x100; ++b) {
            const char32_t ch = charset_bytes[c][b];
            out[c][b - 0x80] = {ch == kNoCharacter ? char32_t(0xFFFFFFFF) : ch, std::uint8_t(b)};
        }
        std::sort(out[c].begin(), out[c].end(),
                  [](const CharByte& x, const CharByte& y) { return x.character < y.character; });
    }
    return out;
}();

// The byte that character c is in set `set`, or -1.
constexpr int byte_of(Charset set, char32_t c) {
    if (c < 0x80) return charset_bytes[std::size_t(set)][c] == c ? int(c) : -1;
    const auto& inv = charset_inverse[std::size_t(set)];
    const auto* it = std::lower_bound(
        inv.begin(), inv.end(), c, [](const CharByte& e, char32_t v) { return e.character < v; });
    return it != inv.end() && it->character == c ? it->byte : -1;
}

static_assert(byte_of(Charset::kWindows1252, 0x20AC) == 0x80 &&
              byte_of(Charset::kWindows1252, 0x81) == 0x81 &&
              byte_of(Charset::kLatin1, 0x20AC) == -1 && byte_of(Charset::kLatin1, 0xE9) == 0xE9 &&
              byte_of(Charset::kWindows1258, 0x0300) == 0xCC &&
              byte_of(Charset::kWindows1250, 0x0111) == 0xF0);

}  // namespace toneshift::repair
