#include "detect/detect.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <cstring>
#include <string>

#include "convert/format_names.h"
#include "detect/word_reader.h"

namespace toneshift {

namespace {

using detect::ByteClass;
using detect::kCandidateCount;
using detect::WordScore;

// What one stretch of text (a line range, or the whole text) says about each candidate.
struct Stats {
    std::array<std::uint64_t, kCandidateCount> valid{};
    std::array<std::uint64_t, kCandidateCount> invalid{};
    std::array<std::uint64_t, kCandidateCount> undefined{};
    std::uint64_t weak_valid = 0;
    std::uint64_t weak_invalid = 0;
    std::uint64_t bytes = 0;
    std::uint64_t high = 0;    // bytes 0x80 and above
    std::uint64_t binary = 0;  // control bytes that no text holds
    std::bitset<256> seen;     // word bytes that are no ASCII letter

    void add(const WordScore& w) {
        for (std::size_t c = 0; c < kCandidateCount; ++c) {
            valid[c] += w.valid[c];
            invalid[c] += w.invalid[c];
            undefined[c] += w.undefined[c];
        }
        weak_valid += w.weak_valid;
        weak_invalid += w.weak_invalid;
    }
    void add(const Stats& o) {
        for (std::size_t c = 0; c < kCandidateCount; ++c) {
            valid[c] += o.valid[c];
            invalid[c] += o.invalid[c];
            undefined[c] += o.undefined[c];
        }
        weak_valid += o.weak_valid;
        weak_invalid += o.weak_invalid;
        bytes += o.bytes;
        high += o.high;
        binary += o.binary;
        seen |= o.seen;
    }
    std::uint64_t marked(int c) const { return valid[std::size_t(c)] + invalid[std::size_t(c)]; }
    // Bytes that only an 8-bit format reads as letters: 0x80 and above, or the control
    // bytes that formats 0 and 1 use for capitals. (The ASCII punctuation that some
    // formats use for letters is read as punctuation in 7-bit text.)
    bool eight_bit() const {
        if (high != 0) return true;
        for (unsigned b = 0; b < 0x20; ++b)
            if (seen[b]) return true;
        return false;
    }
};

// Two formats read the text alike when every byte in it means the same in both.
bool read_alike(int f, int g, const std::bitset<256>& seen) {
    if (f == g) return true;
    if (f >= kPlainVietnamese || g >= kPlainVietnamese) return false;
    for (unsigned b = 0; b < 256; ++b)
        if (seen[b] &&
            detect::byte_meaning[std::size_t(f)][b] != detect::byte_meaning[std::size_t(g)][b])
            return false;
    return true;
}

std::string name_of(int f) {
    return std::string(format_names[std::size_t(f)].name);
}

// A syllable that a wrong reading makes weighs this many valid ones; a byte that means
// nothing in a format, this many.
constexpr std::int64_t kInvalidWeight = 4;
constexpr std::int64_t kUndefinedWeight = 8;
// The winner's lead over any reading that decodes the text differently.
constexpr std::int64_t kMinMargin = 3;
// The least share of valid syllables (in percent) that a format's reading must reach.
constexpr std::uint64_t kMinValidPercent = 85;

std::int64_t score_of(const Stats& s, int c) {
    const auto i = std::size_t(c);
    return std::int64_t(s.valid[i]) - kInvalidWeight * std::int64_t(s.invalid[i]) -
           kUndefinedWeight * std::int64_t(s.undefined[i]);
}

struct Decision {
    Detection::Verdict verdict = Detection::Verdict::kUnknown;
    int format = -1;
    std::uint64_t evidence = 0;  // marked syllables behind a format verdict
    std::string details;
    std::vector<int> candidates;
};

Decision unknown(std::string why, std::vector<int> candidates = {}) {
    Decision d;
    d.details = std::move(why);
    d.candidates = std::move(candidates);
    if (!d.candidates.empty()) {
        d.details += "; candidates:";
        for (int c : d.candidates) d.details += " " + name_of(c);
    }
    return d;
}

Decision found(int format, std::uint64_t evidence, std::string details) {
    Decision d;
    d.verdict = Detection::Verdict::kFormat;
    d.format = format;
    d.evidence = evidence;
    d.details = std::move(details);
    return d;
}

std::string percent(std::uint64_t part, std::uint64_t whole) {
    return std::to_string(whole == 0 ? 100 : part * 100 / whole) + "%";
}

Decision decide_seven_bit(const Stats& s) {
    const std::uint64_t sv = s.valid[kViqr], si = s.invalid[kViqr];
    const std::uint64_t wv = s.weak_valid, wi = s.weak_invalid;
    if (sv == 0) return found(kPlainVietnamese, 0, "(7-bit, no VIQR spellings)");
    // Spellings that only VIQR makes (a shape mark, "dd", a tone mark inside a word) that
    // read as syllables, and few that do not.
    if (sv + wv >= 3 * (si + wi) && !(sv == 1 && si + wi != 0)) {
        return found(kViqr, sv + wv,
                     "(" + std::to_string(sv + wv) + " of " + std::to_string(sv + si + wv + wi) +
                         " VIQR spellings are syllables)");
    }
    return unknown("(7-bit, VIQR spellings that are mostly no syllables)",
                   {kPlainVietnamese, kViqr});
}

Decision decide(const Stats& s) {
    if (s.binary != 0 && s.binary * 1000 >= s.bytes) return unknown("(control bytes: not text)");
    if (!s.eight_bit()) return decide_seven_bit(s);
    if (s.high != 0 && s.undefined[kUtf8] == 0)
        return found(kUtf8, s.marked(kUtf8), "(valid UTF-8)");

    int best = -1;
    for (int c = 0; c < kPlainVietnamese; ++c) {
        const std::uint64_t m = s.marked(c);
        const auto i = std::size_t(c);
        if (m == 0 || s.undefined[i] * 100 > m || s.valid[i] * 100 < m * kMinValidPercent) continue;
        if (best < 0 || score_of(s, c) > score_of(s, best)) best = c;
    }
    std::vector<int> in_question;
    for (int c = 0; c < kPlainVietnamese; ++c) {
        if (s.marked(c) == 0) continue;
        const auto i = std::size_t(c);
        if (s.undefined[i] * 100 <= s.marked(c) && s.valid[i] * 100 >= s.marked(c) * 50)
            in_question.push_back(c);
    }
    if (best < 0) return unknown("(no format reads it as Vietnamese)", in_question);

    std::int64_t runner_up = INT64_MIN;
    int runner = -1;
    std::string alike;
    for (int c = 0; c < kPlainVietnamese; ++c) {
        if (read_alike(best, c, s.seen)) {
            if (c != best) alike += (alike.empty() ? "" : ", ") + name_of(c);
            continue;
        }
        if (score_of(s, c) > runner_up) {
            runner_up = score_of(s, c);
            runner = c;
        }
    }
    const std::int64_t margin = score_of(s, best) - runner_up;
    if (runner >= 0 && margin < kMinMargin) {
        std::vector<int> tied;
        for (int c : in_question)
            if (score_of(s, c) + kMinMargin > score_of(s, best)) tied.push_back(c);
        return unknown("(too little to tell apart)", tied);
    }
    const auto b = std::size_t(best);
    std::string details = "(" + percent(s.valid[b], s.marked(best)) + " of " +
                          std::to_string(s.marked(best)) + " words with diacritics are syllables";
    if (!alike.empty()) details += "; reads the same as " + alike;
    details += ")";
    return found(best, s.valid[b], details);
}

// The candidates that a line range is consistent with, as a bit set by format; all of them
// for a range that says nothing (7-bit text without VIQR spellings).
constexpr unsigned kAllCandidates = (1u << kCandidateCount) - 1;

unsigned consistent_with(const Stats& s) {
    if (!s.eight_bit())
        return s.valid[kViqr] + s.invalid[kViqr] == 0   ? kAllCandidates
               : s.invalid[kViqr] * 2 <= s.valid[kViqr] ? 1u << kViqr
                                                        : 0;
    unsigned mask = 0;
    for (int c = 0; c < kPlainVietnamese; ++c) {
        const auto i = std::size_t(c);
        const std::uint64_t m = s.marked(c);
        if (s.undefined[i] == 0 && m != 0 && s.valid[i] * 10 >= m * 6) mask |= 1u << c;
    }
    if (s.high != 0 && s.undefined[kUtf8] == 0) mask |= 1u << kUtf8;
    return mask;
}

// A line range is closed at the end of a line once it holds this many marked syllables.
constexpr std::uint64_t kChunkEvidence = 16;
// A range decides a part of a mixed text only with this many marked syllables behind it.
constexpr std::uint64_t kStrongEvidence = 24;
constexpr std::size_t kMaxSegments = 32;

struct Segment {
    std::uint64_t first_line = 1;
    std::uint64_t last_line = 1;
    unsigned mask = kAllCandidates;
    Stats stats;
};

struct CacheEntry {
    std::uint32_t hash = 0;
    std::uint8_t size = 0;  // 0: empty
    unsigned char bytes[32] = {};
    WordScore score;
};
constexpr std::size_t kCacheSize = 4096;

}  // namespace

struct Detector::State {
    // The raw word being read.
    unsigned char word[detect::kMaxWordBytes] = {};
    std::size_t word_size = 0;
    bool word_plain = true;  // ASCII letters only: reads the same in every format
    std::uint32_t word_hash = 2166136261u;

