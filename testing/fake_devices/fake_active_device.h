#pragma once
// An opened camera without hardware: property requests go to the camera's
// handler registry when its record has one, else they read and write a small
// value table; the stream side offers two formats and four named frames,
// refuses a second channel while one is open, hands out the frames a test
// queues, and keeps the device-error listener its handle gives it, as the
// active camera device does. Tells its stats when it
// goes away.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "fake_device_stats.h"
#include "request_registry.h"

namespace fake_devices {

class fake_active_device final : public cam_service::active_device_base {
public:
    fake_active_device(const GUID& device_id, std::shared_ptr<device_stats> stats,
                       std::shared_ptr<request_registry> requests = nullptr);
    ~fake_active_device() override;

    const GUID& device_id() const noexcept { return device_id_; }
    bool had_device_key() const noexcept { return had_device_key_; }
    void set_had_device_key(bool value) noexcept { had_device_key_ = value; }

    // Format id that create_stream_channel refuses.
    static constexpr unsigned refused_format_id = 0xBAD;
    static constexpr std::uint32_t frame_count = 4;

    // Names fill their whole block, without a terminating zero.
    void set_unterminated_names(bool value);
    // Makes frame `id` the next ready frame.
    void queue_frame(std::uint64_t id);
    std::vector<std::uint64_t> released_frames();
    bool streaming();
    // What the camera does when its stream ends as a device error: tells its
    // device-error listener, from the calling thread as from the pipe's.
    void fail_stream();

    HRESULT set_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                         std::uint32_t data_size) override;
    HRESULT get_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size, void* data,
                         std::uint32_t data_size, std::uint32_t* returned) override;
    HRESULT query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support) override;
    HRESULT get_stream_format_desc(std::uint32_t buffer_size, DShowDeviceServer_StreamFormatInfo* formats,
                                   std::uint32_t* count) override;
    HRESULT get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat* format, std::uint64_t* intervals,
                                          std::uint32_t buffer_size, std::uint32_t* count) override;
    HRESULT create_stream_channel(const DShowDeviceServer_StreamFormat* format) override;
    HRESULT close_stream_channel() override;
    HRESULT get_stream_format_current(DShowDeviceServer_StreamFormat* format) override;
    HRESULT start_stream() override;
    HRESULT pause_stream() override;
    HRESULT get_base_data(void* block) override;
    HRESULT get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id) override;
    HRESULT get_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters) override;
    HRESULT release_frame(std::uint64_t frame_id) override;
    cam::stream_format get_stream_format() override;
    void set_device_error_listener(const void* owner, std::function<void()> listener) override;

private:
    using property_key = std::pair<GUID, std::uint32_t>;
    struct key_less {
        bool operator()(const property_key& a, const property_key& b) const noexcept;
    };

    GUID device_id_;
    std::shared_ptr<device_stats> stats_;
    bool had_device_key_ = false;
    std::shared_ptr<request_registry> requests_;
    std::mutex mutex_;
    std::map<property_key, std::vector<unsigned char>, key_less> values_;
    bool channel_open_ = false;
    bool streaming_ = false;
    bool unterminated_names_ = false;
    unsigned current_format_id_ = 0;
    std::vector<std::uint64_t> ready_;
    std::vector<std::uint64_t> released_;
    std::uint64_t delivered_ = 0;
    std::mutex listener_lock_;
    std::function<void()> error_listener_; // guarded by listener_lock_, held while it runs
    const void* listener_owner_ = nullptr; // guarded by listener_lock_
};

} // namespace fake_devices
