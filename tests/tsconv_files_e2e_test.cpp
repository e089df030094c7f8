// tsconv end to end: the files it writes. Nothing is ever lost: an output appears whole or
// not at all, an original stays as it was unless its conversion succeeded, and an output
// that is an input is refused.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "program.h"
#include "tsconv_program.h"

namespace toneshift::testing {
namespace {

namespace fs = std::filesystem;

mode_t mode_of(const fs::path& file) {
    struct stat s {};
    if (::lstat(file.c_str(), &s) != 0) return 0;
    return s.st_mode & 07777;
}

// "Việt Nam" lines in UTF-8 beyond `size` bytes: more than a few input buffers.
std::string long_text(std::size_t size) {
    std::string text;
    while (text.size() < size) text += "Vi\xE1\xBB\x87t Nam, xin ch\xC3\xA0o!\n";
    return text;
}

// Converts to VISCII without loss, with a euro sign (which VISCII lacks) past 64 KiB.
const std::string kGood = long_text(200000);
const std::string kBad = long_text(100000) + "\xE2\x82\xAC" + long_text(1000);

class Files : public ::testing::Test {
  protected:
    ProgramRun run(const std::vector<std::string>& arguments, TsconvSetup setup = {}) {
        setup.dir = dir_.path();
        return run_tsconv(arguments, setup);
    }
    // Writes `name` with `bytes` and `mode`.
    void put(const std::string& name, const std::string& bytes, mode_t mode = 0644) {
        write_file(dir_ / name, bytes);
        fs::permissions(dir_ / name, fs::perms(mode));
    }
    std::vector<std::string> names(const std::string& sub = "") const {
        return names_in(sub.empty() ? dir_.path() : dir_ / sub);
    }
    ScratchDir dir_;
    const std::string viscii_ = iconv(kGood, "UTF-8", "VISCII");
    const std::vector<std::string> to_viscii_ = {"-f", "utf-8", "-t", "viscii"};
};

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Files, ANewFileGetsTheUmaskAnExistingOneKeepsItsMode) {
    put("in", kGood);
    TsconvSetup setup;
    setup.umask = 027;
    ProgramRun r = run(to_viscii_ + std::vector<std::string>{"-o", "new", "in"}, setup);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(dir_ / "new"), viscii_);
    EXPECT_EQ(mode_of(dir_ / "new"), 0640u);

    put("old", "old", 0604);
    r = run(to_viscii_ + std::vector<std::string>{"--output=old", "in"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_ / "old"), viscii_);
    EXPECT_EQ(mode_of(dir_ / "old"), 0604u);

