#include "tsconv/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "detect/detect.h"
#include "tsconv/convert_input.h"
#include "tsconv/messages.h"
#include "tsconv/output_file.h"
#include "tsconv/progress.h"

namespace toneshift::tsconv {

namespace {

// The worst outcome so far; trouble outranks a refusal.
class Outcome {
  public:
    void refused() { refused_ = true; }
    void trouble() { trouble_ = true; }
    int status() const { return trouble_ ? kExitTrouble : refused_ ? kExitRefused : kExitDone; }

  private:
    bool refused_ = false;
    bool trouble_ = false;
};

using FileId = std::pair<dev_t, ino_t>;

// The device and inode of every input that can be looked at, for the refusal of an output
// that is one of them.
class InputIds {
  public:
    explicit InputIds(const std::vector<std::string>& inputs) {
        for (const std::string& name : inputs) {
            struct stat s {};
            const int r = name == "-" ? ::fstat(STDIN_FILENO, &s) : ::stat(name.c_str(), &s);
            if (r == 0 && S_ISREG(s.st_mode)) ids_.emplace_back(FileId{s.st_dev, s.st_ino}, name);
        }
    }
    // The input that `s` is, or nullptr.
    const std::string* find(const struct stat& s) const {
        if (!S_ISREG(s.st_mode)) return nullptr;
        for (const auto& [id, name] : ids_)
            if (id == FileId{s.st_dev, s.st_ino}) return &name;
        return nullptr;
    }

