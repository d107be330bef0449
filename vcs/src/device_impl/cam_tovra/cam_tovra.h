#pragma once
// The camera class of every camera the service opens: a UVC camera that also
// carries a USB3 Vision GenCP register port with the device's own GenICam
// description. On top of the UVC device base it
//  - opens that port, loads the description into the camera's documents and
//    serves raw register access (PROPSETID_UVC_DRIVER id 35);
//  - binds the GenICam-backed properties (exposure, gain, strobe, trigger,
//    white balance, GPIO, flip, the proc-amp adapters) to the description's
//    features;
//  - switches the camera to chunk data and reads the block id of every frame;
//  - runs AcquisitionStart after the pipe starts and AcquisitionStop on a
//    pause (the pipe then keeps running; without AcquisitionStop the pipe
//    stops);
//  - drives the vendor extension unit: a full-size format becomes a size
//    range, the unit's settings go out with the probe and its frame-interval
//    range gives the formats' frame intervals;
//  - chooses the software image-processing mode from the offered formats and
//    publishes the matching feature groups and emulated properties;
//  - fills the processing block of every frame header (bytes 80-223).
//
// Use: construct from the opened device, `init_device()`, then the stream
// operations of the camera base under the active device's stream lock. The
// object must be destroyed on a thread that is not the pipe's.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "device_impl/cam_tovra/frame_processing_block.h"
#include "device_impl/cam_tovra/processing_mode.h"
#include "device_impl/u3v/u3v_gen_prop.h"
#include "device_impl/u3v/u3v_kyv_comm.h"
#include "device_impl/uvc/uvc_device_base.h"
#include "properties/genext_feature_groups.h"
#include "properties/genicam_dshow_adapters.h"
#include "properties/genicam_exposure.h"
#include "properties/genicam_gain.h"
#include "properties/genicam_gpio.h"
#include "properties/genicam_strobe.h"
#include "properties/genicam_trigger.h"
#include "properties/genicam_whitebalance.h"
#include "properties/kyv_xu_partial_scan.h"
#include "properties/prop_emulation_emulated_properties.h"

namespace GenICam {
class ICommand;
class IBoolean;
class IRegister;
class IPort;
} // namespace GenICam

namespace cam::impl {

class cam_tovra final : public uvc_cam::uvc_device_base {
public:
    // `file_cache` keeps the GenICam files fetched over the U3V port (the
    // process's cache unless a test gives its own).
    explicit cam_tovra(camera_creation creation,
                       u3v_com::genicam_file_cache& file_cache = u3v_com::genicam_file_cache::process_cache());
    ~cam_tovra() override;
    cam_tovra(const cam_tovra&) = delete;
    cam_tovra& operator=(const cam_tovra&) = delete;

    // -------- overrides of the camera bases
    // The base's record with interface kind 15 (offset 272) and the
    // processing mode's format code at offset 280 (1, 4, 17 or 16).
    std::error_code read_device_information(device_information& record) override;
    // Vendor request 0x01 (4 bytes), cached once read; 0 while unknown (a
    // failed request is asked again next time).
    std::uint32_t firmware_revision() override;
    std::error_code pre_start() override;
    // AcquisitionStop when the camera has it (its error is returned), the
    // pipe running on while no frame reaches the client until the next
    // start; otherwise the pipe stops.
    std::error_code stop_streaming() override;
    std::error_code init_features() override;
    // AcquisitionStart when the camera has it.
    std::error_code post_start() override;
    // Chunk mode on, the default probe, then (with partial-scan offsets) the
    // unit's mode value, binning and size; their error fails the selection.
    std::error_code fill_probe(const uvc_cam::input_format& format, std::uint64_t interval,
                               uvc_cam::vs_probe_commit& probe, dim requested) override;
    void configure_pipeline(const std::vector<uvc_cam::input_format>& formats) override;
    // The unit's intervals for the entry's format, the selected binning and
    // the entry's largest size; empty (the descriptors' intervals) without
    // them. While a stream is selected the unit is left alone and the list
    // last read for the format is answered.
    std::vector<std::uint64_t> custom_frame_intervals(const stream_format_entry& entry) override;
    void review_input_formats(std::vector<uvc_cam::input_format>&) override {}
    // Always true; a record as large as the unit's maximum becomes the unit's
    // size range.
    bool accept_input_format(uvc_cam::input_format& format) override;
    std::error_code select_format(const stream_format& format, std::uint64_t interval) override;
    void release_stream() override;
    // Chunk data, the header's processing block, tone mapping. Runs on the
    // pipe's thread; reads only the frame's valid data.
    void process_frame(frame_wrapper& frame, img::image_desc& image) override;

