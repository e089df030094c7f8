#include "documents/package.h"

#include <zip.h>

#include <cstdlib>
#include <cstring>

namespace toneshift::documents {

namespace {

std::string zip_error_text(zip_error_t* e) {
    return zip_error_strerror(e);
}

}  // namespace

bool looks_like_zip(std::string_view data) {
    return data.size() >= 4 && data[0] == 'P' && data[1] == 'K' &&
           ((data[2] == '\x03' && data[3] == '\x04') || (data[2] == '\x05' && data[3] == '\x06'));
}

Package::~Package() {
    if (archive_ != nullptr) zip_discard(archive_);
    if (source_ != nullptr) zip_source_free(source_);
}

bool Package::open(std::string_view data, std::string& error) {
    data_ = data;
    zip_error_t e;
    zip_error_init(&e);
    // libzip gets a copy of its own to free: writing an archive whose first changed entry is
    // not its first, it splits the buffer it read from and frees pieces of it, even of a
    // buffer it was told not to free (libzip 1.7).
    void* copy = std::malloc(data.empty() ? 1 : data.size());
    if (copy == nullptr) {
        error = "out of memory";
        return false;
    }
    if (!data.empty()) std::memcpy(copy, data.data(), data.size());
    source_ = zip_source_buffer_create(copy, data.size(), 1, &e);
    if (source_ == nullptr) {
        std::free(copy);
        error = zip_error_text(&e);
        zip_error_fini(&e);
        return false;
    }
    archive_ = zip_open_from_source(source_, 0, &e);
    if (archive_ == nullptr) {
        error = zip_error_text(&e);
        zip_error_fini(&e);
        return false;  // the source is still only ours
    }
    // Kept past zip_close(), which writes the new archive into it: the archive holds one
    // reference, this object the other.
    zip_source_keep(source_);
    zip_error_fini(&e);
    const zip_int64_t n = zip_get_num_entries(archive_, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        const char* name = zip_get_name(archive_, zip_uint64_t(i), ZIP_FL_ENC_RAW);
        names_.emplace_back(name != nullptr ? name : "");
    }
    return true;
}

bool Package::has(std::string_view name) const {
    for (const std::string& n : names_)
        if (n == name) return true;
    return false;
}

bool Package::read(std::string_view name, std::string& out, std::string& error,
                   std::uint64_t limit) {
    const std::string key(name);
    const zip_int64_t index = zip_name_locate(archive_, key.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) {
        error = "no entry " + key;
        return false;
    }
    zip_file_t* file = zip_fopen_index(archive_, zip_uint64_t(index), 0);
    if (file == nullptr) {
        error = key + ": " + zip_strerror(archive_);
        return false;
    }
    out.clear();
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const zip_int64_t got = zip_fread(file, buffer, sizeof buffer);
        if (got < 0) {
            error = key + ": " + zip_file_strerror(file);
            ok = false;
            break;
        }
        if (got == 0) break;
        if (out.size() + std::uint64_t(got) > limit) {
            error = key + ": larger than " + std::to_string(limit >> 20) + " MiB inflated";
            ok = false;
            break;
        }
        out.append(buffer, std::size_t(got));
    }
    zip_fclose(file);
    return ok;
}

bool Package::replace(std::string_view name, std::string data, std::string& error) {
    const std::string key(name);
    const zip_int64_t index = zip_name_locate(archive_, key.c_str(), ZIP_FL_ENC_RAW);
    if (index < 0) {
        error = "no entry " + key;
        return false;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    const bool has_time =
        zip_stat_index(archive_, zip_uint64_t(index), 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME);
    replaced_.push_back(std::move(data));
    const std::string& kept = replaced_.back();
    zip_source_t* s = zip_source_buffer(archive_, kept.data(), kept.size(), 0);
    if (s == nullptr || zip_file_replace(archive_, zip_uint64_t(index), s, 0) != 0) {
        if (s != nullptr) zip_source_free(s);
        error = key + ": " + zip_strerror(archive_);
        return false;
    }
    zip_set_file_compression(archive_, zip_uint64_t(index), ZIP_CM_DEFLATE, 0);
    if (has_time) zip_file_set_mtime(archive_, zip_uint64_t(index), st.mtime, 0);
    return true;
}

bool Package::write(std::string& out, std::string& error) {
    if (replaced_.empty()) {
        out.assign(data_.data(), data_.size());
        return true;
    }
    if (zip_close(archive_) != 0) {
        error = zip_strerror(archive_);
        return false;
    }
    archive_ = nullptr;
    if (zip_source_open(source_) != 0) {
        error = zip_error_strerror(zip_source_error(source_));
        return false;
    }
    out.clear();
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const zip_int64_t got = zip_source_read(source_, buffer, sizeof buffer);
        if (got < 0) {
            error = zip_error_strerror(zip_source_error(source_));
            ok = false;
            break;
        }
        if (got == 0) break;
        out.append(buffer, std::size_t(got));
    }
    zip_source_close(source_);
    return ok;
}

}  // namespace toneshift::documents
