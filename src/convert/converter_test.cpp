#include "convert/converter.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <utf8proc.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tables/letter_table.h"
#include "tables/letter_unicode.h"
#include "tables/recode.h"
#include "tables/simd_test_support.h"
#include "viqr/encoder/viqr_encoder.h"

namespace toneshift {
namespace {

using Bytes = std::string;

struct Outcome {
    Bytes output;
    std::uint64_t problems = 0;
    Problem first;
    bool refused = false;

    bool operator==(const Outcome& o) const {
        return output == o.output && problems == o.problems && refused == o.refused &&
               (problems == 0 ||
                (first.offset == o.first.offset && first.line == o.first.line &&
                 first.column == o.first.column && first.character == o.first.character &&
                 first.byte_count == o.first.byte_count));
    }
};

// Converts `input` fed in the pieces that `cuts` (ascending offsets) make.
Outcome run(const ConvertOptions& options, const Bytes& input,
            const std::vector<std::size_t>& cuts = {}) {
    Converter c(options);
    EXPECT_TRUE(c.ok());
    Outcome o;
    std::vector<unsigned char> out;
    std::size_t at = 0;
    std::vector<std::size_t> ends = cuts;
    ends.push_back(input.size());
    for (std::size_t k = 0; k < ends.size() && !o.refused; ++k) {
        const std::size_t end = std::max(at, std::min(ends[k], input.size()));
        const bool last = k + 1 == ends.size();
        const auto* in = reinterpret_cast<const unsigned char*>(input.data()) + at;
        std::size_t left = end - at;
        for (;;) {
            out.assign(kConvertGrowth * left + kConvertSlack, 0);
            const ConvertResult r = c.convert(in, left, out.data(), out.size(), last);
            o.output.append(reinterpret_cast<const char*>(out.data()), r.written);
            if (r.stop == ConvertResult::Stop::kRefused) {
                o.refused = true;
                break;
            }
            EXPECT_EQ(r.stop, ConvertResult::Stop::kInputUsed);
            EXPECT_EQ(r.consumed, left);
            break;
        }
        at = end;
    }
    o.problems = c.problem_count();
    if (c.first_problem() != nullptr) o.first = *c.first_problem();
    return o;
}

Bytes utf8(std::u32string_view text) {
    Bytes s;
    for (char32_t c : text) {
        unsigned char b[4];
        const auto n = utf8proc_encode_char(utf8proc_int32_t(c), b);
        s.append(reinterpret_cast<const char*>(b), std::size_t(n));
    }
    return s;
}

// The libc's own conversion, for comparison.
Bytes iconv_bytes(const char* from, const char* to, const Bytes& input) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, iconv_t(-1));
    Bytes out(input.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(input.data());
    std::size_t in_left = input.size();
    char* o = out.data();
    std::size_t out_left = out.size();
    EXPECT_NE(iconv(cd, &in, &in_left, &o, &out_left), std::size_t(-1));
    iconv_close(cd);
    out.resize(out.size() - out_left);
    return out;
}

Bytes nfc(const Bytes& s, bool decompose = false) {
    utf8proc_uint8_t* r = nullptr;
    const auto options =
        utf8proc_option_t(UTF8PROC_STABLE | (decompose ? UTF8PROC_DECOMPOSE : UTF8PROC_COMPOSE));
    const auto n = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(s.data()),
                                utf8proc_ssize_t(s.size()), &r, options);
    EXPECT_GE(n, 0);
    Bytes out(reinterpret_cast<const char*>(r), std::size_t(n));
    std::free(r);
    return out;
}

ConvertOptions opts(int from, int to, LossPolicy policy = LossPolicy::kRefuse, bool nfd = false) {
    return ConvertOptions{from, to, policy, nfd};
}

TEST(LetterCodePoints, EveryVisciiByteAsIconvReadsIt) {
    // glibc's VISCII agrees with the letter table's VISCII row.
    Bytes all;
    for (int b = 0; b < 256; ++b) all.push_back(char(b));
    const Outcome o = run(opts(kViscii, kUtf8), all);
    EXPECT_EQ(o.problems, 0u);
    EXPECT_EQ(o.output, iconv_bytes("VISCII", "UTF-8", all));
}

TEST(LetterCodePoints, TablesAgreeWithTheNormalizer) {
    // The letters are their own NFC, and the derived decompositions are their NFD.
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        SCOPED_TRACE(p);
        const Bytes letter = utf8(std::u32string(1, letter_code_points[p]));
        EXPECT_EQ(nfc(letter), letter);
        const LetterDecomposition& d = letter_decompositions[p];
        EXPECT_EQ(nfc(letter, true), utf8(std::u32string(d.cps, d.size)));
        EXPECT_EQ(letter_position(letter_code_points[p]), int(p));
        // The converter's shortcut for decomposed letters finds exactly these.
        if (d.size >= 2) {
            EXPECT_EQ(letter_of_decomposition(d.cps[0], d.cps[1], d.size == 3 ? d.cps[2] : 0),
                      int(p));
        }
        if (d.size == 3) {
            EXPECT_EQ(letter_of_decomposition(d.cps[0], d.cps[2], d.cps[1]), -1);
        }
    }
    // The converter writes these as they come, without the normalizer.
    for (char32_t c = 1; c < 0x300; ++c) {
        const Bytes one = utf8(std::u32string(1, c));
        EXPECT_EQ(nfc(one), one) << std::hex << std::uint32_t(c);
    }
    for (char32_t c = 0; c < 0x2000; ++c) {
        const int p = letter_position(c);
        if (p >= 0) {
            EXPECT_EQ(letter_code_points[std::size_t(p)], c);
        }
    }
}

