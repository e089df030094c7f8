#include "tsconv_program.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace toneshift::testing {

std::string tsconv_path() {
    const char* program = std::getenv("TSCONV_BIN");
    return program != nullptr ? program : TSCONV_BIN;
}

namespace {

// In the child: replaces the process with tsconv. Never returns.
[[noreturn]] void exec_tsconv(const std::vector<std::string>& arguments) {
    std::vector<std::string> storage{tsconv_path()};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(storage[0].c_str(), argv.data());
    ::_exit(127);
}

// In the child: makes system call `number` fail with EPERM from here on. False when the
// kernel takes no seccomp filter.
bool make_syscall_fail(long number) {
    sock_filter program[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, std::uint32_t(number), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog filter{static_cast<unsigned short>(sizeof program / sizeof program[0]),
                            program};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

// In the child: sets up the process as spawn_tsconv() says and runs tsconv. Never returns.
[[noreturn]] void become_tsconv(const std::vector<std::string>& arguments, const TsconvSetup& setup,
                                int in, int out, int err) {
    // Out of the way of 0 to 2 first, so that no dup2() below overwrites another's source.
    int streams[3] = {in, out, err};
    for (int& fd : streams)
        if (fd >= 0 && (fd = ::fcntl(fd, F_DUPFD, 10)) < 0) ::_exit(126);
    for (int target = 0; target < 3; ++target) {
        if (streams[target] >= 0) {
            if (::dup2(streams[target], target) != target) ::_exit(126);
        } else {
            ::close(target);
        }
    }
    for (int target : setup.closed) ::close(target);
    ::close_range(3, ~0u, 0);
    if (::chdir(setup.dir.c_str()) != 0) ::_exit(126);
    ::umask(setup.umask);
    if (setup.file_size_limit >= 0) {
        const rlimit limit{rlim_t(setup.file_size_limit), rlim_t(setup.file_size_limit)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    const rlimit no_core{0, 0};
    ::setrlimit(RLIMIT_CORE, &no_core);
    for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
    for (int s : setup.ignored_signals) ::signal(s, SIG_IGN);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (setup.failing_syscall >= 0 && !make_syscall_fail(setup.failing_syscall))
        ::_exit(kNoSeccomp);
    exec_tsconv(arguments);
}

}  // namespace

pid_t spawn_tsconv(const std::vector<std::string>& arguments, const TsconvSetup& setup, int in,
                   int out, int err) {
    const pid_t pid = ::fork();
    if (pid == 0) become_tsconv(arguments, setup, in, out, err);
    return pid;
}

ProgramRun run_tsconv(const std::vector<std::string>& arguments, const TsconvSetup& setup) {
    ScratchDir streams;
    write_file(streams / "in", setup.input);
    const std::string in = (streams / "in").string(), err = (streams / "err").string();
    const std::string out =
        setup.stdout_path.empty() ? (streams / "out").string() : setup.stdout_path;

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in_fd = ::open(in.c_str(), O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0) ::_exit(126);
        become_tsconv(arguments, setup, in_fd, out_fd, err_fd);
    }
    ProgramRun run;
    wait_for(pid, setup.timeout_seconds, run);
    if (setup.stdout_path.empty()) run.out = read_file(out);
    run.err = read_file(err);
    return run;
}

pid_t start_tsconv(const std::vector<std::string>& arguments, const std::filesystem::path& dir,
                   int stdin_fd) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null_fd = ::open("/dev/null", O_WRONLY);
        if (null_fd < 0) ::_exit(126);
        TsconvSetup setup;
        setup.dir = dir;
        become_tsconv(arguments, setup, stdin_fd, null_fd, null_fd);
    }
    return pid;
}

std::string iconv(const std::string& text, const std::string& from, const std::string& to) {
    ScratchDir dir;
    write_file(dir / "in", text);
    const std::string command = "iconv -f " + from + " -t " + to + " '" + (dir / "in").string() +
                                "' > '" + (dir / "out").string() + "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("iconv failed: " + command);
    return read_file(dir / "out");
}

std::vector<std::string> names_in(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace toneshift::testing
