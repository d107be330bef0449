#include "propertypage/genicam_named_access.h"

#include "propertypage/ks_property_access.h"

#include <cstring>
#include <limits>
#include <vector>

namespace genicam_adapter {

namespace {

constexpr DWORD named_access_id = 4;
constexpr std::size_t text_offset = 8;
constexpr std::size_t instance_extra = 72;

// The instance data of a request; empty when it cannot be made.
std::vector<std::uint8_t> request_instance(std::string_view request) noexcept
{
    if (request.size() > std::numeric_limits<DWORD>::max() - instance_extra) {
        return {};
    }
    try {
        std::vector<std::uint8_t> instance(request.size() + instance_extra, 0);
        std::memcpy(instance.data() + text_offset, request.data(), request.size());
        return instance;
    } catch (...) {
        return {};
    }
}

} // namespace

HRESULT named_feature_get(IKsPropertySet* filter, std::string_view request, void* value, DWORD length,
                          DWORD minimum_returned, DWORD* returned) noexcept
{
    if (filter == nullptr) {
        return E_POINTER;
    }
    std::vector<std::uint8_t> instance = request_instance(request);
    if (instance.empty()) {
        return E_OUTOFMEMORY;
    }
    DWORD count = 0;
    const HRESULT hr = filter->Get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, named_access_id, instance.data(),
                                   static_cast<DWORD>(instance.size()), value, length, &count);
    if (returned != nullptr) {
        *returned = count;
    }
    if (FAILED(hr)) {
        return hr;
    }
    return hr == S_OK && count >= minimum_returned && count <= length ? S_OK : VCDAdapterHelper::incomplete_reply;
}

HRESULT named_feature_set(IKsPropertySet* filter, std::string_view request, const void* value, DWORD length) noexcept
{
    if (filter == nullptr) {
        return E_POINTER;
    }
    std::vector<std::uint8_t> instance = request_instance(request);
    if (instance.empty()) {
        return E_OUTOFMEMORY;
    }
    return filter->Set(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, named_access_id, instance.data(),
                       static_cast<DWORD>(instance.size()), const_cast<void*>(value), length);
}

bool named_read_bool(IKsPropertySet* filter, std::string_view request) noexcept
{
    bool value = false;
    return SUCCEEDED(named_get_flag(filter, request, value)) && value;
}

HRESULT named_get_int(IKsPropertySet* filter, std::string_view request, std::int64_t& value) noexcept
{
    std::uint8_t bytes[named_value_size] = {};
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), named_value_size);
    if (SUCCEEDED(hr)) {
        std::memcpy(&value, bytes, sizeof(value));
    }
    return hr;
}

HRESULT named_get_double(IKsPropertySet* filter, std::string_view request, double& value) noexcept
{
    std::uint8_t bytes[named_value_size] = {};
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), named_value_size);
    if (SUCCEEDED(hr)) {
        std::memcpy(&value, bytes, sizeof(value));
    }
    return hr;
}

HRESULT named_get_flag(IKsPropertySet* filter, std::string_view request, bool& value) noexcept
{
    std::uint8_t bytes[named_value_size] = {};
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), named_value_size);
    if (SUCCEEDED(hr)) {
        value = bytes[0] != 0;
    }
    return hr;
}

HRESULT named_set_int(IKsPropertySet* filter, std::string_view request, std::int64_t value) noexcept
{
    return named_feature_set(filter, request, &value, sizeof(value));
}

HRESULT named_set_double(IKsPropertySet* filter, std::string_view request, double value) noexcept
{
    return named_feature_set(filter, request, &value, sizeof(value));
}

HRESULT named_get_entry(IKsPropertySet* filter, std::string_view request, std::string& name) noexcept
{
    char bytes[entry_name_buffer] = {};
    DWORD returned = 0;
    // The name comes without a terminator in a zero-filled buffer; a name
    // that fills the whole buffer is cut to leave the terminator room.
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), 0, &returned);
    if (FAILED(hr)) {
        return hr;
    }
    try {
        name.assign(bytes, strnlen(bytes, sizeof(bytes) - 1));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace genicam_adapter