    // -------- state (for the active device and tests)
    image_processing_mode processing_mode() const noexcept { return mode_.load(); }
    // True once the U3V register port opened during init_features.
    bool u3v_port_open() const noexcept { return port_open_; }
    u3v_com::u3v_kyv_comm& u3v_port() noexcept { return port_; }
    // Set when ChunkModeActive was last set successfully.
    bool chunk_mode_active() const noexcept { return chunk_mode_active_.load(); }
    bool has_acquisition_start() const noexcept { return acquisition_start_ != nullptr; }
    bool has_acquisition_stop() const noexcept { return acquisition_stop_ != nullptr; }
    bool has_chunk_block_id() const noexcept { return chunk_block_id_ != nullptr; }
    std::size_t chunk_adapter_count() const noexcept { return chunk_adapters_.size(); }
    bool pattern_fix() const noexcept { return pattern_fix_.load(); }
    std::uint8_t bayer_pattern() const noexcept { return bayer_pattern_; }
    const genext::tone_mapping_settings& tone_mapping() const noexcept { return tone_mapping_; }
    genext::tone_mapping_settings& tone_mapping() noexcept { return tone_mapping_; }
    prop_emulation::emulated_properties& emulated_values() noexcept { return emulated_; }
    const kyv_xu_props::partial_scan& partial_scan_unit() const noexcept { return partial_scan_; }

    // The store key that switches the sensor pattern fix on.
    static constexpr const wchar_t* pattern_fix_key = L"apply_j003_pattern_fix";
    // The PROPSETID_UVC_DRIVER id of raw register access.
    static constexpr std::uint32_t register_access_id = u3v_com::u3v_gen_prop::property_id;

private:
    struct chunk_adapter {
        GenICam::IPort* port = nullptr;
        std::int64_t chunk_id = 0;
    };

    void bind_genicam_features();
    void bind_proc_amp_adapters();
    void collect_chunk_adapters();
    // Chunk trailers of the frame's valid data: attaches, reads the block id
    // into the header, detaches.
    void read_chunk_data(frame_wrapper& frame, std::uint64_t valid);
    void apply_tone_mapping(const img::image_desc& image, processing_block& block);

    // -------- GenICam-backed state (node pointers into the proxy's documents)
    GenICam::ICommand* acquisition_start_ = nullptr;
    GenICam::ICommand* acquisition_stop_ = nullptr;

    drv_genicam::strobe strobe_;
    drv_genicam::gpio gpio_;
    drv_genicam::gain gain_;
    drv_genicam::exposure exposure_;
    drv_genicam::trigger trigger_;
    drv_genicam::whitebalance whitebalance_;
    drv_genicam::sensor_flip_image flip_;
    drv_genicam::dshow_to_genicam_float hue_;
    drv_genicam::dshow_to_genicam_float saturation_;
    drv_genicam::dshow_to_genicam_float gamma_;
    drv_genicam::dshow_to_genicam_int brightness_;

    genext::tone_mapping_settings tone_mapping_;
    // The software proc-amp values, gamma and denoise, and the colour-enhance
    // items, whose pattern is the Bayer byte below.
    prop_emulation::emulated_properties emulated_;
    std::uint8_t bayer_pattern_ = 0;
    genext::color_transformation_settings color_transformation_;
    std::uint32_t polarization_mode_ = 0;

    // The vendor extension unit. Its requests run under the request lock,
    // and so do the camera class's own calls into it (format records,
    // frame-interval lists, stream settings): they share its offset and
    // auto-centre values, and a client may ask for frame intervals or set
    // an offset while another thread starts a stream.
    kyv_xu_props::partial_scan partial_scan_;
    // Both under the request lock. Set from the probe until the stream is
    // released: listing frame intervals would rewrite the unit's mode,
    // binning and size under the stream, so the lists last read (by format
    // id) are answered instead.
    bool stream_selected_ = false;
    std::map<std::uint32_t, std::vector<std::uint64_t>> unit_intervals_;
    std::atomic<image_processing_mode> mode_{image_processing_mode::mono};

    u3v_com::u3v_kyv_comm port_;
    bool port_open_ = false;
    std::unique_ptr<u3v_com::u3v_gen_prop> register_access_;

    GenICam::IRegister* chunk_block_id_ = nullptr;
    GenICam::IBoolean* chunk_mode_active_node_ = nullptr;
    // The ports are bound to a frame's chunks only under the request lock,
    // so that a request reading a chunk feature finds the chunk whole or
    // not bound, never one the pipe's thread is letting go of.
    std::vector<chunk_adapter> chunk_adapters_;
    std::atomic<bool> chunk_mode_active_{false};

    std::atomic<std::uint32_t> firmware_revision_{0};
    std::atomic<bool> pattern_fix_{false};
};

} // namespace cam::impl
