// The encodings beyond the first twelve formats: spellings from their published tables,
// Windows-1258, VN1 and UTF-16 against glibc's iconv, VNI for Windows against recode, the
// reading of two-byte spellings by longest match, references, the Unicode forms, and the
// same output whatever the pieces.
#include <gtest/gtest.h>
#include <unistd.h>
#include <utf8proc.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "convert/byte_codecs.h"
#include "convert/converter.h"
#include "convert/format_names.h"
#include "tables/letter_unicode.h"

namespace toneshift {
namespace {

using Bytes = std::string;

struct Outcome {
    Bytes out;
    std::uint64_t problems = 0;
    Problem first;
    bool refused = false;
};

// `in` converted in pieces of `piece` bytes (0: whole).
Outcome convert(int from, int to, const Bytes& in, LossPolicy policy = LossPolicy::kRefuse,
                std::size_t piece = 0, bool nfd = false, bool composite = false) {
    ConvertOptions options{from, to, policy, nfd};
    options.composite = composite;
    Converter c(options);
    EXPECT_TRUE(c.ok());
    Outcome r;
    std::size_t at = 0;
    do {
        const std::size_t n = piece == 0 ? in.size() - at : std::min(piece, in.size() - at);
        std::vector<unsigned char> out(kConvertGrowth * n + kConvertSlack);
        const ConvertResult step = c.convert(reinterpret_cast<const unsigned char*>(in.data()) + at,
                                             n, out.data(), out.size(), at + n == in.size());
        r.out.append(reinterpret_cast<const char*>(out.data()), step.written);
        if (step.stop == ConvertResult::Stop::kRefused) {
            r.refused = true;
            break;
        }
        EXPECT_EQ(step.consumed, n);
        at += n;
    } while (at < in.size());
    r.problems = c.problem_count();
    if (c.first_problem() != nullptr) r.first = *c.first_problem();
    return r;
}

std::string utf8_of(char32_t c) {
    Bytes out;
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
    return out;
}

// Every letter, one a line, in UTF-8.
Bytes all_letters() {
    Bytes text;
    for (char32_t c : letter_code_points) text += utf8_of(c) + "\n";
    return text;
}

// A tool's conversion of `in` (iconv or recode, as a shell command reading standard input),
// or nullopt-like empty with `ok` false when the tool is missing or fails.
Bytes through(const std::string& command, const Bytes& in, bool& ok) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    const std::filesystem::path file = dir / ("toneshift-encodings-" + std::to_string(::getpid()));
    {
        std::ofstream f(file, std::ios::binary);
        f << in;
    }
    const std::string full = command + " < '" + file.string() + "' 2>/dev/null";
    FILE* p = ::popen(full.c_str(), "r");
    Bytes out;
    if (p != nullptr) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        ok = ::pclose(p) == 0;
    } else {
        ok = false;
    }
    std::filesystem::remove(file);
    return out;
}

const Bytes kText =
    "Vi\xE1\xBB\x87t Nam, C\xE1\xBB\x99ng h\xC3\xB2"
    "a x\xC3\xA3 h\xE1\xBB\x99i: "
    "\xC4\x91\xC6\xA1n v\xE1\xBB\x8B, ng\xC6\xB0\xE1\xBB\x9Di, \xC4\x90\xE1\xBA\xAFk "
    "L\xE1\xBA\xAFk.\n";

