#include "repair/tone_style.h"

#include <utf8proc.h>

#include <array>

#include "detect/word_reader.h"
#include "repair/text.h"
#include "repair/tone_scan.h"
#include "tables/letter_unicode.h"

namespace toneshift::repair {

namespace {

using detect::SyllableLetter;

// A letter's position from its base, shape, tone and case; -1 for a plain ASCII letter.
constexpr std::size_t kShapes = 4;  // none, ^, (, +
constexpr std::size_t shape_index(char shape) {
    return shape == '^' ? 1 : shape == '(' ? 2 : shape == '+' ? 3 : 0;
}
constexpr std::size_t base_index(char base) {
    return base == 'D' ? 26 : std::size_t(base - 'a');
}
constexpr std::size_t key_of(char base, char shape, unsigned tone, bool capital) {
    return ((base_index(base) * kShapes + shape_index(shape)) * 6 + tone) * 2 + (capital ? 1 : 0);
}
inline constexpr std::size_t kKeys = 27 * kShapes * 6 * 2;

struct Positions {
    std::array<std::int16_t, kKeys> of{};
};

Positions make_positions() {
    Positions p;
    p.of.fill(-1);
    for (std::size_t k = 0; k < kLetterCount; ++k) {
        const SyllableLetter l = detect::syllable_letter(k);
        p.of[key_of(l.base, l.shape, l.tone, l.capital)] = std::int16_t(k);
    }
    return p;
}

const Positions& positions() {
    static const Positions p = make_positions();
    return p;
}

// The word's letters, or false when it holds anything else or more than a syllable's.
bool read_word(std::string_view word, std::array<SyllableLetter, detect::kMaxSyllableLetters>& out,
               std::size_t& count) {
    count = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(word.data());
    std::size_t i = 0;
    while (i < word.size()) {
        utf8proc_int32_t c = 0;
        const auto n = utf8proc_iterate(p + i, utf8proc_ssize_t(word.size() - i), &c);
        if (n <= 0) return false;
        i += std::size_t(n);
        SyllableLetter l;
        if (c < 0x80) {
            l.capital = c >= 'A' && c <= 'Z';
            l.base = char(l.capital ? c - 'A' + 'a' : c);
        } else if (const int at = letter_position(char32_t(c)); at >= 0) {
            l = detect::syllable_letter(std::size_t(at));
        } else {
            // A combining mark on the letter before it.
            if (count == 0) return false;
            SyllableLetter& last = out[count - 1];
            switch (c) {
                case 0x302:
                case 0x306:
                case 0x31B: {
                    const char shape = c == 0x302 ? '^' : c == 0x306 ? '(' : '+';
                    if (last.shape != '\0') return false;
                    last.shape = shape;
                    continue;
                }
                case 0x301:
                case 0x300:
                case 0x309:
                case 0x303:
                case 0x323: {
                    if (last.tone != 0) return false;
                    last.tone = c == 0x301   ? 1
                                : c == 0x300 ? 2
                                : c == 0x309 ? 3
                                : c == 0x303 ? 4
                                             : 5;
                    continue;
                }
                default:
                    return false;
            }
        }
        if (count == out.size()) return false;
        out[count++] = l;
    }
    return count != 0;
}

// The word written back, precomposed; false where a letter has no character.
bool write_word(const SyllableLetter* letters, std::size_t count, std::string& out) {
    for (std::size_t k = 0; k < count; ++k) {
        const SyllableLetter& l = letters[k];
        if (l.shape == '\0' && l.tone == 0 && l.base != 'D') {
            out.push_back(l.capital ? char(l.base - 'a' + 'A') : l.base);
            continue;
        }
        const std::int16_t at = positions().of[key_of(l.base, l.shape, l.tone, l.capital)];
        if (at < 0) return false;
        append_utf8(out, letter_code_points[std::size_t(at)]);
    }
    return true;
}

// Whether a word may end in a glide with its mark (o-a, o-e, u-y, one of the two marked),
// from its bytes alone: restyling leaves every other word as it is, undecoded. A word with a
// combining mark is always decoded.
bool may_end_in_marked_glide(std::string_view word) {
    const auto* p = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t n = word.size();
    for (std::size_t k = 0; k < n; ++k)
        if (p[k] == 0xCC || p[k] == 0xCD) return true;  // U+0300..U+036F
    if (n < 2) return false;
    if (p[n - 1] < 0x80) {  // a plain a, e or y after a marked o or u
        const unsigned last = p[n - 1] | 0x20u;
        return (last == 'a' || last == 'e' || last == 'y') && p[n - 2] >= 0x80;
    }
    std::size_t k = n - 1;  // a marked a, e or y after a plain o or u
    while (k > 0 && (p[k] & 0xC0) == 0x80) --k;
    if (k == 0) return false;
    const unsigned before = p[k - 1] | 0x20u;
    return before == 'o' || before == 'u';
}

using Letters = std::array<SyllableLetter, detect::kMaxSyllableLetters>;

// Whether `word` changes: then `moved` holds its letters with the mark placed, `count` of them.
bool place_word(std::string_view word, const ToneOptions& options, Letters& letters, Letters& moved,
                std::size_t& count) {
    if (!options.fix && !may_end_in_marked_glide(word)) return false;
    if (!read_word(word, letters, count)) return false;
    std::size_t tones = 0, at = 0;
    for (std::size_t k = 0; k < count; ++k)
        if (letters[k].tone != 0) {
            ++tones;
            at = k;
        }
    // Where the mark goes: the style's place where a style is asked for; else, fixing, the
    // rules' place for a mark that sits where no style puts it.
    int target = -1;
    // Restyling alone moves only the mark of an open glide: a word that ends in o-a, o-e or
    // u-y without shapes, the mark on one of the two. Every other word is left without asking
    // the syllable rules.
    const bool glide = count >= 2 && letters[count - 1].shape == '\0' &&
                       letters[count - 2].shape == '\0' && at + 2 >= count &&
                       ((letters[count - 2].base == 'o' &&
                         (letters[count - 1].base == 'a' || letters[count - 1].base == 'e')) ||
                        (letters[count - 2].base == 'u' && letters[count - 1].base == 'y'));
    if (tones == 1 && (glide || options.fix)) {
        if (options.restyle && (options.fix || detect::valid_syllable(letters.data(), count))) {
            target = detect::tone_place(letters.data(), count, options.style);
        } else if (options.fix) {
            // Fixing alone keeps either style: a mark is misplaced when it sits where neither
            // puts it ("q\xC3\xBA" "a" for "qu\xC3\xA1", which the syllable rules also read as
            // q + "\xC3\xBA" "a").
            const int old_place =
                detect::tone_place(letters.data(), count, detect::ToneStyle::kTraditional);
            const int new_place =
                detect::tone_place(letters.data(), count, detect::ToneStyle::kNew);
            if (old_place >= 0 && std::size_t(old_place) != at && std::size_t(new_place) != at)
                target = old_place;
        }
    }
    if (target < 0 || std::size_t(target) == at) return false;
    moved = letters;
    moved[std::size_t(target)].tone = letters[at].tone;
    moved[at].tone = 0;
    return detect::valid_syllable(moved.data(), count);
}

// Writes the text from `copied` to the word [start, end) and the word as `moved` spells it;
// where a letter has no character the word is left to be copied as it is.
bool write_changed(std::string_view text, std::size_t& copied, std::size_t start, std::size_t end,
                   const Letters& moved, std::size_t count, std::string& out) {
    out.append(text.substr(copied, start - copied));
    copied = start;
    const std::size_t size = out.size();
    if (write_word(moved.data(), count, out)) {
        copied = end;
        return true;
    }
    out.resize(size);
    return false;
}

// Restyling alone: only words that the vector scan flags are looked at.
std::size_t restyle_flagged(std::string_view text, const ToneOptions& options, std::string& out) {
    std::size_t changed = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    Letters letters{}, moved{};
    std::size_t copied = 0;  // text up to here is in `out`
    std::size_t i = 0;       // no word before here is flagged or unfinished
    for (;;) {
        const std::size_t k = find_marked_glide(p, i, n);
        if (k == n) break;
        // The word around k: the flagged byte is always a word byte, and every flag is in a
        // word with a byte outside ASCII, as place_tones_word_by_word() reads it.
        std::size_t start = k, end = k;
        while (start > i && word_byte(p[start - 1])) --start;
        while (end < n && word_byte(p[end])) ++end;
        i = end;
        std::size_t count = 0;
        if (place_word(text.substr(start, end - start), options, letters, moved, count) &&
            write_changed(text, copied, start, end, moved, count, out))
            ++changed;
    }
    out.append(text.substr(copied));
    return changed;
}

}  // namespace

std::size_t place_tones_word_by_word(std::string_view text, const ToneOptions& options,
                                     std::string& out) {
    std::size_t changed = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    Letters letters{}, moved{};
    // Text up to `copied` is in `out`; an unchanged stretch is appended whole when the next
    // changed word (or the end) comes.
    std::size_t copied = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        if (p[i] < 0x80) {  // ASCII, or the start of a word whose first letter is ASCII
            if (!word_byte(p[i]) || (i + 1 < text.size() && p[i + 1] < 0x80)) {
                ++i;
                continue;
            }
        }
        // A word that holds a byte outside ASCII: from its first letter to its end.
        std::size_t start = i;
        while (start > copied && word_byte(p[start - 1])) --start;
        while (i < text.size() && word_byte(p[i])) ++i;
        std::size_t count = 0;
        if (place_word(text.substr(start, i - start), options, letters, moved, count) &&
            write_changed(text, copied, start, i, moved, count, out))
            ++changed;
    }
    out.append(text.substr(copied));
    return changed;
}

std::size_t place_tones(std::string_view text, const ToneOptions& options, std::string& out) {
    if (options.restyle && !options.fix) return restyle_flagged(text, options, out);
    return place_tones_word_by_word(text, options, out);
}

}  // namespace toneshift::repair
