#include "repair/repair.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>

#include "convert/byte_codecs.h"
#include "convert/converter.h"
#include "convert/format_names.h"
#include "detect/word_reader.h"
#include "repair/text.h"
#include "tables/letter_unicode.h"

namespace toneshift::repair {

namespace {

// Weights as the detector's: a syllable counts once, more when the dictionary knows it and
// more again when it is common; a word that is no syllable and invalid UTF-8 count against.
std::int64_t weight_of(const detect::WordScore& w) {
    using namespace detect;
    return std::int64_t(w.valid[kUtf8] + kKnownWeight * w.known[kUtf8] +
                        kCommonWeight * w.common[kUtf8]) -
           kInvalidWeight * std::int64_t(w.invalid[kUtf8]) -
           kUndefinedWeight * std::int64_t(w.undefined[kUtf8]);
}

// Characters of a text in a character set, as bytes. U+FFFD, which a decoder put where it
// met a byte the set lacks, becomes 0x00: a hole the UTF-8 reading may fill.
constexpr unsigned char kHole = 0x00;

bool encode(std::string_view text, Charset set, std::string& bytes) {
    bytes.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0;
    while (i < text.size()) {
        if (p[i] < 0x80) {
            if (p[i] == kHole) return false;
            bytes.push_back(char(p[i++]));
            continue;
        }
        utf8proc_int32_t c = 0;
        const auto n = utf8proc_iterate(p + i, utf8proc_ssize_t(text.size() - i), &c);
        if (n <= 0) return false;
        i += std::size_t(n);
        if (c == 0xFFFD) {
            bytes.push_back(char(kHole));
            continue;
        }
        const int b = byte_of(set, char32_t(c));
        if (b < 0) return false;
        bytes.push_back(char(b));
    }
    return true;
}

// Bytes a Windows code page has no character for, dropped or replaced on the way; the
// no-break space turned into a space, the soft hyphen dropped.
constexpr unsigned char kLostBytes[] = {0x81, 0x8D, 0x8F, 0x90, 0x9D, 0xAD};

// A sequence cut short where a byte was lost: the letter it was, to be chosen by the
// syllable around it.
struct Slot {
    std::size_t at;  // of the U+FFFD put in its place, in the output
    std::array<char32_t, 8> candidates{};
    std::size_t count = 0;
    // A space follows the U+FFFD; the candidates from `through_space` on are letters whose
    // last byte was a no-break space turned into that space: they take its place, and the
    // word goes on after it.
    bool space = false;
    std::size_t through_space = 8;
};

std::size_t sequence_length(unsigned char lead) {
    return lead >= 0xF0 && lead <= 0xF4   ? 4
           : lead >= 0xE0 && lead <= 0xEF ? 3
           : lead >= 0xC2 && lead <= 0xDF ? 2
                                          : 0;
}

// Decodes a whole sequence, or returns 0 where the bytes are no UTF-8 character.
char32_t decode_sequence(const unsigned char* s, std::size_t n) {
    utf8proc_int32_t c = 0;
    if (utf8proc_iterate(s, utf8proc_ssize_t(n), &c) != utf8proc_ssize_t(n)) return 0;
    return char32_t(c);
}

// UTF-8 bytes to text. A sequence one continuation byte short is a lost byte: followed by a
// hole or "?", the hole is that byte; followed by a space, the space was a no-break space;
// else the byte was dropped. Its place becomes a slot with the Vietnamese letters it may be.
bool decode_recovering(const std::string& bytes, std::string& out, std::vector<Slot>& slots) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            if (b == kHole) return false;
            out.push_back(char(b));
            ++i;
            continue;
        }
        const std::size_t n = sequence_length(b);
        if (n == 0) return false;
        std::size_t k = 1;
        while (k < n && i + k < size && (p[i + k] & 0xC0) == 0x80) ++k;
        if (k == n) {
            if (decode_sequence(p + i, n) == 0) return false;
            out.append(bytes, i, n);
            i += n;
            continue;
        }
        if (k != n - 1) return false;
        unsigned char seq[4];
        std::copy(p + i, p + i + k, seq);
        const unsigned char next = i + k < size ? p[i + k] : 0xFF;
        Slot slot;
        slot.at = out.size();
        auto consider = [&](unsigned char lost) {
            seq[k] = lost;
            const char32_t c = decode_sequence(seq, n);
            if (c != 0 && slot.count < slot.candidates.size()) slot.candidates[slot.count++] = c;
        };
        std::size_t consumed = k;
        if (next == kHole || next == '?') {
            for (unsigned char lost : kLostBytes) consider(lost);
            consider(0xA0);
            consumed = k + 1;
        } else if (next == ' ') {
            for (unsigned char lost : kLostBytes) consider(lost);
            slot.space = true;
            slot.through_space = slot.count;
            consider(0xA0);
        } else {
            for (unsigned char lost : kLostBytes) consider(lost);
        }
        if (slot.count == 0) return false;
        slots.push_back(slot);
        append_utf8(out, 0xFFFD);
        i += consumed;
    }
    return true;
}

