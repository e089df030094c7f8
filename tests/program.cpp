#include "program.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

namespace toneshift::testing {

std::string session_output(int cycles) {
    std::string out;
    for (int i = 0; i < cycles; ++i) out += kCycle;
    return out + kMenu + kAskInput;
}

std::string answers(const std::string& input, int from, const std::string& output, int to) {
    return input + "\n" + std::to_string(from) + "\n" + output + "\n" + std::to_string(to) + "\n";
}

ScratchDir::ScratchDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "toneshift-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void wait_for(int pid, int timeout_seconds, ProgramRun& run) {
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!run.timed_out && WIFEXITED(status)) run.status = WEXITSTATUS(status);
}

std::string read_file(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_file(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

ProgramRun run_toneshift(const std::string& input, const std::filesystem::path& dir, bool merged,
                         const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, int timeout_seconds) {
    // Standard streams go through files beside the scratch directory, so that nothing the
    // test inspects is inside it and no pipe can fill up.
    ScratchDir streams;
    write_file(streams / "in", input);
    const std::string in = (streams / "in").string(), out = (streams / "out").string(),
                      err = (streams / "err").string();
    const char* program = std::getenv("TONESHIFT_BIN");
    if (program == nullptr) program = TONESHIFT_BIN;

    std::vector<std::string> argv_storage{program};
    argv_storage.insert(argv_storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv, envp;
    for (std::string& a : argv_storage) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_storage = environment;
    for (std::string& e : env_storage) envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in_fd = ::open(in.c_str(), O_RDONLY);
        const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err_fd =
            merged ? out_fd : ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
        ::dup2(in_fd, 0);
        ::dup2(out_fd, 1);
        ::dup2(err_fd, 2);
        ::execve(program, argv.data(), envp.data());
        ::_exit(127);
    }
    ProgramRun run;
    wait_for(pid, timeout_seconds, run);
    run.out = read_file(out);
    if (!merged) run.err = read_file(err);
    return run;
}

}  // namespace toneshift::testing
