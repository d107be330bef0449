#pragma once
// Float features; register, converter and swissknife nodes of float kind
// implement the same interface. Default comes before Inc here.

#include "genicam/inode.h"

#include <cstdint>
#include <string_view>

namespace GenICam {

class IFloat : public INode {
public:
    static constexpr node_type static_type = node_type::Float;
    virtual float_representation get_representation() = 0;
    virtual std::string_view get_unit() = 0;
    virtual display_notation get_display_notation() = 0;
    virtual std::int32_t get_display_precision() = 0;
    virtual std::error_code set_val(double value, std::uint32_t flags = 0) = 0;
    virtual result<double> get_val(std::uint32_t flags = 0) = 0;
    virtual result<double> get_min(std::uint32_t flags = 0) = 0;
    virtual result<double> get_max(std::uint32_t flags = 0) = 0;
    virtual result<double> get_default(std::uint32_t flags = 0) = 0;
    virtual result<double> get_inc(std::uint32_t flags = 0) = 0;

protected:
    ~IFloat() = default;
};

} // namespace GenICam
