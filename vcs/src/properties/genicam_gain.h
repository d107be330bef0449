#pragma once
// Gain of a GenICam camera: the video-proc-amp gain over the raw gain with
// its auto switch, and the vendor set's gain in hundredths of the Gain node.

#include "properties/genicam_feature.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"

namespace drv_genicam {

class gain final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    GenICam::IFloat* value = nullptr;           // Gain
    GenICam::IInteger* raw = nullptr;           // GainRawHidden
    GenICam::IEnumeration* auto_mode = nullptr; // GainAuto
};

// Binds Gain (required) under vendor 241, and under video-proc-amp 9 when
// GainRawHidden or GainAuto is there to answer it.
void add_gain(gain& handler, std::span<const doc_entry> documents, gen_property::gen_property_reqistry& registry);

} // namespace drv_genicam
