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
};

// Runs tsconv with `arguments`; its standard output and error are collected in files (unless
// `stdout_path` is set: then `out` stays empty).
ProgramRun run_tsconv(const std::vector<std::string>& arguments, const TsconvSetup& setup = {});

// Starts tsconv with standard input from `stdin_fd` and standard output and error to
// /dev/null, and returns its process id without waiting.
pid_t start_tsconv(const std::vector<std::string>& arguments, const std::filesystem::path& dir,
                   int stdin_fd);

// The path of the built tsconv.
std::string tsconv_path();

// `text` converted by iconv (glibc), an independent reference for VISCII and UTF-8.
std::string iconv(const std::string& text, const std::string& from, const std::string& to);

// The names in `dir`, sorted.
std::vector<std::string> names_in(const std::filesystem::path& dir);

}  // namespace toneshift::testing