TEST(Converter, EveryLetterOfEveryFormatToUtf8AndBack) {
    for (int f = 0; f < kEightBitFormatCount - 1; ++f) {
        for (std::size_t p = 0; p < kLetterCount; ++p) {
            SCOPED_TRACE(testing::Message() << "format " << f << " position " << p);
            const Bytes byte(1, char(letter_table[std::size_t(f)][p]));
            const Bytes viscii(1, char(letter_table[kViscii][p]));
            const Outcome there = run(opts(f, kUtf8), byte);
            // The letter that the format's byte first stands for, as iconv reads it in VISCII.
            const std::size_t first = std::size_t(std::find(letter_table[std::size_t(f)].begin(),
                                                            letter_table[std::size_t(f)].end(),
                                                            letter_table[std::size_t(f)][p]) -
                                                  letter_table[std::size_t(f)].begin());
            EXPECT_EQ(there.output,
                      iconv_bytes("VISCII", "UTF-8", Bytes(1, char(letter_table[0][first]))));
            const Outcome back =
                run(opts(kUtf8, f, LossPolicy::kReplace), iconv_bytes("VISCII", "UTF-8", viscii));
            EXPECT_EQ(back.output, byte);
            // Only the capitals that share their small letter's byte are losses.
            EXPECT_EQ(back.problems, first == p ? 0u : 1u);
        }
    }
}

TEST(Converter, EveryLetterThroughViqrAndUtf8) {
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        SCOPED_TRACE(p);
        const Bytes letter = iconv_bytes("VISCII", "UTF-8", Bytes(1, char(letter_table[0][p])));
        const Outcome viqr = run(opts(kUtf8, kViqr), letter);
        EXPECT_EQ(viqr.output, Bytes(letter_names[p].text, letter_names[p].size()));
        EXPECT_EQ(run(opts(kViqr, kUtf8), viqr.output).output, letter);
    }
}

// Every spelling of a letter that is canonically equivalent to it: a precomposed prefix of its
// decomposition followed by the remaining marks in any order that keeps it equivalent.
std::vector<Bytes> equivalent_spellings(std::size_t p) {
    const LetterDecomposition& d = letter_decompositions[p];
    const Bytes target = nfc(utf8(std::u32string(d.cps, d.size)));
    std::vector<Bytes> found;
    for (int prefix = 1; prefix <= d.size; ++prefix) {
        const Bytes head = nfc(utf8(std::u32string(d.cps, std::size_t(prefix))));
        std::u32string tail(d.cps + prefix, d.cps + d.size);
        std::sort(tail.begin(), tail.end());
        do {
            const Bytes s = head + utf8(tail);
            if (nfc(s) == target && std::find(found.begin(), found.end(), s) == found.end())
                found.push_back(s);
        } while (std::next_permutation(tail.begin(), tail.end()));
        // A precomposed form of the base and a later mark, with an earlier mark after it.
        if (prefix == 1 && d.size == 3) {
            for (int k = 1; k < 3; ++k) {
                const Bytes s = nfc(utf8(std::u32string{d.cps[0], d.cps[k]})) +
                                utf8(std::u32string(1, d.cps[3 - k]));
                if (nfc(s) == target && std::find(found.begin(), found.end(), s) == found.end())
                    found.push_back(s);
            }
        }
    }
    return found;
}

TEST(Converter, EveryCanonicallyEquivalentSpellingIsTheLetter) {
    std::size_t spellings = 0;
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        for (const Bytes& s : equivalent_spellings(p)) {
            SCOPED_TRACE(testing::Message() << "position " << p << " spelling of " << s.size());
            // Built by appending, not as "x" + s: GCC 12 at -O3 takes a literal joined to a
            // temporary string for an overlapping copy (a false -Wrestrict).
            Bytes input(1, 'x');
            input.append(s).push_back('x');
            const Outcome o = run(opts(kUtf8, kViscii), input);
            EXPECT_EQ(o.problems, 0u);
            EXPECT_EQ(o.output, (Bytes{'x', char(letter_table[0][p]), 'x'}));
            ++spellings;
        }
    }
    // "o" with circumflex and dot below alone has five spellings.
    EXPECT_EQ(equivalent_spellings(45).size(), 5u);
    EXPECT_GT(spellings, 2 * kLetterCount);
}

TEST(Converter, Utf8OutputIsNfcOrNfdAsAsked) {
    Bytes all;
    for (int b = 0; b < 256; ++b) all.push_back(char(b));
    const Bytes composed = run(opts(kViscii, kUtf8), all).output;
    const Bytes decomposed = run(opts(kViscii, kUtf8, LossPolicy::kRefuse, true), all).output;
    EXPECT_EQ(decomposed, nfc(composed, true));
    EXPECT_EQ(run(opts(kUtf8, kUtf8), decomposed).output, composed);
    EXPECT_EQ(run(opts(kUtf8, kUtf8, LossPolicy::kRefuse, true), composed).output, decomposed);
    // Text that is no Vietnamese is normalized too: e + combining acute, Hangul jamo.
    const Bytes mixed = utf8(U"e\u0301 \u1100\u1161\u11A8 x\u0323\u0302 \u00C5");
    EXPECT_EQ(run(opts(kUtf8, kUtf8), mixed).output, nfc(mixed));
    EXPECT_EQ(run(opts(kUtf8, kUtf8, LossPolicy::kRefuse, true), mixed).output, nfc(mixed, true));
}

TEST(Converter, ByteOrderMarkIsDroppedOnlyAtTheStart) {
    const Bytes bom = utf8(U"\uFEFF");
    EXPECT_EQ(run(opts(kUtf8, kViscii), bom + "ab").output, "ab");
    const Outcome inner = run(opts(kUtf8, kViscii), "a" + bom);
    EXPECT_EQ(inner.problems, 1u);
    EXPECT_EQ(inner.first.character, 0xFEFFu);
}

struct InvalidCase {
    const char* name;
    Bytes input;
    Bytes expected;  // under replace, into UTF-8
    std::uint64_t first_offset;
    int first_bytes;
};

