#include "convert/converter.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <vector>

#include "convert/byte_codecs.h"
#include "convert/characters.h"
#include "convert/fast_runs.h"
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
// to this many code points; a longer one is normalized in parts, with the grapheme joiner
// between them in UTF-8, as the Unicode Stream-Safe Text Format has it (converter.h).
constexpr int kMaxHeld = 32;
constexpr char32_t kGraphemeJoiner = 0x34F;
// Its decomposition: at most four code points for each.
constexpr int kDecomposedRoom = 4 * kMaxHeld;

// VISCII bytes bound for a VIQR target collect here and are encoded in runs.
constexpr std::size_t kStageSize = 4096;
constexpr std::size_t kStageRoom = kStageSize - 16;

// In VIQR input, each of the six control bytes that are letters in VISCII
// (is_viscii_control_letter) is the control character itself, and the decoder writes it as
// the last byte of the step that reads it.

// Whether code point c may join the character before it under canonical normalization: a
// mark with a combining class, a character that composes with a starter before it, or one
// that decomposes into such a mark first. Nothing below U+0300 does, nor any letter.
bool continues_sequence(char32_t c) {
    if (c < 0x300) return false;
    // The combining diacritical marks, but for the grapheme joiner.
    if (c <= 0x36F) return c != 0x34F;
    if (letter_position(c) >= 0) return false;
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

// Whether code point c has a canonical decomposition (Hangul syllables included).
bool decomposes(char32_t c) {
    if (c >= 0xAC00 && c <= 0xD7A3) return true;
    const utf8proc_property_t* p = utf8proc_get_property(utf8proc_int32_t(c));
    return p->decomp_seqindex != UINT16_MAX && p->decomp_type == 0;
}

// What normalization asks of each character of the Basic Multilingual Plane, looked up in
// utf8proc once per block of 256 the input meets and kept as bits: text thick with
// characters other than letters (hostile input, other scripts) asks for every one.
class NormalizationBits {
  public:
    bool continues(char32_t c) {
        if (c >= 0x10000) return continues_sequence(c);
        ready(c);
        return (continues_[c >> 6] >> (c & 63) & 1) != 0;
    }
    bool decomposes_(char32_t c) {
        if (c >= 0x10000) return decomposes(c);
        ready(c);
        return (decomposes_bits_[c >> 6] >> (c & 63) & 1) != 0;
    }
    // How many code points c is in NFD.
    int decomposed_length(char32_t c) {
        if (c >= 0x10000) return decomposed_length_of(c);
        ready(c);
        return lengths_[c];
    }

  private:
    void ready(char32_t c) {
        const std::size_t block = c >> 8;
        if (filled_[block]) return;
        filled_[block] = true;
        for (char32_t d = char32_t(block << 8); d < char32_t((block + 1) << 8); ++d) {
            if (continues_sequence(d)) continues_[d >> 6] |= std::uint64_t(1) << (d & 63);
            if (decomposes(d)) decomposes_bits_[d >> 6] |= std::uint64_t(1) << (d & 63);
            lengths_[d] = std::uint8_t(decomposed_length_of(d));
        }
    }
    static int decomposed_length_of(char32_t c) {
        if (!decomposes(c)) return 1;
        utf8proc_int32_t d[8];
        const utf8proc_ssize_t n =
            utf8proc_decompose_char(utf8proc_int32_t(c), d, 8, UTF8PROC_DECOMPOSE, nullptr);
        return n > 0 && n <= 8 ? int(n) : 1;
    }
    std::array<std::uint64_t, 0x10000 / 64> continues_{};
    std::array<std::uint64_t, 0x10000 / 64> decomposes_bits_{};
    std::array<std::uint8_t, 0x10000> lengths_{};
    std::array<bool, 0x100> filled_{};
};

// Whether the general path hands over to the converter's fast UTF-8 loop (utf8_run) at a
// character that begins with byte b: at ASCII, and at the lead bytes of the Vietnamese
// letters (U+00C0..U+01B0, U+1EA0..U+1EF9). The loop takes more, but in text thick with
// other characters a call at each would cost more than it saves.
constexpr bool starts_fast_run(unsigned char b) {
    return b < 0x80 || (b >= 0xC3 && b <= 0xC6) || b == 0xE1;
}

// The UTF-8 lead byte's sequence length and the range of its first continuation byte
// (the well-formed sequences of the Unicode standard); length 0 for a byte that begins none.
struct Lead {
    std::uint8_t length;
    std::uint8_t low;
    std::uint8_t high;
};
constexpr Lead lead_by_rule(unsigned char b) {
    if (b >= 0xC2 && b <= 0xDF) return {2, 0x80, 0xBF};
    if (b == 0xE0) return {3, 0xA0, 0xBF};
    if (b == 0xED) return {3, 0x80, 0x9F};
    if (b >= 0xE1 && b <= 0xEF) return {3, 0x80, 0xBF};
    if (b == 0xF0) return {4, 0x90, 0xBF};
    if (b >= 0xF1 && b <= 0xF3) return {4, 0x80, 0xBF};
    if (b == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}
// The same, looked up: the general UTF-8 path asks it for every byte that is not ASCII.
inline constexpr std::array<Lead, 256> kLeads = [] {
    std::array<Lead, 256> t{};
    for (int b = 0; b < 256; ++b) t[std::size_t(b)] = lead_by_rule(static_cast<unsigned char>(b));
    return t;
}();
constexpr Lead lead_of(unsigned char b) {
    return kLeads[b];
}

// What makes two problems the same one: the lost character, or the undefined bytes and
// their number. Never 0, and below 2^36.
std::uint64_t problem_key(const Problem& p) {
    if (p.kind == Problem::Kind::kLoss) return std::uint64_t(1) << 35 | p.character;
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, p.bytes, sizeof bytes);
    return std::uint64_t(p.byte_count) << 32 | bytes;
}

// The distinct problems of one input and their counts: the first occurrences in the order
// met, and the counts. The common ones, a single undefined byte or a lost character of the
// Basic Multilingual Plane, are counted in an array (1 MiB, made at the first problem:
// hostile text meets tens of thousands of characters, and a table found by hashing would
// miss the cache at each); the rest are found by key in an open-addressing table
// at most half full whose slots hold the counts, so that counting a problem met before
// touches one slot. The table grows with the distinct problems only.
class Tally {
  public:
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;

    Tally() {
        slots_.resize(64);
        firsts_.reserve(32);
        direct_.fill(Direct{});
        byte_hits.fill(0);
        byte_entry.fill(kNone);
    }

    void clear() {
        if (firsts_.empty()) return;
        std::fill(slots_.begin(), slots_.end(), Slot{});
        used_slots_ = 0;
        direct_.fill(Direct{});
        firsts_.clear();
        byte_hits.fill(0);
        byte_entry.fill(kNone);
    }

    void count(const Problem& p) {
        const std::size_t d = direct_index(p);
        if (d < direct_.size()) {
            Direct& e = direct_[d];
            if (e.entry == kNone) e.entry = add_first(p);
            ++e.count;
        } else {
            ++slots_[find_or_add(p)].count;
        }
    }

    // The count of undefined input that is byte b alone, once the input has met it; else
    // nullptr.
    std::uint64_t* single_byte_count(unsigned char b) {
        Direct& e = direct_[b];
        return e.entry == kNone ? nullptr : &e.count;
    }

    // The count of lost character c of the Basic Multilingual Plane, once the input has met
    // it; else nullptr.
    std::uint64_t* loss_count(char32_t c) {
        if (c >= kDirectCharacters) return nullptr;
        Direct& e = direct_[256 + c];
        return e.entry == kNone ? nullptr : &e.count;
    }

    // Counts a problem that the input met before, known by its character or bytes alone;
    // false (and nothing counted) for one not met yet.
    bool count_again_loss(char32_t c) {
        if (c < kDirectCharacters) return count_again(direct_[256 + c]);
        return count_again(std::uint64_t(1) << 35 | c);
    }
    bool count_again_undefined(const unsigned char* bytes, int n) {
        if (n == 1) return count_again(direct_[bytes[0]]);
        std::uint32_t packed = 0;
        std::memcpy(&packed, bytes, std::size_t(n));
        return count_again(std::uint64_t(n) << 32 | packed);
    }

    // The entry (its index in the order met) of p's problem, made if new.
    std::uint32_t entry_of(const Problem& p) {
        const std::size_t d = direct_index(p);
        if (d < direct_.size()) {
            Direct& e = direct_[d];
            if (e.entry == kNone) e.entry = add_first(p);
            return e.entry;
        }
        return std::uint32_t(slots_[find_or_add(p)].packed & kEntryMask);
    }

    // Every entry with its count, bytes counted in bulk included, in the order met.
    std::vector<ProblemCount> counted() const {
        std::vector<ProblemCount> all(firsts_.size());
        for (std::size_t e = 0; e < firsts_.size(); ++e) all[e].problem = firsts_[e];
        for (const Direct& d : direct_)
            if (d.entry != kNone) all[d.entry].count += d.count;
        for (const Slot& s : slots_)
            if (s.packed != 0) all[s.packed & kEntryMask].count += s.count;
        for (std::size_t b = 0; b < 256; ++b)
            if (byte_entry[b] != kNone) all[byte_entry[b]].count += byte_hits[b];
        return all;
    }

    // An 8-bit source's problems taken in bulk: how often each byte was one, and the entry
    // each counts toward (kNone before its first occurrence).
    std::array<std::uint64_t, 256> byte_hits{};
    std::array<std::uint32_t, 256> byte_entry{};

  private:
    static constexpr int kEntryBits = 28;
    static constexpr std::uint64_t kEntryMask = (std::uint64_t(1) << kEntryBits) - 1;
    static constexpr char32_t kDirectCharacters = 0x10000;

    struct Direct {
        std::uint64_t count = 0;
        std::uint32_t entry = kNone;
    };

    // Where p is counted in direct_, or past its end.
    static std::size_t direct_index(const Problem& p) {
        if (p.kind == Problem::Kind::kLoss)
            return p.character < kDirectCharacters ? 256 + p.character : SIZE_MAX;
        return p.byte_count == 1 ? p.bytes[0] : SIZE_MAX;
    }

    static bool count_again(Direct& e) {
        if (e.entry == kNone) return false;
        ++e.count;
        return true;
    }

    bool count_again(std::uint64_t key) {
        for (std::size_t s = slot_of(key); slots_[s].packed != 0;
             s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s].packed >> kEntryBits == key) {
                ++slots_[s].count;
                return true;
            }
        }
        return false;
    }

    std::uint32_t add_first(const Problem& p) {
        firsts_.push_back(p);
        return std::uint32_t(firsts_.size() - 1);
    }

    // The slot of p's problem, made with p as its first occurrence (count 0) if new.
    std::size_t find_or_add(const Problem& p) {
        const std::uint64_t key = problem_key(p);
        std::size_t s = slot_of(key);
        while (slots_[s].packed != 0) {
            if (slots_[s].packed >> kEntryBits == key) return s;
            s = (s + 1) & (slots_.size() - 1);
        }
        slots_[s].packed = key << kEntryBits | add_first(p);
        ++used_slots_;
        if (2 * used_slots_ <= slots_.size()) return s;
        grow();
        return find_or_add(p);
    }

    struct Slot {
        std::uint64_t packed = 0;  // the key above kEntryBits, the entry below; 0: empty
        std::uint64_t count = 0;
    };

    std::size_t slot_of(std::uint64_t key) const {
        const int bits = std::countr_zero(slots_.size());
        return std::size_t((key * 0x9E3779B97F4A7C15) >> (64 - bits));
    }

    void grow() {
        std::vector<Slot> old(2 * slots_.size());
        old.swap(slots_);
        for (const Slot& o : old) {
            if (o.packed == 0) continue;
            std::size_t s = slot_of(o.packed >> kEntryBits);
            while (slots_[s].packed != 0) s = (s + 1) & (slots_.size() - 1);
            slots_[s] = o;
        }
    }

    std::array<Direct, 256 + kDirectCharacters> direct_;  // single bytes, then characters
    std::vector<Slot> slots_;                             // a power of two of them
    std::size_t used_slots_ = 0;
    std::vector<Problem> firsts_;  // each entry's first occurrence
};

}  // namespace

