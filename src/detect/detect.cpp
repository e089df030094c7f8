#include "detect/detect.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstddef>
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
    std::array<std::uint64_t, kCandidateCount> known{};
    std::array<std::uint64_t, kCandidateCount> common{};
    std::array<std::uint64_t, kCandidateCount> invalid{};
    std::array<std::uint64_t, kCandidateCount> undefined{};
    std::uint64_t weak_valid = 0;
    std::uint64_t weak_invalid = 0;
    std::uint64_t bytes = 0;
    std::uint64_t high = 0;    // bytes 0x80 and above
    std::uint64_t binary = 0;  // control bytes that no text holds
    // Numeric character references ("&#7879;", "&#x1EC7;") to characters outside ASCII, and
    // of those the ones to Vietnamese letters and marks.
    std::uint64_t references = 0;
    std::uint64_t vietnamese_references = 0;
    std::bitset<256> seen;  // word bytes that are no ASCII letter

    void add(const Stats& o) {
        for (std::size_t c = 0; c < kCandidateCount; ++c) {
            valid[c] += o.valid[c];
            known[c] += o.known[c];
            common[c] += o.common[c];
            invalid[c] += o.invalid[c];
            undefined[c] += o.undefined[c];
        }
        weak_valid += o.weak_valid;
        weak_invalid += o.weak_invalid;
        bytes += o.bytes;
        high += o.high;
        binary += o.binary;
        references += o.references;
        vietnamese_references += o.vietnamese_references;
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

// Two formats read the text alike when every byte in it means the same in both, alone and
// as the mark byte of a two-byte spelling.
bool read_alike(int f, int g, const std::bitset<256>& seen) {
    if (f == g) return true;
    if (!detect::is_byte_candidate(f) || !detect::is_byte_candidate(g)) return false;
    for (unsigned b = 0; b < 256; ++b)
        if (seen[b] && detect::reading_of(f, b) != detect::reading_of(g, b)) return false;
    const bool f_pairs = is_byte_codec(f) && byte_codec(f).has_pairs;
    const bool g_pairs = is_byte_codec(g) && byte_codec(g).has_pairs;
    if (!f_pairs && !g_pairs) return true;
    for (unsigned m = 0; m < 256; ++m) {
        if (!seen[m]) continue;
        for (unsigned b = 0; b < 256; ++b) {
            const char32_t in_f = f_pairs ? pair_of(byte_codec(f), static_cast<unsigned char>(b),
                                                    static_cast<unsigned char>(m))
                                          : kNoCharacter;
            const char32_t in_g = g_pairs ? pair_of(byte_codec(g), static_cast<unsigned char>(b),
                                                    static_cast<unsigned char>(m))
                                          : kNoCharacter;
            if (in_f != in_g) return false;
        }
    }
    return true;
}

std::string name_of(int f) {
    return std::string(format_names[std::size_t(f)].name);
}

using detect::kCommonWeight;
using detect::kInvalidWeight;
using detect::kKnownWeight;
using detect::kUndefinedWeight;

// The winner's lead over any reading that decodes the text differently; over one that reads
// it as well but for how common its syllables are, kCloseMargin.
constexpr std::int64_t kMinMargin = 2;
constexpr std::int64_t kCloseMargin = 4;
// The least share of valid syllables (in percent) that a format's reading must reach.
constexpr std::uint64_t kMinValidPercent = 75;
// A format is named on at least this many valid syllables with diacritics: one word ("ca"
// with a cedilla) is a syllable in some format too often.
constexpr std::uint64_t kMinValid = 2;

// Whether reading c reads the text as well as reading `best` does, but for how common its
// syllables are: every word with diacritics a syllable, as many of them, as many known.
bool as_good_but_common(const Stats& s, int c, int best) {
    const auto i = std::size_t(c), b = std::size_t(best);
    return s.valid[i] != 0 && s.invalid[i] == 0 && s.undefined[i] == 0 &&
           s.valid[i] == s.valid[b] && s.known[i] == s.known[b];
}

std::int64_t score_of(const Stats& s, int c) {
    const auto i = std::size_t(c);
    return std::int64_t(s.valid[i] + kKnownWeight * s.known[i] + kCommonWeight * s.common[i]) -
           kInvalidWeight * std::int64_t(s.invalid[i]) -
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
        for (int c : d.candidates) d.details.append(" ").append(name_of(c));
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

// "1 word" or "2 words": a count with its noun, singular for one.
std::string count_of(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// What so many of them are: "is a syllable" for one, else "are syllables".
const char* are_syllables(std::uint64_t n) {
    return n == 1 ? " is a syllable" : " are syllables";
}

std::string percent(std::uint64_t part, std::uint64_t whole) {
    return std::to_string(whole == 0 ? 100 : part * 100 / whole) + "%";
}

Decision decide_seven_bit(const Stats& s) {
    const std::uint64_t sv = s.valid[kViqr], si = s.invalid[kViqr];
    const std::uint64_t wv = s.weak_valid, wi = s.weak_invalid;
    // A final "?" or "." alone is punctuation.
    if (sv == 0) return found(kPlainVietnamese, 0, "(7-bit, no VIQR spellings)");
    // Spellings that only VIQR makes (a shape mark, "dd", a tone mark inside a word) that
    // read as syllables, and few that do not.
    if (sv + wv >= 3 * (si + wi) && (sv >= 2 || si + wi == 0)) {
        return found(kViqr, sv + wv,
                     std::string("(") + std::to_string(sv + wv) + " of " +
                         count_of(sv + si + wv + wi, "VIQR spelling", "VIQR spellings") +
                         are_syllables(sv + wv) + ")");
    }
    // Spellings that VIQR mostly reads as nonsense ("add", "I'd"): not VIQR.
    if (3 * (sv + wv) <= si + wi)
        return found(kPlainVietnamese, 0, "(7-bit; what VIQR would read is no Vietnamese)");
    return unknown("(7-bit; some VIQR spellings make syllables, many do not)",
                   {kPlainVietnamese, kViqr});
}

// 7-bit text in a format that puts letters on ASCII punctuation ("l|i" is a word in VN
// Thin-Art (Mac)): taken only when that reading makes at least a syllable of the
// dictionary, no reading that differs comes close, and VIQR finds nothing.
constexpr std::int64_t kSevenBitMargin = 2;  // one syllable of the dictionary

int seven_bit_letters(const Stats& s) {
    if (s.valid[kViqr] != 0) return -1;
    int best = -1;
    for (int c = 0; c < kPlainVietnamese; ++c) {  // the formats with letters on ASCII bytes
        const auto i = std::size_t(c);
        if (s.undefined[i] != 0 || s.marked(c) == 0 ||
            s.valid[i] * 100 < s.marked(c) * kMinValidPercent || score_of(s, c) < kSevenBitMargin)
            continue;
        if (best < 0 || score_of(s, c) > score_of(s, best)) best = c;
    }
    for (std::size_t k = 0; k < detect::kByteCandidateCount && best >= 0; ++k)
        if (const int c = detect::byte_candidates[k];
            !read_alike(best, c, s.seen) && score_of(s, c) + kSevenBitMargin > score_of(s, best))
            return -1;
    return best;
}

Decision decide_eight_bit(const Stats& s, std::uint64_t min_valid);

Decision decide(const Stats& s) {
    if (s.binary != 0 && s.binary * 1000 >= s.bytes) return unknown("(control bytes: not text)");
    if (!s.eight_bit()) {
        // ASCII with numeric references to characters outside it: HTML or XML text written
        // with references for every other character, which only that reading reads right.
        if (s.references != 0)
            return found(kReferences, s.vietnamese_references,
                         std::string("(7-bit; ") +
                             count_of(s.references, "numeric reference", "numeric references") +
                             ", " + std::to_string(s.vietnamese_references) +
                             " to Vietnamese letters)");
        const int f = seven_bit_letters(s);
        if (f >= 0)
            return found(
                f, s.valid[std::size_t(f)],
                std::string("(7-bit; ") +
                    count_of(s.valid[std::size_t(f)], "word with letters on ASCII punctuation",
                             "words with letters on ASCII punctuation") +
                    are_syllables(s.valid[std::size_t(f)]) + ")");
        return decide_seven_bit(s);
    }
    if (s.high != 0 && s.undefined[kUtf8] == 0) {
        // Valid UTF-8 is UTF-8, unless it reads as no Vietnamese syllable at all while an
        // 8-bit format reads it clearly (a few letters of a legacy text can form valid
        // UTF-8 by chance).
        if (s.valid[kUtf8] == 0) {
            Decision legacy = decide_eight_bit(s, 1);
            if (legacy.verdict == Detection::Verdict::kFormat &&
                score_of(s, legacy.format) >= score_of(s, kUtf8) + kMinMargin)
                return legacy;
        }
        return found(kUtf8, s.marked(kUtf8), "(valid UTF-8)");
    }
    return decide_eight_bit(s, kMinValid);
}

Decision decide_eight_bit(const Stats& s, std::uint64_t min_valid) {
    int best = -1;
    for (std::size_t k = 0; k < detect::kByteCandidateCount; ++k) {
        const int c = detect::byte_candidates[k];
        const std::uint64_t m = s.marked(c);
        const auto i = std::size_t(c);
        if (s.valid[i] < min_valid || s.undefined[i] * 100 > m ||
            s.valid[i] * 100 < m * kMinValidPercent)
            continue;
        if (best < 0 || score_of(s, c) > score_of(s, best)) best = c;
    }
    std::vector<int> in_question;
    for (std::size_t k = 0; k < detect::kByteCandidateCount; ++k) {
        const int c = detect::byte_candidates[k];
        if (s.marked(c) == 0) continue;
        const auto i = std::size_t(c);
        if (s.undefined[i] * 100 <= s.marked(c) && s.valid[i] * 100 >= s.marked(c) * 50)
            in_question.push_back(c);
    }
    if (best < 0) return unknown("(too few words read as syllables in any format)", in_question);

    std::int64_t runner_up = INT64_MIN;
    int runner = -1;
    std::string alike;
    for (std::size_t k = 0; k < detect::kByteCandidateCount; ++k) {
        const int c = detect::byte_candidates[k];
        if (read_alike(best, c, s.seen)) {
            if (c != best) alike += (alike.empty() ? "" : ", ") + name_of(c);
            continue;
        }
        if (score_of(s, c) > runner_up) {
            runner_up = score_of(s, c);
            runner = c;
        }
    }
    // Every reading that differs must trail by its margin.
    std::vector<int> close;
    for (std::size_t k = 0; k < detect::kByteCandidateCount; ++k) {
        const int c = detect::byte_candidates[k];
        if (read_alike(best, c, s.seen)) continue;
        const std::int64_t margin = as_good_but_common(s, c, best) ? kCloseMargin : kMinMargin;
        if (score_of(s, best) - score_of(s, c) < margin) close.push_back(c);
    }
    if (!close.empty()) {
        close.insert(close.begin(), best);
        return unknown("(too little to tell apart)", close);
    }
    const auto b = std::size_t(best);
    std::string details =
        std::string("(") + percent(s.valid[b], s.marked(best)) + " of " +
        count_of(s.marked(best), "word with diacritics", "words with diacritics") +
        are_syllables(s.marked(best));
    if (!alike.empty()) details += "; reads the same as " + alike;
    // Why not the next best, where it too reads most words as syllables.
    if (runner >= 0 && s.valid[std::size_t(runner)] * 100 >= s.marked(runner) * kMinValidPercent) {
        const auto r = std::size_t(runner);
        details += "; " + name_of(runner) + " reads " + percent(s.valid[r], s.marked(runner)) +
                   " as syllables";
        if (s.undefined[r] != 0) {
            details += ", but " + count_of(s.undefined[r], "byte", "bytes") + " as nothing";
        } else {
            details +=
                ", " + std::to_string(s.known[r]) + " known against " + std::to_string(s.known[b]);
        }
    }
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
    for (std::size_t k = 0; k < detect::kByteCandidateCount; ++k) {
        const int c = detect::byte_candidates[k];
        const auto i = std::size_t(c);
        const std::uint64_t m = s.marked(c);
        if (s.undefined[i] == 0 && m != 0 && s.valid[i] * 10 >= m * 6) mask |= 1u << c;
    }
    if (s.high != 0 && s.undefined[kUtf8] == 0) mask |= 1u << kUtf8;
    return mask;
}

// A line range is closed at the end of a line once it holds this many words that are not
// plain ASCII.
constexpr std::uint64_t kChunkWords = 32;
// A range decides a part of a mixed text only with this many marked syllables behind it.
constexpr std::uint64_t kStrongEvidence = 24;
constexpr std::size_t kMaxSegments = 32;
// A long text is sampled: once this many words have been scored, one word in kSampleEvery
// of those that are not plain ASCII is scored (every byte is still read, so that every
// line range of a mixed text is seen). The first 2^17 words (about 700 KB of Vietnamese)
// are all scored.
constexpr std::uint64_t kWordsBeforeSampling = std::uint64_t(1) << 17;
constexpr std::uint64_t kSampleEvery = 4;
static_assert((kSampleEvery & (kSampleEvery - 1)) == 0);

struct Segment {
    std::uint64_t first_line = 1;
    std::uint64_t last_line = 1;
    unsigned mask = kAllCandidates;
    Stats stats;
};

// The counts of a WordScore as one row of bytes (valid, known, invalid, undefined and
// common, each by candidate, then the weak VIQR counts), packed eight to a word so that adding a
// word's counts to the running totals is a few word operations.
constexpr std::size_t kCountGroups = 5;
constexpr std::size_t kCounts = kCountGroups * kCandidateCount + 2;
constexpr std::size_t kPacked = (kCounts + 7) / 8;

std::uint8_t count_at(const WordScore& w, std::size_t k) {
    const std::size_t c = k % kCandidateCount;
    switch (k / kCandidateCount) {
        case 0:
            return w.valid[c];
        case 1:
            return w.known[c];
        case 2:
            return w.invalid[c];
        case 3:
            return w.undefined[c];
        case 4:
            return w.common[c];
        default:
            return c == 0 ? w.weak_valid : w.weak_invalid;
    }
}

// Sixteen-bit lanes: the even bytes of a packed word in one, the odd in the other.
constexpr std::uint64_t kLaneMask = 0x00FF00FF00FF00FFull;
// Lanes take at most this many words before they are settled (255 * 256 < 65536).
constexpr unsigned kLaneWords = 256;

// A word's score, and the bytes it holds, kept for the next time the word comes.
struct CacheEntry {
    std::uint8_t size = 0;
    std::uint8_t high = 0;      // bytes 0x80 and above
    std::uint64_t key[4] = {};  // the bytes, padded with zeros
    std::uint64_t packed[kPacked] = {};
    std::bitset<256> seen;
};
constexpr std::size_t kCacheWays = 2;
constexpr std::size_t kCacheSets = 4096;

void fill(CacheEntry& e, const unsigned char* bytes, std::size_t size) {
    e.size = std::uint8_t(size);
    std::memset(e.key, 0, sizeof e.key);
    std::memcpy(e.key, bytes, std::min(size, sizeof e.key));
    const WordScore score = detect::score_word(bytes, size);
    for (std::size_t j = 0; j < kPacked; ++j) {
        e.packed[j] = 0;
        for (std::size_t b = 0; b < 8 && 8 * j + b < kCounts; ++b)
            e.packed[j] |= std::uint64_t(count_at(score, 8 * j + b)) << (8 * b);
    }
    e.seen.reset();
    e.high = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (detect::byte_class[bytes[i]] == ByteClass::kWordByte) e.seen[bytes[i]] = true;
        e.high = std::uint8_t(e.high + (bytes[i] >> 7));
    }
}

// A numeric character reference at the start of p, which is "&": "&#" decimal digits ";" or
// "&#x" hexadecimal digits ";". Returns its length and sets cp; 0 when the bytes are no
// reference; -1 when they may still become one (the bytes ran out first).
constexpr std::size_t kMaxReference = 12;  // "&#x0010FFFF;"
int reference_at(const unsigned char* p, std::size_t n, char32_t& cp) {
    std::size_t i = 1;
    if (i == n) return -1;
    if (p[i++] != '#') return 0;
    if (i == n) return -1;
    const bool hex = p[i] == 'x' || p[i] == 'X';
    if (hex) ++i;
    std::uint32_t value = 0;
    std::size_t digits = 0;
    for (;; ++i) {
        if (i == kMaxReference) return 0;
        if (i == n) return -1;
        const unsigned char b = p[i];
        unsigned d = 0;
        if (b >= '0' && b <= '9') {
            d = b - '0';
        } else if (hex && ((b >= 'a' && b <= 'f') || (b >= 'A' && b <= 'F'))) {
            d = (b | 0x20u) - 'a' + 10;
        } else if (b == ';' && digits != 0) {
            cp = value;
            return int(i + 1);
        } else {
            return 0;
        }
        value = value * (hex ? 16 : 10) + d;
        ++digits;
        if (value > 0x10FFFF) return 0;
    }
}

constexpr bool is_vietnamese_mark(char32_t c) {
    return c == 0x300 || c == 0x301 || c == 0x302 || c == 0x303 || c == 0x306 || c == 0x309 ||
           c == 0x31B || c == 0x323;
}

void count_reference(char32_t cp, Stats& s) {
    if (cp < 0x80 || (cp >= 0xD800 && cp < 0xE000)) return;
    ++s.references;
    if (letter_position(cp) >= 0 || is_vietnamese_mark(cp)) ++s.vietnamese_references;
}

constexpr bool is_utf16(int f) {
    return f == kUtf16 || f == kUtf16Le || f == kUtf16Be;
}

// The text's first bytes, kept until they say whether it is UTF-16: a byte-order mark, or
// no mark but a zero byte in one of every few code units, always at the same place of the
// unit (ASCII and Vietnamese letters have a zero high byte or a small one).
constexpr std::size_t kHeadBytes = 64;

}  // namespace

struct Detector::State {
    // The start of a raw word that the last piece ended in, kept for the next piece.
    unsigned char word[detect::kMaxWordBytes] = {};
    std::size_t word_size = 0;
    bool word_plain = true;  // ASCII letters only: reads the same in every format

    std::uint64_t line = 1;
    bool line_open = false;  // bytes read since the last line feed
    std::uint64_t chunk_first_line = 1;
    Stats chunk;
    Stats total;
    std::array<Segment, kMaxSegments> segments;
    std::size_t segment_count = 0;

    std::array<std::uint32_t, kCacheSets * kCacheWays> tags{};  // word hashes, 0: empty
    std::array<CacheEntry, kCacheSets * kCacheWays> entries;
    std::array<std::uint64_t, 2 * kPacked> lanes{};  // counts not yet in `chunk`
    unsigned lane_words = 0;
    CacheEntry uncached;  // for a word too long to keep

    void score(const unsigned char* bytes, std::size_t size) {
        if (size > sizeof(CacheEntry::key)) {
            fill(uncached, bytes, size);
            add(uncached);
            return;
        }
        std::uint64_t key[4] = {};
        std::memcpy(key, bytes, size);
        std::uint64_t h = size;
        for (std::uint64_t k : key) h = (h ^ k) * 0x9E3779B97F4A7C15ull;
        const auto hash = std::uint32_t(h >> 32) | 1;  // 0 marks an empty way
        const std::size_t set = (hash % kCacheSets) * kCacheWays;
        for (std::size_t w = set; w < set + kCacheWays; ++w) {
            const CacheEntry& e = entries[w];
            if (tags[w] == hash && e.size == size && e.key[0] == key[0] && e.key[1] == key[1] &&
                e.key[2] == key[2] && e.key[3] == key[3]) {
                add(e);
                return;
            }
        }
        // The way used least lately goes: the first way always holds the newest word.
        for (std::size_t w = set + kCacheWays - 1; w > set; --w) {
            tags[w] = tags[w - 1];
            entries[w] = entries[w - 1];
        }
        tags[set] = hash;
        fill(entries[set], bytes, size);
        add(entries[set]);
    }

    void add(const CacheEntry& e) {
        for (std::size_t j = 0; j < kPacked; ++j) {
            lanes[2 * j] += e.packed[j] & kLaneMask;
            lanes[2 * j + 1] += (e.packed[j] >> 8) & kLaneMask;
        }
        chunk.seen |= e.seen;
        chunk.high += e.high;
        ++chunk_words;
        ++scored_words;
        if (++lane_words == kLaneWords) settle();
    }

    // Moves the counts in the lanes into the open range's statistics.
    void settle() {
        std::array<std::uint64_t, 8 * kPacked> flat;
        for (std::size_t j = 0; j < kPacked; ++j)
            for (std::size_t b = 0; b < 8; ++b)
                flat[8 * j + b] = (lanes[2 * j + (b & 1)] >> (16 * (b / 2))) & 0xFFFF;
        for (std::size_t c = 0; c < kCandidateCount; ++c) {
            chunk.valid[c] += flat[c];
            chunk.known[c] += flat[kCandidateCount + c];
            chunk.invalid[c] += flat[2 * kCandidateCount + c];
            chunk.undefined[c] += flat[3 * kCandidateCount + c];
            chunk.common[c] += flat[4 * kCandidateCount + c];
        }
        chunk.weak_valid += flat[5 * kCandidateCount];
        chunk.weak_invalid += flat[5 * kCandidateCount + 1];
        lanes.fill(0);
        lane_words = 0;
    }

    // Scores a whole raw word; a long run in pieces of at most kMaxWordBytes, never cut
    // inside a UTF-8 sequence where that can be helped.
    void score_run(const unsigned char* bytes, std::size_t size) {
        while (size > detect::kMaxWordBytes) {
            std::size_t cut = 48;
            while (cut < detect::kMaxWordBytes && (bytes[cut] & 0xC0) == 0x80) ++cut;
            score(bytes, cut);
            bytes += cut;
            size -= cut;
        }
        score(bytes, size);
    }

    void end_word() {
        if (word_size != 0 && !word_plain) score_run(word, word_size);
        word_size = 0;
        word_plain = true;
    }

    // Keeps the unfinished word at the end of a piece.
    void hold(const unsigned char* bytes, std::size_t size, bool plain) {
        word_plain = word_plain && plain;
        while (size != 0) {
            if (word_size == detect::kMaxWordBytes) {
                if (!word_plain) score_run(word, word_size);
                word_size = 0;
            }
            const std::size_t n = std::min(size, detect::kMaxWordBytes - word_size);
            std::memcpy(word + word_size, bytes, n);
            word_size += n;
            bytes += n;
            size -= n;
        }
    }

    // Words in the open range that are not plain ASCII, scored or passed over by the
    // sampling: it is closed at a line end once there are enough.
    std::uint64_t chunk_words = 0;
    // Words scored in the whole text, and the count behind the sampling of long texts.
    std::uint64_t scored_words = 0;
    std::uint64_t sample_count = 0;

    // Adds the lines read since the last range to the last range when they agree with it,
    // or opens a new range.
    void close_chunk(std::uint64_t last_line) {
        settle();
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
        chunk_words = 0;
        chunk_first_line = last_line + 1;
    }

    // A reference cut by the end of a piece, completed from the start of the next.
    unsigned char reference[kMaxReference] = {};
    std::size_t reference_size = 0;

    void note_reference(const unsigned char* p, std::size_t n) {
        char32_t cp = 0;
        const int r = reference_at(p, n, cp);
        if (r > 0) {
            count_reference(cp, chunk);
        } else if (r < 0) {
            std::memcpy(reference, p, n);
            reference_size = n;
        }
    }

    void finish_reference(const unsigned char* data, std::size_t size) {
        unsigned char joined[kMaxReference];
        const std::size_t n = std::min(size, kMaxReference - reference_size);
        std::memcpy(joined, reference, reference_size);
        std::memcpy(joined + reference_size, data, n);
        const std::size_t joined_size = reference_size + n;
        reference_size = 0;
        char32_t cp = 0;
        const int r = reference_at(joined, joined_size, cp);
        if (r > 0) {
            count_reference(cp, chunk);
        } else if (r < 0) {
            std::memcpy(reference, joined, joined_size);
            reference_size = joined_size;
        }
    }

    // What the text is read as: undecided while its first bytes are kept, then bytes
    // (words scored as they are) or UTF-16 (code units decoded into UTF-8, whose words are
    // scored).
    enum class Mode : std::uint8_t { kUndecided, kBytes, kUtf16 };
    Mode mode = Mode::kUndecided;
    unsigned char head[kHeadBytes] = {};
    std::size_t head_size = 0;
    bool utf16_mark = false;  // a byte-order mark began the text
    bool utf16_big = false;
    unsigned char odd_byte = 0;  // the first byte of a code unit cut by a piece's end
    bool has_odd_byte = false;
    char16_t high_surrogate = 0;     // waiting for its low surrogate
    std::uint64_t utf16_broken = 0;  // lone surrogates, and a last byte that is half a unit

    void take(const unsigned char* data, std::size_t size) {
        if (mode == Mode::kUndecided) {
            const std::size_t n = std::min(size, kHeadBytes - head_size);
            std::memcpy(head + head_size, data, n);
            head_size += n;
            data += n;
            size -= n;
            if (head_size < kHeadBytes) return;
            choose_mode();
        }
        pass(data, size);
    }

    void choose_mode() {
        mode = Mode::kBytes;
        std::size_t skip = 0;
        if (head_size >= 2 &&
            ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF))) {
            mode = Mode::kUtf16;
            utf16_mark = true;
            utf16_big = head[0] == 0xFE;
            skip = 2;
        } else {
            std::size_t zero_low = 0, zero_high = 0;  // as little-endian units
            const std::size_t units = head_size / 2;
            for (std::size_t k = 0; k < units; ++k) {
                zero_low += head[2 * k] == 0 ? 1 : 0;
                zero_high += head[2 * k + 1] == 0 ? 1 : 0;
            }
            if (units >= 2 && zero_high * 4 >= units && zero_low * 8 <= zero_high) {
                mode = Mode::kUtf16;
            } else if (units >= 2 && zero_low * 4 >= units && zero_high * 8 <= zero_low) {
                mode = Mode::kUtf16;
                utf16_big = true;
            }
        }
        pass(head + skip, head_size - skip);
        head_size = 0;
    }

    void pass(const unsigned char* data, std::size_t size) {
        if (mode == Mode::kUtf16) {
            decode_utf16(data, size);
        } else {
            feed(data, size);
        }
    }

    // Decodes code units into UTF-8 and reads that, a buffer at a time.
    void decode_utf16(const unsigned char* data, std::size_t size) {
        unsigned char out[1024];
        std::size_t n = 0;
        auto put = [&](char32_t c) {
            n += std::size_t(utf8proc_encode_char(utf8proc_int32_t(c), out + n));
            if (n > sizeof out - 4) {
                feed(out, n);
                n = 0;
            }
        };
        for (std::size_t i = 0; i < size; ++i) {
            if (!has_odd_byte) {
                odd_byte = data[i];
                has_odd_byte = true;
                continue;
            }
            has_odd_byte = false;
            const auto unit =
                char16_t(utf16_big ? (odd_byte << 8 | data[i]) : (data[i] << 8 | odd_byte));
            if (high_surrogate != 0) {
                if (unit >= 0xDC00 && unit < 0xE000) {
                    put(0x10000 + ((char32_t(high_surrogate) - 0xD800) << 10) + (unit - 0xDC00));
                    high_surrogate = 0;
                    continue;
                }
                ++utf16_broken;
                put(0xFFFD);
                high_surrogate = 0;
            }
            if (unit >= 0xD800 && unit < 0xDC00) {
                high_surrogate = unit;
            } else if (unit >= 0xDC00 && unit < 0xE000) {
                ++utf16_broken;
                put(0xFFFD);
            } else {
                put(unit);
            }
        }
        if (n != 0) feed(out, n);
    }

    void feed(const unsigned char* data, std::size_t size) {
        if (reference_size != 0 && size != 0) finish_reference(data, size);
        if (size != 0) line_open = data[size - 1] != '\n';
        std::size_t counted = 0;  // bytes up to here are in chunk.bytes
        std::size_t i = 0;
        while (i < size) {
            const ByteClass c = detect::byte_class[data[i]];
            if (c == ByteClass::kLetter || c == ByteClass::kWordByte ||
                (c == ByteClass::kMark && word_size != 0)) {
                // A run of word bytes; a mark joins a word but never starts one.
                const std::size_t start = i;
                bool plain = true;
                for (; i < size; ++i) {
                    const unsigned char b = data[i];
                    const ByteClass k = detect::byte_class[b];
                    if (k == ByteClass::kLetter) continue;
                    if (k == ByteClass::kWordByte || k == ByteClass::kMark) {
                        plain = false;
                        continue;
                    }
                    break;
                }
                if (i == size) {
                    hold(data + start, i - start, plain);
                } else if (word_size != 0) {
                    hold(data + start, i - start, plain);
                    end_word();
                } else if (!plain) {
                    if (scored_words < kWordsBeforeSampling ||
                        (++sample_count & (kSampleEvery - 1)) == 0) {
                        score_run(data + start, i - start);
                    } else {
                        ++chunk_words;  // a range spans as many words sampled or not
                    }
                }
                continue;
            }
            end_word();
            if (c == ByteClass::kNewline) {
                if (chunk_words >= kChunkWords) {
                    chunk.bytes += i + 1 - counted;
                    counted = i + 1;
                    close_chunk(line);
                }
                ++line;
            } else if (c == ByteClass::kBinary) {
                ++chunk.binary;
            } else if (data[i] == '&') {
                note_reference(data + i, size - i);
            }
            ++i;
        }
        chunk.bytes += size - counted;
    }

    Detection finish();
    Detection finish_words();

    Detection result;  // what finish() said

    // Everything but the word cache back to the start of a text.
    void start_text() {
        word_size = 0;
        word_plain = true;
        line = 1;
        line_open = false;
        chunk_first_line = 1;
        chunk = Stats{};
        total = Stats{};
        segments.fill(Segment{});
        segment_count = 0;
        lanes.fill(0);
        lane_words = 0;
        chunk_words = 0;
        scored_words = 0;
        sample_count = 0;
        result = Detection{};
        reference_size = 0;
        mode = Mode::kUndecided;
        head_size = 0;
        utf16_mark = utf16_big = has_odd_byte = false;
        high_surrogate = 0;
        utf16_broken = 0;
    }
};

