#pragma once
// One DirectShow filter instance per present camera in the video-input device
// category, in the 64-bit and the 32-bit registry view of HKEY_CLASSES_ROOT, so
// that capture applications of both kinds find the camera. The instance points
// at the client capture filter and carries what that filter needs to reach the
// service. Instances are removed again when the camera leaves or the service
// stops; the camera's device key stays.
//
// No lock of its own: the discover service calls it under its lock.

#include <windows.h>
#include <strmif.h>
#include <wrl/client.h>

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "gen_utils/registry.h"
#include "service/device_registry.h"

namespace DRM {

// The filter a camera's instance is registered for.
struct filter_description {
    CLSID clsid{};
    const REGFILTER2* registration = nullptr;
};

// The client capture filter: merit "do not use", one video output pin.
const filter_description& camera_filter();

class enumerator {
public:
    static constexpr std::wstring_view default_devices_path = L"Software\\Corvane\\CamTovraService\\devices";
    // Marks instances that the service made, so that they can be cleaned up
    // after a crash; instances of other programs never carry it.
    static constexpr std::wstring_view remove_on_close_value = L"CamTovraService_RemoveEntryOnClose";
    static constexpr std::wstring_view device_path_prefix = L"dshowdeviceservice:";

    // Creates the system filter mapper (COM must be initialised) and opens or
    // creates the devices key under HKLM. Throws std::runtime_error
    // "Failed to fetch CLSID_FilterMapper2." or "The registry key for the
    // registered devices could not be opened.".
    explicit enumerator(std::wstring devices_path = std::wstring(default_devices_path));
    // The same with a filter mapper of the caller's.
    enumerator(Microsoft::WRL::ComPtr<IFilterMapper2> filter_mapper, std::wstring devices_path);

    // Deletes every instance marked for removal in both views and marks every
    // entry removed.
    void reset();

    // Loads the entry of one device key; keys without a readable instance
    // CLSID (such as "_service_defaults") and keys that cannot be opened are skipped.
    void load_device(std::wstring_view key_name);
    // load_device for every subkey of the devices key.
    void load_devices();

    std::optional<device_entry> find(std::wstring_view unique_key) const;

    // Brings the camera's entry and filter instance up to date. True when the
    // camera was registered already under this friendly name (nothing to
    // announce). Throws what create_device_key throws.
    bool register_device(std::wstring_view unique_key, std::wstring_view friendly_name,
                         const filter_description& filter);

    // Registers the entry's filter instance in both views; false (and nothing
    // left registered) when that fails.
    bool register_filter_instance(const device_entry& entry, const filter_description& filter);

    // Removes an instance from the filter mapper and both views; errors are ignored.
    void unregister_filter_instance(const GUID& instance_clsid, const GUID& filter_clsid);

    // The camera left: its instance is unregistered and its entry marked removed.
    void unregister_device(std::wstring_view unique_key);

    // The camera's device key, recreated with its values when it went missing.
    // Null when it can be neither opened nor created.
    utils::unique_hkey open_device_key(const device_entry& entry) const;

    // "CLSID\{860BB310-...}\Instance", below HKEY_CLASSES_ROOT.
    const std::wstring& instance_root() const { return instance_root_; }

private:
    void purge_instances(REGSAM view_access);
    void write_instance_values(HKEY instance_key, const device_entry& entry) const;

    std::map<std::wstring, device_entry> entries_;
    Microsoft::WRL::ComPtr<IFilterMapper2> filter_mapper_;
    utils::unique_hkey devices_key_;
    std::wstring devices_path_;
    std::wstring instance_root_;
};

} // namespace DRM
