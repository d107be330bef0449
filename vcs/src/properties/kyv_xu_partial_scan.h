#pragma once
// The vendor extension unit of the camera family: partial-scan region (width,
// height, X and Y offset, auto-centre), binning / scaling modes and the frame
// interval range that results from the current settings. The handler exposes
// them as properties of PROPSETID_FWCAM1394_CUSTOM_PROP and
// PROPSETID_KYV_BINNING, applies them when a stream starts and lists the
// frame intervals of a format.
//
// The camera class owns one and calls, in this order:
//   probe_and_register   once, while it sets up its features;
//   size_range           from accept_input_format, for formats as large as
//                        the unit's maximum (when has_offsets);
//   frame_intervals      from custom_frame_intervals;
//   stream_binning, apply_stream_settings
//                        from fill_probe (when has_offsets);
//   reapply_value        from pre_start, to bring the unit's region controls
//                        up to date before frames flow.
// Requests and these calls run under the camera's request or stream lock;
// the handler takes no lock of its own.

#include <boost/outcome.hpp>

#include <array>
#include <cstdint>
#include <vector>

#include "device_impl/device_impl_tools/propset.h"
#include "device_impl/uvc/uvc_descriptor_tree.h"
#include "properties/uvc_control_channel.h"

namespace kyv_xu_props {

namespace outcome = BOOST_OUTCOME_V2_NAMESPACE;

// Extension-unit control selectors.
namespace xu {
inline constexpr std::uint32_t mode_value = 16;
inline constexpr std::uint32_t width = 17;
inline constexpr std::uint32_t height = 18;
inline constexpr std::uint32_t binning = 19;
inline constexpr std::uint32_t frame_interval = 20;
inline constexpr std::uint32_t x_offset = 21;
inline constexpr std::uint32_t y_offset = 22;
inline constexpr std::uint32_t auto_center = 23;
inline constexpr std::uint32_t scaling_mode_info = 48;
inline constexpr std::uint32_t extra_values = 51;
} // namespace xu

// Ids of PROPSETID_FWCAM1394_CUSTOM_PROP and PROPSETID_KYV_BINNING.
inline constexpr std::uint32_t id_x_offset = 118;
inline constexpr std::uint32_t id_y_offset = 119;
inline constexpr std::uint32_t id_auto_center = 211;
inline constexpr std::uint32_t id_binning_factor = 212;
inline constexpr std::uint32_t id_reverse_x = 0x100004;
inline constexpr std::uint32_t id_reverse_y = 0x100005;
inline constexpr std::uint32_t id_scaling_modes = 1;

// 8 bytes as the device reports the selected scaling mode: mode id (0: no
// mode), X scale, Y scale, four further parameters, one unused byte.
using scaling_mode_info = std::array<std::uint8_t, 8>;

struct frame_size {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

struct partial_scan_size_range {
    frame_size min;
    frame_size max;
    frame_size step;
    std::uint8_t valid = 0;
};

class partial_scan final : public cam::property_req_entry_itf {
public:
    // Visited at most by query_scaling_modes, whatever range the device reports.
    static constexpr std::int64_t max_binning_values = 256;

    // The channel and tree are the camera's and outlive this object.
    partial_scan(uvc_property::uvc_control_channel& channel, const cam::uvc_cam::uvc_descriptor_tree& tree);

    // The unit id of the first vendor extension unit (of at most five) whose
    // bmControls has `bit` set, or -1.
    int find_xu_unit_by_guid(std::uint32_t bit) const;
    // Makes `record` the control (XU, selector, unit) and initialises it;
    // 0x80004001 without such a unit. Any failure leaves the length 0.
    std::error_code query_xu_control(uvc_property::UVCPropertyData& record, std::uint32_t selector);

    // Reads the unit's controls and registers this handler for what it
    // offers; a camera without the unit gets nothing registered.
    void probe_and_register(gen_property::gen_property_reqistry& registry);
    // Reads the scaling mode of every binning value (at most 256).
    std::error_code query_scaling_modes();
    // Writes the mode value (when control 16 can be set), the binning
    // (with scaling modes) and the size (with offsets), then re-reads the
    // frame-interval range when anything was written.
    std::error_code apply_stream_settings(std::int32_t mode_value, std::int32_t binning, frame_size size);
    // The size range of the width and height controls once the mode value,
    // binning 1 and the maximum size are applied; all zero when that fails
    // or the unit has no offsets.
    partial_scan_size_range size_range(std::int32_t mode_value);
    // The intervals for a mode, binning and size (0 width or height: the
    // maximum size); 0x80004001 without a frame-interval control.
    outcome::std_result<std::vector<std::uint64_t>> frame_intervals(std::int32_t mode_value, std::int32_t binning,
                                                                    frame_size size);
    // The binning that fill_probe applies for a requested size: the selected
    // factor, or 1 when the unit has no scaling modes and the size does not
    // fit the maximum size divided by it.
    std::int32_t stream_binning(frame_size requested) const noexcept;

    bool has_offsets() const noexcept { return has_offsets_; }
    bool has_scaling_modes() const noexcept { return has_scaling_modes_; }
    bool has_frame_interval_control() const noexcept { return has_frame_interval_; }
    bool has_auto_center_and_offsets() const noexcept { return has_auto_center_; }
    std::int32_t binning_factor() const noexcept { return binning_factor_; }
    frame_size max_size() const noexcept { return max_size_; }
    frame_size requested_size() const noexcept { return requested_size_; }
    const std::vector<scaling_mode_info>& scaling_modes() const noexcept { return modes_; }
    // The two signed 16-bit values of control 51 (0 when unreadable).
    std::array<std::int16_t, 2> extra_values() const noexcept { return extra_; }

    // -------- cam::property_req_entry_itf
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;
    // Sends auto-centre again and, unless that fails or auto-centre is off,
    // the X and Y offsets.
    void reapply_value() override;

private:
    std::error_code get_modes(KsPropDataRequest& request);
    std::error_code get_control(KsPropDataRequest& request, uvc_property::UVCPropertyData& control);
    std::error_code set_control(KsPropDataRequest& request, uvc_property::UVCPropertyData& control);
    std::error_code set_binning(const KsPropDataRequest& request);
    std::error_code write_control(uvc_property::UVCPropertyData& control, std::int32_t value);
    std::error_code request(uvc_property::UVCPropertyData& control, std::uint8_t code,
                            std::array<std::uint8_t, 16>& field);
    void refresh_extra_values();

    uvc_property::uvc_control_channel& channel_;
    const cam::uvc_cam::uvc_descriptor_tree& tree_;
    gen_property::gen_property_reqistry* registry_ = nullptr;

    uvc_property::UVCPropertyData mode_value_;
    uvc_property::UVCPropertyData width_;
    uvc_property::UVCPropertyData height_;
    uvc_property::UVCPropertyData binning_;
    uvc_property::UVCPropertyData frame_interval_;
    uvc_property::UVCPropertyData x_offset_;
    uvc_property::UVCPropertyData y_offset_;
    uvc_property::UVCPropertyData auto_center_;
    uvc_property::UVCPropertyData scaling_mode_;
    uvc_property::UVCPropertyData extra_values_;

    std::vector<scaling_mode_info> modes_;
    std::int32_t binning_factor_ = 1;
    frame_size max_size_;
    frame_size requested_size_;
    std::array<std::int16_t, 2> extra_{};
    bool has_offsets_ = false;
    bool has_scaling_modes_ = false;
    bool has_frame_interval_ = false;
    bool has_auto_center_ = false;
};

} // namespace kyv_xu_props
