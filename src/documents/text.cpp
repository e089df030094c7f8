#include "documents/text.h"

#include <utf8proc.h>

namespace toneshift::documents {

namespace {

constexpr std::size_t kMaxProblemsKept = 64;
constexpr std::size_t kSampleSize = std::size_t(16) << 10;
// Below this many bytes a piece says too little of its encoding to be judged by its
// syllables.
constexpr std::size_t kGuardMinimum = 24;

// The family a format belongs to for the guard: a capitals font reads its bytes as TCVN3
// does, but for case.
int guard_family(int format) {
    return format == kTcvn3Caps || format == kTcvn3VnCaps ? kTcvn3 : format;
}

}  // namespace

char32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char c = b(i);
    if (c < 0x80) {
        ++i;
        return c;
    }
    const std::size_t n = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (n == 0 || c > 0xF4 || i + n >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    char32_t v = c & (0x3F >> n);
    for (std::size_t k = 1; k <= n; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        v = (v << 6) | (b(i + k) & 0x3F);
    }
    i += n + 1;
    return v;
}

void append_utf8(std::string& out, char32_t c) {
    utf8proc_uint8_t bytes[4];
    // What utf8proc cannot encode (past U+10FFFF, from a malformed RTF \uN) is U+FFFD.
    utf8proc_ssize_t n = c <= 0x10FFFF ? utf8proc_encode_char(utf8proc_int32_t(c), bytes) : 0;
    if (n <= 0) n = utf8proc_encode_char(0xFFFD, bytes);
    out.append(reinterpret_cast<const char*>(bytes), std::size_t(n));
}

TextConverter::TextConverter(const TextOptions& options) : options_(options) {}
TextConverter::~TextConverter() = default;

FontUse& TextConverter::use_of(const std::string& font, int format) {
    for (FontUse& u : fonts_)
        if (u.font == font) return u;
    fonts_.push_back(FontUse{font, format, 0, {}});
    return fonts_.back();
}

bool TextConverter::feed(Converter& converter, const unsigned char* bytes, std::size_t size,
                         bool last, std::string& out) {
    const std::size_t room = kConvertGrowth * size + kConvertSlack;
    if (output_.size() < room) output_.resize(room);
    const ConvertResult r = converter.convert(bytes, size, output_.data(), room, last);
    out.append(reinterpret_cast<const char*>(output_.data()), r.written);
    return r.stop != ConvertResult::Stop::kRefused;
}

TextConverter::Outcome TextConverter::convert(int format, const std::string& font,
                                              std::vector<std::string>& pieces,
                                              const TextPlace& where) {
    // The bytes of the whole text, for the guard and the tally.
    bytes_.clear();
    bool high = false;
    for (const std::string& piece : pieces) {
        for (std::size_t i = 0; i < piece.size();) {
            const int b = legacy_byte(next_code_point(piece, i));
            if (b < 0) continue;
            bytes_ += char(b);
            high = high || b >= 0x80;
        }
    }
    FontUse& use = use_of(font, format);
    use.characters += bytes_.size();
    if (options_.guard && high && bytes_.size() >= kGuardMinimum) {
        if (!detector_) detector_ = std::make_unique<Detector>();
        detector_->reset();
        detector_->feed(reinterpret_cast<const unsigned char*>(bytes_.data()), bytes_.size());
        detector_->finish();
        const int other = detector_->clearly_other_than(guard_family(format));
        if (other >= 0 && guard_family(other) != guard_family(format)) {
            left_.push_back(LeftText{where, font, format, other});
            return Outcome::kLeft;
        }
    }

    std::unique_ptr<Converter>& slot = converters_[format];
    if (!slot) {
        ConvertOptions o;
        o.from = format;
        o.to = kUtf8;
        o.policy = options_.policy;
        o.nfd = options_.nfd;
        o.composite = options_.composite;
        slot = std::make_unique<Converter>(o);
    }
    Converter& converter = *slot;
    // Ends the converter's current input: its problems are tallied and it is ready for the
    // next.
    bool pending = false;  // bytes fed since the last end
    const auto tally_and_restart = [&]() {
        const std::uint64_t n = converter.problem_count();
        if (n != 0) {
            problem_count_ += n;
            if (problems_.size() < kMaxProblemsKept)
                problems_.push_back(TextProblem{where, font, format, *converter.first_problem()});
        }
        converter.next_input();
        pending = false;
    };

    std::string run;  // bytes of the current stretch, not yet fed
    std::string out;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
        const std::string& piece = pieces[k];
        out.clear();
        for (std::size_t i = 0; i < piece.size();) {
            const std::size_t at = i;
            const int b = legacy_byte(next_code_point(piece, i));
            if (b >= 0) {
                run += char(b);
                continue;
            }
            // A character that is no byte of the font: the text so far ends before it.
            const bool ok = feed(converter, reinterpret_cast<const unsigned char*>(run.data()),
                                 run.size(), true, out);
            run.clear();
            if (!ok) {
                tally_and_restart();
                return Outcome::kRefused;
            }
            tally_and_restart();
            out.append(piece, at, i - at);
        }
        const bool last = k + 1 == pieces.size();
        if (!run.empty() || last) {
            const bool ok = feed(converter, reinterpret_cast<const unsigned char*>(run.data()),
                                 run.size(), last, out);
            pending = !last;
            run.clear();
            if (!ok) {
                tally_and_restart();
                return Outcome::kRefused;
            }
            if (last) tally_and_restart();
        }
        if (use.sample.size() < kSampleSize) use.sample += out;
        pieces[k] = out;
    }
    if (pending) tally_and_restart();
    return Outcome::kConverted;
}

}  // namespace toneshift::documents
