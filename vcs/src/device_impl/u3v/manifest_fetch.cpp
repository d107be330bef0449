#include "device_impl/u3v/manifest_fetch.h"

#include "device_impl/u3v/exchange_buffer.h"
#include "device_impl/u3v/gencp_port.h"
#include "device_impl/u3v/gencp_protocol.h"
#include "device_impl/u3v/zip_extract.h"
#include "gen_utils/log.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>

namespace u3v_com {
namespace {

// Reads a whole little-endian uint64 register; a short acknowledge fails.
std::error_code read_u64(gencp_port& port, std::uint64_t address, std::uint64_t& value)
{
    std::array<std::uint8_t, 8> bytes{};
    std::uint64_t got = 0;
    std::error_code ec = port.read_memory(address, bytes.data(), bytes.size(), got);
    if (!ec && got != bytes.size()) {
        ec = port.protocol_error(hr::invalid_arg);
    }
    value = load_le<std::uint64_t>(bytes.data());
    return ec;
}

std::mutex& limits_lock()
{
    static std::mutex lock;
    return lock;
}

file_fetch_limits& limits_of_process() // guarded by limits_lock()
{
    static file_fetch_limits limits;
    return limits;
}

// The time left for one fetch.
class fetch_budget {
public:
    explicit fetch_budget(const file_fetch_limits& limits) : limits_(limits), start_(limits.now()) {}
    bool spent() const { return limits_.now() - start_ >= limits_.budget; }
    std::chrono::milliseconds budget() const { return limits_.budget; }

private:
    const file_fetch_limits& limits_;
    std::chrono::steady_clock::time_point start_;
};

// Reads `length` bytes one exchange at a time (the port's largest), checking
// the budget before each. A short acknowledge ends the read at once: a file
// cut short is no file, and the rest need not be fetched to know it.
std::error_code budgeted_read(gencp_port& port, const fetch_budget& budget, std::uint64_t address,
                              std::uint8_t* buffer, std::uint64_t length, const char* what)
{
    if (length > std::numeric_limits<std::uint64_t>::max() - address) {
        return port.protocol_error(hr::invalid_arg);
    }
    const std::uint64_t per_exchange = port.max_read_size() - prefix_size;
    for (std::uint64_t done = 0; done < length;) {
        if (budget.spent()) {
            log_line(logging::level_error,
                     "[CamTovra] u3v_com::fetch_manifest_files, reading the {} took longer than {} ms ({} of {} "
                     "bytes read).\n",
                     what, budget.budget().count(), done, length);
            return port.protocol_error(fetch_timeout_hresult);
        }
        const std::uint64_t chunk = std::min(length - done, per_exchange);
        std::uint64_t got = 0;
        if (const std::error_code ec = port.read_memory(address + done, buffer + done, chunk, got)) {
            return ec;
        }
        if (got != chunk) {
            return port.protocol_error(hr::invalid_arg);
        }
        done += chunk;
    }
    return {};
}

} // namespace

file_fetch_limits current_file_fetch_limits()
{
    const std::lock_guard lock(limits_lock());
    return limits_of_process();
}

void set_file_fetch_limits(file_fetch_limits limits)
{
    const std::lock_guard lock(limits_lock());
    limits_of_process() = std::move(limits);
}

manifest_entry parse_manifest_entry(std::span<const std::uint8_t, manifest_entry_size> bytes) noexcept
{
    manifest_entry entry;
    entry.file_version = load_le<std::uint32_t>(bytes.data());
    entry.format_info = load_le<std::uint32_t>(bytes.data() + 4);
    entry.address = load_le<std::uint64_t>(bytes.data() + 8);
    entry.size = load_le<std::uint64_t>(bytes.data() + 16);
    std::memcpy(entry.hash.data(), bytes.data() + 24, entry.hash.size());
    return entry;
}

std::error_code fetch_manifest_files(gencp_port& port)
{
    return fetch_manifest_files(port, current_file_fetch_limits());
}

std::error_code fetch_manifest_files(gencp_port& port, const file_fetch_limits& limits)
{
    const fetch_budget budget(limits);
    std::uint64_t table = 0;
    if (const std::error_code ec = read_u64(port, reg_manifest_table_address, table)) {
        log_line(logging::level_error, "[CamTovra] Failed Manifest_Table_Address, status={}", ec);
        return ec;
    }
    std::uint64_t entry_count = 0;
    std::error_code ec = table > std::numeric_limits<std::uint64_t>::max() - 8 ? port.protocol_error(hr::invalid_arg)
                                                                              : read_u64(port, table, entry_count);
    if (ec) {
        log_line(logging::level_error, "[CamTovra] Failed to read manifest table entries due to status={}.\n", ec);
        return ec;
    }
    log_line(logging::level_trace, "[CamTovra] Manifest table address is=0x{:x}, entry_count={}.\n", table,
             entry_count);
    if (entry_count > max_manifest_entries) {
        log_line(logging::level_error, "[CamTovra] Manifest table entry_count={} is above the limit of {}.\n",
                 entry_count, max_manifest_entries);
        return port.protocol_error(hr::invalid_arg);
    }

    // Up to four entries need no heap.
    exchange_buffer<4 * manifest_entry_size> entries;
    const std::uint64_t table_bytes = entry_count * manifest_entry_size;
    if (!entries.resize(table_bytes)) {
        return port.protocol_error(hr::insufficient_buffer);
    }
    ec = budgeted_read(port, budget, table + 8, entries.data(), table_bytes, "manifest table");
    if (ec) {
        log_line(logging::level_error, "[CamTovra] Failed to read manifest table entries due to status={}.\n", ec);
        return ec;
    }

    // The last entry is the one used.
    manifest_entry chosen;
    for (std::uint64_t i = 0; i < entry_count; ++i) {
        chosen = parse_manifest_entry(
            std::span<const std::uint8_t, manifest_entry_size>(entries.data() + i * manifest_entry_size,
                                                                manifest_entry_size));
        log_line(logging::level_trace,
                 "[CamTovra]     MFT genicam_file_version={:#x}, schema/type={:#x}, type={}, addr=0x{:x}, size={}, "
                 "hash (uint32_t)=0x{:x}.\n",
                 chosen.file_version, chosen.format_info, chosen.file_type(), chosen.address, chosen.size,
                 load_le<std::uint32_t>(chosen.hash.data()));
    }
    if (chosen.size == 0) {
        log_line(logging::level_error, "[CamTovra] The manifest table names no GenICam file.\n");
        return port.protocol_error(hr::invalid_arg);
    }

    if (chosen.size > max_genicam_file_size) {
        log_line(logging::level_error, "[CamTovra] GenICam file size={} is above the limit of {}.\n", chosen.size,
                 max_genicam_file_size);
        return port.protocol_error(hr::invalid_arg);
    }
    genicam_file_cache& cache = port.cache();
    if (std::vector<std::uint8_t> cached = cache.lookup(port.model(), chosen.hash); !cached.empty()) {
        port.take_genicam_file(std::move(cached));
        return {};
    }
    // The floor on bytes per exchange: a camera whose exchanges are too small
    // for this file would hold its open for hours.
    const std::uint64_t per_exchange = port.max_read_size() - prefix_size;
    const std::uint64_t max_exchanges = std::max<std::uint64_t>(limits.max_exchanges, 1);
    const std::uint64_t floor = chosen.size / max_exchanges + (chosen.size % max_exchanges != 0 ? 1 : 0);
    if (per_exchange < floor) {
        log_line(logging::level_error,
                 "[CamTovra] u3v_com::fetch_manifest_files, {} bytes per exchange are too few for a GenICam file of "
                 "size={} (at least {}).\n",
                 per_exchange, chosen.size, floor);
        return port.protocol_error(hr::invalid_arg);
    }
    std::vector<std::uint8_t> blob;
    try {
        blob.assign(chosen.size, 0);
    } catch (const std::bad_alloc&) {
        return port.protocol_error(hr::insufficient_buffer);
    }
    ec = budgeted_read(port, budget, chosen.address, blob.data(), blob.size(), "GenICam file");
    if (ec) {
        log_line(logging::level_error,
                 "[CamTovra] Failed to read genicam from address specified by manifest table entry.\n");
        return ec;
    }

    std::vector<std::uint8_t> file;
    switch (chosen.file_type()) {
    case static_cast<std::uint32_t>(manifest_file_type::xml):
        file = std::move(blob);
        break;
    case static_cast<std::uint32_t>(manifest_file_type::zip):
        if (ec = extract_manifest_file(blob, file, port.protocol_category()); ec) {
            return ec;
        }
        break;
    default:
        log_line(logging::level_error, "[CamTovra] Unknown manifest file type specified.\n");
        return port.protocol_error(hr::invalid_arg);
    }
    cache.insert(port.model(), chosen.hash, file);
    port.take_genicam_file(std::move(file));
    return {};
}

} // namespace u3v_com
