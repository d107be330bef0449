#pragma once
// Integer features; register, converter and swissknife nodes of integer kind
// implement the same interface.

#include "genicam/inode.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace GenICam {

class IInteger : public INode {
public:
    static constexpr node_type static_type = node_type::Integer;
    virtual integer_representation get_representation() = 0;
    virtual std::string_view get_unit() = 0;
    virtual std::vector<INode*> get_selected_features() = 0;
    virtual std::error_code set_val(std::int64_t value, std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_val(std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_min(std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_max(std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_inc(std::uint32_t flags = 0) = 0;
    virtual result<std::int64_t> get_default(std::uint32_t flags = 0) = 0;

protected:
    ~IInteger() = default;
};

} // namespace GenICam
