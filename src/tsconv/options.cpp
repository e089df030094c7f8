#include "tsconv/options.h"

#include <getopt.h>

#include <charconv>
#include <cstring>

#include "convert/format_names.h"
#include "tsconv/messages.h"

namespace toneshift::tsconv {

// Which options combine. Every option not named here combines with every mode; a usage
// error (status 2) refuses an option that would do nothing in the mode given, so that a
// script never believes it asked for something that did not happen.
//
//   mode                    what it takes                    what it refuses
//   -f FROM -t TO (stdout)  -o, --replace | --translit,      -r, -j N>1
//                           --nfd | --unicode-form (a Unicode
//                           target), --force, -q
//   ... -o FILE             as stdout                        -r, -j N>1, -d, -i
//   ... -d DIR              -r, --include/--exclude, -j N,   -o, -i, "-" as input
//                           and as stdout
//   ... -i                  as -d                            -o, -d, "-" as input
//   ... --check             any of the above (a dry run of   what the command it precedes
//                           the command without it); -j N    refuses, except that -j N
//                           also with stdout or -o, -r also  needs no -d or -i, and -r
//                           with stdout                      none with stdout (-r -o stays
//                                                            refused)
//   --detect                -r, --include/--exclude, -j N,   -f, -t, -o, -d, -i, --check,
//                           --font-map                       --replace, --translit, --nfd,
//                                                            --unicode-form, --force, -q,
//                                                            --unicode-font
//   -t utf-8, no -f         documents (Word, ...): as -f FROM  -f, and any other -t
//                           -t TO, and --font-map FILE,
//                           --unicode-font NAME
//   --repair [-f FROM]      -t TO, -o, -d, -i, --check,        -r, -j N>1, --force, --detect,
//   [-t TO]                 --replace | --translit, --nfd |    --font-map, --unicode-font
//                           --unicode-form, -q, --tone-style,
//                           --fix-tones
//   --tone-style S,         with -f FROM -t TO or --repair:    as --repair
//   --fix-tones             as --repair
//   -l, -h, -V              (everything else is ignored)
//
// Everywhere: --replace and --translit exclude each other, as do -o, -d and -i; --nfd and
// --unicode-form need a Unicode target (utf-8, utf-16*, ncr) and say one form between them;
// --include and --exclude need -r; -r needs -d, -i, --check or --detect and named inputs; -f auto
// takes every mode of conversion.

namespace {

// Long options without a short form.
enum : int {
    kReplaceOption = 256,
    kTranslitOption,
    kCheckOption,
    kNfdOption,
    kUnicodeFormOption,
    kDetectOption,
    kForceOption,
    kIncludeOption,
    kExcludeOption,
    kFontMapOption,
    kUnicodeFontOption,
    kRepairOption,
    kToneStyleOption,
    kFixTonesOption,
};

constexpr char kShortOptions[] = ":f:t:o:d:ilqhVrj:";
constexpr option kLongOptions[] = {
    {"from-code", required_argument, nullptr, 'f'},
    {"to-code", required_argument, nullptr, 't'},
    {"output", required_argument, nullptr, 'o'},
    {"out-dir", required_argument, nullptr, 'd'},
    {"in-place", no_argument, nullptr, 'i'},
    {"list", no_argument, nullptr, 'l'},
    {"replace", no_argument, nullptr, kReplaceOption},
    {"translit", no_argument, nullptr, kTranslitOption},
    {"check", no_argument, nullptr, kCheckOption},
    {"nfd", no_argument, nullptr, kNfdOption},
    {"unicode-form", required_argument, nullptr, kUnicodeFormOption},
    {"detect", no_argument, nullptr, kDetectOption},
    {"force", no_argument, nullptr, kForceOption},
    {"recursive", no_argument, nullptr, 'r'},
    {"include", required_argument, nullptr, kIncludeOption},
    {"exclude", required_argument, nullptr, kExcludeOption},
    {"jobs", required_argument, nullptr, 'j'},
    {"font-map", required_argument, nullptr, kFontMapOption},
    {"unicode-font", required_argument, nullptr, kUnicodeFontOption},
    {"repair", no_argument, nullptr, kRepairOption},
    {"tone-style", required_argument, nullptr, kToneStyleOption},
    {"fix-tones", no_argument, nullptr, kFixTonesOption},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

constexpr unsigned kMaxJobs = 1024;

Command usage_error(std::string message, bool usage = true) {
    Command c;
    c.action = Command::Action::kUsageError;
    c.error = std::move(message);
    c.usage = usage;
    return c;
}

// A second choice of where the output goes, or of what to do about losses, is a conflict.
std::string conflict(const char* first, const char* second) {
    return std::string(first) + " and " + second + " cannot be used together";
}

const char* destination_option(Destination d) {
    switch (d) {
        case Destination::kOutputFile:
            return "-o";
        case Destination::kOutDir:
            return "-d";
        case Destination::kInPlace:
            return "-i";
        case Destination::kStandardOutput:
            break;
    }
    return "";
}

bool takes_argument(char c) {
    const char* p = std::strchr(kShortOptions + 1, c);
    return p != nullptr && p[1] == ':';
}

// getopt_long keeps to itself where it is inside a group of short options ("-qr"); this
// follows it, so that an error can name the argument it came from. GNU getopt_long, when
// it starts on a new argument, passes over the non-options from optind on, and stays on an
// argument (optind unchanged) until its last short option has been taken.
class ArgumentTracker {
  public:
    ArgumentTracker(int argc, char* const argv[]) : argc_(argc), argv_(argv) {}

    // Before each call of getopt_long.
    void before() {
        if (position_ != 0) return;  // still inside argv_[index_]
        int k = ::optind < 1 ? 1 : ::optind;
        while (k < argc_ && (argv_[k][0] != '-' || argv_[k][1] == '\0')) ++k;
        index_ = k;
        position_ = 1;
    }

    // The argument getopt_long looked at in the call just made, and the place in it of the
    // short option it took (0 for a long option).
    const char* argument() const { return index_ < argc_ ? argv_[index_] : ""; }
    std::size_t position() const { return is_long() ? 0 : position_; }
    bool is_long() const { return std::strncmp(argument(), "--", 2) == 0; }

    // After a short or long option was taken.
    void after(int option) {
        if (is_long() || option < 0 || option > 255 || takes_argument(char(option)) ||
            argument()[position_ + 1] == '\0') {
            position_ = 0;
        } else {
            ++position_;
        }
    }

  private:
    int argc_;
    char* const* argv_;
    int index_ = 1;
    std::size_t position_ = 0;  // 0: between arguments
};

constexpr char kDashHint[] = " (put file names that begin with \"-\" after \"--\")";

// The unknown option of `argument` ("--frobnicate=1", "-wc.txt", or the short option at
// `position` of a group "-qw"), with what it might be instead.
std::string unknown_option_message(const char* raw, std::size_t position) {
    // Quoted where it holds what a terminal or a log would misread (a line feed, an escape).
    if (!shows_as_itself(raw)) return "unknown option " + quote_name(raw) + kDashHint;
    const std::string text = raw;
    if (text.starts_with("--")) {
        const std::string name = text.substr(2, text.find('=') - 2);
        // What getopt_long took it for: one long option whose name it is or begins, or
        // several that it begins.
        const option* match = nullptr;
        std::string matches;
        int count = 0;
        for (const option* o = kLongOptions; o->name != nullptr; ++o) {
            if (name == o->name) {
                match = o;
                count = 1;
                break;
            }
            if (!name.empty() && std::string_view(o->name).starts_with(name)) {
                match = o;
                matches += std::string(count == 0 ? "" : " or ") + "--" + o->name;
                ++count;
            }
        }
        if (count > 1) return "option --" + name + " is ambiguous: " + matches;
        if (count == 1 && match->has_arg == no_argument && text.find('=') != std::string::npos)
            return "option --" + std::string(match->name) + " takes no argument";
        return "unknown option " + text + kDashHint;
    }
    if (position <= 1 || position >= text.size()) return "unknown option " + text + kDashHint;
    return "unknown option -" + text.substr(position, 1) + " in " + text + kDashHint;
}

// An argument as a message shows it: in double quotes, or quoted as the shell would read it
// where it holds a control character or bytes that are no UTF-8.
std::string argument_text(std::string_view argument) {
    if (!shows_as_itself(argument)) return quote_name(argument);
    std::string text = "\"";  // appended: GCC 12 at -O3 sees a false overlap in "x" + string
    text.append(argument).append("\"");
    return text;
}

// -j N: a whole number from 1 to kMaxJobs, or 0.
unsigned jobs_number(std::string_view text) {
    unsigned n = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (error != std::errc() || end != text.data() + text.size() || n < 1 || n > kMaxJobs) return 0;
    return n;
}

}  // namespace

Command parse_command_line(int argc, char* const argv[]) {
    Command command;
    Options& o = command.options;
    bool list = false, help = false, version = false, detect = false, from_given = false,
         to_given = false;
    const char* form_option = nullptr;  // --nfd or --unicode-form, as first given
    const char* policy_option = nullptr;
    const char* pattern_option = nullptr;  // the first of --include and --exclude
    std::string from_name, to_name;

    ::optind = 0;  // full reinitialisation, so that the parser can run more than once
    ::opterr = 0;  // the messages below replace getopt's own
    ArgumentTracker tracker(argc, argv);
    for (;;) {
        tracker.before();
        const int c = ::getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr);
        if (c == -1) break;
        if (c == '?')
            return usage_error(unknown_option_message(tracker.argument(), tracker.position()));
        if (c == ':') {
            const std::string option =
                tracker.is_long() ? std::string(tracker.argument())
                                        .substr(0, std::string(tracker.argument()).find('='))
                                  : std::string("-") + char(::optopt);
            return usage_error("option " + option + " needs an argument");
        }
        tracker.after(c);
        switch (c) {
            case 'f':
                from_name = ::optarg;
                from_given = true;
                break;
            case 't':
                to_name = ::optarg;
                to_given = true;
                break;
            case 'o':
            case 'd':
            case 'i': {
                const Destination d = c == 'o'   ? Destination::kOutputFile
                                      : c == 'd' ? Destination::kOutDir
                                                 : Destination::kInPlace;
                if (o.destination != Destination::kStandardOutput && o.destination != d)
                    return usage_error(
                        conflict(destination_option(o.destination), destination_option(d)));
                o.destination = d;
                if (c != 'i') o.output = ::optarg;
                break;
            }
            case 'l':
                list = true;
                break;
            case kReplaceOption:
            case kTranslitOption: {
                const char* name = c == kReplaceOption ? "--replace" : "--translit";
                if (policy_option != nullptr && std::string(policy_option) != name)
                    return usage_error(conflict(policy_option, name));
                policy_option = name;
                o.policy = c == kReplaceOption ? LossPolicy::kReplace : LossPolicy::kTransliterate;
                break;
            }
            case kCheckOption:
                o.check = true;
                break;
            case kNfdOption:
                if (form_option != nullptr && (o.composite || !o.nfd))
                    return usage_error("two Unicode forms asked for: " + std::string(form_option) +
                                       " and --nfd");
                o.nfd = true;
                form_option = "--nfd";
                break;
            case kUnicodeFormOption: {
                std::string form = ::optarg;
                for (char& ch : form)
                    if (ch >= 'A' && ch <= 'Z') ch = char(ch - 'A' + 'a');
                const bool nfd = form == "nfd";
                const bool composite = form == "composite";
                if (!nfd && !composite && form != "nfc")
                    return usage_error("--unicode-form " + argument_text(::optarg) +
                                       ": the forms are nfc, nfd and composite");
                if (form_option != nullptr && (o.nfd != nfd || o.composite != composite))
                    return usage_error("two Unicode forms asked for: " + std::string(form_option) +
                                       " and --unicode-form " + form);
                o.nfd = nfd;
                o.composite = composite;
                form_option = "--unicode-form";
                break;
            }
            case kDetectOption:
                detect = true;
                break;
            case kForceOption:
                o.force = true;
                break;
            case 'r':
                o.recursive = true;
                break;
            case kIncludeOption:
            case kExcludeOption: {
                const char* name = c == kIncludeOption ? "--include" : "--exclude";
                const std::string glob = ::optarg;
                if (glob.empty()) return usage_error(std::string(name) + " needs a pattern");
                if (glob.find('/') != std::string::npos)
                    return usage_error(std::string(name) + " " + argument_text(glob) +
                                       ": a pattern matches a file's name without its "
                                       "folder, and holds no \"/\"");
                if (pattern_option == nullptr) pattern_option = name;
                o.patterns.push_back(NamePattern{c == kIncludeOption, glob});
                break;
            }
            case 'j':
                o.jobs = jobs_number(::optarg);
                if (o.jobs == 0)
                    return usage_error("-j " + argument_text(::optarg) +
                                       ": the number of jobs is a whole number from 1 to " +
                                       std::to_string(kMaxJobs));
                break;
            case kFontMapOption:
                o.font_map = ::optarg;
                if (o.font_map.empty()) return usage_error("--font-map needs a file name");
                break;
            case kUnicodeFontOption:
                o.unicode_font = ::optarg;
                if (o.unicode_font.empty()) return usage_error("--unicode-font needs a font name");
                break;
            case kRepairOption:
                o.repair = true;
                break;
            case kToneStyleOption: {
                const std::string style = ::optarg;
                if (style == "old" || style == "traditional") {
                    o.tone_style = 1;
                } else if (style == "new") {
                    o.tone_style = 2;
                } else {
                    return usage_error("--tone-style " + argument_text(::optarg) +
                                       ": the styles are old (\"h\xC3\xB2"
                                       "a\") and new "
                                       "(\"ho\xC3\xA0\")");
                }
                break;
            }
            case kFixTonesOption:
                o.fix_tones = true;
                break;
            case 'q':
                o.quiet = true;
                break;
            case 'h':
                help = true;
                break;
            case 'V':
                version = true;
                break;
            default:
                return usage_error(unknown_option_message(tracker.argument(), tracker.position()));
        }
    }

