#include "device_impl/u3v/zip_extract.h"

#include "device_impl/u3v/gencp_protocol.h"
#include "gen_utils/log.h"

#include <zip.h>

#include <algorithm>
#include <memory>
#include <new>

namespace u3v_com {
namespace {

struct archive_closer {
    void operator()(zip_t* archive) const noexcept { zip_discard(archive); }
};
struct file_closer {
    void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};
using archive_ptr = std::unique_ptr<zip_t, archive_closer>;
using file_ptr = std::unique_ptr<zip_file_t, file_closer>;

archive_ptr open_read_only(const void* data, std::size_t size)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(size == 0 ? nullptr : data, size, 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return nullptr;
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        zip_source_free(source); // still ours when the open failed
    }
    zip_error_fini(&error);
    return archive_ptr(archive);
}

} // namespace

bool zip_extract_single_file(const void* data, std::size_t size, std::string& name, std::vector<std::uint8_t>& bytes)
{
    archive_ptr archive = open_read_only(data, size);
    if (!archive || zip_get_num_entries(archive.get(), 0) != 1) {
        return false;
    }
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive.get(), 0, 0, &stat) != 0 || (stat.valid & ZIP_STAT_SIZE) == 0 ||
        stat.size > max_unzipped_size) {
        return false;
    }
    file_ptr file(zip_fopen_index(archive.get(), 0, 0));
    if (!file) {
        return false;
    }
    // The buffer grows with what really inflates, so an archive that claims
    // far more than it holds costs no more than it holds.
    std::vector<std::uint8_t> contents;
    try {
        constexpr std::size_t step = 64 * 1024;
        for (;;) {
            const std::size_t at = contents.size();
            const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(step, stat.size + 1 - at));
            contents.resize(at + room);
            const zip_int64_t got = zip_fread(file.get(), contents.data() + at, room);
            if (got < 0) {
                return false; // inflate or CRC error
            }
            contents.resize(at + static_cast<std::size_t>(got));
            if (got == 0) {
                break;
            }
            if (contents.size() > stat.size) {
                return false; // more than the entry claims
            }
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (contents.size() != stat.size) {
        return false;
    }
    name = (stat.valid & ZIP_STAT_NAME) != 0 && stat.name != nullptr ? stat.name : "";
    bytes = std::move(contents);
    return true;
}

std::error_code extract_manifest_file(std::span<const std::uint8_t> blob, std::vector<std::uint8_t>& genicam_file,
                                      const std::error_category& category)
{
    std::string name;
    std::vector<std::uint8_t> bytes;
    if (!zip_extract_single_file(blob.data(), blob.size(), name, bytes)) {
        log_line(logging::level_error, "[CamTovra] Failed to extract files from manifest blob.\n");
        return {hr::invalid_arg, category};
    }
    log_line(logging::level_trace, "[CamTovra] Extracted filename=\"{}\", extracted len={}.\n", name, bytes.size());
    if (bytes.empty()) {
        return {hr::insufficient_buffer, category};
    }
    genicam_file = std::move(bytes);
    return {};
}

} // namespace u3v_com