// Spellings taken from each encoding's published table, and UTF-16 and references as their
// definitions write them.
TEST(Encodings, WriteAndReadTheirPublishedSpellings) {
    struct Case {
        int format;
        Bytes utf8;
        Bytes bytes;
    };
    const Case cases[] = {
        // "Cộng hòa xã hội": shown as Windows-1252, "Céng hßa x· héi" and "Coäng hoøa xaõ hoäi".
        {kTcvn3,
         "C\xE1\xBB\x99ng h\xC3\xB2"
         "a x\xC3\xA3 h\xE1\xBB\x99i",
         "C\xE9ng h\xDF"
         "a x\xB7 h\xE9i"},
        {kVniWin,
         "C\xE1\xBB\x99ng h\xC3\xB2"
         "a x\xC3\xA3 h\xE1\xBB\x99i",
         "Co\xE4ng ho\xF8"
         "a xa\xF5 ho\xE4i"},
        {kTcvn3, "\xC4\x91\xC6\xA1n v\xE1\xBB\x87",
         "\xAE\xAC"
         "n v\xD6"},
        {kVniWin, "\xC6\xA1 \xE1\xBB\x9B \xC4\x91 \xC3\x81", "\xF4 \xF4\xF9 \xF1 A\xD9"},
        {kUtf16Le, "Vi\xE1\xBB\x87t", Bytes("V\0i\0\xC7\x1Et\0", 8)},
        {kUtf16Be, "Vi\xE1\xBB\x87t", Bytes("\0V\0i\x1E\xC7\0t", 8)},
        {kUtf16, "Vi\xE1\xBB\x87t", Bytes("\xFF\xFEV\0i\0\xC7\x1Et\0", 10)},
        {kUtf16Le, "\xF0\x9F\x98\x80", Bytes("\x3D\xD8\x00\xDE", 4)},
        {kReferences, "Vi\xE1\xBB\x87t & co <\xC3\xA0>", "Vi&#7879;t &#38; co <&#224;>"},
        // Windows punctuation kept in TCVN3, and its no-break space.
        {kTcvn3,
         "\xE2\x80\x9C"
         "a\xE2\x80\x9D \xE2\x80\xA6\xC2\xA0\xE2\x82\xAC",
         "\x93"
         "a\x94 \x85\xA0\x80"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::string(format_names[std::size_t(k.format)].name) + " " + k.utf8);
        const Outcome written = convert(kUtf8, k.format, k.utf8);
        EXPECT_EQ(written.problems, 0u);
        EXPECT_EQ(written.out, k.bytes);
        const Outcome read = convert(k.format, kUtf8, k.bytes);
        EXPECT_EQ(read.problems, 0u);
        EXPECT_EQ(read.out, k.utf8);
    }
}

// Capitals fonts: every letter a capital; TCVN3 itself writes a toned capital only as its
// small letter.
TEST(Encodings, CapitalsFontsAndTheCapitalsTcvn3Lacks) {
    const Bytes bytes =
        "C\xE9ng h\xDF"
        "a";  // "Cộng hòa" in TCVN3
    EXPECT_EQ(convert(kTcvn3Caps, kUtf8, bytes).out,
              "C\xE1\xBB\x98NG H\xC3\x92"
              "A");
    EXPECT_EQ(convert(kTcvn3VnCaps, kUtf8, bytes).out,
              "C\xE1\xBB\x98ng h\xC3\x92"
              "a");
    EXPECT_EQ(convert(kUtf8, kTcvn3Caps,
                      "C\xE1\xBB\x98NG H\xC3\x92"
                      "A")
                  .out,
              "C\xE9NG H\xDF"
              "A");

    // Small letters into an all-capital font: each a loss, written as its capital.
    const Outcome small = convert(kUtf8, kTcvn3Caps, "c\xE1\xBB\x99ng", LossPolicy::kReplace);
    EXPECT_EQ(small.out, "C\xE9NG");
    EXPECT_EQ(small.problems, 4u);
    EXPECT_EQ(small.first.replacement[0], U'C');
    EXPECT_EQ(convert(kUtf8, kTcvn3VnCaps, "c\xE1\xBB\x99ng", LossPolicy::kReplace).problems, 1u);

    // "Ộ" has no byte of its own in TCVN3: refused, or its small letter under replace.
    const Outcome refused = convert(kUtf8, kTcvn3, "x\xE1\xBB\x98");
    EXPECT_TRUE(refused.refused);
    EXPECT_EQ(refused.first.character, U'\u1ED8');
    EXPECT_EQ(refused.first.column, 2u);
    const Outcome replaced = convert(kUtf8, kTcvn3, "x\xE1\xBB\x98", LossPolicy::kReplace);
    EXPECT_EQ(replaced.out, "x\xE9");
    EXPECT_EQ(replaced.first.replacement[0], U'\u1ED9');
}

