#include "tsconv/messages.h"

#include <utf8proc.h>

#include <cstdio>

#include "convert/format_names.h"
#include "tsconv/progress.h"

namespace toneshift::tsconv {

std::string display_name(std::string_view path) {
    return path == "-" ? "(standard input)" : std::string(path);
}

std::string output_display_name(std::string_view path) {
    return path == "-" ? "(standard output)" : std::string(path);
}

std::string_view format_name(int format) {
    return format_names[std::size_t(format)].name;
}

std::string usage_line() {
    return "usage: tsconv -f FROM -t TO [-o FILE | -d DIR | -i] [--replace | --translit | "
           "--check] [--nfd] [-q] [FILE...]; tsconv --detect [FILE...]; tsconv -l; tsconv --help";
}

std::string help_text() {
    return "Usage: tsconv -f FROM -t TO [OPTIONS] [FILE...]\n"
           "       tsconv --detect [FILE...]\n"
           "       tsconv -l\n"
           "Converts Vietnamese text between eleven legacy formats and UTF-8. With no FILE,\n"
           "or with -, reads standard input. By default every input goes to standard output,\n"
           "one after the other, as one text.\n"
           "\n"
           "  -f, --from-code FROM  the format of the input: a name or number (tsconv -l),\n"
           "                        or auto: the format --detect names for each input\n"
           "  -t, --to-code TO      the format wanted\n"
           "  -o, --output FILE     write to FILE instead of standard output\n"
           "  -d, --out-dir DIR     write each input to DIR/its base name (DIR must exist)\n"
           "  -i, --in-place        replace each input by its conversion\n"
           "      --replace         convert what the target lacks to its nearest form or \"?\"\n"
           "      --translit        as --replace, but typographic punctuation to ASCII first\n"
           "      --check           convert nothing; report whether each input converts exactly\n"
           "      --nfd             write UTF-8 decomposed (NFD) rather than composed (NFC)\n"
           "  -q, --quiet           no per-file summaries of what --replace or --translit lost\n"
           "      --detect          convert nothing; name the format of each input\n"
           "  -l, --list            list the formats\n"
           "  -h, --help            show this help\n"
           "  -V, --version         show the version\n"
           "\n"
           "By default a character that the target cannot write, or input that means nothing\n"
           "in its format, is refused: tsconv names the first one and writes nothing for that\n"
           "file. Files are replaced only when their conversion succeeded.\n"
           "Exit status: 0 all converted; 1 a file was refused (or, with --check, would lose\n"
           "something); 2 a usage error or a file that could not be read or written.\n"
           "See tsconv(1).\n";
}

std::string version_text() {
    return "tsconv (TONESHIFT) " TONESHIFT_VERSION "\n";
}

std::string format_list() {
    std::string out;
    for (int f = 0; f < kConvertFormatCount; ++f) {
        const FormatName& n = format_names[std::size_t(f)];
        char line[160];
        std::snprintf(line, sizeof line, "%2d  %-12s  %-18s", f, std::string(n.name).c_str(),
                      std::string(n.menu_name).c_str());
        std::string text = line;
        if (!n.alias.empty()) text += "  also " + std::string(n.alias);
        if (!n.lacks.empty()) text += "  lacks " + std::string(n.lacks);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out += text + "\n";
    }
    return out;
}

std::string unknown_format_message(std::string_view name) {
    std::string text = "unknown format \"" + std::string(name) + "\"; the formats are ";
    for (int f = 0; f < kConvertFormatCount; ++f) {
        const FormatName& n = format_names[std::size_t(f)];
        if (f != 0) text += ", ";
        text += std::string(n.name);
        if (!n.alias.empty()) text += " (or " + std::string(n.alias) + ")";
    }
    return text + ", in any case, or their numbers 0 to 11 (tsconv -l lists them)";
}

std::string utf8(char32_t c) {
    utf8proc_uint8_t bytes[4];
    const utf8proc_ssize_t n = utf8proc_encode_char(utf8proc_int32_t(c), bytes);
    return std::string(reinterpret_cast<const char*>(bytes), std::size_t(n < 0 ? 0 : n));
}

namespace {

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

void say(std::string_view text) {
    clear_progress_line();
    std::string line = std::string(kProgramName) + ": " + std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace toneshift::tsconv
