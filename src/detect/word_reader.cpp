#include "detect/word_reader.h"

#include <utf8proc.h>

#include "detect/syllable.h"
#include "tables/letter_unicode.h"

namespace toneshift::detect {

namespace {

constexpr int tone_of_mark(char m) {
    for (int t = 0; t < 5; ++t)
        if (kToneMarks[t] == m) return t + 1;
    return 0;
}

// Every letter position as a syllable letter, from its VIQR name.
constexpr auto letter_info = [] {
    std::array<SyllableLetter, kLetterCount> out{};
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const LetterName& n = letter_names[p];
        SyllableLetter l;
        const char first = n.text[0];
        l.capital = first >= 'A' && first <= 'Z';
        if (first == 'd' || first == 'D') {
            l.base = 'D';
        } else {
            l.base = l.capital ? char(first - 'A' + 'a') : first;
            for (std::size_t i = 1; i < n.size(); ++i) {
                const char m = n.text[i];
                if (m == '^' || m == '(' || m == '+') {
                    l.shape = m;
                } else {
                    l.tone = std::uint8_t(tone_of_mark(m));
                }
            }
        }
        out[p] = l;
    }
    return out;
}();

static_assert(letter_info[0].base == 'D' && letter_info[8].shape == '^' &&
              letter_info[8].tone == 1 && letter_info[131].capital);

constexpr SyllableLetter ascii_letter(unsigned char b) {
    SyllableLetter l;
    l.capital = b >= 'A' && b <= 'Z';
    l.base = l.capital ? char(b - 'A' + 'a') : char(b);
    return l;
}

constexpr bool is_vowel_base(char b) {
    return b == 'a' || b == 'e' || b == 'i' || b == 'o' || b == 'u' || b == 'y';
}

constexpr bool takes_shape(char base, char shape) {
    return (shape == '^' && (base == 'a' || base == 'e' || base == 'o')) ||
           (shape == '(' && base == 'a') || (shape == '+' && (base == 'o' || base == 'u'));
}

// The letters of one syllable as a candidate reads them.
struct Syllable {
    SyllableLetter letters[kMaxSyllableLetters];
    std::size_t count = 0;
    bool overflow = false;  // more letters than any syllable has
    bool marked = false;    // a letter outside ASCII
    bool foreign = false;   // a letter that Vietnamese does not use
    bool weak = true;       // VIQR: every mark a final "?" or "."

    void add(const SyllableLetter& l) {
        if (count == kMaxSyllableLetters) {
            overflow = true;
            return;
        }
        letters[count++] = l;
    }
    SyllableLetter* last() { return count != 0 && !overflow ? &letters[count - 1] : nullptr; }
    // Adds the syllable to the score of candidate c, and starts the next one.
    void end(WordScore& score, int c) {
        // A letter standing alone is most often a symbol that some format reads as a
        // letter (a dash, a quotation mark, "U+" in "U+002C"), unless it is one of the
        // common one-letter words.
        const bool lone = count == 1 && !foreign && !common_syllable(letters, count);
        if (marked && !(lone && c != kViqr)) {
            const bool ok = !overflow && !foreign && valid_syllable(letters, count);
            if (c == kViqr && (weak || lone)) {
                ++(ok ? score.weak_valid : score.weak_invalid);
            } else {
                ++(ok ? score.valid[std::size_t(c)] : score.invalid[std::size_t(c)]);
                if (ok && known_syllable(letters, count)) ++score.known[std::size_t(c)];
                if (ok && common_syllable(letters, count)) ++score.common[std::size_t(c)];
            }
        }
        *this = Syllable{};
    }
};

void score_eight_bit(const unsigned char* bytes, std::size_t size, int f, WordScore& score) {
    const auto& meaning = byte_meaning[std::size_t(f)];
    Syllable s;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t m = meaning[bytes[i]];
        if (m < kLetterCount) {
            s.add(letter_info[m]);
            // A letter on an ASCII byte standing alone ("|", "~") is punctuation first.
            const bool alone = bytes[i] < 0x80 && s.count == 1 &&
                               (i + 1 == size || meaning[bytes[i + 1]] >= kSeparator);
            s.marked = s.marked || !alone;
        } else if (m == kAsciiLetter) {
            s.add(ascii_letter(bytes[i]));
        } else {
            if (m == kUndefinedByte) ++score.undefined[std::size_t(f)];
            s.end(score, f);
        }
    }
    s.end(score, f);
}