TEST(Converter, InvalidUtf8IsUndefinedOneReplacementPerMaximalSubpart) {
    const Bytes r = "\xEF\xBF\xBD";
    const InvalidCase cases[] = {
        {"stray continuation",
         "a\x80"
         "b",
         "a" + r + "b", 1, 1},
        {"overlong two bytes", "\xC0\x80", r + r, 0, 1},
        {"overlong three bytes", "\xE0\x80\x80", r + r + r, 0, 1},
        {"overlong four bytes", "\xF0\x80\x80\x80", r + r + r + r, 0, 1},
        {"surrogate", "\xED\xA0\x80", r + r + r, 0, 1},
        {"past U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r, 0, 1},
        {"never a lead", "\xF5\xFF", r + r, 0, 1},
        {"truncated then ASCII",
         "\xE1\x80"
         "A",
         r + "A", 0, 2},
        {"truncated at the end", "ab\xF0\x9F\x98", "ab" + r, 2, 3},
        // The Unicode standard's own example of maximal subparts.
        {"standard's example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         "a" + r + r + r + "b" + r + "c" + r + r + "d", 1, 3},
    };
    for (const InvalidCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome replaced = run(opts(kUtf8, kUtf8, LossPolicy::kReplace), c.input);
        EXPECT_EQ(replaced.output, c.expected);
        EXPECT_EQ(replaced.first.kind, Problem::Kind::kUndefined);
        EXPECT_EQ(replaced.first.offset, c.first_offset);
        EXPECT_EQ(replaced.first.byte_count, c.first_bytes);
        EXPECT_EQ(replaced.first.bytes[0], static_cast<unsigned char>(c.input[c.first_offset]));
        // Into an 8-bit format each becomes "?"; refused, nothing from it on is written.
        const Outcome refused = run(opts(kUtf8, kViscii), c.input);
        EXPECT_TRUE(refused.refused);
        EXPECT_EQ(refused.output, c.input.substr(0, c.first_offset));
        // Split at every point: the same output and the same reports.
        for (std::size_t cut = 0; cut <= c.input.size(); ++cut)
            EXPECT_EQ(run(opts(kUtf8, kUtf8, LossPolicy::kReplace), c.input, {cut}), replaced)
                << "cut at " << cut;
    }
}

TEST(Converter, UndefinedBytesOfEightBitFormats) {
    // VNI has no letter at 0xFF; Plain Vietnamese is ASCII.
    Outcome o = run(opts(3, kUtf8, LossPolicy::kReplace),
                    "a\xFF"
                    "b");
    EXPECT_EQ(o.output,
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(o.problems, 1u);
    EXPECT_EQ(o.first.kind, Problem::Kind::kUndefined);
    EXPECT_EQ(o.first.offset, 1u);
    // A run of them long enough to fill the converter's blocks (a fault the fuzzer found:
    // a problem in a block of units moved the output past its buffer).
    const Outcome many =
        run(opts(kPlainVietnamese, kUtf8, LossPolicy::kReplace), Bytes(40, '\xFF'));
    Bytes replacements;
    for (int k = 0; k < 40; ++k) replacements += "\xEF\xBF\xBD";
    EXPECT_EQ(many.output, replacements);
    EXPECT_EQ(many.problems, 40u);
    o = run(opts(kPlainVietnamese, kViscii, LossPolicy::kReplace), "x\x80\x81");
    EXPECT_EQ(o.output, "x??");
    EXPECT_EQ(o.problems, 2u);
    o = run(opts(kPlainVietnamese, kViscii), "x\x80\x81");
    EXPECT_TRUE(o.refused);
    EXPECT_EQ(o.output, "x");
}

struct LossCase {
    const char* name;
    int from;
    int to;
    Bytes input;
    Bytes refused;   // written before the refusal
    Bytes replaced;  // under replace
    Bytes translit;  // under transliterate
    std::uint64_t count;
    std::uint64_t offset, line, column;
    char32_t character;
};

TEST(Converter, LossesUnderEachPolicy) {
    const LossCase cases[] = {
        {"euro into VISCII", kUtf8, kViscii, "ab\n\xE2\x82\xAC", "ab\n", "ab\n?", "ab\n?", 1, 3, 2,
         1, 0x20AC},
        {"ellipsis and quotes", kUtf8, 3, "\xE2\x80\x9Cx\xE2\x80\x9D\xE2\x80\xA6", "", "?x??",
         "\"x\"...", 3, 0, 1, 1, 0x201C},
        {"en dash, nbsp, bullet", kUtf8, kViscii,
         "a\xE2\x80\x93"
         "b\xC2\xA0\xE2\x80\xA2",
         "a", "a?b??", "a-b *", 3, 1, 1, 2, 0x2013},
        {"at sign into VPSedit", kViscii, 2, "x@y", "x", "x?y", "x?y", 1, 1, 1, 2, '@'},
        // VNU (Windows) writes the capital A with tilde as its small letter's byte.
        {"capital into VNU (Windows)", kViscii, 5, "a\xC3", "a", "a\xAC", "a\xAC", 1, 1, 1, 2,
         0xC3},
        {"control letter byte into VIQR", kUtf8, kViqr, "a\x02", "a", "a\\?", "a\\?", 1, 1, 1, 2,
         0x02},
        {"euro after a decomposed letter", kUtf8, kViscii, "o\xCC\xA3\xCC\x82 \xE2\x82\xAC",
         "\xB5 ", "\xB5 ?", "\xB5 ?", 1, 6, 1, 3, 0x20AC},
        {"Chinese into VIQR", kUtf8, kViqr,
         "\xE4\xB8\xAD"
         "b",
         "", "?b", "?b", 1, 0, 1, 1, 0x4E2D},
    };
    for (const LossCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome refused = run(opts(c.from, c.to), c.input);
        EXPECT_TRUE(refused.refused);
        EXPECT_EQ(refused.output, c.refused);
        EXPECT_EQ(refused.problems, 1u);
        const Outcome replaced = run(opts(c.from, c.to, LossPolicy::kReplace), c.input);
        const Outcome translit = run(opts(c.from, c.to, LossPolicy::kTransliterate), c.input);
        EXPECT_EQ(replaced.output, c.replaced);
        EXPECT_EQ(translit.output, c.translit);
        for (const Outcome* o : {&refused, &replaced, &translit}) {
            if (o != &refused) {
                EXPECT_EQ(o->problems, c.count);
            }
            EXPECT_EQ(o->first.kind, Problem::Kind::kLoss);
            EXPECT_EQ(o->first.offset, c.offset);
            EXPECT_EQ(o->first.line, c.line);
            EXPECT_EQ(o->first.column, c.column);
            EXPECT_EQ(o->first.character, c.character);
        }
    }
}

TEST(Converter, PlainVietnameseDropsDiacriticsWithoutLoss) {
    const Outcome o = run(opts(kUtf8, kPlainVietnamese), "Vi\xE1\xBB\x87t \xC4\x90\xC3\xB4ng\x02");
    EXPECT_EQ(o.output, "Viet Dong\x02");
    EXPECT_EQ(o.problems, 0u);
}

TEST(Converter, ViqrIsReadAndWrittenAsTheDialogueDoes) {
    struct Case {
        Bytes viqr;
        Bytes utf8;
    } cases[] = {
        {"Vie^.t Nam", "Vi\xE1\xBB\x87t Nam"},
        {"dd\\d D\\DD",
         "\xC4\x91"
         "d D\xC4\x90"},
        {"a\\'", "a'"},
        {"\\\\", "\\"},
        {"\\Mab'c\\a'b",
         "ab'c\xC3\xA1"
         "b"},
        {"\\La\\\\b\\", "a\\\\b\\"},  // a lone escape at the end of literal mode, written once
        {"ba", "ba"},                 // a letter held at the end is drained
        {"x\x02y", "x\x02y"},         // a control byte is itself, not the VISCII letter
        {"\xE1", "\xC3\xA1"},         // a high byte is the VISCII letter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.viqr);
        const Outcome o = run(opts(kViqr, kUtf8), c.viqr);
        EXPECT_EQ(o.output, c.utf8);
        EXPECT_EQ(o.problems, 0u);
        for (std::size_t cut = 0; cut <= c.viqr.size(); ++cut)
            EXPECT_EQ(run(opts(kViqr, kUtf8), c.viqr, {cut}).output, c.utf8);
    }
    // Into VIQR, "d" before the d with stroke, and marks after vowels, are escaped.
    EXPECT_EQ(run(opts(kUtf8, kViqr), "d\xC4\x91 a' \\").output, "d\\dd a\\' \\\\");
}

TEST(Converter, LossInViqrInputStandsAtItsLetter) {
    // "A(?" is the capital that VNU (Windows) cannot tell from its small letter.
    const Outcome o = run(opts(kViqr, 5), "xy\nab A(? z");
    EXPECT_TRUE(o.refused);
    EXPECT_EQ(o.first.offset, 6u);
    EXPECT_EQ(o.first.line, 2u);
    EXPECT_EQ(o.first.column, 4u);
    EXPECT_EQ(o.output, "xy\nab ");
}

// A random text of Vietnamese letters (as VISCII bytes), ASCII letters, marks, blanks and
// escape characters: what the VIQR writer must protect.
Bytes random_viscii(std::mt19937& rng, std::size_t n) {
    const Bytes ascii = "adeiouyADEIOUYbcnght '`?~.(^+\\\n0";
    Bytes s;
    for (std::size_t i = 0; i < n; ++i) {
        if (rng() % 3 == 0) {
            s.push_back(char(letter_table[0][2 + rng() % (kLetterCount - 2 - 6)]));
        } else {
            s.push_back(ascii[rng() % ascii.size()]);
        }
    }
    return s;
}

TEST(Converter, ViqrRoundTripsThroughUtf8) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        const Bytes viscii = random_viscii(rng, 1 + rng() % 60);
        SCOPED_TRACE(viscii);
        const Outcome to_utf8 = run(opts(kViscii, kUtf8), viscii);
        const Outcome viqr = run(opts(kUtf8, kViqr), to_utf8.output);
        EXPECT_EQ(viqr.problems, 0u);
        // The encoder writes the same VIQR from VISCII.
        std::vector<unsigned char> encoded(3 * viscii.size() + 1);
        const std::size_t n = viqr_encode_run(reinterpret_cast<const unsigned char*>(viscii.data()),
                                              viscii.size(), 0, encoded.data(), '\\');
        EXPECT_EQ(viqr.output, Bytes(encoded.begin(), encoded.begin() + std::ptrdiff_t(n)));
        EXPECT_EQ(run(opts(kViqr, kUtf8), viqr.output).output, to_utf8.output);
        EXPECT_EQ(run(opts(kViqr, kViscii), viqr.output).output, viscii);
    }
}

TEST(Converter, SplittingNearBoundariesChangesNothing) {
    std::mt19937 rng(11);
    const Bytes viscii = random_viscii(rng, 400) + "\x80\xE2\x82";
    const Bytes text_utf8 = run(opts(kViscii, kUtf8, LossPolicy::kReplace), viscii).output +
                            run(opts(kViscii, kUtf8, LossPolicy::kReplace, true), viscii).output +
                            "\xE2\x82\xAC x\xCC\x81\xCC\xA3 \xE2\x80\xA6\xF0\x9F";
    const Bytes text_viqr = run(opts(kViscii, kViqr), viscii).output;
    struct Source {
        int format;
        const Bytes* text;
    } sources[] = {{kViscii, &viscii}, {kUtf8, &text_utf8}, {kViqr, &text_viqr}};
    for (const Source& s : sources) {
        for (int to : {kViscii, 3, 5, kViqr, kUtf8}) {
            for (LossPolicy policy : {LossPolicy::kRefuse, LossPolicy::kTransliterate}) {
                SCOPED_TRACE(testing::Message() << s.format << " to " << to);
                const ConvertOptions o = opts(s.format, to, policy);
                const Outcome whole = run(o, *s.text);
                std::vector<std::size_t> every(s.text->size());
                for (std::size_t i = 0; i < every.size(); ++i) every[i] = i;
                EXPECT_EQ(run(o, *s.text, every), whole);
                for (std::size_t cut = 0; cut < s.text->size(); cut += 1 + cut / 16)
                    EXPECT_EQ(run(o, *s.text, {cut, cut + 1, cut + 3}), whole) << "cut " << cut;
            }
        }
    }
}

TEST(Converter, FastLoopsAgreeWithTheGeneralPathOnEveryInstructionSet) {
    // Long lines and short ones, runs of ASCII longer than any vector, composed and decomposed
    // letters, characters the fast loops leave to the general path, and a loss in the middle:
    // taken whole, and one byte at a time (which the fast loops never see).
    std::mt19937 rng(3);
    Bytes viscii;
    while (viscii.size() < 2500)
        viscii +=
            random_viscii(rng, rng() % 40) + Bytes(rng() % 40, 'x') + (rng() % 4 ? " " : "\n");
    const Bytes composed = run(opts(kViscii, kUtf8), viscii).output;
    const Bytes decomposed = run(opts(kViscii, kUtf8, LossPolicy::kRefuse, true), viscii).output;
    // The first loss (a euro sign) stands far into a line of letters.
    std::size_t blank = composed.size() / 2;
    while (composed[blank] != '\n') --blank;
    for (int k = 0; k < 8; ++k) blank = composed.find(' ', blank + 1);
    const Bytes mixed = composed.substr(0, blank) + "\xE2\x82\xAC" + composed.substr(blank) +
                        "\xE2\x80\xA6 \r\n\xC2\xA0" + decomposed;
    struct Source {
        int format;
        const Bytes* text;
    } sources[] = {{kViscii, &viscii}, {kUtf8, &composed}, {kUtf8, &mixed}};
    const int ran = simd::for_each_supported_target([&] {
        for (const Source& s : sources) {
            std::vector<std::size_t> every(s.text->size());
            for (std::size_t i = 0; i < every.size(); ++i) every[i] = i;
            for (int to : {kViscii, 3, kViqr, kUtf8}) {
                for (LossPolicy policy : {LossPolicy::kRefuse, LossPolicy::kReplace}) {
                    SCOPED_TRACE(testing::Message() << s.format << " to " << to);
                    const ConvertOptions o = opts(s.format, to, policy);
                    EXPECT_EQ(run(o, *s.text), run(o, *s.text, every));
                }
            }
        }
    });
    EXPECT_GE(ran, 1);
}

TEST(Converter, PlacesStayExactPastEveryInternalBlock) {
    // Long enough for several blocks of every path, with a NUL early on and one loss late.
    std::mt19937 rng(5);
    Bytes viscii;
    while (viscii.size() < 70000) viscii += random_viscii(rng, 50) + "\n";
    // VPSedit uses these ASCII bytes for letters.
    for (char& b : viscii)
        if (Bytes("@^`{|}~").find(b) != Bytes::npos) b = 'x';
    viscii[20000] = '\0';
    viscii[60001] = '@';
    const std::uint64_t line =
        std::uint64_t(std::count(viscii.begin(), viscii.begin() + 60001, '\n')) + 1;
    const std::uint64_t column = 60001 - viscii.rfind('\n', 60000);
    Bytes recoded;
    for (char b : viscii.substr(0, 60001))
        recoded.push_back(char(recode_byte(static_cast<unsigned char>(b), kViscii, 2)));
    const Bytes utf8_text = run(opts(kViscii, kUtf8), viscii).output;
    struct Case {
        int from;
        const Bytes* text;
        std::uint64_t offset;
    } cases[] = {{kViscii, &viscii, 60001}, {kUtf8, &utf8_text, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.from);
        const Outcome o = run(opts(c.from, 2), *c.text, {30000});
        EXPECT_TRUE(o.refused);
        EXPECT_EQ(o.first.line, line);
        EXPECT_EQ(o.first.column, column);
        EXPECT_EQ(o.first.character, char32_t('@'));
        EXPECT_TRUE(o.output == recoded);
        if (c.from == kViscii) {
            EXPECT_EQ(o.first.offset, c.offset);
        }
    }
}

TEST(Converter, SmallOutputBuffersTakeLessInput) {
    const Bytes text(10000, '\xE1');  // a with acute: two bytes of UTF-8 each
    Converter c(opts(kViscii, kUtf8));
    std::vector<unsigned char> out(kConvertSlack + 300);
    Bytes all;
    std::size_t at = 0;
    while (at < text.size()) {
        const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(text.data()) + at,
                                          text.size() - at, out.data(), out.size(), true);
        ASSERT_NE(r.stop, ConvertResult::Stop::kRefused);
        ASSERT_GT(r.consumed, 0u);
        all.append(reinterpret_cast<const char*>(out.data()), r.written);
        at += r.consumed;
    }
    EXPECT_EQ(all, iconv_bytes("VISCII", "UTF-8", text));
    EXPECT_EQ(c.convert(nullptr, 0, out.data(), 10, true).stop, ConvertResult::Stop::kOutputFull);
}

