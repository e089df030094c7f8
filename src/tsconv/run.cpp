#include "tsconv/run.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "detect/detect.h"
#include "documents/document.h"
#include "repair/pipeline.h"
#include "repair/repair.h"
#include "tsconv/convert_input.h"
#include "tsconv/messages.h"
#include "tsconv/output_file.h"
#include "tsconv/progress.h"
#include "tsconv/workers.h"

namespace toneshift::tsconv {

namespace {

// The worst outcome so far; trouble outranks a refusal.
class Outcome {
  public:
    void refused() { refused_ = true; }
    void trouble() { trouble_ = true; }
    void add(int status) {
        if (status == kExitTrouble) trouble();
        if (status == kExitRefused) refused();
    }
    int status() const { return trouble_ ? kExitTrouble : refused_ ? kExitRefused : kExitDone; }

  private:
    bool refused_ = false;
    bool trouble_ = false;
};

using FileId = std::pair<dev_t, ino_t>;

std::string error_text(int error) {
    return std::strerror(error);
}

// The device and inode of a regular file `name` ("-": standard input), if it is one.
bool regular_file_id(const std::string& name, FileId& id) {
    struct stat s {};
    const int r = name == "-" ? ::fstat(STDIN_FILENO, &s) : ::stat(name.c_str(), &s);
    if (r != 0 || !S_ISREG(s.st_mode)) return false;
    id = {s.st_dev, s.st_ino};
    return true;
}

// The device and inode of every input that is a regular file, for the refusal of an output
// that is one of them.
class InputIds {
  public:
    explicit InputIds(const std::vector<std::string>& inputs) {
        for (const std::string& name : inputs) {
            FileId id;
            if (regular_file_id(name, id)) ids_.emplace(id, name);
        }
    }
    // The input that `s` is, or nullptr.
    const std::string* find(const struct stat& s) const {
        if (!S_ISREG(s.st_mode)) return nullptr;
        const auto it = ids_.find(FileId{s.st_dev, s.st_ino});
        return it == ids_.end() ? nullptr : &it->second;
    }

