#pragma once
// Exposure over the UVC exposure-time-absolute control (100-us units) and the
// auto-exposure-mode control: camera-control id 4 speaks base-2 exponents of
// seconds, custom-set id 109 the raw 100-us value. A set persists the value
// under "Exposure" and the mode under "ExposureAuto" (each the channel's
// value_name of it).

#include "device_impl/device_impl_tools/propset.h"
#include "properties/uvc_control_channel.h"

namespace uvc_property {

class uvc_exposure_property final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t id_camera_control = 4;
    static constexpr std::uint32_t id_custom = 109;
    // Auto-exposure modes.
    static constexpr std::int32_t mode_manual = 1;
    static constexpr std::int32_t mode_auto = 2;
    static constexpr std::int32_t mode_aperture_priority = 8;

    // `auto_control` may be null.
    uvc_exposure_property(UVCPropertyData& exposure, UVCPropertyData* auto_control, uvc_control_channel& channel);

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;
    void load_value(utils::property_store_itf& store) override;
    void reapply_value() override;

private:
    UVCPropertyData& exposure_;
    UVCPropertyData* auto_;
    uvc_control_channel& channel_;
};

} // namespace uvc_property
