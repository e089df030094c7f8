#include "tsconv/options.h"

#include <getopt.h>

#include "convert/format_names.h"
#include "tsconv/messages.h"

namespace toneshift::tsconv {

namespace {

// Long options without a short form.
enum : int { kReplaceOption = 256, kTranslitOption, kCheckOption, kNfdOption, kDetectOption };

constexpr char kShortOptions[] = ":f:t:o:d:ilqhV";
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
    {"detect", no_argument, nullptr, kDetectOption},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

Command usage_error(std::string message, bool usage = true) {
    Command c;
    c.action = Command::Action::kUsageError;
    c.error = std::move(message);
    c.usage = usage;
    return c;
}

// The option as the user wrote it, for messages about it: `argument` is the argument that
// getopt_long last looked at, `short_option` the short option it found wrong, if any.
std::string option_text(int short_option, const char* argument) {
    const std::string text = argument != nullptr ? argument : "";
    if (text.starts_with("--")) return text.substr(0, text.find('='));
    if (short_option > 0 && short_option < 256) return std::string("-") + char(short_option);
    return text;
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

}  // namespace

Command parse_command_line(int argc, char* const argv[]) {
    Command command;
    Options& o = command.options;
    bool list = false, help = false, version = false, detect = false;
    const char* policy_option = nullptr;
    std::string from_name, to_name;

    ::optind = 0;  // full reinitialisation, so that the parser can run more than once
    ::opterr = 0;  // the messages below replace getopt's own
    int c;
    while ((c = ::getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
        switch (c) {
            case 'f':
                from_name = ::optarg;
                break;
            case 't':
                to_name = ::optarg;
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
            case kTranslitOption:
            case kCheckOption: {
                const char* name = c == kReplaceOption    ? "--replace"
                                   : c == kTranslitOption ? "--translit"
                                                          : "--check";
                if (policy_option != nullptr && std::string(policy_option) != name)
                    return usage_error(conflict(policy_option, name));
                policy_option = name;
                o.check = c == kCheckOption;
                o.policy = c == kReplaceOption    ? LossPolicy::kReplace
                           : c == kTranslitOption ? LossPolicy::kTransliterate
                                                  : LossPolicy::kRefuse;
                break;
            }
            case kNfdOption:
                o.nfd = true;
                break;
            case kDetectOption:
                detect = true;
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
            case ':':
                return usage_error("option " + option_text(::optopt, argv[::optind - 1]) +
                                   " needs an argument");
            default:
                return usage_error("unknown option " + option_text(::optopt, argv[::optind - 1]));
        }
    }

    if (help) return Command{Command::Action::kHelp, {}, {}, false};
    if (version) return Command{Command::Action::kVersion, {}, {}, false};
    if (list) return Command{Command::Action::kList, {}, {}, false};
    if (detect) {
        command.action = Command::Action::kDetect;
        for (int i = ::optind; i < argc; ++i) o.inputs.emplace_back(argv[i]);
        if (o.inputs.empty()) o.inputs.emplace_back("-");
        return command;
    }

    if (from_name.empty() || to_name.empty())
        return usage_error(from_name.empty() && to_name.empty() ? "-f FROM and -t TO are needed"
                           : from_name.empty()                  ? "-f FROM is needed"
                                                                : "-t TO is needed");
    o.from = from_name == "auto" || from_name == "AUTO" ? kAutoFormat : format_by_name(from_name);
    if (o.from == -1) return usage_error(unknown_format_message(from_name), false);
    o.to = format_by_name(to_name);
    if (o.to < 0) return usage_error(unknown_format_message(to_name), false);

    for (int i = ::optind; i < argc; ++i) o.inputs.emplace_back(argv[i]);
    if (o.inputs.empty()) o.inputs.emplace_back("-");

    if (o.check && o.destination != Destination::kStandardOutput)
        return usage_error(conflict("--check", destination_option(o.destination)));
    if (o.destination == Destination::kOutDir || o.destination == Destination::kInPlace) {
        for (const std::string& input : o.inputs)
            if (input == "-")
                return usage_error(std::string(destination_option(o.destination)) +
                                   " needs named input files, not standard input");
    }
    if (o.destination == Destination::kOutputFile && o.output == "-")
        o.destination = Destination::kStandardOutput;  // -o - is standard output
    return command;
}

}  // namespace toneshift::tsconv
