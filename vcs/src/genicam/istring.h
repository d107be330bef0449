#pragma once

#include "genicam/inode.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace GenICam {

class IString : public INode {
public:
    static constexpr node_type static_type = node_type::String;
    virtual result<std::string> get_val(std::uint32_t flags = 0) = 0;
    virtual std::error_code set_val(std::string_view value, std::uint32_t flags = 0) = 0;

protected:
    ~IString() = default;
};

} // namespace GenICam