// Two-byte spellings are read by longest match, a mark byte that completes nothing is
// undefined input, and a two-byte letter is one column.
TEST(Encodings, TwoByteSpellingsByLongestMatch) {
    struct Case {
        Bytes bytes;
        Bytes utf8;
    };
    const Case cases[] = {
        {"\xF4", "\xC6\xA1"},          // o with horn alone
        {"\xF4\xF9", "\xE1\xBB\x9B"},  // and with the acute
        {"\xF4"
         "a",
         "\xC6\xA1"
         "a"},                       // a letter that takes no mark after it
        {"a\xF9\xF9", "\xC3\xA1?"},  // a mark with nothing to complete
        {"b\xF9", "b?"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.bytes);
        const Outcome whole = convert(kVniWin, kUtf8, k.bytes, LossPolicy::kReplace);
        Bytes expected = k.utf8;
        const std::size_t q = expected.find('?');
        if (q != Bytes::npos) expected.replace(q, 1, "\xEF\xBF\xBD");
        EXPECT_EQ(whole.out, expected);
        for (std::size_t piece = 1; piece < k.bytes.size(); ++piece)
            EXPECT_EQ(convert(kVniWin, kUtf8, k.bytes, LossPolicy::kReplace, piece).out, whole.out)
                << piece;
    }
    const Outcome place = convert(kVniWin, kUtf8, "xa\xF9y \xF9");
    EXPECT_TRUE(place.refused);
    EXPECT_EQ(place.first.kind, Problem::Kind::kUndefined);
    EXPECT_EQ(place.first.offset, 5u);
    EXPECT_EQ(place.first.column, 5u) << "x, a with acute, y, space: four columns before it";
}

TEST(Encodings, Utf16ByteOrderAndBrokenUnits) {
    struct Case {
        int format;
        Bytes bytes;
        Bytes utf8;  // U+FFFD for each undefined piece
        std::uint64_t problems;
    };
    const Case cases[] = {
        {kUtf16, Bytes("\xFE\xFF\0V\x1E\xC7", 6), "V\xE1\xBB\x87", 0},
        {kUtf16, Bytes("\xFF\xFEV\0\xC7\x1E", 6), "V\xE1\xBB\x87", 0},
        {kUtf16, Bytes("V\0\xC7\x1E", 4), "V\xE1\xBB\x87", 0},    // no mark: little-endian
        {kUtf16Le, Bytes("V\0W", 3), "V\xEF\xBF\xBD", 1},         // an odd last byte
        {kUtf16Le, Bytes("\x00\xDCV\0", 4), "\xEF\xBF\xBDV", 1},  // a lone low surrogate
        {kUtf16Le, Bytes("\x3D\xD8V\0", 4), "\xEF\xBF\xBDV", 1},  // a high one not followed
        {kUtf16Le, Bytes("\x3D\xD8", 2), "\xEF\xBF\xBD", 1},      // nor at the end
        {kUtf16Be, Bytes("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80", 0},
        // Decomposed: composed on reading.
        {kUtf16Le, Bytes("e\0\x02\x03\x23\x03", 6), "\xE1\xBB\x87", 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.bytes));
        for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(3)}) {
            const Outcome r = convert(k.format, kUtf8, k.bytes, LossPolicy::kReplace, piece);
            EXPECT_EQ(r.out, k.utf8) << piece;
            EXPECT_EQ(r.problems, k.problems) << piece;
        }
    }
}