  private:
    std::vector<std::pair<FileId, std::string>> ids_;
};

std::string error_text(int error) {
    return std::strerror(error);
}

// An open input: standard input, or a file opened here and closed at the end.
class Input {
  public:
    // Opens `name`; on failure says why and ok() is false. `regular_only`: -i can replace
    // only a regular file.
    Input(const std::string& name, bool regular_only) : name_(name) {
        if (name == "-") {
            fd_ = STDIN_FILENO;
        } else {
            fd_ = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
            if (fd_ < 0) {
                say("cannot open " + name + ": " + error_text(errno));
                return;
            }
        }
        struct stat s {};
        if (::fstat(fd_, &s) != 0) {
            say("cannot read " + display_name(name) + ": " + error_text(errno));
        } else if (S_ISDIR(s.st_mode)) {
            say(display_name(name) +
                " is a folder; give the files in it (see find -exec in "
                "tsconv(1))");
        } else if (regular_only && !S_ISREG(s.st_mode)) {
            say(name + " is not a regular file; -i replaces only regular files");
        } else {
            ok_ = true;
            id_ = {s.st_dev, s.st_ino};
        }
    }
    ~Input() {
        if (fd_ > STDIN_FILENO) ::close(fd_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool ok() const { return ok_; }
    int fd() const { return fd_; }
    FileId id() const { return id_; }

  private:
    std::string name_;
    int fd_ = -1;
    bool ok_ = false;
    FileId id_{};
};

std::string policy_hint() {
    return " (--replace or --translit convert anyway)";
}

// The refusal of `input`: where, what, into which format, and what became of the output.
void say_refusal(const std::string& input, const Converter& converter,
                 const std::string& consequence) {
    const Problem& p = *converter.first_problem();
    const ConvertOptions& o = converter.options();
    const std::string offset = " (byte offset " + std::to_string(p.offset) + ")";
    std::string what;
    if (p.kind == Problem::Kind::kLoss) {
        what = "cannot write " + describe_problem(p) + offset + " in " +
               std::string(format_name(o.to));
    } else {
        what = describe_problem(p) + offset + " is no character of " +
               std::string(format_name(o.from)) + ", cannot convert to " +
               std::string(format_name(o.to));
    }
    say(problem_place(input, p) + ": " + what + "; " + consequence + policy_hint());
}

// Under --replace and --translit, one line for an input that lost anything.
void say_losses(const std::string& input, const Converter& converter) {
    const Problem& p = *converter.first_problem();
    const std::uint64_t n = converter.problem_count();
    say(problem_place(input, p) + ": " + std::to_string(n) +
        (n == 1 ? " character" : " characters") + " not converted exactly to " +
        std::string(format_name(converter.options().to)) + "; the first, " + describe_problem(p) +
        " at byte offset " + std::to_string(p.offset) + ", became " + describe_replacement(p));
}

ConvertOptions convert_options(const Options& options) {
    return ConvertOptions{options.from, options.to, options.policy, options.nfd};
}

bool start_converter(const Converter& converter) {
    if (converter.ok()) return true;
    say("cannot start the converter from " + std::string(format_name(converter.options().from)) +
        " to " + std::string(format_name(converter.options().to)));
    return false;
}

// Every input into one output, standard output or -o FILE, as one text.
int convert_into_one_output(const Options& options) {
    Outcome outcome;
    const bool to_file = options.destination == Destination::kOutputFile;
    const std::string out_name = to_file ? options.output : "(standard output)";
    const InputIds input_ids(options.inputs);

    struct stat out_stat {};
    const bool out_exists = to_file ? ::stat(options.output.c_str(), &out_stat) == 0
                                    : ::fstat(STDOUT_FILENO, &out_stat) == 0;
    if (out_exists) {
        if (const std::string* same = input_ids.find(out_stat)) {
            say(out_name + " is the same file as the input " + display_name(*same) +
                "; nothing converted (-i converts files in place)");
            return kExitTrouble;
        }
    }

    Converter converter(convert_options(options));
    if (!start_converter(converter)) return kExitTrouble;
    OutputFile output;
    if (!to_file) {
        output.open_standard_output();
    } else if (!output.open(options.output)) {
        say("cannot write " + out_name + ": " + error_text(errno));
        return kExitTrouble;
    }

    Buffers buffers;
    Progress progress(options.inputs.size());
    bool fed = false;   // an input has been given to the converter
    bool whole = true;  // every input went into the output completely
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& name = options.inputs[i];
        progress.start_file(i + 1);
        Input input(name, false);
        if (!input.ok()) {
            outcome.trouble();
            whole = false;
            continue;
        }
        if (fed) converter.next_input();
        fed = true;
        const InputEnd end = convert_input(input.fd(), converter, output, buffers, progress);
        const std::string consequence =
            to_file ? out_name + " not written" : "the output stops there";
        if (end.how == InputEnd::How::kRefused) {
            say_refusal(name, converter, consequence);
            outcome.refused();
        } else if (end.how == InputEnd::How::kReadFailed) {
            say("cannot read " + display_name(name) + ": " + error_text(end.error) + "; " +
                consequence);
            outcome.trouble();
        } else if (end.how == InputEnd::How::kWriteFailed) {
            say("cannot write " + out_name + ": " + error_text(end.error) +
                (to_file ? "; " + consequence : ""));
            outcome.trouble();
        } else {
            if (converter.problem_count() != 0 && !options.quiet) say_losses(name, converter);
            continue;
        }
        output.abandon();
        return outcome.status();
    }
    if (to_file && !whole) {
        output.abandon();
        say(out_name + " not written: an input could not be read");
    } else if (!output.commit()) {
        say("cannot write " + out_name + ": " + error_text(errno) +
            (to_file ? "; " + out_name + " not written" : ""));
        outcome.trouble();
    }
    return outcome.status();
}

// The name of the output of `input` under -d or -i.
std::string own_output_name(const Options& options, const std::string& input) {
    if (options.destination == Destination::kInPlace) return input;
    const std::size_t slash = input.rfind('/');
    const std::string base = slash == std::string::npos ? input : input.substr(slash + 1);
    std::string folder = options.output;
    if (!folder.ends_with('/')) folder += '/';
    return folder + base;
}

// Each input into its own output: -d DIR or -i.
int convert_each_into_own_output(const Options& options) {
    Outcome outcome;
    const bool in_place = options.destination == Destination::kInPlace;
    if (!in_place) {
        struct stat s {};
        if (::stat(options.output.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) {
            say(options.output + " is no folder; -d needs a folder that exists");
            return kExitTrouble;
        }
    }
    const InputIds input_ids(options.inputs);
    std::set<std::string> written;  // -d: output names already used in this run
    std::set<FileId> converted;     // -i: files already converted in this run
    Buffers buffers;
    Progress progress(options.inputs.size());

    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& name = options.inputs[i];
        progress.start_file(i + 1);
        const std::string out_name = own_output_name(options, name);
        if (!in_place && !written.insert(out_name).second) {
            say(name + ": " + out_name + " was written from another input of the same name; " +
                name + " not converted");
            outcome.trouble();
            continue;
        }
        Input input(name, in_place);
        if (!input.ok()) {
            outcome.trouble();
            continue;
        }
        if (in_place) {
            if (!converted.insert(input.id()).second) {
                say(name + " was converted already (under another name); converted once");
                continue;
            }
        } else {
            struct stat out_stat {};
            if (::stat(out_name.c_str(), &out_stat) == 0) {
                if (const std::string* same = input_ids.find(out_stat)) {
                    say(out_name + " is the same file as the input " + *same + "; " + name +
                        " not converted (-i converts files in place)");
                    outcome.trouble();
                    continue;
                }
            }
        }

        Converter converter(convert_options(options));
        if (!start_converter(converter)) return kExitTrouble;
        OutputFile output;
        if (!output.open(out_name)) {
            say("cannot write " + out_name + ": " + error_text(errno) + "; " + name +
                " not converted");
            outcome.trouble();
            continue;
        }
        const InputEnd end = convert_input(input.fd(), converter, output, buffers, progress);
        const std::string consequence =
            in_place ? name + " left as it was" : out_name + " not written";
        switch (end.how) {
            case InputEnd::How::kRefused:
                say_refusal(name, converter, consequence);
                outcome.refused();
                break;
            case InputEnd::How::kReadFailed:
                say("cannot read " + name + ": " + error_text(end.error) + "; " + consequence);
                outcome.trouble();
                break;
            case InputEnd::How::kWriteFailed:
                say("cannot write " + out_name + ": " + error_text(end.error) + "; " + consequence);
                outcome.trouble();
                break;
            case InputEnd::How::kDone:
                if (!output.commit()) {
                    say("cannot write " + out_name + ": " + error_text(errno) + "; " + consequence);
                    outcome.trouble();
                } else if (converter.problem_count() != 0 && !options.quiet) {
                    say_losses(name, converter);
                }
                break;
        }
        output.abandon();
    }
    return outcome.status();
}

// --check: each input converted into nothing, with a report of whether it is exact.
int check_each_input(const Options& options) {
    Outcome outcome;
    Buffers buffers;
    Progress progress(options.inputs.size());
    ConvertOptions convert = convert_options(options);
    convert.policy = LossPolicy::kReplace;  // to count every loss, not only the first
    const std::string to = std::string(format_name(options.to));
    for (std::size_t i = 0; i < options.inputs.size(); ++i) {
        const std::string& name = options.inputs[i];
        progress.start_file(i + 1);
        Input input(name, false);
        if (!input.ok()) {
            outcome.trouble();
            continue;
        }
        Converter converter(convert);
        if (!start_converter(converter)) return kExitTrouble;
        OutputFile nowhere;
        nowhere.open_none();
        const InputEnd end = convert_input(input.fd(), converter, nowhere, buffers, progress);
        if (end.how == InputEnd::How::kReadFailed) {
            say("cannot read " + display_name(name) + ": " + error_text(end.error));
            outcome.trouble();
        } else if (converter.problem_count() == 0) {
            if (!options.quiet) say(display_name(name) + ": converts exactly to " + to);
        } else {
            const Problem& p = *converter.first_problem();
            const std::uint64_t n = converter.problem_count();
            say(problem_place(name, p) + ": would not convert exactly to " + to + ": " +
                std::to_string(n) + (n == 1 ? " character" : " characters") + "; the first, " +
                describe_problem(p) + " at byte offset " + std::to_string(p.offset));
            outcome.refused();
        }
    }
    return outcome.status();
}

// What detection says of one input: the format's name, unknown or mixed.
std::string verdict_word(const Detection& d) {
    switch (d.verdict) {
        case Detection::Verdict::kFormat:
            return std::string(format_name(d.format));
        case Detection::Verdict::kMixed:
            return "mixed";
        case Detection::Verdict::kUnknown:
            break;
    }
    return "unknown";
}

// Reads all that `fd` holds through a detector. Returns 0, or the errno of a failed read.
int detect_input(int fd, Buffers& buffers, Detection& out) {
    Detector detector;
    for (;;) {
        const ssize_t n = ::read(fd, buffers.input.get(), Buffers::kInputSize);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) break;
        detector.feed(buffers.input.get(), std::size_t(n));
    }
    out = detector.finish();
    return 0;
}

// Copies what standard input holds into an unnamed file in $TMPDIR (or /tmp), which then
// takes its place, at its start. False after saying why, when that fails.
bool spool_standard_input() {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    const int file = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file < 0) {
        say(std::string("-f auto: cannot make a temporary file in ") + dir + " for " +
            display_name("-") + ": " + error_text(errno));
        return false;
    }
    static char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            say("cannot read " + display_name("-") + ": " + error_text(errno));
            ::close(file);
            return false;
        }
        if (n == 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = ::write(file, buffer + done, std::size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                say(std::string("-f auto: cannot write a temporary file in ") + dir + " for " +
                    display_name("-") + ": " + error_text(errno));
                ::close(file);
                return false;
            }
            done += w;
        }
    }
    const bool ok =
        ::dup2(file, STDIN_FILENO) == STDIN_FILENO && ::lseek(STDIN_FILENO, 0, SEEK_SET) == 0;
    if (!ok) say("cannot read " + display_name("-") + " again: " + error_text(errno));
    ::close(file);
    return ok;
}

