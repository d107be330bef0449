#include "fake_device_factory.h"

#include <stdexcept>
#include <string>
#include <utility>

#include "fake_active_device.h"
#include "memory_property_store.h"

namespace fake_devices {

fake_device_info::fake_device_info(fake_camera camera, std::shared_ptr<device_stats> stats)
    : camera_(std::move(camera)), stats_(std::move(stats))
{
    if (camera_.has_store) {
        store_ = std::make_unique<memory_property_store>();
    }
    ++stats_->records_alive;
}

fake_device_info::~fake_device_info()
{
    --stats_->records_alive;
}

cam_service::active_device_base* fake_device_info::create_device(const GUID& device_id, HKEY device_key)
{
    ++stats_->create_calls;
    if (camera_.open_fails) {
        return nullptr;
    }
    auto* device = new fake_active_device(device_id, stats_, camera_.requests);
    device->set_had_device_key(device_key != nullptr);
    ++stats_->devices_created;
    return device;
}

fake_device_factory::fake_device_factory(std::shared_ptr<device_stats> stats) : stats_(std::move(stats)) {}

std::shared_ptr<fake_device_factory> fake_device_factory::make(std::shared_ptr<device_stats> stats)
{
    return std::shared_ptr<fake_device_factory>(new fake_device_factory(std::move(stats)),
                                                cam_service::ref_count_dtor{});
}

void fake_device_factory::set_cameras(std::vector<fake_camera> cameras)
{
    std::lock_guard lock(mutex_);
    cameras_ = std::move(cameras);
}

void fake_device_factory::set_failure(HRESULT result)
{
    std::lock_guard lock(mutex_);
    failure_ = result;
}

void fake_device_factory::signal_change()
{
    void* context = nullptr;
    cam_service::device_change_callback callback = nullptr;
    {
        std::lock_guard lock(mutex_);
        context = context_;
        callback = callback_;
    }
    if (callback != nullptr) {
        callback(context);
    }
}

int fake_device_factory::enumerate_calls() const
{
    std::lock_guard lock(mutex_);
    return enumerate_calls_;
}

bool fake_device_factory::subscribed() const
{
    std::lock_guard lock(mutex_);
    return callback_ != nullptr;
}

int fake_device_factory::subscriptions() const
{
    std::lock_guard lock(mutex_);
    return subscriptions_;
}

void fake_device_factory::set_on_subscribe(std::function<void()> hook)
{
    std::lock_guard lock(mutex_);
    on_subscribe_ = std::move(hook);
}

void fake_device_factory::start_device_change_notification(void* context,
                                                          cam_service::device_change_callback callback)
{
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        hook = on_subscribe_;
    }
    if (hook) {
        hook();
    }
    std::lock_guard lock(mutex_);
    context_ = context;
    callback_ = callback;
    ++subscriptions_;
}

void fake_device_factory::throw_at_next_stop()
{
    std::lock_guard lock(mutex_);
    throw_at_next_stop_ = true;
}

void fake_device_factory::stop_device_change_notification()
{
    std::lock_guard lock(mutex_);
    if (std::exchange(throw_at_next_stop_, false)) {
        throw std::runtime_error("fake_device_factory: the change notification could not be stopped");
    }
    context_ = nullptr;
    callback_ = nullptr;
}

HRESULT fake_device_factory::enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                                               std::uint32_t* count)
{
    if (records == nullptr || count == nullptr) {
        return E_POINTER;
    }
    std::lock_guard lock(mutex_);
    ++enumerate_calls_;
    if (FAILED(failure_)) {
        return failure_;
    }
    *count = static_cast<std::uint32_t>(cameras_.size());
    if (capacity < cameras_.size()) {
        return cam_service::enumerate_more_data;
    }
    for (std::size_t i = 0; i < cameras_.size(); ++i) {
        records[i] = new fake_device_info(cameras_[i], stats_);
    }
    return S_OK;
}

std::vector<fake_camera> numbered_cameras(std::size_t count)
{
    std::vector<fake_camera> cameras;
    for (std::size_t i = 0; i < count; ++i) {
        cameras.push_back({L"cam_" + std::to_wstring(i), L"Camera " + std::to_wstring(i)});
    }
    return cameras;
}

} // namespace fake_devices
