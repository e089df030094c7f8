// The names of the twelve formats, as the command line and its messages use them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "convert/characters.h"
#include "convert/converter.h"
#include "tables/letter_unicode.h"

namespace toneshift {

struct FormatName {
    std::string_view name;       // the name scripts use, lower case
    std::string_view alias;      // a second accepted name, or empty
    std::string_view menu_name;  // the dialogue's menu name
};

inline constexpr std::array<FormatName, kConvertFormatCount> format_names{{
    {"viscii", "", "VISCII"},
    {"vncii", "vpswin", "VNCII (VPSWin)"},
    {"vpsedit", "", "VPSedit (DOS)"},
    {"vni", "", "VNI"},
    {"vnlab", "", "VNLab/VNU"},
    {"vnu-win", "", "VNU (Windows)"},
    {"thinart-mac", "", "VN Thin-Art (Mac)"},
    {"thinart-pc", "", "VN Thin-Art (PC)"},
    {"viet-toan", "", "Viet-Toan"},
    {"plain", "", "Plain Vietnamese"},
    {"viqr", "", "Standard VIQR"},
    {"utf-8", "utf8", "UTF-8"},
}};

// What a format cannot write of ASCII and the 134 letters (everything else is beyond every
// format but UTF-8), decided as the converter decides it: a character is held when
// target_byte() writes it exactly and the byte reads back as the same character. VIQR
// writes through VISCII, as the converter does.
struct FormatLacks {
    std::array<bool, 128> ascii{};  // characters below 0x80: a byte the format gives a letter
    std::size_t ascii_count = 0;
    std::size_t control_count = 0;    // of those, the controls (below 0x20, and 0x7F)
    std::size_t shared_capitals = 0;  // capitals written as their small letter's byte
    std::size_t bare_letters = 0;     // letters written as an ASCII letter, without diacritics
    std::size_t other_letters = 0;    // letters lost otherwise
};

inline constexpr auto format_lacks_table = [] {
    using convert_detail::source_char;
    using convert_detail::target_byte;
    std::array<FormatLacks, kConvertFormatCount> table{};
    for (int f = 0; f < kConvertFormatCount; ++f) {
        if (f == kUtf8) continue;
        FormatLacks& l = table[std::size_t(f)];
        const int t = f == kViqr ? kViscii : f;
        for (char32_t c = 0; c < 0x80; ++c) {
            if (target_byte(t, c).exact) continue;
            l.ascii[c] = true;
            ++l.ascii_count;
            if (c < 0x20 || c == 0x7F) ++l.control_count;
        }
        for (std::size_t p = 0; p < kLetterCount; ++p) {
            const char32_t c = letter_code_points[p];
            const convert_detail::TargetByte written = target_byte(t, c);
            const char32_t back = source_char(t, written.byte);
            if (written.exact && back == c) continue;
            const bool capital = p == 1 || p >= 68;
            if (back < 0x80 && ((back >= 'a' && back <= 'z') || (back >= 'A' && back <= 'Z'))) {
                ++l.bare_letters;
            } else if (capital && back == letter_code_points[p == 1 ? 0 : p - 66]) {
                ++l.shared_capitals;
            } else {
                ++l.other_letters;
            }
        }
    }
    return table;
}();

namespace detail {
constexpr bool lacks_exactly(int f, std::string_view ascii) {
    const FormatLacks& l = format_lacks_table[std::size_t(f)];
    if (l.ascii_count != ascii.size()) return false;
    for (char c : ascii)
        if (!l.ascii[std::size_t(c)]) return false;
    return true;
}
}  // namespace detail

// What the tables are known to say: a byte of a letter cannot also be its ASCII character.
static_assert(detail::lacks_exactly(2, "@^`{|}~") && detail::lacks_exactly(3, "@^`{|}~") &&
              detail::lacks_exactly(4, "@^`{|}~") && detail::lacks_exactly(8, "@^`{|}~") &&
              detail::lacks_exactly(6, "@[\\]^_`{|}~"));
static_assert(detail::lacks_exactly(0, "\x02\x05\x06\x14\x19\x1E") &&
              detail::lacks_exactly(kViqr, "\x02\x05\x06\x14\x19\x1E") &&
              format_lacks_table[1].control_count == 14 && format_lacks_table[1].ascii_count == 14);
static_assert(format_lacks_table[5].shared_capitals == 50 &&
              format_lacks_table[7].shared_capitals == 34 &&
              format_lacks_table[kPlainVietnamese].bare_letters == kLetterCount);
static_assert([] {
    for (const FormatLacks& l : format_lacks_table)
        if (l.other_letters != 0) return false;
    for (int f : {5, 7, kPlainVietnamese, kUtf8})
        if (format_lacks_table[std::size_t(f)].ascii_count != 0) return false;
    return true;
}());

// The format number that `text` names (a name or alias in any case, or a number 0..11), or
// -1.
constexpr int format_by_name(std::string_view text) {
    auto same = [](std::string_view a, std::string_view b) {
        if (a.size() != b.size() || a.empty()) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            char c = a[i];
            if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
            if (c != b[i]) return false;
        }
        return true;
    };
    for (int f = 0; f < kConvertFormatCount; ++f) {
        const FormatName& n = format_names[std::size_t(f)];
        if (same(text, n.name) || same(text, n.alias)) return f;
    }
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '9') return text[0] - '0';
    if (text == "10") return 10;
    if (text == "11") return 11;
    return -1;
}

static_assert(format_by_name("VPSWin") == 1 && format_by_name("UTF8") == kUtf8 &&
              format_by_name("10") == kViqr && format_by_name("12") == -1 &&
              format_by_name("") == -1);

}  // namespace toneshift
