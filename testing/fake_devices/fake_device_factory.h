#pragma once
// A device factory whose cameras a test sets: each enumeration hands out fresh
// records for the cameras present at that moment, following the factory
// contract (E_POINTER, the "more data" success code, records owned by the
// caller). Failures are set on purpose to exercise the caller's error paths.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "fake_device_stats.h"
#include "request_registry.h"

namespace fake_devices {

struct fake_camera {
    std::wstring unique_key;
    std::wstring friendly_name;
    bool open_fails = false; // create_device answers null
    bool has_store = false;  // the record carries a property store
    // Property handlers of the cameras opened from this record; without it a
    // camera echoes what was set.
    std::shared_ptr<request_registry> requests = nullptr;
};

class fake_device_info final : public cam_service::device_info_base {
public:
    fake_device_info(fake_camera camera, std::shared_ptr<device_stats> stats);
    ~fake_device_info() override;

    const wchar_t* serial_number() const noexcept override { return camera_.unique_key.c_str(); }
    const wchar_t* product_name() const noexcept override { return camera_.friendly_name.c_str(); }
    utils::property_store_itf* property_store() noexcept override { return store_.get(); }
    cam_service::active_device_base* create_device(const GUID& device_id, HKEY device_key) override;

private:
    fake_camera camera_;
    std::shared_ptr<device_stats> stats_;
    std::unique_ptr<utils::property_store_itf> store_;
};

class fake_device_factory final : public cam_service::device_factory_base {
public:
    explicit fake_device_factory(std::shared_ptr<device_stats> stats = std::make_shared<device_stats>());

    // Made with one reference; the shared pointer releases it.
    static std::shared_ptr<fake_device_factory> make(std::shared_ptr<device_stats> stats =
                                                         std::make_shared<device_stats>());

    const std::shared_ptr<device_stats>& stats() const noexcept { return stats_; }

    void set_cameras(std::vector<fake_camera> cameras);
    // A negative result makes every enumeration fail with it; S_OK restores.
    void set_failure(HRESULT result);
    // Calls the registered change callback on the calling thread, as the
    // factory's own notification thread would.
    void signal_change();
    // Runs on the thread that subscribes, each time before the subscription
    // is taken: the discover service subscribes right after its worker began,
    // so a test can hold the starting thread there.
    void set_on_subscribe(std::function<void()> hook);
    // The next stop_device_change_notification throws std::runtime_error and
    // keeps the subscription, as a factory whose notification cannot be ended.
    void throw_at_next_stop();

    int enumerate_calls() const;
    bool subscribed() const;
    int subscriptions() const;

    void start_device_change_notification(void* context, cam_service::device_change_callback callback) override;
    void stop_device_change_notification() override;
    HRESULT enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                              std::uint32_t* count) override;

private:
    std::shared_ptr<device_stats> stats_;
    mutable std::mutex mutex_; // guards every member below
    std::vector<fake_camera> cameras_;
    HRESULT failure_ = S_OK;
    int enumerate_calls_ = 0;
    int subscriptions_ = 0;
    bool throw_at_next_stop_ = false;
    void* context_ = nullptr;
    cam_service::device_change_callback callback_ = nullptr;
    std::function<void()> on_subscribe_; // guarded by mutex_, run without it
};

// "cam_<n>" keys and "Camera <n>" names.
std::vector<fake_camera> numbered_cameras(std::size_t count);

} // namespace fake_devices
