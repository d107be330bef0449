#include "sim_zip.h"

#include <zip.h>

#include <cstdio>
#include <stdexcept>

namespace sim_camera {

bytes zip_archive(const std::vector<zip_entry>& entries, bool deflate)
{
    if (entries.empty()) {
        bytes empty(22, 0);
        empty[0] = 'P';
        empty[1] = 'K';
        empty[2] = 5;
        empty[3] = 6;
        return empty;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* target = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (target == nullptr) {
        throw std::runtime_error("zip_archive: no buffer source");
    }
    zip_source_keep(target); // read back after the archive is closed
    zip_t* archive = zip_open_from_source(target, ZIP_TRUNCATE, &error);
    if (archive == nullptr) {
        zip_source_free(target);
        throw std::runtime_error("zip_archive: cannot open for writing");
    }
    for (const zip_entry& entry : entries) {
        zip_source_t* source = zip_source_buffer(archive, entry.content.data(), entry.content.size(), 0);
        const zip_int64_t index =
            source == nullptr ? -1 : zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            zip_source_free(target);
            throw std::runtime_error("zip_archive: cannot add " + entry.name);
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE,
                                 0);
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        zip_source_free(target);
        throw std::runtime_error("zip_archive: cannot write");
    }
    bytes out;
    if (zip_source_open(target) == 0) {
        zip_source_seek(target, 0, SEEK_END);
        const zip_int64_t size = zip_source_tell(target);
        zip_source_seek(target, 0, SEEK_SET);
        out.resize(size > 0 ? static_cast<std::size_t>(size) : 0);
        if (!out.empty() && zip_source_read(target, out.data(), out.size()) != size) {
            out.clear();
        }
        zip_source_close(target);
    }
    zip_source_free(target);
    if (out.empty()) {
        throw std::runtime_error("zip_archive: nothing written");
    }
    return out;
}

} // namespace sim_camera
