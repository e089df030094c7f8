// The C interface: thin wrappers over the core, which never throw across it.
#include "toneshift/toneshift.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"
#include "convert/format_names.h"
#include "detect/detect.h"
#include "documents/document.h"
#include "documents/fonts.h"
#include "repair/pipeline.h"

namespace ts = toneshift;

static_assert(TS_UTF8 == ts::kUtf8 && TS_TCVN3 == ts::kTcvn3 && TS_VNI_WIN == ts::kVniWin &&
              TS_CP1258 == ts::kCp1258 && TS_UTF16 == ts::kUtf16 && TS_NCR == ts::kReferences &&
              TS_NCR + 1 == ts::kConvertFormatCount && TS_VIQR == ts::kViqr &&
              TS_PLAIN == ts::kPlainVietnamese);

namespace {

// Everything is done inside this: memory running out becomes a status, never an exception
// crossing into C.
template <typename F>
int guarded(F f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return TS_ERR_MEMORY;
    } catch (...) {
        return TS_ERR_ARGUMENT;
    }
}

// A copy the caller frees with ts_free (with a 0 byte past the end).
char* copy_out(std::string_view s) {
    char* p = static_cast<char*>(std::malloc(s.size() + 1));
    if (p == nullptr) return nullptr;
    if (!s.empty()) std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    return p;
}

std::string error_text(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);  // the GNU form: thread-safe
}

void set_message(char** message, std::string_view text) {
    if (message != nullptr) *message = copy_out(text);
}

ts::LossPolicy policy_of(int policy) {
    return policy == TS_REPLACE    ? ts::LossPolicy::kReplace
           : policy == TS_TRANSLIT ? ts::LossPolicy::kTransliterate
                                   : ts::LossPolicy::kRefuse;
}

bool valid_policy(int p) {
    return p == TS_STRICT || p == TS_REPLACE || p == TS_TRANSLIT;
}
bool valid_form(int f) {
    return f == TS_NFC || f == TS_NFD || f == TS_COMPOSITE;
}

// Whether the options make a converter; the plain converter checks the rest (a Unicode form
// of a target without one).
bool valid_options(const ts_options& o) {
    return ts::is_convert_format(o.from) && ts::is_convert_format(o.to) && valid_policy(o.policy) &&
           valid_form(o.form) && (o.form == TS_NFC || ts::is_unicode_format(o.to)) &&
           (o.tone_style == TS_TONES_KEEP || o.tone_style == TS_TONES_OLD ||
            o.tone_style == TS_TONES_NEW);
}

void fill_problem(const ts::Problem& p, ts_problem* out) {
    *out = ts_problem{};
    out->kind = p.kind == ts::Problem::Kind::kLoss ? TS_PROBLEM_LOSS : TS_PROBLEM_UNDEFINED;
    out->offset = p.offset;
    out->line = p.line;
    out->column = p.column;
    out->character = std::uint32_t(p.character);
    std::memcpy(out->bytes, p.bytes, sizeof out->bytes);
    out->byte_count = p.byte_count;
}

}  // namespace

struct ts_converter {
    ts_options options{};
    // Without repair or tone placement: the converter itself, into the caller's buffers.
    std::optional<ts::Converter> plain;
    // With them: the pipeline, whose output waits in `pending` until there is room for it.
    std::optional<ts::repair::TextPipeline> pipeline;
    std::string pending;
    std::size_t pending_at = 0;
    std::vector<unsigned char>
        stage;  // the plain converter's output, when the caller's room is small
    bool refused = false;
    bool ended = false;  // the last piece was taken
    std::string summary;

    // The caller's room from which the plain converter writes into it directly; pieces of
    // input taken at a time through `stage` below that, and through the pipeline.
    static constexpr std::size_t kDirectRoom = std::size_t(64) << 10;
    static constexpr std::size_t kStagedPiece = std::size_t(4) << 10;
    static constexpr std::size_t kPipelinePiece = std::size_t(1) << 20;

