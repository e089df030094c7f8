// Where tsconv writes: standard output, a file that exists and is no regular file (a
// terminal, a pipe, /dev/full) written directly, or a regular file that is written to a
// temporary file beside it and renamed into place only once the whole conversion is on disk.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace toneshift::tsconv {

// Sets the handlers that remove a pending temporary file when SIGINT, SIGTERM or SIGHUP
// ends the program, and makes a write past the file size limit an error rather than a
// signal. Also reads the umask, for new files. Call once, first.
void prepare_output_handling();

class OutputFile {
  public:
    enum class Kind {
        kNone,            // nothing is written (--check)
        kStandardOutput,  // written directly to file descriptor 1
        kDirect,          // an existing file that is no regular file, opened and written
        kReplacing,       // a regular file (new or existing) written through a temporary file
    };

    OutputFile() = default;
    ~OutputFile();  // abandons whatever was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void open_none();
    void open_standard_output();
    // Opens `path` for writing. An existing regular file (or the one a symbolic link names)
    // is replaced at commit(), keeping its permission bits and, where the process may set
    // them, its owner and group; a new one gets 0666 less the umask. Returns false and sets
    // errno when it cannot be created.
    bool open(const std::string& path);

    // Writes all of `data`; false (errno set) when writing failed.
    bool write(const unsigned char* data, std::size_t size);
    // Makes the output final: flushes a temporary file to disk and renames it into place.
    // False (errno set) on failure, and then nothing is left of the temporary file.
    bool commit();
    // Removes the temporary file, if any; the original (if any) stays as it was.
    void abandon();

    Kind kind() const { return kind_; }

  private:
    Kind kind_ = Kind::kNone;
    int fd_ = -1;
    std::string target_;  // kReplacing: the file that commit() replaces or creates
    std::string temp_;    // kReplacing: the temporary file beside it
};

}  // namespace toneshift::tsconv