Detection Detector::State::finish() {
    if (mode == Mode::kUndecided) choose_mode();
    if (mode != Mode::kUtf16) return finish_words();
    if (has_odd_byte || high_surrogate != 0) ++utf16_broken;
    const Detection words = finish_words();
    const int f = utf16_mark ? kUtf16 : utf16_big ? kUtf16Be : kUtf16Le;
    Detection out;
    out.candidates = {f};
    const char* order = utf16_big ? "big-endian" : "little-endian";
    if (utf16_broken != 0) {
        out.details = std::string("(UTF-16, ") + order + ", but " +
                      count_of(utf16_broken, "code unit", "code units") +
                      " with no character; candidates: " + name_of(f) + ")";
        return out;
    }
    if (utf16_mark) {
        out.verdict = Detection::Verdict::kFormat;
        out.format = f;
        out.details = std::string("(byte-order mark, ") + order + ")";
        out.candidates.clear();
        return out;
    }
    // Without a mark, only text that reads as Vietnamese is named: the zero bytes that made
    // it UTF-16 are evidence already, so one syllable is enough.
    const std::uint64_t valid = total.valid[kUtf8], marked = total.marked(kUtf8);
    if (words.verdict == Detection::Verdict::kFormat && words.format == kUtf8 && valid != 0 &&
        valid * 100 >= marked * kMinValidPercent) {
        out.verdict = Detection::Verdict::kFormat;
        out.format = f;
        out.details = std::string("(no byte-order mark; ") + percent(valid, marked) + " of " +
                      count_of(marked, "word with diacritics", "words with diacritics") +
                      are_syllables(marked) + ")";
        out.candidates.clear();
        return out;
    }
    out.details = std::string("(UTF-16, ") + order +
                  ", without a byte-order mark and too few Vietnamese syllables to be sure; "
                  "candidates: " +
                  name_of(f) + ")";
    return out;
}