    // Through a symbolic link, the file it names is replaced and the link stays.
    fs::create_symlink("old", dir_ / "link");
    put("in2", "ch\xC3\xA0o\n");
    r = run(to_viscii_ + std::vector<std::string>{"-o", "link", "in2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
    EXPECT_EQ(read_file(dir_ / "old"), iconv("ch\xC3\xA0o\n", "UTF-8", "VISCII"));
    EXPECT_EQ(names(), (std::vector<std::string>{"in", "in2", "link", "new", "old"}))
        << "no temporary file left";
}

TEST_F(Files, InPlaceReplacesEachFileKeepingItsMode) {
    put("a", kGood, 0751);
    put("b c", "ch\xC3\xA0o\n", 0600);
    const ProgramRun r = run(to_viscii_ + std::vector<std::string>{"-i", "a", "b c"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(read_file(dir_ / "a"), viscii_);
    EXPECT_EQ(mode_of(dir_ / "a"), 0751u);
    EXPECT_EQ(read_file(dir_ / "b c"), iconv("ch\xC3\xA0o\n", "UTF-8", "VISCII"));
    EXPECT_EQ(mode_of(dir_ / "b c"), 0600u);
    EXPECT_EQ(names(), (std::vector<std::string>{"a", "b c"}));
}

TEST_F(Files, InPlaceKeepsTheOwnerAndGroupWhereItMay) {
    if (::geteuid() != 0) GTEST_SKIP() << "only a privileged process may give a file away";
    put("a", kGood, 04750);
    ASSERT_EQ(::chown((dir_ / "a").c_str(), 4321, 8765), 0);
    ASSERT_EQ(::chmod((dir_ / "a").c_str(), 04750), 0);  // chown cleared the set-user-ID bit
    const ProgramRun r = run(to_viscii_ + std::vector<std::string>{"-i", "a"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir_ / "a"), viscii_);
    struct stat s {};
    ASSERT_EQ(::stat((dir_ / "a").c_str(), &s), 0);
    EXPECT_EQ(s.st_uid, 4321u);
    EXPECT_EQ(s.st_gid, 8765u);
    EXPECT_EQ(s.st_mode & 07777, 04750u) << "the set-user-ID bit kept after the owner";
}

TEST_F(Files, OutDirWritesEachInputUnderItsBaseName) {
    fs::create_directories(dir_ / "src" / "deep");
    fs::create_directory(dir_ / "dst");
    put("src/one", kGood);
    put("src/deep/two", "ch\xC3\xA0o\n");
    const ProgramRun r =
        run(to_viscii_ + std::vector<std::string>{"--out-dir", "dst", "src/one", "src/deep/two"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names("dst"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(read_file(dir_ / "dst" / "one"), viscii_);

    for (const std::string folder : {"missing", "src/one"}) {
        SCOPED_TRACE(folder);
        const ProgramRun bad = run(to_viscii_ + std::vector<std::string>{"-d", folder, "src/one"});
        EXPECT_EQ(bad.status, 2);
        EXPECT_EQ(bad.err.rfind("tsconv: " + folder + " ", 0), 0u) << bad.err;
    }
}

TEST_F(Files, ARefusalLeavesEveryOriginalAndExistingOutputAsItWas) {
    fs::create_directory(dir_ / "out");
    struct Case {
        std::vector<std::string> arguments;
        std::string changed_file;  // the file that a conversion would have replaced
        std::string consequence;
    };
    const Case cases[] = {
        {{"-i", "bad"}, "bad", "bad left as it was"},
        {{"-o", "existing", "bad"}, "existing", "existing not written"},
        {{"-o", "existing", "good", "bad"}, "existing", "existing not written"},
        {{"-d", "out", "bad"}, "out/bad", "out/bad not written"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.changed_file);
        put("bad", kBad, 0640);
        put("good", kGood, 0640);
        put("existing", "old bytes\n", 0604);
        put("out/bad", "old bytes\n", 0604);
        const std::string before = read_file(dir_ / k.changed_file);
        const mode_t mode = mode_of(dir_ / k.changed_file);
        const ProgramRun r = run(to_viscii_ + k.arguments);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("tsconv: bad:4349:1: cannot write U+20AC", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(k.consequence), std::string::npos) << r.err;
        EXPECT_EQ(read_file(dir_ / k.changed_file), before) << "byte for byte";
        EXPECT_EQ(mode_of(dir_ / k.changed_file), mode);
        EXPECT_EQ(names(), (std::vector<std::string>{"bad", "existing", "good", "out"}));
        EXPECT_EQ(names("out"), std::vector<std::string>{"bad"});
    }
}

TEST_F(Files, AnOutputThatIsAnInputIsRefusedExceptInPlace) {
    fs::create_directory(dir_ / "sub");
    struct Case {
        std::vector<std::string> arguments;
        std::string stdout_path;  // relative to the scratch folder
    };
    const Case cases[] = {
        {{"-o", "in", "in"}, ""},
        {{"-o", "./sub/../in", "other", "in"}, ""},
        {{"-o", "hard", "in"}, ""},
        {{"-o", "soft", "in"}, ""},
        {{"-o", "in"}, ""},  // standard input is the file "in"
        {{"in"}, "in"},      // standard output is the file "in"
        {{"-d", ".", "in"}, ""},
        {{"-d", "sub", "in", "sub/x"}, ""},  // sub/in is x itself, by a hard link
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(::testing::PrintToString(k.arguments));
        put("in", kGood);
        put("other", "ch\xC3\xA0o\n");
        fs::remove(dir_ / "hard");
        fs::create_hard_link(dir_ / "in", dir_ / "hard");
        fs::remove(dir_ / "soft");
        fs::create_symlink("in", dir_ / "soft");
        fs::remove(dir_ / "sub" / "in");
        fs::remove(dir_ / "sub" / "x");
        put("sub/x", "x\n");
        fs::create_hard_link(dir_ / "sub" / "x", dir_ / "sub" / "in");
        TsconvSetup setup;
        setup.input = kGood;
        if (!k.stdout_path.empty()) setup.stdout_path = (dir_ / k.stdout_path).string();
        if (k.arguments == std::vector<std::string>{"-o", "in"}) {
            // Standard input opened from "in", as `tsconv -o in < in` has it.
            const std::string command = "cd '" + dir_.path().string() + "' && '" + tsconv_path() +
                                        "' -f utf-8 -t viscii -o in < in";
            EXPECT_EQ(WEXITSTATUS(std::system(command.c_str())), 2);
        } else {
            const ProgramRun r = run(to_viscii_ + k.arguments, setup);
            EXPECT_EQ(r.status, 2);
            EXPECT_NE(r.err.find("is the same file as the input"), std::string::npos) << r.err;
        }
        EXPECT_EQ(read_file(dir_ / "in"), kGood);
        EXPECT_EQ(read_file(dir_ / "sub" / "x"), "x\n");
    }
    EXPECT_EQ(names(), (std::vector<std::string>{"hard", "in", "other", "soft", "sub"}));

    const ProgramRun in_place = run(to_viscii_ + std::vector<std::string>{"-i", "soft"});
    EXPECT_EQ(in_place.status, 0) << in_place.err;
    EXPECT_EQ(read_file(dir_ / "in"), viscii_);
    EXPECT_TRUE(fs::is_symlink(dir_ / "soft"));
}

TEST_F(Files, AFullDiskGivesStatusTwoAndLeavesNothing) {
    put("in", kGood);
    put("existing", "old bytes\n", 0604);
    // /dev/full as the output file and as standard output: written directly, never replaced.
    ProgramRun r = run(to_viscii_ + std::vector<std::string>{"-o", "/dev/full", "in"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("tsconv: cannot write /dev/full: No space left on device", 0), 0u)
        << r.err;
    TsconvSetup full;
    full.stdout_path = "/dev/full";
    r = run(to_viscii_ + std::vector<std::string>{"in"}, full);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("tsconv: cannot write (standard output): No space left", 0), 0u) << r.err;
    EXPECT_EQ(names(), (std::vector<std::string>{"existing", "in"}));

    // A regular file that cannot grow past 100 KB: the write fails midway through.
    TsconvSetup limited;
    limited.file_size_limit = 100000;
    for (const std::vector<std::string>& where :
         {std::vector<std::string>{"-o", "existing", "in"}, std::vector<std::string>{"-i", "in"},
          std::vector<std::string>{"-o", "new", "in"}}) {
        SCOPED_TRACE(where[1]);
        r = run(to_viscii_ + where, limited);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("tsconv: cannot write ", 0), 0u) << r.err;
        EXPECT_EQ(read_file(dir_ / "existing"), "old bytes\n");
        EXPECT_EQ(read_file(dir_ / "in"), kGood);
        EXPECT_EQ(names(), (std::vector<std::string>{"existing", "in"}));
    }
}

TEST_F(Files, AnInterruptRemovesTheTemporaryFile) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        put("out", "old bytes\n");
        int pipe_fds[2];
        ASSERT_EQ(::pipe(pipe_fds), 0);
        const pid_t pid = start_tsconv(to_viscii_ + std::vector<std::string>{"-o", "out"},
                                       dir_.path(), pipe_fds[0]);
        ::close(pipe_fds[0]);
        // Part of the text, the write end kept open: tsconv waits for more with its
        // temporary file open.
        ASSERT_EQ(::write(pipe_fds[1], kGood.data(), 30000), 30000);
        bool temp_seen = false;
        for (int i = 0; i < 2000 && !temp_seen; ++i) {
            temp_seen = names().size() == 2;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(temp_seen);
        ::kill(pid, signal_number);
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(pipe_fds[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal_number) << status;
        EXPECT_EQ(names(), std::vector<std::string>{"out"});
        EXPECT_EQ(read_file(dir_ / "out"), "old bytes\n");
    }
}

// Writes `text` into the FIFO `path` in two halves, a pause of `pause` between them.
void feed_slowly(const fs::path& path, const std::string& text, std::chrono::milliseconds pause) {
    const int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) return;
    const std::size_t half = text.size() / 2;
    (void)!::write(fd, text.data(), half);
    std::this_thread::sleep_for(pause);
    (void)!::write(fd, text.data() + half, text.size() - half);
    ::close(fd);
}

TEST_F(Files, ProgressOnlyOnATerminalAndClearedAtTheEnd) {
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    const std::vector<std::string> arguments =
        to_viscii_ + std::vector<std::string>{"-o", "out", "fifo"};

    // Standard error a file: nothing, however long the work takes.
    std::thread writer(feed_slowly, dir_ / "fifo", kGood, std::chrono::milliseconds(1500));
    const ProgramRun quiet = run(arguments);
    writer.join();
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(read_file(dir_ / "out"), viscii_);

    // Standard error a terminal: a progress line after about a second, erased at the end;
    // while detecting too.
    const std::vector<std::string> detect = {"--detect", "fifo"};
    for (const std::vector<std::string>* args : {&arguments, &detect}) {
        SCOPED_TRACE(::testing::PrintToString(*args));
        int master = -1;
        const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
        if (pid == 0) {
            if (::chdir(dir_.path().c_str()) != 0) ::_exit(126);
            std::vector<std::string> storage{tsconv_path()};
            storage.insert(storage.end(), args->begin(), args->end());
            std::vector<char*> argv;
            for (std::string& a : storage) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ASSERT_GT(pid, 0);
        std::thread slow_writer(feed_slowly, dir_ / "fifo", kGood, std::chrono::milliseconds(1500));
        std::string screen;
        char chunk[4096];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) break;
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0) break;
            screen.append(chunk, std::size_t(n));
        }
        slow_writer.join();
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(master);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_NE(screen.find("\rtsconv: "), std::string::npos) << screen;
        EXPECT_NE(screen.find(" MB done, "), std::string::npos) << screen;
        EXPECT_NE(screen.find(" MB/s, file 1 of 1"), std::string::npos) << screen;
        // The line is erased before anything else is written, and at the end.
        const std::string erase = "\r\033[K";
        const std::size_t last_progress = screen.rfind(" MB done, ");
        EXPECT_NE(screen.find(erase, last_progress), std::string::npos)
            << "the progress line is erased";
        if (args == &arguments) {
            EXPECT_EQ(screen.size() >= erase.size() &&
                          screen.compare(screen.size() - erase.size(), erase.size(), erase) == 0,
                      true)
                << "the screen ends with the line erased";
        } else {
            EXPECT_NE(screen.find("fifo: utf-8"), std::string::npos) << screen;
        }
    }
}

}  // namespace
}  // namespace toneshift::testing
