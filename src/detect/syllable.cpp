#include "detect/syllable.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "detect/common_syllables.h"

namespace toneshift::detect {

namespace {

// Letters of a syllable as one character each: the shaped vowels as capitals (A a^, W a(,
// E e^, O o^, P o+, U u+), the d with stroke as D, every other letter as itself.
constexpr char compact(char base, char shape) {
    switch (shape) {
        case '^':
            return base == 'a' ? 'A' : base == 'e' ? 'E' : base == 'o' ? 'O' : '\0';
        case '(':
            return base == 'a' ? 'W' : '\0';
        case '+':
            return base == 'o' ? 'P' : base == 'u' ? 'U' : '\0';
        default:
            return base;
    }
}

constexpr bool is_vowel(char c) {
    switch (c) {
        case 'a':
        case 'e':
        case 'i':
        case 'o':
        case 'u':
        case 'y':
        case 'A':
        case 'W':
        case 'E':
        case 'O':
        case 'P':
        case 'U':
            return true;
        default:
            return false;
    }
}

constexpr bool is_shaped(char c) {
    return c >= 'A' && c <= 'Z' && c != 'D';
}

// Every rhyme of the language, written with the shape marks after their vowel.
constexpr std::string_view kRhymeText =
    // a, a(, a^
    "a ai ao au ay ac ach am an ang anh ap at "
    "a(c a(m a(n a(ng a(p a(t "
    "a^c a^m a^n a^ng a^p a^t a^u a^y "
    // e, e^
    "e eo ec em en eng ep et "
    "e^ e^u e^ch e^m e^n e^nh e^p e^t "
    // i, ie^, ye^, y
    "i ia iu ich im in inh ip it "
    "ie^c ie^m ie^n ie^ng ie^p ie^t ie^u "
    "ye^m ye^n ye^ng ye^t ye^u y "
    // o, o^, o+
    "o oi oc om on ong op ot ooc oong "
    "o^ o^i o^c o^m o^n o^ng o^p o^t "
    "o+ o+i o+m o+n o+p o+t "
    // u, uo^, u+, u+o+
    "u ua ui uc um un ung up ut "
    "uo^c uo^i uo^m uo^n uo^ng uo^t "
    "u+ u+a u+i u+u u+c u+m u+n u+ng u+t "
    "u+o+c u+o+i u+o+m u+o+n u+o+ng u+o+p u+o+t u+o+u "
    // the rounded glide before a vowel
    "oa oai oao oay oac oach oam oan oang oanh oap oat "
    "oa(c oa(m oa(n oa(ng oa(t "
    "oe oeo oem oen oet "
    "ua^n ua^ng ua^t ua^y "
    "ue^ ue^ch ue^n ue^nh ue^t "
    "uo+ "
    "uy uya uyu uych uyn uynh uyp uyt uye^n uye^t";

constexpr std::size_t kMaxRhyme = 6;
struct Rhyme {
    char text[kMaxRhyme] = {};
    std::size_t size = 0;
};

constexpr std::size_t count_rhymes() {
    std::size_t n = 0;
    bool in_word = false;
    for (char c : kRhymeText) {
        if (c != ' ' && !in_word) ++n;
        in_word = c != ' ';
    }
    return n;
}

constexpr auto kRhymes = [] {
    std::array<Rhyme, count_rhymes()> out{};
    std::size_t n = 0;
    std::size_t i = 0;
    while (i < kRhymeText.size()) {
        if (kRhymeText[i] == ' ') {
            ++i;
            continue;
        }
        Rhyme r;
        while (i < kRhymeText.size() && kRhymeText[i] != ' ') {
            const char c = kRhymeText[i];
            if (c == '^' || c == '(' || c == '+') {
                r.text[r.size - 1] = compact(r.text[r.size - 1], c);
            } else {
                r.text[r.size++] = c;
            }
            ++i;
        }
        out[n++] = r;
    }
    return out;
}();

// Each rhyme once, and no mark left unattached.
constexpr bool rhymes_well_formed() {
    for (std::size_t i = 0; i < kRhymes.size(); ++i) {
        for (std::size_t k = 0; k < kRhymes[i].size; ++k)
            if (kRhymes[i].text[k] == '\0') return false;
        for (std::size_t j = i + 1; j < kRhymes.size(); ++j) {
            if (kRhymes[i].size != kRhymes[j].size) continue;
            std::size_t k = 0;
            while (k < kRhymes[i].size && kRhymes[i].text[k] == kRhymes[j].text[k]) ++k;
            if (k == kRhymes[i].size) return false;
        }
    }
    return true;
}
static_assert(rhymes_well_formed());

// A rhyme as a number, five bits a letter, for a binary search.
constexpr std::uint32_t rhyme_code(const char* text, std::size_t size) {
    constexpr std::string_view kAlphabet = "aeiouyAWEOPUchmngpt";
    std::uint32_t code = 0;
    for (std::size_t k = 0; k < size; ++k) {
        const std::size_t at = kAlphabet.find(text[k]);
        if (at == std::string_view::npos) return 0;
        code = code * 32 + std::uint32_t(at + 1);
    }
    return code;
}

constexpr auto kRhymeCodes = [] {
    std::array<std::uint32_t, kRhymes.size()> out{};
    for (std::size_t i = 0; i < kRhymes.size(); ++i)
        out[i] = rhyme_code(kRhymes[i].text, kRhymes[i].size);
    std::sort(out.begin(), out.end());
    return out;
}();

constexpr bool is_rhyme(const char* text, std::size_t size) {
    if (size == 0 || size > kMaxRhyme) return false;
    const std::uint32_t code = rhyme_code(text, size);
    return code != 0 && std::binary_search(kRhymeCodes.begin(), kRhymeCodes.end(), code);
}

static_assert(is_rhyme("UPng", 4) && is_rhyme("uyEn", 4) && !is_rhyme("Pc", 2) &&
              !is_rhyme("ea", 2));

constexpr bool front_vowel(char c) {
    return c == 'i' || c == 'e' || c == 'E' || c == 'y';
}

constexpr bool ends_in_stop(const char* rhyme, std::size_t size) {
    const char last = rhyme[size - 1];
    return last == 'p' || last == 't' || last == 'c' || (last == 'h' && rhyme[size - 2] == 'c');
}

// Onsets, longest first so that the first match is the longest.
constexpr std::string_view kOnsets[] = {
    "ngh", "ng", "nh", "ch", "gh", "gi", "kh", "ph", "qu", "th", "tr", "b", "c", "d",
    "D",   "g",  "h",  "k",  "l",  "m",  "n",  "p",  "r",  "s",  "t",  "v", "x",
};

// Where the tone may sit in the vowels of a rhyme (indices into the rhyme), as a bit set.
constexpr unsigned tone_places(const char* rhyme, std::size_t size) {
    std::size_t first = size, last = 0, vowels = 0;
    int last_shaped = -1;
    for (std::size_t k = 0; k < size; ++k) {
        if (!is_vowel(rhyme[k])) continue;
        if (first == size) first = k;
        last = k;
        ++vowels;
        if (is_shaped(rhyme[k])) last_shaped = int(k);
    }
    if (vowels == 0) return 0;
    if (last_shaped >= 0) return 1u << last_shaped;
    if (last + 1 < size) return 1u << last;  // a final consonant: on the last vowel
    if (vowels == 1) return 1u << first;
    if (vowels == 3) return 1u << (first + 1);
    // Two vowels without a final: on the first, or either for the glides oa, oe, uy.
    const char a = rhyme[first], b = rhyme[first + 1];
    const bool glide = (a == 'o' && (b == 'a' || b == 'e')) || (a == 'u' && b == 'y');
    return glide ? (1u << first) | (1u << (first + 1)) : 1u << first;
}

// The rhyme after `onset` (the letters from `start`), with the tone at `tone_at` (or
// size when none) and tone `tone`; with `any_place`, wherever the tone sits.
bool valid_rhyme(const char* word, std::size_t size, std::size_t start, std::string_view onset,
                 std::size_t tone_at, int tone, bool any_place = false) {
    // After gi and qu the rhyme may also take the onset's last letter as its first vowel
    // ("gi" + "n" is the rhyme "in"; "qu" + "a" is "ua" after q).
    const bool merging = onset == "gi" || onset == "qu";
    for (int merged = 0; merged <= (merging ? 1 : 0); ++merged) {
        const std::size_t from = start - std::size_t(merged);
        const char* rhyme = word + from;
        const std::size_t rsize = size - from;
        if (onset == "qu" && merged == 0 && rsize == 0) continue;
        if (!is_rhyme(rhyme, rsize)) continue;
        if (merged == 0 && merging && rsize > 0 && rhyme[0] == (onset == "gi" ? 'i' : 'u'))
            continue;  // "gii", "quu"
        if (tone != 0 && !any_place) {
            if (tone_at < from) continue;
            if ((tone_places(rhyme, rsize) & (1u << (tone_at - from))) == 0) continue;
        }
        if (ends_in_stop(rhyme, rsize) && tone != 1 && tone != 5) continue;
        // k, gh and ngh come before the front vowels only; c, g and ng never do.
        const bool front = front_vowel(rhyme[0]);
        if ((onset == "k" || onset == "gh" || onset == "ngh") && !front) continue;
        if ((onset == "c" || onset == "g" || onset == "ng") && front) continue;
        return true;
    }
    return false;
}

// The place of the tone in a rhyme of the table, by style: the one place tone_places()
// allows, or for a glide the first vowel (traditional) or the second (new).
constexpr int styled_place(const char* rhyme, std::size_t size, ToneStyle style) {
    const unsigned places = tone_places(rhyme, size);
    if (places == 0) return -1;
    int first = 0;
    while ((places & (1u << first)) == 0) ++first;
    if ((places & ~(1u << first)) == 0 || style == ToneStyle::kTraditional) return first;
    return first + 1;
}

static_assert(styled_place("oa", 2, ToneStyle::kTraditional) == 0 &&
              styled_place("oa", 2, ToneStyle::kNew) == 1 &&
              styled_place("oan", 3, ToneStyle::kTraditional) == 1 &&
              styled_place("uyEn", 4, ToneStyle::kNew) == 2 &&
              styled_place("oai", 3, ToneStyle::kNew) == 1);

}  // namespace

int tone_place(const SyllableLetter* letters, std::size_t count, ToneStyle style) {
    if (count == 0 || count > kMaxSyllableLetters) return -1;
    // The letters, wherever their tone sits, must make a syllable (a stop final takes only
    // the acute or the dot); the rhyme after the onset that makes it says where the tone goes.
    char word[kMaxSyllableLetters];
    int tone = 0;
    for (std::size_t k = 0; k < count; ++k) {
        word[k] = compact(letters[k].base, letters[k].shape);
        if (word[k] == '\0') return -1;
        if (letters[k].tone != 0) tone = letters[k].tone;
    }
    // After onset (its first `size` letters), the rhyme as valid_rhyme() reads it: after gi
    // and qu the onset's last letter may be the rhyme's first ("gi" + "n" is g + "in").
    auto place_after = [&](std::string_view onset) -> int {
        const bool merging = onset == "gi" || onset == "qu";
        for (int merged = 0; merged <= (merging ? 1 : 0); ++merged) {
            const std::size_t from = onset.size() - std::size_t(merged);
            const char* rhyme = word + from;
            const std::size_t rsize = count - from;
            if (!is_rhyme(rhyme, rsize)) continue;
            if (merged == 0 && merging && rhyme[0] == (onset == "gi" ? 'i' : 'u')) continue;
            const int at = styled_place(rhyme, rsize, style);
            if (at >= 0) return int(from) + at;
        }
        return -1;
    };
    for (std::string_view onset : kOnsets) {
        if (onset.size() > count) continue;
        std::size_t k = 0;
        while (k < onset.size() && word[k] == onset[k]) ++k;
        if (k != onset.size()) continue;
        if (valid_rhyme(word, count, onset.size(), onset, count, tone, true))
            return place_after(onset);
        if (onset != "gi") return -1;  // as valid_syllable(): gi may also be g
    }
    if (!is_vowel(word[0]) || !valid_rhyme(word, count, 0, "", count, tone, true)) return -1;
    return place_after("");
}

bool valid_syllable(const SyllableLetter* letters, std::size_t count) {
    if (count == 0 || count > kMaxSyllableLetters) return false;
    char word[kMaxSyllableLetters];
    std::size_t tone_at = count;
    int tone = 0;
    std::size_t capitals = 0;
    for (std::size_t k = 0; k < count; ++k) {
        const SyllableLetter& l = letters[k];
        const char c = compact(l.base, l.shape);
        if (c == '\0') return false;
        word[k] = c;
        if (l.tone != 0) {
            if (tone != 0 || !is_vowel(c)) return false;
            tone = l.tone;
            tone_at = k;
        }
        if (l.capital) ++capitals;
    }
    // All small, the first capital, or all capitals. Formats 5 and 7 write some capitals
    // as their small letter, so a word whose first letter and ASCII letters are capitals
    // may hold small letters outside ASCII.
    if (capitals != 0 && capitals != count && !(capitals == 1 && letters[0].capital)) {
        if (!letters[0].capital) return false;
        for (std::size_t k = 0; k < count; ++k) {
            const SyllableLetter& l = letters[k];
            if (!l.capital && l.shape == '\0' && l.tone == 0 && l.base != 'D') return false;
        }
    }

    for (std::string_view onset : kOnsets) {
        if (onset.size() > count) continue;
        std::size_t k = 0;
        while (k < onset.size() && word[k] == onset[k]) ++k;
        if (k != onset.size()) continue;
        if (tone_at < onset.size() && onset != "gi" && onset != "qu") continue;
        if (valid_rhyme(word, count, onset.size(), onset, tone_at, tone)) return true;
        // "gi" and "ng" are also "g" and "n" before another letter; only the longest
        // consonant onset is tried otherwise.
        if (onset != "gi") break;
    }
    // No onset: the word is its rhyme.
    if (!is_vowel(word[0])) return false;
    return valid_rhyme(word, count, 0, "", tone_at, tone);
}

namespace {

// The common syllables as keys, read from their VIQR spellings.
constexpr std::size_t count_words(std::string_view text) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != ' ' && (i == 0 || text[i - 1] == ' ')) ++n;
    return n;
}

