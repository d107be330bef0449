#include "properties/std_uvc_property.h"

#include "gen_utils/cam_error.h"

namespace uvc_property {

namespace {
constexpr std::uint8_t get_cur = 0x81;
constexpr std::uint8_t set_cur = 0x01;

std::int32_t field(const UVCPropertyData* control, const std::array<std::uint8_t, 16> UVCPropertyData::*member)
{
    return control == nullptr ? 0 : UVCPropertyData::read(control->*member, control->length);
}
} // namespace

std_uvc_property::std_uvc_property(UVCPropertyData* value_control, UVCPropertyData* auto_control,
                                   std::wstring store_name, uvc_control_channel& channel)
    : value_(value_control), auto_(auto_control), name_(std::move(store_name)), auto_name_(name_ + L".auto"),
      channel_(channel)
{
}

std::error_code std_uvc_property::get_request(KsPropDataRequest& request)
{
    if (value_ == nullptr && auto_ == nullptr) {
        return make_cam_error(E_NOTIMPL);
    }
    const bool standard = cam::is_standard_video_set(request.property_set);
    if (!standard && !cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return make_cam_error(E_NOTIMPL);
    }
    std::int32_t value = 0;
    std::uint32_t flags = 0;
    if (value_ != nullptr) {
        if (const std::error_code ec = control_request(channel_, *value_, get_cur)) {
            return ec;
        }
        value = value_->value();
        flags = cam::flag_manual;
    }
    if (auto_ != nullptr) {
        if (const std::error_code ec = control_request(channel_, *auto_, get_cur)) {
            return ec;
        }
        if (auto_->value() != 0) {
            flags = cam::flag_auto;
        }
    }
    const std::uint32_t capabilities = (auto_ != nullptr ? cam::flag_auto : 0) | (value_ != nullptr ? cam::flag_manual : 0);
    const std::int32_t min = field(value_, &UVCPropertyData::minimum);
    const std::int32_t max = field(value_, &UVCPropertyData::maximum);
    const std::int32_t def = field(value_, &UVCPropertyData::default_value);
    const std::int32_t step = field(value_, &UVCPropertyData::resolution);
    if (standard) {
        return cam::write_std_reply(request, capabilities, min, max, def, step, value, flags);
    }
    return cam::write_range_value_reply(request, capabilities, min, max, def, value, flags);
}

std::error_code std_uvc_property::set_request(KsPropDataRequest& request)
{
    std::int32_t value = 0;
    std::uint32_t flags = 0;
    if (const std::error_code ec = cam::read_value_and_flags(request, value, flags)) {
        return ec;
    }
    utils::property_store_itf* store = channel_.property_store();
    const bool auto_wanted = (flags & cam::flag_auto) != 0;
    if (auto_ != nullptr && (auto_->value() != 0) != auto_wanted) {
        const std::error_code ec = set_control_value(channel_, *auto_, auto_wanted ? 1 : 0);
        if (!ec && store != nullptr) {
            store->write_int(channel_.value_name(auto_name_), auto_wanted ? 1 : 0);
        }
        return ec;
    }
    if (value_ == nullptr) {
        return make_cam_error(E_NOTIMPL);
    }
    if (const std::error_code ec = set_control_value(channel_, *value_, value)) {
        return ec;
    }
    if (store != nullptr) {
        store->write_int(channel_.value_name(name_), value);
    }
    return {};
}

void std_uvc_property::load_value(utils::property_store_itf& store)
{
    std::int64_t stored = 0;
    if (value_ != nullptr && store.read_int(channel_.value_name(name_), stored)) {
        value_->set_value(static_cast<std::int32_t>(stored));
        (void)control_request(channel_, *value_, set_cur);
    }
    if (auto_ != nullptr && store.read_int(channel_.value_name(auto_name_), stored)) {
        auto_->set_value(static_cast<std::int32_t>(stored));
        (void)control_request(channel_, *auto_, set_cur);
    }
}

void std_uvc_property::reapply_value()
{
    if (value_ != nullptr) {
        (void)control_request(channel_, *value_, set_cur);
    }
    if (auto_ != nullptr) {
        (void)control_request(channel_, *auto_, set_cur);
    }
}

} // namespace uvc_property
