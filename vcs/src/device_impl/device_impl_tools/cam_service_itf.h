#pragma once
// Interfaces through which the service core reaches the camera layer: the
// device factory, one device-information record per present camera, and the
// opened camera. All are reference-counted objects released through
// ref_count_base::release, never deleted by their users.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>

// COM records of the service's interface definition (complete types come with
// the generated interface header).
struct DShowDeviceServer_StreamFormatInfo;
struct DShowDeviceServer_StreamFormat;
struct DShowDeviceServer_FrameCountInfo;

namespace utils {
class property_store_itf;
}

namespace cam {
// The camera's current stream format as it travels by value: 16 bytes.
struct stream_format {
    std::uint32_t fourcc = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint32_t buffer_length = 0; // bytes of one image
};
static_assert(sizeof(stream_format) == 16);
} // namespace cam

namespace cam_service {

// Intrusive reference count that starts at 1; release at 0 destroys the object.
class ref_count_base {
public:
    virtual ~ref_count_base() = default;

    virtual std::uint32_t add_ref() noexcept { return ++ref_count_; }
    virtual std::uint32_t release() noexcept
    {
        const std::uint32_t remaining = --ref_count_;
        if (remaining == 0) {
            delete this;
        }
        return remaining;
    }

protected:
    ref_count_base() = default;
    ref_count_base(const ref_count_base&) = delete;
    ref_count_base& operator=(const ref_count_base&) = delete;

private:
    std::atomic<std::uint32_t> ref_count_{1};
};

class active_device_base;

// Deleter for shared pointers to reference-counted objects.
struct ref_count_dtor {
    void operator()(ref_count_base* object) const noexcept
    {
        if (object != nullptr) {
            object->release();
        }
    }
};

// One present camera, as the factory found it. A snapshot: it does not follow
// later changes of the device.
class device_info_base : public ref_count_base {
public:
    // The camera's unique key (also the name of its registry key under
    // "devices"); lives as long as the record.
    virtual const wchar_t* serial_number() const noexcept = 0;
    // The camera's display name; lives as long as the record.
    virtual const wchar_t* product_name() const noexcept = 0;
    // The record's own property store, or null.
    virtual utils::property_store_itf* property_store() noexcept = 0;
    // Opens the camera. device_key is the camera's key under "devices" or null.
    // The new object carries one reference owned by the caller; errors throw.
    virtual active_device_base* create_device(const GUID& device_id, HKEY device_key) = 0;
};

using device_change_callback = void (*)(void* context);

class device_factory_base : public ref_count_base {
public:
    // Calls callback(context) from the factory's notification thread whenever a
    // camera arrives or leaves. A second call replaces the first subscription.
    virtual void start_device_change_notification(void* context, device_change_callback callback) = 0;
    virtual void stop_device_change_notification() = 0;
    // E_POINTER for null records or count; count = cameras found; with a
    // capacity below the count 0x1000006F and nothing handed out; otherwise
    // S_OK and one record (one reference each, owned by the caller) per camera.
    virtual HRESULT enumerate_devices(device_info_base** records, std::uint32_t capacity,
                                      std::uint32_t* count) = 0;
};

// Success code of enumerate_devices when the caller's array is too small.
inline constexpr HRESULT enumerate_more_data = 0x1000006F;

// An opened camera, shared by the active-device list, device handles and
// stream channels.
class active_device_base : public ref_count_base {
public:
    virtual HRESULT set_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                                 void* data, std::uint32_t data_size) = 0;
    virtual HRESULT get_property(const GUID* set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                                 void* data, std::uint32_t data_size, std::uint32_t* returned) = 0;
    virtual HRESULT query_property_support(const GUID* set, std::uint32_t id, std::uint32_t* support) = 0;
    // A short buffer answers 0x8007007A with the needed count.
    virtual HRESULT get_stream_format_desc(std::uint32_t buffer_size, DShowDeviceServer_StreamFormatInfo* formats,
                                           std::uint32_t* count) = 0;
    virtual HRESULT get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat* format,
                                                  std::uint64_t* intervals, std::uint32_t buffer_size,
                                                  std::uint32_t* count) = 0;
    // Makes the shared-memory frame channel for the format; negative: no channel.
    virtual HRESULT create_stream_channel(const DShowDeviceServer_StreamFormat* format) = 0;
    virtual HRESULT close_stream_channel() = 0;
    virtual HRESULT get_stream_format_current(DShowDeviceServer_StreamFormat* format) = 0;
    virtual HRESULT start_stream() = 0;
    virtual HRESULT pause_stream() = 0;
    // 260-byte block, zeroed by the caller: the channel's semaphore name as
    // UTF-16 in bytes 0-255, the number of frames as u32 in bytes 256-259.
    virtual HRESULT get_base_data(void* block) = 0;
    // 256-byte block, zeroed by the caller: the frame's mapping name; its id.
    virtual HRESULT get_frame_info(std::uint32_t index, void* block, std::uint64_t* frame_id) = 0;
    virtual HRESULT get_ready_frame(std::uint64_t* frame_id, DShowDeviceServer_FrameCountInfo* counters) = 0;
    virtual HRESULT release_frame(std::uint64_t frame_id) = 0;
    // The current stream format; all zero before the first stream.
    virtual cam::stream_format get_stream_format() = 0;
    // `listener` is called when the camera's stream ends as a device error,
    // from the camera's own threads. It replaces the last listener; a null
    // one removes the listener only if `owner` set it (a handle that goes
    // away must not remove the listener of the handle that followed it).
    // Once this returns, a listener it removed or replaced no longer runs.
    virtual void set_device_error_listener(const void* owner, std::function<void()> listener)
    {
        static_cast<void>(owner);
        static_cast<void>(listener);
    }
};

} // namespace cam_service
