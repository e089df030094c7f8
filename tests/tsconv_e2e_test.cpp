// tsconv end to end: formats, standard streams, messages, losses and exit statuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

const std::filesystem::path kExamples = std::filesystem::path(TONESHIFT_SOURCE_DIR) / "examples";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Tsconv : public ::testing::Test {
  protected:
    // Runs tsconv in the scratch folder with `input` on standard input.
    ProgramRun run(const std::vector<std::string>& arguments, const std::string& input = "") {
        TsconvSetup setup;
        setup.input = input;
        setup.dir = dir_.path();
        return run_tsconv(arguments, setup);
    }
    ScratchDir dir_;
};

TEST_F(Tsconv, ConvertsTheSamplesAsTheDialogueAndIconvDo) {
    const std::string viqr = read_file(kExamples / "sample.viqr");
    const std::string viscii = read_file(kExamples / "sample.viscii");
    const std::string vni = read_file(kExamples / "sample.vni");
    const std::string utf8 = iconv(viscii, "VISCII", "UTF-8");
    ASSERT_FALSE(viqr.empty());
    struct Case {
        std::string from, to, input, output;
    };
    const Case cases[] = {
        {"viqr", "viscii", viqr, viscii}, {"10", "3", viqr, vni},
        {"VNI", "VIQR", vni, viqr},       {"viscii", "utf-8", viscii, utf8},
        {"0", "11", viscii, utf8},        {"UTF8", "VISCII", utf8, viscii},
        {"utf-8", "vni", utf8, vni},      {"Vni", "Utf-8", vni, utf8},
        {"utf-8", "viqr", utf8, viqr},    {"viqr", "utf-8", viqr, utf8},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.from + " -> " + k.to);
        write_file(dir_ / "in", k.input);
        const ProgramRun from_file = run({"-f", k.from, "-t", k.to, "in"});
        EXPECT_EQ(from_file.status, 0) << from_file.err;
        EXPECT_EQ(from_file.out, k.output);
        EXPECT_EQ(from_file.err, "");
        const ProgramRun from_stdin = run({"-t", k.to, "-f", k.from}, k.input);
        EXPECT_EQ(from_stdin.status, 0);
        EXPECT_EQ(from_stdin.out, k.output);
        const ProgramRun dash = run({"-f", k.from, "-t", k.to, "-"}, k.input);
        EXPECT_EQ(dash.out, k.output);
    }
}

TEST_F(Tsconv, NfdWritesEveryLetterDecomposed) {
    // "Việt" and "ộ": the dot below (U+0323) comes before the circumflex (U+0302).
    const std::string viscii = iconv("Vi\xE1\xBB\x87t \xE1\xBB\x99\n", "UTF-8", "VISCII");
    const ProgramRun r = run({"-f", "viscii", "-t", "utf-8", "--nfd"}, viscii);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Vie\xCC\xA3\xCC\x82t o\xCC\xA3\xCC\x82\n");
}

TEST_F(Tsconv, SeveralInputsToStandardOutputAreOneText) {
    const std::string utf8 = iconv(read_file(kExamples / "sample.viscii"), "VISCII", "UTF-8");
    // Split inside a line, between the letters "dd" of VIQR and inside a UTF-8 sequence's
    // reach: each input is whole characters, the output reads as one text.
    for (const std::string to : {"viqr", "viscii", "utf-8", "vni"}) {
        SCOPED_TRACE(to);
        const std::size_t cut = utf8.find("\xC4\x91");  // before the first d with stroke
        ASSERT_NE(cut, std::string::npos);
        write_file(dir_ / "one", utf8.substr(0, cut) + "d");
        write_file(dir_ / "two", "\xC4\x91" + utf8.substr(cut + 2));
        const ProgramRun split = run({"-f", "utf-8", "-t", to, "one", "-", "two"}, "");
        EXPECT_EQ(split.status, 0) << split.err;
        const ProgramRun joined =
            run({"-f", "utf-8", "-t", to},
                utf8.substr(0, cut) + "d" + "\xC4\x91" + utf8.substr(cut + 2));
        ASSERT_EQ(joined.status, 0);
        EXPECT_EQ(split.out, joined.out);
    }
}