    if (help) return Command{Command::Action::kHelp, {}, {}, false};
    if (version) return Command{Command::Action::kVersion, {}, {}, false};
    if (list) return Command{Command::Action::kList, {}, {}, false};

    for (int i = ::optind; i < argc; ++i) o.inputs.emplace_back(argv[i]);
    if (o.inputs.empty()) o.inputs.emplace_back("-");
    const bool tones = o.tone_style != 0 || o.fix_tones;
    if (tones && !o.repair && (detect || !from_given || !to_given))
        return usage_error(detect
                               ? conflict("--detect", o.fix_tones ? "--fix-tones" : "--tone-style")
                               : std::string(o.fix_tones ? "--fix-tones" : "--tone-style") +
                                     " needs -f FROM and -t TO (or --repair)");
    if (o.repair || tones) {
        command.action = Command::Action::kRepair;
        const char* idle = detect                    ? "--detect"
                           : o.recursive             ? "-r"
                           : o.jobs > 1              ? "-j"
                           : o.force                 ? "--force"
                           : !o.font_map.empty()     ? "--font-map"
                           : !o.unicode_font.empty() ? "--unicode-font"
                                                     : nullptr;
        if (idle != nullptr) return usage_error(conflict("--repair", idle));
        o.from = kRepairSource;
        if (from_given) {
            o.from = from_name == "auto" || from_name == "AUTO" ? kAutoFormat
                                                                : format_by_name(from_name);
            if (o.from == -1) return usage_error(unknown_format_message(from_name), false);
        }
        if (to_given) {
            o.to = format_by_name(to_name);
            if (o.to < 0) return usage_error(unknown_format_message(to_name), false);
        }
        const int target = to_given ? o.to : o.from >= 0 ? o.from : kUtf8;
        if (form_option != nullptr && !is_unicode_format(target))
            return usage_error(std::string(form_option) +
                               " needs a Unicode target (utf-8, utf-16, utf-16le, utf-16be or "
                               "ncr): only they have normal forms");
    } else if (detect) {
        command.action = Command::Action::kDetect;
        const char* idle = o.destination != Destination::kStandardOutput
                               ? destination_option(o.destination)
                           : policy_option != nullptr ? policy_option
                           : o.check                  ? "--check"
                           : form_option != nullptr   ? form_option
                           : o.force                  ? "--force"
                           : o.quiet                  ? "-q"
                           : from_given               ? "-f"
                           : to_given                 ? "-t"
                           : !o.unicode_font.empty()  ? "--unicode-font"
                                                      : nullptr;
        if (idle != nullptr) return usage_error(conflict("--detect", idle));
    } else if (!from_given && to_given && format_by_name(to_name) == kUtf8) {
        // Documents: each piece of text in the encoding its font names.
        o.from = kFromFonts;
        o.to = kUtf8;
        if (o.force)
            return usage_error(
                "--force needs -f FROM: a document's text is read in the encodings its "
                "fonts name");
    } else {
        if (from_given && (!o.font_map.empty() || !o.unicode_font.empty()))
            return usage_error(std::string(!o.font_map.empty() ? "--font-map" : "--unicode-font") +
                               " is for documents, whose fonts name their encodings: give no -f");
        if (!from_given || !to_given)
            return usage_error(!from_given && !to_given ? "-f FROM and -t TO are needed"
                               : !from_given            ? "-f FROM is needed"
                                                        : "-t TO is needed");
        o.from =
            from_name == "auto" || from_name == "AUTO" ? kAutoFormat : format_by_name(from_name);
        if (o.from == -1) return usage_error(unknown_format_message(from_name), false);
        o.to = format_by_name(to_name);
        if (o.to < 0) return usage_error(unknown_format_message(to_name), false);
        if (form_option != nullptr && !is_unicode_format(o.to))
            return usage_error(std::string(form_option) +
                               " needs a Unicode target (utf-8, utf-16, utf-16le, utf-16be or "
                               "ncr): only they have normal forms");
        if (o.force && o.from == kAutoFormat)
            return usage_error(
                "--force needs -f FROM: under -f auto each input is converted "
                "from the format detected");
    }

