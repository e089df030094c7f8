#include "repair/tone_style.h"

#include <utf8proc.h>

#include <array>
#include <cstring>
#include <memory>

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

// The word written back, precomposed, into `out` (room for kMaxWordBytes); its size, or 0
// where a letter has no character.
std::size_t write_word(const SyllableLetter* letters, std::size_t count, char* out) {
    std::size_t size = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const SyllableLetter& l = letters[k];
        if (l.shape == '\0' && l.tone == 0 && l.base != 'D') {
            out[size++] = l.capital ? char(l.base - 'a' + 'A') : l.base;
            continue;
        }
        const std::int16_t at = positions().of[key_of(l.base, l.shape, l.tone, l.capital)];
        if (at < 0) return 0;
        size +=
            std::size_t(utf8proc_encode_char(utf8proc_int32_t(letter_code_points[std::size_t(at)]),
                                             reinterpret_cast<utf8proc_uint8_t*>(out + size)));
    }
    return size;
}
static_assert(PlacedWord::kMaxWordBytes >= 3 * detect::kMaxSyllableLetters,
              "a letter is at most three bytes");

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

// Whether the word [start, end) of `text` changes: then `word` says where and into what.
bool placed(std::string_view text, std::size_t start, std::size_t end, const ToneOptions& options,
            PlacedWord& word) {
    Letters letters{}, moved{};
    std::size_t count = 0;
    word.start = start;
    word.end = end;
    word.size = 0;
    if (!place_word(text.substr(start, end - start), options, letters, moved, count)) return false;
    word.size = write_word(moved.data(), count, word.bytes);
    return word.size != 0;
}

}  // namespace

// The words looked at last, each in the slot its bytes hash to: what each becomes (or that it
// stays). The result of a word depends on its bytes and the options alone.
struct WordMemory {
    static constexpr std::size_t kSlots = 2048;  // a power of two
    static constexpr std::size_t kLongest = 32;
    struct Slot {
        std::uint8_t size = 0xFF;      // of `bytes`; 0xFF for none
        std::uint8_t placed_size = 0;  // 0: the word stays
        char bytes[kLongest];
        char placed[PlacedWord::kMaxWordBytes];
    };
    std::array<Slot, kSlots> slots;
};

namespace {

bool placed(std::string_view text, std::size_t start, std::size_t end, const ToneOptions& options,
            PlacedWord& word, WordMemory* memory) {
    const std::size_t size = end - start;
    if (memory == nullptr || size > WordMemory::kLongest)
        return placed(text, start, end, options, word);
    const char* bytes = text.data() + start;
    std::uint32_t hash = 2166136261u;
    for (std::size_t k = 0; k < size; ++k)
        hash = (hash ^ static_cast<unsigned char>(bytes[k])) * 16777619u;
    WordMemory::Slot& slot = memory->slots[(hash ^ (hash >> 15)) & (WordMemory::kSlots - 1)];
    if (slot.size == size && std::memcmp(slot.bytes, bytes, size) == 0) {
        word.start = start;
        word.end = end;
        word.size = slot.placed_size;
        std::memcpy(word.bytes, slot.placed, word.size);
        return word.size != 0;
    }
    const bool changes = placed(text, start, end, options, word);
    slot.size = std::uint8_t(size);
    std::memcpy(slot.bytes, bytes, size);
    slot.placed_size = std::uint8_t(changes ? word.size : 0);
    std::memcpy(slot.placed, word.bytes, slot.placed_size);
    return changes;
}

// Restyling alone: only words that the vector scan flags are looked at.
bool next_flagged(std::string_view text, std::size_t from, const ToneOptions& options,
                  PlacedWord& word, WordMemory* memory) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = from;  // no word from here on is flagged before i
    for (;;) {
        const std::size_t k = find_marked_glide(p, i, n);
        if (k == n) return false;
        // The word around k: the flagged byte is always a word byte, and every flag is in a
        // word with a byte outside ASCII, as next_word_by_word() reads it.
        std::size_t start = k, end = k;
        while (start > i && word_byte(p[start - 1])) --start;
        while (end < n && word_byte(p[end])) ++end;
        i = end;
        if (placed(text, start, end, options, word, memory)) return true;
    }
}

