#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

#include <tuple>

namespace cam {

namespace {
// Data4 compares as unsigned bytes, whatever the signedness of the platform's char.
auto ordered_fields(const property_req_key& key) noexcept
{
    const GUID& g = key.property_set;
    return std::make_tuple(static_cast<std::uint32_t>(g.Data1), static_cast<std::uint16_t>(g.Data2),
                           static_cast<std::uint16_t>(g.Data3), static_cast<std::uint8_t>(g.Data4[0]),
                           static_cast<std::uint8_t>(g.Data4[1]), static_cast<std::uint8_t>(g.Data4[2]),
                           static_cast<std::uint8_t>(g.Data4[3]), static_cast<std::uint8_t>(g.Data4[4]),
                           static_cast<std::uint8_t>(g.Data4[5]), static_cast<std::uint8_t>(g.Data4[6]),
                           static_cast<std::uint8_t>(g.Data4[7]), key.property_id);
}

// The sets that log lines name, searched in this order; any other set is
// logged as its GUID.
constexpr named_property_set named_sets[] = {
    {PROPSETID_KYV_BINNING, "PROPSETID_KYV_BINNING"},
    {PROPSETID_FWCAM1394_CUSTOM_PROP, "PROPSETID_FWCAM1394_CUSTOM_PROP"},
    {PROPSETID_DRIVER_INFO_REQ, "PROPSETID_DRIVER_INFO_REQ"},
    {PROPSETID_VIDCAP_VIDEOPROCAMP, "PROPSETID_VIDCAP_VIDEOPROCAMP"},
    {PROPSETID_VIDCAP_CAMERACONTROL, "PROPSETID_VIDCAP_CAMERACONTROL"},
    {PROPSETID_COLOR_ENHANCE, "PROPSETID_COLOR_ENHANCE"},
    {PROPSETID_GENERIC_DRIVER_INTERFACE, "PROPSETID_GENERIC_DRIVER_INTERFACE"},
    {PROPSETID_KYV_CUSTOM_PROP, "PROPSETID_KYV_CUSTOM_PROP"},
    {PROPSETID_UVC_DRIVER, "PROPSETID_UVC_DRIVER"},
    {PROPSETID_GIGECAM_CUSTOM_PROP, "PROPSETID_GIGECAM_CUSTOM_PROP"},
};
} // namespace

bool same_guid(const GUID& a, const GUID& b) noexcept
{
    return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 && a.Data4[0] == b.Data4[0] &&
           a.Data4[1] == b.Data4[1] && a.Data4[2] == b.Data4[2] && a.Data4[3] == b.Data4[3] &&
           a.Data4[4] == b.Data4[4] && a.Data4[5] == b.Data4[5] && a.Data4[6] == b.Data4[6] &&
           a.Data4[7] == b.Data4[7];
}

bool operator==(const property_req_key& a, const property_req_key& b) noexcept
{
    return a.property_id == b.property_id && same_guid(a.property_set, b.property_set);
}

bool operator<(const property_req_key& a, const property_req_key& b) noexcept
{
    return ordered_fields(a) < ordered_fields(b);
}

bool is_standard_video_set(const GUID& property_set) noexcept
{
    return same_guid(property_set, PROPSETID_VIDCAP_VIDEOPROCAMP) ||
           same_guid(property_set, PROPSETID_VIDCAP_CAMERACONTROL);
}

std::span<const named_property_set> known_property_sets() noexcept
{
    return named_sets;
}

} // namespace cam