// -f auto: the format of one input, read once here and again by the conversion. Returns
// -1 after saying why there is none (`refused` tells a refusal from trouble).
int auto_format(const std::string& name, Buffers& buffers, bool& refused) {
    refused = false;
    Input input(name, false);
    if (!input.ok()) return -1;
    struct stat s {};
    off_t start = ::lseek(input.fd(), 0, SEEK_CUR);
    if (name == "-" && (::fstat(input.fd(), &s) != 0 || !S_ISREG(s.st_mode) || start < 0)) {
        // Standard input from a pipe or a terminal is kept in an unnamed temporary file,
        // which is then read twice like any file.
        if (!spool_standard_input()) return -1;
        start = 0;
    } else if (::fstat(input.fd(), &s) != 0 || !S_ISREG(s.st_mode) || start < 0) {
        say(display_name(name) +
            ": -f auto reads an input twice and cannot read this one twice (a pipe or "
            "a terminal); give -f FROM, or save it to a file first");
        return -1;
    }
    Detection d;
    if (const int error = detect_input(input.fd(), buffers, d); error != 0) {
        say("cannot read " + display_name(name) + ": " + error_text(error));
        return -1;
    }
    if (name == "-" && ::lseek(input.fd(), start, SEEK_SET) != start) {
        say("cannot read " + display_name(name) + " again: " + error_text(errno));
        return -1;
    }
    if (d.verdict != Detection::Verdict::kFormat) {
        say(display_name(name) + ": format " + verdict_word(d) + " " + d.details +
            "; not converted (give -f FROM)");
        refused = true;
        return -1;
    }
    return d.format;
}

