// tsconv end to end: runs over many inputs never convert a file twice, never overwrite an
// input or another input's output, and never read converted text as its old format again.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kExamples = fs::path(TONESHIFT_SOURCE_DIR) / "examples";

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Batch : public ::testing::Test {
  protected:
    void SetUp() override {
        viscii_ = read_file(kExamples / "sample.viscii");
        vni_ = read_file(kExamples / "sample.vni");
        ASSERT_FALSE(viscii_.empty());
        utf8_ = iconv(viscii_, "VISCII", "UTF-8");
    }
    ProgramRun run(const std::vector<std::string>& arguments, const std::string& input = "") {
        TsconvSetup setup;
        setup.input = input;
        setup.dir = dir_.path();
        return run_tsconv(arguments, setup);
    }
    // Runs a shell command in the scratch folder; its exit status.
    int shell(const std::string& command) {
        const std::string full = "cd '" + dir_.path().string() + "' && { " + command + "; }";
        const int status = std::system(full.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ScratchDir dir_;
    std::string viscii_, vni_, utf8_;
};

// A file named twice, under any spelling of its name, is converted once.
TEST_F(Batch, SecondNameOfAFileUnderInPlaceIsNotConvertedAgain) {
    struct Case {
        const char* what;
        std::vector<std::string> names;  // names of a.txt
    };
    const std::string absolute = (dir_ / "a.txt").string();
    const Case cases[] = {
        {"the same name", {"a.txt", "a.txt"}},
        {"./", {"a.txt", "./a.txt"}},
        {"an absolute path", {"a.txt", absolute}},
        {"a symbolic link", {"a.txt", "link.txt"}},
        {"a hard link", {"a.txt", "hard.txt"}},
        {"three names", {"a.txt", "./a.txt", "link.txt"}},
    };
    for (const char* from : {"viscii", "auto"}) {
        for (const Case& k : cases) {
            SCOPED_TRACE(std::string(from) + ", " + k.what);
            fs::remove(dir_ / "link.txt");
            fs::remove(dir_ / "hard.txt");
            write_file(dir_ / "a.txt", viscii_);
            fs::create_symlink("a.txt", dir_ / "link.txt");
            fs::create_hard_link(dir_ / "a.txt", dir_ / "hard.txt");
            const ProgramRun r =
                run(std::vector<std::string>{"-f", from, "-t", "utf-8", "-i"} + k.names);
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(read_file(dir_ / "a.txt"), utf8_) << "converted exactly once";
            EXPECT_TRUE(contains(r.err, "converted once")) << r.err;
        }
    }
}

// -f auto into -d refuses a second input of the same base name, as an explicit -f does.
TEST_F(Batch, AutoIntoAFolderRefusesASecondInputOfTheSameName) {
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    fs::create_directories(dir_ / "out");
    write_file(dir_ / "a" / "x.txt", viscii_);
    write_file(dir_ / "b" / "x.txt", vni_ + "second\n");
    for (const char* from : {"viscii", "auto"}) {
        SCOPED_TRACE(from);
        fs::remove(dir_ / "out" / "x.txt");
        const ProgramRun r = run({"-f", from, "-t", "utf-8", "-d", "out", "a/x.txt", "b/x.txt"});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(read_file(dir_ / "out" / "x.txt"), utf8_) << "the first input's output stays";
        EXPECT_TRUE(contains(r.err, "b/x.txt not converted")) << r.err;
    }
}

// An input -f auto cannot decide does not stop the inputs after it where each is on its own,
// and into standard output an input that cannot be opened is skipped.
TEST_F(Batch, AnUndecidedOrMissingInputDoesNotStopTheOthers) {
    write_file(dir_ / "good.txt", viscii_);
    write_file(dir_ / "short.txt", "gi\xE4ng\n");  // a syllable in several formats

    const ProgramRun missing = run({"-f", "auto", "-t", "utf-8", "nosuch.txt", "good.txt"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.out, utf8_) << "the input after the missing one is written";

    const ProgramRun check = run({"-f", "auto", "-t", "utf-8", "--check", "short.txt", "good.txt"});
    EXPECT_EQ(check.status, 1);
    const std::vector<std::string> lines = lines_of(check.err);
    ASSERT_EQ(lines.size(), 2u) << check.err;
    EXPECT_EQ(lines[0].rfind("tsconv: short.txt: format unknown", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "tsconv: good.txt: converts exactly to utf-8") << "in input order";

    fs::create_directories(dir_ / "out");
    const ProgramRun dir = run({"-f", "auto", "-t", "utf-8", "-d", "out", "short.txt", "good.txt"});
    EXPECT_EQ(dir.status, 1);
    EXPECT_EQ(read_file(dir_ / "out" / "good.txt"), utf8_);
    EXPECT_FALSE(fs::exists(dir_ / "out" / "short.txt"));

    // Into one output a refusal ends it, and the message names what was not written.
    const ProgramRun one = run({"-f", "auto", "-t", "utf-8", "good.txt", "short.txt", "good.txt"});
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(one.out, utf8_);
    EXPECT_TRUE(contains(one.err, "not written: good.txt")) << one.err;
}

// Converted files are not converted again: the guard reads the start of each input.
TEST_F(Batch, ASecondRunOverConvertedFilesIsRefused) {
    write_file(dir_ / "a.txt", viscii_);
    const std::vector<std::string> recipe = {"-f", "viscii", "-t", "utf-8", "-i", "a.txt"};
    ASSERT_EQ(run(recipe).status, 0);
    ASSERT_EQ(read_file(dir_ / "a.txt"), utf8_);

    const ProgramRun again = run(recipe);
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(read_file(dir_ / "a.txt"), utf8_) << "left as it was";
    EXPECT_TRUE(contains(again.err, "a.txt: looks like utf-8")) << again.err;
    EXPECT_TRUE(contains(again.err, "--force")) << again.err;

    const ProgramRun check = run({"-f", "viscii", "-t", "utf-8", "--check", "a.txt"});
    EXPECT_EQ(check.status, 1);
    EXPECT_TRUE(contains(check.err, "looks like utf-8")) << check.err;

    struct Case {
        const char* from;
        std::string bytes;
        const char* looks_like;
    };
    const Case cases[] = {
        {"viqr", utf8_, "utf-8"},  {"vni", utf8_, "utf-8"},     {"vn1", utf8_, "utf-8"},
        {"tcvn3", utf8_, "utf-8"}, {"vni-win", utf8_, "utf-8"}, {"utf-16", utf8_, "utf-8"},
        {"viscii", vni_, "vni"},   {"utf-8", vni_, "vni"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.from);
        write_file(dir_ / "b.txt", k.bytes);
        const ProgramRun r = run({"-f", k.from, "-t", "utf-8", "--replace", "b.txt"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(contains(r.err, std::string("looks like ") + k.looks_like)) << r.err;
        // From a pipe too, from the first read alone.
        const ProgramRun piped = run({"-f", k.from, "-t", "utf-8", "--replace"}, k.bytes);
        EXPECT_EQ(piped.status, 1) << piped.err;
        const ProgramRun forced =
            run({"-f", k.from, "-t", "utf-8", "--replace", "--force", "b.txt"});
        EXPECT_EQ(forced.status, 0) << forced.err;
        EXPECT_FALSE(forced.out.empty());
    }

    // The right format, text with nothing to tell, and formats that read alike pass.
    write_file(dir_ / "english.txt", "The quick brown fox.\n");
    EXPECT_EQ(run({"-f", "viscii", "-t", "utf-8", "english.txt"}).status, 0);
    EXPECT_EQ(run({"-f", "viqr", "-t", "utf-8", "english.txt"}).status, 0);
    write_file(dir_ / "v.txt", vni_);
    EXPECT_EQ(run({"-f", "vni", "-t", "utf-8", "v.txt"}).status, 0);
}

// A pipe is looked at only as far as its first read: the output keeps streaming.
TEST_F(Batch, TheGuardNeverWaitsForMoreOfAPipe) {
    std::string script = "{ printf 'Vi\\352t\\n'; sleep 4; } | '";
    script.append(tsconv_path())
        .append("' -f viscii -t utf-8 > first.txt & sleep 2; cp first.txt seen.txt; wait");
    ASSERT_EQ(shell(script), 0);
    EXPECT_EQ(read_file(dir_ / "seen.txt"), "Vi\xC3\xAAt\n") << "written before the input ended";
}

// A non-blocking standard input that has nothing yet is waited for, not an error.
TEST_F(Batch, ANonBlockingInputIsWaitedFor) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK), 0);
    const pid_t pid =
        start_tsconv({"-f", "viscii", "-t", "utf-8", "-o", "out.txt"}, dir_.path(), fds[0]);
    ::close(fds[0]);
    ::usleep(300000);
    // A tsconv that gave up already must not take this test down with SIGPIPE.
    void (*old)(int) = ::signal(SIGPIPE, SIG_IGN);
    const ssize_t written = ::write(fds[1], "Vi\xEAt\n", 5);
    ::close(fds[1]);
    ::signal(SIGPIPE, old);
    EXPECT_EQ(written, 5);
    ProgramRun r;
    wait_for(pid, 20, r);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(read_file(dir_ / "out.txt"), "Vi\xC3\xAAt\n");
}

// No file name can forge a line of --detect or of a message, nor reach the terminal raw.
TEST_F(Batch, FileNamesCannotForgeLines) {
    const std::string forged = "x\nfake.txt: utf-8 (valid UTF-8)";
    const std::string escape = "e\033[31mred.txt";
    write_file(dir_ / forged, viscii_);
    write_file(dir_ / escape, viscii_);
    const ProgramRun r = run({"--detect", forged, escape, "nosuch\nname"});
    EXPECT_EQ(r.status, 2);
    const std::vector<std::string> out = lines_of(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0].rfind("'x'$'\\n''fake.txt: utf-8 (valid UTF-8)': viscii", 0), 0u) << out[0];
    EXPECT_EQ(out[1].rfind("'e'$'\\033''[31mred.txt': viscii", 0), 0u) << out[1];
    EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
    for (const std::string* text : {&r.out, &r.err})
        EXPECT_EQ(text->find('\033'), std::string::npos) << *text;

    fs::create_directories(dir_ / "out");
    const ProgramRun c = run({"-f", "viscii", "-t", "viqr", "-d", "out", escape, forged});
    EXPECT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(c.err, "");
    const ProgramRun bad = run({"-f", "utf-8", "-t", "viscii", escape});
    EXPECT_EQ(lines_of(bad.err).size(), 1u) << bad.err;
    EXPECT_EQ(bad.err.find('\033'), std::string::npos) << bad.err;
}

// -f auto is one run: every check and the VIQR carry hold across inputs of different formats.
TEST_F(Batch, AutoKeepsEveryCheckAcrossInputsOfDifferentFormats) {
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "dir");
    write_file(dir_ / "a" / "x.txt", viscii_);
    write_file(dir_ / "dir" / "x.txt", vni_);
    const ProgramRun r = run({"-f", "auto", "-t", "utf-8", "-d", "dir", "a/x.txt", "dir/x.txt"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(read_file(dir_ / "dir" / "x.txt"), vni_) << "the VNI original is not destroyed";

    // An output that is one of the inputs is refused, whatever the inputs' formats.
    write_file(dir_ / "a.viscii", viscii_);
    write_file(dir_ / "b.vni", vni_);
    std::string append = "'";  // appended: GCC 12 -O3 sees a false overlap in "x" + string
    append.append(tsconv_path()).append("' -f auto -t utf-8 a.viscii b.vni >> b.vni 2>/dev/null");
    EXPECT_EQ(shell(append), 2);
    EXPECT_EQ(read_file(dir_ / "b.vni"), vni_);

    // Into VIQR the byte before decides the escapes, across a change of format.
    write_file(dir_ / "end.utf8",
               "Vi\xE1\xBB\x87t Nam, ch\xC3\xA0o c\xC3\xA1\n" + std::string("ca"));
    write_file(dir_ / "start.viscii", "'s\n" + viscii_);
    const ProgramRun viqr = run({"-f", "auto", "-t", "viqr", "end.utf8", "start.viscii"});
    ASSERT_EQ(viqr.status, 0) << viqr.err;
    const ProgramRun back = run({"-f", "viqr", "-t", "utf-8"}, viqr.out);
    ASSERT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(back.out, read_file(dir_ / "end.utf8") + iconv("'s\n" + viscii_, "VISCII", "UTF-8"));
}

// --check is a dry run of the command: its checks, its refusals, its status; nothing written.
TEST_F(Batch, CheckIsADryRunOfTheCommand) {
    write_file(dir_ / "good", "ch\xC3\xA0o\n");
    write_file(dir_ / "bad", "1\xE2\x82\xAC 2\xE2\x82\xAC 3\xE2\x82\xAC \xE4\xB8\xAD\n");
    fs::create_directories(dir_ / "out");
    const std::vector<std::string> to_viscii = {"-f", "utf-8", "-t", "viscii", "--check"};
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{"-d", "out", "good", "bad"}, 1, "would not convert exactly"},
        {{"-d", "out", "--replace", "good", "bad"}, 0, "4 characters not converted exactly"},
        {{"-i", "--translit", "good", "bad"}, 0, "not converted exactly"},
        {{"-o", "good", "good", "bad"}, 2, "is the same file as the input good"},
        {{"-o", "new", "good"}, 0, "good: converts exactly to viscii"},
        {{"-o", "dangling", "good"}, 2, "dangling symbolic link"},
        {{"-o", "nofolder/new", "good"}, 2, "cannot write nofolder/new"},
    };
    fs::create_symlink("nowhere", dir_ / "dangling");
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.arguments));
        const ProgramRun r = run(to_viscii + k.arguments);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_TRUE(contains(r.err, k.says)) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_TRUE(fs::is_empty(dir_ / "out"));
        EXPECT_FALSE(fs::exists(dir_ / "new"));
        EXPECT_EQ(read_file(dir_ / "good"), "ch\xC3\xA0o\n");
        EXPECT_FALSE(fs::exists(dir_ / "nowhere"));
    }
    // Standard output that is an input, as the command would refuse it.
    std::string command = "'";  // appended: GCC 12 -O3 sees a false overlap in "x" + string
    command.append(tsconv_path()).append("' -f utf-8 -t viscii --check good >> good 2>/dev/null");
    EXPECT_EQ(shell(command), 2);
    EXPECT_EQ(read_file(dir_ / "good"), "ch\xC3\xA0o\n");
}

