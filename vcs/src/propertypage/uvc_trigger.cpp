#include "propertypage/uvc_trigger.h"

#include "propertypage/ks_property_access.h"
#include "propertypage/map_strings.h"

using namespace VCDAdapterHelper;

namespace {

enum : interface_id { id_enable = 0, id_polarity = 1, id_software = 3, id_delay = 4, id_operation = 5 };

constexpr std::uint32_t bit_off = 0x4;
constexpr std::uint32_t bit_polarity = 0x1000000;
constexpr std::uint32_t bit_global_reset = 0x2000000;
constexpr std::uint32_t software_trigger_flags = 8;

} // namespace

item_data_ptr CUVCTrigger::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (filter == nullptr) {
        return {};
    }
    return make_item<CUVCTrigger>(retain(filter));
}

CUVCTrigger::CUVCTrigger(atl::com_ptr<IKsPropertySet> filter) noexcept : filter_(std::move(filter)) {}

bool CUVCTrigger::trigger_capability(std::uint32_t bit)
{
    if (!ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger)) {
        return false;
    }
    vendor_int_record record{};
    return SUCCEEDED(ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger, record, reads())) &&
           (record.capabilities & bit) != 0;
}

bool CUVCTrigger::is_interface_supported(interface_id id)
{
    switch (id) {
    case id_enable:
        return ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger);
    case id_polarity:
        return trigger_capability(bit_polarity);
    case id_operation:
        return trigger_capability(bit_global_reset);
    case id_software: {
        std::int32_t ignored = 0;
        return ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger_software) &&
               SUCCEEDED(ks_get_int(filter_.get(), vendor::trigger_software, ignored, reads()));
    }
    case id_delay: {
        vendor_float_record ignored{};
        return ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger_delay) &&
               SUCCEEDED(ks_get_float(filter_.get(), vendor::trigger_delay, ignored, reads()));
    }
    default:
        return false;
    }
}

HRESULT CUVCTrigger::get_bit(std::uint32_t bit, bool& set)
{
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger, record, reads());
    if (SUCCEEDED(hr)) {
        set = (record.flags & bit) != 0;
    }
    return hr;
}

HRESULT CUVCTrigger::set_bit(std::uint32_t bit, bool set)
{
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger, record, reads());
    if (FAILED(hr)) {
        return hr;
    }
    record.flags = set ? (record.flags | bit) : (record.flags & ~bit);
    return ks_set_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger, record, reads());
}

HRESULT CUVCTrigger::is_available(interface_id id, bool& available)
{
    if (id != id_software) {
        available = true;
        return S_OK;
    }
    bool on = false;
    const HRESULT hr = get_switch(id_enable, on);
    if (SUCCEEDED(hr)) {
        available = on;
    }
    return hr;
}

HRESULT CUVCTrigger::get_switch(interface_id id, bool& on)
{
    bool set = false;
    HRESULT hr = E_NOTIMPL;
    if (id == id_enable) {
        hr = get_bit(bit_off, set);
        set = !set;
    } else if (id == id_polarity) {
        hr = get_bit(bit_polarity, set);
    }
    if (SUCCEEDED(hr)) {
        on = set;
    }
    return hr;
}

HRESULT CUVCTrigger::set_switch(interface_id id, bool on)
{
    if (id == id_enable) {
        return set_bit(bit_off, !on);
    }
    if (id == id_polarity) {
        return set_bit(bit_polarity, on);
    }
    return E_NOTIMPL;
}

HRESULT CUVCTrigger::get_range(interface_id id, int_range& range)
{
    if (id != id_operation) {
        return E_NOTIMPL;
    }
    range = {0, 1, 0, 1};
    return S_OK;
}

HRESULT CUVCTrigger::get_value(interface_id id, std::int32_t& value)
{
    if (id != id_operation) {
        return E_NOTIMPL;
    }
    bool global_reset = false;
    const HRESULT hr = get_bit(bit_global_reset, global_reset);
    if (SUCCEEDED(hr)) {
        value = global_reset ? 1 : 0;
    }
    return hr;
}

HRESULT CUVCTrigger::set_value(interface_id id, std::int32_t value)
{
    if (id != id_operation) {
        return E_NOTIMPL;
    }
    if (value != 0 && value != 1) {
        return E_INVALIDARG;
    }
    return set_bit(bit_global_reset, value == 1);
}

HRESULT CUVCTrigger::get_abs_range(interface_id id, abs_range& range)
{
    if (id != id_delay) {
        return E_NOTIMPL;
    }
    vendor_float_record record{};
    const HRESULT hr = ks_get_float(filter_.get(), vendor::trigger_delay, record, reads());
    if (SUCCEEDED(hr)) {
        range = {record.minimum, record.maximum, record.default_value};
    }
    return hr;
}

HRESULT CUVCTrigger::get_abs_value(interface_id id, double& value)
{
    if (id != id_delay) {
        return E_NOTIMPL;
    }
    vendor_float_record record{};
    const HRESULT hr = ks_get_float(filter_.get(), vendor::trigger_delay, record, reads());
    if (SUCCEEDED(hr)) {
        value = record.value;
    }
    return hr;
}

HRESULT CUVCTrigger::set_abs_value(interface_id id, double value)
{
    if (id != id_delay) {
        return E_NOTIMPL;
    }
    return ks_set_float(filter_.get(), vendor::trigger_delay, value, reads());
}

HRESULT CUVCTrigger::get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind)
{
    if (id != id_delay) {
        return E_NOTIMPL;
    }
    atl::bstr text(L"\u00b5s");
    if (!text) {
        return E_OUTOFMEMORY;
    }
    unit = std::move(text);
    scale_kind = scale_linear;
    return S_OK;
}

HRESULT CUVCTrigger::push(interface_id id)
{
    if (id != id_software) {
        return E_NOTIMPL;
    }
    vendor_int_record record{};
    record.flags = software_trigger_flags;
    return ks_set_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::trigger_software, record, reads());
}

HRESULT CUVCTrigger::get_map_strings(interface_id id, std::vector<atl::bstr>& texts)
{
    if (id != id_operation) {
        return E_NOTIMPL;
    }
    return append_map_strings(texts, {L"Default", L"Global Reset Release"});
}
