#include "genicam/genicam_error.h"

namespace {

struct code_info {
    GenICam::errc code;
    const char* message;
    // The portable condition the code maps to; errc{} means "itself".
    std::errc condition;
    bool generic;
};

constexpr code_info code_table[] = {
    {GenICam::errc::success, "Success", std::errc{}, true},
    {GenICam::errc::buffer_too_small, "Buffer too small", std::errc::no_buffer_space, true},
    {GenICam::errc::device_lost, "Device lost", std::errc::no_such_device, true},
    {GenICam::errc::no_cached_value, "Failed to fetch cached value in a 'NoCache' request", std::errc{}, false},
    {GenICam::errc::index_out_of_range, "Index out of range", std::errc::invalid_argument, true},
    {GenICam::errc::formula_parse_failed, "Failed to parse formula", std::errc{}, false},
    {GenICam::errc::value_out_of_range, "Passed in value is out of range of Min/Max", std::errc::result_out_of_range,
     true},
    {GenICam::errc::value_locked, "writing failed because value was locked,  INode::is_locked() == true",
     std::errc{}, false},
    {GenICam::errc::node_not_available,
     "writing failed because node was not available INode::is_available() == false", std::errc{}, false},
    {GenICam::errc::not_implemented, "Feature not implemented", std::errc::not_supported, true},
    {GenICam::errc::invalid_parameter, "Invalid parameter", std::errc::invalid_argument, true},
    {GenICam::errc::invalid_address, "Invalid address", std::errc::address_not_available, true},
    {GenICam::errc::bad_alignment, "Bad Alignment", std::errc{}, false},
    {GenICam::errc::access_denied, "Access denied", std::errc::permission_denied, true},
};

const code_info* find_code(int code) noexcept
{
    for (const auto& info : code_table) {
        if (static_cast<std::uint32_t>(info.code) == static_cast<std::uint32_t>(code)) {
            return &info;
        }
    }
    return nullptr;
}

} // namespace

const char* genicam_error_category::name() const noexcept
{
    return "GenICam Error";
}

std::string genicam_error_category::message(int code) const
{
    const code_info* info = find_code(code);
    return info != nullptr ? info->message : "Unknown error";
}

std::error_condition genicam_error_category::default_error_condition(int code) const noexcept
{
    const code_info* info = find_code(code);
    if (info == nullptr || !info->generic) {
        return {code, *this};
    }
    return {static_cast<int>(info->condition), std::generic_category()};
}

namespace GenICam {
const std::error_category& genicam_category() noexcept
{
    static const genicam_error_category category;
    return category;
}
} // namespace GenICam
