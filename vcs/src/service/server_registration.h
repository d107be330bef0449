#pragma once
// What the server writes to the registry: the AppID, the two registry
// scripts (101: AppID and type-library key; 102: the discover-service class)
// and the class-object table that names the script of each coclass.

#include <windows.h>

#include <span>

#include "atl/class_object_table.h"
#include "atl/registry_script.h"

namespace service {

// Both the type library's LIBID and the AppID.
inline constexpr GUID app_id = {0x4f4f96be, 0xaa39, 0x4aa0, {0x93, 0xce, 0xed, 0xf1, 0x1d, 0x1f, 0x57, 0x56}};
inline constexpr const wchar_t* app_id_text = L"{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}";
inline constexpr const wchar_t* app_id_key = L"AppID\\{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}";

const atl::registry_script& registry_script_101();
const atl::registry_script& registry_script_102();

// CamTovraStreamChannel, CamTovraDevice, CamTovraDeviceInfo,
// CamTovraDiscoverService, in this order.
std::span<const atl::class_object_entry> class_object_entries();

// %APPID% and %MODULE% (the executable's path, quoted when it holds a blank).
atl::replacement_map registry_replacements();

} // namespace service
