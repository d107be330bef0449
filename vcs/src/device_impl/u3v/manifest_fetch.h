#pragma once
// Retrieval of the camera's GenICam file: the manifest table that the
// bootstrap registers point at, the last of its entries, the file it names
// (plain XML or a zip archive holding it), and the process's file cache.

#include "device_impl/u3v/genicam_file_cache.h"

#include <cstdint>
#include <span>
#include <system_error>

namespace u3v_com {

class gencp_port;

inline constexpr std::size_t manifest_entry_size = 64;
// Bounds on what a device may claim before anything is sized after it.
inline constexpr std::uint64_t max_manifest_entries = 64;
inline constexpr std::uint64_t max_genicam_file_size = 64ull << 20;

enum class manifest_file_type : std::uint32_t { xml = 0, zip = 1 };

struct manifest_entry {
    std::uint32_t file_version = 0;
    std::uint32_t format_info = 0; // file type in bits 10-15
    std::uint64_t address = 0;
    std::uint64_t size = 0;
    file_hash hash{};

    std::uint32_t file_type() const noexcept { return (format_info >> 10) & 0x3F; }
};

// `bytes` holds manifest_entry_size bytes.
manifest_entry parse_manifest_entry(std::span<const std::uint8_t, manifest_entry_size> bytes) noexcept;

// Fetches the file of the manifest's last entry into the port's genicam_file,
// from the port's cache when the entry's hash is there. A failure leaves the
// port's file and the cache as they were.
std::error_code fetch_manifest_files(gencp_port& port);

} // namespace u3v_com
