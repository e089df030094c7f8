#include "tsconv/workers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tsconv/messages.h"
#include "tsconv/output_file.h"
#include "tsconv/run.h"

namespace toneshift::tsconv {

namespace {

// What a worker says of a task on its result pipe: a header, then `out_size` bytes of
// standard output and `err_size` of standard error. A task is announced when it is taken
// (kTaken, no text), so that one whose worker dies can be named.
struct Record {
    enum Kind : std::uint32_t { kTaken, kDone };
    std::uint64_t task = 0;
    std::uint32_t kind = kTaken;
    std::int32_t status = kExitDone;
    std::uint64_t bytes = 0;  // of input read, for the progress line
    std::uint32_t out_size = 0;
    std::uint32_t err_size = 0;
};

bool write_all(int fd, const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size != 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// Reads exactly `size` bytes; false at the end of the input or on an error.
bool read_all(int fd, void* data, std::size_t size) {
    char* p = static_cast<char*>(data);
    while (size != 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// What an unnamed file holds, which is then emptied for the next task; false where it
// cannot be emptied (the worker then takes no more tasks).
bool take_contents(int fd, std::string& text) {
    text.clear();
    struct stat s {};
    if (::fstat(fd, &s) == 0 && s.st_size > 0) {
        text.resize(std::size_t(s.st_size));
        const ssize_t n = ::pread(fd, text.data(), text.size(), 0);
        text.resize(n < 0 ? 0 : std::size_t(n));
    }
    return ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0;
}

// A worker: takes task numbers from `queue` until it ends, runs each with its standard
// output and error in unnamed files, and reports on `results`. Never returns.
[[noreturn]] void work(int queue, int results, Progress& progress,
                       const std::function<int(std::size_t)>& task) {
    progress.hide();
    const int out = ::memfd_create("tsconv-out", MFD_CLOEXEC);
    const int err = ::memfd_create("tsconv-err", MFD_CLOEXEC);
    if (out < 0 || err < 0 || ::dup2(out, STDOUT_FILENO) < 0 || ::dup2(err, STDERR_FILENO) < 0)
        ::_exit(kExitTrouble);
    std::uint64_t number = 0;
    while (read_all(queue, &number, sizeof number)) {
        Record r;
        r.task = number;
        if (!write_all(results, &r, sizeof r)) break;
        const std::uint64_t before = progress.bytes();
        r.status = task(std::size_t(number));
        if (std::fflush(stdout) != 0 && r.status != kExitTrouble) r.status = kExitTrouble;
        std::fflush(stderr);
        std::string o, e;
        const bool out_emptied = take_contents(out, o);
        const bool reusable = take_contents(err, e) && out_emptied;
        r.kind = Record::kDone;
        r.bytes = progress.bytes() - before;
        r.out_size = std::uint32_t(o.size());
        r.err_size = std::uint32_t(e.size());
        if (!write_all(results, &r, sizeof r) || !write_all(results, o.data(), o.size()) ||
            !write_all(results, e.data(), e.size()) || !reusable)
            break;
    }
    ::_exit(kExitDone);
}

struct Worker {
    pid_t pid = -1;
    int results = -1;         // read end of its result pipe; -1 once it ended
    std::string pending;      // bytes read and not yet parsed
    std::int64_t taken = -1;  // the task it announced and has not finished
};

struct Outcome {
    bool done = false;
    int status = kExitDone;
    std::string out, err;
};

}  // namespace

int run_tasks(std::size_t count, unsigned jobs, Progress& progress,
              const std::function<int(std::size_t)>& task) {
    int worst = kExitDone;
    auto add = [&worst](int status) {
        if (status == kExitTrouble || (status == kExitRefused && worst == kExitDone))
            worst = status;
    };
    const std::size_t workers_wanted = std::min<std::size_t>({jobs, count, kMaxWorkers});
    if (workers_wanted <= 1) {
        for (std::size_t i = 0; i < count; ++i) {
            progress.start_file(i + 1);
            add(task(i));
        }
        if (std::fflush(stdout) != 0) {
            say("cannot write (standard output)");
            add(kExitTrouble);
        }
        return worst;
    }

    std::fflush(stdout);
    std::fflush(stderr);
    int queue[2];
    if (::pipe2(queue, O_CLOEXEC) != 0) {
        say("cannot start workers: " + std::string(std::strerror(errno)) + "; one file at a time");
        return run_tasks(count, 1, progress, task);
    }
    std::vector<Worker> workers;
    for (std::size_t w = 0; w < workers_wanted; ++w) {
        int results[2];
        if (::pipe2(results, O_CLOEXEC) != 0) break;
        const pid_t pid = fork_worker();
        if (pid == 0) {
            ::close(queue[1]);
            ::close(results[0]);
            for (const Worker& other : workers) ::close(other.results);
            work(queue[0], results[1], progress, task);
        }
        ::close(results[1]);
        if (pid < 0) {
            ::close(results[0]);
            break;
        }
        workers.push_back({pid, results[0], {}, -1});
    }
    ::close(queue[0]);
    if (workers.empty()) {
        ::close(queue[1]);
        say("cannot start workers: " + std::string(std::strerror(errno)) + "; one file at a time");
        return run_tasks(count, 1, progress, task);
    }

    // The queue is fed as the workers take from it, so that a long list never blocks this
    // process while workers wait for it to read their results.
    ::fcntl(queue[1], F_SETFL, ::fcntl(queue[1], F_GETFL) | O_NONBLOCK);
    std::vector<Outcome> outcomes(count);
    std::size_t queued = 0, passed = 0;
    std::size_t live = workers.size();
    int queue_fd = queue[1];
    while (live != 0) {
        while (queue_fd >= 0 && queued < count) {
            const std::uint64_t number = queued;
            const ssize_t n = ::write(queue_fd, &number, sizeof number);
            if (n == ssize_t(sizeof number)) {
                ++queued;
            } else {
                break;  // full (a pipe takes eight bytes whole or not at all)
            }
        }
        if (queue_fd >= 0 && queued == count) {
            ::close(queue_fd);  // the workers end when they find the queue empty and closed
            queue_fd = -1;
        }
        std::vector<pollfd> polled;
        for (const Worker& w : workers) polled.push_back({w.results, POLLIN, 0});  // -1: none
        if (queue_fd >= 0) polled.push_back({queue_fd, POLLOUT, 0});
        if (::poll(polled.data(), polled.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (std::size_t k = 0; k < workers.size(); ++k) {
            Worker& w = workers[k];
            if (w.results < 0 || polled[k].revents == 0) continue;
            char buffer[1 << 15];
            const ssize_t n = ::read(w.results, buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n > 0) {
                w.pending.append(buffer, std::size_t(n));
                for (;;) {
                    Record r;
                    if (w.pending.size() < sizeof r) break;
                    std::memcpy(&r, w.pending.data(), sizeof r);
                    const std::size_t whole = sizeof r + r.out_size + r.err_size;
                    if (w.pending.size() < whole || r.task >= count) break;
                    if (r.kind == Record::kTaken) {
                        w.taken = std::int64_t(r.task);
                    } else {
                        Outcome& o = outcomes[r.task];
                        o.done = true;
                        o.status = r.status;
                        o.out = w.pending.substr(sizeof r, r.out_size);
                        o.err = w.pending.substr(sizeof r + r.out_size, r.err_size);
                        w.taken = -1;
                        progress.add(r.bytes);
                    }
                    w.pending.erase(0, whole);
                }
                continue;
            }
            // The worker has ended.
            ::close(w.results);
            w.results = -1;
            --live;
            int wstatus = 0;
            while (::waitpid(w.pid, &wstatus, 0) < 0 && errno == EINTR) {
            }
            forget_worker(w.pid);
            if (w.taken >= 0) {
                Outcome& o = outcomes[std::size_t(w.taken)];
                o.done = true;
                o.status = kExitTrouble;
                o.err = std::string(kProgramName) + ": a worker ended " +
                        (WIFSIGNALED(wstatus) ? "by signal " + std::to_string(WTERMSIG(wstatus))
                                              : std::string("early")) +
                        " while on this input; it was not finished\n";
            }
        }
        // What is finished, in task order.
        while (passed < count && outcomes[passed].done) {
            Outcome& o = outcomes[passed];
            clear_progress_line();
            if (!write_all(STDOUT_FILENO, o.out.data(), o.out.size())) add(kExitTrouble);
            write_all(STDERR_FILENO, o.err.data(), o.err.size());
            add(o.status);
            o = Outcome{true, o.status, {}, {}};
            ++passed;
            progress.start_file(passed);
        }
    }
    if (queue_fd >= 0) ::close(queue_fd);
    // Tasks no worker took (the workers could not go on) run here.
    for (std::size_t i = passed; i < count; ++i) {
        if (outcomes[i].done) {
            write_all(STDOUT_FILENO, outcomes[i].out.data(), outcomes[i].out.size());
            write_all(STDERR_FILENO, outcomes[i].err.data(), outcomes[i].err.size());
            add(outcomes[i].status);
        } else {
            progress.start_file(i + 1);
            add(task(i));
        }
    }
    if (std::fflush(stdout) != 0) {
        say("cannot write (standard output)");
        add(kExitTrouble);
    }
    return worst;
}

}  // namespace toneshift::tsconv
