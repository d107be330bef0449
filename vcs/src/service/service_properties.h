#pragma once
// The service-wide properties that clients read and write through the
// discover service: the executable's file version (5), the setting
// "export_debug_properties" in the service-defaults store (24), the configured
// log level (25) and the service's process id (26).

#include <windows.h>

#include <cstdint>

#include "properties/property_store.h"

namespace service {

enum service_property_id : std::uint32_t {
    property_file_version = 5,
    property_export_debug_properties = 24,
    property_log_level = 25,
    property_process_id = 26,
};

// Size in bytes of a property's value; 0 for an unknown id.
std::uint32_t service_property_size(std::uint32_t id) noexcept;

// Reads property `id` into data. *data_size becomes the property's size for a
// known id; a null buffer or a buffer size of 0 is a size query (S_FALSE); a
// buffer smaller than the size gives 0x8007007A. Unknown ids: E_NOTIMPL with
// *data_size untouched. `store` may be null (no discover service).
HRESULT get_service_property(std::uint32_t id, unsigned char* data, std::uint32_t buffer_size,
                             unsigned long* data_size, utils::property_store_itf* store) noexcept;

// Writes property `id` (24 and 25 only; E_NOTIMPL for every other id).
HRESULT set_service_property(std::uint32_t id, const unsigned char* data, std::uint32_t data_size,
                             utils::property_store_itf* store) noexcept;

} // namespace service
