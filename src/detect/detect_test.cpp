#include "detect/detect.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/converter.h"
#include "convert/format_names.h"

namespace toneshift {
namespace {

using Bytes = std::string;

// `text` converted from one format into another by the converter (replacing what the
// target lacks: formats 5 and 7 write some capitals as small letters).
Bytes convert(const Bytes& text, int from, int to) {
    Converter c(ConvertOptions{from, to, LossPolicy::kReplace, false});
    EXPECT_TRUE(c.ok());
    std::vector<unsigned char> out(kConvertGrowth * text.size() + kConvertSlack);
    const ConvertResult r = c.convert(reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), out.data(), out.size(), true);
    EXPECT_EQ(r.consumed, text.size());
    return Bytes(reinterpret_cast<const char*>(out.data()), r.written);
}

Detection detect(const Bytes& text) {
    Detector d;
    d.feed(reinterpret_cast<const unsigned char*>(text.data()), text.size());
    return d.finish();
}

std::string name(int f) {
    return f < 0 ? "-" : std::string(format_names[std::size_t(f)].name);
}

// Passages of our own, in VIQR.
const char* const kPassages[] = {
    "Ho^m nay tro+`i dde^.p, chu'ng to^i ddi da.o quanh ho^` va` no'i chuye^.n ve^` nhu+~ng "
    "nga`y ho.c o+? tru+o+`ng cu~. Ba.n to^i ke^? ra(`ng ca^`u ddo' va^~n co`n nguye^n nhu+ "
    "xu+a.\n",
    "Ngu+o+`i ba'n ha`ng ma(.c a'o xanh DDu+'NG o+? ca^`u thang. Anh a^'y mo+`i chu'ng to^i "
    "va`o nha` uo^'ng tra` no'ng va` a(n ba'nh.\n",
    "Cuo^'n sa'ch na`y ke^? la.i chuye^'n ddi da`i cu?a mo^.t nho'm sinh vie^n tre^n nhu+~ng "
    "con ddu+o+`ng nu'i phi'a Ba('c.\n",
};

// A detection is right when the format it names reads the text as the true one does.
void expect_right(const Detection& d, int truth, const Bytes& bytes) {
    ASSERT_EQ(d.verdict, Detection::Verdict::kFormat) << d.details;
    if (d.format == truth) return;
    EXPECT_EQ(convert(bytes, d.format, kUtf8), convert(bytes, truth, kUtf8))
        << name(d.format) << " reads it otherwise";
}

// Every format but plain text and the capitals fonts of TCVN3 (the font makes them
// capitals, not the bytes): written with replacement where a format lacks a letter
// (TCVN3 has no toned capitals), so that the text stays Vietnamese.
TEST(Detect, PassagesInEveryFormat) {
    for (const char* passage : kPassages) {
        for (int f = 0; f < kConvertFormatCount; ++f) {
            if (f == kPlainVietnamese || f == kTcvn3Caps || f == kTcvn3VnCaps) continue;
            SCOPED_TRACE(name(f) + ": " + passage);
            const Bytes bytes = convert(passage, kViqr, f);
            expect_right(detect(bytes), f, bytes);
        }
    }
}

// Two-byte letters, UTF-16's first bytes and code units, and references cut anywhere.
TEST(Detect, SplittingTheInputChangesNothing) {
    for (int f : {3, kVniWin, kCp1258, kUtf16, kUtf16Be, kReferences}) {
        SCOPED_TRACE(name(f));
        const Bytes text = convert(std::string(kPassages[0]) + kPassages[1], kViqr, f);
        const Detection whole = detect(text);
        EXPECT_EQ(whole.format, f) << whole.details;
        for (std::size_t piece : {std::size_t(1), std::size_t(2), std::size_t(7)}) {
            Detector d;
            for (std::size_t i = 0; i < text.size(); i += piece)
                d.feed(reinterpret_cast<const unsigned char*>(text.data()) + i,
                       std::min(piece, text.size() - i));
            const Detection r = d.finish();
            EXPECT_EQ(r.verdict, whole.verdict);
            EXPECT_EQ(r.format, whole.format);
            EXPECT_EQ(r.details, whole.details);
        }
    }
}

Bytes utf16(const std::u16string& units, bool big, bool mark) {
    Bytes out;
    auto put = [&](char16_t u) {
        out.push_back(char(big ? u >> 8 : u & 0xFF));
        out.push_back(char(big ? u & 0xFF : u >> 8));
    };
    if (mark) put(0xFEFF);
    for (char16_t u : units) put(u);
    return out;
}

// With a byte-order mark, any text that decodes; without one, only Vietnamese text.
TEST(Detect, Utf16) {
    const std::u16string vietnamese =
        u"Ti\u1EBFng Vi\u1EC7t l\u00E0 ti\u1EBFng m\u1EB9 \u0111\u1EBB.\n";
    const std::u16string english = u"The quick brown fox jumps over the lazy dog again.\n";
    struct Case {
        const char* what;
        Bytes text;
        int format;  // -1: unknown
    };
    const Case cases[] = {
        {"Vietnamese, little-endian mark", utf16(vietnamese, false, true), kUtf16},
        {"Vietnamese, big-endian mark", utf16(vietnamese, true, true), kUtf16},
        {"English with a mark", utf16(english, false, true), kUtf16},
        {"Vietnamese, no mark, little-endian", utf16(vietnamese, false, false), kUtf16Le},
        {"Vietnamese, no mark, big-endian", utf16(vietnamese, true, false), kUtf16Be},
        {"English without a mark", utf16(english, false, false), -1},
        {"a lone high surrogate", utf16(vietnamese + u"\xD800 x", false, true), -1},
        {"a lone low surrogate", utf16(u"\xDC00" + vietnamese, true, true), -1},
        {"an odd number of bytes", utf16(vietnamese, false, true) + "x", -1},
        {"a pair of surrogates", utf16(vietnamese + u"\xD83D\xDE00", false, true), kUtf16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Detection d = detect(c.text);
        if (c.format < 0) {
            EXPECT_EQ(d.verdict, Detection::Verdict::kUnknown) << name(d.format) << d.details;
            EXPECT_EQ(d.candidates.size(), 1u);
        } else {
            EXPECT_EQ(name(d.format), name(c.format)) << d.details;
        }
    }
}

TEST(Detect, NumericReferences) {
    struct Case {
        const char* text;
        int format;
    };
    const Case cases[] = {
        {"Vi&#7879;t Nam &#273;&#7865;p l&#7855;m\n", kReferences},
        {"Vi&#x1EC7;t Nam &#X111;&#x1eb9;p\n", kReferences},
        {"caf&#233; cr&#232;me\n", kReferences},               // reads as exactly its characters
        {"AT&T &amp; Co. &#65;&#66;C\n", kPlainVietnamese},    // ASCII only
        {"&#xZZ; &#; &#12a; &#1114112;\n", kPlainVietnamese},  // no reference at all
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Detection d = detect(c.text);
        EXPECT_EQ(name(d.format), name(c.format)) << d.details;
    }
}

// TCVN3 text is VN1 text too: the commoner is named, and the other said to read it alike.
// VN1 puts toned capitals where TCVN3 has control bytes or punctuation: such text is VN1.
TEST(Detect, Tcvn3OverVn1WhereTheyReadAlike) {
    const Bytes tcvn3 = convert(kPassages[0], kViqr, kTcvn3);
    Detection d = detect(tcvn3);
    EXPECT_EQ(name(d.format), "tcvn3");
    EXPECT_NE(d.details.find("reads the same as vn1"), std::string::npos) << d.details;

    const Bytes vn1 = convert(std::string(kPassages[0]) +
                                  "CO^.NG HO`A XA~ HO^.I CHU? NGHI~A "
                                  "VIE^.T NAM, DDO^.C LA^.P TU+. DO.\n",
                              kViqr, kVn1);
    d = detect(vn1);
    EXPECT_EQ(name(d.format), "vn1") << d.details;
}

// Two readings that make syllables of every word, as many and as often in the dictionary,
// differ only in how common their syllables are: a short text like that is unknown.
TEST(Detect, ReadingsAsGoodButForHowCommonAreNotToldApart) {
    const Bytes text =
        convert("no^.i bo^. tho^ng qua: info (coreutils) chown invocation\n", kViqr, kViscii);
    const Detection d = detect(text);
    EXPECT_EQ(d.verdict, Detection::Verdict::kUnknown) << name(d.format) << d.details;
}

TEST(Detect, SevenBitText) {
    struct Case {
        const char* text;
        int format;
    };
    const Case cases[] = {
        {"The quick brown fox jumps over the lazy dog.\n", kPlainVietnamese},
        {"Hom nay troi dep, chung toi di dao quanh ho.\n", kPlainVietnamese},
        {"Vie^.t Nam que^ hu+o+ng to^i\n", kViqr},
        {"ddi ho.c ve^` muo^.n\n", kViqr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Detection d = detect(c.text);
        EXPECT_EQ(d.verdict, Detection::Verdict::kFormat) << d.details;
        EXPECT_EQ(name(d.format), name(c.format)) << d.details;
    }
}

TEST(Detect, Utf8WithAnyNonAsciiIsUtf8) {
    // "Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t" is "Tieng Viet" with its marks; a French word in
    // UTF-8 is UTF-8 all the same.
    for (const char* text : {"Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t\n", "caf\xC3\xA9 cr\xC3\xA8me\n"}) {
        const Detection d = detect(text);
        EXPECT_EQ(d.verdict, Detection::Verdict::kFormat);
        EXPECT_EQ(d.format, kUtf8);
    }
}

// The letters of "Toi da bong" with their marks have the same bytes in VISCII and VN
// Thin-Art (PC): 0xF4 o^, 0xF0 dd, 0xE1 a', 0xF3 o'. Either name is right.
TEST(Detect, FormatsThatReadTheTextAlikeAreBothRight) {
    const Bytes text = "T\xF4i \xF0\xE1 b\xF3ng c\xF9ng b\xE1n t\xF4i.\n";
    const Detection d = detect(text);
    ASSERT_EQ(d.verdict, Detection::Verdict::kFormat) << d.details;
    EXPECT_TRUE(d.format == kViscii || d.format == 7) << name(d.format);
    EXPECT_NE(d.details.find(d.format == kViscii ? "thinart-pc" : "viscii"), std::string::npos)
        << d.details;
}

TEST(Detect, TextThatIsNoVietnameseIsUnknown) {
    std::mt19937 rng(7);
    Bytes random(4096, '\0');
    for (char& c : random) c = char(rng());
    Bytes utf16;
    for (char c : std::string("Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t and more text\n")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    struct Case {
        const char* what;
        Bytes text;
    };
    const Case cases[] = {
        // Latin-1: "Le gar\xE7on \xE9tait tr\xE8s f\xE2" "ch\xE9 ..."
        {"French in Latin-1",
         "Le gar\xE7on \xE9tait tr\xE8s f\xE2"
         "ch\xE9 apr\xE8s la f\xEAte: il a d\xFB "
         "rentrer \xE0 pied, d\xE9\xE7u, sous la pluie d'\xE9t\xE9.\n"},
        // Windows-1252: "F\xFCr gro\xDF" "e M\xE4" "dchen ..."
        {"German in Windows-1252",
         "F\xFCr gro\xDF"
         "e M\xE4"
         "dchen ist das \xDC"
         "ben sch\xF6n \x84wirklich\x93 "
         "n\xF6tig, sagt die Lehrerin \x96 und sie h\xE4lt Wort.\n"},
        {"random bytes", random},
        {"UTF-16", utf16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Detection d = detect(c.text);
        EXPECT_EQ(d.verdict, Detection::Verdict::kUnknown) << name(d.format) << d.details;
    }
}

// "gi\xE4ng" is a syllable in more than one format (VNLab and VISCII read valid, different
// syllables from it): too little to tell them apart.
TEST(Detect, AnAmbiguousShortTextIsUnknown) {
    const Detection d = detect("gi\xE4ng\n");
    EXPECT_EQ(d.verdict, Detection::Verdict::kUnknown) << name(d.format) << d.details;
    EXPECT_GE(d.candidates.size(), 2u);
}

TEST(Detect, APartInEachOfTwoFormatsIsMixed) {
    Bytes first, second;
    for (int i = 0; i < 10; ++i)
        for (const char* passage : kPassages) {
            first += convert(passage, kViqr, kViscii);
            second += convert(passage, kViqr, 3);
        }
    const Detection d = detect(first + second);
    ASSERT_EQ(d.verdict, Detection::Verdict::kMixed) << name(d.format) << d.details;
    EXPECT_EQ(d.details, "lines 1-30 viscii, lines 31-60 vni");
    EXPECT_EQ(d.candidates, (std::vector<int>{kViscii, 3}));
    ASSERT_EQ(d.ranges.size(), 2u);
    EXPECT_EQ(d.ranges[0].first_line, 1u);
    EXPECT_EQ(d.ranges[0].last_line, 30u);
    EXPECT_EQ(d.ranges[0].format, kViscii);
    EXPECT_EQ(d.ranges[1].first_line, 31u);
    EXPECT_EQ(d.ranges[1].last_line, 60u);
    EXPECT_EQ(d.ranges[1].format, 3);

    // Each part alone is no mix.
    EXPECT_EQ(detect(first).verdict, Detection::Verdict::kFormat);
    EXPECT_EQ(detect(second).verdict, Detection::Verdict::kFormat);
}

}  // namespace
}  // namespace toneshift

namespace toneshift {
namespace {

// Long enough that the detector samples the words of its second part.
TEST(Detect, ALongTextWithASecondPartIsMixed) {
    Bytes first, second;
    for (const char* passage : kPassages) {
        first += convert(passage, kViqr, kViscii);
        second += convert(passage, kViqr, 3);
    }
    Bytes text;
    for (int i = 0; i < 2000; ++i) text += first;  // 150,000 words
    for (int i = 0; i < 200; ++i) text += second;
    const Detection d = detect(text);
    ASSERT_EQ(d.verdict, Detection::Verdict::kMixed) << name(d.format) << d.details;
    EXPECT_EQ(d.details, "lines 1-6000 viscii, lines 6001-6600 vni");
}

// The guard of a conversion: text given as a format it clearly is not, and that reads it as
// other characters, is named; text given its own format, or one that reads it alike, is not.
TEST(Detect, ClearlyOtherThanTheFormatGiven) {
    Bytes viqr;
    for (const char* p : kPassages) viqr += p;
    const Bytes utf8 = convert(viqr, kViqr, kUtf8);
    const Bytes vni = convert(viqr, kViqr, 3);
    const Bytes viscii = convert(viqr, kViqr, kViscii);
    struct Case {
        const char* what;
        Bytes text;
        int given;
        int expected;
    };
    const Case cases[] = {
        {"UTF-8 given as VISCII", utf8, kViscii, kUtf8},
        {"UTF-8 given as VIQR", utf8, kViqr, kUtf8},
        {"UTF-8 given as plain", utf8, kPlainVietnamese, kUtf8},
        {"VNI given as VISCII", vni, kViscii, 3},
        {"VNI given as UTF-8", vni, kUtf8, 3},
        {"VISCII given as VISCII", viscii, kViscii, -1},
        {"VISCII given as VIQR (VIQR reads its bytes as VISCII)", viscii, kViqr, -1},
        {"UTF-8 given as UTF-8", utf8, kUtf8, -1},
        {"7-bit VIQR given as VISCII", viqr, kViscii, -1},
        {"English given as VNI", "The quick brown fox jumps over the lazy dog.\n", 3, -1},
        {"too short to tell", "gi\xE4ng\n", kViscii, -1},
        {"UTF-8 given as TCVN3", utf8, kTcvn3, kUtf8},
        {"UTF-8 given as VN1", utf8, kVn1, kUtf8},
        {"UTF-8 given as UTF-16", utf8, kUtf16, kUtf8},
        {"UTF-8 given as references", utf8, kReferences, kUtf8},
        {"VNI for Windows given as such", convert(utf8, kUtf8, kVniWin), kVniWin, -1},
        {"TCVN3 given as such", convert(utf8, kUtf8, kTcvn3), kTcvn3, -1},
        {"VISCII given as TCVN3", viscii, kTcvn3, kViscii},
        {"TCVN3 given as its capitals font", convert(utf8, kUtf8, kTcvn3), kTcvn3Caps, -1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Detector d;
        d.feed(reinterpret_cast<const unsigned char*>(k.text.data()), k.text.size());
        d.finish();
        EXPECT_EQ(d.clearly_other_than(k.given), k.expected);
    }
}

}  // namespace
}  // namespace toneshift

namespace toneshift {
namespace {

// A count of one takes the singular: "1 word", "line 3".
TEST(Detect, DetailsCountOneInTheSingular) {
    struct Case {
        Bytes text;
        std::string details;
    };
    Bytes first_line, second_line;
    for (int i = 0; i < 10; ++i)
        for (const char* passage : kPassages) {
            Bytes p = passage;
            p.pop_back();  // the passage's line feed
            first_line += convert(p + " ", kViqr, kViscii);
            second_line += convert(p + " ", kViqr, 3);
        }
    const Case cases[] = {
        {"cho+i\n", "(1 of 1 VIQR spelling is a syllable)"},
        {"tie^'ng Vie^.t\n", "(2 of 2 VIQR spellings are syllables)"},
        {"l|i\n", "(7-bit; 1 word with letters on ASCII punctuation is a syllable)"},
        {first_line + "\n" + second_line + "\n", "line 1 viscii, line 2 vni"},
        {first_line + "\n\n" + second_line + "\n", "line 1 viscii, lines 2-3 vni"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.details);
        EXPECT_EQ(detect(k.text).details, k.details);
    }
}

// One detector reset between texts answers as a fresh one for each, whatever came before.
TEST(Detect, AResetDetectorAnswersAsAFreshOne) {
    Bytes viqr;
    for (const char* p : kPassages) viqr += p;
    std::vector<Bytes> texts;
    for (int f = 0; f <= kUtf8; ++f) texts.push_back(convert(viqr, kViqr, f));
    texts.push_back(convert(viqr, kViqr, kUtf8) + convert(viqr, kViqr, 3));  // mixed
    texts.push_back("gi\xE4ng\n");
    texts.push_back("");
    Detector reused;
    for (int round = 0; round < 2; ++round) {
        for (const Bytes& text : texts) {
            SCOPED_TRACE(text.substr(0, 40));
            reused.reset();
            reused.feed(reinterpret_cast<const unsigned char*>(text.data()), text.size());
            const Detection again = reused.finish();
            const Detection fresh = detect(text);
            EXPECT_EQ(again.verdict, fresh.verdict);
            EXPECT_EQ(again.format, fresh.format);
            EXPECT_EQ(again.details, fresh.details);
            EXPECT_EQ(again.candidates, fresh.candidates);
        }
    }
}

}  // namespace
}  // namespace toneshift
