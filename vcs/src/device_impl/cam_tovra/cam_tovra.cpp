#include "device_impl/cam_tovra/cam_tovra.h"

#include "gen_utils/cam_error.h"
#include "gen_utils/log.h"
#include "genicam/iboolean.h"
#include "genicam/icommand.h"

namespace cam::impl {

namespace {

constexpr std::uint8_t firmware_revision_request = 0x01;
// Device-information offset 272: what kind of camera this is.
constexpr std::uint32_t tovra_interface_kind = 15;

} // namespace

cam_tovra::cam_tovra(camera_creation creation, u3v_com::genicam_file_cache& file_cache)
    : uvc_device_base(std::move(creation)),
      partial_scan_(static_cast<uvc_property::uvc_control_channel&>(*this), descriptor_tree()), port_(file_cache)
{
    device_flag_ = 1;
    pts_64bit_ = true;
    tone_mapping_.enable = false;
    tone_mapping_.auto_mode = true;
    tone_mapping_.intensity = 0.5f;
    tone_mapping_.global_brightness = 0.0f;
    tone_mapping_.mul_factor = 1.0f;
    tone_mapping_.add_factor = 0.0f;
    tone_mapping_.pow_factor = 0.0f;
    tone_mapping_.lum_avg = 0.0f;
    // Hue reports a default of 0 whatever its node says, bound or not.
    hue_.bind(nullptr, 1.0f, 0, true);
}

cam_tovra::~cam_tovra()
{
    // The pipe's thread calls process_frame until the stream is released.
    release_stream();
}

std::error_code cam_tovra::read_device_information(device_information& record)
{
    if (const std::error_code ec = uvc_device_base::read_device_information(record)) {
        return ec;
    }
    record.interface_kind = tovra_interface_kind;
    record.reserved = device_format_code(mode_.load());
    return {};
}

std::uint32_t cam_tovra::firmware_revision()
{
    if (const std::uint32_t known = firmware_revision_.load()) {
        return known;
    }
    const noxkm::control_setup setup{1, 0, firmware_revision_request, 0, 0};
    std::uint8_t bytes[4]{};
    if (const std::error_code ec =
            device().control(IOCTL_NOXKM_CONTROL_IN, &setup, sizeof setup, bytes, sizeof bytes)) {
        log_line(logging::level_trace, "[CamTovra] Failed to read the firmware revision, {}.\n", ec);
        return 0;
    }
    const std::uint32_t value = static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
                                static_cast<std::uint32_t>(bytes[2]) << 16 |
                                static_cast<std::uint32_t>(bytes[3]) << 24;
    firmware_revision_ = value;
    return value;
}

std::error_code cam_tovra::pre_start()
{
    {
        // The region the client set (auto-centre, offsets) goes out again
        // for the size the probe just applied.
        const auto lock = lock_requests();
        stream_selected_ = true;
        partial_scan_.reapply_value();
    }
    bool fix = false;
    if (utils::property_store_itf* store = property_store()) {
        std::int64_t value = 0;
        fix = store->read_int(pattern_fix_key, value) && value != 0;
    }
    pattern_fix_ = fix;
    return {};
}

std::error_code cam_tovra::post_start()
{
    if (acquisition_start_ == nullptr) {
        return {};
    }
    const std::error_code ec = [this] {
        const auto lock = lock_requests();
        return acquisition_start_->execute();
    }();
    if (ec) {
        log_line(logging::level_trace, "[CamTovra] AcquisitionStart res={}.\n", ec.message());
    }
    return ec;
}

std::error_code cam_tovra::stop_streaming()
{
    if (acquisition_stop_ == nullptr) {
        return uvc_device_base::stop_streaming();
    }
    // The pipe keeps its reads queued; release_stream stops it. A refused
    // stop leaves the camera sending, so the caller hears of it.
    const std::error_code ec = [this] {
        const auto lock = lock_requests();
        return acquisition_stop_->execute();
    }();
    if (ec) {
        log_line(logging::level_trace, "[CamTovra] AcquisitionStop res={}.\n", ec.message());
        return ec;
    }
    // What the camera still sends of the run belongs to no frame of the
    // next: nothing reaches the client until the next start. The pipe's
    // thread may need the request lock to finish its frame.
    pause_frame_path();
    return {};
}

std::error_code cam_tovra::fill_probe(const uvc_cam::input_format& format, std::uint64_t interval,
                                      uvc_cam::vs_probe_commit& probe, dim requested)
{
    if (chunk_mode_active_node_ != nullptr) {
        const auto lock = lock_requests();
        const std::error_code ec = chunk_mode_active_node_->set_val(true);
        chunk_mode_active_ = !ec;
        log_line(logging::level_trace, "[CamTovra] ChunkMode status=0x{:x}.\n", static_cast<std::uint32_t>(ec.value()));
    }
    (void)uvc_device_base::fill_probe(format, interval, probe, requested);

    const auto lock = lock_requests();
    stream_selected_ = true;
    if (!partial_scan_.has_offsets()) {
        return {};
    }
    const kyv_xu_props::frame_size size{requested.cx, requested.cy};
    const std::int32_t binning = partial_scan_.stream_binning(size);
    if (const std::error_code ec =
            partial_scan_.apply_stream_settings(static_cast<std::int32_t>(format.format_index), binning, size)) {
        log_line(logging::level_error,
                 "[CamTovra] Failed to apply the partial-scan settings (mode={}, binning={}, {}x{}), {}.\n",
                 format.format_index, binning, size.width, size.height, ec);
        return ec;
    }
    // The size is the unit's: the camera takes it in place of a frame
    // descriptor.
    probe.set_frame_index(0xFF);
    return {};
}

std::error_code cam_tovra::select_format(const stream_format& format, std::uint64_t interval)
{
    const std::error_code ec = uvc_device_base::select_format(format, interval);
    if (ec) {
        // No stream was selected: frame-interval lists may use the unit again.
        const auto lock = lock_requests();
        stream_selected_ = false;
    }
    return ec;
}

void cam_tovra::release_stream()
{
    uvc_device_base::release_stream();
    const auto lock = lock_requests();
    stream_selected_ = false;
}

bool cam_tovra::accept_input_format(uvc_cam::input_format& format)
{
    if (!partial_scan_.has_offsets()) {
        return true;
    }
    const kyv_xu_props::frame_size largest = partial_scan_.max_size();
    if (format.max_width != largest.width || format.max_height != largest.height) {
        return true;
    }
    const auto lock = lock_requests();
    const kyv_xu_props::partial_scan_size_range range =
        partial_scan_.size_range(static_cast<std::int32_t>(format.format_index));
    if (range.valid != 0) {
        format.width = range.min.width;
        format.height = range.min.height;
        format.max_width = range.max.width;
        format.max_height = range.max.height;
        format.width_step = range.step.width;
        format.height_step = range.step.height;
    }
    return true;
}

std::vector<std::uint64_t> cam_tovra::custom_frame_intervals(const stream_format_entry& entry)
{
    const std::vector<uvc_cam::input_format>& inputs = input_formats();
    if (entry.info.StreamFormatInfoId >= inputs.size()) {
        return {};
    }
    const std::uint32_t mode_value = inputs[entry.info.StreamFormatInfoId].format_index;
    const auto lock = lock_requests();
    if (stream_selected_) {
        const auto known = unit_intervals_.find(entry.info.StreamFormatInfoId);
        return known != unit_intervals_.end() ? known->second : std::vector<std::uint64_t>{};
    }
    auto intervals = partial_scan_.frame_intervals(static_cast<std::int32_t>(mode_value),
                                                   partial_scan_.binning_factor(),
                                                   {entry.info.MaxDim.cx, entry.info.MaxDim.cy});
    if (!intervals) {
        return {};
    }
    unit_intervals_[entry.info.StreamFormatInfoId] = intervals.value();
    return std::move(intervals).value();
}

} // namespace cam::impl
