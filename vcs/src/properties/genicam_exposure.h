#pragma once
// Exposure of a GenICam camera: the camera-control exposure in power-of-two
// steps with its auto switch, the exposure time in seconds and the auto
// exposure's reference, upper limit and upper-limit auto on the vendor set.

#include "properties/genicam_feature.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"

namespace drv_genicam {

class exposure final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    GenICam::IFloat* time = nullptr;               // ExposureTime, µs
    GenICam::IEnumeration* auto_mode = nullptr;    // ExposureAuto
    GenICam::IInteger* auto_reference = nullptr;   // ExposureAutoReference
    GenICam::IFloat* auto_upper_limit = nullptr;   // ExposureAutoUpperLimit, µs
    GenICam::IBoolean* auto_upper_limit_auto = nullptr; // ExposureAutoUpperLimitAuto
};

// Binds ExposureTime (required: without it nothing is registered) under
// camera-control 4 and vendor 200; with ExposureAuto also each optional auto
// feature the camera has: vendor 106, 202 and 246.
void add_exposure(exposure& handler, std::span<const doc_entry> documents,
                  gen_property::gen_property_reqistry& registry);

} // namespace drv_genicam