TEST(Converter, NextInputReadsAfreshButTheOutputContinues) {
    Converter c(opts(kViqr, kViqr));
    std::vector<unsigned char> out(4096);
    Bytes all;
    auto feed = [&](const Bytes& in) {
        const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(in.data()),
                                          in.size(), out.data(), out.size(), true);
        all.append(reinterpret_cast<const char*>(out.data()), r.written);
        c.next_input();
    };
    feed("\\Lxa");  // ends in literal mode, with the letter "a" last
    feed("\\'?");   // read in compose mode again; its apostrophe follows that "a"
    EXPECT_EQ(all, "xa\\'?");

    // Offsets and lines count from each input's start; problems are per input.
    Converter d(opts(kUtf8, kViscii, LossPolicy::kReplace));
    const Bytes first = "\n\n\xE2\x82\xAC", second = "ab\xE2\x82\xAC";
    d.convert(reinterpret_cast<const unsigned char*>(first.data()), first.size(), out.data(),
              out.size(), true);
    EXPECT_EQ(d.first_problem()->line, 3u);
    d.next_input();
    EXPECT_EQ(d.problem_count(), 0u);
    d.convert(reinterpret_cast<const unsigned char*>(second.data()), second.size(), out.data(),
              out.size(), true);
    ASSERT_NE(d.first_problem(), nullptr);
    EXPECT_EQ(d.first_problem()->offset, 2u);
    EXPECT_EQ(d.first_problem()->line, 1u);
    EXPECT_EQ(d.first_problem()->column, 3u);
}

