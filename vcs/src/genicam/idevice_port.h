#pragma once
// The register port that code outside the engine implements to give a
// document access to a device. The engine never owns it.

#include <cstdint>
#include <system_error>

namespace GenICam {

class IDevicePort {
public:
    virtual ~IDevicePort() = default;
    // Fills `buffer` with `length` bytes of device memory at `address`.
    virtual std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) = 0;
    virtual std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                                  std::uint32_t flags) = 0;
};

} // namespace GenICam
