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

// The service's answer to one request: its HRESULT, the value bytes and the
// count it reported.
HRESULT get_from_service(IKsPropertySet* filter, std::string_view request, void* value, DWORD length,
                         DWORD& count) noexcept
{
    std::vector<std::uint8_t> instance = request_instance(request);
    if (instance.empty()) {
        return E_OUTOFMEMORY;
    }
    return filter->Get(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, named_access_id, instance.data(),
                       static_cast<DWORD>(instance.size()), value, length, &count);
}

// The same through the refresh cache: the value bytes and the count are kept
// together under the request text and the length.
HRESULT get_through_cache(IKsPropertySet* filter, std::string_view request, void* value, DWORD length, DWORD& count,
                          VCDAdapterHelper::refresh_read_cache& cache) noexcept
{
    try {
        std::vector<std::uint8_t> answer(std::size_t{length} + sizeof(count), 0);
        std::string key = VCDAdapterHelper::request_key('n', length);
        key.append(request);
        const HRESULT hr = cache.read_once(key, answer, [&](std::span<std::uint8_t> bytes) -> std::int32_t {
            DWORD reported = 0;
            const HRESULT got = get_from_service(filter, request, bytes.data(), length, reported);
            std::memcpy(bytes.data() + length, &reported, sizeof(reported));
            return got;
        });
        if (length != 0) {
            std::memcpy(value, answer.data(), length);
        }
        std::memcpy(&count, answer.data() + length, sizeof(count));
        return hr;
    } catch (...) {
        return get_from_service(filter, request, value, length, count);
    }
}

} // namespace

HRESULT named_feature_get(IKsPropertySet* filter, std::string_view request, void* value, DWORD length,
                          DWORD minimum_returned, DWORD* returned, VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    if (filter == nullptr) {
        return E_POINTER;
    }
    DWORD count = 0;
    const HRESULT hr = cache != nullptr && cache->active()
                           ? get_through_cache(filter, request, value, length, count, *cache)
                           : get_from_service(filter, request, value, length, count);
    if (returned != nullptr) {
        *returned = count;
    }
    if (FAILED(hr)) {
        return hr;
    }
    return hr == S_OK && count >= minimum_returned && count <= length ? S_OK : VCDAdapterHelper::incomplete_reply;
}

HRESULT named_feature_set(IKsPropertySet* filter, std::string_view request, const void* value, DWORD length,
                          VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    if (filter == nullptr) {
        return E_POINTER;
    }
    if (cache != nullptr) {
        cache->forget();
    }
    std::vector<std::uint8_t> instance = request_instance(request);
    if (instance.empty()) {
        return E_OUTOFMEMORY;
    }
    return filter->Set(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, named_access_id, instance.data(),
                       static_cast<DWORD>(instance.size()), const_cast<void*>(value), length);
}

bool named_read_bool(IKsPropertySet* filter, std::string_view request,
                     VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    bool value = false;
    return SUCCEEDED(named_get_flag(filter, request, value, cache)) && value;
}

HRESULT named_get_int(IKsPropertySet* filter, std::string_view request, std::int64_t& value,
                      VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    std::uint8_t bytes[named_value_size] = {};
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), named_value_size, nullptr, cache);
    if (SUCCEEDED(hr)) {
        std::memcpy(&value, bytes, sizeof(value));
    }
    return hr;
}

HRESULT named_get_double(IKsPropertySet* filter, std::string_view request, double& value,
                         VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    std::uint8_t bytes[named_value_size] = {};
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), named_value_size, nullptr, cache);
    if (SUCCEEDED(hr)) {
        std::memcpy(&value, bytes, sizeof(value));
    }
    return hr;
}

HRESULT named_get_flag(IKsPropertySet* filter, std::string_view request, bool& value,
                       VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    std::uint8_t bytes[named_value_size] = {};
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), named_value_size, nullptr, cache);
    if (SUCCEEDED(hr)) {
        value = bytes[0] != 0;
    }
    return hr;
}

HRESULT named_set_int(IKsPropertySet* filter, std::string_view request, std::int64_t value,
                      VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    return named_feature_set(filter, request, &value, sizeof(value), cache);
}

HRESULT named_set_double(IKsPropertySet* filter, std::string_view request, double value,
                         VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    return named_feature_set(filter, request, &value, sizeof(value), cache);
}

HRESULT named_get_entry(IKsPropertySet* filter, std::string_view request, std::string& name,
                        VCDAdapterHelper::refresh_read_cache* cache) noexcept
{
    char bytes[entry_name_buffer] = {};
    DWORD returned = 0;
    // The name comes without a terminator in a zero-filled buffer; a name
    // that fills the whole buffer is cut to leave the terminator room.
    const HRESULT hr = named_feature_get(filter, request, bytes, sizeof(bytes), 0, &returned, cache);
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
