#include "properties/prop_emulation_vpa_property.h"

#include "properties/property_store.h"

namespace prop_emulation {

std::error_code vpa_get(const cam::property_req_key& key, const vpa_values& values, KsPropDataRequest& request)
{
    if (!(cam::key_of(request) == key)) {
        return make_cam_error(E_NOTIMPL);
    }
    return cam::write_std_reply(request, cam::flag_manual, values.min, values.max, values.def, 1, values.current,
                                cam::flag_manual);
}

std::error_code vpa_set(const cam::property_req_key& key, vpa_values& values, const KsPropDataRequest& request)
{
    if (!(cam::key_of(request) == key)) {
        return make_cam_error(E_NOTIMPL);
    }
    auto read = cam::read_value_and_flags_result(request);
    if (!read) {
        return read.error();
    }
    const std::int32_t value = read.value().value;
    if (value < values.min || value > values.max) {
        return make_cam_error(E_INVALIDARG);
    }
    values.current = value;
    return {};
}

vpa_property::vpa_property(const GUID& set, std::uint32_t id, std::wstring name, std::int32_t min, std::int32_t max,
                           std::int32_t def, std::int32_t initial)
    : key_{set, id}, name_(std::move(name)), values_{min, max, def, initial}
{
}

std::error_code vpa_property::get_request(KsPropDataRequest& request)
{
    return vpa_get(key_, values_, request);
}

std::error_code vpa_property::set_request(KsPropDataRequest& request)
{
    return vpa_set(key_, values_, request);
}

void vpa_property::load_value(utils::property_store_itf& store)
{
    std::int64_t stored = 0;
    if (name_.empty() || !store.read_int(name_, stored)) {
        return;
    }
    // A value a set would refuse (edited by hand, or written by another
    // version with another range) keeps the current value.
    if (stored < values_.min || stored > values_.max) {
        return;
    }
    values_.current = static_cast<std::int32_t>(stored);
}

void vpa_property::save_value(utils::property_store_itf& store)
{
    if (!name_.empty()) {
        store.write_int(name_, values_.current);
    }
}

} // namespace prop_emulation
