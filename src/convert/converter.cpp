#include "convert/converter.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "convert/characters.h"
#include "viqr/decoder/viqr_decoder.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {

using namespace convert_detail;

namespace {

// The escape character of all VIQR that the converter reads and writes.
constexpr unsigned char kEscape = '\\';
// Its decoder runs in deferred mode, so the erase character is never written.
constexpr unsigned char kErase = 0x08;

// A combining sequence (a starter and what may join it) is held until the next starter, up
// to this many code points; a longer one is normalized in parts, as the Unicode stream-safe
// format does with its 30 marks.
constexpr int kMaxHeld = 32;
// Its decomposition: at most four code points for each.
constexpr int kDecomposedRoom = 4 * kMaxHeld;

// VISCII bytes bound for a VIQR target collect here and are encoded in runs.
constexpr std::size_t kStageSize = 4096;
constexpr std::size_t kStageRoom = kStageSize - 16;

// The six control bytes that are letters in VISCII. In VIQR input each is the control
// character itself, and the decoder writes it as the last byte of the step that reads it.
constexpr bool is_viscii_control_letter(unsigned char b) {
    return b == 0x02 || b == 0x05 || b == 0x06 || b == 0x14 || b == 0x19 || b == 0x1E;
}

// Whether code point c may join the character before it under canonical normalization: a
// mark with a combining class, a character that composes with a starter before it, or one
// that decomposes into such a mark first. Nothing below U+0300 does, nor any letter.
bool continues_sequence(char32_t c) {
    if (c < 0x300 || letter_position(c) >= 0) return false;
    const utf8proc_property_t* p = utf8proc_get_property(utf8proc_int32_t(c));
    if (p->combining_class != 0) return true;
#if UTF8PROC_VERSION_MAJOR == 2 && UTF8PROC_VERSION_MINOR < 9
    if (p->comb_index != UINT16_MAX && (p->comb_index & 0x8000) != 0) return true;
#else
    if (p->comb_issecond) return true;
#endif
    // Hangul vowel and trailing jamo compose with the syllable before them.
    if ((c >= 0x1161 && c <= 0x1175) || (c >= 0x11A8 && c <= 0x11C2)) return true;
    if (p->decomp_seqindex != UINT16_MAX) {
        utf8proc_int32_t d[8];
        const utf8proc_ssize_t n =
            utf8proc_decompose_char(utf8proc_int32_t(c), d, 8, UTF8PROC_DECOMPOSE, nullptr);
        if (n > 0 && utf8proc_get_property(d[0])->combining_class != 0) return true;
    }
    return false;
}

// The UTF-8 lead byte's sequence length and the range of its first continuation byte
// (the well-formed sequences of the Unicode standard); length 0 for a byte that begins none.
struct Lead {
    std::uint8_t length;
    std::uint8_t low;
    std::uint8_t high;
};
constexpr Lead lead_of(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

struct Converter::State {
    ConvertOptions options;
    std::uint64_t* problem_count;
    Problem* first_problem;
    std::size_t growth;  // output bytes one input byte can become, at most

    std::array<ByteUnit, 256> units{};  // an 8-bit source's bytes in the target

    // The current input.
    std::uint64_t offset = 0;  // its bytes taken before the current piece
    std::uint64_t lines = 0;   // line feeds decoded so far
    std::uint64_t column = 0;  // characters decoded since the last line feed
    bool refused = false;
    std::size_t stop_index = 0;  // where in the piece a refusal happened

    // A VIQR source.
    int viqr_ctx = -1;
    int decoder_state = VIQR_MODE_COMPOSE;  // as the last step left it
    std::uint64_t hold_start = 0;           // where the letter the decoder holds began

    // A UTF-8 source: a sequence cut by the end of a piece, and the combining sequence held.
    unsigned char partial[4] = {};
    int partial_size = 0;
    int partial_length = 0;
    std::uint64_t partial_offset = 0;
    char32_t held[kMaxHeld] = {};
    std::uint64_t held_offset[kMaxHeld] = {};
    int held_size = 0;

    // Output of the call in progress, and the VISCII bytes staged for a VIQR target.
    unsigned char* out = nullptr;
    unsigned char stage[kStageSize] = {};
    std::size_t staged = 0;
    unsigned char previous = 0;  // the last VISCII byte encoded, across calls and inputs

    bool to_viqr() const { return options.to == kViqr; }
    bool to_utf8() const { return options.to == kUtf8; }
    int byte_target() const { return to_viqr() ? kViscii : options.to; }

    void flush_stage() {
        if (staged == 0) return;
        out += viqr_encode_run(stage, staged, previous, out, kEscape);
        previous = stage[staged - 1];
        staged = 0;
    }

    // Writes one byte of an 8-bit or VIQR target.
    void put_byte(unsigned char b) {
        if (to_viqr()) {
            stage[staged++] = b;
            if (staged >= kStageRoom) flush_stage();
        } else {
            *out++ = b;
        }
    }

    void advance(char32_t c) {
        if (c == '\n') {
            ++lines;
            column = 0;
        } else {
            ++column;
        }
    }

    // Counts a problem, keeps the first, and says whether to go on.
    bool report(const Problem& p) {
        if (++*problem_count == 1) {
            *first_problem = p;
            first_problem->line = lines + 1;
            first_problem->column = column + 1;
        }
        if (options.policy == LossPolicy::kRefuse) {
            refused = true;
            return false;
        }
        return true;
    }

    // Writes character c, which began at input offset `at`, or reports it as a loss.
    bool emit(char32_t c, std::uint64_t at) {
        if (to_utf8()) {
            const int p = options.nfd ? letter_position(c) : -1;
            if (p >= 0) {
                const LetterDecomposition& d = letter_decompositions[std::size_t(p)];
                for (int i = 0; i < d.size; ++i) out += put_utf8(d.cps[i], out);
            } else {
                out += put_utf8(c, out);
            }
            advance(c);
            return true;
        }
        const TargetByte t = target_byte(byte_target(), c);
        if (t.exact) {
            put_byte(t.byte);
            advance(c);
            return true;
        }
        Problem p;
        p.kind = Problem::Kind::kLoss;
        p.offset = at;
        p.character = c;
        const char* ascii =
            options.policy == LossPolicy::kTransliterate ? transliteration_of(c) : nullptr;
        if (ascii != nullptr) {
            for (; ascii[p.replacement_size] != '\0'; ++p.replacement_size)
                p.replacement[p.replacement_size] = char32_t(ascii[p.replacement_size]);
        } else {
            p.replacement[0] = t.nearest;
            p.replacement_size = 1;
        }
        if (!report(p)) return false;
        if (ascii != nullptr) {
            for (; *ascii != '\0'; ++ascii)
                put_byte(target_byte(byte_target(), char32_t(*ascii)).byte);
        } else {
            // The nearest form: "?", or the small letter whose byte the capital shares.
            put_byte(t.byte);
        }
        advance(c);
        return true;
    }

    // Input that means nothing in the source: bytes[0..n) at offset `at`.
    bool undefined(const unsigned char* bytes, int n, std::uint64_t at) {
        Problem p;
        p.kind = Problem::Kind::kUndefined;
        p.offset = at;
        std::memcpy(p.bytes, bytes, std::size_t(n));
        p.byte_count = std::uint8_t(n);
        p.replacement[0] = to_utf8() ? kReplacementCharacter : char32_t('?');
        p.replacement_size = 1;
        if (!report(p)) return false;
        if (to_utf8()) {
            out += put_utf8(kReplacementCharacter, out);
        } else {
            put_byte('?');
        }
        advance(kReplacementCharacter);
        return true;
    }

    // ---- 8-bit sources: one table lookup per byte; problems one at a time.
    void convert_8bit(const unsigned char* in, std::size_t n) {
        std::size_t i = 0;
        while (i < n) {
            std::size_t end = n;
            unsigned char* w = out;
            if (to_viqr()) {
                end = std::min(n, i + (kStageRoom - staged));
                w = stage + staged;
            }
            const std::size_t run_start = i;
            for (; i < end; ++i) {
                const ByteUnit& u = units[in[i]];
                if (u.problem) break;
                std::memcpy(w, &u, sizeof u);
                w += u.size;
            }
            if (to_viqr()) {
                staged = std::size_t(w - stage);
            } else {
                out = w;
            }
            count_positions(in + run_start, i - run_start);
            if (i < end) {
                const unsigned char b = in[i];
                const char32_t c = source_chars[std::size_t(options.from)][b];
                const bool go_on =
                    c == kNoChar ? undefined(&in[i], 1, offset + i) : emit(c, offset + i);
                if (!go_on) {
                    stop_index = i;
                    return;
                }
                ++i;
            }
            if (to_viqr() && staged >= kStageRoom) flush_stage();
        }
    }

    // Lines and columns after a run of bytes of an 8-bit source, one character each.
    void count_positions(const unsigned char* run, std::size_t n) {
        const unsigned char* last = run + n;
        const auto* newline = static_cast<const unsigned char*>(memrchr(run, '\n', n));
        if (newline == nullptr) {
            column += n;
            return;
        }
        lines += std::uint64_t(std::count(run, newline + 1, '\n'));
        column = std::uint64_t(last - newline - 1);
    }

    // ---- VIQR sources: through a decoder context of the dialogue's configuration.
    void convert_viqr(const unsigned char* in, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char b = in[i];
            const bool was_holding = decoder_state == VIQR_HOLDING;
            unsigned char decoded[2];
            int count = 0;
            const int state = viqr_step(viqr_ctx, b, decoded, &count);
            decoder_state = state;
            if (!emit_decoded(decoded, count, was_holding, is_viscii_control_letter(b),
                              offset + i)) {
                stop_index = i;
                return;
            }
            if (state == VIQR_HOLDING && (!was_holding || count > 0)) hold_start = offset + i;
        }
    }

    // The bytes one decoder step wrote. A step from a held letter writes that letter first;
    // everything else it writes stands at the byte read.
    bool emit_decoded(const unsigned char* decoded, int count, bool was_holding, bool control_last,
                      std::uint64_t at) {
        for (int j = 0; j < count; ++j) {
            const bool raw = control_last && j == count - 1;
            const char32_t c = raw ? char32_t(decoded[j]) : source_chars[kViscii][decoded[j]];
            if (!emit(c, was_holding && j == 0 ? hold_start : at)) return false;
        }
        return true;
    }

    // What the decoder still holds at the end of the input (`end` bytes); a lone escape
    // character stands at the last byte.
    bool finish_viqr(std::uint64_t end) {
        const bool was_holding = decoder_state == VIQR_HOLDING;
        unsigned char decoded[2];
        int count = 0;
        viqr_finish(viqr_ctx, decoded, &count);
        decoder_state = VIQR_MODE_COMPOSE;
        return emit_decoded(decoded, count, was_holding, false, end == 0 ? 0 : end - 1);
    }

    // ---- UTF-8 sources: decoded, validated, normalized one combining sequence at a time.
    void convert_utf8(const unsigned char* in, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char b = in[i];
            bool go_on = true;
            if (partial_length == 0) {
                if (b < 0x80) {
                    go_on = take(b, offset + i);
                } else {
                    const Lead lead = lead_of(b);
                    if (lead.length == 0) {
                        go_on = flush_held() && undefined(&in[i], 1, offset + i);
                    } else {
                        partial[0] = b;
                        partial_size = 1;
                        partial_length = lead.length;
                        partial_offset = offset + i;
                    }
                }
            } else {
                const Lead lead = lead_of(partial[0]);
                const unsigned char low = partial_size == 1 ? lead.low : 0x80;
                const unsigned char high = partial_size == 1 ? lead.high : 0xBF;
                if (b >= low && b <= high) {
                    partial[partial_size++] = b;
                    if (partial_size == partial_length) {
                        partial_length = 0;
                        go_on = take(decode_partial(), partial_offset);
                    }
                } else {
                    // The sequence so far is one maximal subpart; b begins anew.
                    partial_length = 0;
                    go_on = flush_held() && undefined(partial, partial_size, partial_offset);
                    --i;
                }
            }
            if (!go_on) {
                stop_index = i;
                return;
            }
        }
    }