    std::uint64_t line = 1;
    bool line_open = false;  // bytes read since the last line feed
    std::uint64_t chunk_first_line = 1;
    Stats chunk;
    Stats total;
    std::array<Segment, kMaxSegments> segments;
    std::size_t segment_count = 0;

    std::array<CacheEntry, kCacheSize> cache;
    WordScore uncached;

    const WordScore& score(const unsigned char* bytes, std::size_t size, std::uint32_t hash) {
        if (size > sizeof(CacheEntry::bytes)) {
            uncached = detect::score_word(bytes, size);
            return uncached;
        }
        CacheEntry& e = cache[(hash ^ (hash >> 15)) % kCacheSize];
        if (e.size != size || e.hash != hash || std::memcmp(e.bytes, bytes, size) != 0) {
            e.hash = hash;
            e.size = std::uint8_t(size);
            std::memcpy(e.bytes, bytes, size);
            e.score = detect::score_word(bytes, size);
        }
        return e.score;
    }

    void end_word() {
        if (word_size == 0) return;
        if (!word_plain) chunk.add(score(word, word_size, word_hash));
        word_size = 0;
        word_plain = true;
        word_hash = 2166136261u;
    }

    void append(unsigned char b) {
        // Long runs are cut, but never inside a UTF-8 sequence while there is room.
        if (word_size >= 48 && ((b & 0xC0) != 0x80 || word_size == detect::kMaxWordBytes))
            end_word();
        word[word_size++] = b;
        word_hash = (word_hash ^ b) * 16777619u;
    }

