#pragma once
// Every failure inside the GenICam node-map engine is a std::error_code of one
// category. Codes are 32-bit values; 0 is success.

#include <cstdint>
#include <string>
#include <system_error>

class genicam_error_category final : public std::error_category {
public:
    const char* name() const noexcept override;
    std::string message(int code) const override;
    std::error_condition default_error_condition(int code) const noexcept override;
};

namespace GenICam {

enum class errc : std::uint32_t {
    success = 0,
    buffer_too_small = 0x80000002,
    device_lost = 0x80000003,
    no_cached_value = 0x80000004,
    index_out_of_range = 0x80000102,
    formula_parse_failed = 0x80000103,
    value_out_of_range = 0x80000104,
    value_locked = 0x80000105,
    node_not_available = 0x80000106,
    not_implemented = 0x80008001,
    invalid_parameter = 0x80008002,
    invalid_address = 0x80008003,
    bad_alignment = 0x80008004,
    access_denied = 0x80008006,
};

const std::error_category& genicam_category() noexcept;

inline std::error_code make_error_code(errc e) noexcept
{
    return {static_cast<int>(static_cast<std::uint32_t>(e)), genicam_category()};
}

// A code of the category from its raw 32-bit value.
inline std::error_code make_genicam_error(std::uint32_t code) noexcept
{
    return {static_cast<int>(code), genicam_category()};
}

} // namespace GenICam

template <>
struct std::is_error_code_enum<GenICam::errc> : std::true_type {};
