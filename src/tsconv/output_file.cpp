#include "tsconv/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace toneshift::tsconv {

namespace {

// The temporary file that a signal handler must remove, as a C string, and whether there
// is one. Changed only with the signals below blocked.
char pending_temp[PATH_MAX];
volatile sig_atomic_t temp_pending = 0;

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

mode_t process_umask = 022;

extern "C" void remove_pending_temp_and_die(int signal_number) {
    if (temp_pending != 0) ::unlink(pending_temp);
    // End the way the signal would have ended the program, so that the caller sees it.
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Blocks the cleanup signals for its lifetime, so that the record of the pending temporary
// file and the file itself always agree when a handler runs.
class SignalsBlocked {
  public:
    SignalsBlocked() {
        sigset_t set;
        ::sigemptyset(&set);
        for (int s : kCleanupSignals) ::sigaddset(&set, s);
        ::sigprocmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

  private:
    sigset_t old_;
};

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Flushes a folder's entries, so that a rename in it survives a crash. Some file systems
// cannot: that is no failure of the conversion.
void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

void prepare_output_handling() {
    process_umask = ::umask(0);
    ::umask(process_umask);
    struct sigaction action {};
    action.sa_handler = remove_pending_temp_and_die;
    ::sigemptyset(&action.sa_mask);
    for (int s : kCleanupSignals) ::sigaddset(&action.sa_mask, s);
    for (int s : kCleanupSignals) {
        struct sigaction old {};
        // A signal ignored by whoever started the program stays ignored.
        if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(s, &action, nullptr);
    }
    // Past the file size limit, write() then fails with EFBIG, handled as a full disk.
    ::signal(SIGXFSZ, SIG_IGN);
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

bool OutputFile::open(const std::string& path) {
    abandon();
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        errno = EISDIR;
        return false;
    }
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return false;
        kind_ = Kind::kDirect;
        fd_ = fd;
        return true;
    }

    // Replace the file itself, not a symbolic link that names it.
    target_ = path;
    if (exists) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) target_ = resolved;
    }
    std::string name = folder_of(target_) + "/.tsconv-XXXXXX";
    if (name.size() >= sizeof pending_temp) {
        errno = ENAMETOOLONG;
        return false;
    }
    int fd;
    {
        SignalsBlocked blocked;
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return false;
        std::memcpy(pending_temp, name.c_str(), name.size() + 1);
        temp_pending = 1;
    }
    kind_ = Kind::kReplacing;
    fd_ = fd;
    temp_ = name;

    if (exists) {
        // The owner first: changing it may clear the set-user-ID and set-group-ID bits.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            if (::fchown(fd, existing.st_uid, existing.st_gid) != 0)
                (void)::fchown(fd, uid_t(-1), existing.st_gid);
        }
        (void)::fchmod(fd, existing.st_mode & 07777);
    } else {
        (void)::fchmod(fd, 0666 & ~process_umask);
    }
    return true;
}

bool OutputFile::write(const unsigned char* data, std::size_t size) {
    if (kind_ == Kind::kNone) return true;
    while (size != 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
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
        if (::rename(temp_.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            ::unlink(temp_.c_str());
            temp_pending = 0;
            kind_ = Kind::kNone;
            errno = error;
            return false;
        }
        temp_pending = 0;
    }
    kind_ = Kind::kNone;
    sync_folder(folder_of(target_));
    return true;
}

void OutputFile::abandon() {
    const int saved = errno;
    if (kind_ == Kind::kReplacing) {
        if (fd_ >= 0) ::close(fd_);
        SignalsBlocked blocked;
        ::unlink(temp_.c_str());
        temp_pending = 0;
    } else if (kind_ == Kind::kDirect && fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    kind_ = Kind::kNone;
    errno = saved;
}

}  // namespace toneshift::tsconv
