// The names of the twelve formats, as the command line and its messages use them.
#pragma once

#include <array>
#include <string_view>

#include "convert/converter.h"

namespace toneshift {

struct FormatName {
    std::string_view name;       // the name scripts use, lower case
    std::string_view alias;      // a second accepted name, or empty
    std::string_view menu_name;  // the dialogue's menu name
    std::string_view lacks;      // what the format cannot hold, or empty
};

inline constexpr std::array<FormatName, kConvertFormatCount> format_names{{
    {"viscii", "", "VISCII", ""},
    {"vncii", "vpswin", "VNCII (VPSWin)", ""},
    {"vpsedit", "", "VPSedit (DOS)", ""},
    {"vni", "", "VNI", ""},
    {"vnlab", "", "VNLab/VNU", ""},
    {"vnu-win", "", "VNU (Windows)", "50 capitals that share their small letter's byte"},
    {"thinart-mac", "", "VN Thin-Art (Mac)", ""},
    {"thinart-pc", "", "VN Thin-Art (PC)", "34 capitals that share their small letter's byte"},
    {"viet-toan", "", "Viet-Toan", ""},
    {"plain", "", "Plain Vietnamese", "diacritics"},
    {"viqr", "", "Standard VIQR", ""},
    {"utf-8", "utf8", "UTF-8", ""},
}};

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