TEST(Converter, RefusesBadFormatsAndStopsAfterARefusal) {
    EXPECT_FALSE(Converter(opts(-1, 0)).ok());
    EXPECT_FALSE(Converter(opts(0, kConvertFormatCount)).ok());
    Converter c(opts(kUtf8, kViscii));
    std::vector<unsigned char> out(4096);
    const Bytes bad =
        "a\xFF"
        "b";
    EXPECT_EQ(c.convert(reinterpret_cast<const unsigned char*>(bad.data()), bad.size(), out.data(),
                        out.size(), false)
                  .stop,
              ConvertResult::Stop::kRefused);
    const ConvertResult again =
        c.convert(reinterpret_cast<const unsigned char*>("c"), 1, out.data(), out.size(), true);
    EXPECT_EQ(again.stop, ConvertResult::Stop::kRefused);
    EXPECT_EQ(again.written, 0u);
}

// Converts `input` whole and returns the converter's tally (at most `limit`).
std::vector<ProblemCount> tally_of(const ConvertOptions& options, const Bytes& input,
                                   std::size_t limit, std::uint64_t& distinct,
                                   std::size_t piece = 0) {
    Converter c(options);
    std::vector<unsigned char> out(kConvertGrowth * input.size() + kConvertSlack);
    const auto* in = reinterpret_cast<const unsigned char*>(input.data());
    if (piece == 0) piece = std::max<std::size_t>(input.size(), 1);
    for (std::size_t at = 0; at < input.size() || at == 0; at += piece) {
        const std::size_t n = std::min(piece, input.size() - at);
        if (c.convert(in + at, n, out.data(), out.size(), at + n == input.size()).stop ==
            ConvertResult::Stop::kRefused)
            break;
        if (input.empty()) break;
    }
    return c.most_frequent_problems(limit, distinct);
}

