// The progress line: bytes done, MB/s and "file n of m" on standard error, shown only when
// standard error is a terminal and the work has taken more than about a second.
#pragma once

#include <cstddef>
#include <cstdint>

namespace toneshift::tsconv {

class Progress {
  public:
    // `files`: how many inputs the run has. Shows nothing unless standard error is a terminal.
    explicit Progress(std::size_t files);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void start_file(std::size_t number);  // from 1
    // Called after each buffer; cheap when nothing is to be shown.
    void add(std::uint64_t bytes);
    std::uint64_t bytes() const { return bytes_; }
    // Bytes counted once already that are read again (after a detection pass).
    void take_back(std::uint64_t bytes) { bytes_ -= bytes < bytes_ ? bytes : bytes_; }
    // In a worker process, whose standard error is not the terminal: shows nothing, and
    // forgets a line that the process it was forked from had on the screen.
    void hide();

  private:
    bool enabled_ = false;
    std::size_t files_ = 0;
    std::size_t file_ = 0;
    std::uint64_t bytes_ = 0;
    std::int64_t start_ns_ = 0;
    std::int64_t next_show_ns_ = 0;
};

// Erases the progress line if one is on the screen; every message calls it first.
void clear_progress_line();

}  // namespace toneshift::tsconv
