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
    : uvc_device_base(std::move(creation)), port_(file_cache)
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
    // Plug point: the partial-scan unit brings its cached controls up to date
    // here, before the pattern-fix flag is read.
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
    const std::error_code ec = acquisition_start_->execute();
    if (ec) {
        log_line(logging::level_trace, "[CamTovra] AcquisitionStart res={}.\n", ec.message());
    }
    return ec;
}

void cam_tovra::stop_streaming()
{
    if (acquisition_stop_ == nullptr) {
        uvc_device_base::stop_streaming();
        return;
    }
    // The pipe keeps its reads queued; release_stream stops it.
    if (const std::error_code ec = acquisition_stop_->execute()) {
        log_line(logging::level_trace, "[CamTovra] AcquisitionStop res={}.\n", ec.message());
    }
}

void cam_tovra::fill_probe(const uvc_cam::input_format& format, std::uint64_t interval,
                           uvc_cam::vs_probe_commit& probe)
{
    if (chunk_mode_active_node_ != nullptr) {
        const std::error_code ec = chunk_mode_active_node_->set_val(true);
        chunk_mode_active_ = !ec;
        log_line(logging::level_trace, "[CamTovra] ChunkMode status=0x{:x}.\n", static_cast<std::uint32_t>(ec.value()));
    }
    uvc_device_base::fill_probe(format, interval, probe);
    // Plug point: with partial-scan offsets the unit's stream settings are
    // applied here (binning, requested size) and bFrameIndex becomes 0xFF.
}

bool cam_tovra::accept_input_format(uvc_cam::input_format&)
{
    // Plug point: the partial-scan unit turns a full-size record into a size
    // range here.
    return true;
}

std::vector<std::uint64_t> cam_tovra::custom_frame_intervals(const stream_format_entry&)
{
    // Plug point: the partial-scan unit's frame intervals; none until then, so
    // the descriptors' intervals apply.
    return {};
}

} // namespace cam::impl
