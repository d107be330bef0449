#pragma once
// General-purpose I/O and sensor flip of a GenICam camera on the vendor set.
// The camera binds both itself (it knows its features' names).
//
// GPIO record (40 bytes, bytes 0-23 untouched): 24 i32 GPIn value, 28 GPOut
// value, 32 GPIn maximum, 36 GPOut maximum.

#include "properties/genicam_feature.h"

namespace drv_genicam {

class gpio final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t record_size = 40;

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    void bind(GenICam::IInteger* input, GenICam::IInteger* output) noexcept
    {
        gp_in = input;
        gp_out = output;
    }

    GenICam::IInteger* gp_in = nullptr;  // GPIn
    GenICam::IInteger* gp_out = nullptr; // GPOut
};

// Vendor 0x100004 (ReverseX) and 0x100005 (ReverseY): 48-byte 0/1 records.
class sensor_flip_image final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    void bind(GenICam::IBoolean* x, GenICam::IBoolean* y) noexcept
    {
        reverse_x = x;
        reverse_y = y;
    }

    GenICam::IBoolean* reverse_x = nullptr;
    GenICam::IBoolean* reverse_y = nullptr;

private:
    GenICam::IBoolean* node_for(const KsPropDataRequest& request) const noexcept;
};

} // namespace drv_genicam