// Fills each slot whose word is a syllable with exactly one of its letters; the others stay
// U+FFFD. Returns how many stayed.
std::size_t fill_slots(std::string& text, const std::vector<Slot>& slots) {
    std::size_t unfilled = 0;
    for (auto s = slots.rbegin(); s != slots.rend(); ++s) {
        const auto* p = reinterpret_cast<const unsigned char*>(text.data());
        std::size_t begin = s->at;
        while (begin > 0 && word_byte(p[begin - 1])) --begin;
        auto word_end = [&](std::size_t from) {
            while (from < text.size() && word_byte(p[from])) ++from;
            return from;
        };
        const std::size_t after = s->at + 3;  // past the U+FFFD
        // A letter is taken only where one reading is left: of the candidates that are
        // letters, those whose word is a syllable, and of those the ones the dictionary knows
        // where there are any; how common a syllable is never decides. Where the letter would
        // be read before the space, the text after it must stand as it would then be: no
        // second space in a row, no lone ASCII letter ("d\xC3\xAD i" for "d\xC3\xA0i": the
        // no-break space's trace). Where no candidate is a letter, the closing quotation mark
        // is the one in use of the characters that end in such a byte (the others are spaces,
        // invisible format characters and a rare dash).
        std::size_t chosen = s->count;
        std::size_t syllables = 0, known = 0, known_at = s->count, syllable_at = s->count;
        bool letters = false;
        for (std::size_t k = 0; k < s->count; ++k)
            letters = letters || letter_position(s->candidates[k]) >= 0;
        for (std::size_t k = 0; k < s->count && !letters; ++k)
            if (s->candidates[k] == 0x201D) chosen = k;
        for (std::size_t k = 0; k < s->count && letters; ++k) {
            if (letter_position(s->candidates[k]) < 0) continue;
            const bool through = s->space && k >= s->through_space;
            if (s->space && !through) {
                const std::size_t next = after + 1;
                if (next < text.size() &&
                    (p[next] == ' ' || (word_end(next) == next + 1 && p[next] < 0x80)))
                    continue;
            }
            const std::size_t rest = through ? after + 1 : after;
            std::string word(text, begin, s->at - begin);
            append_utf8(word, s->candidates[k]);
            word.append(text, rest, word_end(rest) - rest);
            if (word.size() > detect::kMaxWordBytes) continue;
            const detect::WordScore w = detect::score_utf8_word(
                reinterpret_cast<const unsigned char*>(word.data()), word.size());
            if (w.valid[kUtf8] == 0 || w.invalid[kUtf8] != 0 || w.undefined[kUtf8] != 0) continue;
            ++syllables;
            syllable_at = k;
            if (w.known[kUtf8] != 0) {
                ++known;
                known_at = k;
            }
        }
        if (known == 1) {
            chosen = known_at;
        } else if (known == 0 && syllables == 1) {
            chosen = syllable_at;
        }
        const bool fits = chosen < s->count;
        if (fits) {
            std::string letter;
            append_utf8(letter, s->candidates[chosen]);
            const bool through = s->space && chosen >= s->through_space;
            text.replace(s->at, through ? 4 : 3, letter);
        } else {
            ++unfilled;
        }
    }
    return unfilled;
}

std::size_t characters_outside_ascii(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char b : text) n += (b >= 0xC0 ? 1 : 0);
    return n;
}

std::size_t column_of(std::string_view text, std::size_t at) {
    std::size_t column = 1;
    for (std::size_t i = 0; i < at && i < text.size(); ++i)
        column += (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 ? 1 : 0;
    return column;
}

// Every reading tried: one layer, UTF-8 misread in any set, or legacy bytes shown in a
// Western set; and two layers, UTF-8 misread again over any of those.
std::vector<Reading> all_readings() {
    std::vector<Reading> one;
    for (std::size_t c = 0; c < kCharsetCount; ++c) {
        Reading r;
        r.depth = 1;
        r.layers[0] = {Charset(c), kUtf8};
        one.push_back(r);
    }
    for (Charset set : {Charset::kWindows1252, Charset::kLatin1}) {
        for (std::size_t k = 0; k < detect::kByteCandidateCount; ++k) {
            Reading r;
            r.depth = 1;
            r.layers[0] = {set, detect::byte_candidates[k]};
            one.push_back(r);
        }
    }
    std::vector<Reading> all = one;
    for (std::size_t c = 0; c < kCharsetCount; ++c) {
        for (const Reading& inner : one) {
            Reading r;
            r.depth = 2;
            r.layers[0] = {Charset(c), kUtf8};
            r.layers[1] = inner.layers[0];
            all.push_back(r);
        }
    }
    return all;
}

// A reading is taken for a block when what it makes of the block is Vietnamese (at least
// two words with diacritics that are syllables, three in four of them) and it gains this
// much weight over the text as it stands.
constexpr std::int64_t kMinGain = 4;
constexpr std::uint64_t kMinValid = 2;
constexpr std::uint64_t kMinValidPercent = 75;
// Readings tried on each line: the best few of the block.
constexpr std::size_t kKept = 3;
// The block's lines with characters outside ASCII that choose the readings, at most so many
// and so many bytes; a reading that falls this far behind the text as it stands on them is
// dropped before the end of the sample.
constexpr std::size_t kSampleLines = 128;
constexpr std::size_t kSampleBytes = 32 * 1024;
constexpr std::int64_t kGiveUp = -40;

}  // namespace

