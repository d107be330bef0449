#pragma once
// The camera object behind an opened USB camera: its handler registry and
// request entry, its own private property sets, the offered stream formats,
// the stream start sequence and the frame overlay. Derived classes supply
// the device-specific operations (the UVC device base, then the camera
// class).
//
// Locks: the request lock serialises every property request and everything
// else that reaches the camera's GenICam documents, their register port or
// the extension unit's values: the stream path's acquisition and chunk-mode
// commands and the pipe thread's chunk data take it too (lock_requests). The
// stream lock of the active device serialises starts, pauses and releases;
// when both are held, the stream lock is taken first. Nothing that waits for
// the pipe's thread may run under the request lock.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include <boost/outcome.hpp>

#include "device_impl/camera_base/device_information.h"
#include "device_impl/camera_base/stream_format_entry.h"
#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "device_impl/device_impl_tools/frame_server_itf.h"
#include "device_impl/device_impl_tools/propset.h"
#include "genicam/doc_builder.h"
#include "nox_um/usb_device_handle.h"
#include "properties/genicam_named_req_proxy.h"
#include "properties/prop_emulation_dbg_properties.h"
#include "properties/prop_emulation_frame_count_info.h"

namespace cam {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

// What a camera is made from: the opened device, where its frames go and its
// property store (both may be null).
struct camera_creation {
    std::shared_ptr<nox_um::usb_device_handle> device;
    frame_server_itf* sink = nullptr;
    std::shared_ptr<utils::property_store_itf> store;
};

// The debug switches of the frame path; the debug properties serve them.
using camera_debug_flags = prop_emulation::debug_flags;

class usb_camera_base : public property_req_entry_itf, public gen_property::gen_property_reqistry {
public:
    // Where the camera's own GenICam document hands out register addresses.
    static constexpr std::uint64_t own_document_address = 0xBCEA541200040000ull;

    explicit usb_camera_base(camera_creation creation);
    ~usb_camera_base() override;

    // Registers the private sets, builds the own document, initialises the
    // derived device and its formats, loads the handlers' stored values.
    std::error_code init_device();
    // Every handler stores its value in the property store.
    void unload();

    // The request entry of the active device, under the request lock. No
    // handler: E_NOTIMPL. `returned` receives the get's byte count.
    std::error_code get_request(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                                void* value, std::uint32_t value_size, std::uint32_t* returned,
                                std::uint32_t query_flags);
    std::error_code set_request(const GUID& set, std::uint32_t id, void* instance, std::uint32_t instance_size,
                                void* value, std::uint32_t value_size);

    // Selects, prepares and counts from zero; a failed preparation releases
    // the stream. Called under the active device's stream lock.
    std::error_code try_start(const stream_format& format, std::uint64_t interval);

    std::vector<stream_format_info> list_formats() const;
    // E_INVALIDARG for an id no entry has.
    outcome::std_result<std::vector<std::uint64_t>> get_frame_intervals(std::uint32_t format_id);

    // Draws the overlay into a finished frame when show-overlay is set; the
    // frame path counts and delivers it.
    void output_frame(frame_wrapper& frame);

    virtual std::error_code read_device_information(device_information& record);

    stream_format current_stream_format() const { return current_format_; }
    std::uint32_t processor_features() const noexcept { return processor_features_.load(); }
    camera_debug_flags& debug_flags() noexcept { return debug_properties_.flags(); }
    const camera_debug_flags& debug_flags() const noexcept { return debug_properties_.flags(); }
    // The debug properties, e.g. the consumer's maximum concurrency.
    const prop_emulation::dbg_properties& debug_properties() const noexcept { return debug_properties_; }
    // The frame counters as the frame path last published them.
    frame_counts counters() const noexcept { return frame_count_info_.snapshot(); }
    const std::string& driver_line() const noexcept { return driver_line_; }
    const std::string& device_line() const noexcept { return device_line_; }
    drv_genicam::genicam_named_req_proxy& genicam_proxy() noexcept { return *proxy_; }

    // -------- operations of the derived classes
    virtual std::uint32_t required_frame_buffer_size();
    virtual void return_frame(frame_wrapper* frame) = 0;
    virtual std::error_code init_standard_properties() = 0;
    virtual outcome::std_result<std::vector<stream_format_entry>> build_input_formats() = 0;
    // Every handler loads its value from the property store.
    virtual void notify_all_handlers();
    virtual std::vector<std::uint64_t> frame_intervals(const stream_format_entry& entry) = 0;
    virtual std::uint32_t firmware_revision() = 0;
    virtual std::error_code select_format(const stream_format& format, std::uint64_t interval) = 0;
    virtual std::error_code pre_start() = 0;
    virtual std::error_code prepare_stream() = 0;
    virtual void release_stream() = 0;
    // Pauses the stream; an error means the camera may still be sending.
    virtual std::error_code stop_streaming() = 0;
    virtual std::error_code start_streaming() = 0;

    // -------- the private sets (property_req_entry_itf)
    using gen_property::gen_property_reqistry::get_request;
    using gen_property::gen_property_reqistry::set_request;
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

protected:
    // The own document as GenApi text; empty when it could not be made.
    // Derived classes may add nodes before it is rendered.
    virtual std::string own_document_text();

    // The request lock, for the derived classes' own calls into what
    // requests reach.
    [[nodiscard]] std::unique_lock<std::mutex> lock_requests() { return std::unique_lock(request_lock_); }

    nox_um::usb_device_handle& device() const { return *device_; }
    // The sink the frame path delivers to: the creator's, with the counters
    // kept as the camera's on their way; null when the creator gave none.
    frame_server_itf* frame_sink() noexcept;
    const std::vector<stream_format_entry>& stream_formats() const noexcept { return formats_; }

    gcxml::doc_builder own_document_{own_document_address};

private:
    std::error_code driver_pass_through(KsPropDataRequest& request, bool set);
    std::error_code read_stored_integer(KsPropDataRequest& request);

    std::shared_ptr<nox_um::usb_device_handle> device_;
    frame_server_itf* sink_;
    // Guards the handler registry, the documents and their ports (see
    // above); a whole device exchange runs under it.
    std::mutex request_lock_;
    std::unique_ptr<drv_genicam::genicam_named_req_proxy> proxy_;
    std::vector<stream_format_entry> formats_;
    stream_format current_format_;
    std::atomic<std::uint32_t> processor_features_{0};
    std::string driver_line_;
    std::string device_line_;

    // Serves the six frame counters (PROPSETID_GENERIC_DRIVER_INTERFACE id
    // 25, level 2); counting_sink_ stores what the frame path publishes.
    prop_emulation::frame_count_info frame_count_info_;
    prop_emulation::dbg_properties debug_properties_;
    class counting_sink;
    std::unique_ptr<counting_sink> counting_sink_;
};

} // namespace cam