    std::uint64_t chunk_evidence() const {
        std::uint64_t most = chunk.weak_valid + chunk.weak_invalid;
        for (int c = 0; c < kCandidateCount; ++c)
            if (chunk.marked(c) > most) most = chunk.marked(c);
        return most;
    }

    // Adds the lines read since the last range to the last range when they agree with it,
    // or opens a new range.
    void close_chunk(std::uint64_t last_line) {
        if (chunk.bytes == 0) return;
        const unsigned mask = consistent_with(chunk);
        Segment* seg = segment_count != 0 ? &segments[segment_count - 1] : nullptr;
        if (seg == nullptr || ((seg->mask & mask) == 0 && segment_count < kMaxSegments)) {
            seg = &segments[segment_count++];
            *seg = Segment{};
            seg->first_line = chunk_first_line;
            seg->mask = mask;
        } else {
            seg->mask &= mask;
        }
        seg->last_line = last_line;
        seg->stats.add(chunk);
        total.add(chunk);
        chunk = Stats{};
        chunk_first_line = last_line + 1;
    }

    void feed(const unsigned char* data, std::size_t size) {
        if (size != 0) line_open = data[size - 1] != '\n';
        for (std::size_t i = 0; i < size; ++i) {
            const unsigned char b = data[i];
            ++chunk.bytes;
            switch (detect::byte_class[b]) {
                case ByteClass::kLetter:
                    append(b);
                    break;
                case ByteClass::kWordByte:
                    append(b);
                    word_plain = false;
                    chunk.seen.set(b);
                    if (b >= 0x80) ++chunk.high;
                    break;
                case ByteClass::kMark:
                    if (word_size != 0) {
                        append(b);
                        word_plain = false;
                    }
                    break;
                case ByteClass::kNewline:
                    end_word();
                    if (chunk_evidence() >= kChunkEvidence) close_chunk(line);
                    ++line;
                    break;
                case ByteClass::kBinary:
                    end_word();
                    ++chunk.binary;
                    break;
                case ByteClass::kOther:
                    end_word();
                    break;
            }
        }
    }

