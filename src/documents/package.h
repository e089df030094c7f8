// A zip package (Office Open XML, OpenDocument) read from memory and written again with some
// of its entries replaced. Entries that are not replaced are copied as they were stored,
// their compressed data not inflated and deflated again. Everything happens in memory: the
// caller writes the result through its own output file, so that no temporary file of the zip
// library's escapes the caller's clean-up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <vector>

struct zip;
struct zip_source;

namespace toneshift::documents {

class Package {
  public:
    Package() = default;
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    // Opens the package held by `data`, which must outlive this object. False with `error`
    // set when it is no zip archive libzip can read.
    bool open(std::string_view data, std::string& error);

    const std::vector<std::string>& names() const { return names_; }
    bool has(std::string_view name) const;

    // The inflated bytes of entry `name`, at most `limit` of them: a larger one (or one that
    // cannot be inflated) is refused with `error` set. The default bounds what a zip bomb
    // can make the reader hold; a real document's largest part is far smaller.
    bool read(std::string_view name, std::string& out, std::string& error,
              std::uint64_t limit = std::uint64_t(256) << 20);

    // Replaces entry `name` (deflated, keeping its modification time) at write().
    bool replace(std::string_view name, std::string data, std::string& error);
    std::size_t replaced() const { return replaced_.size(); }

    // The whole package with the replacements made, into `out`. With none, the original bytes.
    bool write(std::string& out, std::string& error);

  private:
    std::string_view data_;
    zip_source* source_ = nullptr;
    zip* archive_ = nullptr;
    std::vector<std::string> names_;
    std::list<std::string> replaced_;  // the data of the replacements, until write()
};

// Whether `data` begins as a zip archive does (a local file header, or an empty archive's
// end of central directory).
bool looks_like_zip(std::string_view data);

}  // namespace toneshift::documents
