#pragma once
// The blue and red halves of the UVC white-balance component control as two
// ids of the custom set (101 blue, the low 16 bits; 102 red, the high 16
// bits). A set persists the whole packed value under the store name chosen
// by whitebalance_component_store_name.

#include <string>

#include "device_impl/device_impl_tools/propset.h"
#include "properties/uvc_control_channel.h"

namespace uvc_property {

class whitebalance_uvc_property final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t id_blue = 101;
    static constexpr std::uint32_t id_red = 102;

    whitebalance_uvc_property(UVCPropertyData& control, std::wstring store_name, uvc_control_channel& channel);

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;
    void load_value(utils::property_store_itf& store) override;
    void reapply_value() override;

    const std::wstring& store_name() const noexcept { return name_; }

private:
    UVCPropertyData& control_;
    std::wstring name_;
    uvc_control_channel& channel_;
};

} // namespace uvc_property
