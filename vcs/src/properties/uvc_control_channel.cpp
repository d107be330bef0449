#include "properties/uvc_control_channel.h"

#include <algorithm>
#include <array>

#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"

namespace uvc_property {

namespace {
constexpr std::uint8_t set_cur = 0x01;
constexpr std::uint8_t get_cur = 0x81;
constexpr std::uint8_t get_min = 0x82;
constexpr std::uint8_t get_max = 0x83;
constexpr std::uint8_t get_res = 0x84;
constexpr std::uint8_t get_len = 0x85;
constexpr std::uint8_t get_info = 0x86;
constexpr std::uint8_t get_def = 0x87;

// A control's value fits the 16-byte fields; longer announced lengths are cut.
std::uint16_t field_length(const UVCPropertyData& control)
{
    return static_cast<std::uint16_t>(std::min<std::uint32_t>(control.length, 16));
}
} // namespace

std::error_code control_request(uvc_control_channel& channel, UVCPropertyData& control, std::uint8_t request)
{
    if (control.length == 0) {
        return make_cam_error(E_NOTIMPL);
    }
    if (request == set_cur) {
        return channel.uvc_request(set_cur, control.unit_id, static_cast<std::uint8_t>(control.selector),
                                   field_length(control), control.current.data());
    }
    return channel.uvc_request(get_cur, control.unit_id, static_cast<std::uint8_t>(control.selector),
                               field_length(control), control.current.data());
}

std::error_code set_control_value(uvc_control_channel& channel, UVCPropertyData& control, std::int32_t value)
{
    const std::array<std::uint8_t, 16> held = control.current;
    control.set_value(value);
    const std::error_code ec = control_request(channel, control, set_cur);
    if (ec) {
        control.current = held;
    }
    return ec;
}

std::error_code initialise_control(uvc_control_channel& channel, UVCPropertyData& control)
{
    if (control.unit_id == 0) {
        return make_cam_error(E_NOTIMPL);
    }
    const auto selector = static_cast<std::uint8_t>(control.selector);
    if (control.length == 0) {
        std::uint8_t length = 0;
        const std::error_code ec = channel.uvc_request(get_len, control.unit_id, selector, 1, &length);
        // A value longer than the record's 16-byte fields cannot be held:
        // such a control is unusable, like one without a length.
        if (ec || length == 0 || length > control.current.size()) {
            log_line(logging::level_warning, "[CamTovra] Failed length request for property [0x{:x},0x{:x}]\n",
                     control.unit_id, control.selector);
            control.length = 0;
            return ec ? ec : make_cam_error(E_FAIL);
        }
        control.length = length;
    }
    if (const std::error_code ec = channel.uvc_request(get_info, control.unit_id, selector, 1, &control.info)) {
        control.length = 0;
        return ec;
    }
    const std::uint16_t length = field_length(control);
    if (!channel.uvc_request(get_res, control.unit_id, selector, length, control.resolution.data())) {
        control.resolution_read = true;
    }
    const bool min_read = !channel.uvc_request(get_min, control.unit_id, selector, length, control.minimum.data());
    const bool max_read = !channel.uvc_request(get_max, control.unit_id, selector, length, control.maximum.data());
    control.range_read = min_read || max_read;
    if (!channel.uvc_request(get_def, control.unit_id, selector, length, control.default_value.data())) {
        control.default_read = true;
    }
    if ((control.info & 1) != 0) {
        (void)channel.uvc_request(get_cur, control.unit_id, selector, length, control.current.data());
    }
    check_consistency(control);
    if (control.length == 0) {
        log_line(logging::level_trace, "[CamTovra] UVCPropData[{}] => failed.\n", control.description());
    } else {
        const std::uint32_t n = control.length;
        log_line(logging::level_trace,
                 "[CamTovra] UVCPropData [{}] => info=0x{:x} len={}, value={}, [min={}, max={}, av={}] [def={}, "
                 "av={}] [res={}, av={}]\n",
                 control.description(), control.info, n, control.value(), UVCPropertyData::read(control.minimum, n),
                 UVCPropertyData::read(control.maximum, n), control.range_read,
                 UVCPropertyData::read(control.default_value, n), control.default_read,
                 UVCPropertyData::read(control.resolution, n), control.resolution_read);
    }
    return {};
}

} // namespace uvc_property