static_assert(kMaxSecondSlots >= ByteCodec::kMaxMarks && kMaxSecondSlots >= combining_tones.size());

// The longest "&..." a references source holds while it may still be a reference.
constexpr int kLongestReference = 16;

// Output bytes one input byte can become, at most, for a target.
constexpr std::size_t growth_of(const ConvertOptions& o) {
    switch (o.to) {
        case kUtf8:
            return o.nfd ? 5 : o.composite ? 4 : 3;
        case kUtf16:
        case kUtf16Le:
        case kUtf16Be:
            return o.nfd ? 6 : 4;
        case kReferences:
            return kConvertGrowth;
        default:
            return 3;
    }
}

struct Converter::State {
    ConvertOptions options;
    std::uint64_t* problem_count;
    Problem* first_problem;
    std::size_t growth;  // output bytes one input byte can become, at most

    std::array<ByteUnit, 256> units{};  // an 8-bit source's bytes in the target
    // The same for UTF-8, composed: up to three bytes and their number in bits 24 and 25;
    // kShortProblem (advancing by nothing) in place of a unit that is a problem.
    std::array<std::uint32_t, 256> short_units{};
    // Whether the source's printable ASCII is itself in short_units, as expand_units needs.
    bool units_pass_ascii = false;
    // The same for a target of one byte each: the byte, or kProblemBit.
    static constexpr std::uint16_t kProblemBit = 0x100;
    std::array<std::uint16_t, 256> byte_map{};
    // An 8-bit source under kReplace or kTransliterate: units as above, but each problem
    // written as its replacement (still marked as a problem), for take_problems().
    std::array<ByteUnit, 256> tolerant_units{};
    // The source's problem bytes that the current input has not yet met, for the tally.
    std::array<std::uint8_t, 256> unmet{};
    static constexpr std::size_t kTolerantRun = 1024;
    // The distinct problems of the current input, made at the first.
    std::unique_ptr<Tally> tally;
    // A byte-encoding source of two-byte spellings or combining bytes into a target of the
    // byte tables (but VIQR, and NFD): its units; null otherwise.
    std::unique_ptr<CodecTables> codec_tables;
    // With codec_tables: each byte that is a problem alone and that take_codec_problems may
    // count in bulk under the policy, and what it becomes.
    std::array<bool, 256> codec_bulk{};
    std::array<ByteUnit, 256> codec_replacements{};
    // A byte-encoding source: a base byte waiting for a mark, and where it was.
    int pending_base = -1;
    std::uint64_t pending_at = 0;
    // A UTF-16 source: the unit being read, its byte order, a high surrogate waiting.
    unsigned char unit_bytes[2] = {};
    int unit_size = 0;
    std::uint64_t unit_at = 0;
    bool big_endian = false;
    char32_t high_surrogate = 0;
    unsigned char high_bytes[2] = {};
    std::uint64_t high_at = 0;
    // A references source: the "&..." read so far.
    unsigned char reference[kLongestReference] = {};
    int reference_size = 0;
    std::uint64_t reference_at = 0;
    // A UTF-16 target: whether the byte-order mark is out (once per output).
    bool bom_written = false;
    // A UTF-8 source: normalization's questions about the characters met, answered once.
    std::unique_ptr<NormalizationBits> normalization;
    // byte_map as vectors take it: the bytes written, and the problems marked by 0x00.
    ByteMap target_map{};
    NibblePlan target_plan{};
    int sentinel = 0;  // a byte written for no exact byte, where any byte is a problem
    static constexpr std::size_t kVectorBlock = 16384;
    static constexpr std::size_t kFirstVectorBlock = 256;

    // The byte that an 8-bit or VIQR target writes for each character below U+0300 and in
    // U+1EA0..U+1EF9 (all the letters), kSlowChar where emit() must decide.
    std::array<std::uint16_t, 0x300> low_targets{};
    std::array<std::uint16_t, detail::kAdditionalEnd - detail::kAdditionalFirst>
        additional_targets{};
    RunTables run_tables;  // the tables above, for the fast loops

    // The current input.
    std::uint64_t offset = 0;  // its bytes taken before the current piece
    std::uint64_t lines = 0;   // line feeds decoded so far
    std::uint64_t column = 0;  // characters decoded since the last line feed
    bool refused = false;
    std::size_t stop_index = 0;  // where in the piece a refusal happened

    // A VIQR source.
    // A VIQR source's decoder context, kept here between calls and in a decoder slot (viqr_ctx)
    // only while convert() runs: any number of converters read VIQR at once.
    int viqr_ctx = -1;
    bool viqr_source = false;
    viqr_snapshot viqr_saved{};
    static constexpr std::size_t kViqrWindow = 4096;
    unsigned char decoded[2 * kViqrWindow] = {};  // a window decoded ahead
    bool tables_can_fail = true;    // whether any byte of the byte tables' source is a problem
    bool source_is_viscii = false;  // whether the byte tables map each byte to itself
    // An 8-bit source whose every byte the target writes exactly: nothing is ever reported.
    bool never_fails = false;
    // Whether printable ASCII (0x20..0x7F) from a UTF-8 source passes into the target as
    // itself.
    bool ascii_passes = false;
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
    int held_length = 0;  // the held sequence's length in NFD

    // Output of the call in progress, and the VISCII bytes staged for a VIQR target.
    unsigned char* out = nullptr;
    unsigned char stage[kStageSize] = {};
    std::size_t staged = 0;
    unsigned char previous = 0;  // the last VISCII byte encoded, across calls and inputs

    bool to_viqr() const { return options.to == kViqr; }
    bool to_utf8() const { return options.to == kUtf8; }
    // A target that the byte tables and fast loops serve: the first twelve formats, and the
    // byte encodings with one byte for each letter.
    bool classic_target() const { return options.to < kTcvn3 || one_byte_codec(options.to); }
    bool to_unicode() const { return is_unicode_format(options.to); }
    bool to_codec() const { return is_byte_codec(options.to); }
    bool decomposed() const { return to_unicode() && options.nfd; }
    // A byte encoding of several bytes a character: written by the UTF-8 loop's spellings.
    bool spelled_target() const { return to_codec() && !one_byte_codec(options.to); }
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

