#include "sim_platform.h"

#include <stdexcept>

#include "device_impl/device_impl_tools/device_change/device_change_notify.h"
#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"
#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/win32_utils.h"
#include "usb_device.h"

namespace service_sim {

namespace {

// The stream the demonstration's clients ask for: 640x480 at 30 frames a
// second, in payloads.
sim_devices::sim_camera_options camera_options()
{
    sim_devices::sim_camera_options options;
    options.width = 640;
    options.height = 480;
    options.frames_per_second = 30;
    return options;
}

HANDLE make_event(const wchar_t* name)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name);
    if (event == nullptr) {
        throw std::runtime_error("the simulated camera's plug events cannot be created");
    }
    return event;
}

// Waits while a test holds this point (see sim_plug_events.h); at most a
// minute, so that a test that went away leaves no service hanging.
void wait_while_held(const wchar_t* hold_name, const char* what)
{
    const win32::unique_handle hold{OpenEventW(SYNCHRONIZE, FALSE, hold_name)};
    if (!hold) {
        return;
    }
    if (const win32::unique_handle held{OpenEventW(EVENT_MODIFY_STATE, FALSE, held_event_name)}) {
        SetEvent(held.get());
    }
    log_line(logging::level_warning, "[camtovra_service_sim] wait_while_held, {} held by a test.\n", what);
    if (WaitForSingleObject(hold.get(), 60000) != WAIT_OBJECT_0) {
        log_line(logging::level_error, "[camtovra_service_sim] wait_while_held, {} held for a minute: going on.\n",
                 what);
    }
}

// The camera factory, with the stop hold in front of its notifications' stop:
// that stop is the first step of the service's components' stop.
class stop_held_factory final : public cam_service::device_factory_base {
public:
    explicit stop_held_factory(cam_service::device_factory_base* inner) : inner_(inner) {}
    ~stop_held_factory() override { inner_->release(); }

    void start_device_change_notification(void* context, cam_service::device_change_callback callback) override
    {
        inner_->start_device_change_notification(context, callback);
    }
    void stop_device_change_notification() override
    {
        wait_while_held(stop_hold_event_name, "the components' stop");
        inner_->stop_device_change_notification();
    }
    HRESULT enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                              std::uint32_t* count) override
    {
        return inner_->enumerate_devices(records, capacity, count);
    }

private:
    cam_service::device_factory_base* inner_; // one reference, owned
};

} // namespace

sim_platform::sim_platform()
{
    events_[0] = make_event(unplug_event_name);
    events_[1] = make_event(replug_event_name);
    events_[2] = make_event(nullptr);
    if (!plug_in()) {
        for (HANDLE event : events_) {
            CloseHandle(event);
        }
        throw std::runtime_error("the simulated camera did not start");
    }
    watcher_ = std::thread([this] { watch(); });
}

sim_platform::~sim_platform()
{
    SetEvent(events_[2]);
    watcher_.join();
    for (HANDLE event : events_) {
        CloseHandle(event);
    }
}

camtovra::factory_platform sim_platform::factory_platform()
{
    auto platform = camtovra::factory_platform::walking(tree_);
    platform.driver_io_for = [this](std::wstring_view path) -> nox_um::driver_io& { return driver_io_for(path); };
    return platform;
}

bool sim_platform::plug_in()
{
    auto camera = std::make_shared<sim_devices::sim_camera_unit>(camera_options());
    if (!camera->start()) {
        log_line(logging::level_error, "[camtovra_service_sim] The simulated camera did not start.\n");
        return false;
    }
    auto spec = usb_device_tree::camera_from_descriptors(
        camera->io.camera.device_descriptor_bytes, camera->io.camera.configuration_bytes, camera->io.camera.strings);
    spec.interfaces = {{cam::usb_topology::camera_interface_class, camera->io.device_path()}};
    std::lock_guard lock(mutex_);
    camera_node_ = tree_.add_camera(tree_.root_hub(), 1, std::move(spec));
    camera_ = std::move(camera);
    return true;
}

bool sim_platform::unplug()
{
    std::wstring path;
    {
        std::lock_guard lock(mutex_);
        if (!camera_) {
            return false;
        }
        tree_.remove_device(camera_node_);
        camera_->io.remove_device();
        path = camera_->io.device_path();
        unplugged_ = std::move(camera_);
    }
    log_line(logging::level_warning, "[camtovra_service_sim] Camera unplugged.\n");
    announce(device_change::device_remove_complete, path);
    return true;
}

bool sim_platform::replug()
{
    std::shared_ptr<sim_devices::sim_camera_unit> former;
    {
        std::lock_guard lock(mutex_);
        if (camera_) {
            return false;
        }
        former = unplugged_;
    }
    // The simulated driver keeps process-wide state: the former camera has to
    // be gone, and with it every file a device still had open on it.
    if (former) {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (former->io.open_files() != 0) {
            if (GetTickCount64() > deadline ||
                WaitForSingleObject(events_[2], 20) == WAIT_OBJECT_0) {
                log_line(logging::level_error,
                         "[camtovra_service_sim] Replug refused: the unplugged camera still has open files.\n");
                return false;
            }
        }
        std::lock_guard lock(mutex_);
        unplugged_.reset();
    }
    former.reset();
    if (!plug_in()) {
        return false;
    }
    log_line(logging::level_warning, "[camtovra_service_sim] Camera plugged in.\n");
    std::wstring path;
    {
        std::lock_guard lock(mutex_);
        path = camera_->io.device_path();
    }
    announce(device_change::device_arrival, path);
    return true;
}

nox_um::driver_io& sim_platform::driver_io_for(std::wstring_view)
{
    std::lock_guard lock(mutex_);
    if (camera_) {
        return camera_->io;
    }
    // Opening an unplugged camera fails in its own driver, as it would on a
    // real system.
    if (unplugged_) {
        return unplugged_->io;
    }
    return nox_um::win32_driver_io();
}

void sim_platform::announce(WPARAM event, const std::wstring& path)
{
    const auto notifier = device_change::device_change_notify::current();
    if (!notifier || notifier->window() == nullptr) {
        log_line(logging::level_warning, "[camtovra_service_sim] No device-change window to tell about {}.\n",
                 utils::to_utf8(path));
        return;
    }
    auto record = device_change::make_device_interface_broadcast(path, cam::usb_topology::camera_interface_class);
    SendMessageW(notifier->window(), WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record.data()));
}

void sim_platform::watch()
{
    for (;;) {
        switch (WaitForMultipleObjects(3, events_, FALSE, INFINITE)) {
        case WAIT_OBJECT_0:
            unplug();
            break;
        case WAIT_OBJECT_0 + 1:
            replug();
            break;
        default:
            return;
        }
    }
}

cam_service::device_factory_base* sim_factory_create()
{
    // The service's components are made from here on.
    wait_while_held(start_up_hold_event_name, "the start-up");
    static std::unique_ptr<sim_platform> platform;
    static std::mutex made;
    std::lock_guard lock(made);
    try {
        if (!platform) {
            platform = std::make_unique<sim_platform>();
        }
        return new stop_held_factory(new camtovra::factory(platform->factory_platform()));
    } catch (const std::exception& error) {
        log_line(logging::level_error, "[camtovra_service_sim] No simulated camera: {}\n", error.what());
        return nullptr;
    }
}

} // namespace service_sim
