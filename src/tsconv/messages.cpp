#include "tsconv/messages.h"

#include <utf8proc.h>

#include <array>
#include <cstdio>
#include <vector>

#include "convert/format_names.h"
#include "tsconv/progress.h"

namespace toneshift::tsconv {

namespace {

// How quote_name() treats a printable ASCII character.
enum class Shell {
    kPlain,     // needs no quotes, and double quotes keep it
    kSpace,     // needs quotes; double quotes keep it
    kSpecial,   // needs quotes; single quotes only
    kQuote,     // the single quote: needs quotes; double quotes keep it
    kOnlyHere,  // "#" or "~" past the start, "{" or "}" with more: as kPlain, but single
                // quotes only when the name is quoted for something else
};

Shell shell_class(unsigned char c, std::size_t index, std::size_t size) {
    switch (c) {
        case ' ':
            return Shell::kSpace;
        case '\'':
            return Shell::kQuote;
        case '#':
        case '~':
            return index == 0 ? Shell::kSpace : Shell::kOnlyHere;
        case '{':
        case '}':
            return size == 1 ? Shell::kSpace : Shell::kOnlyHere;
        case '!':
        case '"':
        case '$':
        case '&':
        case '(':
        case ')':
        case '*':
        case ';':
        case '<':
        case '=':
        case '>':
        case '?':
        case '[':
        case '\\':
        case '^':
        case '`':
        case '|':
            return Shell::kSpecial;
        default:
            return Shell::kPlain;
    }
}

// A character that shows as itself on a terminal: no control, format, separator (other than
// the space), private-use, surrogate or unassigned code point.
bool prints(char32_t c) {
    if (c > 0x10FFFF) return false;
    switch (utf8proc_category(utf8proc_int32_t(c))) {
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
        case UTF8PROC_CATEGORY_CS:
        case UTF8PROC_CATEGORY_CO:
        case UTF8PROC_CATEGORY_CN:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
            return false;
        default:
            return true;
    }
}

// One piece of a name: a character (`size` bytes) or a byte of invalid UTF-8 (size 1), and
// whether it is shown as $'...' escapes rather than itself.
struct NamePiece {
    std::size_t size;
    bool escaped;
};

NamePiece name_piece(std::string_view name, std::size_t i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte < 0x80) return {1, byte < 0x20 || byte == 0x7F};
    utf8proc_int32_t c = -1;
    const utf8proc_ssize_t n =
        utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(name.data() + i),
                         utf8proc_ssize_t(name.size() - i), &c);
    if (n <= 0 || c < 0) return {1, true};
    return {std::size_t(n), !prints(char32_t(c))};
}

// A byte in a $'...' string: \n and its kin, or three octal digits.
void append_escape(std::string& out, unsigned char byte) {
    switch (byte) {
        case '\a':
            out += "\\a";
            return;
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        case '\v':
            out += "\\v";
            return;
        default:
            out += '\\';
            out += char('0' + (byte >> 6));
            out += char('0' + ((byte >> 3) & 7));
            out += char('0' + (byte & 7));
    }
}

}  // namespace

std::string quote_name(std::string_view name) {
    if (name.empty()) return "''";
    bool quote = false;        // the shell needs quotes around it
    bool single = false;       // it holds a single quote
    bool doubles_keep = true;  // double quotes would keep every character as it is
    for (std::size_t i = 0; i < name.size();) {
        const NamePiece piece = name_piece(name, i);
        if (piece.escaped) {
            quote = true;
            doubles_keep = false;
        } else if (piece.size == 1) {
            switch (shell_class(static_cast<unsigned char>(name[i]), i, name.size())) {
                case Shell::kPlain:
                    break;
                case Shell::kQuote:
                    single = true;
                    quote = true;
                    break;
                case Shell::kSpace:
                    quote = true;
                    break;
                case Shell::kSpecial:
                    quote = true;
                    doubles_keep = false;
                    break;
                case Shell::kOnlyHere:
                    doubles_keep = false;
                    break;
            }
        }
        i += piece.size;
    }
    if (!quote) return std::string(name);
    if (single && doubles_keep) {
        std::string out = "\"";
        out.append(name).append("\"");
        return out;
    }

    // In single quotes; a single quote as '\'', escapes in $'...' between them.
    std::string out = "'";
    bool in_escapes = false;  // inside $'...'
    for (std::size_t i = 0; i < name.size();) {
        const NamePiece piece = name_piece(name, i);
        if (piece.escaped) {
            if (!in_escapes) out += "'$'";
            in_escapes = true;
            for (std::size_t k = 0; k < piece.size; ++k)
                append_escape(out, static_cast<unsigned char>(name[i + k]));
        } else if (name[i] == '\'') {
            out += "'\\''";  // its first quote ends $'...' as well as '...'
            in_escapes = false;
        } else {
            if (in_escapes) out += "''";
            in_escapes = false;
            out.append(name.substr(i, piece.size));
        }
        i += piece.size;
    }
    return out + "'";
}