    Tally& tally_of() {
        if (!tally) tally = std::make_unique<Tally>();
        return *tally;
    }

    // Places a problem, counts it, keeps the first, and says whether to go on. (Not copied
    // whole unless kept: a copy just after its fields were written stalls on them.)
    bool report(Problem& p) {
        p.line = lines + 1;
        p.column = column + 1;
        if (++*problem_count == 1) *first_problem = p;
        tally_of().count(p);
        if (options.policy == LossPolicy::kRefuse) {
            refused = true;
            return false;
        }
        return true;
    }

    // The reports of a problem not met before, out of line: the common case, one met before,
    // stays small where it is inlined.
    [[gnu::noinline]] bool report_loss(char32_t c, std::uint64_t at, const TargetByte& t,
                                       const char* ascii) {
        Problem p;
        p.kind = Problem::Kind::kLoss;
        p.offset = at;
        p.character = c;
        if (ascii != nullptr) {
            for (; ascii[p.replacement_size] != '\0'; ++p.replacement_size)
                p.replacement[p.replacement_size] = char32_t(ascii[p.replacement_size]);
        } else {
            p.replacement[0] = t.nearest;
            p.replacement_size = 1;
        }
        return report(p);
    }

    [[gnu::noinline]] bool report_undefined(const unsigned char* bytes, int n, std::uint64_t at) {
        Problem p;
        p.kind = Problem::Kind::kUndefined;
        p.offset = at;
        std::memcpy(p.bytes, bytes, std::size_t(n));
        p.byte_count = std::uint8_t(n);
        p.replacement[0] = to_unicode() ? kReplacementCharacter : char32_t('?');
        p.replacement_size = 1;
        return report(p);
    }

    // Whether a problem met before in this input may be counted by its key alone, its report
    // not made again: after the first problem, where it does not stop the conversion.
    bool counted_again() const {
        return *problem_count != 0 && options.policy != LossPolicy::kRefuse;
    }

    // Writes character c, which began at input offset `at`, or reports it as a loss.
    bool emit(char32_t c, std::uint64_t at) {
        if (!classic_target() || options.composite) return emit_other(c, at);
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
        const char* ascii =
            options.policy == LossPolicy::kTransliterate ? transliteration_of(c) : nullptr;
        if (counted_again() && tally->count_again_loss(c)) {
            ++*problem_count;
        } else if (!report_loss(c, at, t, ascii)) {
            return false;
        }
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
        if (counted_again() && tally->count_again_undefined(bytes, n)) {
            ++*problem_count;
        } else if (!report_undefined(bytes, n, at)) {
            return false;
        }
        put_replacement();
        return true;
    }

    // What undefined input becomes: U+FFFD in UTF-8, "?" otherwise.
    void put_replacement() {
        if (to_utf8()) {
            out += put_utf8(kReplacementCharacter, out);
        } else if (to_unicode()) {
            put_unicode(kReplacementCharacter);
        } else {
            put_byte('?');
        }
        advance(kReplacementCharacter);
    }

    // ---- Targets beyond the first twelve formats (and UTF-8 in the composite form).

    // One character into a Unicode target, in its encoding.
    void put_unicode(char32_t c) {
        switch (options.to) {
            case kUtf8:
                out += put_utf8(c, out);
                return;
            case kUtf16:
            case kUtf16Le:
            case kUtf16Be: {
                const bool be = options.to == kUtf16Be;
                if (options.to == kUtf16 && !bom_written) {
                    bom_written = true;
                    *out++ = 0xFF;
                    *out++ = 0xFE;
                }
                auto unit = [&](char32_t u) {
                    out[be ? 1 : 0] = static_cast<unsigned char>(u & 0xFF);
                    out[be ? 0 : 1] = static_cast<unsigned char>(u >> 8);
                    out += 2;
                };
                if (c >= 0x10000) {
                    unit(0xD800 + ((c - 0x10000) >> 10));
                    unit(0xDC00 + ((c - 0x10000) & 0x3FF));
                } else {
                    unit(c);
                }
                return;
            }
            default:  // references
                if (c < 0x80 && c != '&') {
                    *out++ = static_cast<unsigned char>(c);
                    return;
                }
                out += std::snprintf(reinterpret_cast<char*>(out), 16, "&#%u;", unsigned(c));
                return;
        }
    }

    // A letter in the normal form wanted: NFD, or the composite form (the shaped vowel or
    // d with stroke precomposed, the tone combining); any other character as it is.
    void put_letter_form(char32_t c) {
        const int p = letter_position(c);
        if (p < 0 || (!options.nfd && !options.composite)) {
            put_unicode(c);
            return;
        }
        const LetterDecomposition& d = letter_decompositions[std::size_t(p)];
        if (options.nfd) {
            for (int i = 0; i < d.size; ++i) put_unicode(d.cps[i]);
            return;
        }
        // The marks come in canonical order, which puts the dot below before a shape mark.
        char32_t tone = 0, shape = 0;
        for (int i = 1; i < d.size; ++i) {
            const char32_t m = d.cps[i];
            (m == 0x302 || m == 0x306 || m == 0x31B ? shape : tone) = m;
        }
        if (tone == 0) {
            put_unicode(c);
            return;
        }
        put_unicode(
            shape == 0
                ? d.cps[0]
                : letter_code_points[std::size_t(letter_of_decomposition(d.cps[0], shape, 0))]);
        put_unicode(tone);
    }

    bool emit_other(char32_t c, std::uint64_t at) {
        if (to_unicode()) {
            put_letter_form(c);
            advance(c);
            return true;
        }
        const ByteSpelling w = codec_spelling(c);
        if (w.exact) {
            for (int i = 0; i < w.size; ++i) *out++ = w.bytes[i];
            advance(c);
            return true;
        }
        const char* ascii =
            options.policy == LossPolicy::kTransliterate ? transliteration_of(c) : nullptr;
        const TargetByte t{'?', false, w.size != 0 ? w.nearest : char32_t('?')};
        if (counted_again() && tally->count_again_loss(c)) {
            ++*problem_count;
        } else if (!report_loss(c, at, t, ascii)) {
            return false;
        }
        if (ascii != nullptr) {
            for (; *ascii != '\0'; ++ascii) {
                const ByteSpelling a = codec_spelling(char32_t(*ascii));
                if (a.exact) {
                    for (int i = 0; i < a.size; ++i) *out++ = a.bytes[i];
                } else {
                    *out++ = '?';
                }
            }
        } else if (w.size != 0) {
            for (int i = 0; i < w.size; ++i) *out++ = w.bytes[i];
        } else {
            *out++ = '?';
        }
        advance(c);
        return true;
    }

    // How the byte-encoding target writes c.
    ByteSpelling codec_spelling(char32_t c) const {
        const ByteCodec& codec = byte_codec(options.to);
        const ByteSpelling w = spelling_of(codec, c);
        if (w.size == 0 && (options.to == kCp1258 || options.to == kVn1))
            return spelled_with_tone(codec, c);
        return w;
    }

    // Windows-1258 and VN1 write a character they have no byte for as the byte of its
    // canonical decomposition without a last tone mark, then the tone's byte, as glibc does
    // (s with acute: "s" and the acute's byte).
    ByteSpelling spelled_with_tone(const ByteCodec& codec, char32_t c) const {
        ByteSpelling w;
        utf8proc_int32_t d[8];
        const utf8proc_ssize_t n =
            utf8proc_decompose_char(utf8proc_int32_t(c), d, 8, UTF8PROC_DECOMPOSE, nullptr);
        if (n < 2 || n > 8) return w;
        const auto& tones = options.to == kCp1258 ? cp1258_tone_bytes : vn1_tone_bytes;
        int tone = -1;
        for (std::size_t t = 0; t < combining_tones.size(); ++t)
            if (char32_t(d[n - 1]) == combining_tones[t]) tone = int(t);
        if (tone < 0) return w;
        utf8proc_int32_t rest[8];
        std::copy(d, d + n - 1, rest);
        utf8proc_ssize_t m = n - 1;
        if (m > 1) m = utf8proc_normalize_utf32(rest, m, UTF8PROC_COMPOSE);
        if (m == 1) {
            if (const int b = single_byte_of(codec, char32_t(rest[0])); b >= 0) {
                w.size = 2;
                w.bytes[0] = static_cast<unsigned char>(b);
                w.bytes[1] = tones[std::size_t(tone)];
                w.exact = true;
                return w;
            }
        }
        // Else fully decomposed, where each mark is a tone with a byte: O with tilde and acute
        // as "O", the tilde's byte and the acute's (glibc writes O with acute and the tilde,
        // which reads back as another character).
        if (n > 3) return w;
        const int base = single_byte_of(codec, char32_t(d[0]));
        if (base < 0) return w;
        w.bytes[0] = static_cast<unsigned char>(base);
        for (utf8proc_ssize_t k = 1; k < n; ++k) {
            int mark = -1;
            for (std::size_t t = 0; t < combining_tones.size(); ++t)
                if (char32_t(d[k]) == combining_tones[t]) mark = int(t);
            if (mark < 0) return ByteSpelling{};
            w.bytes[k] = tones[std::size_t(mark)];
        }
        w.size = std::uint8_t(n);
        w.exact = true;
        return w;
    }

