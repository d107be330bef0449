#pragma once
// Port nodes: the way register nodes reach the device (a bound IDevicePort)
// or a block of chunk data.

#include "genicam/inode.h"

#include <cstdint>

namespace GenICam {

class IDevicePort;

class IPort : public INode {
public:
    static constexpr node_type static_type = node_type::Port;
    virtual std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t flags) = 0;
    virtual std::error_code write(std::uint64_t address, const void* data, std::int64_t length,
                                  std::uint32_t flags) = 0;
    virtual std::error_code bind(IDevicePort* device_port) = 0;
    virtual std::error_code attach_chunk(std::uint64_t base_address, std::uint8_t* data, std::int64_t length) = 0;
    virtual void unbind() = 0;
    virtual bool is_bound() const = 0;
    virtual result<std::int64_t> get_chunk_id(std::uint32_t flags) = 0;

protected:
    ~IPort() = default;
};

} // namespace GenICam