// Every word with a byte outside ASCII looked at, a byte at a time: the reference.
bool next_word_by_word(std::string_view text, std::size_t from, const ToneOptions& options,
                       PlacedWord& word, WordMemory* memory) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = from;
    while (i < text.size()) {
        if (p[i] < 0x80) {  // ASCII, or the start of a word whose first letter is ASCII
            if (!word_byte(p[i]) || (i + 1 < text.size() && p[i + 1] < 0x80)) {
                ++i;
                continue;
            }
        }
        // A word that holds a byte outside ASCII: from its first letter to its end.
        std::size_t start = i;
        while (start > from && word_byte(p[start - 1])) --start;
        while (i < text.size() && word_byte(p[i])) ++i;
        if (placed(text, start, i, options, word, memory)) return true;
    }
    return false;
}

// The same words as next_word_by_word(), found from the bytes outside ASCII, eight bytes at
// a time between them: a word of ASCII letters alone never changes (no mark, nothing
// decomposed).
bool next_outside_ascii(std::string_view text, std::size_t from, const ToneOptions& options,
                        PlacedWord& word, WordMemory* memory) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = from;
    for (;;) {
        for (std::uint64_t eight = 0; i + 8 <= n; i += 8) {
            std::memcpy(&eight, p + i, 8);
            if ((eight & 0x8080808080808080u) != 0) break;
        }
        while (i < n && p[i] < 0x80) ++i;
        if (i == n) return false;
        std::size_t start = i;
        while (start > from && word_byte(p[start - 1])) --start;
        while (i < n && word_byte(p[i])) ++i;
        if (placed(text, start, i, options, word, memory)) return true;
    }
}

bool next_any(std::string_view text, std::size_t from, const ToneOptions& options, PlacedWord& word,
              WordMemory* memory) {
    return options.restyle && !options.fix ? next_flagged(text, from, options, word, memory)
                                           : next_outside_ascii(text, from, options, word, memory);
}

using NextWord = bool (*)(std::string_view, std::size_t, const ToneOptions&, PlacedWord&,
                          WordMemory*);

std::size_t place_all(std::string_view text, const ToneOptions& options, std::string& out,
                      NextWord next, WordMemory* memory) {
    std::size_t changed = 0, copied = 0;
    PlacedWord word;
    while (next(text, copied, options, word, memory)) {
        out.append(text.substr(copied, word.start - copied));
        out.append(word.bytes, word.size);
        copied = word.end;
        ++changed;
    }
    out.append(text.substr(copied));
    return changed;
}

}  // namespace

bool next_placed_word(std::string_view text, std::size_t from, const ToneOptions& options,
                      PlacedWord& word) {
    return next_any(text, from, options, word, nullptr);
}

std::size_t place_tones(std::string_view text, const ToneOptions& options, std::string& out) {
    return place_all(text, options, out, &next_any, nullptr);
}

std::size_t place_tones_word_by_word(std::string_view text, const ToneOptions& options,
                                     std::string& out) {
    return place_all(text, options, out, &next_word_by_word, nullptr);
}

TonePlacer::TonePlacer(const ToneOptions& options)
    : options_(options), memory_(std::make_unique<WordMemory>()) {}

TonePlacer::~TonePlacer() = default;
TonePlacer::TonePlacer(TonePlacer&&) noexcept = default;
TonePlacer& TonePlacer::operator=(TonePlacer&&) noexcept = default;

bool TonePlacer::next(std::string_view text, std::size_t from, PlacedWord& word) {
    return next_any(text, from, options_, word, memory_.get());
}

std::size_t TonePlacer::place(std::string_view text, std::string& out) {
    return place_all(text, options_, out, &next_any, memory_.get());
}

}  // namespace toneshift::repair
