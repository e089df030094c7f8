// The command line of tsconv: what to convert, from and to which format, and where to.
#pragma once

#include <string>
#include <vector>

#include "convert/converter.h"

namespace toneshift::tsconv {

// Where the converted text goes.
enum class Destination {
    kStandardOutput,  // every input, one after the other, as one text
    kOutputFile,      // -o: every input, one after the other, as one text, into one file
    kOutDir,          // -d: each input into a file of its base name in a folder
    kInPlace,         // -i: each input replaced by its conversion
};

// -f auto: each input from the format that detection names for it.
inline constexpr int kAutoFormat = -2;
// --repair without -f: UTF-8, or UTF-16 where a byte-order mark begins the input.
inline constexpr int kRepairSource = -4;
// No -f, and -t utf-8: every input is a document, each piece of its text read in the
// encoding its font names.
inline constexpr int kFromFonts = -3;

// --include GLOB (include = true) or --exclude GLOB, in the order given: under -r the last
// pattern that matches a file's base name decides whether it is taken.
struct NamePattern {
    bool include = true;
    std::string glob;
};

struct Options {
    int from = -1;  // format numbers, or kAutoFormat, or kFromFonts
    int to = -1;
    LossPolicy policy = LossPolicy::kRefuse;
    // --check: a dry run of the command without it: every check that command makes, nothing
    // written, and the status it would return.
    bool check = false;
    bool nfd = false;        // --nfd, --unicode-form nfd
    bool composite = false;  // --unicode-form composite
    bool quiet = false;
    bool force = false;      // --force: convert even an input that looks like another format
    bool recursive = false;  // -r: the inputs may be folders, whose regular files are taken
    std::vector<NamePattern> patterns;  // -r: which files of the folders are taken
    unsigned jobs = 1;                  // -j N: files handled at once in the per-file modes
    Destination destination = Destination::kStandardOutput;
    std::string output;               // -o FILE or -d DIR
    std::vector<std::string> inputs;  // never empty: "-" is standard input
    // Documents: --font-map FILE (entries before the built-in font table), and
    // --unicode-font NAME (the font put in every legacy font's place).
    std::string font_map;
    std::string unicode_font;
    // --repair: garbled text (UTF-8 taken for another character set, legacy bytes shown as
    // Windows-1252) is repaired. `from` is how the file's bytes are read (kRepairSource when
    // not given, or kAutoFormat); `to` is -1 when not given: the text is written in its own
    // encoding, and a file with nothing to repair is copied byte for byte.
    bool repair = false;
    // --tone-style old|new: the tone mark of every Vietnamese syllable written in that style
    // (0: left as it is, 1: traditional, "hòa", 2: new, "hoà"); --fix-tones: marks that sit
    // where no style puts them moved where the syllable rules do. Either makes the conversion
    // go through the text pipeline of --repair.
    int tone_style = 0;
    bool fix_tones = false;
};

// What the command line asks for.
struct Command {
    enum class Action { kConvert, kDetect, kRepair, kList, kHelp, kVersion, kUsageError };
    Action action = Action::kConvert;
    Options options;     // kConvert; kDetect: the inputs
    std::string error;   // kUsageError: the message, without the program's name
    bool usage = false;  // kUsageError: the one-line usage should follow the message
};

// Parses the arguments with getopt_long. Formats are names in any case or numbers. Which
// options combine in which mode, and which are refused as doing nothing there, is the table
// at the top of options.cpp.
Command parse_command_line(int argc, char* const argv[]);

}  // namespace toneshift::tsconv
