#include "device_impl/device_impl_tools/propset/property_reply.h"

#include <cstring>

#include "gen_utils/cam_error.h"

namespace cam {

namespace {
constexpr HRESULT insufficient_buffer = static_cast<HRESULT>(0x8007007A);
constexpr std::uint32_t range_capabilities_offset = 16;
constexpr std::uint32_t value_offset = 24;
constexpr std::uint32_t flags_offset = 28;
constexpr std::uint32_t value_capabilities_offset = 32;

unsigned char* bytes(KsPropDataRequest& request) noexcept
{
    return static_cast<unsigned char*>(request.value);
}

template <class T>
void put(KsPropDataRequest& request, std::uint32_t offset, T value) noexcept
{
    std::memcpy(bytes(request) + offset, &value, sizeof(T));
}

template <class T>
T take(const KsPropDataRequest& request, std::uint32_t offset) noexcept
{
    T value{};
    std::memcpy(&value, static_cast<const unsigned char*>(request.value) + offset, sizeof(T));
    return value;
}

// The same checks for a record that is only read.
std::error_code check_set_buffer(const KsPropDataRequest& request, std::uint32_t needed) noexcept
{
    if (request.value_size < needed) {
        return make_cam_error(insufficient_buffer);
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    return {};
}
} // namespace

std::error_code check_value_buffer(KsPropDataRequest& request, std::uint32_t needed) noexcept
{
    if (request.value_size < needed) {
        if (request.request_type == KsPropDataRequest::get) {
            request.bytes_returned = needed;
        }
        return make_cam_error(insufficient_buffer);
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    return {};
}

std::error_code write_int_reply(KsPropDataRequest& request, std::int32_t value) noexcept
{
    if (auto ec = check_value_buffer(request, int_reply_size)) {
        return ec;
    }
    put(request, 0, value);
    request.bytes_returned = int_reply_size;
    return {};
}

std::error_code write_range_value_reply(KsPropDataRequest& request, std::uint32_t capabilities, std::int32_t min,
                                        std::int32_t max, std::int32_t def, std::int32_t value,
                                        std::uint32_t flags) noexcept
{
    if (auto ec = check_value_buffer(request, range_value_reply_size)) {
        return ec;
    }
    put(request, value_offset, value);
    put(request, flags_offset, flags);
    put(request, value_capabilities_offset, capabilities);
    put(request, 36, min);
    put(request, 40, max);
    put(request, 44, def);
    request.bytes_returned = range_value_reply_size;
    return {};
}

std::error_code write_float_range_value_reply(KsPropDataRequest& request, double min, double max, double def,
                                              double value) noexcept
{
    if (auto ec = check_value_buffer(request, float_range_value_reply_size)) {
        return ec;
    }
    put(request, value_offset, static_cast<float>(value));
    put(request, 28, static_cast<float>(min));
    put(request, 32, static_cast<float>(max));
    put(request, 36, static_cast<float>(def));
    put(request, 40, flag_manual);
    put(request, 44, flag_manual);
    put(request, 48, std::uint32_t{1});
    request.bytes_returned = float_range_value_reply_size;
    return {};
}

std::error_code write_std_reply(KsPropDataRequest& request, std::uint32_t capabilities, std::int32_t min,
                                std::int32_t max, std::int32_t def, std::int32_t step, std::int32_t value,
                                std::uint32_t flags) noexcept
{
    if ((request.query_flags & KsPropDataRequest::query_range) != 0) {
        if (auto ec = check_value_buffer(request, std_range_reply_size)) {
            return ec;
        }
        put(request, 0, min);
        put(request, 4, max);
        put(request, 8, def);
        put(request, 12, step);
        put(request, range_capabilities_offset, capabilities);
        request.bytes_returned = std_range_reply_size;
        return {};
    }
    if (auto ec = check_value_buffer(request, std_value_reply_size)) {
        return ec;
    }
    put(request, value_offset, value);
    put(request, flags_offset, flags);
    put(request, value_capabilities_offset, capabilities);
    request.bytes_returned = std_value_reply_size;
    return {};
}

std::error_code add_auto_capability(KsPropDataRequest& request, std::uint32_t flag_bits) noexcept
{
    if ((request.query_flags & KsPropDataRequest::query_range) != 0) {
        if (auto ec = check_value_buffer(request, std_range_reply_size)) {
            return ec;
        }
        put(request, range_capabilities_offset,
            take<std::uint32_t>(request, range_capabilities_offset) | flag_auto);
        request.bytes_returned = std_range_reply_size;
        return {};
    }
    if (auto ec = check_value_buffer(request, std_value_reply_size)) {
        return ec;
    }
    put(request, value_capabilities_offset, take<std::uint32_t>(request, value_capabilities_offset) | flag_auto);
    put(request, flags_offset, take<std::uint32_t>(request, flags_offset) | flag_bits);
    return {};
}

std::error_code read_value_and_flags(const KsPropDataRequest& request, std::int32_t& value,
                                     std::uint32_t& flags) noexcept
{
    const std::uint32_t needed =
        is_standard_video_set(request.property_set) ? std_value_reply_size : range_value_reply_size;
    if (auto ec = check_set_buffer(request, needed)) {
        return ec;
    }
    value = take<std::int32_t>(request, value_offset);
    flags = take<std::uint32_t>(request, flags_offset);
    return {};
}

outcome::std_result<value_and_flags> read_value_and_flags_result(const KsPropDataRequest& request) noexcept
{
    value_and_flags read;
    if (auto ec = read_value_and_flags(request, read.value, read.flags)) {
        return ec;
    }
    return read;
}

outcome::std_result<float> read_float_from_set_request(const KsPropDataRequest& request) noexcept
{
    if (auto ec = check_set_buffer(request, float_range_value_reply_size)) {
        return ec;
    }
    return take<float>(request, value_offset);
}

} // namespace cam
