#include "tsconv/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tsconv/messages.h"

namespace toneshift::tsconv {

namespace {

// The pending temporary files that a signal handler must remove: a fixed table, so that
// the handler reads it without allocating or locking. A slot's path is written before it is
// marked in use, and both change only with the handled signals blocked.
constexpr int kTempSlots = 16;
char temp_paths[kTempSlots][PATH_MAX];
volatile sig_atomic_t temp_in_use[kTempSlots];

// The registered workers' process ids, 0 for a free slot; changed only with the handled
// signals blocked.
static_assert(sizeof(pid_t) <= sizeof(sig_atomic_t));
volatile sig_atomic_t worker_pids[kMaxWorkers];

// The signals that have the handler below, and whether they have been set up.
sigset_t handled_signals;
bool handling_prepared = false;

bool standard_was_closed[3];

extern "C" void clean_up_and_end(int signal_number) {
    for (int i = 0; i < kTempSlots; ++i)
        if (temp_in_use[i] != 0) ::unlink(temp_paths[i]);
    for (int i = 0; i < kMaxWorkers; ++i)
        if (worker_pids[i] > 0) ::kill(pid_t(worker_pids[i]), signal_number);
    for (int i = 0; i < kMaxWorkers; ++i) {
        if (worker_pids[i] <= 0) continue;
        while (::waitpid(pid_t(worker_pids[i]), nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    // End the way the signal would have ended the process, so that whoever waits for it
    // sees that signal.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    ::sigemptyset(&default_action.sa_mask);
    ::sigaction(signal_number, &default_action, nullptr);
    sigset_t this_one;
    ::sigemptyset(&this_one);
    ::sigaddset(&this_one, signal_number);
    ::sigprocmask(SIG_UNBLOCK, &this_one, nullptr);
    ::raise(signal_number);
    ::_exit(128 + signal_number);
}

// Every signal whose default action ends the process and that a handler can catch, but
// SIGXFSZ (ignored, see prepare_output_handling()).
void add_ending_signals(sigset_t& set) {
    ::sigemptyset(&set);
    for (const int s : {SIGHUP,    SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT, SIGBUS,
                        SIGFPE,    SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM,
                        SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,  SIGSYS})
        ::sigaddset(&set, s);
    for (int s = SIGRTMIN; s <= SIGRTMAX; ++s) ::sigaddset(&set, s);
}

// Blocks the handled signals for its lifetime, so that the tables above and the files and
// processes they name always agree when a handler runs.
class SignalsBlocked {
  public:
    SignalsBlocked() { ::sigprocmask(SIG_BLOCK, &handled_signals, &old_); }
    ~SignalsBlocked() {
        const int saved = errno;
        ::sigprocmask(SIG_SETMASK, &old_, nullptr);
        errno = saved;
    }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
    sigset_t old_;
};

bool add_worker(pid_t pid) {
    for (volatile sig_atomic_t& slot : worker_pids) {
        if (slot == 0) {
            slot = pid;
            return true;
        }
    }
    return false;
}

bool worker_table_full() {
    for (const volatile sig_atomic_t& slot : worker_pids)
        if (slot == 0) return false;
    return true;
}

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string base_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The descriptor number that `name` spells in decimal, or -1.
int descriptor_number(const std::string& name) {
    if (name.empty() || name.size() > 9) return -1;
    int number = 0;
    for (const char c : name) {
        if (c < '0' || c > '9') return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

// Whether `folder` is this process's (or this thread's) folder of open descriptors in /proc.
bool is_own_descriptor_folder(const std::string& folder) {
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) == nullptr) return false;
    const std::string process = "/proc/" + std::to_string(::getpid());
    return resolved == process + "/fd" ||
           resolved == process + "/task/" + std::to_string(::gettid()) + "/fd";
}

// Whether this process reads the file `file` (which descriptor `fd` is open on) through
// another descriptor, open for reading only: an input, such as the one -i converts.
bool read_elsewhere(int fd, const struct stat& file) {
    auto reads_it = [&](int other) {
        struct stat s {};
        return other != fd && (::fcntl(other, F_GETFL) & O_ACCMODE) == O_RDONLY &&
               ::fstat(other, &s) == 0 && s.st_dev == file.st_dev && s.st_ino == file.st_ino;
    };
    if (DIR* folder = ::opendir("/proc/self/fd")) {
        bool found = false;
        while (const dirent* entry = ::readdir(folder)) {
            const int other = descriptor_number(entry->d_name);
            if (other >= 0 && other != ::dirfd(folder) && reads_it(other)) found = true;
        }
        ::closedir(folder);
        return found;
    }
    for (int other = 0; other < 1024; ++other)
        if (reads_it(other)) return true;
    return false;
}

// Flushes a folder's entries, so that a rename in it survives a crash. Some file systems
// cannot: that is no failure of the conversion.
void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Six letters or digits for the name of a temporary file, different on each call.
std::string random_suffix() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned long long state = 0;
    unsigned long long bits = 0;
    if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != ssize_t(sizeof bits)) {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        state += 0x9E3779B97F4A7C15ull ^ (unsigned long long)(now.tv_nsec) ^
                 ((unsigned long long)(::getpid()) << 32);
        bits = state * 0xBF58476D1CE4E5B9ull;
        bits ^= bits >> 31;
    }
    std::string suffix(6, 'X');
    for (char& c : suffix) {
        c = kLetters[bits % 62];
        bits /= 62;
    }
    return suffix;
}

// Waits until `fd` takes more bytes. False (errno set) when it cannot be waited for.
bool wait_until_writable(int fd) {
    pollfd p{fd, POLLOUT, 0};
    for (;;) {
        const int r = ::poll(&p, 1, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if ((p.revents & POLLNVAL) != 0) {
            errno = EBADF;
            return false;
        }
        return true;  // writable, or an error that the next write() reports
    }
}

}  // namespace

bool secure_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        standard_was_closed[fd] = true;
        const int opened = ::open("/dev/null", (fd == STDIN_FILENO ? O_WRONLY : O_RDONLY));
        if (opened < 0) return false;
        // The lower descriptors are open, so this one is the lowest free.
        if (opened != fd) {
            const int error = ::dup2(opened, fd) == fd ? 0 : errno;
            ::close(opened);
            if (error != 0) {
                errno = error;
                return false;
            }
        }
    }
    return true;
}

bool standard_descriptor_was_closed(int fd) {
    return fd >= 0 && fd <= 2 && standard_was_closed[fd];
}

void prepare_output_handling() {
    if (handling_prepared) return;
    handling_prepared = true;
    sigset_t ending;
    add_ending_signals(ending);
    ::sigemptyset(&handled_signals);
    for (int s = 1; s < NSIG; ++s) {
        if (::sigismember(&ending, s) != 1) continue;
        struct sigaction old {};
        // A signal ignored by whoever started the program stays ignored.
        if (::sigaction(s, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
        ::sigaddset(&handled_signals, s);
    }
    struct sigaction action {};
    action.sa_handler = clean_up_and_end;
    action.sa_mask = handled_signals;  // no second handler while the first cleans up
    for (int s = 1; s < NSIG; ++s)
        if (::sigismember(&handled_signals, s) == 1) ::sigaction(s, &action, nullptr);
    // Past the file size limit, write() then fails with EFBIG, handled as a full disk.
    ::signal(SIGXFSZ, SIG_IGN);
}

bool register_worker(pid_t pid) {
    if (pid <= 0) return false;
    SignalsBlocked blocked;
    return add_worker(pid);
}

void forget_worker(pid_t pid) {
    SignalsBlocked blocked;
    for (volatile sig_atomic_t& slot : worker_pids)
        if (slot == pid) slot = 0;
}

void start_of_worker() {
    SignalsBlocked blocked;
    for (volatile sig_atomic_t& slot : worker_pids) slot = 0;
    for (volatile sig_atomic_t& used : temp_in_use) used = 0;
}

pid_t fork_worker() {
    SignalsBlocked blocked;
    if (worker_table_full()) {
        errno = EAGAIN;
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (volatile sig_atomic_t& slot : worker_pids) slot = 0;
        for (volatile sig_atomic_t& used : temp_in_use) used = 0;
    } else if (pid > 0) {
        add_worker(pid);
    }
    return pid;
}

int descriptor_named_by(const std::string& path) {
    std::string current = path;
    // As many links as the kernel follows in one path.
    for (int hop = 0; hop <= 40; ++hop) {
        if (current == "/dev/stdin") return STDIN_FILENO;
        if (current == "/dev/stdout") return STDOUT_FILENO;
        if (current == "/dev/stderr") return STDERR_FILENO;
        const std::string folder = folder_of(current);
        const int number = descriptor_number(base_of(current));
        if (number >= 0 && (folder == "/dev/fd" || is_own_descriptor_folder(folder))) return number;
        struct stat s {};
        if (::lstat(current.c_str(), &s) != 0 || !S_ISLNK(s.st_mode)) return -1;
        char target[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), target, sizeof target);
        if (n <= 0 || std::size_t(n) >= sizeof target) return -1;
        std::string next(target, std::size_t(n));
        current = next.front() == '/' ? next : folder + "/" + next;
    }
    return -1;
}

OutputFile::~OutputFile() {
    abandon();
}

void OutputFile::open_none() {
    abandon();
    kind_ = Kind::kNone;
}

void OutputFile::open_standard_output() {
    abandon();
    kind_ = Kind::kStandardOutput;
    fd_ = STDOUT_FILENO;
}

bool OutputFile::refuse(int error) {
    why_not_ = std::strerror(error);
    errno = error;
    return false;
}

bool OutputFile::open(const std::string& path) {
    return open_path(path, true);
}

bool OutputFile::open_in_place(const std::string& path) {
    return open_path(path, false);
}

bool OutputFile::open_path(const std::string& path, bool through_descriptor) {
    abandon();
    why_not_.clear();

    // A descriptor that is open already (standard output given as /dev/stdout, say) is
    // written where it stands: replacing the file it is open on would lose what it holds.
    // But a regular file that is read as an input too (-i /dev/stdin <> file) is replaced
    // like any other: written through the descriptor, the conversion would overwrite what is
    // still to be read.
    const int named = through_descriptor ? descriptor_named_by(path) : -1;
    struct stat named_file {};
    if (named >= 0 && ::fstat(named, &named_file) == 0 && S_ISREG(named_file.st_mode) &&
        read_elsewhere(named, named_file)) {
        return open_path(path, false);
    }
    if (named >= 0) {
        // A standard descriptor that was closed at the start stands on /dev/null only so that
        // no file takes its place: writing through it would lose the output.
        if (named <= STDERR_FILENO && standard_descriptor_was_closed(named)) return refuse(EBADF);
        const int flags = ::fcntl(named, F_GETFL);
        if (flags < 0) return refuse(errno);
        if ((flags & O_ACCMODE) == O_RDONLY) return refuse(EBADF);
        const int fd = ::fcntl(named, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) return refuse(errno);
        kind_ = Kind::kDirect;
        fd_ = fd;
        return true;
    }

    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (!exists) {
        const int error = errno;
        struct stat link {};
        if (::lstat(path.c_str(), &link) == 0) {
            // A symbolic link that leads nowhere: replacing it would lose the link, and
            // creating what it names is a guess.
            if (error != ENOENT) return refuse(error);
            char target[PATH_MAX];
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
            why_not_ = "it is a dangling symbolic link";
            if (n > 0) why_not_ += " to " + quote_name(std::string_view(target, std::size_t(n)));
            errno = ENOENT;
            return false;
        }
    }
    if (exists && S_ISDIR(existing.st_mode)) return refuse(EISDIR);
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return refuse(errno);
        kind_ = Kind::kDirect;
        fd_ = fd;
        return true;
    }

    // Replace the file itself, not a symbolic link that names it.
    target_ = path;
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) == nullptr) return refuse(errno);
        target_ = resolved;
    }
    // No name in /dev itself (/dev/stdin, /dev/null, ...) or in /proc is a file to replace:
    // one that reached this point (a descriptor's name that led nowhere usable) must not
    // become a regular file. (/dev/shm, a file system for files, is not /dev itself.)
    const std::string folder = folder_of(target_);
    if (folder == "/dev" || folder == "/proc" || folder.starts_with("/proc/")) {
        why_not_ = "tsconv replaces no file in /dev or /proc";
        errno = EPERM;
        return false;
    }
    const std::string prefix = folder_of(target_) + "/.tsconv-";
    if (prefix.size() + 6 >= PATH_MAX) return refuse(ENAMETOOLONG);
    // A new file is created with its final permission bits, less the umask (or as a default
    // ACL of the folder says). The replacement of an existing file starts private and gets
    // the original's bits before anything is written into it.
    const mode_t create_mode = exists ? 0600 : 0666;
    int fd = -1;
    {
        SignalsBlocked blocked;
        int slot = 0;
        while (slot < kTempSlots && temp_in_use[slot] != 0) ++slot;
        if (slot == kTempSlots) return refuse(EMFILE);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = prefix + random_suffix();
            fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC,
                        create_mode);
            if (fd >= 0) {
                std::memcpy(temp_paths[slot], name.c_str(), name.size() + 1);
                temp_in_use[slot] = 1;
                slot_ = slot;
                temp_ = std::move(name);
                break;
            }
            if (errno != EEXIST) break;
        }
        if (fd < 0) return refuse(errno);
    }
    kind_ = Kind::kReplacing;
    fd_ = fd;

    if (exists) {
        // The owner first: changing it may clear the set-user-ID and set-group-ID bits.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            if (::fchown(fd, existing.st_uid, existing.st_gid) != 0)
                (void)::fchown(fd, uid_t(-1), existing.st_gid);
        }
        const mode_t wanted = existing.st_mode & 07777;
        if (::fchmod(fd, wanted) != 0) {
            // Where the file system fixes every file's bits (a FAT mount, say), the
            // replacement already has the original's: nothing is lost then.
            const int error = errno;
            struct stat made {};
            if (::fstat(fd, &made) != 0 || (made.st_mode & 07777) != wanted) {
                abandon();
                return refuse(error);
            }
        }
    }
    return true;
}