    // ---- Sources beyond the first twelve formats: decoded into characters for take().

    // A byte encoding: a byte alone, or a base byte and the mark byte after it (by longest
    // match: a base waits for the next byte).
    // Reads through codec_tables from in[i] while each character is settled by its own bytes
    // (codec_units_run): nothing pending or held, no problem, nothing after it that joins
    // it. Returns where the character by character path must go on.
    std::size_t codec_run(const unsigned char* in, std::size_t i, std::size_t n) {
        const RunEnd r = codec_units_run(*codec_tables, in, i, n, out);
        out = r.written;
        add_positions(r);
        return r.next;
    }

    // Where codec_run stopped at a problem: the run from in[i] of single bytes that are
    // problems met before in the input (undefined bytes, or characters the target lacks), that
    // make no two-byte spelling with the byte after them
    // and that nothing after them joins, each counted and written as its replacement, as
    // emit() and undefined() would without a report. Returns where it stopped.
    std::size_t take_codec_problems(const unsigned char* in, std::size_t i, std::size_t n) {
        if (!counted_again()) return i;
        const CodecTables& c = *codec_tables;
        Tally& t = *tally;
        for (; i + 1 < n; ++i) {
            const unsigned char b = in[i];
            const unsigned char next = in[i + 1];
            if (!codec_bulk[b] || c.joins[next] ||
                c.spells[b][c.takes_second[b] ? c.second_slot[next] : 0])
                break;
            const char32_t ch = byte_codec(options.from).single[b];
            std::uint64_t* const count =
                ch == kNoCharacter ? t.single_byte_count(b) : t.loss_count(ch);
            if (count == nullptr) break;
            ++*count;
            ++*problem_count;
            const ByteUnit& r = codec_replacements[b];
            std::memcpy(out, &r, sizeof r);
            out += r.size;
            ++column;
        }
        return i;
    }

    void convert_codec_source(const unsigned char* in, std::size_t n) {
        const ByteCodec& codec = byte_codec(options.from);
        // A character that nothing after it can join goes straight to the target: in these
        // encodings only a combining tone byte joins what is before it (Windows-1258, VN1).
        // Into NFD every character goes through normalization, to be decomposed.
        const bool direct = !decomposed();
        auto is_mark = [&codec](unsigned char next) {
            const char32_t m = codec.single[next];
            return m >= 0x300 && m < 0x370;
        };
        for (std::size_t i = 0; i < n; ++i) {
            if (codec_tables && pending_base < 0 && held_size == 0) {
                for (;;) {
                    i = codec_run(in, i, n);
                    if (i >= n) return;
                    const std::size_t j = take_codec_problems(in, i, n);
                    if (j == i) break;
                    i = j;
                    if (i >= n) return;
                }
            }
            const unsigned char b = in[i];
            bool go_on = true;
            if (pending_base >= 0) {
                const auto base = static_cast<unsigned char>(pending_base);
                pending_base = -1;
                const char32_t pair = pair_of(codec, base, b);
                if (pair != kNoCharacter) {
                    if (!pass(pair, pending_at, direct)) {
                        stop_index = i;
                        return;
                    }
                    continue;
                }
                if (!pass(codec.single[base], pending_at, direct)) {
                    stop_index = i;
                    return;
                }
            }
            if (codec.base_index[b] != 0) {
                pending_base = b;
                pending_at = offset + i;
                continue;
            }
            const char32_t c = codec.single[b];
            if (c == kNoCharacter) {
                go_on = flush_held() && undefined(&in[i], 1, offset + i);
            } else {
                go_on = pass(c, offset + i, direct && i + 1 < n && !is_mark(in[i + 1]));
            }
            if (!go_on) {
                stop_index = i;
                return;
            }
        }
    }

    // A character of a byte encoding: written at once where nothing is held and nothing can
    // join it, else through the normalization of combining sequences.
    bool pass(char32_t c, std::uint64_t at, bool direct) {
        if (direct && (c < 0x300 || c >= 0x370)) return flush_held() && emit(c, at);
        return take(c, at);
    }

    bool finish_codec_source() {
        if (pending_base >= 0) {
            const auto base = static_cast<unsigned char>(pending_base);
            pending_base = -1;
            if (!take(byte_codec(options.from).single[base], pending_at)) return false;
        }
        return flush_held();
    }

