#include "propertypage/ks_property_access.h"

#include "propertypage/value_limits.h"

#include <cstring>

namespace VCDAdapterHelper {

namespace {
constexpr DWORD ks_header_size = 24;
constexpr DWORD largest_record = sizeof(strobe_record);

// Channel tags of the refresh cache's keys.
constexpr char ks_tag = 'k';
constexpr char camera_control_tag = 'c';
constexpr char proc_amp_tag = 'p';

HRESULT get_from_filter(IKsPropertySet* filter, const GUID& set, DWORD id, std::uint8_t* buffer, DWORD size) noexcept
{
    DWORD returned = 0;
    const HRESULT hr = filter->Get(set, id, buffer, size, buffer, size, &returned);
    if (FAILED(hr)) {
        return hr;
    }
    return hr != S_OK || returned < size ? incomplete_reply : S_OK;
}

void forget(refresh_read_cache* cache) noexcept
{
    if (cache != nullptr) {
        cache->forget();
    }
}

// A control's value and flags through the cache, as 8 bytes.
template <class Control>
HRESULT cached_control_get(char tag, Control* control, long property, LONG& value, LONG& flags,
                           refresh_read_cache* cache) noexcept
{
    if (control == nullptr) {
        return E_POINTER;
    }
    LONG answer[2] = {};
    const auto read = [&](std::span<std::uint8_t>) -> std::int32_t {
        return control->Get(property, &answer[0], &answer[1]);
    };
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(answer), sizeof(answer));
    HRESULT hr = E_UNEXPECTED;
    if (cache == nullptr) {
        hr = read(bytes);
    } else {
        try {
            hr = cache->read_once(request_key(tag, property), bytes, read);
        } catch (...) {
            hr = read(bytes); // no key: asked without the cache
        }
    }
    if (SUCCEEDED(hr)) {
        value = answer[0];
        flags = answer[1];
    }
    return hr;
}

// A control's write, which drops what the refresh kept.
template <class Control>
HRESULT forgetting_control_set(Control* control, long property, LONG value, LONG flags,
                               refresh_read_cache* cache) noexcept
{
    if (control == nullptr) {
        return E_POINTER;
    }
    forget(cache);
    return control->Set(property, value, flags);
}

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

HRESULT ks_get_record(IKsPropertySet* filter, const GUID& set, DWORD id, void* record, DWORD size,
                      refresh_read_cache* cache) noexcept
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
    HRESULT hr = E_UNEXPECTED;
    const auto read = [&](std::span<std::uint8_t> bytes) -> std::int32_t {
        return get_from_filter(filter, set, id, bytes.data(), size);
    };
    if (cache == nullptr) {
        hr = read(buffer);
    } else {
        try {
            hr = cache->read_once(request_key(ks_tag, set, id, size), std::span<std::uint8_t>(buffer, size), read);
        } catch (...) {
            hr = read(buffer); // no key: asked without the cache
        }
    }
    if (FAILED(hr)) {
        return hr;
    }
    std::memcpy(record, buffer, size);
    return S_OK;
}

HRESULT ks_set_record(IKsPropertySet* filter, const GUID& set, DWORD id, const void* record, DWORD size,
                      refresh_read_cache* cache) noexcept
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
    forget(cache);
    return filter->Set(set, id, buffer, size, buffer, size);
}

HRESULT ks_get_int(IKsPropertySet* filter, DWORD id, std::int32_t& value, refresh_read_cache* cache) noexcept
{
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record, cache);
    if (SUCCEEDED(hr)) {
        value = record.value;
    }
    return hr;
}

HRESULT ks_get_int_range(IKsPropertySet* filter, DWORD id, int_range& range, refresh_read_cache* cache) noexcept
{
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record, cache);
    if (SUCCEEDED(hr)) {
        range = {record.minimum, record.maximum, record.default_value, 1};
    }
    return hr;
}

HRESULT ks_set_int(IKsPropertySet* filter, DWORD id, std::int32_t value, refresh_read_cache* cache) noexcept
{
    vendor_int_record record{};
    record.value = value;
    record.flags = flag_manual;
    return ks_set_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record, cache);
}

HRESULT ks_get_float(IKsPropertySet* filter, DWORD id, vendor_float_record& record, refresh_read_cache* cache) noexcept
{
    return ks_get_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record, cache);
}

HRESULT ks_set_float(IKsPropertySet* filter, DWORD id, double value, refresh_read_cache* cache) noexcept
{
    if (!fits_single_precision(value)) {
        return E_INVALIDARG;
    }
    vendor_float_record record{};
    record.value = static_cast<float>(value);
    record.flags = flag_manual;
    return ks_set_record(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, id, record, cache);
}

HRESULT control_get(IAMCameraControl* control, long property, LONG& value, LONG& flags,
                    refresh_read_cache* cache) noexcept
{
    return cached_control_get(camera_control_tag, control, property, value, flags, cache);
}

HRESULT control_get(IAMVideoProcAmp* control, long property, LONG& value, LONG& flags,
                    refresh_read_cache* cache) noexcept
{
    return cached_control_get(proc_amp_tag, control, property, value, flags, cache);
}

HRESULT control_set(IAMCameraControl* control, long property, LONG value, LONG flags,
                    refresh_read_cache* cache) noexcept
{
    return forgetting_control_set(control, property, value, flags, cache);
}

HRESULT control_set(IAMVideoProcAmp* control, long property, LONG value, LONG flags,
                    refresh_read_cache* cache) noexcept
{
    return forgetting_control_set(control, property, value, flags, cache);
}

} // namespace VCDAdapterHelper
