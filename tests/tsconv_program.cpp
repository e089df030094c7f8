#include "tsconv_program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

}  // namespace

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
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::chdir(setup.dir.c_str()) != 0) ::_exit(126);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        ::umask(setup.umask);
        if (setup.file_size_limit >= 0) {
            const rlimit limit{rlim_t(setup.file_size_limit), rlim_t(setup.file_size_limit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        exec_tsconv(arguments);
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
        if (null_fd < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
        ::dup2(stdin_fd, 0);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        exec_tsconv(arguments);
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