TEST(Encodings, ReferencesReadWhatTheyNameAndLeaveTheRest) {
    struct Case {
        Bytes in;
        Bytes utf8;
    };
    const Case cases[] = {
        {"&#7879;&#x1EC7;&#X1ec7;", "\xE1\xBB\x87\xE1\xBB\x87\xE1\xBB\x87"},
        {"a &amp; b", "a &amp; b"},
        {"&#; &#x; &#x1G; &#12a;", "&#; &#x; &#x1G; &#12a;"},
        {"&#1114112; &#55296; &#0;", "&#1114112; &#55296; &#0;"},
        {"&#00000000000065;", "&#00000000000065;"},  // longer than any reference read
        {"&&#65;", "&A"},
        {"end &#65", "end &#65"},
        {"e&#770;&#803;", "\xE1\xBB\x87"},  // composed
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.in);
        for (std::size_t piece : {std::size_t(0), std::size_t(1), std::size_t(2), std::size_t(5)}) {
            const Outcome r = convert(kReferences, kUtf8, k.in, LossPolicy::kRefuse, piece);
            EXPECT_EQ(r.out, k.utf8) << piece;
            EXPECT_EQ(r.problems, 0u) << piece;
        }
    }
    const Outcome high = convert(kReferences, kUtf8, "ab\xC3\xA0");
    EXPECT_TRUE(high.refused);
    EXPECT_EQ(high.first.offset, 2u);
    // Every text reads back as itself, ampersands and all.
    const Bytes text = kText + "&#65; & &amp; \xF0\x9F\x98\x80";
    const Outcome refs = convert(kUtf8, kReferences, text);
    EXPECT_EQ(convert(kReferences, kUtf8, refs.out).out, text);
}

// Decomposed (NFD) and composite output, for UTF-8, UTF-16 and references alike.
TEST(Encodings, UnicodeForms) {
    const Bytes viet = "Vi\xE1\xBB\x87t \xC4\x91\xC3\xA1 \xC3\xA2 \xE2\x82\xAC";
    EXPECT_EQ(convert(kUtf8, kUtf8, viet, LossPolicy::kRefuse, 0, false, true).out,
              "Vi\xC3\xAA\xCC\xA3t \xC4\x91"
              "a\xCC\x81 \xC3\xA2 \xE2\x82\xAC");
    EXPECT_EQ(convert(kUtf8, kReferences, viet, LossPolicy::kRefuse, 0, true).out,
              "Vie&#803;&#770;t &#273;a&#769; a&#770; &#8364;");  // marks in canonical order
    EXPECT_EQ(convert(kUtf8, kUtf16Le, "\xE1\xBB\x87", LossPolicy::kRefuse, 0, false, true).out,
              Bytes("\xEA\0\x23\x03", 4));
    // Every composite spelling reads back as the letter.
    const Bytes letters = all_letters();
    const Outcome composite = convert(kUtf8, kUtf8, letters, LossPolicy::kRefuse, 0, false, true);
    EXPECT_NE(composite.out, letters);
    EXPECT_EQ(convert(kUtf8, kUtf8, composite.out).out, letters);
    // A Unicode form asked of a target that has none is refused when the converter is made.
    EXPECT_FALSE(Converter(ConvertOptions{kUtf8, kTcvn3, LossPolicy::kRefuse, true}).ok());
}