    if (o.destination == Destination::kOutputFile && o.output == "-")
        o.destination = Destination::kStandardOutput;  // -o - is standard output

    // One file after another into one output, or each into its own (or into nothing).
    const bool per_file = detect || o.check || o.destination == Destination::kOutDir ||
                          o.destination == Destination::kInPlace;
    if (pattern_option != nullptr && !o.recursive)
        return usage_error(std::string(pattern_option) + " needs -r");
    if (o.recursive && o.destination == Destination::kOutputFile)
        return usage_error(conflict("-r", "-o") + " (-r needs -d DIR, -i, --check or --detect)");
    if (o.recursive && !per_file) return usage_error("-r needs -d DIR, -i, --check or --detect");
    if (o.jobs > 1 && !per_file)
        return usage_error("-j " + std::to_string(o.jobs) +
                           " needs -d DIR, -i, --check or --detect: one output takes its "
                           "inputs one after the other");
    if (o.destination == Destination::kOutDir || o.destination == Destination::kInPlace) {
        for (const std::string& input : o.inputs)
            if (input == "-")
                return usage_error(std::string(destination_option(o.destination)) +
                                   " needs named input files, not standard input");
    }
    if (o.recursive) {
        for (const std::string& input : o.inputs)
            if (input == "-")
                return usage_error("-r needs named files or folders, not standard input");
    }
    return command;
}

}  // namespace toneshift::tsconv
