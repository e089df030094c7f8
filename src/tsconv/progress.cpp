#include "tsconv/progress.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace toneshift::tsconv {

namespace {

constexpr std::int64_t kFirstShowNs = 1'000'000'000;  // nothing for quick work
constexpr std::int64_t kRefreshNs = 250'000'000;

// Whether a progress line is on the terminal now; set and cleared only by this unit.
bool line_visible = false;

std::int64_t now_ns() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

}  // namespace

void clear_progress_line() {
    if (!line_visible) return;
    // Carriage return, then erase to the end of the line.
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    line_visible = false;
}

Progress::Progress(std::size_t files)
    : enabled_(::isatty(STDERR_FILENO) == 1), files_(files), start_ns_(now_ns()) {
    next_show_ns_ = start_ns_ + kFirstShowNs;
}

Progress::~Progress() {
    clear_progress_line();
}

void Progress::hide() {
    enabled_ = false;
    line_visible = false;
}

void Progress::start_file(std::size_t number) {
    file_ = number;
}

void Progress::add(std::uint64_t bytes) {
    bytes_ += bytes;
    if (!enabled_) return;
    const std::int64_t now = now_ns();
    if (now < next_show_ns_) return;
    next_show_ns_ = now + kRefreshNs;
    const double seconds = double(now - start_ns_) / 1e9;
    std::fprintf(stderr, "\rtsconv: %.1f MB done, %.1f MB/s, file %zu of %zu\033[K",
                 double(bytes_) / 1e6, double(bytes_) / 1e6 / seconds, file_, files_);
    std::fflush(stderr);
    line_visible = true;
}

}  // namespace toneshift::tsconv