    char32_t decode_partial() const {
        char32_t c = partial[0] & (0x7F >> partial_size);
        for (int k = 1; k < partial_size; ++k) c = (c << 6) | (partial[k] & 0x3F);
        return c;
    }

    // One decoded code point.
    bool take(char32_t c, std::uint64_t at) {
        if (at == 0 && c == 0xFEFF) return true;  // a byte-order mark starts the input
        if (held_size > 0 && held_size < kMaxHeld && continues_sequence(c)) {
            held[held_size] = c;
            held_offset[held_size++] = at;
            return true;
        }
        if (!flush_held()) return false;
        held[0] = c;
        held_offset[0] = at;
        held_size = 1;
        return true;
    }

    // Writes the held combining sequence in the target's normal form.
    bool flush_held() {
        if (held_size == 0) return true;
        const int size = held_size;
        held_size = 0;
        const char32_t first = held[0];
        // ASCII and the letters are their own normal forms (decomposed by emit for NFD), as
        // is anything below U+0300 in NFC.
        const bool nfd = to_utf8() && options.nfd;
        if (size == 1 && (first < 0x80 || letter_position(first) >= 0 || (!nfd && first < 0x300)))
            return emit(first, held_offset[0]);
        unsigned char text[4 * kMaxHeld];
        std::size_t length = 0;
        for (int k = 0; k < size; ++k) length += std::size_t(put_utf8(held[k], text + length));
        utf8proc_int32_t normal[kDecomposedRoom];
        const auto mode =
            utf8proc_option_t(UTF8PROC_STABLE | (nfd ? UTF8PROC_DECOMPOSE : UTF8PROC_COMPOSE));
        utf8proc_ssize_t m =
            utf8proc_decompose(text, utf8proc_ssize_t(length), normal, kDecomposedRoom, mode);
        if (m >= 0 && m <= kDecomposedRoom && !nfd) m = utf8proc_normalize_utf32(normal, m, mode);
        if (m < 0 || m > kDecomposedRoom) {
            // Not expected for valid code points; the sequence then goes out as it came.
            for (int k = 0; k < size; ++k)
                if (!emit(held[k], held_offset[k])) return false;
            return true;
        }
        for (utf8proc_ssize_t k = 0; k < m; ++k) {
            const std::uint64_t at = held_offset[std::min<utf8proc_ssize_t>(k, size - 1)];
            if (!emit(char32_t(normal[k]), at)) return false;
        }
        return true;
    }

