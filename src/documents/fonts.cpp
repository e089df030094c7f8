#include "documents/fonts.h"

#include "convert/format_names.h"

namespace toneshift::documents {

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool contains_folded(std::string_view name, std::string_view part) {
    if (part.size() > name.size()) return false;
    for (std::size_t i = 0; i + part.size() <= name.size(); ++i) {
        std::size_t k = 0;
        while (k < part.size() && lower(name[i + k]) == part[k]) ++k;
        if (k == part.size()) return true;
    }
    return false;
}

// One word of a font map line: up to the next space, or a double-quoted name.
bool next_word(std::string_view& line, std::string& word, std::string& error) {
    std::size_t i = 0;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    line.remove_prefix(i);
    word.clear();
    if (line.empty()) return false;
    if (line[0] == '"') {
        const std::size_t close = line.find('"', 1);
        if (close == std::string_view::npos) {
            error = "a quote is not closed";
            return false;
        }
        word = line.substr(1, close - 1);
        line.remove_prefix(close + 1);
        return true;
    }
    std::size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    word = line.substr(0, end);
    line.remove_prefix(end);
    return true;
}

}  // namespace

bool font_matches(std::string_view pattern, std::string_view name) {
    // Greedy matching with backtracking to the last '*': linear in practice, and at worst
    // the product of the two lengths (font names are short).
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && lower(pattern[p]) == lower(name[n])) {
            ++p;
            ++n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::size_t specificity(std::string_view pattern) {
    std::size_t n = 0;
    for (char c : pattern) n += c != '*';
    return n;
}

FontKind font_kind(std::string_view name) {
    for (std::string_view mono : {"courier", "couri", "mono", "console", "typewriter"})
        if (contains_folded(name, mono)) return FontKind::kMono;
    for (std::string_view sans :
         {"arial", "helve", "univers", "avant", "verdana", "tahoma", "sans", "gothic", "swiss"})
        if (contains_folded(name, sans)) return FontKind::kSans;
    return FontKind::kSerif;
}

bool FontTable::add_map(std::string_view text, std::string& error) {
    std::vector<UserEntry> added;
    std::size_t number = 0;
    while (!text.empty() || number == 0) {
        ++number;
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // A '#' outside quotes begins a comment.
        bool quoted = false;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (line[i] == '"') quoted = !quoted;
            if (line[i] == '#' && !quoted) {
                line = line.substr(0, i);
                break;
            }
        }
        const auto fail = [&](const std::string& what) {
            error = "line " + std::to_string(number) + ": " + what;
            return false;
        };
        std::string pattern, encoding, replacement, extra;
        std::string why;
        if (!next_word(line, pattern, why)) {
            if (!why.empty()) return fail(why);
            if (text.empty()) break;
            continue;
        }
        if (!next_word(line, encoding, why))
            return fail(why.empty() ? "\"" + pattern + "\" needs an encoding after it" : why);
        if (next_word(line, replacement, why) && next_word(line, extra, why))
            return fail("more than a pattern, an encoding and a font (quote a name with spaces)");
        if (!why.empty()) return fail(why);
        if (pattern.empty()) return fail("an empty font name pattern");
        UserEntry e;
        e.pattern = pattern;
        e.replacement = replacement;
        std::string folded = encoding;
        for (char& c : folded) c = lower(c);
        if (folded == "unicode") {
            e.format = -1;
        } else {
            e.format = format_by_name(encoding);
            if (e.format < 0 || is_unicode_format(e.format) || e.format == kViqr ||
                e.format == kPlainVietnamese)
                return fail("\"" + encoding +
                            "\" is no legacy font encoding (tcvn3, tcvn3-caps, tcvn3-vncaps, "
                            "vni-win, vncii, viscii, ...; or unicode)");
        }
        added.push_back(std::move(e));
        if (text.empty()) break;
    }
    for (UserEntry& e : added) user_.push_back(std::move(e));
    return true;
}

FontInfo FontTable::lookup(std::string_view name) const {
    FontInfo info;
    const UserEntry* best_user = nullptr;
    for (const UserEntry& e : user_) {
        if (!font_matches(e.pattern, name)) continue;
        if (best_user == nullptr || specificity(e.pattern) >= specificity(best_user->pattern))
            best_user = &e;
    }
    std::string replacement;
    if (best_user != nullptr) {
        info.format = best_user->format;
        replacement = best_user->replacement;
    } else {
        const BuiltInFont* best = nullptr;
        for (const BuiltInFont& f : kBuiltInFonts) {
            if (!font_matches(f.pattern, name)) continue;
            if (best == nullptr || specificity(f.pattern) >= specificity(best->pattern)) best = &f;
        }
        if (best != nullptr) info.format = best->format;
    }
    if (info.format < 0) return info;
    if (!replacement.empty()) {
        info.replacement = replacement;
    } else if (!unicode_font_.empty()) {
        info.replacement = unicode_font_;
    } else {
        switch (font_kind(name)) {
            case FontKind::kMono:
                info.replacement = kMonoFont;
                break;
            case FontKind::kSans:
                info.replacement = kSansFont;
                break;
            case FontKind::kSerif:
                info.replacement = kSerifFont;
                break;
        }
    }
    return info;
}

}  // namespace toneshift::documents