std::string describe(const Reading& r) {
    if (r.depth == 0) return "as it is";
    const Layer& first = r.layers[r.depth - 1];  // the layer that happened first
    std::string out =
        first.original == kUtf8
            ? std::string("utf-8 read as ")
            : std::string(format_names[std::size_t(first.original)].name) + " bytes shown as ";
    out += charset_name(first.misread_as);
    if (r.depth == 2) {
        const Layer& then = r.layers[0];
        if (then.misread_as == first.misread_as && first.original == kUtf8) {
            out += " twice";
        } else {
            out += ", then read as ";
            out += charset_name(then.misread_as);
        }
    }
    return out;
}

TextScore score_text(std::string_view utf8) {
    TextScore s;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t i = 0;
    while (i < utf8.size()) {
        if (!word_byte(p[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < utf8.size() && word_byte(p[end]) && end - i < detect::kMaxWordBytes) ++end;
        const detect::WordScore w = detect::score_utf8_word(p + i, end - i);
        s.valid += w.valid[kUtf8];
        s.invalid += w.invalid[kUtf8];
        s.undefined += w.undefined[kUtf8];
        s.weight += weight_of(w);
        i = end;
    }
    return s;
}

struct Repairer::State {
    std::vector<Reading> readings = all_readings();
    std::string bytes, scratch, decoded;
    std::vector<Slot> slots;

    // Legacy bytes to UTF-8 as the detector reads them (a base and a mark byte together, else
    // each byte alone), composed to NFC where the format has combining tone bytes; false
    // where a byte means nothing in the format.
    bool decode_legacy(int format, const std::string& in, std::string& out) {
        out.clear();
        bool combining = false;
        const auto* p = reinterpret_cast<const unsigned char*>(in.data());
        for (std::size_t i = 0; i < in.size(); ++i) {
            char32_t c = detect::reading_of(format, p[i]);
            if (is_byte_codec(format) && i + 1 < in.size()) {
                const char32_t pair = pair_of(byte_codec(format), p[i], p[i + 1]);
                if (pair != kNoCharacter) {
                    c = pair;
                    ++i;
                }
            }
            if (c == kNoCharacter || c == 0) return false;
            combining = combining || (c >= 0x300 && c < 0x370);
            append_utf8(out, c);
        }
        if (combining) {
            utf8proc_uint8_t* nfc =
                utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(out.c_str()));
            if (nfc == nullptr) return false;
            out.assign(reinterpret_cast<const char*>(nfc));
            std::free(nfc);
        }
        return true;
    }

    // The line with the reading's layers undone, into `out`; false where the reading cannot
    // apply. `unfilled` counts lost letters left as U+FFFD.
    bool undo(const Reading& r, std::string_view line, std::string& out, std::size_t& unfilled) {
        unfilled = 0;
        std::string_view current = line;
        for (std::size_t k = 0; k < r.depth; ++k) {
            const Layer& layer = r.layers[k];
            if (!encode(current, layer.misread_as, bytes)) return false;
            if (layer.original == kUtf8) {
                slots.clear();
                if (!decode_recovering(bytes, decoded, slots)) return false;
                if (!slots.empty()) unfilled += fill_slots(decoded, slots);
            } else if (!decode_legacy(layer.original, bytes, decoded)) {
                return false;
            }
            scratch.swap(decoded);
            current = scratch;
        }
        out.assign(current);
        return out != line;
    }
};

Repairer::Repairer() : state_(std::make_unique<State>()) {}
Repairer::~Repairer() = default;

void Repairer::repair_block(std::string_view block, std::uint64_t first_line, std::string& out,
                            RepairReport& report) {
    State& st = *state_;
    // The lines, each with its line feed.
    std::vector<std::string_view> lines;
    for (std::size_t at = 0; at < block.size();) {
        const std::size_t end = block.find('\n', at);
        const std::size_t stop = end == std::string_view::npos ? block.size() : end + 1;
        lines.push_back(block.substr(at, stop - at));
        at = stop;
    }
    auto outside_ascii = [](std::string_view s) {
        for (unsigned char b : s)
            if (b >= 0x80) return true;
        return false;
    };

    // Choose the readings on a sample of the lines they could change.
    std::vector<std::size_t> sample;
    std::vector<TextScore> sample_scores;
    std::size_t sample_bytes = 0;
    for (std::size_t k = 0;
         k < lines.size() && sample.size() < kSampleLines && sample_bytes < kSampleBytes; ++k)
        if (outside_ascii(lines[k])) {
            sample.push_back(k);
            sample_scores.push_back(score_text(lines[k]));
            sample_bytes += lines[k].size();
        }
    if (sample.empty()) {
        out.append(block);
        return;
    }
    struct Candidate {
        std::size_t reading;
        std::int64_t gain;
    };
    std::vector<Candidate> taken;
    std::string undone;
    for (std::size_t r = 0; r < st.readings.size(); ++r) {
        std::int64_t gain = 0;
        std::uint64_t valid = 0, invalid = 0;
        bool any = false;
        const Reading& reading = st.readings[r];
        const bool legacy = reading.layers[reading.depth - 1].original != kUtf8;
        for (std::size_t j = 0; j < sample.size() && gain > kGiveUp; ++j) {
            // Legacy bytes shown as Windows-1252 are Windows-1252 text too: only a line that
            // reads badly as it stands is theirs.
            if (legacy && sample_scores[j].invalid == 0) continue;
            std::size_t unfilled = 0;
            if (!st.undo(reading, lines[sample[j]], undone, unfilled)) continue;
            any = true;
            const TextScore after = score_text(undone);
            gain += after.weight - sample_scores[j].weight;
            valid += after.valid;
            invalid += after.invalid;
        }
        if (!any || gain < kMinGain || valid < kMinValid ||
            valid * 100 < (valid + invalid) * kMinValidPercent)
            continue;
        taken.push_back({r, gain});
    }
    std::stable_sort(taken.begin(), taken.end(),
                     [](const Candidate& a, const Candidate& b) { return a.gain > b.gain; });
    if (taken.size() > kKept) taken.resize(kKept);

    // Each line: the first of the kept readings that makes it better (a UTF-8 reading may
    // leave the weight as it is: punctuation such as "\xE2\x80\x93" has no syllables).
    std::uint64_t last_changed = 0;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const std::string_view line = lines[k];
        const std::uint64_t number = first_line + k;
        bool done = false;
        if (outside_ascii(line) && !taken.empty()) {
            const TextScore before = score_text(line);
            for (const Candidate& c : taken) {
                const Reading& reading = st.readings[c.reading];
                std::size_t unfilled = 0;
                if (!st.undo(reading, line, undone, unfilled)) continue;
                const TextScore after = score_text(undone);
                // A UTF-8 reading may leave the weight as it is (punctuation has no
                // syllables): its bytes decoding as UTF-8 is evidence enough. Legacy bytes shown
                // as Windows-1252 must mend words that are no syllables as they stand, or good
                // Windows-1252 text ("S\xC3\xA8 s\xC3\xA8") would become other words.
                const bool utf8 = reading.layers[reading.depth - 1].original == kUtf8;
                if (after.weight < before.weight || (after.weight == before.weight && !utf8) ||
                    after.invalid > before.invalid ||
                    (!utf8 && (before.invalid == 0 || after.invalid >= before.invalid)))
                    continue;
                out.append(undone);
                report.characters += characters_outside_ascii(undone);
                if (unfilled != 0) {
                    if (report.unrecovered == 0) {
                        report.first_unrecovered_line = number;
                        report.first_unrecovered_column =
                            column_of(undone, undone.find("\xEF\xBF\xBD"));
                    }
                    report.unrecovered += unfilled;
                }
                // A range goes on over lines in between that hold only ASCII.
                bool joined = false;
                if (!report.ranges.empty() && report.ranges.back().reading == reading) {
                    joined = true;
                    for (std::uint64_t m = last_changed + 1; m < number && joined; ++m)
                        joined = m < first_line || !outside_ascii(lines[m - first_line]);
                }
                if (joined) {
                    report.ranges.back().last = number;
                } else if (report.ranges.size() < RepairReport::kMaxRanges) {
                    report.ranges.push_back({number, number, reading});
                } else {
                    ++report.more_ranges;
                    report.ranges.back() = {number, number, reading};
                }
                last_changed = number;
                done = true;
                break;
            }
        }
        if (!done) out.append(line);
    }
}

}  // namespace toneshift::repair
