#include "propertypage/ks_property_access.h"

#include <cstring>

namespace VCDAdapterHelper {

namespace {
constexpr DWORD ks_header_size = 24;
constexpr DWORD largest_record = sizeof(strobe_record);
} // namespace

bool ks_query_supported(IKsPropertySet* filter, const GUID& set, DWORD id) noexcept
{
    if (filter == nullptr) {
        return false;
    }
    DWORD support = 0;
    const HRESULT hr = filter->QuerySupported(set, id, &support);
    return SUCCEEDED(hr) && (support & (KSPROPERTY_SUPPORT_GET | KSPROPERTY_SUPPORT_SET)) != 0;
}

HRESULT ks_get_record(IKsPropertySet* filter, const GUID& set, DWORD id, void* record, DWORD size) noexcept
{
    if (filter == nullptr) {
        return E_POINTER;
    }
    if (record == nullptr || size < ks_header_size || size > largest_record) {
        return E_INVALIDARG;
    }
    // The filter writes into a buffer of our own: the caller's record changes
    // only when a whole one came back.
    std::uint8_t buffer[largest_record] = {};
    DWORD returned = 0;
    const HRESULT hr = filter->Get(set, id, buffer, size, buffer, size, &returned);
    if (FAILED(hr)) {
        return hr;
    }
    if (hr != S_OK || returned < size) {
        return incomplete_reply;
    }
    std::memcpy(record, buffer, size);
    return S_OK;
}

HRESULT ks_set_record(IKsPropertySet* filter, const GUID& set, DWORD id, const void* record, DWORD size) noexcept
{
    if (filter == nullptr) {
        return E_POINTER;
    }
    if (record == nullptr || size < ks_header_size || size > largest_record) {
        return E_INVALIDARG;
    }
    std::uint8_t buffer[largest_record] = {};
    std::memcpy(buffer + ks_header_size, static_cast<const std::uint8_t*>(record) + ks_header_size,
                size - ks_header_size);
    return filter->Set(set, id, buffer, size, buffer, size);
}

HRESULT ks_get_int(IKsPropertySet* filter, DWORD id, std::int32_t& value) noexcept
{
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
    if (SUCCEEDED(hr)) {
        value = record.value;
    }
    return hr;
}

HRESULT ks_get_int_range(IKsPropertySet* filter, DWORD id, int_range& range) noexcept
{
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
    if (SUCCEEDED(hr)) {
        range = {record.minimum, record.maximum, record.default_value, 1};
    }
    return hr;
}

HRESULT ks_set_int(IKsPropertySet* filter, DWORD id, std::int32_t value) noexcept
{
    vendor_int_record record{};
    record.value = value;
    record.flags = flag_manual;
    return ks_set_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
}

HRESULT ks_get_float(IKsPropertySet* filter, DWORD id, vendor_float_record& record) noexcept
{
    return ks_get_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
}

HRESULT ks_set_float(IKsPropertySet* filter, DWORD id, float value) noexcept
{
    vendor_float_record record{};
    record.value = value;
    record.flags = flag_manual;
    return ks_set_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
}

} // namespace VCDAdapterHelper