bool OutputFile::write(const unsigned char* data, std::size_t size) {
    if (kind_ == Kind::kNone) return true;
    while (size != 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            // A non-blocking descriptor that is full (a pipe whose reader lags) is waited for.
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_until_writable(fd_)) continue;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool OutputFile::commit() {
    switch (kind_) {
        case Kind::kNone:
        case Kind::kStandardOutput:
            return true;
        case Kind::kDirect: {
            const int fd = fd_;
            fd_ = -1;
            kind_ = Kind::kNone;
            return ::close(fd) == 0;
        }
        case Kind::kReplacing:
            break;
    }
    if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
        const int error = errno;
        fd_ = -1;
        abandon();
        errno = error;
        return false;
    }
    fd_ = -1;
    {
        SignalsBlocked blocked;
        const int renamed = ::rename(temp_.c_str(), target_.c_str());
        const int error = errno;
        if (renamed != 0) ::unlink(temp_.c_str());
        temp_in_use[slot_] = 0;
        slot_ = -1;
        kind_ = Kind::kNone;
        if (renamed != 0) {
            errno = error;
            return false;
        }
    }
    sync_folder(folder_of(target_));
    return true;
}

void OutputFile::abandon() {
    const int saved = errno;
    if (kind_ == Kind::kReplacing) {
        if (fd_ >= 0) ::close(fd_);
        SignalsBlocked blocked;
        ::unlink(temp_.c_str());
        temp_in_use[slot_] = 0;
        slot_ = -1;
    } else if (kind_ == Kind::kDirect && fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    kind_ = Kind::kNone;
    errno = saved;
}

}  // namespace toneshift::tsconv
