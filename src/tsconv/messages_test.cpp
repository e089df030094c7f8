#include "tsconv/messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "convert/format_names.h"
#include "tables/letter_unicode.h"

namespace toneshift::tsconv {
namespace {

Problem loss(char32_t c) {
    Problem p;
    p.kind = Problem::Kind::kLoss;
    p.character = c;
    return p;
}

Problem undefined(std::initializer_list<unsigned char> bytes) {
    Problem p;
    p.kind = Problem::Kind::kUndefined;
    for (unsigned char b : bytes) p.bytes[p.byte_count++] = b;
    return p;
}

TEST(Messages, ProblemsShowCodePointCharacterOrBytes) {
    struct Case {
        Problem problem;
        std::string shown;
    };
    const Case cases[] = {
        {loss(U'\u20AC'), "U+20AC \"\xE2\x82\xAC\""},
        {loss(U'\u1EA0'), "U+1EA0 \"\xE1\xBA\xA0\""},
        {loss(U'@'), "U+0040 \"@\""},
        {loss(U'\U0001F600'), "U+1F600 \"\xF0\x9F\x98\x80\""},
        {loss(0x02), "U+0002"},    // a control character is not printed
        {loss(0x85), "U+0085"},    // nor a C1 control
        {loss(0x2028), "U+2028"},  // nor a line separator
        {loss(0xE000), "U+E000"},  // nor a private-use character
        {undefined({0x80}), "undefined byte 0x80"},
        {undefined({0xE1, 0xBA}), "undefined bytes 0xE1 0xBA"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.shown);
        EXPECT_EQ(describe_problem(k.problem), k.shown);
    }
}

TEST(Messages, ReplacementsAreQuotedAndPlacesCountFromOne) {
    Problem p = loss(U'\u201C');
    p.replacement[0] = U'"';
    p.replacement_size = 1;
    EXPECT_EQ(describe_replacement(p), "'\"'");
    p.replacement[0] = U'\uFFFD';
    EXPECT_EQ(describe_replacement(p), "\"\xEF\xBF\xBD\"");
    p.replacement[0] = '.';
    p.replacement[1] = '.';
    p.replacement[2] = '.';
    p.replacement_size = 3;
    EXPECT_EQ(describe_replacement(p), "\"...\"");

    p.line = 3;
    p.column = 14;
    EXPECT_EQ(problem_place("a_b.txt", p), "a_b.txt:3:14");
    EXPECT_EQ(problem_place("a b.txt", p), "'a b.txt':3:14");
    EXPECT_EQ(problem_place("-", p), "(standard input):3:14");
}

// The names of files as messages show them, as GNU ls --quoting-style=shell-escape does.
TEST(Messages, NamesAreQuotedForTheShellAndControlsEscaped) {
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {"plain.txt", "plain.txt"},
        {"dir/-a_b,c+d%e:f@g]h.txt", "dir/-a_b,c+d%e:f@g]h.txt"},
        {"vi\xE1\xBB\x87t nam.txt", "'vi\xE1\xBB\x87t nam.txt'"},
        {"vi\xE1\xBB\x87t.txt", "vi\xE1\xBB\x87t.txt"},  // Vietnamese UTF-8 stays as it is
        {"x\nfake.txt: utf-8 (valid UTF-8)", "'x'$'\\n''fake.txt: utf-8 (valid UTF-8)'"},
        {"\x1B]0;title\x07red\x1B[31m", "''$'\\033'']0;title'$'\\a''red'$'\\033''[31m'"},
        {"a\tb", "'a'$'\\t''b'"},
        {"\r\b\f\v\x01", "''$'\\r\\b\\f\\v\\001'"},
        {"del\x7F", "'del'$'\\177'"},
        {"c1\xC2\x85x", "'c1'$'\\302\\205''x'"},                         // U+0085, a C1 control
        {"bad\xFF\xFEname", "'bad'$'\\377\\376''name'"},                 // invalid UTF-8
        {"cut\xE1\xBB", "'cut'$'\\341\\273'"},                           // a sequence cut short
        {"sur\xED\xA0\x80", "'sur'$'\\355\\240\\200'"},                  // a surrogate
        {"ls\xE2\x80\xA8x", "'ls'$'\\342\\200\\250''x'"},                // the line separator
        {"rlo\xE2\x80\xAEtxt.exe", "'rlo'$'\\342\\200\\256''txt.exe'"},  // a bidi override
        {"it's", "\"it's\""},
        {"it's mine", "\"it's mine\""},
        {"it's $HOME", "'it'\\''s $HOME'"},
        {"a\"b", "'a\"b'"},
        {"'\n", "''\\'''$'\\n'"},
        {"\x01'a", "''$'\\001'\\''a'"},
        {"a$b", "'a$b'"},
        {"a*b?[c]", "'a*b?[c]'"},
        {"back\\slash", "'back\\slash'"},
        {"a=b", "'a=b'"},
        {"#x", "'#x'"},
        {"x#", "x#"},
        {"~x", "'~x'"},
        {"x~", "x~"},
        {"{", "'{'"},
        {"{x}", "{x}"},
        {"x'{", "'x'\\''{'"},
        {"", "''"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::PrintToString(k.name));
        EXPECT_EQ(quote_name(k.name), k.shown);
    }
    EXPECT_EQ(display_name("-"), "(standard input)");
    EXPECT_EQ(output_display_name("-"), "(standard output)");
    EXPECT_EQ(display_name("a\nb"), "'a'$'\\n''b'");
    EXPECT_EQ(output_display_name("a b"), "'a b'");
}

// Reads a shell word as bash would: '...', "..." (without escapes: quote_name never needs
// them), $'...' with \n and its kin and \NNN, \X outside quotes.
std::string unquote(std::string_view word) {
    std::string out;
    std::size_t i = 0;
    auto fail = [&] {
        ADD_FAILURE() << "not a shell word: " << word;
        i = word.size();
    };
    while (i < word.size()) {
        if (word.substr(i, 2) == "$'") {
            for (i += 2; i < word.size() && word[i] != '\''; ++i) {
                if (word[i] != '\\') {
                    out += word[i];
                    continue;
                }
                const char e = i + 1 < word.size() ? word[i + 1] : '\0';
                const std::string_view letters = "abfnrtv", bytes = "\a\b\f\n\r\t\v";
                if (e != '\0' && letters.find(e) != std::string_view::npos) {
                    out += bytes[letters.find(e)];
                    ++i;
                } else if (e >= '0' && e <= '7' && i + 3 < word.size()) {
                    out += char((word[i + 1] - '0') * 64 + (word[i + 2] - '0') * 8 +
                                (word[i + 3] - '0'));
                    i += 3;
                } else {
                    fail();
                }
            }
            if (i >= word.size()) {
                fail();
                break;
            }
            ++i;
        } else if (word[i] == '\'' || word[i] == '"') {
            const std::size_t end = word.find(word[i], i + 1);
            if (end == std::string_view::npos) {
                fail();
                break;
            }
            out.append(word.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (word[i] == '\\' && i + 1 < word.size()) {
            out += word[i + 1];
            i += 2;
        } else {
            out += word[i++];
        }
    }
    return out;
}

// Whatever the bytes of a name, its quoted form holds no control byte, and the shell reads
// it back as the same name.
TEST(Messages, QuotedNamesHoldNoControlBytesAndReadBackAsTheName) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 16;
    };
    // Bytes that matter most, often: controls, quotes, UTF-8 leads and continuations.
    const std::string_view favourites = "\n\t\x1B\x7F'\"$\\ #~{}\xC2\x85\xE1\xBB\x87\xFF\x80";
    for (int n = 0; n < 20000; ++n) {
        std::string name;
        const std::size_t size = next() % 12;
        for (std::size_t i = 0; i < size; ++i) {
            const unsigned r = next();
            name += r % 3 == 0 ? favourites[r / 3 % favourites.size()] : char(r % 256);
        }
        const std::string shown = quote_name(name);
        SCOPED_TRACE(testing::PrintToString(name) + " as " + testing::PrintToString(shown));
        for (unsigned char b : shown) ASSERT_TRUE(b >= 0x20 && b != 0x7F) << int(b);
        ASSERT_EQ(unquote(shown), name);
    }
}

// What each format cannot hold, as the tables say; the converter agrees, character by
// character.
TEST(Messages, FormatLacksWhatTheConverterCannotWrite) {
    const std::string expected[kConvertFormatCount] = {
        "6 control characters (U+0002 U+0005 U+0006 U+0014 U+0019 U+001E)",
        "14 control characters (U+0002-U+0006 U+0010-U+0015 U+0019 U+001C U+001D)",
        "@ ^ ` { | } ~",
        "@ ^ ` { | } ~",
        "@ ^ ` { | } ~",
        "50 capitals that share their small letter's byte",
        "@ [ \\ ] ^ _ ` { | } ~",
        "34 capitals that share their small letter's byte",
        "@ ^ ` { | } ~",
        "diacritics (each letter is written as its base letter)",
        "6 control characters (U+0002 U+0005 U+0006 U+0014 U+0019 U+001E)",
        "",
        "60 capitals that share their small letter's byte",
        "a-z; 67 small letters (a capitals font draws each as its capital)",
        "67 small letters (a capitals font draws each as its capital)",
        "",
        "",
        "",
        "12 control characters (U+0001 U+0002 U+0004-U+0006 U+0011-U+0017)",
        "",
        "60 capitals that share their small letter's byte",
        "",
        "",
        "",
        "",
        "",
    };
    const std::string list = format_list();
    for (int f = 0; f < kConvertFormatCount; ++f) {
        SCOPED_TRACE(f);
        EXPECT_EQ(format_lacks(f), expected[f]);
        if (!expected[f].empty()) {
            EXPECT_NE(list.find("  lacks " + expected[f] + "\n"), std::string::npos);
        }

        // Every ASCII character, alone, converted from UTF-8: a loss exactly where the
        // format lacks it.
        const FormatLacks& lacks = format_lacks_table[std::size_t(f)];
        for (unsigned c = 0; c < 0x80; ++c) {
            Converter converter({kUtf8, f, LossPolicy::kRefuse, false});
            const unsigned char in = static_cast<unsigned char>(c);
            unsigned char out[2048];
            converter.convert(&in, 1, out, sizeof out, true);
            EXPECT_EQ(converter.problem_count() != 0, lacks.ascii[c]) << "U+" << std::hex << c;
        }
        // Every letter, converted there and back: lost exactly as often as the format lacks.
        std::size_t lost = 0;
        for (std::size_t p = 0; p < kLetterCount; ++p) {
            const std::string letter = utf8(letter_code_points[p]);
            auto convert = [](int from, int to, const std::string& text, bool& problem) {
                Converter converter({from, to, LossPolicy::kReplace, false});
                unsigned char out[2048];
                const ConvertResult r =
                    converter.convert(reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), out, sizeof out, true);
                problem = problem || converter.problem_count() != 0;
                return std::string(reinterpret_cast<const char*>(out), r.written);
            };
            bool problem = false;
            const std::string back = convert(f, kUtf8, convert(kUtf8, f, letter, problem), problem);
            if (problem || back != letter) ++lost;
        }
        EXPECT_EQ(lost, lacks.shared_capitals + lacks.bare_letters + lacks.small_as_capitals +
                            lacks.other_letters);
    }
}