// One character outside ASCII, as UTF-8 and the byte encodings give them: a precomposed
// letter, a combining mark on the letter before it, or any other letter as foreign;
// anything else ends the syllable.
void add_character(Syllable& s, char32_t cp, WordScore& score, int c) {
    const int p = letter_position(cp);
    if (p >= 0) {
        s.marked = true;
        s.add(letter_info[std::size_t(p)]);
        return;
    }
    char shape = '\0';
    int tone = 0;
    switch (cp) {
        case 0x302:
            shape = '^';
            break;
        case 0x306:
            shape = '(';
            break;
        case 0x31B:
            shape = '+';
            break;
        case 0x301:
            tone = 1;
            break;
        case 0x300:
            tone = 2;
            break;
        case 0x309:
            tone = 3;
            break;
        case 0x303:
            tone = 4;
            break;
        case 0x323:
            tone = 5;
            break;
        default:
            break;
    }
    if (shape != '\0' || tone != 0) {
        s.marked = true;
        SyllableLetter* l = s.last();
        if (l == nullptr || !is_vowel_base(l->base) || (tone != 0 && l->tone != 0) ||
            (shape != '\0' && (l->shape != '\0' || !takes_shape(l->base, shape)))) {
            s.foreign = true;
        } else if (shape != '\0') {
            l->shape = shape;
        } else {
            l->tone = std::uint8_t(tone);
        }
        return;
    }
    const utf8proc_category_t cat = utf8proc_category(utf8proc_int32_t(cp));
    if (cat >= UTF8PROC_CATEGORY_LU && cat <= UTF8PROC_CATEGORY_ME) {
        s.marked = true;
        s.foreign = true;
        s.add(SyllableLetter{});
    } else {
        s.end(score, c);
    }
}

void add_ascii(Syllable& s, char32_t cp, WordScore& score, int c) {
    if (is_ascii_letter(unsigned(cp))) {
        s.add(ascii_letter(static_cast<unsigned char>(cp)));
    } else {
        s.end(score, c);
    }
}

// UTF-8. An invalid sequence counts as undefined, as a converter reports it.
void score_utf8(const unsigned char* bytes, std::size_t size, WordScore& score) {
    Syllable s;
    std::size_t i = 0;
    while (i < size) {
        utf8proc_int32_t cp = 0;
        const utf8proc_ssize_t n = utf8proc_iterate(bytes + i, utf8proc_ssize_t(size - i), &cp);
        if (n <= 0) {
            ++score.undefined[kUtf8];
            s.end(score, kUtf8);
            ++i;
            while (i < size && (bytes[i] & 0xC0) == 0x80) ++i;  // one per maximal subpart
            continue;
        }
        i += std::size_t(n);
        if (cp < 0x80) {
            add_ascii(s, char32_t(cp), score, kUtf8);
        } else {
            add_character(s, char32_t(cp), score, kUtf8);
        }
    }
    s.end(score, kUtf8);
}