bool shows_as_itself(std::string_view text) {
    const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    for (std::size_t i = 0; i < text.size();) {
        utf8proc_int32_t c = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(p + i, utf8proc_ssize_t(text.size() - i), &c);
        if (n <= 0 || c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
        i += std::size_t(n);
    }
    return true;
}

std::string display_name(std::string_view path) {
    return path == "-" ? "(standard input)" : quote_name(path);
}

std::string output_display_name(std::string_view path) {
    return path == "-" ? "(standard output)" : quote_name(path);
}

std::string_view format_name(int format) {
    return format_names[std::size_t(format)].name;
}

std::string usage_line() {
    return "usage: tsconv -f FROM -t TO [-o FILE | -d DIR | -i] [-r] [-j N] [--replace | "
           "--translit] [--check] [--unicode-form FORM] [--force] [-q] [FILE...]; tsconv --detect "
           "[-r [--include GLOB] [--exclude GLOB]] [-j N] [FILE...]; tsconv -t utf-8 [-o FILE | -d "
           "DIR | -i] [--font-map FILE] [--unicode-font NAME] DOCUMENT...; tsconv --repair [-f "
           "FROM] [-t TO] [-o FILE | -d DIR | -i] [--tone-style old|new] [--fix-tones] "
           "[FILE...]; tsconv -l; tsconv --help";
}

std::string help_text() {
    return "Usage: tsconv -f FROM -t TO [OPTIONS] [FILE...]   (a document: -t utf-8, no -f)\n"
           "       tsconv --detect [-r] [-j N] [FILE...]\n"
           "       tsconv --repair [-f FROM] [-t TO] [OPTIONS] [FILE...]\n"
           "       tsconv -l\n"
           "Converts Vietnamese text between its legacy encodings, VIQR and Unicode. With no\n"
           "FILE, or with -, reads standard input. By default every input goes to standard\n"
           "output, one after the other, as one text.\n"
           "\n"
           "  -f, --from-code FROM  the format of the input: a name or number (tsconv -l),\n"
           "                        or auto: the format --detect names for each input\n"
           "  -t, --to-code TO      the format wanted\n"
           "  -o, --output FILE     write to FILE instead of standard output\n"
           "  -d, --out-dir DIR     write each input to DIR/its base name (DIR must exist)\n"
           "  -i, --in-place        replace each input by its conversion\n"
           "  -r, --recursive       with -d, -i, --check or --detect: take the files of each\n"
           "                        folder given, and below (under -d, to the same paths)\n"
           "      --include GLOB    with -r: take only files whose name matches GLOB;\n"
           "      --exclude GLOB      not those; the last that matches decides\n"
           "  -j, --jobs N          with -d, -i, --check or --detect: N files at once\n"
           "      --replace         write what the target lacks as its nearest form or \"?\"\n"
           "      --translit        as --replace, but typographic punctuation to ASCII first\n"
           "      --check           a dry run: write nothing, report whether each input\n"
           "                        would convert exactly, and give the status it would\n"
           "      --unicode-form F  into Unicode: nfc (the default), nfd or composite; --nfd\n"
           "      --force           convert even an input that looks like another format\n"
           "  -q, --quiet           no summary per file of what --replace or --translit lost\n"
           "      --font-map FILE   documents' font names and encodings; --unicode-font F\n"
           "      --detect          convert nothing; name the format of each input\n"
           "      --repair          repair garbled text (UTF-8 read as Windows-1252 ...)\n"
           "      --tone-style S    tone marks old (h\xC3\xB2"
           "a) or new (ho\xC3\xA0); and --fix-tones\n"
           "  -l, --list            list the formats and what each cannot hold\n"
           "  -h, --help            show this help\n"
           "  -V, --version         show the version\n"
           "\n"
           "By default a character that the target cannot write, or input that means nothing\n"
           "in its format, is refused: tsconv names the first one and writes nothing for\n"
           "that file. Files are replaced only when their conversion succeeded.\n"

           "Exit status: 0 all converted; 1 a file was refused (or, with --check, would lose\n"
           "something); 2 a usage error or a file that could not be read or written.\n"
           "See tsconv(1).\n";
}

std::string version_text() {
    return "tsconv (TONESHIFT) " TONESHIFT_VERSION "\n";
}

namespace {

// "U+0002 U+0005", with a run of three or more as "U+0010-U+0015".
std::string code_point_runs(const std::array<bool, 128>& set, bool controls) {
    auto wanted = [&](unsigned c) {
        return c < 128 && set[c] && controls == (c < 0x20 || c == 0x7F);
    };
    std::string text;
    for (unsigned c = 0; c < 128; ++c) {
        if (!wanted(c)) continue;
        unsigned last = c;
        while (wanted(last + 1)) ++last;
        char run[32];
        if (last >= c + 2) {
            std::snprintf(run, sizeof run, "U+%04X-U+%04X", c, last);
        } else {
            last = c;
            std::snprintf(run, sizeof run, "U+%04X", c);
        }
        if (!text.empty()) text += ' ';
        text += run;
        c = last;
    }
    return text;
}

std::string count_of(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string format_lacks(int format) {
    const FormatLacks& l = format_lacks_table[std::size_t(format)];
    std::vector<std::string> parts;
    if (l.ascii_count > l.control_count) {
        // Each character, or a run of letters or digits as "a-z".
        std::string printable;
        auto alnum = [](unsigned c) {
            return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        };
        for (unsigned c = 0x20; c < 0x7F; ++c) {
            if (!l.ascii[c]) continue;
            unsigned last = c;
            while (alnum(c) && last + 1 < 0x7F && l.ascii[last + 1] && alnum(last + 1)) ++last;
            if (!printable.empty()) printable += ' ';
            printable += char(c);
            if (last >= c + 2) {
                printable += '-';
                printable += char(last);
                c = last;
            }
        }
        parts.push_back(printable);
    }
    if (l.control_count != 0)
        parts.push_back(count_of(l.control_count, "control character", "control characters")
                            .append(" (")
                            .append(code_point_runs(l.ascii, true))
                            .append(")"));
    if (l.shared_capitals != 0)
        parts.push_back(
            count_of(l.shared_capitals, "capital that shares its", "capitals that share their") +
            " small letter's byte");
    if (l.bare_letters == kLetterCount) {
        parts.emplace_back("diacritics (each letter is written as its base letter)");
    } else if (l.bare_letters != 0) {
        parts.push_back("the diacritics of " + count_of(l.bare_letters, "letter", "letters"));
    }
    if (l.small_as_capitals != 0)
        parts.push_back(count_of(l.small_as_capitals, "small letter", "small letters") +
                        " (a capitals font draws each as its capital)");
    if (l.other_letters != 0) parts.push_back(count_of(l.other_letters, "letter", "letters"));
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : "; ") + part;
    return text;
}

std::string format_list() {
    std::string out;
    for (int f = 0; f < kConvertFormatCount; ++f) {
        const FormatName& n = format_names[std::size_t(f)];
        char line[160];
        std::snprintf(line, sizeof line, "%2d  %-12s  %-31s", f, std::string(n.name).c_str(),
                      std::string(n.menu_name).c_str());
        std::string text = line;
        if (!n.alias.empty()) text += "  also " + std::string(n.alias);
        if (!n.alias2.empty()) text += ", " + std::string(n.alias2);
        const std::string lacks = format_lacks(f);
        if (!lacks.empty()) text += "  lacks " + lacks;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + "\n";
    }
    return out;
}

std::string unknown_format_message(std::string_view name) {
    // Appended piece by piece: GCC 12 at -O3 sees a false overlap in "literal" + std::string.
    std::string text = "unknown format ";
    if (shows_as_itself(name)) {
        text.append("\"").append(name).append("\"");
    } else {
        text += quote_name(name);
    }
    text += "; the formats are ";
    for (int f = 0; f < kConvertFormatCount; ++f) {
        const FormatName& n = format_names[std::size_t(f)];
        if (f != 0) text += ", ";
        text += std::string(n.name);
        if (!n.alias.empty()) text += " (or " + std::string(n.alias);
        if (!n.alias2.empty()) text += ", " + std::string(n.alias2);
        if (!n.alias.empty()) text += ")";
    }
    return text + ", in any case, or their numbers 0 to " +
           std::to_string(kConvertFormatCount - 1) + " (tsconv -l lists them)";
}

std::string utf8(char32_t c) {
    utf8proc_uint8_t bytes[4];
    const utf8proc_ssize_t n = utf8proc_encode_char(utf8proc_int32_t(c), bytes);
    return std::string(reinterpret_cast<const char*>(bytes), std::size_t(n < 0 ? 0 : n));
}

namespace {

std::string code_point(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", unsigned(c));
    return text;
}

std::string shown(char32_t c) {
    std::string text = code_point(c);
    if (prints(c)) text += " \"" + utf8(c) + "\"";
    return text;
}

}  // namespace

std::string describe_problem(const Problem& problem) {
    if (problem.kind == Problem::Kind::kLoss) return shown(problem.character);
    std::string text = problem.byte_count == 1 ? "undefined byte" : "undefined bytes";
    for (std::size_t i = 0; i < problem.byte_count; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, " 0x%02X", unsigned(problem.bytes[i]));
        text += hex;
    }
    return text;
}

std::string describe_replacement(const Problem& problem) {
    std::string text;
    for (std::size_t i = 0; i < problem.replacement_size; ++i) text += utf8(problem.replacement[i]);
    if (problem.replacement_size == 1 && !prints(problem.replacement[0]))
        return code_point(problem.replacement[0]);
    // In double quotes, or in single quotes where it holds a double quote itself.
    const char quote = text.find('"') == std::string::npos ? '"' : '\'';
    return quote + text + quote;
}

std::string problem_place(std::string_view input, const Problem& problem) {
    return display_name(input) + ":" + std::to_string(problem.line) + ":" +
           std::to_string(problem.column);
}

std::string undecided_message(std::string_view name, const Detection& d) {
    std::string text = display_name(name) + ": format ";
    switch (d.verdict) {
        case Detection::Verdict::kFormat:
            text += std::string(format_name(d.format));
            break;
        case Detection::Verdict::kMixed:
            text += "mixed";
            break;
        case Detection::Verdict::kUnknown:
            text += "unknown";
            break;
    }
    if (!d.details.empty()) text += " " + d.details;
    text += "; not converted (";
    if (d.candidates.empty()) return text + "give -f FROM)";
    std::string options;  // "-f viscii, -f vni or -f vnlab"
    for (std::size_t i = 0; i < d.candidates.size(); ++i) {
        if (i != 0) options += i + 1 == d.candidates.size() ? " or " : ", ";
        options += "-f " + std::string(format_name(d.candidates[i]));
    }
    if (d.verdict == Detection::Verdict::kMixed)
        return text + "its line ranges are in different formats: split it, and convert each " +
               "part with " + options + ")";
    return text + "give " + options + ")";
}

void say(std::string_view text) {
    clear_progress_line();
    std::string line = std::string(kProgramName) + ": " + std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace toneshift::tsconv
