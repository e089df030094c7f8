#include "tsconv/repair_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "detect/detect.h"
#include "repair/pipeline.h"
#include "repair/repair.h"
#include "tsconv/convert_input.h"
#include "tsconv/messages.h"
#include "tsconv/output_file.h"
#include "tsconv/run.h"

namespace toneshift::tsconv {

namespace {

std::string error_message(int error) {
    return std::strerror(error);
}

std::string lines_text(std::uint64_t first, std::uint64_t last) {
    std::string out = first == last ? "line " : "lines ";
    out += std::to_string(first);
    if (first != last) out.append("-").append(std::to_string(last));
    return out;
}

// "lines 3-5 (utf-8 read as windows-1252), line 9 (tcvn3 bytes shown as windows-1252)".
std::string ranges_text(const repair::RepairReport& r) {
    constexpr std::size_t kShown = 5;
    std::string out;
    for (std::size_t k = 0; k < r.ranges.size() && k < kShown; ++k) {
        if (k != 0) out += ", ";
        out += lines_text(r.ranges[k].first, r.ranges[k].last);
        out.append(" (").append(repair::describe(r.ranges[k].reading)).append(")");
    }
    const std::uint64_t more =
        r.ranges.size() > kShown ? r.ranges.size() - kShown + r.more_ranges : 0;
    if (more != 0) out.append(" and ").append(std::to_string(more)).append(" more ranges");
    return out;
}

// One input repaired into one output: its bytes read as `from`, repaired, and written as
// `to` (-1: written as they are, repaired lines in UTF-8 of the file's own encoding).
class FileRepair {
  public:
    FileRepair(const Options& options, OutputFile* output) : options_(options), output_(output) {}

    enum class End { kDone, kRefused, kReadFailed, kWriteFailed, kConverterRefused, kNoForm };

    End run(int fd) {
        std::vector<unsigned char> piece(Buffers::kInputSize);
        // What decides how the bytes are read must be in hand: a pipe may give the first
        // bytes a few at a time. The byte-order mark needs two bytes; -f auto a full piece.
        const std::size_t wanted = options_.from == kAutoFormat ? piece.size() : 2;
        ssize_t n = 0;
        for (;;) {
            const ssize_t got = read_input(fd, piece.data() + n, piece.size() - std::size_t(n));
            if (got < 0) {
                error_ = errno;
                return End::kReadFailed;
            }
            n += got;
            if (got == 0 || std::size_t(n) >= wanted) break;
        }
        // How the bytes are read: as given; without -f, UTF-8, or UTF-16 after its mark;
        // under -f auto, as the detector names the first read (UTF-8 where it cannot tell).
        source_ = options_.from;
        // A big-endian mark is written back as it was, the text after it big-endian (utf-16
        // itself writes little-endian).
        const bool big_mark = n >= 2 && piece[0] == 0xFE && piece[1] == 0xFF;
        if (source_ == kRepairSource) {
            source_ =
                n >= 2 && ((piece[0] == 0xFF && piece[1] == 0xFE) || big_mark) ? kUtf16 : kUtf8;
        } else if (source_ == kAutoFormat) {
            Detector detector;
            detector.feed(piece.data(), std::size_t(n));
            const Detection d = detector.finish();
            source_ = d.verdict == Detection::Verdict::kFormat ? d.format : kUtf8;
        }
        target_ = options_.to >= 0 ? options_.to : source_;
        if (options_.to < 0 && source_ == kUtf16 && big_mark) {
            target_ = kUtf16Be;
            if (!write_raw("\xFE\xFF", 2)) return End::kWriteFailed;
        }
        repair::PipelineOptions p;
        p.source = source_;
        p.target = target_;
        // UTF-8 written as it is when no other target or form is asked for.
        p.write_through_converter =
            target_ != kUtf8 || options_.nfd || options_.composite || options_.to >= 0;
        p.policy = options_.policy;
        p.nfd = options_.nfd;
        p.composite = options_.composite;
        p.repair = options_.repair;
        p.place_tones = options_.tone_style != 0 || options_.fix_tones;
        p.tones.restyle = options_.tone_style != 0;
        p.tones.style =
            options_.tone_style == 2 ? detect::ToneStyle::kNew : detect::ToneStyle::kTraditional;
        p.tones.fix = options_.fix_tones;
        pipeline_.emplace(p);
        if (pipeline_->status() == Status::kNoForm) return End::kNoForm;
        // Written as it comes, straight from the pipeline's buffers; after a failed write
        // nothing more is.
        const repair::TextPipeline::Sink sink{[](void* self, const char* data, std::size_t size) {
                                                  auto* run = static_cast<FileRepair*>(self);
                                                  if (run->written_)
                                                      run->written_ = run->write_raw(data, size);
                                              },
                                              this};
        for (bool read = false;; read = true) {
            if (read) n = read_input(fd, piece.data(), piece.size());
            if (n < 0) {
                error_ = errno;
                return End::kReadFailed;
            }
            const bool last = n == 0;
            const Status s = pipeline_->feed(piece.data(), std::size_t(n), last, sink);
            // What came before a refusal is written: the output stops there.
            if (!written_) return End::kWriteFailed;
            if (s == Status::kUnrecovered) return End::kRefused;
            if (s != Status::kOk) return End::kConverterRefused;
            if (last) break;
        }
        return End::kDone;
    }

