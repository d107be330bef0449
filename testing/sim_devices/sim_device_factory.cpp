#include "sim_device_factory.h"

#include <stdexcept>
#include <system_error>

#include "device_impl/camtovra/device.h"

namespace sim_devices {

namespace {

// Holds the simulated camera for as long as the device over it lives: a base
// placed before the device is destroyed after it, and only then counts the
// device gone.
struct unit_keeper {
    std::shared_ptr<sim_camera_unit> unit;
    std::shared_ptr<factory_stats> stats;

    ~unit_keeper()
    {
        unit.reset();
        {
            std::lock_guard lock(stats->lock);
            --stats->devices_alive;
        }
        stats->changed.notify_all();
    }
};

class counted_device final : private unit_keeper, public camtovra::device {
public:
    counted_device(const GUID& device_id, std::shared_ptr<sim_camera_unit> unit, std::shared_ptr<factory_stats> stats)
        : unit_keeper{std::move(unit), std::move(stats)},
          camtovra::device(device_id, unit_keeper::unit->io.device_path(), nullptr, unit_keeper::unit->io)
    {
        ++unit_keeper::stats->devices_created;
    }
};

class sim_device_info final : public cam_service::device_info_base {
public:
    sim_device_info(std::weak_ptr<sim_camera_unit> unit, std::shared_ptr<factory_stats> stats, std::wstring serial)
        : unit_(std::move(unit)), stats_(std::move(stats)), serial_(std::move(serial))
    {
    }

    const wchar_t* serial_number() const noexcept override { return serial_.c_str(); }
    const wchar_t* product_name() const noexcept override { return L"Simulated Tovra camera"; }
    utils::property_store_itf* property_store() noexcept override { return nullptr; }
    cam_service::active_device_base* create_device(const GUID& device_id, HKEY) override
    {
        // A record outlives its camera's removal; the camera itself does not.
        auto unit = unit_.lock();
        if (!unit) {
            throw std::system_error(ERROR_DEVICE_NOT_CONNECTED, std::system_category(), "Failed to open nox_um device");
        }
        ++stats_->devices_alive; // counted before the device exists: its keeper counts it gone
        return new counted_device(device_id, std::move(unit), stats_);
    }

private:
    std::weak_ptr<sim_camera_unit> unit_;
    std::shared_ptr<factory_stats> stats_;
    std::wstring serial_;
};

} // namespace

bool factory_stats::wait_all_released(std::chrono::milliseconds timeout)
{
    std::unique_lock guard(lock);
    return changed.wait_for(guard, timeout, [&] { return devices_alive.load() == 0; });
}

std::shared_ptr<sim_device_factory> sim_device_factory::make(sim_camera_options options)
{
    return std::shared_ptr<sim_device_factory>(new sim_device_factory(options), cam_service::ref_count_dtor{});
}

sim_device_factory::sim_device_factory(sim_camera_options options) : options_(options)
{
    if (!plug_in_new()) {
        throw std::runtime_error("the simulated camera did not start");
    }
}

void sim_device_factory::start_device_change_notification(void* context, cam_service::device_change_callback callback)
{
    std::lock_guard guard(lock_);
    context_ = context;
    callback_ = callback;
}

void sim_device_factory::stop_device_change_notification()
{
    std::lock_guard guard(lock_);
    context_ = nullptr;
    callback_ = nullptr;
}

HRESULT sim_device_factory::enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                                              std::uint32_t* count)
{
    if (records == nullptr || count == nullptr) {
        return E_POINTER;
    }
    std::lock_guard guard(lock_);
    *count = unit_ ? 1 : 0;
    if (capacity < *count) {
        return cam_service::enumerate_more_data;
    }
    if (unit_) {
        records[0] = new sim_device_info(unit_, stats_, L"sim_cam_" + std::to_wstring(generation_));
    }
    return S_OK;
}

void sim_device_factory::unplug()
{
    std::shared_ptr<sim_camera_unit> gone;
    {
        std::lock_guard guard(lock_);
        gone.swap(unit_);
    }
    if (gone) {
        gone->io.remove_device();
    }
    report_change();
}

bool sim_device_factory::plug_in_new()
{
    if (stats_->devices_alive.load() != 0) {
        return false;
    }
    {
        std::lock_guard guard(lock_);
        unit_.reset(); // the driver's process-wide state goes with it
        auto unit = std::make_shared<sim_camera_unit>(options_);
        if (!unit->start()) {
            return false;
        }
        unit_ = std::move(unit);
        ++generation_;
    }
    report_change();
    return true;
}

std::wstring sim_device_factory::serial_number() const
{
    std::lock_guard guard(lock_);
    return L"sim_cam_" + std::to_wstring(generation_);
}

std::shared_ptr<sim_camera_unit> sim_device_factory::unit() const
{
    std::lock_guard guard(lock_);
    return unit_;
}

void sim_device_factory::report_change()
{
    void* context = nullptr;
    cam_service::device_change_callback callback = nullptr;
    {
        std::lock_guard guard(lock_);
        context = context_;
        callback = callback_;
    }
    if (callback != nullptr) {
        callback(context);
    }
}

} // namespace sim_devices
