#include "device_impl/camtovra/factory.h"

#include <utility>

#include "device_impl/camtovra/device.h"
#include "device_impl/device_impl_tools/device_change/device_change_notify.h"
#include "gen_utils/log.h"
#include "gen_utils/registry.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "properties/chained_property_store.h"
#include "properties/property_store_registry.h"

namespace camtovra {

factory_platform factory_platform::win32()
{
    return walking(cam::usb_topology::win32_topology_platform());
}

factory_platform factory_platform::walking(cam::usb_topology::topology_platform& system)
{
    // Rescans repeat the walk every few seconds while cameras stream: one
    // refused hub request must not drop a camera that is still there.
    auto cameras = std::make_shared<cam::usb_topology::camera_list>(system);
    factory_platform platform;
    platform.list_cameras = [cameras] { return cameras->find_device(); };
    platform.camera_removed = [cameras](std::wstring_view device_path) { cameras->forget(device_path); };
    platform.driver_io_for = [](std::wstring_view) -> nox_um::driver_io& { return nox_um::win32_driver_io(); };
    return platform;
}

factory::factory(factory_platform platform) : factory(std::make_shared<const factory_platform>(std::move(platform)))
{
}

factory::factory(std::shared_ptr<const factory_platform> platform) : platform_(std::move(platform)) {}

factory::~factory()
{
    stop_device_change_notification();
}

void factory::start_device_change_notification(void* context, cam_service::device_change_callback callback)
{
    // A fresh handle replaces the earlier subscription, which ends when its
    // last reference goes.
    auto handle = std::make_shared<device_change::device_change_notify_h>();
    device_change::device_change_notify::create(
        handle, [context, callback, platform = platform_](std::wstring_view interface_name,
                                                          const GUID& interface_class, bool removed) {
            if (!IsEqualGUID(interface_class, cam::usb_topology::camera_interface_class)) {
                return;
            }
            log_line(logging::level_trace, "[camtovra_service] {} of device=\"{}\" with interface id={}.\n",
                     removed ? "Removal" : "Arrival", utils::to_utf8(interface_name),
                     win32::guid_to_string(interface_class));
            if (removed && platform->camera_removed) {
                platform->camera_removed(interface_name);
            }
            callback(context);
        });
    subscription_ = std::move(handle);
}

void factory::stop_device_change_notification()
{
    subscription_.reset();
}

HRESULT factory::enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                                   std::uint32_t* count)
{
    // Records are made before the arguments are checked, and released again
    // when they cannot be handed out, as a caller asking only for the count
    // expects nothing else to change.
    std::vector<std::unique_ptr<device_info, cam_service::ref_count_dtor>> made;
    for (auto& camera : platform_->list_cameras()) {
        made.emplace_back(new device_info(platform_, std::move(camera.device_path), std::move(camera.product),
                                          std::move(camera.serial_number)));
    }
    if (records == nullptr || count == nullptr) {
        return E_POINTER;
    }
    *count = static_cast<std::uint32_t>(made.size());
    if (capacity < made.size()) {
        return cam_service::enumerate_more_data;
    }
    for (std::size_t i = 0; i < made.size(); ++i) {
        records[i] = made[i].release();
    }
    return S_OK;
}

device_info::device_info(std::shared_ptr<const factory_platform> platform, std::wstring device_path,
                         std::wstring product_name, std::wstring serial_number)
    : platform_(std::move(platform)), device_path_(std::move(device_path)), product_name_(std::move(product_name)),
      serial_number_(std::move(serial_number))
{
}

std::shared_ptr<utils::property_store_itf> make_property_store(const std::wstring& devices_path, HKEY device_key)
{
    utils::chained_property_store::store_list stores;
    {
        HKEY raw = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, devices_path.c_str(), 0, nullptr, 0, KEY_READ, nullptr, &raw,
                            nullptr) != ERROR_SUCCESS) {
            raw = nullptr;
        }
        const utils::unique_hkey devices(raw);
        // Without the "devices" key this store holds no key and answers nothing.
        stores.push_back(
            std::make_shared<utils::property_store_registry>(devices.get(), L"_service_defaults", KEY_READ));
    }
    if (device_key != nullptr) {
        stores.push_back(
            std::make_shared<utils::property_store_registry>(device_key, L"properties", KEY_READ | KEY_WRITE));
    }
    return std::make_shared<utils::chained_property_store>(std::move(stores));
}

cam_service::active_device_base* device_info::create_device(const GUID& device_id, HKEY device_key)
{
    return new device(device_id, device_path_, make_property_store(platform_->devices_path, device_key),
                      platform_->driver_io_for(device_path_));
}

} // namespace camtovra

cam_service::device_factory_base* device_factory_create()
{
    return new camtovra::factory();
}