    bool finish_utf8() {
        if (partial_length != 0) {
            // A sequence cut short by the end of the input.
            partial_length = 0;
            if (!flush_held() || !undefined(partial, partial_size, partial_offset)) return false;
        }
        return flush_held();
    }
};

Converter::Converter(const ConvertOptions& options)
    : options_(options), state_(std::make_unique<State>()) {
    State& s = *state_;
    s.options = options;
    s.problem_count = &problem_count_;
    s.first_problem = &first_problem_;
    if (!is_convert_format(options.from) || !is_convert_format(options.to)) return;
    s.growth = options.to == kUtf8 && options.nfd ? 5 : 3;
    if (options.from < kViqr) {
        for (int b = 0; b < 256; ++b)
            s.units[std::size_t(b)] = byte_unit(options.from, options.to, options.nfd, b);
    }
    if (options.from == kViqr) {
        s.viqr_ctx = viqr_open(VIQR_MODE_COMPOSE, kEscape, kErase);
        if (s.viqr_ctx < 0) return;
        viqr_set(s.viqr_ctx, 1, VIQR_DEFERRED);
    }
    ok_ = true;
}

Converter::~Converter() {
    if (state_->viqr_ctx >= 0) viqr_close(state_->viqr_ctx, nullptr, nullptr);
}