    const repair::RepairReport& report() const {
        return pipeline_ ? pipeline_->report() : empty_report_;
    }
    int source() const { return source_; }
    std::uint64_t restyled() const { return pipeline_ ? pipeline_->restyled() : 0; }
    int target() const { return target_; }
    int error() const { return error_; }
    // Under --replace or --translit, what the reading or the writing replaced, in words (one
    // line each), or empty.
    std::vector<std::string> replaced(const std::string& name) const {
        std::vector<std::string> lines;
        auto add = [&](const Converter* c, const char* one, const char* many, int format) {
            if (c == nullptr || c->problem_count() == 0 || c->first_problem() == nullptr) return;
            const Problem& p = *c->first_problem();
            lines.push_back(problem_place(name, p) + ": " + std::to_string(c->problem_count()) +
                            " " + (c->problem_count() == 1 ? one : many) + " " +
                            std::string(format_name(format)) + " replaced, the first " +
                            describe_problem(p));
        };
        if (!pipeline_) return lines;
        add(pipeline_->reader(), "piece of input undefined in", "pieces of input undefined in",
            source_);
        add(pipeline_->writer(), "character not written exactly in",
            "characters not written exactly in", target_);
        return lines;
    }
    const Converter* refusing_converter() const {
        if (!pipeline_) return nullptr;
        const Converter* r = pipeline_->reader();
        const Converter* w = pipeline_->writer();
        if (r != nullptr && r->problem_count() != 0) return r;
        if (w != nullptr && w->problem_count() != 0) return w;
        return nullptr;
    }

  private:
    using Status = repair::TextPipeline::Status;

    bool write_raw(const char* data, std::size_t size) {
        if (output_ == nullptr || size == 0) return true;
        if (output_->write(reinterpret_cast<const unsigned char*>(data), size)) return true;
        error_ = errno;
        return false;
    }

