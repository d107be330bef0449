#include "properties/uvc_exposure_property.h"

#include "gen_utils/cam_error.h"
#include "properties/uvc_exposure.h"

namespace uvc_property {

namespace {
constexpr std::uint8_t get_cur = 0x81;
constexpr std::uint8_t set_cur = 0x01;
// Where a set persists the time and the mode (see uvc_control_channel::value_name).
constexpr std::wstring_view exposure_name = L"Exposure";
constexpr std::wstring_view auto_name = L"ExposureAuto";

bool is_camera_control(const KsPropDataRequest& request)
{
    return cam::same_guid(request.property_set, cam::PROPSETID_VIDCAP_CAMERACONTROL) &&
           request.property_id == uvc_exposure_property::id_camera_control;
}

// The auto state that get reports and set compares with: the modes in which
// the camera chooses the exposure time. Shutter priority (4) keeps the time
// the client sets, so it is manual exposure.
bool is_auto(std::int32_t mode)
{
    return mode == uvc_exposure_property::mode_auto || mode == uvc_exposure_property::mode_aperture_priority;
}

bool is_custom(const KsPropDataRequest& request)
{
    return cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP) &&
           request.property_id == uvc_exposure_property::id_custom;
}
} // namespace

uvc_exposure_property::uvc_exposure_property(UVCPropertyData& exposure, UVCPropertyData* auto_control,
                                             uvc_control_channel& channel)
    : exposure_(exposure), auto_(auto_control), channel_(channel)
{
}

std::error_code uvc_exposure_property::get_request(KsPropDataRequest& request)
{
    const bool camera_control = is_camera_control(request);
    if (!camera_control && !is_custom(request)) {
        return make_cam_error(E_NOTIMPL);
    }
    if (const std::error_code ec = control_request(channel_, exposure_, get_cur)) {
        return ec;
    }
    std::uint32_t capabilities = cam::flag_manual;
    std::uint32_t flags = capabilities;
    if (auto_ != nullptr) {
        if (const std::error_code ec = control_request(channel_, *auto_, get_cur)) {
            return ec;
        }
        capabilities |= cam::flag_auto;
        flags = is_auto(auto_->value()) ? capabilities : capabilities & ~cam::flag_auto;
    }
    const std::uint32_t n = exposure_.length;
    const std::int32_t min = UVCPropertyData::read(exposure_.minimum, n);
    const std::int32_t max = UVCPropertyData::read(exposure_.maximum, n);
    const std::int32_t def = UVCPropertyData::read(exposure_.default_value, n);
    const std::int32_t value = exposure_.value();
    if (camera_control) {
        return cam::write_std_reply(request, capabilities, uvc_exposure_to_log2(min), uvc_exposure_to_log2(max),
                                    uvc_exposure_to_log2(def), 1, uvc_exposure_to_log2(value), flags);
    }
    return cam::write_range_value_reply(request, capabilities, min, max, def, value, flags);
}

std::error_code uvc_exposure_property::set_request(KsPropDataRequest& request)
{
    const bool camera_control = is_camera_control(request);
    if (!camera_control && !is_custom(request)) {
        return make_cam_error(E_NOTIMPL);
    }
    std::int32_t value = 0;
    std::uint32_t flags = 0;
    if (const std::error_code ec = cam::read_value_and_flags(request, value, flags)) {
        return ec;
    }
    std::int32_t exposure = value;
    if (camera_control) {
        // An exponent whose time does not fit the 4-byte control is refused
        // before anything reaches the device. The device's range is the one
        // get reported in exponents.
        const std::uint32_t n = exposure_.length;
        const auto converted =
            exposure_.range_read ? uvc_exposure_of_set(value, UVCPropertyData::read(exposure_.minimum, n),
                                                       UVCPropertyData::read(exposure_.maximum, n))
                                 : uvc_exposure_from_log2(value);
        if (!converted) {
            return make_cam_error(E_INVALIDARG);
        }
        exposure = static_cast<std::int32_t>(*converted);
    }
    utils::property_store_itf* store = channel_.property_store();
    const bool auto_wanted = (flags & cam::flag_auto) != 0;
    if (auto_ != nullptr && is_auto(auto_->value()) != auto_wanted) {
        const std::int32_t mode = auto_wanted ? mode_aperture_priority : mode_manual;
        const std::error_code ec = set_control_value(channel_, *auto_, mode);
        if (!ec && store != nullptr) {
            store->write_int(channel_.value_name(auto_name), mode);
        }
        return ec;
    }
    if (const std::error_code ec = set_control_value(channel_, exposure_, exposure)) {
        return ec;
    }
    if (store != nullptr) {
        store->write_int(channel_.value_name(exposure_name), exposure);
    }
    return {};
}

void uvc_exposure_property::load_value(utils::property_store_itf& store)
{
    std::int64_t stored = 0;
    if (store.read_int(channel_.value_name(exposure_name), stored)) {
        exposure_.set_value(static_cast<std::int32_t>(stored));
        (void)control_request(channel_, exposure_, set_cur);
    }
    if (auto_ != nullptr && store.read_int(channel_.value_name(auto_name), stored)) {
        auto_->set_value(static_cast<std::int32_t>(stored));
        (void)control_request(channel_, *auto_, set_cur);
    }
}

void uvc_exposure_property::reapply_value()
{
    (void)control_request(channel_, exposure_, set_cur);
    if (auto_ != nullptr) {
        (void)control_request(channel_, *auto_, set_cur);
    }
}

} // namespace uvc_property
