#pragma once
// The property ids that the GenICam-backed handlers serve: the vendor set
// PROPSETID_FWCAM1394_CUSTOM_PROP and the two standard video sets.

#include <cstdint>

namespace drv_genicam {

namespace vendor_id {
inline constexpr std::uint32_t whitebalance_blue = 101;
inline constexpr std::uint32_t whitebalance_red = 102;
inline constexpr std::uint32_t exposure_auto_reference = 106;
inline constexpr std::uint32_t whitebalance_one_push = 107;
inline constexpr std::uint32_t trigger = 115;
inline constexpr std::uint32_t gpio = 122;
inline constexpr std::uint32_t strobe = 125;
inline constexpr std::uint32_t exposure_seconds = 200;
inline constexpr std::uint32_t exposure_auto_upper_limit_auto = 202;
inline constexpr std::uint32_t whitebalance_green = 206;
inline constexpr std::uint32_t trigger_software = 213;
inline constexpr std::uint32_t trigger_delay = 238;
inline constexpr std::uint32_t gain_hundredths = 241;
inline constexpr std::uint32_t exposure_auto_upper_limit = 246;
inline constexpr std::uint32_t reverse_x = 0x100004;
inline constexpr std::uint32_t reverse_y = 0x100005;
} // namespace vendor_id

// Ids of the standard sets.
inline constexpr std::uint32_t camera_control_exposure = 4;
inline constexpr std::uint32_t video_proc_amp_brightness = 0;
inline constexpr std::uint32_t video_proc_amp_hue = 2;
inline constexpr std::uint32_t video_proc_amp_saturation = 3;
inline constexpr std::uint32_t video_proc_amp_gamma = 5;
inline constexpr std::uint32_t video_proc_amp_white_balance = 7;
inline constexpr std::uint32_t video_proc_amp_gain = 9;

} // namespace drv_genicam