    bool uses_pipeline() const {
        return options.repair != 0 || options.tone_style != TS_TONES_KEEP || options.fix_tones != 0;
    }

    // (Re)starts for a new input; false when the options make no converter.
    bool start() {
        plain.reset();
        pipeline.reset();
        pending.clear();
        pending_at = 0;
        refused = false;
        ended = false;
        if (!uses_pipeline()) {
            ts::ConvertOptions c{options.from, options.to, policy_of(options.policy)};
            c.nfd = options.form == TS_NFD;
            c.composite = options.form == TS_COMPOSITE;
            plain.emplace(c);
            return plain->ok();
        }
        ts::repair::PipelineOptions p;
        p.source = options.from;
        p.target = options.to;
        p.write_through_converter = true;
        p.policy = policy_of(options.policy);
        p.nfd = options.form == TS_NFD;
        p.composite = options.form == TS_COMPOSITE;
        p.repair = options.repair != 0;
        p.place_tones = options.tone_style != TS_TONES_KEEP || options.fix_tones != 0;
        p.tones.restyle = options.tone_style != TS_TONES_KEEP;
        p.tones.style = options.tone_style == TS_TONES_NEW ? ts::detect::ToneStyle::kNew
                                                           : ts::detect::ToneStyle::kTraditional;
        p.tones.fix = options.fix_tones != 0;
        pipeline.emplace(p);
        return pipeline->status() == ts::repair::TextPipeline::Status::kOk;
    }

    // The converter whose problems are reported first: the reading one, then the writing one.
    const ts::Converter* problem_source() const {
        if (plain) return &*plain;
        if (!pipeline) return nullptr;
        const ts::Converter* r = pipeline->reader();
        if (r != nullptr && r->problem_count() != 0) return r;
        return pipeline->writer();
    }

    std::size_t drain(unsigned char* out, std::size_t size) {
        const std::size_t n = std::min(size, pending.size() - pending_at);
        if (n != 0) std::memcpy(out, pending.data() + pending_at, n);
        pending_at += n;
        if (pending_at == pending.size()) {
            pending.clear();
            pending_at = 0;
        }
        return n;
    }
};

struct ts_detection {
    ts::Detection detection;
    std::string summary;
    bool garbled = false;
};