// Hostile UTF-8 (bytes 0x80..0xFF, with lines, letters, marks and characters that decompose
// among them) whole, where undefined bytes and characters nothing joins are taken in runs,
// against the same fed a byte at a time, which takes each through the general path: the same
// output, problems and tally, each distinct problem first met at the same place.
TEST(Converter, HostileUtf8TakenInRunsAsOneAtATime) {
    std::mt19937 rng(29);
    const Bytes pieces[] = {
        "\n",       "ab ",          "\xCC\x81",     "\xCD\x80",         "\xE1\xBB\x87",
        "\xC3\x87", "\xE2\x80\xA6", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80", "e\xCC\x82"};
    Bytes text;
    while (text.size() < 24000) {
        for (std::size_t k = rng() % 60; k > 0; --k) text.push_back(char(0x80 | (rng() & 0x7F)));
        text += pieces[rng() % std::size(pieces)];
    }
    std::vector<std::size_t> every_byte(text.size());
    for (std::size_t k = 0; k < every_byte.size(); ++k) every_byte[k] = k;
    for (int to : {kUtf8, kViscii, 5, kViqr, kVniWin, kCp1258, kUtf16Le}) {
        for (bool nfd : {false, true}) {
            if (nfd && to != kUtf8) continue;
            for (LossPolicy policy :
                 {LossPolicy::kRefuse, LossPolicy::kReplace, LossPolicy::kTransliterate}) {
                SCOPED_TRACE(testing::Message()
                             << "to " << to << (nfd ? " NFD" : "") << ", policy " << int(policy));
                const ConvertOptions o = opts(kUtf8, to, policy, nfd);
                const Outcome whole = run(o, text);
                EXPECT_TRUE(whole == run(o, text, every_byte));
                std::uint64_t distinct = 0, distinct_alone = 0;
                const std::vector<ProblemCount> bulk = tally_of(o, text, 1 << 20, distinct);
                const std::vector<ProblemCount> alone =
                    tally_of(o, text, 1 << 20, distinct_alone, 1);
                EXPECT_EQ(distinct, distinct_alone);
                ASSERT_EQ(bulk.size(), alone.size());
                for (std::size_t k = 0; k < bulk.size(); ++k) {
                    const Problem& a = bulk[k].problem;
                    const Problem& b = alone[k].problem;
                    SCOPED_TRACE(k);
                    EXPECT_EQ(bulk[k].count, alone[k].count);
                    EXPECT_EQ(a.character, b.character);
                    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(a.bytes), a.byte_count),
                              Bytes(reinterpret_cast<const char*>(b.bytes), b.byte_count));
                    EXPECT_EQ(a.offset, b.offset);
                    EXPECT_EQ(a.line, b.line);
                    EXPECT_EQ(a.column, b.column);
                }
            }
        }
    }
}

