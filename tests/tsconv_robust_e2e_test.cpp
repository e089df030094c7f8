// tsconv end to end, in a hostile setting: outputs named by open descriptors, closed standard
// streams, signals, symbolic links that lead nowhere, a file system that refuses permission
// bits and a non-blocking output. Whatever happens, no file is lost or replaced by accident
// and no temporary file is left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

using Args = std::vector<std::string>;

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "Việt Nam" lines in UTF-8 beyond `size` bytes: more than a pipe or an input buffer holds.
std::string long_text(std::size_t size) {
    std::string text;
    while (text.size() < size) text += "Vi\xE1\xBB\x87t Nam, xin ch\xC3\xA0o!\n";
    return text;
}

const std::string kText = long_text(200000);
// A euro sign, which VISCII lacks: under --replace it is converted with a summary on
// standard error.
const std::string kLossy = long_text(1000) + "\xE2\x82\xAC\n";

// Equal strings; on failure only their sizes and where they part, not megabytes of text.
::testing::AssertionResult Same(const std::string& got, const std::string& want) {
    if (got == want) return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    return ::testing::AssertionFailure() << got.size() << " bytes where " << want.size()
                                         << " were expected, different from byte " << at;
}

ino_t inode_of(const fs::path& file) {
    struct stat s {};
    return ::lstat(file.c_str(), &s) == 0 ? s.st_ino : 0;
}

mode_t mode_of(const fs::path& file) {
    struct stat s {};
    return ::lstat(file.c_str(), &s) == 0 ? s.st_mode & 07777 : 0;
}

