#pragma once
// A standard video property over a UVC value control and, optionally, the
// control that switches it to automatic: the usual PROPSETID_VIDCAP_*
// records (and the 48-byte record of the custom set). A set persists the
// value under the property's name, the auto state under the name + ".auto"
// (each the channel's value_name of it).

#include <string>

#include "device_impl/device_impl_tools/propset.h"
#include "properties/uvc_control_channel.h"

namespace uvc_property {

class std_uvc_property final : public cam::property_req_entry_itf {
public:
    // Either control may be null (not both); the records and the channel
    // outlive the handler.
    std_uvc_property(UVCPropertyData* value_control, UVCPropertyData* auto_control, std::wstring store_name,
                     uvc_control_channel& channel);

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;
    void load_value(utils::property_store_itf& store) override;
    void reapply_value() override;

    const std::wstring& store_name() const noexcept { return name_; }
    const std::wstring& auto_store_name() const noexcept { return auto_name_; }

private:
    UVCPropertyData* value_;
    UVCPropertyData* auto_;
    std::wstring name_;
    std::wstring auto_name_;
    uvc_control_channel& channel_;
};

} // namespace uvc_property
