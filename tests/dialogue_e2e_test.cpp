// End-to-end sessions of the dialogue: exact standard output and error, and the files left.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "program.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

// "Viet" with the e with circumflex and dot below, in VNI.
const std::string kVietVni = std::string("Vi\xAC") + "t";

class Dialogue : public ::testing::Test {
  protected:
    ProgramRun run(const std::string& input) {
        ProgramRun r = run_toneshift(input, dir.path());
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 0);
        return r;
    }
    fs::path file(const std::string& name, const std::string& bytes) {
        write_file(dir / name, bytes);
        return dir / name;
    }
    std::string contents(const std::string& name) { return read_file(dir / name); }

    ScratchDir dir;
};

TEST_F(Dialogue, EndsAtAnEmptyFirstAnswerOrTheEndOfInput) {
    const std::string inputs[] = {"", "\n", "\nignored\n", std::string(255, 'x') + "\n",
                                  std::string("\0name\n", 6)};
    for (const std::string& input : inputs) {
        SCOPED_TRACE(input.substr(0, 20));
        const ProgramRun r = run(input);
        EXPECT_EQ(r.out, session_output(0));
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(Dialogue, ConvertsAndStartsOver) {
    // VISCII "Vi\xAEt" is "Việt"; in VNI the e with circumflex and dot below is 0xAC.
    file("in.txt", "Vi\xAEt nam\n");
    const ProgramRun r = run(answers("in.txt", 0, "out.txt", 3));
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(contents("out.txt"),
              "Vi\xAC"
              "t nam\n");
}

TEST_F(Dialogue, EmptyAnswersAreReadAgainWithoutTheQuestion) {
    file("in.txt", "\xF0");
    const ProgramRun r = run("  in.txt second-word\n\n\n0\n\n\nout.txt\n\n1\n");
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(contents("out.txt"), "\xC7");
}

TEST_F(Dialogue, AnswerLongerThan254CharactersCountsAsEmpty) {
    const std::string name254(254, 'n');
    file(name254, "\xE1");
    const ProgramRun r = run(name254 + "\n0\n" + std::string(255, 'o') + "\nout\n9\n");
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_EQ(contents("out"), "a");
}

struct ComplaintCase {
    const char* name;
    std::string answers;
    std::string err;
};

void PrintTo(const ComplaintCase& c, std::ostream* os) { *os << c.name; }

class Complaints : public Dialogue, public ::testing::WithParamInterface<ComplaintCase> {};

TEST_P(Complaints, PrintedInOrderAndTheCycleStartsOver) {
    file("in.txt", "text");
    fs::create_directory(dir / "adir");
    const ProgramRun r = run(GetParam().answers);
    EXPECT_EQ(r.err, GetParam().err);
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_FALSE(fs::exists(dir / "out.txt")) << "no output file after a failed check";
}

const char kRange[] = "the format number (%d) of %s file is out of range [0 - 10]\n";

std::string out_of_range(int n, const char* which) {
    char text[128];
    std::snprintf(text, sizeof text, kRange, n, which);
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Checks, Complaints,
    ::testing::Values(
        ComplaintCase{"InputFormat12", answers("in.txt", 12, "out.txt", 0),
                      out_of_range(12, "input")},
        ComplaintCase{"InputFormatMinus1", answers("in.txt", -1, "out.txt", 0),
                      out_of_range(-1, "input")},
        ComplaintCase{"BothOutOfRangeAndEqual", answers("in.txt", 11, "out.txt", 11),
                      out_of_range(11, "input") + out_of_range(11, "output") +
                          "Use \"cp\" to copy files of same formats\n"},
        ComplaintCase{"EqualFormats", answers("in.txt", 3, "out.txt", 3),
                      "Use \"cp\" to copy files of same formats\n"},
        ComplaintCase{"MissingInput", answers("missing.txt", 0, "out.txt", 1),
                      "cannot access \"missing.txt\"\n"},
        ComplaintCase{"InputIsADirectory", answers("adir", 0, "out.txt", 1),
                      "\"adir\" is a directory\n"},
        ComplaintCase{"OutputIsADirectory", answers("in.txt", 0, "adir", 1),
                      "\"adir\" is a directory\n"},
        ComplaintCase{"Overflow", "in.txt\n99999999999\nout.txt\n-99999999999\n",
                      out_of_range(2147483647, "input") + out_of_range(-2147483647 - 1, "output")},
        // Before any answer gives them, the names are empty and the numbers -1.
        ComplaintCase{"NothingToTakeInTheFirstCycle", "in.txt\nabc\n   \nx\n",
                      out_of_range(-1, "input") + out_of_range(-1, "output") +
                          "Use \"cp\" to copy files of same formats\n"},
        ComplaintCase{"BlankNameInTheFirstCycle", "   \n0\nout.txt\n1\n", "cannot access \"\"\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dialogue, MissingInputStillAsksAboutAnExistingOutput) {
    file("out.txt", "keep");
    for (const char* reply : {"y", "n"}) {
        SCOPED_TRACE(reply);
        const ProgramRun r = run(answers("missing.txt", 0, "out.txt", 1) + reply + "\n");
        EXPECT_EQ(r.err,
                  "cannot access \"missing.txt\"\n\"out.txt\" already exists. "
                  "Overwrite it (y/n)? ");
        EXPECT_EQ(r.out, session_output(1));
        EXPECT_EQ(contents("out.txt"), "keep");
    }
}

TEST_F(Dialogue, OverwriteOnlyOnAnAnswerBeginningWithY) {
    file("in.txt", "\xE1");
    const std::string question = "\"out.txt\" already exists. Overwrite it (y/n)? ";
    struct Case {
        std::string reply;
        bool accepted;
    } cases[] = {{"y", true},
                 {"Y", true},
                 {"yes please", true},
                 {"Ynot", true},
                 {"n", false},
                 {"", false},
                 {" y", false},
                 {"\xFF", false},
                 {"\xD9", false},
                 {"no", false},
                 {std::string(1030, 'y'), false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply.substr(0, 10));
        file("out.txt", "old");
        const ProgramRun r = run(answers("in.txt", 0, "out.txt", 9) + c.reply + "\n");
        EXPECT_EQ(r.err, question);
        EXPECT_EQ(r.out, session_output(1));
        EXPECT_EQ(contents("out.txt"), c.accepted ? "a" : "old");
    }
}

TEST_F(Dialogue, EndOfInputAtTheOverwriteQuestionRefusesAndEnds) {
    file("in.txt", "\xE1");
    file("out.txt", "old");
    const ProgramRun r = run(answers("in.txt", 0, "out.txt", 9));
    EXPECT_EQ(r.err, "\"out.txt\" already exists. Overwrite it (y/n)? ");
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_EQ(contents("out.txt"), "old");
}

TEST_F(Dialogue, EndOfInputAtTheLaterQuestionsEndsQuietly) {
    file("in.txt", "x");
    const std::string full = answers("in.txt", 0, "out.txt", 1);
    const std::string expected_out[] = {
        kMenu + kAskInput + kAskInputFormat,
        kMenu + kAskInput + kAskInputFormat + kAskOutput,
        kMenu + kAskInput + kAskInputFormat + kAskOutput + kAskOutputFormat,
    };
    const std::string inputs[] = {"in.txt\n", "in.txt\n0\n\n", "in.txt\n0\nout.txt\n"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const ProgramRun r = run(inputs[i]);
        EXPECT_EQ(r.out, expected_out[i]);
        EXPECT_EQ(r.err, "");
        EXPECT_FALSE(fs::exists(dir / "out.txt"));
    }
}

TEST_F(Dialogue, EndOfInputAfterEveryByteOfASessionEndsCleanly) {
    file("in.txt", "Vi\xAEt");
    const std::string session =
        answers("in.txt", 0, "out.txt", 3) + answers("out.txt", 3, "out2", 0);
    for (std::size_t cut = 0; cut <= session.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::error_code ignored;
        fs::remove(dir / "out.txt", ignored);
        fs::remove(dir / "out2", ignored);
        const ProgramRun r = run(session.substr(0, cut));
        // Only the conversions whose last answer arrived whole may have written anything.
        if (fs::exists(dir / "out.txt")) {
            EXPECT_EQ(contents("out.txt"), kVietVni);
        }
        if (fs::exists(dir / "out2")) {
            EXPECT_EQ(contents("out2"), "Vi\xAEt");
        }
        EXPECT_EQ(r.err, "");
    }
}

TEST_F(Dialogue, LaterCyclesKeepNumbersThatAnAnswerDoesNotGive) {
    file("a.txt", "\xE1");
    file("p.txt", "plain");
    // Cycle 1: 0 -> 9. Cycle 2: letters only for both numbers: 0 -> 9 again, into b.txt.
    // Cycle 3: 9 -> 3 is forced to a copy, and the output number stays 9 for cycle 4, where
    // "x" keeps it: 0 -> 9.
    const std::string input = answers("a.txt", 0, "out1", 9) + "a.txt\nzero\nout2\nnine\n" +
                              answers("p.txt", 9, "out3", 3) + "a.txt\n0\nout4\nx\n";
    const ProgramRun r = run(input);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, session_output(4));
    EXPECT_EQ(contents("out1"), "a");
    EXPECT_EQ(contents("out2"), "a");
    EXPECT_EQ(contents("out3"), "plain");
    EXPECT_EQ(contents("out4"), "a");
}

TEST_F(Dialogue, PlainVietnameseInputIsCopied) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += char(b);
    file("p.txt", all);
    const ProgramRun r = run(answers("p.txt", 9, "to3", 3) + answers("p.txt", 9, "to10", 10));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(contents("to3"), all);
    EXPECT_EQ(contents("to10"), all);
}

TEST_F(Dialogue, EmptyInputGivesEmptyOutput) {
    file("empty", "");
    const ProgramRun r = run(answers("empty", 0, "out", 5));
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(fs::exists(dir / "out"));
    EXPECT_EQ(contents("out"), "");
}

TEST_F(Dialogue, NewOutputGetsTheInputPermissionBitsOnly) {
    file("in.txt", "x");
    struct Case {
        mode_t input;
        mode_t output;  // under the umask 022 the test runs with
    } cases[] = {{0640, 0640}, {0604, 0604}, {0777, 0755}, {04755, 0755}, {03775, 0755}};
    const mode_t old_mask = ::umask(022);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        std::error_code ignored;
        fs::remove(dir / "out", ignored);
        ASSERT_EQ(::chmod((dir / "in.txt").c_str(), c.input), 0);
        run(answers("in.txt", 0, "out", 1));
        struct stat st {};
        ASSERT_EQ(::stat((dir / "out").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, c.output);
    }
    ::umask(old_mask);
}

TEST_F(Dialogue, ExistingOutputKeepsItsOwnPermissions) {
    file("in.txt", "x");
    file("out", "old");
    ASSERT_EQ(::chmod((dir / "in.txt").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((dir / "out").c_str(), 0664), 0);
    run(answers("in.txt", 0, "out", 1) + "y\n");
    struct stat st {};
    ASSERT_EQ(::stat((dir / "out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
}

TEST_F(Dialogue, RefusesAnOutputThatIsTheInputFile) {
    const std::string original = "Vi\xAEt";
    file("in.txt", original);
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "in.txt", dir / "sub" / "hard");
    fs::create_symlink("../in.txt", dir / "sub" / "soft");
    for (const std::string name : {"in.txt", "./in.txt", "sub/../in.txt", "sub/hard", "sub/soft"}) {
        SCOPED_TRACE(name);
        const ProgramRun r = run(answers("in.txt", 0, name, 3));
        EXPECT_EQ(r.err, "\"" + name + "\" is the same file as \"in.txt\"\n");
        EXPECT_EQ(r.out, session_output(1));
        EXPECT_EQ(contents("in.txt"), original);
    }
}

TEST_F(Dialogue, ReportsAFailedWrite) {
    file("in.txt", std::string(5000, '\xE1'));
    for (int to : {1, 10}) {
        SCOPED_TRACE(to);
        const ProgramRun r = run(answers("in.txt", 0, "/dev/full", to) + "y\n");
        EXPECT_EQ(r.err,
                  "\"/dev/full\" already exists. Overwrite it (y/n)? "
                  "cannot write \"/dev/full\"\n");
        EXPECT_EQ(r.out, session_output(1));
    }
}

TEST_F(Dialogue, ReportsAFailedRead) {
    // Reading this process's memory from address 0 fails, though the file opens.
    const ProgramRun r = run(answers("/proc/self/mem", 0, "out", 1));
    EXPECT_EQ(r.err, "cannot read \"/proc/self/mem\"\n");
    EXPECT_EQ(r.out, session_output(1));
    EXPECT_EQ(contents("out"), "");
}

TEST_F(Dialogue, StreamsKeepTheirOrderInOneFile) {
    file("in.txt", "x");
    const ProgramRun r =
        run_toneshift(answers("missing", 0, "out", 0) + answers("in.txt", 0, "out", 1), dir.path(),
                      /*merged=*/true);
    EXPECT_EQ(r.out, kCycle +
                         "cannot access \"missing\"\nUse \"cp\" to copy files of same formats\n" +
                         session_output(1));
}

TEST_F(Dialogue, IgnoresArgumentsEnvironmentAndLocale) {
    file("in.txt", "\xE1");
    const std::string input = answers("in.txt", 0, "out", 9);
    const ProgramRun plain = run_toneshift(input, dir.path());
    fs::remove(dir / "out");
    const ProgramRun odd =
        run_toneshift(input, dir.path(), false, {"--help", "-v", "in.txt"},
                      {"LANG=vi_VN.UTF-8", "LC_ALL=vi_VN.UTF-8", "POSIXLY_CORRECT=1"});
    EXPECT_EQ(odd.out, plain.out);
    EXPECT_EQ(odd.err, plain.err);
    EXPECT_EQ(odd.status, 0);
    EXPECT_EQ(contents("out"), "a");
}

}  // namespace
}  // namespace toneshift::testing
