// The font table: which legacy encoding a font's text is stored in, and which Unicode font
// takes the place of a legacy one. A font that no entry names is a Unicode font (or a symbol
// font) and its text is left alone.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"

namespace toneshift::documents {

// What a legacy font looks like, which decides the Unicode font put in its place.
enum class FontKind { kSerif, kSans, kMono };

struct BuiltInFont {
    std::string_view pattern;  // '*' stands for any run of characters; case is ignored
    int format;                // a converter format
};

// The built-in table. Capitals fonts (".VnTimeH") draw every letter, a to z included, as a
// capital, and their text becomes real capitals. A capitals font that keeps a to z small
// (tcvn3-vncaps) is only known by a --font-map entry: no usual font name says so.
inline constexpr std::array<BuiltInFont, 20> kBuiltInFonts{{
    {".Vn*", kTcvn3},       // .VnTime, .VnArial, .VnCourier New, .VnBook-Antiqua, ...
    {".Vn*H", kTcvn3Caps},  // .VnTimeH, .VnArialH, ...: the all-capital fonts
    {".Vn*Hoa", kTcvn3Caps},
    {"VNI-*", kVniWin},  // VNI-Times, VNI-Helve, VNI-Helve-Condense, VNI-Couri, ...
    {"VNI *", kVniWin},
    {"VPS *", 1},  // VPS Times, VPS Helvetica: VNCII (VPSWin)
    {"VPS-*", 1},
    {"VNtimes new roman", 0},  // the VISCII fonts
    {"VNarial*", 0},
    {"VNcourier*", 0},
    {"VNhelvetica*", 0},
    {"* VISCII", 0},
    {"VISCII *", 0},
    {"BKHCM*", kBkhcm2},
    {"BK HCM*", kBkhcm2},
    {"BachKhoa*", kBkhcm2},
    {"VietWare*F", kVietwareF},
    {"VietWare*X", kVietwareX},
    {"VW-*F", kVietwareF},
    {"VW-*X", kVietwareX},
}};

// The Unicode fonts put in place of each kind, unless --unicode-font or the font map say
// otherwise.
inline constexpr std::string_view kSerifFont = "Times New Roman";
inline constexpr std::string_view kSansFont = "Arial";
inline constexpr std::string_view kMonoFont = "Courier New";

// Whether `name` matches `pattern`, ignoring ASCII case; '*' matches any run of characters.
bool font_matches(std::string_view pattern, std::string_view name);
// How many characters of `pattern` are not '*': the more, the more specific.
std::size_t specificity(std::string_view pattern);
// The kind of a font by its name: monospace for Courier-like names, sans-serif for Arial,
// Helvetica, Univers, Avant Garde, Verdana and Tahoma-like names, serif otherwise.
FontKind font_kind(std::string_view name);

// What the table says of one font.
struct FontInfo {
    int format = -1;          // the legacy encoding, or -1: a Unicode font, left alone
    std::string replacement;  // format >= 0: the Unicode font that takes its place
};

class FontTable {
  public:
    FontTable() = default;

    // Adds the entries of a font map: one a line, "PATTERN ENCODING [UNICODE FONT]", the
    // pattern and font names in double quotes where they hold spaces; '#' begins a comment;
    // blank lines are ignored. ENCODING is a format name ("tcvn3", "vni-win") or "unicode",
    // which makes the fonts it matches Unicode fonts. Returns false and sets `error` to
    // "line N: WHAT" at the first line it cannot read; nothing of the map is taken then.
    bool add_map(std::string_view text, std::string& error);
    // The Unicode font for every replaced font, unless a map entry names its own.
    void set_unicode_font(std::string name) { unicode_font_ = std::move(name); }

    // The entry for `name`: the user's entries before the built-in ones; within each, the
    // most specific pattern that matches, and among equals the one given last.
    FontInfo lookup(std::string_view name) const;

  private:
    struct UserEntry {
        std::string pattern;
        int format = -1;
        std::string replacement;
    };
    std::vector<UserEntry> user_;
    std::string unicode_font_;
};

}  // namespace toneshift::documents
