#pragma once
// Retrieval of the camera's GenICam file: the manifest table that the
// bootstrap registers point at, the last of its entries, the file it names
// (plain XML or a zip archive holding it), and the process's file cache.

#include "device_impl/u3v/genicam_file_cache.h"

#include <chrono>
#include <cstdint>
#include <functional>
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

// What one fetch may cost a camera's open. A camera is opened while its
// client waits, and it may answer one data byte per exchange for a file of up
// to 64 MiB: the fetch refuses an exchange size that would need more than
// `max_exchanges` exchanges for the file (a floor on bytes per exchange), and
// fails once `budget` has passed since it began.
struct file_fetch_limits {
    std::uint64_t max_exchanges = 1ull << 20; // 64 bytes per exchange for 64 MiB
    std::chrono::milliseconds budget{60000};
    // The clock the budget is measured on (tests give their own).
    std::function<std::chrono::steady_clock::time_point()> now = [] { return std::chrono::steady_clock::now(); };
};
// The HRESULT (in the port's protocol category) of a fetch whose budget was
// spent: the camera's open fails with it, rather than a camera without its
// features being handed out.
inline constexpr std::int32_t fetch_timeout_hresult = static_cast<std::int32_t>(0x800705B4); // ERROR_TIMEOUT
inline bool fetch_budget_spent(const std::error_code& ec, const std::error_category& protocol_category) noexcept
{
    return ec.value() == fetch_timeout_hresult && ec.category() == protocol_category;
}

// The limits of every fetch of the process; guarded by a mutex of its own,
// copied at the start of each fetch.
file_fetch_limits current_file_fetch_limits();
void set_file_fetch_limits(file_fetch_limits limits);

// `bytes` holds manifest_entry_size bytes.
manifest_entry parse_manifest_entry(std::span<const std::uint8_t, manifest_entry_size> bytes) noexcept;

// Fetches the file of the manifest's last entry into the port's genicam_file,
// from the port's cache when the entry's hash is there. A failure leaves the
// port's file and the cache as they were. Within the process's limits, or
// the ones given.
std::error_code fetch_manifest_files(gencp_port& port);
std::error_code fetch_manifest_files(gencp_port& port, const file_fetch_limits& limits);

} // namespace u3v_com
