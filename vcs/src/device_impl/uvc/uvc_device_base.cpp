#include "device_impl/uvc/uvc_device_base.h"

#include <utility>

#include "device_impl/image/image_format.h"
#include "device_impl/uvc/uvc_request.h"
#include "device_impl/uvc/uvc_stream_negotiation.h"
#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "properties/genicam_node_persistence.h"

namespace cam::uvc_cam {

namespace {

std::error_code out_of_memory() { return make_cam_error(E_OUTOFMEMORY); }

std::string format_stream(const stream_format& f)
{
    return fmt::format("type={:6} dim=({:5},{:5}), buffer_length={:8}", img::fourcc_name(f.fourcc), f.width,
                       f.height, f.buffer_length);
}

} // namespace

uvc_device_base::uvc_device_base(camera_creation creation) : usb_camera_base(std::move(creation)) {}

uvc_device_base::~uvc_device_base()
{
    // The derived class has released the stream; this only makes sure that no
    // pipe thread outlives the object.
    if (stream_) {
        stream_->stop();
        std::unique_ptr<pipe_frame_stream> stream;
        {
            std::lock_guard lock(frame_stream_lock_);
            stream.swap(stream_);
        }
        stream->frames().release_stream();
    }
    pipe_.reset();
}

std::error_code uvc_device_base::uvc_request(std::uint8_t request, std::uint8_t unit_id,
                                             std::uint8_t interface_number, std::uint8_t selector,
                                             std::uint16_t length, void* buffer, std::uint32_t* transferred)
{
    return cam::uvc_cam::uvc_request(device(), request, unit_id, interface_number, selector, length, buffer,
                                     transferred);
}

std::error_code uvc_device_base::uvc_request(std::uint8_t request, std::uint8_t unit_id, std::uint8_t selector,
                                             std::uint16_t length, void* buffer)
{
    const std::uint8_t interface_number = read_u8(tree_.vc_interface(), 2);
    return uvc_request(request, unit_id, interface_number, selector, length, buffer, nullptr);
}

utils::property_store_itf* uvc_device_base::property_store()
{
    return gen_property::gen_property_reqistry::property_store();
}

std::wstring uvc_device_base::value_name(std::wstring_view name)
{
    return drv_genicam::handler_value_name(genicam_proxy().documents(), property_store(), name,
                                           drv_genicam::uvc_value_prefix);
}

std::uint32_t uvc_device_base::get_max_bus_transfer_size()
{
    return max_bus_transfer_size(tree_.pipes(), read_bus_environment(device(), property_store()));
}

std::uint32_t uvc_device_base::required_frame_buffer_size()
{
    return uvc_cam::required_frame_buffer_size(plan_.full_frame, commit_, uncompressed_image_size());
}

std::uint32_t uvc_device_base::uncompressed_image_size() const noexcept
{
    return input_compressed_ ? 0 : input_stream_format_.buffer_length;
}

void uvc_device_base::return_frame(frame_wrapper* frame)
{
    // release_stream waits for this return before it takes the stream away.
    std::lock_guard lock(frame_stream_lock_);
    if (stream_) {
        stream_->frames().return_frame(frame);
    }
}

std::error_code uvc_device_base::init_standard_properties()
{
    const std::uint8_t* configuration = nullptr;
    try {
        configuration = device().get_configuration_descriptor();
    } catch (const std::system_error& e) {
        log_line(logging::level_error, "[CamTovra] No configuration descriptor, {}.\n", e.code());
    }
    if (configuration == nullptr ||
        !tree_.build({configuration, device().configuration_descriptor_size()})) {
        return make_cam_error(E_FAIL);
    }
    vs_probe_commit current;
    if (uvc_request(uvc_req::get_cur, 0, streaming_interface, vs_probe_control, vs_probe_commit::size, current.data())) {
        log_line(logging::level_trace, "[CamTovra] Failed to fetch uvc::GET_CUR.\n");
    } else {
        commit_ = current;
    }
    log_line(logging::level_warning, "[CamTovra] >> Initializing standard properties.\n");
    standard_.build(tree_, *this, *this, suppress_standard_properties_);
    log_line(logging::level_warning, "[CamTovra] << Initializing standard properties. Done.\n");
    return init_features();
}

outcome::std_result<std::vector<stream_format_entry>> uvc_device_base::build_input_formats()
{
    const bool verbose = service_log_level.load(std::memory_order_relaxed) > 2;
    std::vector<uvc_cam::input_format> formats =
        read_input_formats(tree_, verbose, [this](uvc_cam::input_format& f) { return accept_input_format(f); });
    if (verbose) {
        log_line(logging::level_trace, "[CamTovra] DataRanges as exported by the device :\n");
        for (std::size_t i = 0; i < formats.size(); ++i) {
            const auto& f = formats[i];
            log_line(logging::level_trace,
                     "[CamTovra]     #{:2}, bFormatIndex={}, bFrameIndex={}, type={:6}, dim=({:4},{:4}) "
                     "frmInterval=(min={:8},{:8})\n",
                     i, f.format_index, f.frame_index, img::fourcc_name(input_format_fourcc(f.guid)), f.width,
                     f.height, f.min_interval, f.max_interval);
        }
    }
    inputs_ = std::move(formats);
    review_input_formats(inputs_);
    std::vector<stream_format_entry> entries;
    entries.reserve(inputs_.size());
    for (std::uint32_t i = 0; i < inputs_.size(); ++i) {
        const auto& f = inputs_[i];
        stream_format_entry e;
        e.position = i;
        e.info.StreamFormatInfoId = i;
        e.info.MediaTypeFourCC = input_format_fourcc(f.guid);
        e.info.BitsPerPixel = f.bits_per_pixel;
        e.info.MinDim = {f.width, f.height};
        e.info.MaxDim = {f.max_width, f.max_height};
        e.info.StepDim = {f.width_step, f.height_step};
        e.info.MinAvgTimePerFrame = f.min_interval;
        e.info.MaxAvgTimePerFrame = f.max_interval;
        e.info.DefaultAvgTimePerFrame = f.default_interval;
        entries.push_back(e);
    }
    if (entries.empty()) {
        return make_cam_error(E_NOTIMPL);
    }
    configure_pipeline(inputs_);
    return entries;
}

std::vector<std::uint64_t> uvc_device_base::frame_intervals(const stream_format_entry& entry)
{
    std::vector<std::uint64_t> custom = custom_frame_intervals(entry);
    if (!custom.empty()) {
        return custom;
    }
    if (entry.info.StreamFormatInfoId >= inputs_.size()) {
        return {};
    }
    const auto& input = inputs_[entry.info.StreamFormatInfoId];
    return descriptor_frame_intervals(tree_, input.format_index, input.frame_index);
}

std::error_code uvc_device_base::fill_probe(const uvc_cam::input_format& format, std::uint64_t interval,
                                            vs_probe_commit& probe, cam::dim)
{
    default_fill_probe(format, interval, probe);
    return {};
}

std::error_code uvc_device_base::select_format(const stream_format& format, std::uint64_t interval)
{
    const std::uint32_t max_transfer = get_max_bus_transfer_size();
    auto negotiated = negotiate_stream(
        device(), stream_formats(), inputs_, format, interval, max_transfer,
        [this](const uvc_cam::input_format& f, std::uint64_t i, vs_probe_commit& p, cam::dim requested) {
            return fill_probe(f, i, p, requested);
        });
    if (!negotiated) {
        return negotiated.error();
    }
    commit_ = negotiated.value().commit;
    input_stream_format_ = negotiated.value().input;
    input_compressed_ = negotiated.value().compressed;
    interval_ = negotiated.value().interval;
    return {};
}

std::error_code uvc_device_base::select_alternate_interface(std::uint8_t& endpoint)
{
    const std::uint32_t packet_size = payload_transfer_size(commit_);
    for (const pipe_info& entry : tree_.pipes()) {
        if (entry.max_packet_size < packet_size) {
            continue;
        }
        auto pipes = device().select_alternate_setting(entry.alternate_setting);
        if (!pipes) {
            log_line(logging::level_error, "[CamTovra] Failed to select single interface with alt_setting={}, {}.\n",
                     entry.alternate_setting, pipes.error());
            continue;
        }
        alternate_selected_ = true;
        log_line(logging::level_trace,
                 "[CamTovra] Selected alternate_itf_id={}, with Pipe.max_packet_size={}, due to request of "
                 "packet_size={}.\n",
                 entry.alternate_setting, entry.max_packet_size, packet_size);
        const noxkm::pipe_record& first = pipes.value().front();
        if (first.max_packet_size >= packet_size) {
            endpoint = first.endpoint_address;
            return {};
        }
    }
    return out_of_memory();
}

std::error_code uvc_device_base::prepare_stream()
{
    if (service_log_level.load(std::memory_order_relaxed) > 2) {
        log_line(logging::level_trace, "[CamTovra] Starting stream, avg_tpf={}.\n", interval_);
        log_line(logging::level_trace, "[CamTovra]     src: {}\n", format_stream(input_stream_format_));
        log_line(logging::level_trace, "[CamTovra]     dst: {}\n", format_stream(current_stream_format()));
    }
    plan_ = {};
    log_line(logging::level_trace, "[CamTovra] VSSettings : dwMaxVideoFrameSize={}, dwMaxPayloadTransferSize={}\n",
             commit_.max_video_frame_size(), commit_.max_payload_transfer_size());
    const std::vector<pipe_info>& pipes = tree_.pipes();
    std::uint8_t endpoint = 0;
    if (!is_isochronous_stream(pipes)) {
        // Without a streaming endpoint there is nothing to read from.
        if (pipes.empty()) {
            return out_of_memory();
        }
        plan_ = plan_stream_transfers(pipes, commit_, uncompressed_image_size());
        log_line(logging::level_trace, "[CamTovra] Using a transfer size of {}, full_frame={}\n", plan_.transfer_size,
                 plan_.full_frame);
        endpoint = pipes.front().endpoint_address;
    } else {
        if (const std::error_code ec = select_alternate_interface(endpoint)) {
            return ec;
        }
        plan_ = plan_stream_transfers(pipes, commit_, uncompressed_image_size());
    }
    pipe_ = nox_um::open_endpoint_pipe(device(), endpoint);
    if (!pipe_) {
        plan_ = {};
        return out_of_memory();
    }
    try {
        auto stream = std::make_unique<pipe_frame_stream>(
            pipe_, static_cast<frame_path_host&>(*this),
            plan_.full_frame ? frame_transfer_mode::full_frame : frame_transfer_mode::payload);
        if (!plan_.full_frame) {
            stream->frames().prepare_transfer_buffers(transfer_buffer_count, commit_.max_payload_transfer_size());
        }
        std::lock_guard lock(frame_stream_lock_);
        stream_ = std::move(stream);
    } catch (const std::bad_alloc&) {
        pipe_.reset();
        return out_of_memory();
    }
    return {};
}

void uvc_device_base::reset_stream_state()
{
    if (stream_) {
        stream_->frames().reset_stream_state();
    }
}

void uvc_device_base::pause_frame_path()
{
    if (stream_) {
        stream_->frames().pause();
    }
}

bool uvc_device_base::streaming() const
{
    return stream_ && pipe_ && pipe_->running() && !stream_->frames().stopping();
}

std::error_code uvc_device_base::start_streaming()
{
    if (!stream_ || !pipe_) {
        return out_of_memory();
    }
    if (streaming()) {
        // A reset now would number the frames still coming anew, from
        // the middle of the run: the client would get numbers again.
        return post_start();
    }
    reset_stream_state();
    if (!pipe_->running()) {
        if (const std::error_code ec = pipe_->set_depth(plan_.transfer_size, pipe_depth)) {
            return ec;
        }
        // Starts the pipe and queues a read into every transfer buffer.
        if (const std::error_code ec = stream_->start()) {
            return ec;
        }
    }
    return post_start();
}

std::error_code uvc_device_base::stop_streaming()
{
    if (stream_) {
        stream_->stop();
    }
    return {};
}

void uvc_device_base::release_stream()
{
    // A preparation that failed after selecting an alternate setting leaves
    // no stream, but the setting's bandwidth is still reserved.
    const bool selected = std::exchange(alternate_selected_, false);
    if (!stream_) {
        if (selected) {
            (void)device().select_alternate_setting(0);
        }
        return;
    }
    // Stopped first: the pipe's thread may be returning a frame and waits
    // for the frame stream lock meanwhile.
    stream_->stop();
    if (selected) {
        (void)device().select_alternate_setting(0);
    }
    std::unique_ptr<pipe_frame_stream> stream;
    {
        std::lock_guard lock(frame_stream_lock_);
        stream.swap(stream_);
    }
    stream->frames().release_stream();
    stream.reset();
    pipe_.reset();
    plan_ = {};
    after_release();
}

frame_input_format uvc_device_base::input_format() const
{
    const stream_format& f = input_stream_format_;
    frame_input_format out;
    out.fourcc = f.fourcc;
    out.width = f.width;
    out.height = f.height;
    out.stride = img::image_stride(f.fourcc, f.width);
    const std::uint32_t image = img::image_buffer_size(f.fourcc, f.width, f.height);
    out.buffer_length = image != 0 ? image : f.buffer_length;
    out.compressed = input_compressed_;
    out.plane_size = img::fourcc_is_planar(f.fourcc)
                         ? static_cast<std::uint32_t>(f.height) * static_cast<std::uint32_t>(std::abs(out.stride))
                         : 0;
    return out;
}

bool uvc_device_base::drop_incomplete_frames() const
{
    return debug_flags().drop_incomplete_frames.load();
}

bool uvc_device_base::force_clear_buffers() const
{
    return debug_flags().force_clear_buffers.load();
}

void uvc_device_base::output_frame(frame_wrapper& frame, const img::image_desc&)
{
    usb_camera_base::output_frame(frame);
}

} // namespace cam::uvc_cam