constexpr auto kCommonKeys = [] {
    std::array<std::uint64_t, count_words(kCommonSyllables)> keys{};
    std::size_t n = 0;
    SyllableLetter letters[kMaxSyllableLetters] = {};
    std::size_t count = 0;
    const std::string_view text = kCommonSyllables;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        if (c == ' ') {
            if (count != 0) keys[n++] = syllable_key(letters, count);
            count = 0;
        } else if (c == 'd' && count != 0 && letters[count - 1].base == 'd') {
            letters[count - 1].base = 'D';
        } else if (c >= 'a' && c <= 'z') {
            letters[count++] = SyllableLetter{c, '\0', 0, false};
        } else if (c == '^' || c == '(' || c == '+') {
            letters[count - 1].shape = c;
        } else {
            const std::string_view tones = "'`?~.";
            letters[count - 1].tone = std::uint8_t(tones.find(c) + 1);
        }
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}();

static_assert(std::adjacent_find(kCommonKeys.begin(), kCommonKeys.end()) == kCommonKeys.end(),
              "each common syllable once");

}  // namespace

bool common_syllable(const SyllableLetter* letters, std::size_t count) {
    return std::binary_search(kCommonKeys.begin(), kCommonKeys.end(), syllable_key(letters, count));
}

bool known_syllable(const SyllableLetter* letters, std::size_t count) {
    const std::uint64_t key = syllable_key(letters, count);
    return std::binary_search(known_syllable_keys, known_syllable_keys + known_syllable_count, key);
}

bool have_known_syllables() {
    return known_syllable_count != 0;
}

}  // namespace toneshift::detect
