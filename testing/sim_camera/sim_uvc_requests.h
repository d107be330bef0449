#pragma once
// The simulated camera's answers to UVC class requests and to its firmware
// revision request:
// - VideoStreaming probe and commit (interface 1, unit 0, selectors 1 and 2;
//   34 bytes, GET_CUR and SET_CUR). A probe that is set is answered with the
//   frame and payload sizes the test chose.
// - GET_INFO/LEN/MIN/MAX/RES/DEF/CUR and SET_CUR of every camera-terminal and
//   processing-unit control that the descriptors announce, each with its own
//   stored current value.
// - Vendor request 0x01: the firmware revision, 4 bytes.
// Faults are switched on through the members below. The responder keeps its
// state shared with the handler it installs, so the camera may outlive it.

#include "sim_camera.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sim_camera {

namespace uvc_request_code {
inline constexpr std::uint8_t set_cur = 0x01;
inline constexpr std::uint8_t get_cur = 0x81;
inline constexpr std::uint8_t get_min = 0x82;
inline constexpr std::uint8_t get_max = 0x83;
inline constexpr std::uint8_t get_res = 0x84;
inline constexpr std::uint8_t get_len = 0x85;
inline constexpr std::uint8_t get_info = 0x86;
inline constexpr std::uint8_t get_def = 0x87;
} // namespace uvc_request_code

// Unit kinds as the camera's descriptors name them.
enum class uvc_unit_kind : std::uint8_t { camera_terminal = 2, processing_unit = 5 };

// One control of a unit. Values are little-endian as the device sends them;
// set_* helpers below store integers.
struct uvc_control_state {
    uvc_unit_kind kind = uvc_unit_kind::processing_unit;
    std::uint8_t unit_id = 0;
    std::uint8_t selector = 0;
    std::uint8_t length = 0;
    std::uint8_t info = 3; // GET and SET supported
    std::array<std::uint8_t, 16> minimum{};
    std::array<std::uint8_t, 16> maximum{};
    std::array<std::uint8_t, 16> resolution{};
    std::array<std::uint8_t, 16> default_value{};
    std::array<std::uint8_t, 16> current{};
    // Faults of this control.
    bool get_info_fails = false;
    bool stalls = false; // every request on it stalls
    int set_count = 0;   // SET_CUR requests that it took
};

class uvc_responder {
public:
    static constexpr std::uint8_t streaming_interface = 1;
    static constexpr std::size_t probe_size = 34;
    static constexpr std::uint8_t firmware_request = 0x01;

    // Reads the controls that `device`'s descriptors announce and installs the
    // request handler on it.
    explicit uvc_responder(camera& device);

    // -------- probe and commit
    // What the device answers in dwMaxVideoFrameSize and
    // dwMaxPayloadTransferSize of every probe and commit it reports.
    void set_stream_sizes(std::uint32_t max_video_frame_size, std::uint32_t max_payload_transfer_size);
    // Fault: the probe answer carries this bFormatIndex instead of the one set.
    void set_probe_format_index_override(std::optional<std::uint8_t> format_index);
    // Fault: the probe answer carries this bFrameIndex instead of the one set.
    void set_probe_frame_index_override(std::optional<std::uint8_t> frame_index);
    // The probe answer carries this dwFrameInterval (the nearest interval a
    // camera supports) instead of the one set.
    void set_probe_interval_override(std::optional<std::uint32_t> interval);
    // The probe and commit records as last set by the host (empty before).
    std::vector<std::uint8_t> last_probe_set() const;
    std::vector<std::uint8_t> last_commit_set() const;
    int commit_count() const;

    // -------- controls
    std::uint32_t firmware_revision() const;
    void set_firmware_revision(std::uint32_t value);
    // Fault: every request addressed to the responder stalls.
    void set_stall_all(bool stall);

    // A copy of a control's state, if the descriptors announce it.
    std::optional<uvc_control_state> control(uvc_unit_kind kind, std::uint8_t selector) const;
    // Changes a control in place (unknown controls: false).
    bool edit_control(uvc_unit_kind kind, std::uint8_t selector, const std::function<void(uvc_control_state&)>& edit);
    // The current value as an integer of the control's length (1 byte
    // unsigned, 2 bytes signed, otherwise signed 32-bit).
    std::optional<std::int64_t> current_value(uvc_unit_kind kind, std::uint8_t selector) const;
    std::vector<uvc_control_state> controls() const;

    // Stores `value` little-endian into the first bytes of a value field.
    static void put_value(std::array<std::uint8_t, 16>& field, std::int64_t value);
    static std::int64_t read_value(const std::array<std::uint8_t, 16>& field, std::uint8_t length);

private:
    struct state;
    std::shared_ptr<state> state_;
};

} // namespace sim_camera