class Robust : public ::testing::Test {
  protected:
    ProgramRun run(const Args& arguments, TsconvSetup setup = {}) {
        setup.dir = dir_.path();
        return run_tsconv(arguments, setup);
    }
    void put(const std::string& name, const std::string& bytes, mode_t mode = 0644) {
        write_file(dir_ / name, bytes);
        fs::permissions(dir_ / name, fs::perms(mode));
    }
    std::vector<std::string> names() const { return names_in(dir_.path()); }
    // Waits until a temporary file shows in the scratch folder (`expected` names with it).
    bool temporary_appears(std::size_t expected) const {
        for (int i = 0; i < 4000; ++i) {
            if (names().size() == expected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

    ScratchDir dir_;
    const std::string viscii_ = iconv(kText, "UTF-8", "VISCII");
    const Args to_viscii_ = {"-f", "utf-8", "-t", "viscii"};
};

// `tsconv -o /dev/stdout in >> log` once renamed its temporary file over the log: an output
// named by an open descriptor is written through it, where it stands, and never replaced.
TEST_F(Robust, AnOutputNamedByAnOpenDescriptorIsWrittenThroughItNotReplaced) {
    put("in", kText);
    fs::create_symlink("/dev/stdout", dir_ / "to-stdout");
    fs::create_symlink("/proc/self/fd/1", dir_ / "to-fd");
    fs::create_symlink("to-stdout", dir_ / "to-link");
    const std::vector<std::string> names_of_stdout = {
        "/dev/stdout", "/dev/fd/1", "/proc/self/fd/1", "to-stdout",
        "to-fd",       "to-link",   "/dev/../dev/fd/1"};
    for (const std::string& name : names_of_stdout) {
        SCOPED_TRACE(name);
        put("log", "old log\n");
        const ino_t inode = inode_of(dir_ / "log");
        TsconvSetup appending;  // standard output opened to append, as `>> log` has it
        appending.stdout_path = (dir_ / "log").string();
        const ProgramRun r = run(to_viscii_ + Args{"-o", name, "in"}, appending);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_TRUE(Same(read_file(dir_ / "log"), "old log\n" + viscii_));
        EXPECT_EQ(inode_of(dir_ / "log"), inode) << "the same file, not a replacement";
        EXPECT_EQ(names(),
                  (std::vector<std::string>{"in", "log", "to-fd", "to-link", "to-stdout"}));
    }

    // Standard error the same way; a descriptor that is not open is no file to create.
    ProgramRun r = run(to_viscii_ + Args{"-o", "/dev/stderr", "in"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(Same(r.err, viscii_));
    for (const std::string name : {"/dev/fd/7", "/proc/self/fd/7"}) {
        SCOPED_TRACE(name);
        r = run(to_viscii_ + Args{"-o", name, "in"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("Bad file descriptor"), std::string::npos) << r.err;
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"in", "log", "to-fd", "to-link", "to-stdout"}));

    // Written as it goes, such an output cannot be taken back: a refusal or a missing input
    // stops it as it would standard output, and no message says it was not written.
    put("euro", "\xE2\x82\xAC\n");
    put("log", "old log\n");
    TsconvSetup appending;
    appending.stdout_path = (dir_ / "log").string();
    r = run(to_viscii_ + Args{"-o", "/dev/stdout", "in", "euro", "in"}, appending);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Same(read_file(dir_ / "log"), "old log\n" + viscii_));
    EXPECT_NE(r.err.find("the output stops there; not written: in"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("/dev/stdout not written"), std::string::npos) << r.err;
    put("log", "old log\n");
    r = run(to_viscii_ + Args{"-o", "/dev/stdout", "missing", "in"}, appending);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(Same(read_file(dir_ / "log"), "old log\n" + viscii_)) << "skipped, as into stdout";
    EXPECT_EQ(r.err.find("not written"), std::string::npos) << r.err;

    // A standard descriptor closed at the start stands on /dev/null: no output goes there.
    TsconvSetup closed;
    closed.closed = {0};
    for (const std::string name : {"/dev/stdin", "/dev/fd/0"}) {
        SCOPED_TRACE(name);
        r = run(to_viscii_ + Args{"-o", name, "in"}, closed);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("Bad file descriptor"), std::string::npos) << r.err;
    }
}

// `-i /dev/stdin <> file` wrote the conversion through standard input's descriptor, over
// the part of the file still to be read: under -i such a name stands for the file itself,
// which is replaced whole.
TEST_F(Robust, InPlaceOnADescriptorNameReplacesTheFileItIsOpenOn) {
    TsconvSetup setup;
    setup.dir = dir_.path();
    // Written into the file it reads, the conversion never ends: within bounds here.
    setup.file_size_limit = 4 * kText.size();
    const std::string viscii = iconv(kText, "UTF-8", "VISCII");
    for (const std::string name : {"/dev/stdin", "/dev/fd/0", "/proc/self/fd/0"}) {
        SCOPED_TRACE(name);
        put("file", viscii);
        const int in = ::open((dir_ / "file").c_str(), O_RDWR | O_CLOEXEC);
        const int err =
            ::open((dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(in, 0);
        const pid_t pid =
            spawn_tsconv({"-f", "viscii", "-t", "utf-8", "-i", name}, setup, in, -1, err);
        ::close(in);
        ::close(err);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(read_file(dir_ / "err"), "");
        EXPECT_TRUE(Same(read_file(dir_ / "file"), kText));
        EXPECT_EQ(names(), (std::vector<std::string>{"err", "file"}));
    }
}

// With standard input closed, `-o out -` once read its own empty temporary file (it had
// taken descriptor 0) and emptied `out` with status 0; with standard error closed, the
// summary went into the output. A closed stream stays closed to tsconv, and no file takes
// its place.
TEST_F(Robust, AClosedStandardStreamIsNeverTakenByAFile) {
    put("in", kText);
    put("lossy", kLossy);
    const std::string lossy_viscii = iconv(long_text(1000), "UTF-8", "VISCII") + "?\n";
    struct Case {
        int closed;
        Args arguments;
        int status;
        std::string out_file;  // its content afterwards ("" for none)
        std::string message;   // part of standard error ("" for none at all)
    };
    const Case cases[] = {
        {0, {"-o", "out", "-"}, 2, "old\n", "cannot read (standard input): Bad file descriptor"},
        {0, {"-o", "out", "in"}, 0, viscii_, ""},
        {1, {"in"}, 2, "old\n", "cannot write (standard output): Bad file descriptor"},
        {1, {"-o", "out", "in"}, 0, viscii_, ""},
        {1, {"-i", "in"}, 0, "old\n", ""},
        {2, {"--replace", "-o", "out", "lossy"}, 0, lossy_viscii, ""},
        {2, {"--replace", "-o", "out", "-"}, 0, lossy_viscii, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.arguments) + " closed " + std::to_string(k.closed));
        put("in", kText);
        put("out", "old\n");
        TsconvSetup setup;
        setup.input = kLossy;
        setup.closed = {k.closed};
        const ProgramRun r = run(to_viscii_ + k.arguments, setup);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_TRUE(Same(read_file(dir_ / "out"), k.out_file));
        if (k.arguments[0] == "-i") {
            EXPECT_TRUE(Same(read_file(dir_ / "in"), viscii_));
        }
        if (k.closed != 1) {
            EXPECT_EQ(r.out, "");
        }
        if (k.message.empty()) {
            EXPECT_TRUE(Same(r.err, ""));
        } else {
            EXPECT_NE(r.err.find(k.message), std::string::npos) << r.err;
        }
        EXPECT_EQ(names(), (std::vector<std::string>{"in", "lossy", "out"}));
    }
}

// Only SIGINT, SIGTERM and SIGHUP once removed the temporary file: SIGQUIT, SIGUSR1,
// SIGALRM, SIGPIPE and the rest left a .tsconv-* file behind. Every signal that ends the
// process removes it first and then ends the process as that signal does.
TEST_F(Robust, EverySignalThatEndsTsconvRemovesItsTemporaryFileAndEndsIt) {
    const int signals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,   SIGTRAP,      SIGABRT,
                           SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV,  SIGUSR2,      SIGPIPE,
                           SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU,  SIGVTALRM,    SIGPROF,
                           SIGIO,   SIGPWR,  SIGSYS,    SIGRTMIN, SIGRTMIN + 5, SIGRTMAX};
    TsconvSetup setup;
    setup.dir = dir_.path();
    for (const int signal_number : signals) {
        SCOPED_TRACE(::strsignal(signal_number));
        put("out", "old bytes\n");
        int input[2];
        ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
        const pid_t pid = spawn_tsconv(to_viscii_ + Args{"-o", "out"}, setup, input[0], -1, -1);
        ::close(input[0]);
        // Part of the text, the pipe kept open: tsconv waits for more, its temporary file open.
        ASSERT_EQ(::write(input[1], kText.data(), 30000), 30000);
        EXPECT_TRUE(temporary_appears(2));
        ::kill(pid, signal_number);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(input[1]);
        EXPECT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal_number);
        EXPECT_EQ(names(), std::vector<std::string>{"out"});
        EXPECT_EQ(read_file(dir_ / "out"), "old bytes\n");
    }
}

TEST_F(Robust, ASignalIgnoredAtTheStartStaysIgnored) {
    TsconvSetup setup;
    setup.dir = dir_.path();
    setup.ignored_signals = {SIGUSR1, SIGINT};
    put("out", "old bytes\n");
    int input[2];
    ASSERT_EQ(::pipe2(input, O_CLOEXEC), 0);
    const pid_t pid = spawn_tsconv(to_viscii_ + Args{"-o", "out"}, setup, input[0], -1, -1);
    ::close(input[0]);
    ASSERT_EQ(::write(input[1], kText.data(), 30000), 30000);
    EXPECT_TRUE(temporary_appears(2));
    ::kill(pid, SIGUSR1);
    ::kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(::write(input[1], kText.data() + 30000, kText.size() - 30000),
              ssize_t(kText.size() - 30000));
    ::close(input[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(Same(read_file(dir_ / "out"), viscii_));
    EXPECT_EQ(names(), std::vector<std::string>{"out"});
}

// With -j, a signal to tsconv alone (not its process group) reaches its workers, each of
// which removes its own temporary file before tsconv ends.
TEST_F(Robust, ASignalToTsconvReachesItsWorkersFirst) {
    fs::create_directory(dir_ / "out");
    ASSERT_EQ(::mkfifo((dir_ / "a").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir_ / "b").c_str(), 0600), 0);
    TsconvSetup setup;
    setup.dir = dir_.path();
    for (const int signal_number : {SIGTERM, SIGUSR1, SIGPIPE}) {
        SCOPED_TRACE(::strsignal(signal_number));
        const pid_t pid =
            spawn_tsconv(to_viscii_ + Args{"-j", "2", "-d", "out", "a", "b"}, setup, -1, -1, -1);
        // Each worker waits in its FIFO for more, its temporary file open. (Opened for
        // reading too, so that opening does not wait for a reader.)
        const int a = ::open((dir_ / "a").c_str(), O_RDWR | O_CLOEXEC);
        const int b = ::open((dir_ / "b").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(::write(a, kText.data(), 30000), 30000);
        ASSERT_EQ(::write(b, kText.data(), 30000), 30000);
        bool both = false;
        for (int i = 0; i < 4000 && !both; ++i) {
            both = names_in(dir_ / "out").size() == 2;
            if (!both) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(both);
        ::kill(pid, signal_number);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(names_in(dir_ / "out"), std::vector<std::string>{}) << "before the inputs end";
        ::close(a);
        ::close(b);
    }
}

// A reader gone from standard error while a summary is printed: SIGPIPE ends tsconv, which
// left its temporary file behind. A reader gone from standard output (`tsconv | head -1`)
// still ends it quietly.
TEST_F(Robust, SigpipeEndsTsconvQuietlyAndLeavesNoTemporaryFile) {
    put("lossy", kLossy);
    put("in", kText);
    put("out", "old bytes\n");
    const std::string lossy_viscii = iconv(long_text(1000), "UTF-8", "VISCII") + "?\n";
    TsconvSetup setup;
    setup.dir = dir_.path();
    const int err_file = ::open((dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(err_file, 0);
    struct Case {
        Args arguments;
        bool gone_from_stdout;  // else from standard error
    };
    const Case cases[] = {
        {{"--replace", "-o", "out", "lossy"}, false},
        {{"--replace", "-o", "out", "lossy", "lossy"}, false},
        {{"in"}, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.arguments));
        int gone[2];
        ASSERT_EQ(::pipe2(gone, O_CLOEXEC), 0);
        ::close(gone[0]);
        const pid_t pid =
            spawn_tsconv(to_viscii_ + k.arguments, setup, -1, k.gone_from_stdout ? gone[1] : -1,
                         k.gone_from_stdout ? err_file : gone[1]);
        ::close(gone[1]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << status;
        // The output is replaced whole or not at all, whenever the summary comes.
        const std::string out = read_file(dir_ / "out");
        EXPECT_TRUE(out == "old bytes\n" || out == lossy_viscii ||
                    out == lossy_viscii + lossy_viscii)
            << out.size();
        EXPECT_EQ(names(), (std::vector<std::string>{"err", "in", "lossy", "out"}));
    }
    ::close(err_file);
    EXPECT_EQ(read_file(dir_ / "err"), "") << "no message";
}

// `-o` on a symbolic link that leads nowhere once replaced the link with a regular file.
TEST_F(Robust, AnOutputThatIsADanglingSymbolicLinkIsRefused) {
    put("in", kText);
    fs::create_symlink("missing", dir_ / "dangling");
    fs::create_symlink("loop-b", dir_ / "loop-a");
    fs::create_symlink("loop-a", dir_ / "loop-b");
    const std::vector<std::string> all = {"dangling", "in", "loop-a", "loop-b"};
    for (const Args& arguments : {Args{"-o", "dangling", "in"}, Args{"-o", "loop-a", "in"}}) {
        SCOPED_TRACE(arguments[1]);
        const ProgramRun r = run(to_viscii_ + arguments);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("tsconv: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(arguments[1]), std::string::npos) << r.err;
        EXPECT_EQ(names(), all);
        EXPECT_TRUE(fs::is_symlink(dir_ / arguments[1]));
    }
    const ProgramRun r = run(to_viscii_ + Args{"-o", "dangling", "in"});
    EXPECT_NE(r.err.find("dangling symbolic link"), std::string::npos) << r.err;
    EXPECT_EQ(fs::read_symlink(dir_ / "dangling"), "missing");
}

// A failed fchmod once went unnoticed: the replacement lost the original's permission bits
// and tsconv said nothing, with status 0.
TEST_F(Robust, AReplacementThatCannotGetTheOriginalsModeIsNotMade) {
    put("in", kText);
    TsconvSetup no_fchmod;
    no_fchmod.failing_syscall = SYS_fchmod;
    for (const Args& arguments : {Args{"-o", "existing", "in"}, Args{"-i", "existing"}}) {
        SCOPED_TRACE(arguments[0]);
        put("existing", kText, 0604);
        const ProgramRun r = run(to_viscii_ + arguments, no_fchmod);
        if (r.status == kNoSeccomp) GTEST_SKIP() << "no seccomp filter to make fchmod fail";
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("existing"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Operation not permitted"), std::string::npos) << r.err;
        EXPECT_TRUE(Same(read_file(dir_ / "existing"), kText));
        EXPECT_EQ(mode_of(dir_ / "existing"), 0604u);
        EXPECT_EQ(names(), (std::vector<std::string>{"existing", "in"}));
    }
    // A new file needs no fchmod: it is created with its bits.
    no_fchmod.umask = 027;
    const ProgramRun r = run(to_viscii_ + Args{"-o", "new", "in"}, no_fchmod);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Same(read_file(dir_ / "new"), viscii_));
    EXPECT_EQ(mode_of(dir_ / "new"), 0640u);
}

// A non-blocking standard output whose reader lags once made tsconv fail with EAGAIN.
TEST_F(Robust, ANonBlockingOutputThatIsFullIsWaitedFor) {
    put("in", kText);
    TsconvSetup setup;
    setup.dir = dir_.path();
    for (const Args& arguments : {Args{"in"}, Args{"-o", "/dev/stdout", "in"}}) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        int output[2];
        ASSERT_EQ(::pipe2(output, O_CLOEXEC), 0);
        ASSERT_EQ(::fcntl(output[1], F_SETFL, O_NONBLOCK), 0);
        const int err_file =
            ::open((dir_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        const pid_t pid = spawn_tsconv(to_viscii_ + arguments, setup, -1, output[1], err_file);
        ::close(output[1]);
        ::close(err_file);
        // Long enough for tsconv to fill the pipe.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::string got;
        char chunk[4096];
        for (ssize_t n; (n = ::read(output[0], chunk, sizeof chunk)) != 0;) {
            if (n < 0 && errno == EINTR) continue;
            ASSERT_GT(n, 0);
            got.append(chunk, std::size_t(n));
        }
        ::close(output[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(read_file(dir_ / "err"), "");
        EXPECT_TRUE(Same(got, viscii_));
        fs::remove(dir_ / "err");
    }
}

}  // namespace
}  // namespace toneshift::testing
