#pragma once
// The camera layer's entry: the factory that the service's discover service
// asks for the cameras that are present, and one device-information record per
// camera, which opens it as a camtovra::device with its chain of property
// stores.
//
// What the factory asks of the system is one small record, so that a test or
// a demonstration build can stand a simulated camera where the system's device
// lists and the driver's device files would be; the service itself uses the
// Win32 defaults.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "device_impl/device_impl_tools/usb_topology/usb_topology.h"
#include "nox_um/driver_io.h"
#include "properties/property_store.h"

namespace device_change {
class device_change_notify_h;
}

namespace camtovra {

struct factory_platform {
    // The present cameras, in the system's order.
    std::function<std::vector<cam::usb_topology::camera_entry>()> list_cameras;
    // Told of each removal of a camera interface that the device-change
    // window reports, before the discover service hears of it; may be empty.
    std::function<void(std::wstring_view device_path)> camera_removed;
    // The driver access for a camera's device path. It must outlive every
    // device opened through it.
    std::function<nox_um::driver_io&(std::wstring_view device_path)> driver_io_for;
    // Below HKLM: the per-camera keys and "_service_defaults".
    std::wstring devices_path = L"Software\\Corvane\\CamTovraService\\devices";

    // The system's device lists and the driver's device files.
    static factory_platform win32();
    // The cameras of `system`'s device lists, walked by one camera list (a
    // camera keeps its last record while its interface stays and a read of
    // it fails), and the driver's device files. `system` must outlive the
    // platform.
    static factory_platform walking(cam::usb_topology::topology_platform& system);
};

// The store chain a camera reads and writes its settings through: the
// service-wide "_service_defaults" below HKLM\`devices_path` (read-only,
// consulted first), then, when `device_key` is given, the camera's own
// "properties" below it, where every write lands. Keys that do not exist
// leave their store empty; nothing throws.
std::shared_ptr<utils::property_store_itf> make_property_store(const std::wstring& devices_path, HKEY device_key);

class factory final : public cam_service::device_factory_base {
public:
    explicit factory(factory_platform platform = factory_platform::win32());
    explicit factory(std::shared_ptr<const factory_platform> platform);
    ~factory() override;

    void start_device_change_notification(void* context, cam_service::device_change_callback callback) override;
    void stop_device_change_notification() override;
    HRESULT enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                              std::uint32_t* count) override;

private:
    std::shared_ptr<const factory_platform> platform_;
    std::shared_ptr<device_change::device_change_notify_h> subscription_;
};

class device_info final : public cam_service::device_info_base {
public:
    device_info(std::shared_ptr<const factory_platform> platform, std::wstring device_path, std::wstring product_name,
                std::wstring serial_number);

    const wchar_t* serial_number() const noexcept override { return serial_number_.c_str(); }
    const wchar_t* product_name() const noexcept override { return product_name_.c_str(); }
    // The record carries no store of its own.
    utils::property_store_itf* property_store() noexcept override { return nullptr; }
    // Builds the store chain ("_service_defaults" read-only, then the camera's
    // own "properties" when a key is given) and opens the camera. Throws what
    // opening the device throws.
    cam_service::active_device_base* create_device(const GUID& device_id, HKEY device_key) override;

    const std::wstring& device_path() const noexcept { return device_path_; }

private:
    std::shared_ptr<const factory_platform> platform_;
    std::wstring device_path_;
    std::wstring product_name_;
    std::wstring serial_number_;
};

} // namespace camtovra

// A new factory with the Win32 platform, one reference owned by the caller.
extern "C" __declspec(dllexport) cam_service::device_factory_base* device_factory_create();