ConvertResult Converter::convert(const unsigned char* in, std::size_t in_size, unsigned char* out,
                                 std::size_t out_size, bool last) {
    ConvertResult result;
    State& s = *state_;
    if (!ok_ || s.refused) {
        result.stop = ConvertResult::Stop::kRefused;
        return result;
    }
    const std::size_t room = out_size > kConvertSlack ? (out_size - kConvertSlack) / s.growth : 0;
    if (out_size < kConvertSlack) {
        result.stop = ConvertResult::Stop::kOutputFull;
        return result;
    }
    const std::size_t take = std::min(in_size, room);
    s.out = out;
    if (take > 0) {
        if (options_.from < kViqr) {
            s.convert_8bit(in, take);
        } else if (options_.from == kViqr) {
            s.convert_viqr(in, take);
        } else {
            s.convert_utf8(in, take);
        }
    }
    if (!s.refused && take == in_size && last) {
        const bool finished = options_.from == kViqr   ? s.finish_viqr(s.offset + take)
                              : options_.from == kUtf8 ? s.finish_utf8()
                                                       : true;
        if (!finished) s.stop_index = take;
    }
    s.flush_stage();
    result.written = std::size_t(s.out - out);
    if (s.refused) {
        result.consumed = std::min(s.stop_index, take);
        result.stop = ConvertResult::Stop::kRefused;
    } else {
        result.consumed = take;
        result.stop =
            take < in_size ? ConvertResult::Stop::kOutputFull : ConvertResult::Stop::kInputUsed;
    }
    s.offset += take;
    return result;
}

void Converter::next_input() {
    State& s = *state_;
    s.offset = 0;
    s.lines = 0;
    s.column = 0;
    s.refused = false;
    s.stop_index = 0;
    s.partial_length = 0;
    s.held_size = 0;
    s.hold_start = 0;
    if (s.viqr_ctx >= 0) viqr_set(s.viqr_ctx, VIQR_MODE_COMPOSE, VIQR_STATE);
    s.decoder_state = VIQR_MODE_COMPOSE;
    problem_count_ = 0;
    first_problem_ = Problem{};
}

}  // namespace toneshift
