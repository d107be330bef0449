#pragma once
// The channel a GenCP port talks through: one vendor control transfer on the
// device's default pipe per call, its data stage sent or received whole. The
// service's implementation is a driver I/O control; tests and fuzzers serve
// the device from memory.

#include <cstdint>
#include <span>
#include <system_error>

namespace u3v_com {

class gencp_transfer {
public:
    virtual ~gencp_transfer() = default;
    // Sends `data` as the data stage of vendor request `request`.
    virtual std::error_code control_out(std::uint8_t request, std::span<const std::uint8_t> data) = 0;
    // Receives a data stage of `data.size()` bytes. How many the device really
    // sent is not known: callers clear the buffer first.
    virtual std::error_code control_in(std::uint8_t request, std::span<std::uint8_t> data) = 0;
};

} // namespace u3v_com
