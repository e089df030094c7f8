// Building zip packages in memory, for the documents tests, the end-to-end tests, the
// benchmark and the fuzz target. Header only: each of them links libzip itself.
#pragma once

#include <zip.h>

#include <string>
#include <utility>
#include <vector>

namespace toneshift::documents {

// A zip archive of `entries` (name, bytes), in that order, their names flagged as UTF-8. An
// entry named "mimetype" (an OpenDocument's, which comes first) is stored as it is, the
// others deflated.
inline std::string make_zip(const std::vector<std::pair<std::string, std::string>>& entries) {
    zip_error_t e;
    zip_error_init(&e);
    zip_source_t* src = zip_source_buffer_create(nullptr, 0, 0, &e);
    zip_source_keep(src);
    zip_t* z = zip_open_from_source(src, ZIP_TRUNCATE, &e);
    for (const auto& [name, data] : entries) {
        const zip_int64_t index = zip_file_add(
            z, name.c_str(), zip_source_buffer(z, data.data(), data.size(), 0), ZIP_FL_ENC_UTF_8);
        if (name == "mimetype") zip_set_file_compression(z, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    zip_close(z);
    std::string out;
    zip_source_open(src);
    char buffer[65536];
    for (zip_int64_t n; (n = zip_source_read(src, buffer, sizeof buffer)) > 0;)
        out.append(buffer, std::size_t(n));
    zip_source_close(src);
    zip_source_free(src);
    zip_error_fini(&e);
    return out;
}

}  // namespace toneshift::documents