    // UTF-16: units of two bytes in the order the format says (kUtf16: a byte-order mark at
    // the start, little-endian without one), surrogates paired.
    void convert_utf16(const unsigned char* in, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            if (unit_size == 0) unit_at = offset + i;
            unit_bytes[unit_size++] = in[i];
            if (unit_size < 2) continue;
            unit_size = 0;
            if (!take_unit()) {
                stop_index = i;
                return;
            }
        }
    }

    bool take_unit() {
        if (unit_at == 0 && options.from == kUtf16) {
            big_endian = unit_bytes[0] == 0xFE && unit_bytes[1] == 0xFF;
            if (big_endian || (unit_bytes[0] == 0xFF && unit_bytes[1] == 0xFE)) return true;
        }
        const char32_t u = big_endian ? char32_t(unit_bytes[0]) << 8 | unit_bytes[1]
                                      : char32_t(unit_bytes[1]) << 8 | unit_bytes[0];
        if (high_surrogate != 0) {
            const char32_t high = high_surrogate;
            high_surrogate = 0;
            if (u >= 0xDC00 && u <= 0xDFFF)
                return take(0x10000 + ((high - 0xD800) << 10) + (u - 0xDC00), high_at);
            if (!flush_held() || !undefined(high_bytes, 2, high_at)) return false;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            high_surrogate = u;
            high_at = unit_at;
            high_bytes[0] = unit_bytes[0];
            high_bytes[1] = unit_bytes[1];
            return true;
        }
        if (u >= 0xDC00 && u <= 0xDFFF) return flush_held() && undefined(unit_bytes, 2, unit_at);
        return take(u, unit_at);
    }

    bool finish_utf16() {
        if (high_surrogate != 0) {
            high_surrogate = 0;
            if (!flush_held() || !undefined(high_bytes, 2, high_at)) return false;
        }
        if (unit_size != 0) {
            unit_size = 0;
            if (!flush_held() || !undefined(unit_bytes, 1, unit_at)) return false;
        }
        return flush_held();
    }

    // References: ASCII, with "&#N;" and "&#xH;" read as the character they name. Anything
    // else that begins with "&" (a malformed reference, one out of range) is left as it is.

    void convert_references(const unsigned char* in, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char b = in[i];
            bool go_on = true;
            if (reference_size > 0) {
                reference[reference_size++] = b;
                const int state = reference_state();
                if (state > 0) {
                    reference_size = 0;
                    go_on = take(char32_t(state), reference_at);
                } else if (state < 0) {
                    // Not a reference: its bytes as they are, and this byte anew.
                    --reference_size;
                    go_on = literal_reference();
                    --i;
                }
            } else if (b == '&') {
                reference[0] = b;
                reference_size = 1;
                reference_at = offset + i;
            } else if (b >= 0x80) {
                go_on = flush_held() && undefined(&in[i], 1, offset + i);
            } else {
                go_on = take(b, offset + i);
            }
            if (!go_on) {
                stop_index = i;
                return;
            }
        }
    }

    // What the reference held so far is: the code point it names once complete (> 0), 0
    // while it may still become one, -1 when it cannot.
    int reference_state() const {
        const unsigned char* r = reference;
        const int n = reference_size;
        if (n >= 2 && r[1] != '#') return -1;
        const bool hex = n >= 3 && (r[2] == 'x' || r[2] == 'X');
        const int first = hex ? 3 : 2;
        std::uint32_t value = 0;
        for (int k = first; k < n; ++k) {
            const unsigned char c = r[k];
            int digit = -1;
            if (c >= '0' && c <= '9') digit = c - '0';
            if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            if (c == ';' && k == n - 1 && k > first) {
                const bool valid =
                    value != 0 && value <= 0x10FFFF && (value < 0xD800 || value > 0xDFFF);
                return valid ? int(value) : -1;
            }
            if (digit < 0) return -1;
            value = value * (hex ? 16 : 10) + std::uint32_t(digit);
            if (value > 0x10FFFF) return -1;
        }
        return n >= kLongestReference ? -1 : 0;
    }

    // The bytes of a reference that is none, each its ASCII character.
    bool literal_reference() {
        const int size = reference_size;
        reference_size = 0;
        for (int k = 0; k < size; ++k)
            if (!take(reference[k], reference_at + std::uint64_t(k))) return false;
        return true;
    }

    bool finish_references() { return literal_reference() && flush_held(); }

    // An 8-bit source into a target the byte tables do not serve: character by character.
    void convert_8bit_by_character(const unsigned char* in, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const char32_t c = source_chars[std::size_t(options.from)][in[i]];
            const bool go_on =
                c == kNoChar ? undefined(&in[i], 1, offset + i) : emit(c, offset + i);
            if (!go_on) {
                stop_index = i;
                return;
            }
        }
    }

    // ---- 8-bit sources: one table lookup per byte; problems one at a time under kRefuse,
    // in bulk otherwise.
    void convert_8bit(const unsigned char* in, std::size_t n) {
        if (options.policy != LossPolicy::kRefuse) {
            for (std::size_t i = 0; i < n;) {
                i = write_bytes(in, i, n);
                if (i < n) i = take_problems(in, i, n);
            }
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            i = write_bytes(in, i, n);
            if (i == n) return;
            const unsigned char b = in[i];
            const char32_t c = source_chars[std::size_t(options.from)][b];
            const bool go_on =
                c == kNoChar ? undefined(&in[i], 1, offset + i) : emit(c, offset + i);
            if (!go_on) {
                stop_index = i;
                return;
            }
        }
    }

    // From a problem on, up to kTolerantRun bytes one at a time through tolerant_units,
    // whatever they are, so that text thick with problems costs a few instructions a byte.
    // Their problems are counted in bulk; each byte's first occurrence as a problem in the
    // input is placed exactly, for the first problem and the tally. Returns where it stopped.
    std::size_t take_problems(const unsigned char* in, std::size_t i, std::size_t n) {
        Tally& t = tally_of();
        std::size_t end = std::min(n, i + kTolerantRun);
        unsigned char* w = out;
        if (to_viqr()) {
            // One byte each, staged (units write 8 bytes: the stage has 16 to spare).
            if (staged >= kStageRoom) flush_stage();
            end = std::min(end, i + (kStageRoom - staged));
            w = stage + staged;
        }
        std::uint64_t problems = 0;
        unsigned fresh = 0;
        for (std::size_t k = i; k < end; ++k) {
            const unsigned char b = in[k];
            const ByteUnit& u = tolerant_units[b];
            std::memcpy(w, &u, sizeof u);
            w += u.size;
            problems += u.problem;
            t.byte_hits[b] += u.problem;
            fresh |= unmet[b];
        }
        if (fresh != 0) note_first_occurrences(in, i, end);
        *problem_count += problems;
        sync(w);
        count_positions(in + i, end - i);
        return end;
    }

    // Places the first occurrence of each problem byte in in[i..end) that the input had not
    // met before (lines and columns as they stood at i). At most 256 calls an input.
    void note_first_occurrences(const unsigned char* in, std::size_t i, std::size_t end) {
        Tally& t = *tally;
        bool first = *problem_count == 0;
        std::uint64_t line = lines;
        std::size_t line_start = i;
        bool new_line = false;
        for (std::size_t k = i; k < end; ++k) {
            const unsigned char b = in[k];
            if (unmet[b] != 0) {
                unmet[b] = 0;
                Problem p = byte_problem(b);
                p.offset = offset + k;
                p.line = line + 1;
                p.column = (new_line ? k - line_start : column + (k - i)) + 1;
                if (first) *first_problem = p;
                first = false;
                t.byte_entry[b] = t.entry_of(p);
            }
            if (b == '\n') {
                ++line;
                line_start = k + 1;
                new_line = true;
            }
        }
    }

    // The problem that byte b of an 8-bit source is, but for its place: as emit() and
    // undefined() report it. (No character of an 8-bit source has a transliteration.)
    Problem byte_problem(unsigned char b) const {
        Problem p;
        const char32_t c = source_chars[std::size_t(options.from)][b];
        if (c == kNoChar) {
            p.kind = Problem::Kind::kUndefined;
            p.bytes[0] = b;
            p.byte_count = 1;
            p.replacement[0] = to_utf8() ? kReplacementCharacter : char32_t('?');
        } else {
            p.kind = Problem::Kind::kLoss;
            p.character = c;
            p.replacement[0] = target_byte(byte_target(), c).nearest;
        }
        p.replacement_size = 1;
        return p;
    }

    // Writes the bytes in[i..end) of the table's source (an 8-bit format, or VISCII from the
    // VIQR decoder) through the byte tables, up to the first that is a problem, and counts
    // their lines and columns; returns where it stopped.
    std::size_t write_bytes(const unsigned char* in, std::size_t i, std::size_t end) {
        if (to_viqr() && source_is_viscii) {
            // VISCII already: encoded where it stands, after what the stage holds.
            flush_stage();
            out += viqr_encode_run(in + i, end - i, previous, out, kEscape);
            if (end > i) previous = in[end - 1];
            count_positions(in + i, end - i);
            return end;
        }
        while (i < end) {
            std::size_t stop = end;
            unsigned char* w = out;
            if (to_viqr()) {
                if (staged >= kStageRoom) flush_stage();
                stop = std::min(end, i + (kStageRoom - staged));
                w = stage + staged;
            }
            if (options.to == kUtf8 && !options.nfd && units_pass_ascii) {
                // Never staged: one run to the end, or to a problem.
                const RunEnd r = expand_units(run_tables, in, i, end, w);
                sync(r.written);
                add_positions(r);
                return r.next;
            }
            const std::size_t run_start = i;
            if (options.to == kUtf8 && !options.nfd) {
                i = put_short_units(in, i, stop, w);
            } else if (options.to == kUtf8) {
                for (; i < stop; ++i) {
                    const ByteUnit& u = units[in[i]];
                    if (u.problem) break;
                    std::memcpy(w, &u, sizeof u);
                    w += u.size;
                }
            } else if (!to_viqr()) {
                i = map_blocks(in, i, stop, w);
                w += i - run_start;
            } else {
                i = map_bytes(in, i, stop, w);
                w += i - run_start;
            }
            sync(w);
            count_positions(in + run_start, i - run_start);
            if (i < stop) return i;
        }
        return i;
    }

    // Units of up to three bytes (UTF-8, composed), stored four bytes at a time with the
    // length in the fourth; blocks are checked for problems at once. Returns where the first
    // problem is, or `end`, and moves w past what it wrote.
    std::size_t put_short_units(const unsigned char* in, std::size_t i, std::size_t end,
                                unsigned char*& w) const {
        constexpr std::size_t kBlock = 16;
        while (i + kBlock <= end) {
            std::uint32_t problems = 0;
            unsigned char* const block_start = w;
#pragma GCC unroll 16
            for (std::size_t k = 0; k < kBlock; ++k) {
                const std::uint32_t u = short_units[in[i + k]];
                std::memcpy(w, &u, 4);
                w += (u >> 24) & 3;  // a problem unit advances by 0: it is rewritten
                problems |= u;
            }
            if ((problems & kShortProblem) != 0) {
                w = block_start;
                break;
            }
            i += kBlock;
        }
        for (; i < end; ++i) {
            const std::uint32_t u = short_units[in[i]];
            if ((u & kShortProblem) != 0) break;
            std::memcpy(w, &u, 4);
            w += u >> 24;
        }
        return i;
    }

    // One byte for each byte, in vectors. Problem bytes map to the sentinel, a value that no
    // exact byte becomes, so the first sentinel in the output is the first problem. Where
    // one problem was, the next may be near: the first block is small and each clean one
    // doubles the next, so that text thick with problems is not mapped far ahead again and
    // again. Returns where the first problem is, or `end`.
    std::size_t map_blocks(const unsigned char* in, std::size_t i, std::size_t end,
                           unsigned char* w) {
        unsigned char* const start = w - i;
        std::size_t block = kFirstVectorBlock;
        while (i < end) {
            const std::size_t m = std::min(end - i, block);
            map_into(target_map, target_plan, in + i, start + i, m);
            if (tables_can_fail) {
                const void* problem = std::memchr(start + i, sentinel, m);
                if (problem != nullptr)
                    return std::size_t(static_cast<const unsigned char*>(problem) - start);
            }
            i += m;
            block = std::min(2 * block, kVectorBlock);
        }
        return i;
    }

    // One byte for each byte, in blocks checked for problems at once; returns where the
    // first problem is, or `end`.
    std::size_t map_bytes(const unsigned char* in, std::size_t i, std::size_t end,
                          unsigned char* w) const {
        constexpr std::size_t kBlock = 64;
        const unsigned char* start = in + i;
        while (i + kBlock <= end) {
            std::uint16_t problems = 0;
#pragma GCC unroll 8
            for (std::size_t k = 0; k < kBlock; ++k) {
                const std::uint16_t e = byte_map[in[i + k]];
                w[in + i + k - start] = static_cast<unsigned char>(e);
                problems |= e;
            }
            if ((problems & kProblemBit) != 0) break;
            i += kBlock;
        }
        for (; i < end; ++i) {
            const std::uint16_t e = byte_map[in[i]];
            if ((e & kProblemBit) != 0) break;
            w[in + i - start] = static_cast<unsigned char>(e);
        }
        return i;
    }

    // Lines and columns after a run of bytes of an 8-bit source, one character each.
    void count_positions(const unsigned char* run, std::size_t n) {
        if (never_fails) return;  // no problem will need them
        const unsigned char* last = run + n;
        const auto* newline = static_cast<const unsigned char*>(memrchr(run, '\n', n));
        if (newline == nullptr) {
            column += n;
            return;
        }
        lines += count_newlines(run, std::size_t(newline - run) + 1);
        column = std::uint64_t(last - newline - 1);
    }

    // ---- VIQR sources: through a decoder context of the dialogue's configuration.
    // Text is decoded ahead a window at a time, up to its last blank or line feed (after
    // which no letter is held), and written through the byte tables as VISCII. A window that
    // holds a problem, or a control byte that VISCII reads as a letter, is decoded again
    // byte by byte from the context as it was, to place each character exactly. Where no
    // letter can be a problem, where a held letter began never matters: a window without a
    // blank is decoded ahead whole.
    void convert_viqr(const unsigned char* in, std::size_t n) {
        std::size_t i = 0;
        while (i < n) {
            const std::size_t window = std::min(n - i, kViqrWindow);
            std::size_t end = i + window;
            while (end > i && in[end - 1] != ' ' && in[end - 1] != '\n') --end;
            if (end == i && !tables_can_fail) end = i + window;
            if (end > i && decode_ahead(in + i, end - i)) {
                i = end;
                continue;
            }
            if (end == i) end = i + window;
            if (!decode_slowly(in, i, end)) return;
            i = end;
        }
    }

    // Decodes and writes a window when nothing in it needs a place; false (with the context
    // as it was) otherwise.
    bool decode_ahead(const unsigned char* in, std::size_t n) {
        if (has_viscii_control_letter(in, n)) return false;
        viqr_snapshot before;
        viqr_save(viqr_ctx, &before);
        // Into VISCII, what the decoder writes is the output.
        const bool direct = options.to == kViscii;
        unsigned char* const dest = direct ? out : decoded;
        const std::size_t m = viqr_decode_run(viqr_ctx, in, n, dest);
        int state = VIQR_MODE_COMPOSE;
        viqr_get(viqr_ctx, &state, VIQR_STATE);
        std::uint16_t problems = 0;
        if (tables_can_fail)
            for (std::size_t k = 0; k < m; ++k) problems |= byte_map[dest[k]];
        if ((problems & kProblemBit) != 0) {
            viqr_restore(viqr_ctx, &before);
            return false;
        }
        decoder_state = state;
        if (direct) {
            count_positions(dest, m);
            out += m;
        } else {
            write_bytes(decoded, 0, m);
        }
        return true;
    }

    bool decode_slowly(const unsigned char* in, std::size_t from, std::size_t n) {
        for (std::size_t i = from; i < n; ++i) {
            const unsigned char b = in[i];
            const bool was_holding = decoder_state == VIQR_HOLDING;
            unsigned char out2[2];
            int count = 0;
            const int state = viqr_step(viqr_ctx, b, out2, &count);
            decoder_state = state;
            if (!emit_decoded(out2, count, was_holding, is_viscii_control_letter(b), offset + i)) {
                stop_index = i;
                return false;
            }
            if (state == VIQR_HOLDING && (!was_holding || count > 0)) hold_start = offset + i;
        }
        return true;
    }

    // The bytes one decoder step wrote. A step from a held letter writes that letter first;
    // everything else it writes stands at the byte read.
    bool emit_decoded(const unsigned char* decoded, int count, bool was_holding, bool control_last,
                      std::uint64_t at) {
        for (int j = 0; j < count; ++j) {
            const bool raw = control_last && j == count - 1;
            if (!raw && !to_utf8() && classic_target()) {
                // The byte tables first: one lookup where the target writes it exactly.
                const std::uint16_t e = byte_map[decoded[j]];
                if ((e & kProblemBit) == 0) {
                    put_byte(static_cast<unsigned char>(e));
                    advance(decoded[j]);
                    continue;
                }
            }
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
    static constexpr std::size_t kFastRunWorthIt = 32;
    static constexpr std::size_t kMaxLeadBackoff = 1024;

    void convert_utf8(const unsigned char* in, std::size_t n) {
        const bool fast = (!(to_utf8() && options.nfd) && classic_target() && !options.composite) ||
                          spelled_target();
        const RunTarget target = to_utf8()          ? RunTarget::kUtf8
                                 : to_viqr()        ? RunTarget::kStaged
                                 : spelled_target() ? RunTarget::kSpelled
                                                    : RunTarget::kBytes;
        // Where the fast loop is next tried at a letter's lead byte: after a call that took
        // little, the next tries wait twice as long, so that text thick with other characters
        // does not pay for a call at each such byte. ASCII always tries.
        std::size_t next_lead_try = 0;
        std::size_t lead_backoff = 0;
        for (std::size_t i = 0; i < n; ++i) {
            // An ASCII byte shows that nothing joins what is held: write it, and go fast. (Only
            // from a byte that can begin what the fast loop takes: in text thick with other
            // bytes, a call for each would cost more than it saves.)
            if (fast &&
                (in[i] < 0x80 ||
                 (i >= next_lead_try && held_size == 0 && starts_fast_run(in[i]))) &&
                partial_length == 0) {
                if (!flush_held()) {
                    stop_index = i;
                    return;
                }
                const std::size_t from = i;
                i = fast_utf8(target, in, i, n);
                if (i >= n) return;
                if (i - from >= kFastRunWorthIt) {
                    lead_backoff = 0;
                } else {
                    lead_backoff = std::min<std::size_t>(lead_backoff * 2 + 8, kMaxLeadBackoff);
                    next_lead_try = i + lead_backoff;
                }
            }
            const unsigned char b = in[i];
            bool go_on = true;
            if (partial_length == 0) {
                if (b < 0x80) {
                    go_on = take(b, offset + i);
                } else {
                    const Lead lead = lead_of(b);
                    if (lead.length == 0) {
                        go_on = flush_held() && undefined(&in[i], 1, offset + i);
                        if (go_on) i = take_strays(in, i + 1, n) - 1;
                    } else if (i + lead.length <= n) {
                        // All of it in the piece: decoded, or its maximal subpart found, here.
                        std::size_t k = 1;
                        if (in[i + 1] >= lead.low && in[i + 1] <= lead.high)
                            for (k = 2; k < lead.length && (in[i + k] & 0xC0) == 0x80;) ++k;
                        if (k == lead.length) {
                            char32_t c = b & (0x7F >> k);
                            for (std::size_t j = 1; j < k; ++j) c = (c << 6) | (in[i + j] & 0x3F);
                            go_on = take(c, offset + i);
                        } else {
                            go_on = flush_held() && undefined(&in[i], int(k), offset + i);
                        }
                        i += k - 1;
                        if (go_on && k < lead.length) i = take_strays(in, i + 1, n) - 1;
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

    // Whether in[0..4) begins a well-formed character that may join the one before it.
    bool begins_joiner(const unsigned char* in) {
        const unsigned char b = in[0];
        if (b < 0xCC) return false;  // ASCII, continuation bytes, and below U+0300
        const Lead lead = lead_of(b);
        if (lead.length == 0 || in[1] < lead.low || in[1] > lead.high) return false;
        char32_t c = b & (0x7F >> lead.length);
        for (std::size_t k = 1; k < lead.length; ++k) {
            if ((in[k] & 0xC0) != 0x80) return false;
            c = (c << 6) | (in[k] & 0x3F);
        }
        return normalization->continues(c);
    }

    // After undefined input, with nothing held: the run from in[i] of bytes that are each
    // undefined alone (no lead byte, or a lead whose next byte cannot follow it) and met
    // before in the input, counted and replaced as undefined() would without a report, and of
    // characters of two or three bytes that nothing after them joins and that are their own
    // normal form: each written at once as flush_held() would write it alone. Where a report may
    // stop the conversion (kRefuse), and at a byte met for the first time, the run ends at once.
    // Returns where it stopped.
    std::size_t take_strays(const unsigned char* in, std::size_t i, std::size_t n) {
        if (!counted_again() || to_viqr() || (to_unicode() && !to_utf8())) return i;
        Tally& t = *tally;
        // The replacement, written four bytes at a time.
        const std::uint32_t replacement = to_utf8() ? 0xBDBFEF : '?';
        const std::size_t replacement_size = to_utf8() ? 3 : 1;
        const bool nfd = decomposed();
        const bool bytes_direct = classic_target() && !to_utf8() && !options.composite;
        const bool translit = options.policy == LossPolicy::kTransliterate;
        // Every read below stays within the text: the last bytes go the general way.
        const std::size_t end = n > 8 ? n - 8 : 0;
        while (i < end) {
            const unsigned char b = in[i];
            const Lead lead = lead_of(b);
            const unsigned char next = in[i + 1];
            // Undefined alone: a byte that begins nothing, or a lead that the byte after it
            // cannot follow. Found without branches: in hostile text either is as likely.
            const bool stray =
                (b >= 0x80) & ((lead.length == 0) | (next < lead.low) | (next > lead.high));
            if (stray) {
                std::uint64_t* const count = t.single_byte_count(b);
                if (count == nullptr) break;
                ++*count;
                ++*problem_count;
                std::memcpy(out, &replacement, 4);
                out += replacement_size;
                ++column;
                ++i;
                continue;
            }
            if (b < 0x80) break;
            // A character that nothing after it joins.
            const std::size_t length = lead.length;
            if (length == 4 || (length == 3 && (in[i + 2] & 0xC0) != 0x80) ||
                begins_joiner(in + i + length))
                break;
            char32_t c = b & (0x7F >> length);
            for (std::size_t j = 1; j < length; ++j) c = (c << 6) | (in[i + j] & 0x3F);
            if (!(letter_position(c) >= 0 || (!nfd && c < 0x300) || !normalization->decomposes_(c)))
                break;
            if (bytes_direct) {
                // Into an 8-bit format: its byte, or a loss of no letter met before, "?".
                const std::uint16_t byte =
                    c < 0x300 ? low_targets[c]
                    : c >= detail::kAdditionalFirst && c < detail::kAdditionalEnd
                        ? additional_targets[c - detail::kAdditionalFirst]
                        : kSlowChar;
                if (byte != kSlowChar) {
                    *out++ = static_cast<unsigned char>(byte);
                    ++column;
                    i += length;
                    continue;
                }
                if (letter_position(c) < 0 && (!translit || transliteration_of(c) == nullptr)) {
                    if (std::uint64_t* const count = t.loss_count(c); count != nullptr) {
                        ++*count;
                        ++*problem_count;
                        *out++ = '?';
                        ++column;
                        i += length;
                        continue;
                    }
                }
            }
            if (!emit(c, offset + i)) break;  // not expected: no policy here refuses
            i += length;
        }
        return i;
    }

    // The common case of a UTF-8 source (utf8_run); returns where the general path goes on.
    std::size_t fast_utf8(RunTarget target, const unsigned char* in, std::size_t i, std::size_t n) {
        unsigned char* w = target == RunTarget::kStaged ? stage + staged : out;
        const RunEnd r = utf8_run(target, run_tables, in, i, n, w, stage + kStageRoom);
        add_positions(r);
        sync(r.written);
        return r.next;
    }

    // Lines and columns after a fast loop.
    void add_positions(const RunEnd& r) {
        if (r.lines == 0) {
            column += r.column;
        } else {
            lines += r.lines;
            column = r.column;
        }
    }

    // Takes back the write cursor of a fast loop.
    void sync(unsigned char* w) {
        if (to_viqr()) {
            staged = std::size_t(w - stage);
            if (staged >= kStageRoom) flush_stage();
        } else {
            out = w;
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
        if (held_size > 0 && c >= 0x300 && normalization->continues(c)) {
            // Counted in decomposed code points, as the Stream-Safe Text Format counts, so
            // that the pieces are the same whatever form the text came in: written in NFD or
            // the composite form and read again, a sequence splits where it split before.
            const int length = decomposed_length(c);
            if (held_size < kMaxHeld && held_length + length <= kMaxHeld) {
                held[held_size] = c;
                held_offset[held_size++] = at;
                held_length += length;
                return true;
            }
            // A sequence too long to hold: the joiner, a starter, keeps the pieces apart in
            // the normal form. It stands for nothing in the input.
            if (!flush_held()) return false;
            if (to_unicode()) put_unicode(kGraphemeJoiner);
            // The joiner counts as the start of the next piece, as it is when the output is
            // read again: the pieces stay the same.
            held[0] = c;
            held_offset[0] = at;
            held_size = 1;
            held_length = 1 + decomposed_length(c);
            return true;
        }
        if (!flush_held()) return false;
        held[0] = c;
        held_offset[0] = at;
        held_size = 1;
        held_length = decomposed_length(c);
        return true;
    }

    // How many code points c is in NFD.
    int decomposed_length(char32_t c) {
        if (c < 0xC0) return 1;
        if (const int p = letter_position(c); p >= 0)
            return letter_decompositions[std::size_t(p)].size;
        return normalization->decomposed_length(c);
    }

    // Writes the held combining sequence in the target's normal form.
    bool flush_held() {
        return held_size == 0 || flush_held_sequence();
    }

    bool flush_held_sequence() {
        const int size = held_size;
        held_size = 0;
        const char32_t first = held[0];
        // ASCII and the letters are their own normal forms (decomposed by emit for NFD), as
        // is anything below U+0300 in NFC.
        const bool nfd = decomposed();
        if (size == 1 && (first < 0x80 || letter_position(first) >= 0 || (!nfd && first < 0x300)))
            return emit(first, held_offset[0]);
        // So is any other character alone that has no canonical decomposition.
        if (size == 1 && !normalization->decomposes_(first)) return emit(first, held_offset[0]);
        // A letter written fully decomposed, its marks in canonical order.
        if (size <= 3) {
            const int p = letter_of_decomposition(first, held[1], size == 3 ? held[2] : 0);
            if (p >= 0) return emit(letter_code_points[std::size_t(p)], held_offset[0]);
        }
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

// Whether each printable ASCII byte of t is a character alone that is itself in the target,
// as codec_units_run's vectors need.
bool printable_ascii_alone(const CodecTables& t) {
    for (int b = 0x20; b < 0x80; ++b) {
        const ByteUnit& u = t.units[std::size_t(b)];
        if (u.problem || u.size != 1 || u.bytes[0] != b || t.second_slot[std::size_t(b)] != 0 ||
            t.joins[std::size_t(b)])
            return false;
    }
    return true;
}

// The units of a byte encoding with two-byte spellings or combining bytes in target `to`.
std::unique_ptr<CodecTables> codec_tables_for(int from, int to) {
    const ByteCodec& codec = byte_codec(from);
    auto t = std::make_unique<CodecTables>();
    ByteUnit none{};
    none.problem = 1;
    for (auto& row : t->pairs) row.fill(none);
    for (int b = 0; b < 256; ++b) {
        const char32_t c = codec.single[std::size_t(b)];
        t->units[std::size_t(b)] = byte_unit(from, to, false, static_cast<unsigned char>(b));
        t->joins[std::size_t(b)] = c != kNoCharacter && c >= 0x300 && c < 0x370;
    }
    t->has_joins = std::any_of(t->joins.begin(), t->joins.end(), [](bool j) { return j; });
    if (codec.has_pairs) {
        for (int b = 0; b < 256; ++b) {
            t->takes_second[std::size_t(b)] = codec.base_index[std::size_t(b)] != 0;
            t->second_slot[std::size_t(b)] = codec.mark_index[std::size_t(b)];
        }
        for (int base = 0; base < 256; ++base) {
            if (!t->takes_second[std::size_t(base)]) continue;
            for (int mark = 0; mark < 256; ++mark) {
                const std::uint8_t slot = codec.mark_index[std::size_t(mark)];
                if (slot == 0) continue;
                const char32_t c = pair_of(codec, static_cast<unsigned char>(base),
                                           static_cast<unsigned char>(mark));
                if (c == kNoCharacter) continue;
                t->pairs[std::size_t(base)][slot] = char_unit(to, false, c);
                t->spells[std::size_t(base)][slot] = true;
            }
        }
        t->ascii_alone = printable_ascii_alone(*t);
        return t;
    }
    // Combining tone bytes: a character and the tone after it, composed where that makes one
    // character (as the normalization of combining sequences would).
    for (std::size_t k = 0; k < combining_tones.size(); ++k) {
        const int tone = single_byte_of(codec, combining_tones[k]);
        if (tone >= 0) t->second_slot[std::size_t(tone)] = std::uint8_t(k + 1);
    }
    for (int b = 0; b < 256; ++b) {
        const char32_t c = codec.single[std::size_t(b)];
        if (c == kNoCharacter || t->joins[std::size_t(b)]) continue;
        t->takes_second[std::size_t(b)] = true;
        for (std::size_t k = 0; k < combining_tones.size(); ++k) {
            // A letter from the letter table; any other pair that composes as it stands.
            char32_t composed = letter_with_tone(c, combining_tones[k]);
            if (composed == kNoCharacter) {
                utf8proc_int32_t pair[2] = {utf8proc_int32_t(c),
                                            utf8proc_int32_t(combining_tones[k])};
                if (utf8proc_normalize_utf32(pair, 2, UTF8PROC_COMPOSE) != 1) continue;
                composed = char32_t(pair[0]);
            }
            t->pairs[std::size_t(b)][k + 1] = char_unit(to, false, composed);
            t->spells[std::size_t(b)][k + 1] = true;
        }
    }
    t->ascii_alone = printable_ascii_alone(*t);
    return t;
}

Converter::Converter(const ConvertOptions& options)
    : options_(options), state_(std::make_unique<State>()) {
    State& s = *state_;
    s.options = options;
    s.problem_count = &problem_count_;
    s.first_problem = &first_problem_;
    if (!is_convert_format(options.from) || !is_convert_format(options.to)) return;
    if ((options.nfd || options.composite) && !is_unicode_format(options.to)) return;
    if (options.nfd && options.composite) return;
    s.growth = growth_of(options);
    if (options.to != kUtf8 && (options.to < kTcvn3 || one_byte_codec(options.to))) {
        const int t = options.to == kViqr ? kViscii : options.to;
        auto fast = [&](char32_t c) -> std::uint16_t {
            const TargetByte tb = target_byte(t, c);
            return tb.exact ? tb.byte : kSlowChar;
        };
        for (char32_t c = 0; c < 0x300; ++c) s.low_targets[c] = fast(c);
        bool passes = true;
        for (char32_t c = 0x20; c < 0x80; ++c) passes = passes && s.low_targets[c] == c;
        if (options.from == kUtf8) s.ascii_passes = passes;
        for (char32_t c = detail::kAdditionalFirst; c < detail::kAdditionalEnd; ++c)
            s.additional_targets[c - detail::kAdditionalFirst] = fast(c);
    } else if (options.from == kUtf8 && is_byte_codec(options.to)) {
        const SpelledTargets& spelled = spelled_target(options.to);
        s.run_tables.low_spellings = spelled.low.data();
        s.run_tables.additional_spellings = spelled.additional.data();
        bool passes = true;
        for (std::uint32_t c = 0x20; c < 0x80; ++c)
            passes = passes && spelled.low[c] == (c | 1u << 24);
        s.ascii_passes = passes;
    } else if (options.from == kUtf8) {
        s.ascii_passes = true;
    }
    s.run_tables.low_targets = s.low_targets.data();
    s.run_tables.additional_targets = s.additional_targets.data();
    s.run_tables.ascii_passes = s.ascii_passes;
    s.run_tables.short_units = s.short_units.data();
    const bool eight_bit = options.from < kViqr || one_byte_codec(options.from);
    const bool tables_serve =
        (options.to < kTcvn3 || one_byte_codec(options.to)) && !options.composite;
    if ((eight_bit || options.from == kViqr) && !tables_serve) {
        // Only the character by character paths serve these targets (and the composite form).
        s.byte_map.fill(State::kProblemBit);
    } else if (eight_bit || options.from == kViqr) {
        // A VIQR source writes through the tables of VISCII, what its decoder gives.
        const int source = options.from == kViqr ? kViscii : options.from;
        for (int b = 0; b < 256; ++b) {
            const ByteUnit u = byte_unit(source, options.to, options.nfd, b);
            s.units[std::size_t(b)] = u;
            s.short_units[std::size_t(b)] =
                u.problem || u.size > 3
                    ? kShortProblem
                    : std::uint32_t(u.bytes[0]) | std::uint32_t(u.bytes[1]) << 8 |
                          std::uint32_t(u.bytes[2]) << 16 | std::uint32_t(u.size) << 24;
            s.byte_map[std::size_t(b)] = u.problem ? State::kProblemBit : u.bytes[0];
            s.target_map[std::size_t(b)] = u.problem ? static_cast<unsigned char>(b) : u.bytes[0];
            ByteUnit tolerant = u;
            if (u.problem && source_chars[std::size_t(source)][std::size_t(b)] == kNoChar)
                tolerant.size = std::uint8_t(options.to == kUtf8
                                                 ? put_utf8(kReplacementCharacter, tolerant.bytes)
                                                 : put_utf8('?', tolerant.bytes));
            s.tolerant_units[std::size_t(b)] = tolerant;
            s.unmet[std::size_t(b)] = u.problem;
        }
        s.units_pass_ascii = true;
        for (std::uint32_t b = 0x20; b < 0x80; ++b)
            s.units_pass_ascii = s.units_pass_ascii && s.short_units[b] == (b | 1u << 24);
        s.source_is_viscii = source == kViscii;
        s.tables_can_fail = std::any_of(s.byte_map.begin(), s.byte_map.end(), [](std::uint16_t e) {
            return (e & State::kProblemBit) != 0;
        });
        // Where any byte is a problem, at most 255 exact bytes are written, so some value is
        // written for none of them: it marks the problems.
        std::array<bool, 256> written{};
        for (int b = 0; b < 256; ++b)
            if ((s.byte_map[std::size_t(b)] & State::kProblemBit) == 0)
                written[s.byte_map[std::size_t(b)]] = true;
        s.sentinel =
            int(std::find(written.rbegin(), written.rend(), false).base() - written.begin()) - 1;
        for (int b = 0; b < 256; ++b)
            if ((s.byte_map[std::size_t(b)] & State::kProblemBit) != 0)
                s.target_map[std::size_t(b)] = static_cast<unsigned char>(s.sentinel);
        s.target_plan = nibble_plan(s.target_map);
    }
    s.never_fails = eight_bit && !s.tables_can_fail;
    if (options.from >= kUtf8) s.normalization = std::make_unique<NormalizationBits>();
    if (is_byte_codec(options.from) && !eight_bit && tables_serve && options.to != kViqr &&
        !options.nfd)
        s.codec_tables = codec_tables_for(options.from, options.to);
    s.big_endian = options.from == kUtf16Be;
    if (s.codec_tables) {
        const ByteCodec& codec = byte_codec(options.from);
        for (int b = 0; b < 256; ++b) {
            const CodecTables& t = *s.codec_tables;
            if (!t.units[std::size_t(b)].problem || t.joins[std::size_t(b)]) continue;
            const char32_t c = codec.single[std::size_t(b)];
            ByteUnit& r = s.codec_replacements[std::size_t(b)];
            if (c == kNoCharacter) {
                r.size = std::uint8_t(
                    put_utf8(options.to == kUtf8 ? kReplacementCharacter : char32_t('?'), r.bytes));
            } else if (options.to == kUtf8) {
                continue;  // no loss
            } else if (const char* ascii = transliteration_of(c);
                       ascii != nullptr && options.policy == LossPolicy::kTransliterate) {
                for (; *ascii != '\0'; ++ascii)
                    r.bytes[r.size++] = target_byte(options.to, char32_t(*ascii)).byte;
            } else {
                r.bytes[0] = target_byte(options.to, c).byte;
                r.size = 1;
            }
            s.codec_bulk[std::size_t(b)] = true;
        }
    }
    if (options.from == kViqr) {
        const int ctx = viqr_open_waiting(VIQR_MODE_COMPOSE, kEscape, kErase);
        if (ctx < 0) return;
        viqr_set(ctx, 1, VIQR_DEFERRED);
        viqr_give_back(ctx, &s.viqr_saved);
        s.viqr_source = true;
    }
    ok_ = true;
}

Converter::~Converter() = default;

namespace {

// A VIQR source's decoder slot for the length of one call.
class DecoderLease {
  public:
    explicit DecoderLease(Converter::State& s);
    ~DecoderLease();
    DecoderLease(const DecoderLease&) = delete;
    DecoderLease& operator=(const DecoderLease&) = delete;

  private:
    Converter::State& s_;
};

DecoderLease::DecoderLease(Converter::State& s) : s_(s) {
    if (s_.viqr_source) s_.viqr_ctx = viqr_borrow(&s_.viqr_saved);
}

DecoderLease::~DecoderLease() {
    if (!s_.viqr_source) return;
    viqr_give_back(s_.viqr_ctx, &s_.viqr_saved);
    s_.viqr_ctx = -1;
}

}  // namespace

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
    const int from = options_.from;
    const DecoderLease lease(s);
    if (take > 0) {
        if (from < kViqr || one_byte_codec(from)) {
            if (s.classic_target() && !options_.composite) {
                s.convert_8bit(in, take);
            } else {
                s.convert_8bit_by_character(in, take);
            }
        } else if (from == kViqr) {
            s.convert_viqr(in, take);
        } else if (from == kUtf8) {
            s.convert_utf8(in, take);
        } else if (is_byte_codec(from)) {
            s.convert_codec_source(in, take);
        } else if (from == kReferences) {
            s.convert_references(in, take);
        } else {
            s.convert_utf16(in, take);
        }
    }
    if (!s.refused && take == in_size && last) {
        bool finished = true;
        if (from == kViqr) {
            finished = s.finish_viqr(s.offset + take);
        } else if (from == kUtf8) {
            finished = s.finish_utf8();
        } else if (is_byte_codec(from) && !one_byte_codec(from)) {
            finished = s.finish_codec_source();
        } else if (from == kReferences) {
            finished = s.finish_references();
        } else if (from > kUtf8) {
            finished = s.finish_utf16();
        }
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
    s.pending_base = -1;
    s.unit_size = 0;
    s.high_surrogate = 0;
    s.big_endian = s.options.from == kUtf16Be;
    s.reference_size = 0;
    if (s.viqr_source) {
        const DecoderLease lease(s);
        viqr_set(s.viqr_ctx, VIQR_MODE_COMPOSE, VIQR_STATE);
    }
    s.decoder_state = VIQR_MODE_COMPOSE;
    problem_count_ = 0;
    first_problem_ = Problem{};
    if (s.tally) s.tally->clear();
    for (std::size_t b = 0; b < 256; ++b) s.unmet[b] = s.tolerant_units[b].problem;
}

void Converter::continue_output(const Converter& before) {
    State& s = *state_;
    const State& b = *before.state_;
    if (s.to_viqr() && b.to_viqr()) s.previous = b.previous;
    if (s.options.to == kUtf16 && b.options.to == kUtf16) s.bom_written = b.bom_written;
}

std::vector<ProblemCount> Converter::most_frequent_problems(std::size_t limit,
                                                            std::uint64_t& distinct) const {
    const State& s = *state_;
    if (!s.tally) {
        distinct = 0;
        return {};
    }
    std::vector<ProblemCount> all = s.tally->counted();
    distinct = all.size();
    // The entries are in the order met: a stable sort keeps it among equal counts.
    std::stable_sort(all.begin(), all.end(), [](const ProblemCount& a, const ProblemCount& b) {
        return a.count > b.count;
    });
    if (all.size() > limit) all.resize(limit);
    return all;
}

}  // namespace toneshift