extern "C" {

const char* ts_version(void) {
    return "1.0.0";
}

const char* ts_status_message(int status) {
    switch (status) {
        case TS_OK:
            return "done";
        case TS_ERR_ARGUMENT:
            return "an argument is missing or wrong, or the options do not go together";
        case TS_ERR_REFUSED:
            return "a character cannot be written exactly, or the input has bytes without "
                   "meaning in its format (replace or translit convert anyway)";
        case TS_ERR_MEMORY:
            return "out of memory";
        case TS_ERR_IO:
            return "a file cannot be read or written";
        case TS_ERR_DOCUMENT:
            return "not a document this library converts, or a broken one";
        case TS_ERR_STATE:
            return "called out of order";
        default:
            return "unknown status";
    }
}

void ts_free(void* memory) {
    std::free(memory);
}

int ts_format_count(void) {
    return ts::kConvertFormatCount;
}

const char* ts_format_name(int format) {
    // The names are literals of the table: they end in a 0 byte.
    return ts::is_convert_format(format) ? ts::format_names[std::size_t(format)].name.data()
                                         : nullptr;
}

const char* ts_format_description(int format) {
    return ts::is_convert_format(format) ? ts::format_names[std::size_t(format)].menu_name.data()
                                         : nullptr;
}

int ts_format_by_name(const char* name) {
    if (name == nullptr) return -1;
    return ts::format_by_name(name);
}

int ts_format_is_unicode(int format) {
    return ts::is_convert_format(format) && ts::is_unicode_format(format) ? 1 : 0;
}

void ts_options_init(ts_options* options, int from, int to) {
    if (options == nullptr) return;
    *options = ts_options{};
    options->from = from;
    options->to = to;
}

int ts_converter_new(const ts_options* options, ts_converter** converter) {
    if (converter == nullptr) return TS_ERR_ARGUMENT;
    *converter = nullptr;
    if (options == nullptr || !valid_options(*options)) return TS_ERR_ARGUMENT;
    return guarded([&]() -> int {
        auto* c = new ts_converter;
        c->options = *options;
        if (!c->start()) {
            delete c;
            return TS_ERR_ARGUMENT;
        }
        *converter = c;
        return TS_OK;
    });
}

void ts_converter_free(ts_converter* converter) {
    delete converter;
}

int ts_convert(ts_converter* c, const void* in, size_t in_size, void* out, size_t out_size,
               int last, size_t* consumed, size_t* written, int* stop) {
    if (consumed != nullptr) *consumed = 0;
    if (written != nullptr) *written = 0;
    if (stop != nullptr) *stop = TS_STOP_INPUT_USED;
    if (c == nullptr || (in == nullptr && in_size != 0) || (out == nullptr && out_size != 0))
        return TS_ERR_ARGUMENT;
    const auto* src = static_cast<const unsigned char*>(in);
    auto* dst = static_cast<unsigned char*>(out);
    auto finish = [&](std::size_t took, std::size_t wrote, int why) {
        if (consumed != nullptr) *consumed = took;
        if (written != nullptr) *written = wrote;
        if (stop != nullptr) *stop = why;
        return why == TS_STOP_REFUSED ? TS_ERR_REFUSED : TS_OK;
    };
    if (c->ended && c->pending.empty() && !c->refused && in_size != 0) return TS_ERR_STATE;

    return guarded([&]() -> int {
        // What waits from before goes first.
        std::size_t wrote = c->drain(dst, out_size);
        if (!c->pending.empty()) return finish(0, wrote, TS_STOP_OUTPUT_FULL);
        if (c->refused) return finish(0, wrote, TS_STOP_REFUSED);
        if (c->ended) return finish(0, wrote, TS_STOP_INPUT_USED);
        const std::size_t room = out_size - wrote;
        std::size_t took = 0;
        if (c->plain && room >= ts_converter::kDirectRoom) {
            const ts::ConvertResult r =
                c->plain->convert(src, in_size, dst + wrote, room, last != 0);
            if (r.stop == ts::ConvertResult::Stop::kRefused) {
                c->refused = true;
                return finish(r.consumed, wrote + r.written, TS_STOP_REFUSED);
            }
            if (r.stop == ts::ConvertResult::Stop::kOutputFull)
                return finish(r.consumed, wrote + r.written, TS_STOP_OUTPUT_FULL);
            if (last != 0) c->ended = true;
            return finish(r.consumed, wrote + r.written, TS_STOP_INPUT_USED);
        }
        if (c->plain) {
            // Little room: a small piece through the converter's own buffer, which holds all
            // that piece can become.
            took = std::min(in_size, ts_converter::kStagedPiece);
            const bool end = last != 0 && took == in_size;
            if (c->stage.empty())
                c->stage.resize(ts::kConvertGrowth * ts_converter::kStagedPiece +
                                ts::kConvertSlack);
            const ts::ConvertResult r =
                c->plain->convert(src, took, c->stage.data(), c->stage.size(), end);
            c->pending.assign(reinterpret_cast<const char*>(c->stage.data()), r.written);
            took = r.consumed;
            if (r.stop == ts::ConvertResult::Stop::kRefused) c->refused = true;
            if (end && r.stop == ts::ConvertResult::Stop::kInputUsed) c->ended = true;
        } else {
            // Through the pipeline, a piece at a time, so that what waits stays bounded
            // whatever the caller gives.
            took = std::min(in_size, ts_converter::kPipelinePiece);
            const bool end = last != 0 && took == in_size;
            const auto s = c->pipeline->feed(src, took, end, c->pending);
            if (s != ts::repair::TextPipeline::Status::kOk) c->refused = true;
            if (end) c->ended = true;
        }
        wrote += c->drain(dst + wrote, room);
        if (!c->pending.empty() || (took < in_size && !c->refused))
            return finish(took, wrote, TS_STOP_OUTPUT_FULL);
        if (c->refused) return finish(took, wrote, TS_STOP_REFUSED);
        return finish(took, wrote, TS_STOP_INPUT_USED);
    });
}

int ts_converter_reset(ts_converter* c) {
    if (c == nullptr) return TS_ERR_ARGUMENT;
    return guarded([&]() -> int { return c->start() ? TS_OK : TS_ERR_ARGUMENT; });
}

uint64_t ts_converter_problem_count(const ts_converter* c) {
    if (c == nullptr) return 0;
    if (c->plain) return c->plain->problem_count();
    std::uint64_t n = c->pipeline ? c->pipeline->report().unrecovered : 0;
    if (c->pipeline && c->pipeline->reader() != nullptr)
        n += c->pipeline->reader()->problem_count();
    if (c->pipeline && c->pipeline->writer() != nullptr)
        n += c->pipeline->writer()->problem_count();
    return n;
}

int ts_converter_first_problem(const ts_converter* c, ts_problem* problem) {
    if (c == nullptr || problem == nullptr) return TS_ERR_ARGUMENT;
    const ts::Converter* from = c->problem_source();
    if (from != nullptr && from->first_problem() != nullptr) {
        fill_problem(*from->first_problem(), problem);
        return TS_OK;
    }
    if (c->pipeline && c->pipeline->report().unrecovered != 0) {
        const ts::repair::RepairReport& r = c->pipeline->report();
        *problem = ts_problem{};
        problem->kind = TS_PROBLEM_UNRECOVERED;
        problem->line = r.first_unrecovered_line;
        problem->column = r.first_unrecovered_column;
        problem->character = 0xFFFD;
        return TS_OK;
    }
    return TS_ERR_STATE;
}

size_t ts_converter_lost(const ts_converter* c, uint32_t* characters, uint64_t* counts,
                         size_t capacity) {
    if (c == nullptr) return 0;
    const ts::Converter* from = c->plain      ? &*c->plain
                                : c->pipeline ? c->pipeline->writer()
                                              : nullptr;
    if (from == nullptr || from->problem_count() == 0) return 0;
    std::size_t distinct_losses = 0;
    const int status = guarded([&]() -> int {
        std::uint64_t distinct = 0;
        const std::vector<ts::ProblemCount> all =
            from->most_frequent_problems(std::numeric_limits<std::size_t>::max(), distinct);
        for (const ts::ProblemCount& p : all) {
            if (p.problem.kind != ts::Problem::Kind::kLoss) continue;
            if (distinct_losses < capacity) {
                if (characters != nullptr)
                    characters[distinct_losses] = std::uint32_t(p.problem.character);
                if (counts != nullptr) counts[distinct_losses] = p.count;
            }
            ++distinct_losses;
        }
        return TS_OK;
    });
    return status == TS_OK ? distinct_losses : 0;
}

uint64_t ts_converter_tones_changed(const ts_converter* c) {
    return c != nullptr && c->pipeline ? c->pipeline->restyled() : 0;
}

uint64_t ts_converter_repaired(const ts_converter* c) {
    return c != nullptr && c->pipeline ? c->pipeline->report().characters : 0;
}

uint64_t ts_converter_unrecovered(const ts_converter* c) {
    return c != nullptr && c->pipeline ? c->pipeline->report().unrecovered : 0;
}

const char* ts_converter_repair_summary(const ts_converter* c) {
    if (c == nullptr || !c->pipeline) return "";
    auto* self = const_cast<ts_converter*>(c);
    const int status = guarded([&]() -> int {
        self->summary.clear();
        const ts::repair::RepairReport& r = c->pipeline->report();
        // The distinct readings undone, in the order first met.
        std::vector<ts::repair::Reading> seen;
        for (const ts::repair::RepairedRange& range : r.ranges) {
            if (std::find(seen.begin(), seen.end(), range.reading) != seen.end()) continue;
            seen.push_back(range.reading);
            if (!self->summary.empty()) self->summary += "; ";
            self->summary += ts::repair::describe(range.reading);
        }
        return TS_OK;
    });
    return status == TS_OK ? self->summary.c_str() : "";
}

int ts_convert_buffer(const ts_options* options, const void* in, size_t in_size, char** out,
                      size_t* out_size, ts_problem* problem, uint64_t* problem_count) {
    if (out != nullptr) *out = nullptr;
    if (out_size != nullptr) *out_size = 0;
    if (problem_count != nullptr) *problem_count = 0;
    if (out == nullptr || out_size == nullptr || (in == nullptr && in_size != 0))
        return TS_ERR_ARGUMENT;
    ts_converter* c = nullptr;
    if (const int s = ts_converter_new(options, &c); s != TS_OK) return s;
    const auto* src = static_cast<const unsigned char*>(in);
    std::size_t capacity = in_size + in_size / 2 + 1024;
    char* buffer = nullptr;
    std::size_t length = 0, taken = 0;
    int status = TS_OK;
    for (bool grow = true;;) {
        if (grow) {
            if (buffer != nullptr) capacity *= 2;
            char* grown = static_cast<char*>(std::realloc(buffer, capacity + 1));
            if (grown == nullptr) {
                status = TS_ERR_MEMORY;
                break;
            }
            buffer = grown;
        }
        std::size_t consumed = 0, written = 0;
        int stop = 0;
        status = ts_convert(c, src + taken, in_size - taken, buffer + length, capacity - length, 1,
                            &consumed, &written, &stop);
        taken += consumed;
        length += written;
        if (status != TS_OK || stop != TS_STOP_OUTPUT_FULL) break;
        // The output is full: more room once little is left, or nothing moved.
        grow = capacity - length < capacity / 4 || (consumed == 0 && written == 0);
    }
    if (problem != nullptr) {
        if (ts_converter_first_problem(c, problem) != TS_OK) *problem = ts_problem{};
    }
    if (problem_count != nullptr) *problem_count = ts_converter_problem_count(c);
    ts_converter_free(c);
    if (status != TS_OK) {
        std::free(buffer);
        return status;
    }
    buffer[length] = '\0';
    *out = buffer;
    *out_size = length;
    return TS_OK;
}

int ts_detect(const void* data, size_t size, ts_detection** detection) {
    if (detection == nullptr) return TS_ERR_ARGUMENT;
    *detection = nullptr;
    if (data == nullptr && size != 0) return TS_ERR_ARGUMENT;
    return guarded([&]() -> int {
        auto* d = new ts_detection;
        const auto* bytes = static_cast<const unsigned char*>(data);
        ts::Detector detector;
        detector.feed(bytes, size);
        d->detection = detector.finish();
        const ts::Detection& r = d->detection;
        switch (r.verdict) {
            case ts::Detection::Verdict::kFormat:
                d->summary = ts::format_names[std::size_t(r.format)].name;
                break;
            case ts::Detection::Verdict::kMixed:
                d->summary = "mixed";
                break;
            case ts::Detection::Verdict::kUnknown:
                d->summary = "unknown";
                break;
        }
        std::string garbled;
        if (r.verdict == ts::Detection::Verdict::kFormat &&
            (r.format == ts::kUtf8 || r.format == ts::kUtf16 || r.format == ts::kUtf16Le ||
             r.format == ts::kUtf16Be)) {
            // As --detect decides it: from the first 64 KiB.
            constexpr std::size_t kHead = std::size_t(64) << 10;
            garbled = ts::repair::garbled_state(
                std::string_view(static_cast<const char*>(data), std::min(size, kHead)), r.format);
        }
        if (!garbled.empty()) {
            d->garbled = true;
            d->summary.append(" (").append(garbled).append(")");
        } else if (!r.details.empty()) {
            d->summary.append(" ").append(r.details);
        }
        *detection = d;
        return TS_OK;
    });
}

void ts_detection_free(ts_detection* detection) {
    delete detection;
}

int ts_detection_verdict(const ts_detection* d) {
    if (d == nullptr) return TS_DETECT_UNKNOWN;
    switch (d->detection.verdict) {
        case ts::Detection::Verdict::kFormat:
            return TS_DETECT_FORMAT;
        case ts::Detection::Verdict::kMixed:
            return TS_DETECT_MIXED;
        case ts::Detection::Verdict::kUnknown:
            break;
    }
    return TS_DETECT_UNKNOWN;
}

int ts_detection_format(const ts_detection* d) {
    return d != nullptr && d->detection.verdict == ts::Detection::Verdict::kFormat
               ? d->detection.format
               : -1;
}

const char* ts_detection_summary(const ts_detection* d) {
    return d != nullptr ? d->summary.c_str() : "";
}

int ts_detection_garbled(const ts_detection* d) {
    return d != nullptr && d->garbled ? 1 : 0;
}

size_t ts_detection_candidate_count(const ts_detection* d) {
    return d != nullptr ? d->detection.candidates.size() : 0;
}

int ts_detection_candidate(const ts_detection* d, size_t i) {
    return d != nullptr && i < d->detection.candidates.size() ? d->detection.candidates[i] : -1;
}

size_t ts_detection_range_count(const ts_detection* d) {
    return d != nullptr ? d->detection.ranges.size() : 0;
}

int ts_detection_range(const ts_detection* d, size_t i, uint64_t* first_line, uint64_t* last_line,
                       int* format) {
    if (d == nullptr || i >= d->detection.ranges.size()) return TS_ERR_ARGUMENT;
    const ts::Detection::Range& r = d->detection.ranges[i];
    if (first_line != nullptr) *first_line = r.first_line;
    if (last_line != nullptr) *last_line = r.last_line;
    if (format != nullptr) *format = r.format;
    return TS_OK;
}

void ts_document_options_init(ts_document_options* options) {
    if (options != nullptr) *options = ts_document_options{};
}

namespace {

int convert_document_data(std::string_view data, const ts_document_options* options,
                          std::string& output, ts_document_report* report, char** message) {
    ts_document_options o{};
    if (options != nullptr) o = *options;
    if (!valid_policy(o.policy) || !valid_form(o.form)) return TS_ERR_ARGUMENT;
    ts::documents::FontTable fonts;
    if (o.unicode_font != nullptr) fonts.set_unicode_font(o.unicode_font);
    if (o.font_map != nullptr) {
        std::string error;
        if (!fonts.add_map(o.font_map, error)) {
            set_message(message, "the font map, " + error);
            return TS_ERR_ARGUMENT;
        }
    }
    const ts::documents::DocumentKind kind = ts::documents::document_kind(data);
    if (kind == ts::documents::DocumentKind::kNone ||
        kind == ts::documents::DocumentKind::kOtherPackage) {
        set_message(message, "not a Word, Excel, PowerPoint, OpenDocument or RTF document");
        return TS_ERR_DOCUMENT;
    }
    ts::documents::DocumentOptions d;
    d.text.policy = policy_of(o.policy);
    d.text.nfd = o.form == TS_NFD;
    d.text.composite = o.form == TS_COMPOSITE;
    d.fonts = &fonts;
    ts::documents::DocumentResult r = ts::documents::convert_document(data, d);
    if (report != nullptr) {
        report->problem_count = r.problem_count;
        report->parts_changed = r.parts_changed;
        report->fonts = r.fonts.size();
        report->left = r.left.size();
    }
    switch (r.status) {
        case ts::documents::DocumentResult::Status::kConverted:
            output = std::move(r.output);
            return TS_OK;
        case ts::documents::DocumentResult::Status::kRefused: {
            std::string why = "undefined bytes in a legacy font";
            if (!r.problems.empty()) {
                const ts::documents::TextProblem& p = r.problems.front();
                why.append(": font ").append(p.font).append(" (");
                why.append(ts::format_names[std::size_t(p.format)].name).append(") in ");
                why.append(p.where.part);
                if (!p.where.place.empty()) why.append(", ").append(p.where.place);
            }
            set_message(message, why);
            return TS_ERR_REFUSED;
        }
        case ts::documents::DocumentResult::Status::kUnsupported:
        case ts::documents::DocumentResult::Status::kBroken:
            break;
    }
    set_message(message, r.error);
    return TS_ERR_DOCUMENT;
}

// Reads a whole file; 0 or an errno.
int read_file(const char* path, std::string& data, mode_t& mode) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISREG(st.st_mode) ? errno : EINVAL;
        ::close(fd);
        return e;
    }
    mode = st.st_mode & 0777;
    data.resize(std::size_t(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) data.resize(data.size() + 65536);
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return e;
        }
        if (n == 0) break;
        got += std::size_t(n);
    }
    data.resize(got);
    ::close(fd);
    return 0;
}

