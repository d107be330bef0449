#pragma once
// Video-proc-amp properties over a single GenICam node: a float node scaled
// to integers (Hue, Saturation, Gamma) and an integer node as it is
// (Brightness). They serve whatever key the camera registers them under.

#include "properties/genicam_feature.h"

namespace drv_genicam {

class dshow_to_genicam_float final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    // With use_fixed_default the reply's default is fixed_default, whatever
    // the node's.
    void bind(GenICam::IFloat* feature, float factor, std::int32_t default_value, bool use_default) noexcept
    {
        node = feature;
        scale = factor;
        fixed_default = default_value;
        use_fixed_default = use_default ? 1 : 0;
    }

    float scale = 1.0F;
    GenICam::IFloat* node = nullptr;
    std::int32_t fixed_default = 0;
    std::uint8_t use_fixed_default = 0;
};

class dshow_to_genicam_int final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    void bind(GenICam::IInteger* feature) noexcept { node = feature; }

    GenICam::IInteger* node = nullptr;
};

} // namespace drv_genicam
