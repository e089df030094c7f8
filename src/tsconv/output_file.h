// Where tsconv writes: standard output, a file that exists and is no regular file (a
// terminal, a pipe, /dev/full) or a descriptor that is already open, written directly, or a
// regular file that is written to a temporary file beside it and renamed into place only once
// the whole conversion is on disk. Also what keeps those temporary files from outliving the
// process: the standard descriptors and the signal handlers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace toneshift::tsconv {

// Makes sure that descriptors 0, 1 and 2 are open, so that no file tsconv opens takes the
// place of a standard stream (a temporary file read as standard input, messages written into
// an output). One found closed is opened on /dev/null in the mode contrary to its use
// (0 write-only, 1 and 2 read-only): reading standard input or writing standard output or
// error then still fails with EBADF, as with the descriptor closed. Call first in main();
// false (errno set) when /dev/null cannot be opened.
bool secure_standard_descriptors();
// Whether descriptor `fd` (0, 1 or 2) was closed when secure_standard_descriptors() ran.
bool standard_descriptor_was_closed(int fd);
inline bool standard_input_was_closed() {
    return standard_descriptor_was_closed(0);
}

// Sets the handlers that, when a signal would end the process, remove every pending
// temporary file, pass the signal on to every registered worker and wait for it, and then
// end the process by that same signal. A signal ignored by whoever started the process stays
// ignored. Also makes a write past the file size limit an error (EFBIG) rather than a signal.
// Call before any output is opened; calling it again does nothing.
void prepare_output_handling();

// Workers: processes started by this one, each writing its own outputs. A signal that ends
// this process is first passed on to every registered worker, which are waited for, so that
// each removes its own temporary files. At most kMaxWorkers at a time: register_worker() is
// false when the table is full. Call forget_worker() as soon as the worker has been waited
// for, so that its process id, which may then be reused, is no longer signalled.
inline constexpr int kMaxWorkers = 64;
bool register_worker(pid_t pid);
void forget_worker(pid_t pid);
// In a worker, right after fork(): forgets the parent's workers and the parent's temporary
// files (the parent removes those itself), so that the worker's handlers deal only with
// what the worker starts.
void start_of_worker();
// fork() with the signals blocked across it: in the parent the child is registered as a
// worker before any signal can arrive, in the child start_of_worker() has run. Returns what
// fork() returns; -1 with errno EAGAIN also when kMaxWorkers are registered already.
pid_t fork_worker();

// The descriptor of this process that `path` names, through any symbolic links:
// /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N, /proc/thread-self/fd/N
// and /proc/PID/fd/N of this process. -1 when it names none (also when it names a
// descriptor number that is not open: open() then fails with EBADF).
int descriptor_named_by(const std::string& path);

class OutputFile {
  public:
    enum class Kind {
        kNone,            // nothing is written (--check)
        kStandardOutput,  // written directly to file descriptor 1
        kDirect,          // an existing file that is no regular file, or an open descriptor
        kReplacing,       // a regular file (new or existing) written through a temporary file
    };

    OutputFile() = default;
    ~OutputFile();  // abandons whatever was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void open_none();
    void open_standard_output();
    // Opens `path` for writing. A name of an open descriptor (descriptor_named_by()) is
    // written through a duplicate of it, at its offset and with its flags (appending where it
    // appends), and never replaced; but one open on a regular file that this process also
    // reads through a read-only descriptor (an input) is opened as open_in_place() does. An
    // existing regular file (or the one a symbolic link names) is replaced at commit(),
    // keeping its permission bits and, where the process may set them, its owner and group; a
    // new one gets 0666 less the umask. A symbolic link that cannot be followed (dangling:
    // errno ENOENT; a loop: ELOOP) is refused, never replaced. Returns false, errno set and
    // why_not() saying why, when it cannot be written.
    bool open(const std::string& path);
    // As open(), for -i: `path` is an input, being read through another descriptor. A name
    // of an open descriptor (-i /dev/stdin) stands for the file it is open on, which is
    // replaced like any other: written through the descriptor, the conversion would overwrite
    // what is still to be read.
    bool open_in_place(const std::string& path);
    // After open() failed: why, as it follows "cannot write NAME: ", e.g. "Permission
    // denied" or "it is a dangling symbolic link to missing/file".
    const std::string& why_not() const { return why_not_; }

    // Writes all of `data`, waiting (poll) while a non-blocking descriptor is full; false
    // (errno set) when writing failed.
    bool write(const unsigned char* data, std::size_t size);
    // Makes the output final: flushes a temporary file to disk and renames it into place.
    // False (errno set) on failure, and then nothing is left of the temporary file.
    bool commit();
    // Removes the temporary file, if any; the original (if any) stays as it was.
    void abandon();

    Kind kind() const { return kind_; }

  private:
    bool open_path(const std::string& path, bool through_descriptor);
    bool refuse(int error);  // sets why_not_ and errno; false

    Kind kind_ = Kind::kNone;
    int fd_ = -1;
    int slot_ = -1;       // kReplacing: where the signal handlers find the temporary file
    std::string target_;  // kReplacing: the file that commit() replaces or creates
    std::string temp_;    // kReplacing: the temporary file beside it
    std::string why_not_;
};

}  // namespace toneshift::tsconv
