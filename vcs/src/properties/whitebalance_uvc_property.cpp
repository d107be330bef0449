#include "properties/whitebalance_uvc_property.h"

#include "gen_utils/cam_error.h"

namespace uvc_property {

namespace {
constexpr std::uint8_t get_cur = 0x81;
constexpr std::uint8_t set_cur = 0x01;

bool served(const KsPropDataRequest& request)
{
    return cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP) &&
           (request.property_id == whitebalance_uvc_property::id_blue ||
            request.property_id == whitebalance_uvc_property::id_red);
}

std::int32_t half(const std::array<std::uint8_t, 16>& field, bool red)
{
    const auto packed = static_cast<std::uint32_t>(UVCPropertyData::read(field, 4));
    return static_cast<std::int16_t>(red ? packed >> 16 : packed & 0xFFFF);
}
} // namespace

whitebalance_uvc_property::whitebalance_uvc_property(UVCPropertyData& control, std::wstring store_name,
                                                     uvc_control_channel& channel)
    : control_(control), name_(std::move(store_name)), channel_(channel)
{
}

std::error_code whitebalance_uvc_property::get_request(KsPropDataRequest& request)
{
    if (!served(request)) {
        return make_cam_error(E_NOTIMPL);
    }
    if (const std::error_code ec = control_request(channel_, control_, get_cur)) {
        return ec;
    }
    const bool red = request.property_id == id_red;
    return cam::write_range_value_reply(request, cam::flag_manual, half(control_.minimum, red),
                                        half(control_.maximum, red), half(control_.default_value, red),
                                        half(control_.current, red), cam::flag_manual);
}

std::error_code whitebalance_uvc_property::set_request(KsPropDataRequest& request)
{
    if (!served(request)) {
        return make_cam_error(E_NOTIMPL);
    }
    std::int32_t value = 0;
    std::uint32_t flags = 0;
    if (const std::error_code ec = cam::read_value_and_flags(request, value, flags)) {
        return ec;
    }
    auto packed = static_cast<std::uint32_t>(control_.value());
    const auto low = static_cast<std::uint32_t>(value) & 0xFFFF;
    packed = request.property_id == id_red ? (packed & 0xFFFF) | low << 16 : (packed & 0xFFFF0000u) | low;
    // A refused write leaves the record as the device holds it: the next
    // write of the other component carries this one from it.
    const std::error_code ec = set_control_value(channel_, control_, static_cast<std::int32_t>(packed));
    if (!ec) {
        if (utils::property_store_itf* store = channel_.property_store()) {
            store->write_int(channel_.value_name(name_), static_cast<std::int32_t>(packed));
        }
    }
    return ec;
}

void whitebalance_uvc_property::load_value(utils::property_store_itf& store)
{
    std::int64_t stored = 0;
    if (store.read_int(channel_.value_name(name_), stored)) {
        control_.set_value(static_cast<std::int32_t>(stored));
        (void)control_request(channel_, control_, set_cur);
    }
}

void whitebalance_uvc_property::reapply_value()
{
    (void)control_request(channel_, control_, set_cur);
}

} // namespace uvc_property
