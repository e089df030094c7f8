// The dialogue as a person at a terminal meets it: each question is on the screen before
// its answer is typed.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "program.h"

namespace toneshift::testing {
namespace {

class Terminal {
  public:
    explicit Terminal(const std::filesystem::path& dir) {
        pid_ = ::forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            // A line-editing terminal as a person has it (Enter sends a carriage return,
            // which the terminal turns into a newline), without echo and without output
            // translation, so that the screen holds exactly what the program wrote.
            struct termios mode {};
            ::tcgetattr(0, &mode);
            mode.c_lflag &= ~tcflag_t(ECHO);
            mode.c_oflag &= ~tcflag_t(OPOST);
            mode.c_iflag |= ICRNL;
            mode.c_lflag |= ICANON;
            ::tcsetattr(0, TCSANOW, &mode);
            if (::chdir(dir.c_str()) != 0) ::_exit(126);
            const char* program = TONESHIFT_BIN;
            ::execl(program, program, static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (master_ >= 0) ::close(master_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }

    bool started() const { return pid_ > 0; }

    // Reads the screen until it ends with `text`, for at most a few seconds. Only what the
    // program has written counts: nothing is typed meanwhile.
    bool wait_for(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!ends_with(screen_, text)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            struct pollfd p {
                master_, POLLIN, 0
            };
            if (::poll(&p, 1, int(left.count())) <= 0) return false;
            char chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) return false;
            screen_.append(chunk, std::size_t(n));
        }
        return true;
    }

    void type(const std::string& line) {
        const std::string keys = line + "\r";  // Enter
        ASSERT_EQ(::write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
    }

    // Waits for the program to end, keeping what it still writes.
    int exit_status() {
        char chunk[4096];
        ssize_t n;
        while ((n = ::read(master_, chunk, sizeof chunk)) > 0)
            screen_.append(chunk, std::size_t(n));
        int status = 0;
        ::close(master_);
        master_ = -1;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    const std::string& screen() const { return screen_; }

  private:
    static bool ends_with(const std::string& s, const std::string& tail) {
        return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
    }

    int master_ = -1;
    pid_t pid_ = -1;
    std::string screen_;
};

TEST(Terminal, EachQuestionIsVisibleBeforeItsAnswerIsTyped) {
    ScratchDir dir;
    write_file(dir / "in.txt", "Vi\xAEt");
    write_file(dir / "out.txt", "old");
    Terminal t(dir.path());
    ASSERT_TRUE(t.started());

    ASSERT_TRUE(t.wait_for(kMenu + kAskInput)) << t.screen();
    t.type("in.txt");
    ASSERT_TRUE(t.wait_for(kAskInputFormat)) << t.screen();
    t.type("0");
    ASSERT_TRUE(t.wait_for(kAskOutput)) << t.screen();
    t.type("out.txt");
    ASSERT_TRUE(t.wait_for(kAskOutputFormat)) << t.screen();
    t.type("3");
    ASSERT_TRUE(t.wait_for("\"out.txt\" already exists. Overwrite it (y/n)? ")) << t.screen();
    t.type("y");
    ASSERT_TRUE(t.wait_for(kMenu + kAskInput)) << t.screen();
    EXPECT_EQ(read_file(dir / "out.txt"),
              "Vi\xAC"
              "t");
    t.type("");
    EXPECT_EQ(t.exit_status(), 0);
    EXPECT_EQ(t.screen(), session_output(1).insert(
                              kCycle.size(), "\"out.txt\" already exists. Overwrite it (y/n)? "));
}

}  // namespace
}  // namespace toneshift::testing
