#pragma once
// Raw access to the first bytes of a register block.

#include "genicam/inode.h"

#include <cstdint>
#include <optional>

namespace GenICam {

class IRegister : public INode {
public:
    static constexpr node_type static_type = node_type::Register;
    virtual std::optional<std::int64_t> get_polling_time() = 0;
    // Reads the first `length` bytes (1 to the register's Length).
    virtual std::error_code get_bytes(void* buffer, std::int64_t length, std::uint32_t flags = 0) = 0;
    virtual std::error_code set_bytes(const void* data, std::int64_t length, std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_address(std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_length(std::uint32_t flags = 0) = 0;

protected:
    ~IRegister() = default;
};

} // namespace GenICam
