#include "service/service_properties.h"

#include <array>
#include <cstring>

#include "gen_utils/file_version.h"
#include "gen_utils/log.h"

namespace service {

namespace {

constexpr const wchar_t* export_debug_properties = L"export_debug_properties";

struct property_row {
    std::uint32_t id;
    std::uint32_t size;
};
constexpr std::array<property_row, 4> properties{{
    {property_file_version, 8},
    {property_export_debug_properties, 4},
    {property_log_level, 4},
    {property_process_id, 8},
}};

template <class T>
void store_le(unsigned char* data, T value)
{
    std::memcpy(data, &value, sizeof(value));
}

} // namespace

std::uint32_t service_property_size(std::uint32_t id) noexcept
{
    for (const property_row& row : properties) {
        if (row.id == id) {
            return row.size;
        }
    }
    return 0;
}

HRESULT get_service_property(std::uint32_t id, unsigned char* data, std::uint32_t buffer_size,
                             unsigned long* data_size, utils::property_store_itf* store) noexcept
{
    if (data_size == nullptr) {
        return E_POINTER;
    }
    const std::uint32_t size = service_property_size(id);
    if (size == 0) {
        return E_NOTIMPL;
    }
    *data_size = size;
    if (data == nullptr || buffer_size == 0) {
        return S_FALSE;
    }
    if (buffer_size < size) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    try {
        switch (id) {
        case property_file_version: {
            const std::uint64_t version = utils::get_module_file_version().packed();
            if (version == 0) {
                return E_FAIL;
            }
            store_le(data, version);
            return S_OK;
        }
        case property_export_debug_properties: {
            std::uint32_t value = 0;
            if (store == nullptr || !call_string_callable(*store, export_debug_properties, value)) {
                return E_FAIL;
            }
            store_le(data, value);
            return S_OK;
        }
        case property_log_level:
            store_le(data, static_cast<std::uint32_t>(service_log_level.load()));
            return S_OK;
        case property_process_id:
            store_le(data, static_cast<std::uint64_t>(GetCurrentProcessId()));
            return S_OK;
        default:
            return E_NOTIMPL;
        }
    } catch (...) {
        return E_FAIL;
    }
}

HRESULT set_service_property(std::uint32_t id, const unsigned char* data, std::uint32_t data_size,
                             utils::property_store_itf* store) noexcept
{
    if (id != property_log_level && id != property_export_debug_properties) {
        return E_NOTIMPL;
    }
    if (data == nullptr || data_size == 0) {
        return E_FAIL;
    }
    if (data_size < 4) {
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    }
    if (id == property_log_level) {
        service_log_level.store(data[0]);
        return S_OK;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, data, sizeof(value));
    try {
        if (store != nullptr && store->write_int(export_debug_properties, value != 0 ? 1 : 0)) {
            return S_OK;
        }
    } catch (...) {
    }
    return E_FAIL;
}

} // namespace service
