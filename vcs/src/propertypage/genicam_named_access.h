#pragma once
// Named feature access through the filter: id 4 of the GenICam-access set.
// The instance data is a zero-filled buffer of the request text's length + 72
// bytes with the text (UTF-8, no terminator of its own) at offset 8; the value
// travels in the property data. Request texts are a feature's Name followed
// by "/Value", "/Min", "/Max", "/Inc", "/Default", "/SelectedEntry",
// "/IsLocked", "/Execute" or "/IsImplemented", or for an enumeration entry
// the feature's Name, "/", the entry's Name and "/IsImplemented".

#include <windows.h>
#include <strmif.h>

#include "propertypage/refresh_read_cache.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace genicam_adapter {

// Values of integer, float and boolean features travel in 8 bytes.
inline constexpr DWORD named_value_size = 8;
// "/SelectedEntry" is read into a buffer of this size.
inline constexpr DWORD entry_name_buffer = 256;

// The filter's HRESULT; E_POINTER without a filter. Success means S_OK with
// at least `minimum_returned` bytes; another success code or fewer bytes is
// an incomplete reply (0x8007000D). `returned` gets the filter's count.
// Reads take the item's refresh cache (none: every read goes to the service);
// a write through a cache drops what it kept.
HRESULT named_feature_get(IKsPropertySet* filter, std::string_view request, void* value, DWORD length,
                          DWORD minimum_returned, DWORD* returned = nullptr,
                          VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
HRESULT named_feature_set(IKsPropertySet* filter, std::string_view request, const void* value, DWORD length,
                          VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
// True when an 8-byte read succeeds and its first byte is non-zero.
bool named_read_bool(IKsPropertySet* filter, std::string_view request,
                     VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;

// The 8-byte forms of the values.
HRESULT named_get_int(IKsPropertySet* filter, std::string_view request, std::int64_t& value,
                      VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
HRESULT named_get_double(IKsPropertySet* filter, std::string_view request, double& value,
                         VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
HRESULT named_get_flag(IKsPropertySet* filter, std::string_view request, bool& value,
                       VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
HRESULT named_set_int(IKsPropertySet* filter, std::string_view request, std::int64_t value,
                      VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
HRESULT named_set_double(IKsPropertySet* filter, std::string_view request, double value,
                         VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;
// The selected entry's name.
HRESULT named_get_entry(IKsPropertySet* filter, std::string_view request, std::string& name,
                        VCDAdapterHelper::refresh_read_cache* cache = nullptr) noexcept;

} // namespace genicam_adapter
