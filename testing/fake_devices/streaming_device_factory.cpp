#include "streaming_device_factory.h"

namespace fake_devices {

namespace {

class streaming_device_info final : public cam_service::device_info_base {
public:
    streaming_device_info(streaming_options options, std::shared_ptr<device_stats> stats)
        : options_(options), stats_(std::move(stats))
    {
        ++stats_->records_alive;
    }
    ~streaming_device_info() override { --stats_->records_alive; }

    const wchar_t* serial_number() const noexcept override { return L"sim_0"; }
    const wchar_t* product_name() const noexcept override { return L"Simulated camera"; }
    utils::property_store_itf* property_store() noexcept override { return nullptr; }
    cam_service::active_device_base* create_device(const GUID& device_id, HKEY) override
    {
        ++stats_->create_calls;
        auto* device = new streaming_active_device(device_id, options_, stats_);
        ++stats_->devices_created;
        return device;
    }

private:
    streaming_options options_;
    std::shared_ptr<device_stats> stats_;
};

} // namespace

std::shared_ptr<streaming_device_factory> streaming_device_factory::make(streaming_options options,
                                                                         std::shared_ptr<device_stats> stats)
{
    return std::shared_ptr<streaming_device_factory>(new streaming_device_factory(options, std::move(stats)),
                                                     cam_service::ref_count_dtor{});
}

HRESULT streaming_device_factory::enumerate_devices(cam_service::device_info_base** records, std::uint32_t capacity,
                                                    std::uint32_t* count)
{
    if (records == nullptr || count == nullptr) {
        return E_POINTER;
    }
    *count = 1;
    if (capacity < 1) {
        return cam_service::enumerate_more_data;
    }
    records[0] = new streaming_device_info(options_, stats_);
    return S_OK;
}

} // namespace fake_devices
