#pragma once
// White balance of a GenICam camera: the video-proc-amp auto switch, the
// one-push on the vendor set, and the three colour channels' integers.

#include "properties/genicam_feature.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"

namespace drv_genicam {

class whitebalance final : public cam::property_req_entry_itf {
public:
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

    GenICam::IEnumeration* auto_mode = nullptr; // BalanceWhiteAuto
    GenICam::IInteger* red = nullptr;
    GenICam::IInteger* green = nullptr;
    GenICam::IInteger* blue = nullptr;
    // BalanceWhiteAuto again when it has an entry "Once".
    GenICam::IEnumeration* one_push = nullptr;

private:
    GenICam::IInteger* channel(std::uint32_t id) const noexcept;
};

// BalanceWhiteAuto under video-proc-amp 7 (and vendor 107 when it has
// "Once"); the red, green and blue integers under vendor 102, 206 and 101,
// each when present.
void add_whitebalance(whitebalance& handler, std::span<const doc_entry> documents,
                      gen_property::gen_property_reqistry& registry);

} // namespace drv_genicam
