#pragma once
// The gamma that the service applies in software when the camera has no
// gamma control: video-proc-amp id 5, 1 to 500 (hundredths), default 100. It
// answers like an emulated proc-amp value and is not persisted; GenICam
// clients reach the same value through the GammaRaw feature of the camera's
// own document.

#include <cstdint>

#include "properties/prop_emulation_vpa_property.h"

namespace prop_emulation {

class software_gamma final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t id = 5;
    static constexpr std::int32_t min = 1;
    static constexpr std::int32_t max = 500;
    static constexpr std::int32_t def = 100;

    software_gamma() = default;

    cam::property_req_key key() const noexcept { return {cam::PROPSETID_VIDCAP_VIDEOPROCAMP, id}; }
    // The value in hundredths; the register of the GammaRaw feature reads and
    // writes it without range check.
    std::int32_t& value() noexcept { return values_.current; }
    std::int32_t value() const noexcept { return values_.current; }
    bool in_use() const noexcept { return in_use_; }
    void set_in_use(bool used) noexcept { in_use_ = used; }

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

private:
    vpa_values values_{min, max, def, def};
    bool in_use_ = false;
};

} // namespace prop_emulation