TEST(Messages, UndecidedInputsNameTheirCandidates) {
    auto detection = [](Detection::Verdict verdict, std::string details,
                        std::vector<int> candidates) {
        Detection d;
        d.verdict = verdict;
        d.details = std::move(details);
        d.candidates = std::move(candidates);
        return d;
    };
    using V = Detection::Verdict;
    struct Case {
        std::string name;
        Detection detection;
        std::string message;
    };
    const Case cases[] = {
        {"a.txt", detection(V::kUnknown, "(control bytes: not text)", {}),
         "a.txt: format unknown (control bytes: not text); not converted (give -f FROM)"},
        {"-", detection(V::kUnknown, "(too little to tell apart; candidates: viscii vni)", {0, 3}),
         "(standard input): format unknown (too little to tell apart; candidates: viscii vni); "
         "not converted (give -f viscii or -f vni)"},
        {"t.txt",
         detection(V::kUnknown,
                   "(too few words read as syllables in any format; candidates: vncii vni "
                   "viet-toan)",
                   {1, 3, 8}),
         "t.txt: format unknown (too few words read as syllables in any format; candidates: "
         "vncii vni viet-toan); not converted (give -f vncii, -f vni or -f viet-toan)"},
        {"x\nfake.txt", detection(V::kMixed, "lines 1-30 viscii, lines 31-60 vni", {0, 3}),
         "'x'$'\\n''fake.txt': format mixed lines 1-30 viscii, lines 31-60 vni; not converted "
         "(its line ranges are in different formats: split it, and convert each part with "
         "-f viscii or -f vni)"},
        {"e.txt", detection(V::kUnknown, "", {}),
         "e.txt: format unknown; not converted (give -f FROM)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.message);
        EXPECT_EQ(undecided_message(k.name, k.detection), k.message);
    }
}

TEST(Messages, HelpNamesEveryOptionAndFitsOnAScreen) {
    const std::string help = help_text();
    for (const char* option :
         {"--from-code", "--to-code", "--output", "--out-dir", "--in-place", "--recursive",
          "--include",   "--exclude", "--jobs",   "--replace", "--translit", "--check",
          "--nfd",       "--force",   "--quiet",  "--detect",  "--repair",   "--tone-style",
          "--fix-tones", "--list",    "--help",   "--version"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    std::size_t lines = 0, start = 0;
    for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1) {
        ++lines;
        EXPECT_LE(end - start, 80u) << help.substr(start, end - start);
    }
    EXPECT_LE(lines, 40u);
    const std::string usage = usage_line();
    for (const char* option : {"-r", "-j N", "--force", "--check", "--detect"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace toneshift::tsconv