// Windows-1258, VN1 and UTF-16 both ways against glibc's iconv, over every letter and a text;
// VNI for Windows against recode, which swaps the bytes of two capitals.
TEST(Encodings, AgainstIconvAndRecode) {
    const Bytes text = all_letters() + kText + "ASCII !\"#$%&'()*+,-./09:;<=>?@AZ[\\]^_`az{|}~\n";
    struct Case {
        int format;
        const char* charset;
    };
    for (const Case& k : {Case{kCp1258, "CP1258"}, Case{kVn1, "TCVN5712-1"}, Case{kUtf16, "UTF-16"},
                          Case{kUtf16Be, "UTF-16BE"}}) {
        SCOPED_TRACE(k.charset);
        bool ok = false;
        const Bytes theirs = through(std::string("iconv -f UTF-8 -t ") + k.charset, text, ok);
        if (!ok) GTEST_SKIP() << "iconv cannot convert to " << k.charset;
        const Outcome ours = convert(kUtf8, k.format, text);
        EXPECT_EQ(ours.problems, 0u);
        EXPECT_EQ(ours.out, theirs);
        const Bytes back =
            through(std::string("iconv -f ") + k.charset + " -t UTF-8", ours.out, ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(convert(k.format, kUtf8, ours.out).out, back);
        EXPECT_EQ(back, text);
    }
    // Windows-1258 read from either spelling of a letter: its own byte, or the toneless
    // letter and a tone byte.
    EXPECT_EQ(convert(kCp1258, kUtf8, "\xE0 a\xCC \xE2\xEC s\xEC").out,
              "\xC3\xA0 \xC3\xA0 \xE1\xBA\xA5 \xC5\x9B");
    EXPECT_EQ(convert(kUtf8, kCp1258, "\xC5\x9B").out, "s\xEC")
        << "s with acute, as glibc writes it";
    // O with tilde and acute: glibc writes O with acute and the tilde's byte, which reads back
    // as another character; its canonical marks, each a tone byte, read back as itself.
    for (const Bytes& c : {Bytes("\xE1\xB9\x8C"), Bytes("\xE1\xB9\xB9")}) {
        for (int f : {kCp1258, kVn1}) {
            const Outcome written = convert(kUtf8, f, c);
            EXPECT_EQ(written.problems, 0u);
            EXPECT_LE(written.out.size(), 3u);
            EXPECT_EQ(convert(f, kUtf8, written.out).out, c);
        }
    }

    bool ok = false;
    const Bytes recoded = through("recode -f UTF-8..VNI", all_letters(), ok);
    if (!ok) GTEST_SKIP() << "no recode";
    const Outcome ours = convert(kUtf8, kVniWin, all_letters());
    ASSERT_EQ(ours.problems, 0u);
    // recode gives the capitals A with breve and acute and A with breve and grave each
    // other's mark byte; every other capital's mark byte is its small letter's less 0x20,
    // as in the table: 41 C9 and 41 C8.
    Bytes expected = recoded;
    const std::size_t acute = expected.find("A\xC8\n"), grave = expected.find("A\xC9\n");
    ASSERT_NE(acute, Bytes::npos);
    ASSERT_NE(grave, Bytes::npos);
    expected[acute + 1] = '\xC9';
    expected[grave + 1] = '\xC8';
    EXPECT_EQ(ours.out, expected);
}

// Every new format, whole and in pieces of every size up to 7 and split anywhere in two:
// the same output and the same problems.
TEST(Encodings, PiecesMakeNoDifference) {
    const Bytes text =
        all_letters() + kText + "\xE2\x82\xAC \xF0\x9F\x98\x80 & \xE2\x80\x9Cq\xE2\x80\x9D";
    for (int f = kTcvn3; f < kConvertFormatCount; ++f) {
        SCOPED_TRACE(format_names[std::size_t(f)].name);
        // Into the format and back out of it, with whatever it lacks replaced.
        const Outcome written = convert(kUtf8, f, text, LossPolicy::kReplace);
        const Outcome read = convert(f, kUtf8, written.out, LossPolicy::kReplace);
        for (std::size_t piece = 1; piece <= 7; ++piece) {
            EXPECT_EQ(convert(kUtf8, f, text, LossPolicy::kReplace, piece).out, written.out);
            const Outcome r = convert(f, kUtf8, written.out, LossPolicy::kReplace, piece);
            EXPECT_EQ(r.out, read.out) << piece;
            EXPECT_EQ(r.problems, read.problems) << piece;
        }
        // What it wrote reads back without a problem; only what the format lacks differs.
        EXPECT_EQ(read.problems, 0u);
        if (f >= kUtf16) {
            EXPECT_EQ(read.out, text);
        }
    }
}

// The byte encodings with one byte for each letter go through the byte tables and vector
// maps of the 8-bit formats; the same conversion through characters (by way of references,
// which hold every character) gives the same bytes.
TEST(Encodings, OneByteEncodingsThroughTheTablesAsThroughCharacters) {
    Bytes every_byte;
    for (int b = 0; b < 256; ++b) every_byte += char(b);
    const Bytes text = all_letters() + kText + "\xE2\x80\x9C\xE2\x82\xAC\xE2\x80\xA6\xC2\xA0";
    auto through_characters = [](int from, int to, const Bytes& in) {
        const Outcome refs = convert(from, kReferences, in, LossPolicy::kReplace);
        return convert(kReferences, to, refs.out, LossPolicy::kReplace).out;
    };
    for (int codec : {kTcvn3, kTcvn3Caps, kTcvn3VnCaps, kVietwareF}) {
        for (int other = 0; other <= kUtf8; ++other) {
            SCOPED_TRACE(std::string(format_names[std::size_t(codec)].name) + " and " +
                         std::string(format_names[std::size_t(other)].name));
            // Every byte of the codec into the format, and every byte (or the text) back.
            EXPECT_EQ(convert(codec, other, every_byte, LossPolicy::kReplace).out,
                      through_characters(codec, other, every_byte));
            const Bytes source = other == kUtf8 ? text : every_byte;
            EXPECT_EQ(convert(other, codec, source, LossPolicy::kReplace).out,
                      through_characters(other, codec, source));
        }
    }
}

// Byte encodings with two-byte spellings or combining tone bytes are read through units of
// the target where each character is settled by its own bytes (codec_run), and one at a time
// elsewhere: both give what the path through characters gives, on a text in the encoding
// followed by every byte and every pair of a base and a second byte.
TEST(Encodings, TwoByteEncodingsThroughUnitsAsThroughCharacters) {
    const Bytes text = all_letters() + kText;
    for (int codec : {kVniWin, kVniMac, kCp1258, kVn1, kBkhcm2, kVietwareX}) {
        Bytes in = convert(kUtf8, codec, text, LossPolicy::kReplace).out;
        for (int b = 0; b < 256; ++b) in += char(b);
        for (int b : {int('a'), int('E'), int('o'), int('u'), int('y'), 0xF4, 0xD4, 0xC0, 0xE2})
            for (int m = 0x80; m < 0x100; ++m) in += {char(b), char(m), ' '};
        for (int other : {kUtf8, kViscii, 3, kTcvn3}) {
            SCOPED_TRACE(std::string(format_names[std::size_t(codec)].name) + " to " +
                         std::string(format_names[std::size_t(other)].name));
            const Outcome refs = convert(codec, kReferences, in, LossPolicy::kReplace);
            const Outcome direct = convert(codec, other, in, LossPolicy::kReplace);
            EXPECT_EQ(direct.out, convert(kReferences, other, refs.out, LossPolicy::kReplace).out);
            EXPECT_EQ(convert(codec, other, in, LossPolicy::kReplace, 3).out, direct.out);
        }
    }
}

// The byte encodings of several bytes a character, read and written by loops of their own.
constexpr int kSpelledCodecs[] = {kVniWin, kVniMac, kCp1258, kVn1, kBkhcm2, kVietwareX};
constexpr LossPolicy kPolicies[] = {LossPolicy::kRefuse, LossPolicy::kReplace,
                                    LossPolicy::kTransliterate};

void expect_same_problems(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.refused, b.refused);
    EXPECT_EQ(a.problems, b.problems);
    EXPECT_EQ(a.first.kind, b.first.kind);
    EXPECT_EQ(a.first.offset, b.first.offset);
    EXPECT_EQ(a.first.line, b.first.line);
    EXPECT_EQ(a.first.column, b.first.column);
    EXPECT_EQ(a.first.character, b.first.character);
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(a.first.bytes), a.first.byte_count),
              Bytes(reinterpret_cast<const char*>(b.first.bytes), b.first.byte_count));
}