TEST_F(Tsconv, StandardInputToStandardOutputThroughPipes) {
    write_file(dir_ / "sample.viqr", read_file(kExamples / "sample.viqr"));
    const std::string command = "cat sample.viqr | '" + tsconv_path() +
                                "' -f viqr -t utf-8 | cat > out.txt; echo $? > status";
    ASSERT_EQ(std::system(("cd '" + dir_.path().string() + "' && " + command).c_str()), 0);
    EXPECT_EQ(read_file(dir_ / "out.txt"),
              iconv(read_file(kExamples / "sample.viscii"), "VISCII", "UTF-8"));
    EXPECT_EQ(read_file(dir_ / "status"), "0\n");
}

TEST_F(Tsconv, ListHelpAndVersion) {
    const ProgramRun list = run({"-l"});
    EXPECT_EQ(list.status, 0);
    const std::vector<std::string> lines = lines_of(list.out);
    ASSERT_EQ(lines.size(), 26u);
    const std::string names[] = {
        "viscii",       "vncii",     "vpsedit",  "vni",      "vnlab", "vnu-win", "thinart-mac",
        "thinart-pc",   "viet-toan", "plain",    "viqr",     "utf-8", "tcvn3",   "tcvn3-caps",
        "tcvn3-vncaps", "vni-win",   "vni-mac",  "cp1258",   "vn1",   "bkhcm2",  "vietware-f",
        "vietware-x",   "utf-16",    "utf-16le", "utf-16be", "ncr"};
    // What lacks something: control characters or ASCII punctuation on letter bytes,
    // capitals, small letters, diacritics. UTF-8, UTF-16, references and the encodings that
    // spell every letter lack nothing of ASCII and the letters.
    const std::set<int> lacking = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 12, 13, 14, 18, 20};
    for (int f = 0; f < 26; ++f) {
        SCOPED_TRACE(lines[std::size_t(f)]);
        std::istringstream words(lines[std::size_t(f)]);
        int number = -1;
        std::string name;
        words >> number >> name;
        EXPECT_EQ(number, f);
        EXPECT_EQ(name, names[f]);
        EXPECT_EQ(lines[std::size_t(f)].find("lacks") != std::string::npos, lacking.count(f) != 0);
    }
    EXPECT_NE(lines[3].find("not vni-win"), std::string::npos) << "the one-byte VNI, said so";
    EXPECT_NE(lines[1].find("VNCII (VPSWin)"), std::string::npos);
    EXPECT_NE(lines[9].find("diacritics"), std::string::npos);
    EXPECT_NE(lines[5].find("capitals"), std::string::npos);
    EXPECT_NE(lines[6].find("lacks @ [ \\ ] ^ _ ` { | } ~"), std::string::npos) << lines[6];
    EXPECT_NE(lines[0].find("6 control characters"), std::string::npos) << lines[0];

    const ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: tsconv -f FROM -t TO", 0), 0u);
    for (const char* option : {"--out-dir", "--in-place", "--replace", "--translit", "--check",
                               "--nfd", "--quiet", "--list", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    EXPECT_LE(lines_of(help.out).size(), 40u) << "fits on a screen";

    const ProgramRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("tsconv (TONESHIFT) ", 0), 0u);
}

