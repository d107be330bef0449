#pragma once
// The GenCP register port of a USB3 Vision camera, free of any Windows API:
// it builds READMEM and WRITEMEM commands, sends each through a
// gencp_transfer, checks the acknowledge that follows, splits long accesses
// into exchanges the device accepts, and at open time reads the device's
// limits, capability, name and GenICam file.
//
// Protocol failures are HRESULTs in the category the owner gives; transfer
// failures pass through unchanged. Any thread may call: a command and its
// acknowledge run as one exchange under the port's exchange lock, so that no
// other exchange takes the acknowledge meant for this one. Open runs before
// the port is shared.

#include "device_impl/u3v/gencp_protocol.h"
#include "device_impl/u3v/gencp_transfer.h"
#include "device_impl/u3v/genicam_file_cache.h"
#include "genicam/idevice_port.h"

#include <boost/outcome.hpp>

#include <cstdint>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

namespace u3v_com {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

class gencp_port : public GenICam::IDevicePort {
public:
    // Late acknowledges one exchange discards before it fails.
    static constexpr unsigned max_stale_acks = 8;

    // `protocol_category` carries HRESULT values; `cache` holds the files
    // fetched so far (the process's cache unless a test gives its own).
    explicit gencp_port(const std::error_category& protocol_category,
                        genicam_file_cache& cache = genicam_file_cache::process_cache());
    ~gencp_port() override = default;

    // Reads `length` bytes; fewer bytes than asked is E_INVALIDARG.
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) override;
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                          std::uint32_t flags) override;

    // Reads in exchanges of at most max_read_size_ - 12 bytes; `bytes_read`
    // counts what the acknowledges delivered.
    std::error_code read_memory(std::uint64_t address, void* buffer, std::uint64_t length,
                                std::uint64_t& bytes_read);
    // Writes in exchanges of at most max_write_size_ - 20 bytes.
    std::error_code write_memory(std::uint64_t address, const void* data, std::uint64_t length);
    // The 64-byte user-defined name register, cut at its first NUL.
    outcome::std_result<std::string> read_user_defined_name();

    std::uint32_t max_read_size() const noexcept { return max_read_size_; }
    std::uint32_t max_write_size() const noexcept { return max_write_size_; }
    std::uint32_t device_caps() const noexcept { return device_caps_; }
    // The GenICam XML text fetched by open (empty before).
    const std::vector<std::uint8_t>& genicam_file() const noexcept { return genicam_file_; }
    // The request id of the last command sent.
    std::uint16_t last_request_id() const
    {
        std::lock_guard lock(exchange_lock_);
        return request_id_;
    }
    // Continues the id sequence after `id` (ids wrap from 65535 to 1).
    void continue_request_ids_after(std::uint16_t id)
    {
        std::lock_guard lock(exchange_lock_);
        request_id_ = id;
    }

    std::error_code protocol_error(std::int32_t hresult) const noexcept { return {hresult, category_}; }
    const std::error_category& protocol_category() const noexcept { return category_; }
    genicam_file_cache& cache() const noexcept { return *cache_; }
    // What the owner knows of the camera's model (empty when nothing): the
    // file cache keeps files of different models apart.
    const std::string& model() const noexcept { return model_; }
    // The fetched file replaces the current one (manifest retrieval only).
    void take_genicam_file(std::vector<std::uint8_t>&& file) noexcept { genicam_file_ = std::move(file); }

protected:
    // Binds the port to a transfer and prepares it: limits, capability and
    // name, then the GenICam file. The transfer must outlive the port's use.
    std::error_code open(gencp_transfer& transfer);
    void set_model(std::string model) { model_ = std::move(model); }

private:
    // Under exchange_lock_.
    std::uint16_t next_request_id() noexcept;
    // One READMEM of at most max_read_size_ - 12 bytes: command and
    // acknowledge under exchange_lock_.
    std::error_code readmem_exchange(std::uint64_t address, std::uint8_t* buffer, std::uint32_t length,
                                     std::uint32_t& bytes_read);
    // One WRITEMEM of at most max_write_size_ - 20 bytes, likewise.
    std::error_code writemem_exchange(std::uint64_t address, const std::uint8_t* data, std::uint32_t length);
    // Under exchange_lock_: receives the acknowledge of command `id` into
    // `ack`. A late acknowledge of an earlier command (one whose receive the
    // driver gave up on) is discarded and the receive repeated, at most
    // max_stale_acks times; whatever comes then is left for the caller to
    // judge. Transfer failures are returned.
    std::error_code receive_ack(std::span<std::uint8_t> ack, std::uint16_t id, ack_header& header);
    // The result of an acknowledge that is not a success for command `id`:
    // its own status mapped, or E_FAIL for another command's.
    std::error_code mismatch_error(const ack_header& header, std::uint16_t ack_id, std::uint16_t id) const noexcept;
    std::error_code read_size_register(std::uint8_t request, std::uint32_t& value);
    void read_capability_and_name();

    const std::error_category& category_;
    genicam_file_cache* cache_;
    gencp_transfer* transfer_ = nullptr;
    // Held for one command and its acknowledge; guards request_id_.
    mutable std::mutex exchange_lock_;
    std::uint16_t request_id_ = 1;
    std::uint32_t max_read_size_ = 600;
    std::uint32_t max_write_size_ = 600;
    std::vector<std::uint8_t> genicam_file_;
    std::string model_;
    std::uint32_t device_caps_ = 0;
};

} // namespace u3v_com