// The distinct problems of `in` converted in pieces of `piece` bytes (0: whole): each with its
// count and its first place, most frequent first.
std::vector<std::string> tally(int from, int to, const Bytes& in, LossPolicy policy,
                               std::size_t piece) {
    Converter c({from, to, policy});
    std::vector<unsigned char> out(kConvertGrowth * in.size() + kConvertSlack);
    if (piece == 0) piece = in.size();
    for (std::size_t at = 0; at < in.size(); at += piece) {
        const std::size_t n = std::min(piece, in.size() - at);
        c.convert(reinterpret_cast<const unsigned char*>(in.data()) + at, n, out.data(), out.size(),
                  at + n == in.size());
    }
    std::uint64_t distinct = 0;
    std::vector<std::string> rows;
    for (const ProblemCount& p : c.most_frequent_problems(1 << 20, distinct))
        rows.push_back(std::to_string(p.count) + " U+" + std::to_string(p.problem.character) + " " +
                       Bytes(reinterpret_cast<const char*>(p.problem.bytes), p.problem.byte_count) +
                       " at " + std::to_string(p.problem.offset) + " " +
                       std::to_string(p.problem.line) + ":" + std::to_string(p.problem.column));
    return rows;
}

// Each line of `text` (after a line of its own) refused at the same first problem, at the
// same place, whole and fed a byte at a time: the places of problems after the first.
void expect_lines_refused_alike(int from, int to, const Bytes& text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        const Bytes line = "ok\n" + text.substr(at, end - at);
        SCOPED_TRACE(at);
        const Outcome whole = convert(from, to, line);
        expect_same_problems(whole, convert(from, to, line, LossPolicy::kRefuse, 1));
        at = end;
    }
}

