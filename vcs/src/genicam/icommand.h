#pragma once

#include "genicam/inode.h"

#include <cstdint>
#include <optional>

namespace GenICam {

class ICommand : public INode {
public:
    static constexpr node_type static_type = node_type::Command;
    virtual std::optional<std::int64_t> get_polling_time() = 0;
    virtual std::error_code execute(std::uint32_t flags = 0) = 0;
    // True once the command's target no longer holds the command value.
    virtual result<bool> is_done(std::uint32_t flags = 0) = 0;

protected:
    ~ICommand() = default;
};

} // namespace GenICam