    Detection finish();
};

Detection Detector::State::finish() {
    end_word();
    // A last line without a line feed still counts as a line.
    close_chunk(line_open ? line : line - 1);
    Decision whole = decide(total);

    // Parts that each decide clearly for readings that differ make the text mixed.
    struct Part {
        std::uint64_t first, last;
        int format;
        const Stats* stats;
    };
    std::array<Part, kMaxSegments> parts{};
    std::size_t part_count = 0;
    bool differ = false;
    for (std::size_t k = 0; k < segment_count; ++k) {
        const Segment& seg = segments[k];
        const Decision d = decide(seg.stats);
        const bool strong = d.verdict == Detection::Verdict::kFormat &&
                            d.format != kPlainVietnamese && d.evidence >= kStrongEvidence;
        if (!strong) {
            if (part_count != 0) parts[part_count - 1].last = seg.last_line;
            continue;
        }
        if (part_count != 0) {
            Part& prev = parts[part_count - 1];
            std::bitset<256> both = prev.stats->seen | seg.stats.seen;
            if (read_alike(prev.format, d.format, both)) {
                prev.last = seg.last_line;
                continue;
            }
            differ = true;
        }
        const std::uint64_t first = part_count == 0 ? 1 : seg.first_line;
        parts[part_count] = Part{first, seg.last_line, d.format, &seg.stats};
        ++part_count;
    }

    Detection out;
    if (differ) {
        out.verdict = Detection::Verdict::kMixed;
        parts[part_count - 1].last = segments[segment_count - 1].last_line;
        for (std::size_t k = 0; k < part_count; ++k) {
            const Part& p = parts[k];
            if (k != 0) out.details += ", ";
            out.details += "lines " + std::to_string(p.first) + "-" + std::to_string(p.last) + " " +
                           name_of(p.format);
            bool listed = false;
            for (int c : out.candidates) listed = listed || c == p.format;
            if (!listed) out.candidates.push_back(p.format);
        }
        return out;
    }
    out.verdict = whole.verdict;
    out.format = whole.format;
    out.details = std::move(whole.details);
    out.candidates = std::move(whole.candidates);
    return out;
}

Detector::Detector() : state_(std::make_unique<State>()) {}
Detector::~Detector() = default;

void Detector::feed(const unsigned char* data, std::size_t size) {
    state_->feed(data, size);
}

Detection Detector::finish() {
    return state_->finish();
}

}  // namespace toneshift