// Reading: the units loop (whole input, ASCII a vector at a time) against the path through
// characters, which serves UTF-16 targets, on text and on every pair of bytes, in lines of
// uneven length; and against itself in pieces, whose ends fall on every kind of byte.
TEST(Encodings, ByteEncodingsReadByTheirLoopAsThroughCharacters) {
    for (int codec : kSpelledCodecs) {
        Bytes in = convert(kUtf8, codec, all_letters() + kText, LossPolicy::kReplace).out;
        for (int b = 0; b < 256; ++b) {
            for (int m = 0; m < 256; ++m) in += {char(b), char(m)};
            in += Bytes(std::size_t(b % 23), 'x') + "\n";
        }
        for (LossPolicy policy : kPolicies) {
            for (int other : {kUtf8, kViscii, 3, kTcvn3}) {
                SCOPED_TRACE(std::string(format_names[std::size_t(codec)].name) + " to " +
                             std::string(format_names[std::size_t(other)].name) + ", policy " +
                             std::to_string(int(policy)));
                const Outcome fast = convert(codec, other, in, policy);
                if (policy == LossPolicy::kRefuse && (other == kUtf8 || other == kViscii))
                    expect_lines_refused_alike(codec, other, in);
                if (other == kUtf8) {
                    // UTF-16 holds every character: the same problems, at the same places.
                    const Outcome slow = convert(codec, kUtf16Le, in, policy);
                    expect_same_problems(fast, slow);
                    EXPECT_EQ(fast.out, convert(kUtf16Le, kUtf8, slow.out).out);
                } else if (policy != LossPolicy::kRefuse) {
                    const Outcome u16 = convert(codec, kUtf16Le, in, policy);
                    EXPECT_EQ(fast.out, convert(kUtf16Le, other, u16.out, policy).out);
                }
                if (policy != LossPolicy::kRefuse && (other == kUtf8 || other == kViscii)) {
                    EXPECT_EQ(tally(codec, other, in, policy, 0),
                              tally(codec, other, in, policy, 1));
                }
                for (std::size_t piece : {1, 2, 3, 17, 4093}) {
                    if (piece < 3 && other != kUtf8 && other != kViscii) continue;
                    const Outcome pieces = convert(codec, other, in, policy, piece);
                    EXPECT_EQ(pieces.out, fast.out) << piece;
                    expect_same_problems(pieces, fast);
                }
            }
        }
    }
}

// Every character the UTF-8 loop takes, precomposed and (letters) decomposed, alone, after
// ASCII, before a combining mark that joins it, and among malformed bytes, in lines.
Bytes utf8_writing_text() {
    Bytes text = all_letters() + kText;
    auto each = [&](char32_t c) {
        // Appended piece by piece: GCC 12 sees a false overlap (-Wrestrict) in
        // "literal" + std::string at -O3.
        const Bytes u = utf8_of(c);
        text.append(" ").append(u).append("x").append(u).append(utf8_of(0x301)).append("a");
        text.append(u).append("\xC3").append(u).append(utf8_of(0x323)).append(utf8_of(0x302));
        text.append("\n");
    };
    for (char32_t c = 1; c < 0x300; ++c) each(c);
    for (char32_t c = detail::kAdditionalFirst; c < detail::kAdditionalEnd; ++c) each(c);
    for (std::size_t p = 0; p < kLetterCount; ++p) {
        const LetterDecomposition& d = letter_decompositions[p];
        Bytes nfd;
        for (int k = 0; k < d.size; ++k) nfd += utf8_of(d.cps[k]);
        text.append("t").append(nfd).append(" ").append(nfd).append(utf8_of(0x300));
        text.append("\xE1\xBA").append(nfd).append("\n");
    }
    return text;
}

