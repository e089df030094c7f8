// Running the built tsconv for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "program.h"

namespace toneshift::testing {

struct TsconvSetup {
    std::string input;                // its standard input
    std::filesystem::path dir = ".";  // its working directory
    std::string stdout_path;          // standard output to this file (e.g. /dev/full)
    long long file_size_limit = -1;   // RLIMIT_FSIZE in bytes, or -1 for none
    mode_t umask = 022;
    int timeout_seconds = 60;
    std::vector<int> closed;           // of 0, 1, 2: closed when tsconv starts
    std::vector<int> ignored_signals;  // ignored when tsconv starts (all others at default)
    long failing_syscall = -1;         // this system call fails with EPERM (e.g. SYS_fchmod)
};

// The exit status of a run whose `failing_syscall` could not be arranged (no seccomp).
inline constexpr int kNoSeccomp = 125;

// Runs tsconv with `arguments`; its standard output and error are collected in files (unless
// `stdout_path` is set: then `out` stays empty).
ProgramRun run_tsconv(const std::vector<std::string>& arguments, const TsconvSetup& setup = {});

// Starts tsconv with standard input from `stdin_fd` and standard output and error to
// /dev/null, and returns its process id without waiting.
pid_t start_tsconv(const std::vector<std::string>& arguments, const std::filesystem::path& dir,
                   int stdin_fd);

// Starts tsconv as `setup` says (but for its `input` and `stdout_path`) with `in`, `out` and
// `err` as its standard input, output and error (-1: closed), every signal unblocked and at
// its default action but for `setup.ignored_signals`, no core files and no other descriptor
// open. Returns its process id without waiting.
pid_t spawn_tsconv(const std::vector<std::string>& arguments, const TsconvSetup& setup, int in,
                   int out, int err);

// The path of the built tsconv.
std::string tsconv_path();

// `text` converted by iconv (glibc), an independent reference for VISCII and UTF-8.
std::string iconv(const std::string& text, const std::string& from, const std::string& to);

// The names in `dir`, sorted.
std::vector<std::string> names_in(const std::filesystem::path& dir);

}  // namespace toneshift::testing
