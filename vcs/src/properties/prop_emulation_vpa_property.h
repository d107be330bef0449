#pragma once
// A video-proc-amp value that the service keeps itself because the camera
// lacks the control: the frame's consumer applies it to the image. A set only
// changes the value (range checked); nothing reaches the camera. With a
// persistence name the value is loaded from and saved to the property store.

#include <cstdint>
#include <string>

#include "device_impl/device_impl_tools/propset.h"

namespace prop_emulation {

// Range, default and current value of one emulated value.
struct vpa_values {
    std::int32_t min = 0;
    std::int32_t max = 0;
    std::int32_t def = 0;
    std::int32_t current = 0;
};

// get: the key must be `key` (else 0x80004001); the standard reply with
// capabilities 2, step 1, flags 2.
std::error_code vpa_get(const cam::property_req_key& key, const vpa_values& values, KsPropDataRequest& request);
// set: the key must be `key` (else 0x80004001); a value within [min, max]
// becomes the current value, any other 0x80070057.
std::error_code vpa_set(const cam::property_req_key& key, vpa_values& values, const KsPropDataRequest& request);

class vpa_property final : public cam::property_req_entry_itf {
public:
    // `name` empty: not persisted.
    vpa_property(const GUID& set, std::uint32_t id, std::wstring name, std::int32_t min, std::int32_t max,
                 std::int32_t def, std::int32_t initial);

    const cam::property_req_key& key() const noexcept { return key_; }
    std::int32_t value() const noexcept { return values_.current; }
    // The current value itself, for the register of a GenICam feature that
    // reads and writes it without range check.
    std::int32_t& current() noexcept { return values_.current; }
    const vpa_values& values() const noexcept { return values_; }
    // Registered for its key because no other handler answers it.
    bool in_use() const noexcept { return in_use_; }
    // The persistence name; empty when not persisted.
    const std::wstring& name() const noexcept { return name_; }
    void set_name(std::wstring name) { name_ = std::move(name); }
    void set_in_use(bool used) noexcept { in_use_ = used; }

    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;
    // A stored value outside [min, max] is ignored.
    void load_value(utils::property_store_itf& store) override;
    void save_value(utils::property_store_itf& store) override;

private:
    cam::property_req_key key_;
    std::wstring name_;
    vpa_values values_;
    bool in_use_ = false;
};

} // namespace prop_emulation