// Writing: the spellings loop (whole input) against the general path, which takes a UTF-8
// source fed a byte at a time, and against the path from UTF-16, for every policy.
TEST(Encodings, ByteEncodingsWrittenByTheirLoopAsThroughCharacters) {
    const Bytes text = utf8_writing_text();
    const Outcome u16 = convert(kUtf8, kUtf16Le, text, LossPolicy::kReplace);
    for (int codec : kSpelledCodecs) {
        for (LossPolicy policy : kPolicies) {
            SCOPED_TRACE(std::string(format_names[std::size_t(codec)].name) + ", policy " +
                         std::to_string(int(policy)));
            const Outcome fast = convert(kUtf8, codec, text, policy);
            for (std::size_t piece : {1, 2, 5, 4093}) {
                const Outcome pieces = convert(kUtf8, codec, text, policy, piece);
                EXPECT_EQ(pieces.out, fast.out) << piece;
                expect_same_problems(pieces, fast);
            }
            if (policy != LossPolicy::kRefuse) {
                EXPECT_EQ(fast.out, convert(kUtf16Le, codec, u16.out, policy).out);
            } else {
                expect_lines_refused_alike(kUtf8, codec, text);
            }
        }
    }
}

// The derived tables against what they replace: each packed spelling is what the general
// path writes for the character alone; a character left out is one that path reports, or
// spells with a tone byte (Windows-1258, VN1). And each base and tone the reading tables
// compose gives the letter NFC gives.
TEST(Encodings, DerivedTablesAgreeWithTheGeneralPath) {
    for (int codec : kSpelledCodecs) {
        SCOPED_TRACE(format_names[std::size_t(codec)].name);
        const SpelledTargets& t = spelled_target(codec);
        auto check = [&](char32_t c, std::uint32_t packed) {
            SCOPED_TRACE(unsigned(c));
            const Outcome general =
                convert(kUtf16Le, codec, {char(c & 0xFF), char(c >> 8)}, LossPolicy::kReplace);
            if (packed != 0) {
                EXPECT_EQ(general.problems, 0u);
                EXPECT_EQ(general.out, Bytes(reinterpret_cast<const char*>(&packed), packed >> 24));
            } else {
                EXPECT_TRUE(general.problems != 0 ||
                            ((codec == kCp1258 || codec == kVn1) && general.out.size() >= 2));
            }
        };
        for (char32_t c = 0; c < 0x300; ++c) check(c, t.low[c]);
        for (char32_t c = detail::kAdditionalFirst; c < detail::kAdditionalEnd; ++c)
            check(c, t.additional[c - detail::kAdditionalFirst]);
    }
    for (char32_t tone : combining_tones) {
        for (char32_t c = 0; c < 0x1EFA; ++c) {
            if (c >= 0x80 && letter_position(c) < 0) continue;
            // What NFC makes of the character and the tone: one character, or none (the NUL
            // ends the string utf8proc reads, so it is not asked).
            char32_t nfc = kNoCharacter;
            if (c != 0) {
                Bytes pair = utf8_of(c);
                pair.append(utf8_of(tone));
                utf8proc_uint8_t* composed =
                    utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t*>(pair.c_str()));
                utf8proc_int32_t first = -1;
                const auto length = utf8proc_iterate(composed, -1, &first);
                if (length > 0 && composed[length] == 0) nfc = char32_t(first);
                std::free(composed);
            }
            const char32_t ours = letter_with_tone(c, tone);
            SCOPED_TRACE(std::to_string(unsigned(c)) + " " + std::to_string(unsigned(tone)));
            if (ours != kNoCharacter) {
                EXPECT_EQ(ours, nfc);
            } else if (nfc != kNoCharacter) {
                EXPECT_LT(letter_position(nfc), 0) << "a letter NFC makes, missed";
            }
        }
    }
}

}  // namespace
}  // namespace toneshift
