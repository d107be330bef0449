#pragma once
// Counters that fake devices share with the test that made them, so a test can
// see what the code under test created, opened and released.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace fake_devices {

class device_stats {
public:
    std::atomic<int> records_alive{0};   // device-information records not yet released
    std::atomic<int> create_calls{0};    // calls of create_device
    std::atomic<int> devices_created{0}; // opened cameras handed out
    std::atomic<int> prepare_stream_calls{0};
    std::atomic<int> close_stream_calls{0};

    int devices_alive() const
    {
        std::lock_guard lock(mutex_);
        return devices_alive_;
    }
    int devices_released() const
    {
        std::lock_guard lock(mutex_);
        return devices_released_;
    }
    // Waits until at least `count` cameras have been released in all.
    bool wait_released(int count, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return devices_released_ >= count; });
    }

    void on_device_made()
    {
        std::lock_guard lock(mutex_);
        ++devices_alive_;
    }
    void on_device_released()
    {
        {
            std::lock_guard lock(mutex_);
            --devices_alive_;
            ++devices_released_;
        }
        changed_.notify_all();
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int devices_alive_ = 0;
    int devices_released_ = 0;
};

} // namespace fake_devices
