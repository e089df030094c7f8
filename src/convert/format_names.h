// The names of the formats, as the command line and its messages use them.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "convert/byte_codecs.h"
#include "convert/characters.h"
#include "convert/converter.h"
#include "tables/letter_unicode.h"

namespace toneshift {

struct FormatName {
    std::string_view name;         // the name scripts use, lower case
    std::string_view alias;        // a second accepted name, or empty
    std::string_view menu_name;    // the dialogue's menu name; a description past the twelve
    std::string_view alias2 = {};  // a third accepted name, or empty
};

inline constexpr std::array<FormatName, kConvertFormatCount> format_names{{
    {"viscii", "", "VISCII"},
    {"vncii", "vpswin", "VNCII (VPSWin)"},
    {"vpsedit", "", "VPSedit (DOS)"},
    {"vni", "", "VNI (one byte, not vni-win)"},
    {"vnlab", "", "VNLab/VNU"},
    {"vnu-win", "", "VNU (Windows)"},
    {"thinart-mac", "", "VN Thin-Art (Mac)"},
    {"thinart-pc", "", "VN Thin-Art (PC)"},
    {"viet-toan", "", "Viet-Toan"},
    {"plain", "", "Plain Vietnamese"},
    {"viqr", "", "Standard VIQR"},
    {"utf-8", "utf8", "UTF-8"},
    {"tcvn3", "abc", "TCVN3 (ABC, .VnTime)", "vn3"},
    {"tcvn3-caps", "abc-caps", "TCVN3 capitals font (.VnTimeH)"},
    {"tcvn3-vncaps", "", "TCVN3 capitals font, a-z small"},
    {"vni-win", "vni-windows", "VNI for Windows (VNI-Times)"},
    {"vni-mac", "", "VNI for Mac"},
    {"cp1258", "windows-1258", "Windows-1258"},
    {"vn1", "tcvn5712-1", "TCVN 5712:1993 VN1", "tcvn"},
    {"bkhcm2", "", "BK HCM 2"},
    {"vietware-f", "", "VietWare-F"},
    {"vietware-x", "", "VietWare-X"},
    {"utf-16", "utf16", "UTF-16 (with a byte-order mark)"},
    {"utf-16le", "utf16le", "UTF-16, little-endian"},
    {"utf-16be", "utf16be", "UTF-16, big-endian"},
    {"ncr", "html", "HTML/XML references (&#7879;)"},
}};

// What a format cannot write of ASCII and the 134 letters (everything else is beyond every
// format but UTF-8), decided as the converter decides it: a character is held when
// target_byte() writes it exactly and the byte reads back as the same character. VIQR
// writes through VISCII, as the converter does.
struct FormatLacks {
    std::array<bool, 128> ascii{};  // characters below 0x80: a byte the format gives a letter
    std::size_t ascii_count = 0;
    std::size_t control_count = 0;      // of those, the controls (below 0x20, and 0x7F)
    std::size_t shared_capitals = 0;    // capitals written as their small letter's byte
    std::size_t bare_letters = 0;       // letters written as an ASCII letter, without diacritics
    std::size_t small_as_capitals = 0;  // small letters a capitals font draws as capitals
    std::size_t other_letters = 0;      // letters lost otherwise
};

namespace detail {
// The same for a byte encoding, from its codec: what it writes exactly.
constexpr FormatLacks codec_lacks(const ByteCodec& codec) {
    FormatLacks l{};
    for (char32_t c = 0; c < 0x80; ++c) {
        if (codec.single[c] == c) continue;
        bool elsewhere = false;  // a capitals font draws a..z as A..Z: a is lost, A is not
        for (int b = 0; b < 256; ++b) elsewhere = elsewhere || codec.single[std::size_t(b)] == c;
        if (elsewhere) continue;
        l.ascii[c] = true;
        ++l.ascii_count;
        if (c < 0x20 || c == 0x7F) ++l.control_count;
    }
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const ByteSpelling& w = codec.letters[p];
        if (w.exact) continue;
        if (w.size != 0 && w.nearest == letter_code_points[letter_cases.partner[p]]) {
            if (letter_cases.capital[p]) {
                ++l.shared_capitals;
            } else {
                ++l.small_as_capitals;
            }
        } else {
            ++l.other_letters;
        }
    }
    return l;
}
}  // namespace detail

inline constexpr auto format_lacks_table = [] {
    using convert_detail::source_char;
    using convert_detail::target_byte;
    std::array<FormatLacks, kConvertFormatCount> table{};
    for (int f = 0; f < kConvertFormatCount; ++f) {
        if (is_unicode_format(f)) continue;
        if (is_byte_codec(f)) {
            table[std::size_t(f)] = detail::codec_lacks(byte_codec(f));
            continue;
        }
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
    for (int f : {5, 7, kPlainVietnamese, kUtf8, kTcvn3, kVniWin, kCp1258, kUtf16, kReferences})
        if (format_lacks_table[std::size_t(f)].ascii_count != 0) return false;
    return true;
}());
// TCVN3 lacks the toned capitals (60 of the 67); its all-capital font the small letters,
// a..z included; VNI for Windows and Windows-1258 lack nothing of ASCII and the letters.
static_assert(format_lacks_table[kTcvn3].shared_capitals == 60 &&
              format_lacks_table[kTcvn3Caps].small_as_capitals == 67 &&
              format_lacks_table[kTcvn3Caps].ascii_count == 26 &&
              format_lacks_table[kTcvn3VnCaps].small_as_capitals == 67 &&
              format_lacks_table[kTcvn3VnCaps].ascii_count == 0 &&
              format_lacks_table[kVniWin].shared_capitals == 0 &&
              format_lacks_table[kCp1258].shared_capitals == 0);

// The format number that `text` names (a name or alias in any case, or its number), or -1.
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
        if (same(text, n.name) || same(text, n.alias) || same(text, n.alias2)) return f;
    }
    if (text.empty() || text.size() > 2 || (text.size() == 2 && text[0] == '0')) return -1;
    int number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return -1;
        number = number * 10 + (c - '0');
    }
    return number < kConvertFormatCount ? number : -1;
}

static_assert(format_by_name("VPSWin") == 1 && format_by_name("UTF8") == kUtf8 &&
              format_by_name("10") == kViqr && format_by_name("12") == kTcvn3 &&
              format_by_name("26") == -1 && format_by_name("07") == -1 &&
              format_by_name("TCVN") == kVn1 && format_by_name("vn3") == kTcvn3 &&
              format_by_name("") == -1);

}  // namespace toneshift