TEST_F(Tsconv, UsageErrorsExitTwoWithOneLineOfUsage) {
    const std::string usage = "tsconv: usage: tsconv -f FROM -t TO ";
    struct Case {
        std::vector<std::string> arguments;
        std::string first_line;
        bool usage;
    };
    const Case cases[] = {
        {{"--bogus", "-f", "0", "-t", "1"}, "tsconv: unknown option --bogus", true},
        {{"-f", "viscii"}, "tsconv: -t TO is needed", true},
        {{"-f", "viscii", "-t", "tcvn4", "in"},
         "tsconv: unknown format \"tcvn4\"; the formats are",
         false},
        {{"-f", "0", "-t", "1", "-i"}, "tsconv: -i needs named input files", true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.first_line);
        const ProgramRun r = run(k.arguments, "x");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        const std::vector<std::string> lines = lines_of(r.err);
        ASSERT_EQ(lines.size(), k.usage ? 2u : 1u) << r.err;
        EXPECT_EQ(lines[0].rfind(k.first_line, 0), 0u) << lines[0];
        if (k.usage) {
            EXPECT_EQ(lines[1].rfind(usage, 0), 0u) << lines[1];
        }
    }
    const ProgramRun unknown = run({"-f", "viscii", "-t", "tcvn4"});
    for (const char* name :
         {"viscii",      "vncii",      "vpswin",    "vpsedit", "vni",    "vnlab",        "vnu-win",
          "thinart-mac", "thinart-pc", "viet-toan", "plain",   "viqr",   "utf-8",        "utf8",
          "tcvn3",       "abc",        "vn3",       "vni-win", "cp1258", "windows-1258", "vn1",
          "tcvn",        "utf-16",     "ncr",       "html"})
        EXPECT_NE(unknown.err.find(name), std::string::npos) << name;
}

// A text of `lines` lines of "xin chào" (10 bytes, 9 characters each, in UTF-8), then
// "chào " and `tail`: whatever follows starts at line lines + 1, column 6, byte offset
// lines * 10 + 6.
std::string after_lines(std::size_t lines, const std::string& tail) {
    std::string text;
    for (std::size_t i = 0; i < lines; ++i) text += "xin ch\xC3\xA0o\n";
    return text + "ch\xC3\xA0o " + tail;
}

