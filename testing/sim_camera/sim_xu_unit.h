#pragma once
// The simulated camera's vendor extension unit: a stateful set of controls
// answering UVC class requests to the VideoControl interface, as the unit of
// the camera family behaves.
// - 16 mode value, 17 width, 18 height, 19 binning, 20 frame-interval range,
//   21 X offset, 22 Y offset, 23 auto-centre, 48 scaling-mode info of the
//   selected binning, 51 two signed 16-bit values.
// - Writing 19 changes what 48 answers (the mode of that binning value, mode
//   id 0 for a value without one) and the range of 20 (per binning value).
// - Other selectors of the unit stall.
// The camera's descriptors must announce the unit with bControlSize 7 for 48
// and 51 to be reachable (uvc_camera_spec("Y800", 7)). State is shared with the
// installed handler, so the camera may outlive this object.

#include "sim_camera.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace sim_camera {

struct xu_control_state {
    std::uint8_t selector = 0;
    std::uint8_t length = 0;
    std::uint8_t info = 3; // GET and SET supported
    std::array<std::uint8_t, 16> minimum{};
    std::array<std::uint8_t, 16> maximum{};
    std::array<std::uint8_t, 16> resolution{};
    std::array<std::uint8_t, 16> default_value{};
    std::array<std::uint8_t, 16> current{};
    // What GET_LEN answers, when not the length.
    std::optional<std::uint8_t> reported_length;
    bool stalls = false;
    int set_count = 0;
};

class sim_xu_unit {
public:
    static constexpr std::uint8_t default_unit_id = 3;

    // Installs the unit's request handler on `device`.
    explicit sim_xu_unit(camera& device, std::uint8_t unit_id = default_unit_id, std::uint8_t control_interface = 0);

    // The 8 scaling-mode bytes that 48 answers while 19 holds `binning`.
    // Initially binning 1, 2 and 4 have modes (ids 1, 2, 4), 3 has none.
    void set_scaling_mode(std::int64_t binning, const std::array<std::uint8_t, 8>& mode);
    void clear_scaling_modes();
    // The range of 20 while 19 holds `binning` (else the control's own).
    void set_frame_interval_range(std::int64_t binning, std::int64_t min, std::int64_t max);

    std::optional<xu_control_state> control(std::uint8_t selector) const;
    bool edit_control(std::uint8_t selector, const std::function<void(xu_control_state&)>& edit);
    std::optional<std::int64_t> current_value(std::uint8_t selector) const;
    // Fault: every request to the unit stalls.
    void set_stall_all(bool stall);
    // Requests the unit answered, by request code (GET_x and SET_CUR).
    int request_count(std::uint8_t request) const;

private:
    struct state;
    std::shared_ptr<state> state_;
};

} // namespace sim_camera