// Writes `data` to `path` through a temporary file beside it, renamed into place; 0 or an
// errno, and then nothing is left.
int write_file(const char* path, std::string_view data, mode_t mode) {
    std::string temp(path);
    temp += ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    int error = 0;
    for (std::size_t done = 0; done < data.size() && error == 0;) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        done += std::size_t(n);
    }
    if (error == 0 && ::fchmod(fd, mode) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temp.c_str(), path) != 0) error = errno;
    if (error != 0) ::unlink(temp.c_str());
    return error;
}

}  // namespace

int ts_convert_document(const void* in, size_t in_size, const ts_document_options* options,
                        char** out, size_t* out_size, ts_document_report* report, char** message) {
    if (out != nullptr) *out = nullptr;
    if (out_size != nullptr) *out_size = 0;
    if (message != nullptr) *message = nullptr;
    if (report != nullptr) *report = ts_document_report{};
    if (out == nullptr || out_size == nullptr || (in == nullptr && in_size != 0))
        return TS_ERR_ARGUMENT;
    return guarded([&]() -> int {
        std::string output;
        const int s = convert_document_data(std::string_view(static_cast<const char*>(in), in_size),
                                            options, output, report, message);
        if (s != TS_OK) return s;
        char* copy = copy_out(output);
        if (copy == nullptr) return TS_ERR_MEMORY;
        *out = copy;
        *out_size = output.size();
        return TS_OK;
    });
}

int ts_convert_document_file(const char* source, const char* destination,
                             const ts_document_options* options, ts_document_report* report,
                             char** message) {
    if (message != nullptr) *message = nullptr;
    if (report != nullptr) *report = ts_document_report{};
    if (source == nullptr || destination == nullptr) return TS_ERR_ARGUMENT;
    return guarded([&]() -> int {
        std::string data;
        mode_t mode = 0644;
        if (const int e = read_file(source, data, mode); e != 0) {
            set_message(message, std::string("cannot read ") + source + ": " + error_text(e));
            errno = e;
            return TS_ERR_IO;
        }
        std::string output;
        const int s = convert_document_data(data, options, output, report, message);
        if (s != TS_OK) return s;
        if (const int e = write_file(destination, output, mode); e != 0) {
            set_message(message, std::string("cannot write ") + destination + ": " + error_text(e));
            errno = e;
            return TS_ERR_IO;
        }
        return TS_OK;
    });
}

}  // extern "C"