    const Options& options_;
    OutputFile* output_;  // nullptr: nothing is written (--check)
    std::optional<repair::TextPipeline> pipeline_;
    repair::RepairReport empty_report_;
    int error_ = 0;
    bool written_ = true;  // every write so far succeeded
    int source_ = kUtf8;
    int target_ = kUtf8;
};

// What was done to one input, on standard error.
void say_report(const std::string& name, const repair::RepairReport& r, std::uint64_t restyled,
                const Options& o) {
    if (o.quiet) return;
    if (restyled != 0) {
        say(display_name(name) + ": " + std::to_string(restyled) +
            (restyled == 1 ? " syllable" : " syllables") + " with the tone mark " +
            (o.check ? "to be " : "") + "moved" +
            (o.tone_style == 2   ? " (new style)"
             : o.tone_style == 1 ? " (traditional style)"
                                 : " (misplaced)"));
    }
    if (!o.repair) return;
    if (r.ranges.empty()) {
        say(display_name(name) + ": nothing to repair");
        return;
    }
    std::string text = display_name(name) + (o.check ? ": would repair " : ": repaired ") +
                       ranges_text(r) + ": " + std::to_string(r.characters) +
                       (r.characters == 1 ? " character" : " characters") + " outside ASCII";
    if (r.unrecovered != 0) {
        text += "; " + std::to_string(r.unrecovered) +
                (r.unrecovered == 1 ? " letter" : " letters") +
                " lost by the garbling left as U+FFFD, the first at line " +
                std::to_string(r.first_unrecovered_line) + ", column " +
                std::to_string(r.first_unrecovered_column);
    }
    say(text);
}

struct Opened {
    int fd = -1;
    bool owned = false;
};

Opened open_input(const std::string& name) {
    if (name == "-") return {0, false};
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    return {fd, fd >= 0};
}

std::string base_name(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// One input through one repair into `output` (nullptr under --check); the exit status.
// `consequence` says what a failure leaves ("out.txt not written").
int repair_input(const Options& options, const std::string& name, OutputFile* output,
                 const std::string& consequence) {
    const Opened in = open_input(name);
    if (in.fd < 0) {
        say("cannot open " + display_name(name) + ": " + error_message(errno) + "; " + consequence);
        return kExitTrouble;
    }
    FileRepair job(options, output);
    const FileRepair::End end = job.run(in.fd);
    if (in.owned) ::close(in.fd);
    const repair::RepairReport& r = job.report();
    switch (end) {
        case FileRepair::End::kDone:
            say_report(name, r, job.restyled(), options);
            if (!options.quiet)
                for (const std::string& line : job.replaced(name)) say(line);
            return kExitDone;
        case FileRepair::End::kRefused:
            say(display_name(name) + ":" + std::to_string(r.first_unrecovered_line) + ":" +
                std::to_string(r.first_unrecovered_column) +
                ": a letter lost by the garbling cannot be recovered (" +
                (r.ranges.empty() ? std::string("garbled")
                                  : repair::describe(r.ranges.back().reading)) +
                "); " + consequence + " (--replace writes U+FFFD in its place)");
            return kExitRefused;
        case FileRepair::End::kConverterRefused: {
            const Converter* c = job.refusing_converter();
            if (c != nullptr && c->first_problem() != nullptr) {
                const Problem& p = *c->first_problem();
                say(problem_place(name, p) + ": " + describe_problem(p) +
                    (p.kind == Problem::Kind::kLoss
                         ? " cannot be written in " + std::string(format_name(job.target()))
                         : " in " + std::string(format_name(job.source()))) +
                    "; " + consequence + " (--replace or --translit convert anyway)");
            }
            return kExitRefused;
        }
        case FileRepair::End::kNoForm:
            say(display_name(name) + ": " + std::string(format_name(job.target())) +
                " has no Unicode forms (give -t with a Unicode target); " + consequence);
            return kExitTrouble;
        case FileRepair::End::kReadFailed:
            say("cannot read " + display_name(name) + ": " + error_message(job.error()) + "; " +
                consequence);
            return kExitTrouble;
        case FileRepair::End::kWriteFailed:
            say("cannot write: " + error_message(job.error()) + "; " + consequence);
            return kExitTrouble;
    }
    return kExitTrouble;
}

}  // namespace

int run_repair(const Options& options) {
    int status = kExitDone;
    const bool per_file = options.check || options.destination == Destination::kOutDir ||
                          options.destination == Destination::kInPlace;
    if (per_file) {
        std::set<std::string> names;  // -d: two inputs of one base name would collide
        for (const std::string& name : options.inputs) {
            OutputFile output;
            std::string target;
            if (options.destination == Destination::kOutDir) {
                target = options.output + "/" + base_name(name);
                if (!names.insert(base_name(name)).second) {
                    say(display_name(name) + ": another input of the same name goes to " +
                        output_display_name(target) + "; not repaired");
                    status = std::max(status, kExitTrouble);
                    continue;
                }
            } else if (options.destination == Destination::kInPlace) {
                target = name;
            }
            const std::string consequence = options.check ? ""
                                            : options.destination == Destination::kInPlace
                                                ? display_name(name) + " left as it was"
                                                : output_display_name(target) + " not written";
            if (!options.check) {
                const bool opened = options.destination == Destination::kInPlace
                                        ? output.open_in_place(target)
                                        : output.open(target);
                if (!opened) {
                    say("cannot write " + output_display_name(target) + ": " + output.why_not() +
                        "; " + display_name(name) + " not repaired");
                    status = std::max(status, kExitTrouble);
                    continue;
                }
            }
            const int s = repair_input(options, name, options.check ? nullptr : &output,
                                       options.check ? "nothing written" : consequence);
            if (s == kExitDone && !options.check && !output.commit()) {
                say("cannot write " + output_display_name(target) + ": " + error_message(errno) +
                    "; " + consequence);
                status = std::max(status, kExitTrouble);
                continue;
            }
            status = std::max(status, s);
        }
        return status;
    }

    // Every input, one after the other, into one output.
    OutputFile output;
    const bool to_file = options.destination == Destination::kOutputFile;
    if (to_file) {
        if (!output.open(options.output)) {
            say("cannot write " + output_display_name(options.output) + ": " + output.why_not());
            return kExitTrouble;
        }
    } else {
        output.open_standard_output();
    }
    const std::string out_name = to_file ? output_display_name(options.output) : "";
    for (std::size_t k = 0; k < options.inputs.size(); ++k) {
        const std::string& name = options.inputs[k];
        const std::string consequence =
            to_file ? out_name + " not written" : "the output stops there";
        const int s = repair_input(options, name, &output, consequence);
        if (s == kExitRefused || (s == kExitTrouble && to_file)) return s;
        status = std::max(status, s);
    }
    if (!output.commit()) {
        say("cannot write " + (to_file ? out_name : std::string("(standard output)")) + ": " +
            error_message(errno));
        return kExitTrouble;
    }
    return status;
}

}  // namespace toneshift::tsconv
