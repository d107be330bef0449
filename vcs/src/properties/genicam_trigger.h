#pragma once
// Trigger of a GenICam camera on the vendor set: trigger mode with the
// activation edge, the software trigger and the trigger delay.

#include "properties/genicam_feature.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"

namespace drv_genicam {

class trigger final : public cam::property_req_entry_itf {
public:
    // Record bits of vendor 115.
    static constexpr std::uint32_t flag_off = 0x4;
    static constexpr std::uint32_t flag_rising_edge = 0x1000000;

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    GenICam::IEnumeration* mode = nullptr;       // TriggerMode
    GenICam::ICommand* software = nullptr;       // TriggerSoftware
    GenICam::IEnumeration* activation = nullptr; // TriggerActivation
    GenICam::IFloat* delay = nullptr;            // TriggerDelay
};

// TriggerMode (required) under vendor 115; TriggerSoftware under 213 and
// TriggerDelay under 238 when present; TriggerActivation has no key.
void add_trigger(trigger& handler, std::span<const doc_entry> documents,
                 gen_property::gen_property_reqistry& registry);

} // namespace drv_genicam
