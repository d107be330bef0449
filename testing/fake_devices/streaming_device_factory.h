#pragma once
// A device factory with one camera, "sim_0", whose opened device streams from
// the simulated camera (streaming_active_device). At most one such device may
// be open in a process: the simulated driver keeps process-wide state.

#include <memory>
#include <mutex>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "fake_device_stats.h"
#include "streaming_active_device.h"

namespace fake_devices {

class streaming_device_factory final : public cam_service::device_factory_base {
public:
    static std::shared_ptr<streaming_device_factory> make(streaming_options options,
                                                          std::shared_ptr<device_stats> stats =
                                                              std::make_shared<device_stats>());

    const std::shared_ptr<device_stats>& stats() const noexcept { return stats_; }

    void start_device_change_notification(void*, cam_service::device_change_callback) override {}
    void stop_device_change_notification() override {}
    HRESULT enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                              std::uint32_t* count) override;

private:
    streaming_device_factory(streaming_options options, std::shared_ptr<device_stats> stats)
        : options_(options), stats_(std::move(stats))
    {
    }

    streaming_options options_;
    std::shared_ptr<device_stats> stats_;
};

} // namespace fake_devices