TEST_F(Tsconv, RefusalNamesThePlaceTheCharacterAndTheTarget) {
    struct Case {
        std::size_t lines;  // before the problem
        std::string tail;   // the problem and what follows it
        std::string from, to;
        std::string what;  // how the message shows the problem
    };
    const Case cases[] = {
        {0, "\xE2\x82\xAC and more", "utf-8", "viscii", "U+20AC \"\xE2\x82\xAC\""},
        {3, "\xE2\x82\xAC", "utf-8", "viqr", "U+20AC \"\xE2\x82\xAC\""},
        {2, "\xFF.", "utf-8", "vni", "undefined byte 0xFF"},
        // Past the first 64 KiB buffer, and past several.
        {7000, "\xE2\x82\xAC\n", "utf-8", "viscii", "U+20AC \"\xE2\x82\xAC\""},
        {7000, "\xC3( tail\n", "utf-8", "viscii", "undefined byte 0xC3"},
        {30000, "\xE5\xAD\x97\n", "utf-8", "vnu-win", "U+5B57 \"\xE5\xAD\x97\""},
        {30000, "\xED\xA0\x80 tail", "utf-8", "utf-8", "undefined byte 0xED"},
    };
    for (const Case& k : cases) {
        const std::string text = after_lines(k.lines, k.tail);
        const std::string place = "in.txt:" + std::to_string(k.lines + 1) + ":6: ";
        const std::string offset = "(byte offset " + std::to_string(k.lines * 10 + 6) + ")";
        SCOPED_TRACE(place + k.what + " " + k.to);
        write_file(dir_ / "in.txt", text);
        const ProgramRun r = run({"-f", k.from, "-t", k.to, "in.txt"});
        EXPECT_EQ(r.status, 1);
        const std::vector<std::string> lines = lines_of(r.err);
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_EQ(lines[0].rfind("tsconv: " + place, 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(k.what), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(offset), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find(" " + k.to), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("--replace"), std::string::npos) << "says what to do";
        // Standard output stops where the refusal happened.
        if (k.to == "viscii") {
            EXPECT_EQ(r.out, iconv(after_lines(k.lines, ""), "UTF-8", "VISCII"));
        }

        // The same from standard input.
        const ProgramRun piped = run({"-f", k.from, "-t", k.to}, text);
        EXPECT_EQ(piped.status, 1);
        EXPECT_EQ(
            piped.err.rfind("tsconv: (standard input):" + std::to_string(k.lines + 1) + ":6: ", 0),
            0u)
            << piped.err;
    }
}

TEST_F(Tsconv, ReplaceAndTranslitConvertAndSummariseEachFile) {
    // "a€b", then a line with curly quotes, an en dash and an ellipsis.
    const std::string text =
        "a\xE2\x82\xAC"
        "b\n\xE2\x80\x9C"
        "x\xE2\x80\x9D \xE2\x80\x93 y\xE2\x80\xA6\n";
    write_file(dir_ / "in", text);
    write_file(dir_ / "clean", "ch\xC3\xA0o\n");
    const ProgramRun replace = run({"-f", "utf-8", "-t", "viscii", "--replace", "in", "clean"});
    EXPECT_EQ(replace.status, 0);
    EXPECT_EQ(replace.out, "a?b\n?x? ? y?\n" + iconv("ch\xC3\xA0o\n", "UTF-8", "VISCII"));
    std::vector<std::string> lines = lines_of(replace.err);
    ASSERT_EQ(lines.size(), 1u) << "one line per file that lost anything";
    EXPECT_EQ(lines[0].rfind("tsconv: in:1:2: 5 characters ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(": \"\xE2\x82\xAC\" \xC3\x97"
                            "1, "),
              std::string::npos)
        << "the lost characters named, with their counts";
    EXPECT_NE(lines[0].find("\"?\""), std::string::npos) << "what it became";

    const ProgramRun translit = run({"-f", "utf-8", "-t", "viscii", "--translit", "in"});
    EXPECT_EQ(translit.status, 0);
    EXPECT_EQ(translit.out, "a?b\n\"x\" - y...\n");
    lines = lines_of(translit.err);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("tsconv: in:1:2: 5 characters ", 0), 0u) << lines[0];

    const ProgramRun quiet = run({"-f", "utf-8", "-t", "viscii", "--translit", "-q", "in"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, translit.out);
    EXPECT_EQ(quiet.err, "");

    // Undefined input into UTF-8 becomes U+FFFD, one for each invalid sequence.
    const ProgramRun bad = run({"-f", "utf-8", "-t", "utf-8", "--replace"},
                               "a\xFF"
                               "b\xC3");
    EXPECT_EQ(bad.status, 0);
    EXPECT_EQ(bad.out,
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
    EXPECT_EQ(bad.err.rfind("tsconv: (standard input):1:2: 2 characters ", 0), 0u) << bad.err;
}

TEST_F(Tsconv, CheckReportsEachFileAndWritesNothing) {
    write_file(dir_ / "good", "ch\xC3\xA0o\n");
    write_file(dir_ / "bad", "x\ny \xE2\x82\xAC \xE2\x82\xAC\n");
    const ProgramRun r = run({"-f", "utf-8", "-t", "viscii", "--check", "good", "bad"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0], "tsconv: good: converts exactly to viscii");
    EXPECT_EQ(lines[1].rfind("tsconv: bad:2:3: ", 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find("2 characters"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("\"\xE2\x82\xAC\" \xC3\x97"
                            "2"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find("byte offset 4"), std::string::npos) << lines[1];
    EXPECT_EQ(names_in(dir_.path()), (std::vector<std::string>{"bad", "good"}));

    const ProgramRun exact = run({"-f", "utf-8", "-t", "viscii", "--check", "good"});
    EXPECT_EQ(exact.status, 0);
    const ProgramRun quiet = run({"-f", "utf-8", "-t", "viscii", "--check", "-q", "good", "bad"});
    EXPECT_EQ(quiet.status, 1);
    EXPECT_EQ(lines_of(quiet.err).size(), 1u) << "-q keeps only the files that would lose";
}

TEST_F(Tsconv, ExitStatusIsTheWorstAndEveryOtherFileIsStillProcessed) {
    write_file(dir_ / "good", "ch\xC3\xA0o\n");
    write_file(dir_ / "bad", "\xE2\x82\xAC\n");
    std::filesystem::create_directory(dir_ / "out");
    struct Case {
        std::vector<std::string> inputs;
        int status;
    };
    const Case cases[] = {
        {{"good"}, 0},
        {{"bad", "good"}, 1},
        {{"good", "missing"}, 2},
        {{"bad", "missing", "good"}, 2},
        {{"missing", "bad"}, 2},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.inputs));
        std::filesystem::remove_all(dir_ / "out");
        std::filesystem::create_directory(dir_ / "out");
        std::vector<std::string> arguments = {"-f", "utf-8", "-t", "viscii", "-d", "out"};
        arguments.insert(arguments.end(), k.inputs.begin(), k.inputs.end());
        const ProgramRun r = run(arguments);
        EXPECT_EQ(r.status, k.status) << r.err;
        std::vector<std::string> expected;
        for (const std::string& name : k.inputs)
            if (name == "good") expected = {"good"};
        EXPECT_EQ(names_in(dir_ / "out"), expected) << "good written, nothing else";
        if (!expected.empty()) {
            EXPECT_EQ(read_file(dir_ / "out" / "good"), iconv("ch\xC3\xA0o\n", "UTF-8", "VISCII"));
        }

        std::vector<std::string> check = {"-f", "utf-8", "-t", "viscii", "--check"};
        check.insert(check.end(), k.inputs.begin(), k.inputs.end());
        EXPECT_EQ(run(check).status, k.status);
    }
}

TEST_F(Tsconv, AnInputThatCannotBeOpenedIsSkippedOnStandardOutput) {
    write_file(dir_ / "a", "a\n");
    write_file(dir_ / "b", "b\n");
    std::filesystem::create_directory(dir_ / "folder");
    const ProgramRun r = run({"-f", "0", "-t", "3", "a", "missing", "folder", "b"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "a\nb\n");
    const std::vector<std::string> lines = lines_of(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0].rfind("tsconv: cannot open missing: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("tsconv: folder is a folder", 0), 0u) << lines[1];
}

// The encodings real files use, by their names and aliases, and the Unicode forms.
TEST_F(Tsconv, TheEncodingsRealFilesUse) {
    const std::string utf8 = "C\xE1\xBB\x99ng h\xC3\xB2" "a x\xC3\xA3 h\xE1\xBB\x99i\n";
    write_file(dir_ / "abc.txt", "C\xE9ng h\xDF" "a x\xB7 h\xE9i\n");
    write_file(dir_ / "vni.txt", "Co\xE4ng ho\xF8" "a xa\xF5 ho\xE4i\n");
    for (const char* from : {"tcvn3", "ABC", "vn3"}) {
        const ProgramRun r = run({"-f", from, "-t", "utf-8", "abc.txt"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, utf8) << from;
    }
    const ProgramRun vni = run({"-f", "vni-windows", "-t", "ncr", "vni.txt"});
    EXPECT_EQ(vni.status, 0) << vni.err;
    EXPECT_EQ(vni.out, "C&#7897;ng h&#242;a x&#227; h&#7897;i\n");
    const ProgramRun utf16 = run({"-f", "utf-8", "-t", "utf-16", "--unicode-form", "composite"}, "\xC3\xA1");
    EXPECT_EQ(utf16.status, 0) << utf16.err;
    EXPECT_EQ(utf16.out, std::string("\xFF\xFE" "a\0\x01\x03", 6));
    const ProgramRun back = run({"-f", "utf-16", "-t", "utf-8"}, utf16.out);
    EXPECT_EQ(back.out, "\xC3\xA1");
}

TEST_F(Tsconv, NamesWithBlanksAndALeadingDash) {
    const std::string viqr = read_file(kExamples / "sample.viqr");
    write_file(dir_ / "my file.viqr", viqr);
    write_file(dir_ / "-i", viqr);
    std::filesystem::create_directory(dir_ / "out dir");
    const ProgramRun r =
        run({"-f", "viqr", "-t", "viscii", "-d", "out dir", "--", "my file.viqr", "-i"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string viscii = read_file(kExamples / "sample.viscii");
    EXPECT_EQ(read_file(dir_ / "out dir" / "my file.viqr"), viscii);
    EXPECT_EQ(read_file(dir_ / "out dir" / "-i"), viscii);
    EXPECT_EQ(read_file(dir_ / "-i"), viqr) << "\"-i\" after -- is a file, not an option";

    const ProgramRun to_stdout = run({"-f", "viqr", "-t", "viscii", "--", "-i", "my file.viqr"});
    EXPECT_EQ(to_stdout.status, 0);
    EXPECT_EQ(to_stdout.out, viscii + viscii);
}

}  // namespace
}  // namespace toneshift::testing