// -f auto: each input detected, then converted from its own format. Into one output
// (standard output, -o) the inputs must all be known: an input refused stops the output
// there, as any refusal does, and -o is then not written.
int convert_auto(const Options& options) {
    Outcome outcome;
    Buffers buffers;
    const bool one_output = options.destination == Destination::kStandardOutput ||
                            options.destination == Destination::kOutputFile;
    std::vector<std::pair<std::string, int>> plan;
    bool stopped = false;
    for (const std::string& name : options.inputs) {
        bool refused = false;
        const int format = auto_format(name, buffers, refused);
        if (format < 0) {
            if (refused) {
                outcome.refused();
            } else {
                outcome.trouble();
            }
            if (one_output) {
                stopped = true;
                break;
            }
            continue;
        }
        plan.emplace_back(name, format);
    }
    if (options.destination == Destination::kOutputFile && stopped) {
        say(options.output + " not written: an input was not converted");
        return outcome.status();
    }
    auto merge = [&outcome](int status) {
        if (status == kExitTrouble) outcome.trouble();
        if (status == kExitRefused) outcome.refused();
    };
    // Inputs of one format into one output go through one converter, as without auto.
    std::size_t i = 0;
    while (i < plan.size()) {
        Options one = options;
        one.from = plan[i].second;
        one.inputs.clear();
        std::size_t j = i;
        while (j < plan.size() && plan[j].second == one.from && (one_output || j == i)) {
            one.inputs.push_back(plan[j].first);
            ++j;
        }
        if (options.destination == Destination::kOutputFile && j < plan.size()) {
            say(options.output + " not written: with -f auto, -o takes inputs of one format; " +
                display_name(plan[j].first) + " is " + std::string(format_name(plan[j].second)) +
                ", " + display_name(plan[i].first) + " " + std::string(format_name(one.from)));
            outcome.trouble();
            return outcome.status();
        }
        merge(run_conversion(one));
        i = j;
    }
    return outcome.status();
}

}  // namespace

int run_detection(const Options& options) {
    const std::vector<std::string>& inputs = options.inputs;
    Outcome outcome;
    Buffers buffers;
    for (const std::string& name : inputs) {
        Input input(name, false);
        if (!input.ok()) {
            outcome.trouble();
            continue;
        }
        Detection d;
        if (const int error = detect_input(input.fd(), buffers, d); error != 0) {
            say("cannot read " + display_name(name) + ": " + error_text(error));
            outcome.trouble();
            continue;
        }
        if (d.verdict != Detection::Verdict::kFormat) outcome.refused();
        std::string line = name + ": " + verdict_word(d);
        if (!d.details.empty()) line += " " + d.details;
        line += "\n";
        if (std::fputs(line.c_str(), stdout) < 0) {
            say("cannot write (standard output)");
            return kExitTrouble;
        }
    }
    if (std::fflush(stdout) != 0) {
        say("cannot write (standard output)");
        outcome.trouble();
    }
    return outcome.status();
}

int run_conversion(const Options& options) {
    prepare_output_handling();
    if (options.from == kAutoFormat) return convert_auto(options);
    if (options.check) return check_each_input(options);
    switch (options.destination) {
        case Destination::kStandardOutput:
        case Destination::kOutputFile:
            return convert_into_one_output(options);
        case Destination::kOutDir:
        case Destination::kInPlace:
            return convert_each_into_own_output(options);
    }
    return kExitTrouble;
}

}  // namespace toneshift::tsconv
