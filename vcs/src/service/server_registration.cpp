#include "service/server_registration.h"

#include <array>
#include <string>

#include "camtovra_service.h"
#include "service/dsdevice_handle.h"
#include "service/dsdevice_stream_channel.h"
#include "service/dshow_device_discover_service.h"

namespace service {

namespace {

using atl::key_removal;
using atl::registry_key;
using atl::registry_value;

std::wstring module_path()
{
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    path.resize(length < path.size() ? length : 0);
    return path;
}

} // namespace

const atl::registry_script& registry_script_101()
{
    static const atl::registry_script script{
        101,
        {
            registry_key{L"AppID",
                         key_removal::no_remove,
                         {},
                         {
                             registry_key{L"%APPID%", key_removal::normal,
                                          {registry_value::string(L"", L"CamTovraService")}, {}},
                             registry_key{L"CamTovraService.EXE", key_removal::normal,
                                          {registry_value::string(L"AppID", L"%APPID%")}, {}},
                             registry_key{L"%APPID%", key_removal::normal,
                                          {registry_value::dword(L"AuthenticationLevel", 1)}, {}},
                         }},
            registry_key{L"TypeLib",
                         key_removal::no_remove,
                         {},
                         {registry_key{L"%APPID%", key_removal::force_remove, {}, {}}}},
        }};
    return script;
}

const atl::registry_script& registry_script_102()
{
    static const atl::registry_script script{
        102,
        {registry_key{
            L"CLSID",
            key_removal::no_remove,
            {},
            {registry_key{
                L"{3d50eafb-2522-42c1-95bb-99fa83c0d8ca}",
                key_removal::force_remove,
                {registry_value::string(L"", L"CamTovraDiscoverService Class"),
                 registry_value::string(L"AppID", L"%APPID%")},
                {
                    registry_key{L"Programmable", key_removal::force_remove, {}, {}},
                    registry_key{L"LocalServer32", key_removal::normal, {registry_value::string(L"", L"%MODULE%")},
                                 {}},
                    registry_key{L"TypeLib", key_removal::normal,
                                 {registry_value::string(L"", L"{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}")}, {}},
                    registry_key{L"Version", key_removal::normal, {registry_value::string(L"", L"1.0")}, {}},
                }}}}}};
    return script;
}

std::span<const atl::class_object_entry> class_object_entries()
{
    // Objects made through the device and stream-channel class objects hold
    // no camera: they answer as for a lost device.
    static const std::array<atl::class_object_entry, 4> entries{{
        {L"CamTovraStreamChannel", CLSID_CamTovraStreamChannel, &registry_script_102(),
         &atl::singleton_class_factory<CDSDevice_StreamChannel>::create},
        {L"CamTovraDevice", CLSID_CamTovraDevice, &registry_script_102(),
         &atl::singleton_class_factory<CDSDevice_Handle>::create},
        {L"CamTovraDeviceInfo", CLSID_CamTovraDeviceInfo, &registry_script_101(), nullptr},
        {L"CamTovraDiscoverService", CLSID_CamTovraDiscoverService, &registry_script_102(),
         &atl::singleton_class_factory<CDShowDeviceDiscoverService>::create},
    }};
    return entries;
}

atl::replacement_map registry_replacements()
{
    std::wstring path = module_path();
    if (path.find(L' ') != std::wstring::npos) {
        path = L"\"" + path + L"\"";
    }
    return {{L"APPID", app_id_text}, {L"MODULE", path}};
}

} // namespace service
