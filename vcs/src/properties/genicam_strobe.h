#pragma once
// Strobe output of a GenICam camera as one 88-byte record of the vendor set:
// enable, delay and duration with their ranges, polarity and operation mode.
//
// Record (bytes 0-23 untouched): 24 u32 enable (1 = "On"); 28 delay value,
// 32 minimum, 36 maximum, 40 default; 44 duration value, 48 minimum,
// 52 maximum, 56 default (i32 each); 60 u32 polarity (1 = "ActiveHigh");
// 64 u32 1 when polarity is present; 68 u32 operation (0 = "FixedDuration",
// 1 = "Exposure"); 72 u32 1; 76 u32 absence bits.

#include "properties/genicam_feature.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"

namespace drv_genicam {

class strobe final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t record_size = 88;
    static constexpr std::uint32_t no_polarity = 1;
    static constexpr std::uint32_t no_delay = 2;
    static constexpr std::uint32_t no_operation_mode = 4;

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    GenICam::IEnumeration* enable = nullptr;    // StrobeEnable
    GenICam::IEnumeration* polarity = nullptr;  // StrobePolarity
    GenICam::IEnumeration* operation = nullptr; // StrobeOperation
    GenICam::IInteger* duration = nullptr;      // StrobeDuration
    GenICam::IInteger* delay = nullptr;         // StrobeDelay
};

// StrobeEnable under vendor 125 when present; the other four optional.
void add_strobe(strobe& handler, std::span<const doc_entry> documents, gen_property::gen_property_reqistry& registry);

} // namespace drv_genicam