// A loss report lists the distinct characters lost, most frequent first.
TEST_F(Batch, LossReportsNameWhatWasLost) {
    write_file(dir_ / "price.txt",
               "gi\xC3\xA1: 1\xE2\x82\xAC, 2\xE2\x82\xAC, 3\xE2\x82\xAC \xE4\xB8\xAD\n");
    const ProgramRun r = run({"-f", "utf-8", "-t", "viscii", "--replace", "price.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err,
              "tsconv: price.txt:1:7: 4 characters not converted exactly to viscii: "
              "\"\xE2\x82\xAC\" \xC3\x97"
              "3, \"\xE4\xB8\xAD\" \xC3\x97"
              "1; the first at byte offset 7, "
              "became \"?\"\n");

    // Beyond ten distinct ones, "and N more".
    std::string many;
    for (int i = 0; i < 13; ++i) many += "\xE4\xB8" + std::string(1, char(0x80 + i));
    write_file(dir_ / "many.txt", many + "\n");
    const ProgramRun m = run({"-f", "utf-8", "-t", "viscii", "--replace", "many.txt"});
    EXPECT_TRUE(contains(m.err, ", and 3 more; the first at byte offset 0")) << m.err;
}

// -r mirrors a folder tree into -d, with --include and --exclude, symbolic links skipped.
TEST_F(Batch, RecursiveMirrorsAFolderTree) {
    fs::create_directories(dir_ / "src" / "sub" / "deeper");
    fs::create_directories(dir_ / "out");
    write_file(dir_ / "src" / "a.txt", viscii_);
    write_file(dir_ / "src" / "sub" / "b.txt", viscii_);
    write_file(dir_ / "src" / "sub" / "deeper" / "c.txt", viscii_);
    write_file(dir_ / "src" / "sub" / "skip.log", viscii_);
    write_file(dir_ / "src" / "keep.log", viscii_);
    fs::create_symlink("a.txt", dir_ / "src" / "link.txt");
    const ProgramRun r = run({"-f", "viscii", "-t", "utf-8", "-r", "-d", "out", "--include",
                              "*.txt", "--include", "keep.*", "src"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_ / "out" / "a.txt"), utf8_);
    EXPECT_EQ(read_file(dir_ / "out" / "sub" / "b.txt"), utf8_);
    EXPECT_EQ(read_file(dir_ / "out" / "sub" / "deeper" / "c.txt"), utf8_);
    EXPECT_EQ(read_file(dir_ / "out" / "keep.log"), utf8_);
    EXPECT_FALSE(fs::exists(dir_ / "out" / "sub" / "skip.log"));
    EXPECT_FALSE(fs::exists(dir_ / "out" / "link.txt"));
    EXPECT_TRUE(contains(r.err, "src/link.txt is a symbolic link")) << r.err;
    EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;

    // The last pattern that matches decides.
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out");
    const ProgramRun last = run({"-f", "viscii", "-t", "utf-8", "-r", "-d", "out", "--exclude", "*",
                                 "--include", "b.*", "src"});
    EXPECT_EQ(last.status, 0) << last.err;
    EXPECT_EQ(names_in(dir_ / "out"), std::vector<std::string>{"sub"});
    EXPECT_TRUE(fs::exists(dir_ / "out" / "sub" / "b.txt"));

    // A file -f auto cannot name (an image, a binary) is reported with status 1.
    write_file(dir_ / "src" / "image.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16));
    const ProgramRun detect = run({"--detect", "-r", "src"});
    EXPECT_EQ(detect.status, 1);
    EXPECT_TRUE(contains(detect.out, "src/image.png: unknown")) << detect.out;
    EXPECT_TRUE(contains(detect.out, "src/sub/deeper/c.txt: viscii")) << detect.out;
}

// -j N: the same outputs, messages in input order and statuses as one file at a time.
TEST_F(Batch, JobsGiveTheSameResultsAsOneAtATime) {
    fs::create_directories(dir_ / "in");
    std::vector<std::string> names;
    for (int i = 0; i < 24; ++i) {
        const std::string name = "in/" + std::to_string(100 + i) + ".txt";
        // Every fifth cannot be written in VISCII; every seventh is missing.
        if (i % 7 == 6) {
            names.push_back(name);
            continue;
        }
        write_file(dir_ / name, i % 5 == 4 ? utf8_ + "\xE2\x82\xAC\n" : utf8_);
        names.push_back(name);
    }
    ProgramRun results[2];
    std::vector<std::string> outputs[2];
    for (int j = 0; j < 2; ++j) {
        const std::string out = "out";
        fs::remove_all(dir_ / out);
        fs::create_directories(dir_ / out);
        results[j] = run(std::vector<std::string>{"-f", "utf-8", "-t", "viscii", "-d", out, "-j",
                                                  j == 0 ? "1" : "4"} +
                         names);
        for (const std::string& n : names_in(dir_ / out))
            outputs[j].push_back(read_file(dir_ / out / n));
    }
    EXPECT_EQ(results[0].status, 2);
    EXPECT_EQ(results[1].status, results[0].status);
    EXPECT_EQ(results[1].err, results[0].err);
    EXPECT_EQ(outputs[1], outputs[0]);
    EXPECT_EQ(outputs[0].size(), 17u);

    const ProgramRun d1 = run(std::vector<std::string>{"--detect"} + names);
    const ProgramRun d4 = run(std::vector<std::string>{"--detect", "-j", "4"} + names);
    EXPECT_EQ(d4.out, d1.out);
    EXPECT_EQ(d4.err, d1.err);
    EXPECT_EQ(d4.status, d1.status);
}

}  // namespace
}  // namespace toneshift::testing