Detection Detector::State::finish_words() {
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
            out.ranges.push_back(Detection::Range{p.first, p.last, p.format});
            if (k != 0) out.details += ", ";
            // Appended piece by piece: GCC 12 sees a false overlap (-Wrestrict) in
            // "literal" + std::string at -O3.
            out.details += p.first == p.last ? "line " : "lines ";
            out.details += std::to_string(p.first);
            if (p.first != p.last) out.details.append("-").append(std::to_string(p.last));
            out.details.append(" ").append(name_of(p.format));
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

void Detector::reset() {
    state_->start_text();
}

void Detector::feed(const unsigned char* data, std::size_t size) {
    state_->take(data, size);
}

Detection Detector::finish() {
    state_->result = state_->finish();
    return state_->result;
}

int Detector::clearly_other_than(int given) const {
    const Detection& d = state_->result;
    const Stats& s = state_->total;
    if (d.verdict != Detection::Verdict::kFormat || given < 0 || given >= kConvertFormatCount)
        return -1;
    const int f = d.format;
    if (is_utf16(f)) {
        // UTF-16 given another order of bytes, or any other format.
        if (!is_utf16(given)) return f;
        const bool big = state_->utf16_big;
        const bool reads_right =
            given == kUtf16 ? state_->utf16_mark || !big : (given == kUtf16Be) == big;
        return reads_right ? -1 : f;
    }
    if (!s.eight_bit()) return -1;
    if (given >= kCandidateCount) {
        // UTF-16 reads any 8-bit text as other characters; references read only ASCII, so
        // valid UTF-8 with Vietnamese syllables is sure to be something else.
        if (is_utf16(given)) return f == kPlainVietnamese ? -1 : f;
        return f == kUtf8 && s.valid[kUtf8] != 0 ? kUtf8 : -1;
    }
    if (f == given || f == kPlainVietnamese) return -1;
    // VIQR reads the bytes of 8-bit text as VISCII letters; a capitals font's bytes are
    // TCVN3's.
    const int reader = given == kViqr                                 ? kViscii
                       : given == kTcvn3Caps || given == kTcvn3VnCaps ? kTcvn3
                                                                      : given;
    if (read_alike(f, reader, s.seen)) return -1;
    if (reader == kPlainVietnamese) return s.high != 0 ? f : -1;
    const auto r = std::size_t(reader);
    const bool reads_badly = s.undefined[r] != 0 || s.valid[r] * 2 < s.marked(reader);
    return reads_badly ? f : -1;
}

}  // namespace toneshift