// A byte encoding, read as its converter reads it: a base and a mark byte that spell a
// letter together, else each byte alone; a byte that means nothing alone is undefined.
void score_codec(const unsigned char* bytes, std::size_t size, int f, WordScore& score) {
    const ByteCodec& codec = byte_codec(f);
    Syllable s;
    for (std::size_t i = 0; i < size; ++i) {
        char32_t cp = codec.single[bytes[i]];
        if (codec.base_index[bytes[i]] != 0 && i + 1 < size) {
            const char32_t pair = pair_of(codec, bytes[i], bytes[i + 1]);
            if (pair != kNoCharacter) {
                cp = pair;
                ++i;
            }
        }
        // A control byte inside a word is no text: this reading is wrong where another
        // reads the byte as a letter.
        if (cp == kNoCharacter || (cp < 0x80 && is_binary_control(unsigned(cp)))) {
            ++score.undefined[std::size_t(f)];
            s.end(score, f);
        } else if (cp < 0x80) {
            add_ascii(s, cp, score, f);
        } else {
            add_character(s, cp, score, f);
        }
    }
    s.end(score, f);
}

// VIQR: a vowel takes a shape mark and then a tone mark written after it, and "dd" is the
// d with stroke. A mark that cannot join the letter before it is punctuation.
void score_viqr(const unsigned char* bytes, std::size_t size, WordScore& score) {
    Syllable s;
    bool plain_d = false;     // the last letter is a d that may become the d with stroke
    bool final_tone = false;  // the last byte was a "?" or "." joined as a tone
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char b = bytes[i];
        if (b >= 0x80) {
            ++score.undefined[kViqr];
            s.end(score, kViqr);
            plain_d = final_tone = false;
            continue;
        }
        if (is_ascii_letter(b)) {
            if (final_tone) s.weak = false;  // a letter follows the mark: not punctuation
            final_tone = false;
            if (plain_d && (b == 'd' || b == 'D') && s.last() != nullptr) {
                s.last()->base = 'D';
                s.marked = true;
                s.weak = false;
                plain_d = false;
                continue;
            }
            s.add(ascii_letter(b));
            plain_d = b == 'd' || b == 'D';
            continue;
        }
        if (b == '\\' && i + 1 < size && i > 0 &&
            (is_ascii_letter(bytes[i - 1]) || tone_of_mark(char(bytes[i - 1])) != 0 ||
             takes_shape('a', char(bytes[i - 1])) || takes_shape('o', char(bytes[i - 1]))) &&
            (tone_of_mark(char(bytes[i + 1])) != 0 || takes_shape('a', char(bytes[i + 1])) ||
             takes_shape('o', char(bytes[i + 1])) ||
             (plain_d && (bytes[i + 1] == 'd' || bytes[i + 1] == 'D')))) {
            // An escape that keeps the next byte from joining the letter before it: only
            // VIQR writes these.
            ++score.valid[kViqr];
            s.end(score, kViqr);
            plain_d = final_tone = false;
            ++i;
            continue;
        }
        plain_d = false;
        SyllableLetter* l = s.last();
        const char m = char(b);
        const int tone = tone_of_mark(m);
        if (l != nullptr && is_vowel_base(l->base)) {
            if (tone == 0 && l->tone == 0 && l->shape == '\0' && takes_shape(l->base, m)) {
                l->shape = m;
                s.marked = true;
                s.weak = false;
                final_tone = false;
                continue;
            }
            if (tone != 0 && l->tone == 0) {
                l->tone = std::uint8_t(tone);
                s.marked = true;
                final_tone = m == '?' || m == '.';
                if (!final_tone) s.weak = false;
                continue;
            }
        }
        final_tone = false;
        s.end(score, kViqr);
    }
    s.end(score, kViqr);
}

}  // namespace

SyllableLetter syllable_letter(std::size_t position) {
    return letter_info[position];
}

WordScore score_utf8_word(const unsigned char* bytes, std::size_t size) {
    WordScore score;
    score_utf8(bytes, size, score);
    return score;
}

WordScore score_word(const unsigned char* bytes, std::size_t size) {
    WordScore score;
    for (int f = 0; f < kPlainVietnamese; ++f) score_eight_bit(bytes, size, f, score);
    score_viqr(bytes, size, score);
    score_utf8(bytes, size, score);
    for (int f = kTcvn3; f < kCandidateCount; ++f)
        if (is_byte_candidate(f)) score_codec(bytes, size, f, score);
    return score;
}

}  // namespace toneshift::detect