TEST(Converter, ProblemTallyCountsEachDistinctProblemMostFrequentFirst) {
    struct Expected {
        char32_t character;                  // a loss, or 0
        const char* bytes;                   // an undefined piece, when character is 0
        std::uint64_t count;                 // how often
        std::uint64_t offset, line, column;  // of the first
    };
    struct Case {
        const char* name;
        ConvertOptions options;
        Bytes input;
        std::size_t limit;
        std::uint64_t distinct;
        std::vector<Expected> expected;
    };
    const Case cases[] = {
        {"losses, most frequent first",
         opts(kUtf8, kViscii, LossPolicy::kReplace),
         "\xE4\xB8\xAD\xE2\x82\xAC"
         "a\n\xE2\x82\xAC\xE2\x82\xAC",
         10,
         2,
         {{0x20AC, "", 3, 3, 1, 2}, {0x4E2D, "", 1, 0, 1, 1}}},
        {"equal counts: the one met first",
         opts(kUtf8, kViscii, LossPolicy::kTransliterate),
         "\xE2\x80\xA6x\xE4\xB8\xAD\xE4\xB8\xAD\xE2\x80\xA6",
         10,
         2,
         {{0x2026, "", 2, 0, 1, 1}, {0x4E2D, "", 2, 4, 1, 3}}},
        {"more than the limit",
         opts(kUtf8, kViscii, LossPolicy::kReplace),
         "\xE2\x82\xAC\xE4\xB8\xAD\xC2\xA9\xE4\xB8\xAD",
         1,
         3,
         {{0x4E2D, "", 2, 3, 1, 2}}},
        {"undefined UTF-8 by its bytes",
         opts(kUtf8, kUtf8, LossPolicy::kReplace),
         "\xFF\xE2\x82x\xFF\xE2\x82\xFE",
         10,
         3,
         {{0, "\xFF", 2, 0, 1, 1}, {0, "\xE2\x82", 2, 1, 1, 2}, {0, "\xFE", 1, 7, 1, 6}}},
        {"an 8-bit source in bulk, undefined bytes",
         opts(kPlainVietnamese, kViscii, LossPolicy::kReplace),
         "x\x80\x81\x80\n\x80y\x81\x82",
         10,
         3,
         {{0, "\x80", 3, 1, 1, 2}, {0, "\x81", 2, 2, 1, 3}, {0, "\x82", 1, 8, 2, 4}}},
        {"an 8-bit source in bulk, losses",
         opts(kViscii, 5, LossPolicy::kReplace),
         "a\xC3\xC3@\n\xC3",
         10,
         1,
         {{0xC3, "", 3, 1, 1, 2}}},
        {"refused: the one problem",
         opts(kUtf8, kViscii),
         "ab\xE2\x82\xAC\xE2\x82\xAC",
         10,
         1,
         {{0x20AC, "", 1, 2, 1, 3}}},
        {"no problem", opts(kViscii, kUtf8, LossPolicy::kReplace), "abc", 10, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(3)}) {
            SCOPED_TRACE(testing::Message() << "pieces of " << piece);
            std::uint64_t distinct = 99;
            const std::vector<ProblemCount> got =
                tally_of(c.options, c.input, c.limit, distinct, piece);
            EXPECT_EQ(distinct, c.distinct);
            ASSERT_EQ(got.size(), c.expected.size());
            for (std::size_t k = 0; k < got.size(); ++k) {
                const Expected& e = c.expected[k];
                const Problem& p = got[k].problem;
                SCOPED_TRACE(k);
                EXPECT_EQ(got[k].count, e.count);
                if (e.character != 0) {
                    EXPECT_EQ(p.kind, Problem::Kind::kLoss);
                    EXPECT_EQ(p.character, e.character);
                } else {
                    EXPECT_EQ(p.kind, Problem::Kind::kUndefined);
                    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(p.bytes), p.byte_count), e.bytes);
                }
                EXPECT_EQ(p.offset, e.offset);
                EXPECT_EQ(p.line, e.line);
                EXPECT_EQ(p.column, e.column);
            }
        }
    }
}

// The tally of an 8-bit source's problems, taken in bulk, against one made here byte by byte:
// counts, and the place of each one's first occurrence, past the converter's runs.
TEST(Converter, ProblemTallyOfEightBitSourcesMatchesEveryByte) {
    std::mt19937 rng(17);
    Bytes text;
    while (text.size() < 9000) {
        text += random_viscii(rng, rng() % 3000);
        for (std::size_t k = rng() % 40; k > 0; --k) text.push_back(char(0x80 | (rng() & 0x7F)));
    }
    for (int from : {kPlainVietnamese, 5, 3}) {
        for (int to : {kViscii, kUtf8, kViqr, 7}) {
            SCOPED_TRACE(testing::Message() << from << " to " << to);
            struct Ref {
                std::uint64_t count = 0, offset = 0, line = 0, column = 0;
            };
            std::vector<Ref> ref(256);
            std::uint64_t line = 1, column = 1, total = 0;
            for (std::size_t i = 0; i < text.size(); ++i) {
                const auto b = static_cast<unsigned char>(text[i]);
                const Bytes one(1, char(b));
                if (run(opts(from, to), one).problems != 0) {
                    if (ref[b].count++ == 0) ref[b] = {1, i, line, column};
                    ++total;
                }
                ++column;
                if (b == '\n') {
                    ++line;
                    column = 1;
                }
            }
            for (std::size_t piece : {std::size_t(0), std::size_t(7)}) {
                std::uint64_t distinct = 0;
                const std::vector<ProblemCount> got =
                    tally_of(opts(from, to, LossPolicy::kReplace), text, 1000, distinct, piece);
                std::uint64_t sum = 0;
                for (const ProblemCount& pc : got) {
                    sum += pc.count;
                    const unsigned char b =
                        pc.problem.kind == Problem::Kind::kUndefined
                            ? pc.problem.bytes[0]
                            : static_cast<unsigned char>(text[std::size_t(pc.problem.offset)]);
                    EXPECT_EQ(pc.count, ref[b].count) << int(b);
                    EXPECT_EQ(pc.problem.offset, ref[b].offset) << int(b);
                    EXPECT_EQ(pc.problem.line, ref[b].line) << int(b);
                    EXPECT_EQ(pc.problem.column, ref[b].column) << int(b);
                }
                EXPECT_EQ(sum, total);
                EXPECT_EQ(distinct, got.size());
                for (std::size_t k = 1; k < got.size(); ++k)
                    EXPECT_TRUE(got[k - 1].count > got[k].count ||
                                (got[k - 1].count == got[k].count &&
                                 got[k - 1].problem.offset < got[k].problem.offset));
            }
        }
    }
}