  private:
    std::map<FileId, std::string> ids_;  // the first name of each
};

// An open input: standard input, or a file opened here and closed at the end.
class Input {
  public:
    // Opens `name`; on failure says why and ok() is false. `regular_only`: -i can replace
    // only a regular file.
    Input(const std::string& name, bool regular_only) {
        if (name == "-") {
            if (standard_input_was_closed()) {
                say("cannot read " + display_name(name) + ": " + error_text(EBADF));
                return;
            }
            fd_ = STDIN_FILENO;
        } else {
            fd_ = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
            if (fd_ < 0) {
                say("cannot open " + display_name(name) + ": " + error_text(errno));
                return;
            }
        }
        struct stat s {};
        if (::fstat(fd_, &s) != 0) {
            say("cannot read " + display_name(name) + ": " + error_text(errno));
        } else if (S_ISDIR(s.st_mode)) {
            say(display_name(name) + " is a folder; give the files in it, or -r to take them all");
        } else if (regular_only && !S_ISREG(s.st_mode)) {
            say(display_name(name) + " is not a regular file; -i replaces only regular files");
        } else {
            ok_ = true;
            regular_ = S_ISREG(s.st_mode);
        }
    }
    ~Input() {
        if (fd_ > STDIN_FILENO) ::close(fd_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool ok() const { return ok_; }
    int fd() const { return fd_; }
    bool regular() const { return regular_; }

  private:
    int fd_ = -1;
    bool ok_ = false;
    bool regular_ = false;
};

std::string policy_hint() {
    return " (--replace or --translit convert anyway)";
}

// A lost character or undefined input as a loss report lists it: "€", U+0002 when it does
// not print, or undefined byte 0xFF.
std::string listed_problem(const Problem& p) {
    if (p.kind == Problem::Kind::kUndefined) return describe_problem(p);
    const std::string described = describe_problem(p);  // U+20AC "€", or U+0002
    const std::size_t quote = described.find(' ');
    return quote == std::string::npos ? described : described.substr(quote + 1);
}

// The distinct problems of the converter's input, most frequent first: "€" ×3, undefined
// byte 0xFF ×2, and 4 more.
std::string problem_list(const Converter& converter) {
    constexpr std::size_t kListed = 10;
    std::uint64_t distinct = 0;
    const std::vector<ProblemCount> counts = converter.most_frequent_problems(kListed, distinct);
    std::string text;
    for (const ProblemCount& c : counts) {
        if (!text.empty()) text += ", ";
        text += listed_problem(c.problem) + " \xC3\x97" + std::to_string(c.count);
    }
    if (distinct > counts.size())
        text += ", and " + std::to_string(distinct - counts.size()) + " more";
    return text;
}

std::string characters(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " character" : " characters");
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
    say(problem_place(input, p) + ": " + characters(converter.problem_count()) +
        " not converted exactly to " + std::string(format_name(converter.options().to)) + ": " +
        problem_list(converter) + "; the first at byte offset " + std::to_string(p.offset) +
        ", became " + describe_replacement(p));
}

ConvertOptions convert_options(const Options& options, int from) {
    ConvertOptions o{from, options.to, options.policy, options.nfd};
    o.composite = options.composite;
    return o;
}

bool start_converter(const Converter& converter) {
    if (converter.ok()) return true;
    say("cannot start the converter from " + std::string(format_name(converter.options().from)) +
        " to " + std::string(format_name(converter.options().to)));
    return false;
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
// `reread`: the bytes are read again by a conversion, which counts them for the progress
// line; detection's pass then shows on it without counting them twice.
int detect_input(int fd, Buffers& buffers, Progress& progress, Detection& out, bool reread = false,
                 std::string* head = nullptr) {
    Detector detector;
    std::uint64_t total = 0;
    for (;;) {
        const ssize_t n = read_input(fd, buffers.input.get(), Buffers::kInputSize);
        if (n < 0) return errno;
        if (n == 0) break;
        if (head != nullptr && head->size() < Buffers::kInputSize)
            head->append(reinterpret_cast<const char*>(buffers.input.get()),
                         std::min(std::size_t(n), Buffers::kInputSize - head->size()));
        detector.feed(buffers.input.get(), std::size_t(n));
        progress.add(std::size_t(n));
        total += std::uint64_t(n);
    }
    if (reread) progress.take_back(total);
    out = detector.finish();
    return 0;
}

// How a text in UTF-8 or UTF-16 (`format`) was garbled, from its first lines: the layers
// of the first range that --repair would repair ("utf-8 read as windows-1252"), or empty.
// Copies what standard input holds into an unnamed file in $TMPDIR (or /tmp), which then
// takes its place, at its start. False after saying why, when that fails.
bool spool_standard_input(Buffers& buffers) {
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0') dir = "/tmp";
    const int file = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file < 0) {
        say(std::string("-f auto: cannot make a temporary file in ") + dir + " for " +
            display_name("-") + ": " + error_text(errno));
        return false;
    }
    unsigned char* buffer = buffers.input.get();
    for (;;) {
        const ssize_t n = read_input(STDIN_FILENO, buffer, Buffers::kInputSize);
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

// What became of the format of one input before its conversion.
struct SourceFormat {
    enum class How { kKnown, kRefused, kTrouble };
    How how = How::kKnown;
    int format = -1;
    // The first read of the input, made already into the input buffer, or kNothingRead.
    std::ptrdiff_t preread = kNothingRead;
};

// -f auto: the format of one open input, read here once and again by the conversion.
SourceFormat detected_format(const std::string& name, Input& input, Buffers& buffers,
                             Progress& progress, const std::string& refused) {
    SourceFormat result;
    result.how = SourceFormat::How::kTrouble;
    off_t start = ::lseek(input.fd(), 0, SEEK_CUR);
    if (!input.regular() || start < 0) {
        if (name != "-") {
            say(display_name(name) +
                ": -f auto reads an input twice and cannot read this one twice (a pipe or "
                "a terminal); give -f FROM, or save it to a file first");
            return result;
        }
        // Standard input from a pipe or a terminal is kept in an unnamed temporary file,
        // which is then read twice like any file.
        if (!spool_standard_input(buffers)) return result;
        start = 0;
    }
    Detection d;
    if (const int error = detect_input(input.fd(), buffers, progress, d, true); error != 0) {
        say("cannot read " + display_name(name) + ": " + error_text(error));
        return result;
    }
    if (::lseek(input.fd(), start, SEEK_SET) != start) {
        say("cannot read " + display_name(name) + " again: " + error_text(errno));
        return result;
    }
    if (d.verdict != Detection::Verdict::kFormat) {
        result.how = SourceFormat::How::kRefused;
        std::string message = undecided_message(name, d);
        const std::string said = "; not converted (";
        if (const std::size_t at = message.find(said); at != std::string::npos)
            message.replace(at, said.size(), "; " + refused + " (");
        say(message);
        return result;
    }
    result.how = SourceFormat::How::kKnown;
    result.format = d.format;
    return result;
}

// How much of a regular file the guard reads before its conversion.
constexpr std::size_t kGuardSample = std::size_t(64) << 10;
static_assert(kGuardSample <= Buffers::kInputSize);

// The format given: unless --force, the start of the input is read by the detector first
// (of a regular file the first 64 KiB, of a pipe or terminal only what the first read
// returns), and an input that clearly is another format, which reads it as other
// characters, is refused.
SourceFormat guarded_format(const Options& options, const std::string& name, Input& input,
                            Buffers& buffers, const std::string& refused) {
    SourceFormat result;
    result.format = options.from;
    if (options.force) return result;
    unsigned char* sample = buffers.input.get();
    ssize_t got;
    if (input.regular()) {
        const off_t at = ::lseek(input.fd(), 0, SEEK_CUR);
        do {
            got = at < 0 ? -1 : ::pread(input.fd(), sample, kGuardSample, at);
        } while (got < 0 && errno == EINTR);
        if (got < 0) return result;  // the conversion's own read reports it
    } else {
        got = read_input(input.fd(), sample, Buffers::kInputSize);
        if (got < 0) {
            result.how = SourceFormat::How::kTrouble;
            say("cannot read " + display_name(name) + ": " + error_text(errno));
            return result;
        }
        result.preread = got;
    }
    Detector& detector = *buffers.detector;
    detector.reset();
    detector.feed(sample, std::size_t(got));
    const Detection d = detector.finish();
    const int other = detector.clearly_other_than(options.from);
    if (other < 0) return result;
    result.how = SourceFormat::How::kRefused;
    const std::string given(format_name(options.from));
    const std::string looks(format_name(other));
    say(display_name(name) + ": looks like " + looks + " " + d.details + ", not " + given +
        " as given; " + refused + " (give -f " + looks + ", or --force to convert it from " +
        given + " anyway)");
    return result;
}

// The format of one open input: detected under -f auto, otherwise the one given, guarded.
// A refusal says `refused` of what became of the input ("not converted").
SourceFormat source_format(const Options& options, const std::string& name, Input& input,
                           Buffers& buffers, Progress& progress,
                           const std::string& refused = "not converted") {
    return options.from == kAutoFormat ? detected_format(name, input, buffers, progress, refused)
                                       : guarded_format(options, name, input, buffers, refused);
}

// The names of the inputs from `first` on, for the message of an output that stops.
std::string names_from(const std::vector<std::string>& inputs, std::size_t first) {
    std::string text;
    for (std::size_t i = first; i < inputs.size(); ++i)
        text += (text.empty() ? "" : ", ") + display_name(inputs[i]);
    return text;
}

// Into one output (standard output, -o FILE): whether it is one of the inputs, after saying
// so and what `consequence` follows.
bool output_is_an_input(const Options& options, const std::vector<std::string>& inputs,
                        const std::string& consequence) {
    const bool to_file = options.destination == Destination::kOutputFile;
    struct stat out_stat {};
    const bool out_exists = to_file ? ::stat(options.output.c_str(), &out_stat) == 0
                                    : ::fstat(STDOUT_FILENO, &out_stat) == 0;
    if (!out_exists) return false;
    const InputIds input_ids(inputs);
    const std::string* same = input_ids.find(out_stat);
    if (same == nullptr) return false;
    say((to_file ? output_display_name(options.output) : "(standard output)") +
        " is the same file as the input " + display_name(*same) + "; " + consequence +
        " (-i converts files in place)");
    return true;
}

// ---- Documents: each piece of text read in the encoding its font names.

documents::FontTable& font_table() {
    static documents::FontTable table;
    return table;
}

// Reads all that `fd` holds into `data`: 0, or the errno of a failed read.
int read_all(int fd, std::string& data) {
    data.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = read_input(fd, reinterpret_cast<unsigned char*>(buffer), sizeof buffer);
        if (n < 0) return errno;
        if (n == 0) return 0;
        data.append(buffer, std::size_t(n));
    }
}

// Takes --font-map and --unicode-font into the font table. False after saying why.
bool load_font_table(const Options& options) {
    documents::FontTable& table = font_table();
    table.set_unicode_font(options.unicode_font);
    if (options.font_map.empty()) return true;
    const int fd = ::open(options.font_map.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    std::string text;
    const int error = fd < 0 ? errno : read_all(fd, text);
    if (fd >= 0) ::close(fd);
    if (error != 0) {
        say("cannot read the font map " + display_name(options.font_map) + ": " +
            error_text(error));
        return false;
    }
    std::string why;
    if (!table.add_map(text, why)) {
        say("the font map " + display_name(options.font_map) + ", " + why);
        return false;
    }
    return true;
}

bool is_document(documents::DocumentKind kind) {
    return kind != documents::DocumentKind::kNone && kind != documents::DocumentKind::kOtherPackage;
}

// What an input is before its conversion: a document (its bytes read whole), or text.
struct Peeked {
    documents::DocumentKind kind = documents::DocumentKind::kNone;
    std::string data;  // a document's bytes
    int error = 0;     // reading failed (-1: standard input was closed)
};

// A named regular file is a document when its first bytes may begin one and its content
// says it is one. Standard input and other files are read whole only when `whole` (no -f:
// every input must be a document); otherwise they are text.
Peeked peek_input(const std::string& name, bool whole) {
    Peeked p;
    if (name == "-") {
        if (!whole) return p;
        if (standard_input_was_closed()) {
            p.error = EBADF;
            return p;
        }
        p.error = read_all(STDIN_FILENO, p.data);
        if (p.error == 0) p.kind = documents::document_kind(p.data);
        return p;
    }
    // Only a regular file is looked into when text is possible: opening a pipe would take
    // its writer's place, and reading a terminal would take what is meant for the conversion.
    struct stat named {};
    if (!whole && (::stat(name.c_str(), &named) != 0 || !S_ISREG(named.st_mode))) return p;
    const int fd = ::open(name.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (whole) p.error = errno;
        return p;  // otherwise the conversion's own open reports it
    }
    struct stat st {};
    unsigned char start[8];
    ssize_t got = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        do {
            got = ::pread(fd, start, sizeof start, 0);
        } while (got < 0 && errno == EINTR);
    }
    const bool may = got > 0 && documents::may_be_document(std::string_view(
                                    reinterpret_cast<const char*>(start), std::size_t(got)));
    if (may || (whole && !S_ISDIR(st.st_mode))) {
        p.error = read_all(fd, p.data);
        if (p.error == 0) p.kind = documents::document_kind(p.data);
        if (!whole && !is_document(p.kind)) p.data.clear();
    }
    ::close(fd);
    return p;
}

std::string with_article(std::string_view kind) {
    const char c = kind.empty() ? 'x' : kind[0];
    return std::string(c == 'E' || c == 'O' || c == 'R' ? "an " : "a ") + std::string(kind);
}

// A document given with -f: its fonts say its encodings.
std::string document_with_from_message(const std::string& name, documents::DocumentKind kind) {
    return display_name(name) + " is " + with_article(documents::kind_name(kind)) +
           ": each piece of its text is read in the encoding its font names, and -f is not "
           "used for documents (give -t utf-8 and no -f)";
}

// Converts document `name` (its bytes `data`) and writes it to `output`, unless that is
// nullptr (--check). `consequence` says what became of the output when it is not written.
// Returns its status.
int convert_document_input(const Options& options, const std::string& name, const Peeked& input,
                           OutputFile* output, const std::string& out_name,
                           const std::string& consequence) {
    using documents::DocumentResult;
    const std::string shown = display_name(name);
    if (!is_document(input.kind)) {
        say(shown +
            " is no Word, Excel, PowerPoint, OpenDocument or RTF document (and text needs -f "
            "FROM); " +
            consequence);
        return kExitTrouble;
    }
    if (!documents::kind_is_supported(input.kind)) {
        say(shown + " is " + with_article(documents::kind_name(input.kind)) +
            ", which this version cannot convert yet (Word, Excel, OpenDocument and RTF documents "
            "only); " +
            consequence);
        return kExitTrouble;
    }
    documents::DocumentOptions d;
    d.text.policy = options.check ? LossPolicy::kReplace : options.policy;
    d.text.nfd = options.nfd;
    d.text.composite = options.composite;
    d.fonts = &font_table();
    const DocumentResult r = documents::convert_document(input.data, d);
    const std::string to(format_name(kUtf8));
    const auto place = [&](const documents::TextPlace& w) {
        return shown + ": " + w.part + ", " + w.place;
    };
    switch (r.status) {
        case DocumentResult::Status::kConverted:
            break;
        case DocumentResult::Status::kUnsupported:
            say(shown + ": " + r.error + "; " + consequence);
            return kExitTrouble;
        case DocumentResult::Status::kBroken:
            say(shown + ": cannot read this " + std::string(documents::kind_name(r.kind)) + ": " +
                r.error + "; " + consequence);
            return kExitTrouble;
        case DocumentResult::Status::kRefused: {
            const documents::TextProblem& p = r.problems.front();
            say(place(p.where) + ": " + describe_problem(p.problem) + " in " + p.font +
                " text is no character of " + std::string(format_name(p.format)) +
                ", cannot convert to " + to + "; " + consequence + policy_hint());
            return kExitRefused;
        }
    }
    constexpr std::size_t kListed = 10;
    for (std::size_t k = 0; k < r.left.size() && k < kListed; ++k) {
        const documents::LeftText& l = r.left[k];
        say(place(l.where) + ": the text in " + l.font + " reads as " +
            std::string(format_name(l.reads_as)) + ", not as " +
            std::string(format_name(l.format)) + " as its font says; left as it is");
    }
    if (r.left.size() > kListed)
        say(shown + ": and " + std::to_string(r.left.size() - kListed) + " more pieces left");
    const bool in_place = options.destination == Destination::kInPlace;
    if (!r.left.empty() && !options.check && (options.policy == LossPolicy::kRefuse || in_place)) {
        say(shown + ": not every piece converted; " + consequence +
            " (a --font-map entry can name a font's real encoding" +
            (in_place ? std::string(")") : "; --replace or --translit write the rest anyway)"));
        if (output != nullptr) output->abandon();
        return kExitRefused;
    }
    if (options.check) {
        if (r.problem_count != 0 && options.policy == LossPolicy::kRefuse) {
            const documents::TextProblem& p = r.problems.front();
            say(shown + ": would not convert exactly to " + to + ": " +
                characters(r.problem_count) + "; the first in " + p.where.part + ", " +
                p.where.place + ": " + describe_problem(p.problem) + " in " + p.font);
            return kExitRefused;
        }
        if (!r.left.empty()) return kExitRefused;
        if (!options.quiet) say(shown + ": converts exactly to " + to);
        return kExitDone;
    }
    if (output != nullptr) {
        if (!output->write(reinterpret_cast<const unsigned char*>(r.output.data()),
                           r.output.size()) ||
            !output->commit()) {
            say("cannot write " + out_name + ": " + error_text(errno) + "; " + consequence);
            output->abandon();
            return kExitTrouble;
        }
    }
    if (r.problem_count != 0 && !options.quiet) {
        const documents::TextProblem& p = r.problems.front();
        say(shown + ": " + characters(r.problem_count) + " not converted exactly to " + to +
            "; the first in " + p.where.part + ", " + p.where.place + ": " +
            describe_problem(p.problem) + " in " + p.font + ", became " +
            describe_replacement(p.problem));
    }
    return r.left.empty() ? kExitDone : kExitRefused;
}

// ---- Binary Office documents (.doc, .xls, .ppt), read through LibreOffice.

// The Office Open XML extension a compound file becomes, by the streams it holds (their
// names are UTF-16 in its directory): "docx", "xlsx", "pptx", or empty.
std::string package_extension(const std::string& data) {
    const auto holds = [&](std::string_view ascii) {
        std::string wide;
        for (char c : ascii) {
            wide += c;
            wide += '\0';
        }
        return data.find(wide) != std::string::npos;
    };
    if (holds("WordDocument")) return "docx";
    if (holds("Workbook") || holds("Book")) return "xlsx";
    if (holds("PowerPoint Document")) return "pptx";
    return {};
}

// The path of an executable `program` on the PATH, or empty.
std::string on_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t colon = dirs.find(':', start);
        const std::size_t end = colon == std::string::npos ? dirs.size() : colon;
        // Built from views and appends: GCC 12 at -O3 sees false overlaps (-Wrestrict) in
        // the assignments and "+" of strings here.
        const std::string_view dir = end == start
                                         ? std::string_view(".")
                                         : std::string_view(dirs).substr(start, end - start);
        std::string candidate(dir);
        candidate.push_back('/');
        candidate.append(program);
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        if (colon == std::string::npos) break;
        start = colon + 1;
    }
    return {};
}

// `name` with its extension (if any) replaced by `extension`.
std::string with_extension(const std::string& name, const std::string& extension) {
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    const bool has = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return (has ? name.substr(0, dot) : name) + "." + extension;
}

// Reads the binary Office document `data` (of input `name`) through LibreOffice
// (soffice --headless --convert-to) into its Office Open XML form, in a folder of its own
// in $TMPDIR (removed after), with a LibreOffice profile of its own. Returns kExitDone with
// `converted` filled, or the status after saying why.
int through_libreoffice(const std::string& name, const std::string& data,
                        const std::string& extension, Peeked& converted) {
    const std::string shown = display_name(name);
    if (extension.empty()) {
        say(shown +
            " is a compound file that is no Word, Excel or PowerPoint document; not "
            "converted");
        return kExitTrouble;
    }
    const std::string soffice = on_path("soffice");
    if (soffice.empty()) {
        const char* package = extension == "docx"   ? "libreoffice-writer-nogui"
                              : extension == "xlsx" ? "libreoffice-calc-nogui"
                                                    : "libreoffice-impress-nogui";
        say(shown +
            " is a binary Office document, which tsconv reads through LibreOffice: "
            "install it (Debian: apt-get install " +
            std::string(package) + ") so that soffice is on the PATH; not converted");
        return kExitTrouble;
    }
    const char* tmp = std::getenv("TMPDIR");
    std::string folder =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/tsconv-office-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        say("cannot make a folder for LibreOffice's conversion of " + shown + ": " +
            error_text(errno));
        return kExitTrouble;
    }
    const std::string old_extension = extension == "docx"   ? "doc"
                                      : extension == "xlsx" ? "xls"
                                                            : "ppt";
    const std::string input = folder + "/input." + old_extension;
    int status = kExitTrouble;
    const int fd = ::open(input.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool written = fd >= 0;
    for (std::size_t done = 0; written && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            written = false;
        else
            done += std::size_t(n);
    }
    if (fd >= 0) ::close(fd);
    if (!written) {
        say("cannot give " + shown + " to LibreOffice: " + error_text(errno));
    } else {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            if (null >= 0) {
                ::dup2(null, 0);
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            const std::string profile = "-env:UserInstallation=file://" + folder + "/profile";
            ::execl(soffice.c_str(), "soffice", profile.c_str(), "--headless", "--convert-to",
                    extension.c_str(), "--outdir", folder.c_str(), input.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int wait_status = 0;
        while (pid > 0 && ::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
        }
        const std::string output = folder + "/input." + extension;
        const int in = ::open(output.c_str(), O_RDONLY | O_CLOEXEC);
        if (pid < 0 || in < 0) {
            say("LibreOffice could not convert " + shown + " to ." + extension + "; not converted");
        } else if (const int error = read_all(in, converted.data); error != 0) {
            say("cannot read LibreOffice's conversion of " + shown + ": " + error_text(error));
        } else {
            converted.kind = documents::document_kind(converted.data);
            status = kExitDone;
        }
        if (in >= 0) ::close(in);
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return status;
}

// The document inputs of one output (standard output, -o): one document, or none (-1).
// Returns the status to stop with, or -1 to go on with text.
int convert_documents_into_one_output(const Options& options) {
    const bool from_fonts = options.from == kFromFonts;
    const bool to_file = options.destination == Destination::kOutputFile;
    const std::string out_name =
        to_file ? output_display_name(options.output) : "(standard output)";
    std::vector<Peeked> peeked;
    for (const std::string& name : options.inputs) {
        peeked.push_back(peek_input(name, from_fonts && options.inputs.size() == 1));
        if (!from_fonts && is_document(peeked.back().kind)) {
            say(document_with_from_message(name, peeked.back().kind) + "; nothing converted");
            return kExitTrouble;
        }
    }
    if (!from_fonts) return -1;
    if (options.inputs.size() != 1) {
        say("one output takes one document; give -d DIR or -i to convert several");
        return kExitTrouble;
    }
    const std::string& name = options.inputs.front();
    if (peeked.front().error != 0) {
        say("cannot read " + display_name(name) + ": " + error_text(peeked.front().error));
        return kExitTrouble;
    }
    Peeked through;
    if (peeked.front().kind == documents::DocumentKind::kOldBinary) {
        if (const int status = through_libreoffice(name, peeked.front().data,
                                                   package_extension(peeked.front().data), through);
            status != kExitDone)
            return status;
    }
    const Peeked& input =
        peeked.front().kind == documents::DocumentKind::kOldBinary ? through : peeked.front();
    if (!to_file && ::isatty(STDOUT_FILENO) && is_document(input.kind)) {
        say(display_name(name) + " is " + with_article(documents::kind_name(input.kind)) +
            ", which is not written to a terminal; give -o FILE, -d DIR or -i");
        return kExitTrouble;
    }
    if (output_is_an_input(options, options.inputs, "nothing converted")) return kExitTrouble;
    OutputFile output;
    if (!to_file) {
        output.open_standard_output();
    } else if (!output.open(options.output)) {
        say("cannot write " + out_name + ": " + output.why_not());
        return kExitTrouble;
    }
    const int status =
        convert_document_input(options, name, input, &output, out_name, out_name + " not written");
    if (status != kExitDone && status != kExitRefused) output.abandon();
    return status;
}

// Every input into one output, standard output or -o FILE, as one text.
int convert_into_one_output(const Options& options, const std::vector<std::string>& inputs) {
    Outcome outcome;
    const bool to_file = options.destination == Destination::kOutputFile;
    const std::string out_name =
        to_file ? output_display_name(options.output) : "(standard output)";
    if (const int status = convert_documents_into_one_output(options); status >= 0) return status;
    if (output_is_an_input(options, inputs, "nothing converted")) return kExitTrouble;

    OutputFile output;
    if (!to_file) {
        output.open_standard_output();
    } else if (!output.open(options.output)) {
        say("cannot write " + out_name + ": " + output.why_not());
        return kExitTrouble;
    }

    // A file replaced at the end is written whole or not at all; what is written as it goes
    // (standard output, a terminal, a pipe, a descriptor -o names) stops where it stops.
    const bool whole_or_none = output.kind() == OutputFile::Kind::kReplacing;
    Buffers buffers;
    Progress progress(inputs.size());
    std::unique_ptr<Converter> converter;
    bool whole = true;  // every input went into the output completely
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string& name = inputs[i];
        progress.start_file(i + 1);
        Input input(name, false);
        if (!input.ok()) {
            outcome.trouble();
            whole = false;
            continue;
        }
        std::string consequence =
            whole_or_none ? out_name + " not written" : "the output stops there";
        if (!whole_or_none && i + 1 < inputs.size())
            consequence += "; not written: " + names_from(inputs, i + 1);
        const SourceFormat source =
            source_format(options, name, input, buffers, progress, consequence);
        if (source.how != SourceFormat::How::kKnown) {
            if (source.how == SourceFormat::How::kRefused) {
                outcome.refused();
            } else {
                outcome.trouble();
                say(display_name(name) + ": " + consequence);
            }
            output.abandon();
            return outcome.status();
        }
        if (converter && converter->options().from == source.format) {
            converter->next_input();
        } else {
            auto next = std::make_unique<Converter>(convert_options(options, source.format));
            if (!start_converter(*next)) return kExitTrouble;
            if (converter) next->continue_output(*converter);
            converter = std::move(next);
        }
        const InputEnd end =
            convert_input(input.fd(), *converter, output, buffers, progress, source.preread);
        if (end.how == InputEnd::How::kRefused) {
            say_refusal(name, *converter, consequence);
            outcome.refused();
        } else if (end.how == InputEnd::How::kReadFailed) {
            say("cannot read " + display_name(name) + ": " + error_text(end.error) + "; " +
                consequence);
            outcome.trouble();
        } else if (end.how == InputEnd::How::kWriteFailed) {
            say("cannot write " + out_name + ": " + error_text(end.error) +
                (whole_or_none ? "; " + out_name + " not written" : ""));
            outcome.trouble();
        } else {
            if (converter->problem_count() != 0 && !options.quiet) say_losses(name, *converter);
            continue;
        }
        output.abandon();
        return outcome.status();
    }
    if (whole_or_none && !whole) {
        output.abandon();
        say(out_name + " not written: an input could not be read");
    } else if (!output.commit()) {
        say("cannot write " + out_name + ": " + error_text(errno) +
            (whole_or_none ? "; " + out_name + " not written" : ""));
        outcome.trouble();
    }
    return outcome.status();
}

// ---- The per-file modes: -d, -i, --check and --detect, each input on its own.

// One file to handle: its name, and where its conversion goes under -d or -i.
struct Task {
    std::string name;
    std::string out_name;
    // Decided before anything is written: a refusal to say instead of the conversion
    // (status `plan_status`), or a note to say before it.
    std::string plan_message;
    int plan_status = kExitDone;
    bool skip = false;  // the plan's message is all: nothing is converted
};

// The name of the output of `name` under -d (`relative`: its path below DIR) or -i.
std::string own_output_name(const Options& options, const std::string& name,
                            const std::string& relative) {
    if (options.destination == Destination::kInPlace) return name;
    std::string folder = options.output;
    if (!folder.ends_with('/')) folder += '/';
    return folder + relative;
}

// One input as the command line or a folder's walk gave it.
struct Found {
    std::string name;
    std::string relative;  // below the folder given, or the base name
};

std::string base_name(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Whether a file of a folder is taken: the last --include or --exclude that matches its base
// name decides; with none matching, it is taken unless an --include was given.
bool taken(const Options& options, const std::string& base) {
    bool take = std::none_of(options.patterns.begin(), options.patterns.end(),
                             [](const NamePattern& p) { return p.include; });
    for (const NamePattern& p : options.patterns)
        if (::fnmatch(p.glob.c_str(), base.c_str(), 0) == 0) take = p.include;
    return take;
}

// Every regular file below `folder` (symbolic links and special files reported, not
// followed), in name order, depth first.
void walk(const Options& options, const std::string& folder, const std::string& relative,
          std::vector<Found>& found, Outcome& outcome) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        say("cannot read the folder " + display_name(folder) + ": " + error_text(errno));
        outcome.trouble();
        return;
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    const int error = errno;
    ::closedir(dir);
    if (error != 0) {
        say("cannot read the folder " + display_name(folder) + ": " + error_text(error));
        outcome.trouble();
        return;
    }
    std::sort(names.begin(), names.end());
    const std::string prefix = folder.ends_with('/') ? folder : folder + "/";
    for (const std::string& n : names) {
        const std::string path = prefix + n;
        const std::string rel = relative.empty() ? n : relative + "/" + n;
        struct stat s {};
        if (::lstat(path.c_str(), &s) != 0) {
            say("cannot read " + display_name(path) + ": " + error_text(errno));
            outcome.trouble();
        } else if (S_ISDIR(s.st_mode)) {
            walk(options, path, rel, found, outcome);
        } else if (S_ISLNK(s.st_mode)) {
            if (taken(options, n))
                say(display_name(path) + " is a symbolic link; not followed, skipped");
        } else if (!S_ISREG(s.st_mode)) {
            if (taken(options, n)) say(display_name(path) + " is not a regular file; skipped");
        } else if (taken(options, n)) {
            found.push_back({path, rel});
        }
    }
}

// The inputs of a per-file mode: with -r each folder given stands for its files.
std::vector<Found> expand_inputs(const Options& options, Outcome& outcome) {
    std::vector<Found> found;
    for (const std::string& name : options.inputs) {
        struct stat s {};
        if (options.recursive && name != "-" && ::stat(name.c_str(), &s) == 0 &&
            S_ISDIR(s.st_mode)) {
            walk(options, name, "", found, outcome);
        } else {
            found.push_back({name, base_name(name)});
        }
    }
    return found;
}

// The plan of a per-file mode, made before anything is written: each file once whatever its
// names, no output written twice, and no output that is an input.
std::vector<Task> plan_tasks(const Options& options, const std::vector<Found>& found) {
    std::vector<Task> tasks;
    const bool writes =
        options.destination == Destination::kOutDir || options.destination == Destination::kInPlace;
    std::vector<std::string> names;
    for (const Found& f : found) names.push_back(f.name);
    const InputIds input_ids(names);
    std::map<FileId, std::string> first_name;  // -i: the first name of each file
    std::set<std::string> written;             // -d: output names taken so far
    const std::string not_converted = options.check ? " would not be converted" : " not converted";
    for (const Found& f : found) {
        Task t;
        t.name = f.name;
        if (!writes) {
            tasks.push_back(std::move(t));
            continue;
        }
        t.out_name = own_output_name(options, f.name, f.relative);
        if (options.destination == Destination::kInPlace) {
            FileId id;
            if (regular_file_id(f.name, id)) {
                const auto [it, inserted] = first_name.emplace(id, f.name);
                if (!inserted) {
                    t.skip = true;
                    t.plan_message = display_name(f.name) + " is the same file as " +
                                     display_name(it->second) + "; converted once";
                }
            }
        } else if (!written.insert(t.out_name).second) {
            t.skip = true;
            t.plan_status = kExitTrouble;
            t.plan_message = display_name(f.name) + ": " + output_display_name(t.out_name) +
                             " is the output of another input of the same name; " +
                             display_name(f.name) + not_converted;
        } else {
            struct stat out_stat {};
            if (::stat(t.out_name.c_str(), &out_stat) == 0) {
                if (const std::string* same = input_ids.find(out_stat)) {
                    t.skip = true;
                    t.plan_status = kExitTrouble;
                    t.plan_message = output_display_name(t.out_name) +
                                     " is the same file as the input " + display_name(*same) +
                                     "; " + display_name(f.name) + not_converted +
                                     " (-i converts files in place)";
                }
            }
        }
        tasks.push_back(std::move(t));
    }
    return tasks;
}

// Makes the folders above `path` that are missing, as -r into -d needs. False after saying
// why.
bool make_parent_folders(const std::string& path) {
    std::size_t slash = path.find('/', 1);
    while (slash != std::string::npos) {
        const std::string folder = path.substr(0, slash);
        if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
            say("cannot make the folder " + display_name(folder) + ": " + error_text(errno));
            return false;
        }
        slash = path.find('/', slash + 1);
    }
    return true;
}

// A document into its own output (-d, -i), or checked (--check). Returns its status.
int convert_one_document(const Options& options, const Task& task, const Peeked& given) {
    const std::string& name = task.name;
    const bool in_place = options.destination == Destination::kInPlace;
    const bool writes = !options.check && (in_place || options.destination == Destination::kOutDir);
    if (given.error != 0) {
        say("cannot read " + display_name(name) + ": " + error_text(given.error));
        return kExitTrouble;
    }
    // A binary Office document becomes its Office Open XML form through LibreOffice, and is
    // written under that form's extension: with -i beside the original, which is kept.
    Peeked through;
    std::string target = task.out_name;
    bool beside = false;
    if (given.kind == documents::DocumentKind::kOldBinary) {
        const std::string extension = package_extension(given.data);
        if (const int status = through_libreoffice(name, given.data, extension, through);
            status != kExitDone)
            return status;
        if (!target.empty()) target = with_extension(target, extension);
        beside = in_place;
        struct stat existing {};
        if (beside && writes && ::lstat(target.c_str(), &existing) == 0) {
            say(display_name(name) + ": " + output_display_name(target) +
                " exists already, and -i writes a binary document's conversion beside it "
                "under that name; not converted (give -d DIR or -o FILE)");
            return kExitTrouble;
        }
    }
    const Peeked& peeked = given.kind == documents::DocumentKind::kOldBinary ? through : given;
    const std::string out_name = output_display_name(target);
    const std::string consequence = options.check ? display_name(name) + " would not be converted"
                                    : in_place    ? display_name(name) + " left as it was"
                                                  : out_name + " not written";
    if (!is_document(peeked.kind) || !documents::kind_is_supported(peeked.kind) || !writes)
        return convert_document_input(options, name, peeked, nullptr, out_name, consequence);
    struct stat st {};
    if (in_place && (::stat(name.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) {
        say(display_name(name) + " is not a regular file; -i replaces only regular files");
        return kExitTrouble;
    }
    OutputFile output;
    if (options.recursive && !in_place && !make_parent_folders(target)) return kExitTrouble;
    if (!(in_place && !beside ? output.open_in_place(target) : output.open(target))) {
        say("cannot write " + out_name + ": " + output.why_not() + "; " + display_name(name) +
            " not converted");
        return kExitTrouble;
    }
    const int status = convert_document_input(options, name, peeked, &output, out_name,
                                              beside ? out_name + " not written" : consequence);
    if (beside && status != kExitTrouble && !options.quiet && std::filesystem::exists(target))
        say(display_name(name) + ": written as " + out_name + " beside it (LibreOffice's " +
            "conversion, then tsconv's); " + display_name(name) + " is kept as it was");
    return status;
}

// Converts (or, with --check, checks) one file into its own output. Returns its status.
int convert_one(const Options& options, const Task& task, Buffers& buffers, Progress& progress) {
    const std::string& name = task.name;
    const bool in_place = options.destination == Destination::kInPlace;
    const bool writes = !options.check && (in_place || options.destination == Destination::kOutDir);
    if (!task.plan_message.empty()) say(task.plan_message);
    if (task.skip) return task.plan_status;

    const bool from_fonts = options.from == kFromFonts;
    const Peeked peeked = peek_input(name, from_fonts);
    if (!from_fonts && is_document(peeked.kind)) {
        say(document_with_from_message(name, peeked.kind) + "; " + display_name(name) +
            (options.check ? " would not be converted" : " not converted"));
        return kExitTrouble;
    }
    if (from_fonts) return convert_one_document(options, task, peeked);

    Input input(name, in_place);
    if (!input.ok()) return kExitTrouble;
    const SourceFormat source =
        source_format(options, name, input, buffers, progress,
                      options.check ? "would not be converted" : "not converted");
    if (source.how == SourceFormat::How::kRefused) return kExitRefused;
    if (source.how == SourceFormat::How::kTrouble) return kExitTrouble;

    ConvertOptions convert = convert_options(options, source.format);
    if (options.check) convert.policy = LossPolicy::kReplace;  // to count every loss
    Converter converter(convert);
    if (!start_converter(converter)) return kExitTrouble;

    const std::string out_name = output_display_name(task.out_name);
    const std::string consequence =
        in_place ? display_name(name) + " left as it was" : out_name + " not written";
    OutputFile output;
    if (!writes) {
        output.open_none();
    } else if (options.recursive && !in_place && !make_parent_folders(task.out_name)) {
        return kExitTrouble;
    } else if (!(in_place ? output.open_in_place(task.out_name) : output.open(task.out_name))) {
        say("cannot write " + out_name + ": " + output.why_not() + "; " + display_name(name) +
            " not converted");
        return kExitTrouble;
    }
    const InputEnd end =
        convert_input(input.fd(), converter, output, buffers, progress, source.preread);
    switch (end.how) {
        case InputEnd::How::kRefused:
            say_refusal(name, converter, consequence);
            return kExitRefused;
        case InputEnd::How::kReadFailed:
            say("cannot read " + display_name(name) + ": " + error_text(end.error) + "; " +
                consequence);
            return kExitTrouble;
        case InputEnd::How::kWriteFailed:
            say("cannot write " + out_name + ": " + error_text(end.error) + "; " + consequence);
            return kExitTrouble;
        case InputEnd::How::kDone:
            break;
    }
    if (!output.commit()) {
        say("cannot write " + out_name + ": " + error_text(errno) + "; " + consequence);
        return kExitTrouble;
    }
    const std::string to(format_name(options.to));
    if (converter.problem_count() == 0) {
        if (options.check && !options.quiet)
            say(display_name(name) + ": converts exactly to " + to);
        return kExitDone;
    }
    const Problem& p = *converter.first_problem();
    if (options.check && options.policy == LossPolicy::kRefuse) {
        say(problem_place(name, p) + ": would not convert exactly to " + to + ": " +
            characters(converter.problem_count()) + ": " + problem_list(converter) +
            "; the first at byte offset " + std::to_string(p.offset));
        return kExitRefused;
    }
    if (!options.quiet) say_losses(name, converter);
    return kExitDone;
}

// --detect for one document: its kind and each legacy font with its encoding, how many
// characters it holds and whether its text reads as Vietnamese in that encoding.
int detect_document(const std::string& name, const Peeked& peeked) {
    std::string line = (name == "-" ? std::string("-") : quote_name(name)) + ": " +
                       std::string(documents::kind_name(peeked.kind));
    int status = kExitDone;
    if (!documents::kind_is_supported(peeked.kind)) {
        line += " (not read by this version)";
        status = kExitRefused;
    } else {
        documents::DocumentOptions d;
        d.text.policy = LossPolicy::kReplace;
        d.text.guard = false;
        d.fonts = &font_table();
        const documents::DocumentResult r = documents::convert_document(peeked.data, d);
        if (r.status != documents::DocumentResult::Status::kConverted) {
            line += " (unreadable: " + r.error + ")";
            status = kExitTrouble;
        } else if (r.fonts.empty()) {
            line += "; no legacy font";
        } else {
            Detector detector;
            std::string fonts;
            for (const documents::FontUse& f : r.fonts) {
                detector.reset();
                detector.feed(reinterpret_cast<const unsigned char*>(f.sample.data()),
                              f.sample.size());
                const Detection v = detector.finish();
                const bool reads = v.verdict == Detection::Verdict::kFormat && v.format == kUtf8;
                fonts += (fonts.empty() ? "" : "; ") + quote_name(f.font) + " " +
                         std::string(format_name(f.format)) + " " + characters(f.characters) +
                         (reads ? ", reads as Vietnamese" : ", does not read as Vietnamese");
            }
            line += "; fonts: " + fonts;
        }
    }
    line += "\n";
    if (std::fputs(line.c_str(), stdout) < 0) {
        say("cannot write (standard output)");
        return kExitTrouble;
    }
    return status;
}

// --detect for one input: its line on standard output. Returns its status.
int detect_one(const Task& task, Buffers& buffers, Progress& progress) {
    const Peeked peeked = peek_input(task.name, false);
    if (is_document(peeked.kind)) return detect_document(task.name, peeked);
    Input input(task.name, false);
    if (!input.ok()) return kExitTrouble;
    Detection d;
    std::string head;  // the first 64 KiB, for a garbling that --repair would undo
    if (const int error = detect_input(input.fd(), buffers, progress, d, false, &head);
        error != 0) {
        say("cannot read " + display_name(task.name) + ": " + error_text(error));
        return kExitTrouble;
    }
    std::string line =
        (task.name == "-" ? std::string("-") : quote_name(task.name)) + ": " + verdict_word(d);
    const bool unicode =
        d.format == kUtf8 || d.format == kUtf16 || d.format == kUtf16Le || d.format == kUtf16Be;
    const std::string garbled = d.verdict == Detection::Verdict::kFormat && unicode
                                    ? repair::garbled_state(head, d.format)
                                    : std::string();
    if (!garbled.empty()) {
        line.append(" (").append(garbled).append("; tsconv --repair undoes it)");
    } else if (!d.details.empty()) {
        line += " " + d.details;
    }
    line += "\n";
    if (std::fputs(line.c_str(), stdout) < 0) {
        say("cannot write (standard output)");
        return kExitTrouble;
    }
    return d.verdict == Detection::Verdict::kFormat ? kExitDone : kExitRefused;
}

// Each input on its own: -d, -i, --check. With -r, folders stand for their files.
int convert_each_on_its_own(const Options& options) {
    Outcome outcome;
    if (options.destination == Destination::kOutDir) {
        struct stat s {};
        if (::stat(options.output.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) {
            say(output_display_name(options.output) +
                " is no folder; -d needs a folder that exists");
            return kExitTrouble;
        }
    }
    const std::vector<Found> found = expand_inputs(options, outcome);
    const std::vector<Task> tasks = plan_tasks(options, found);
    Buffers buffers;
    Progress progress(tasks.size());
    outcome.add(run_tasks(tasks.size(), options.jobs, progress, [&](std::size_t i) {
        return convert_one(options, tasks[i], buffers, progress);
    }));
    return outcome.status();
}

// --check into one output (standard output, -o): every input checked on its own, after
// the refusal of an output that is an input, as the command would make it.
int check_one_output(const Options& options) {
    const bool to_file = options.destination == Destination::kOutputFile;
    const std::string out_name =
        to_file ? output_display_name(options.output) : "(standard output)";
    if (output_is_an_input(options, options.inputs, "nothing would be converted"))
        return kExitTrouble;
    if (to_file) {
        // Whether the command could write it: opened as it would be, then abandoned, so
        // that nothing is left of it.
        OutputFile probe;
        if (!probe.open(options.output)) {
            say("cannot write " + out_name + ": " + probe.why_not() +
                "; nothing would be converted");
            return kExitTrouble;
        }
        probe.abandon();
    }
    return convert_each_on_its_own(options);
}

}  // namespace

int run_detection(const Options& options) {
    if (!load_font_table(options)) return kExitTrouble;
    Outcome outcome;
    const std::vector<Found> found = expand_inputs(options, outcome);
    const std::vector<Task> tasks = plan_tasks(options, found);
    Buffers buffers;
    Progress progress(tasks.size());
    outcome.add(run_tasks(tasks.size(), options.jobs, progress,
                          [&](std::size_t i) { return detect_one(tasks[i], buffers, progress); }));
    return outcome.status();
}

int run_conversion(const Options& options) {
    prepare_output_handling();
    if (!load_font_table(options)) return kExitTrouble;
    if (options.check) {
        return options.destination == Destination::kStandardOutput ||
                       options.destination == Destination::kOutputFile
                   ? check_one_output(options)
                   : convert_each_on_its_own(options);
    }
    switch (options.destination) {
        case Destination::kStandardOutput:
        case Destination::kOutputFile:
            return convert_into_one_output(options, options.inputs);
        case Destination::kOutDir:
        case Destination::kInPlace:
            return convert_each_on_its_own(options);
    }
    return kExitTrouble;
}

}  // namespace toneshift::tsconv
