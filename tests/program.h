// Running the built toneshift executable in a scratch directory, for end-to-end tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace toneshift::testing {

// What one run of the program left: its standard output, standard error and exit status.
struct ProgramRun {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when the program did not exit normally
    bool timed_out = false;
};

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

// Runs toneshift in `dir` with `input` as its standard input. With `merged`, standard error
// goes to the same file as standard output (then `err` stays empty). Killed after
// `timeout_seconds`.
ProgramRun run_toneshift(const std::string& input, const std::filesystem::path& dir,
                         bool merged = false, const std::vector<std::string>& arguments = {},
                         const std::vector<std::string>& environment = {},
                         int timeout_seconds = 60);

// Waits for child `pid`, killing it after `timeout_seconds`; fills `status` and `timed_out`.
void wait_for(int pid, int timeout_seconds, ProgramRun& run);

std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, const std::string& bytes);

// The menu exactly as the program prints it, and its questions.
inline const std::string kMenu =
    "\nTONESHIFT converts Vietnamese text files between the following formats :\n\n"
    "\t0 - VISCII \t\t\t 7 - VN Thin-Art (PC)\n"
    "\t1 - VNCII (VPSWin)\t\t 8 - Viet-Toan\n"
    "\t2 - VPSedit (DOS)\t\t 9 - Plain Vietnamese\n"
    "\t3 - VNI\t\t\t\t10 - Standard VIQR\n"
    "\t4 - VNLab/VNU\n"
    "\t5 - VNU (Windows)\n"
    "\t6 - VN Thin-Art (Mac)\n\n";
inline const std::string kAskInput = "Input-file name (or Enter to quit): ";
inline const std::string kAskInputFormat = "currently in the format number: ";
inline const std::string kAskOutput = "\nOutput-file name: ";
inline const std::string kAskOutputFormat = "to the format number: ";
// The standard output of one whole cycle that reaches the conversion.
inline const std::string kCycle =
    kMenu + kAskInput + kAskInputFormat + kAskOutput + kAskOutputFormat;
// The standard output of a session that ends at the first question after n whole cycles.
std::string session_output(int cycles);

// The answers of one cycle, each followed by a newline.
std::string answers(const std::string& input, int from, const std::string& output, int to);

}  // namespace toneshift::testing