TEST(Converter, NextInputClearsTheProblemTally) {
    Converter c(opts(kUtf8, kViscii, LossPolicy::kReplace));
    std::vector<unsigned char> out(4096);
    const Bytes euro = "\xE2\x82\xAC";
    c.convert(reinterpret_cast<const unsigned char*>(euro.data()), euro.size(), out.data(),
              out.size(), true);
    std::uint64_t distinct = 0;
    EXPECT_EQ(c.most_frequent_problems(5, distinct).size(), 1u);
    c.next_input();
    EXPECT_TRUE(c.most_frequent_problems(5, distinct).empty());
    EXPECT_EQ(distinct, 0u);
}

// Marks beyond what the converter holds at once, in a mixed canonical order.
Bytes long_mark_run(std::size_t marks) {
    const char32_t cycle[] = {0x0301, 0x0323, 0x0302, 0x031B, 0x0300, 0x0328, 0x0306};
    std::u32string s = U"xa";
    for (std::size_t k = 0; k < marks; ++k) s.push_back(cycle[k % 7]);
    s += U" o\u0323\u0302";
    return utf8(s);
}

TEST(Converter, LongMarkRunsStayNormalizedAcrossTheHeldLimit) {
    for (std::size_t marks : {30u, 31u, 32u, 33u, 64u, 100u}) {
        const Bytes input = long_mark_run(marks);
        for (bool nfd : {false, true}) {
            SCOPED_TRACE(testing::Message() << marks << " marks, nfd " << nfd);
            const ConvertOptions o = opts(kUtf8, kUtf8, LossPolicy::kRefuse, nfd);
            const Outcome whole = run(o, input);
            EXPECT_EQ(whole.problems, 0u);
            EXPECT_EQ(whole.output, nfc(whole.output, nfd));
            std::vector<std::size_t> every(input.size());
            for (std::size_t i = 0; i < every.size(); ++i) every[i] = i;
            EXPECT_EQ(run(o, input, every), whole);
            // The joiner stands only between pieces of a run too long to hold.
            const std::size_t joiners =
                std::size_t(std::count(whole.output.begin(), whole.output.end(), '\xCD'));
            EXPECT_EQ(joiners, marks < 32 ? 0u : (marks + 1) / 32);
            // An 8-bit target gets the marks as losses, and no joiner.
            const Outcome lossy = run(opts(kUtf8, kViscii, LossPolicy::kReplace), input);
            EXPECT_EQ(lossy.output.find('\xCD'), Bytes::npos);
        }
    }
}

TEST(Converter, ContinuedOutputEscapesAfterTheInputBefore) {
    // "a" from VISCII, then an apostrophe from UTF-8, into one VIQR output: the apostrophe
    // would read back as a tone mark on the "a" unless escaped.
    std::vector<unsigned char> out(4096);
    Bytes all;
    auto feed = [&](Converter& c, const Bytes& in) {
        const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(in.data()),
                                          in.size(), out.data(), out.size(), true);
        all.append(reinterpret_cast<const char*>(out.data()), r.written);
    };
    Converter first(opts(kViscii, kViqr));
    feed(first, "a");
    Converter second(opts(kUtf8, kViqr));
    second.continue_output(first);
    feed(second, "'");
    EXPECT_EQ(all, run(opts(kUtf8, kViqr), "a'").output);
    EXPECT_EQ(all, "a\\'");
    // Without it, the second output starts afresh.
    Converter fresh(opts(kUtf8, kViqr));
    all.clear();
    feed(fresh, "'");
    EXPECT_EQ(all, "'");
}

// Text thick with problems (bytes 0x80..0xFF) converts in time linear in its size, at no
// less than a tenth of the speed of ordinary text of the same pair; the bound checked here
// is looser, against noise. (A fault this catches: each problem made the vector loop map its
// next 16 KiB again, about 20,000 instructions a byte.)
TEST(Converter, HostileInputConvertsAtATenthOfOrdinarySpeed) {
    constexpr std::size_t kSize = 1 << 19;
    std::mt19937 rng(23);
    Bytes hostile(kSize, '\0');
    for (char& b : hostile) b = char(0x80 | (rng() & 0x7F));
    Bytes ordinary;
    while (ordinary.size() < kSize) ordinary += random_viscii(rng, 200) + " ";
    std::vector<unsigned char> out(kConvertGrowth * kSize + kConvertSlack);
    auto seconds = [&](const ConvertOptions& o, const Bytes& text) {
        double best = 1e9;
        for (int k = 0; k < 3; ++k) {
            Converter c(o);
            const auto start = std::chrono::steady_clock::now();
            c.convert(reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data(),
                      out.size(), true);
            best = std::min(
                best,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        }
        return best;
    };
    for (int from = 0; from < kConvertFormatCount; ++from) {
        const Bytes text =
            from == kViscii ? ordinary
                            : run(opts(kViscii, from, LossPolicy::kTransliterate), ordinary).output;
        for (int to : {kUtf8, int(kViscii)}) {
            SCOPED_TRACE(testing::Message() << from << " to " << to);
            const ConvertOptions o = opts(from, to, LossPolicy::kReplace);
            const double per_byte_ordinary = seconds(o, text) / double(text.size());
            const double per_byte_hostile = seconds(o, hostile) / double(hostile.size());
            EXPECT_LT(per_byte_hostile, 40 * per_byte_ordinary);
        }
    }
}

}  // namespace
}  // namespace toneshift
