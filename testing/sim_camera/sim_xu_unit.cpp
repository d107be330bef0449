#include "sim_xu_unit.h"

#include "sim_uvc_requests.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace sim_camera {

namespace {

constexpr control_reply stall{USBD_STATUS_STALL_PID, 0, false};

control_reply answer(std::span<std::uint8_t> data, const std::uint8_t* source, std::size_t size)
{
    const std::size_t n = std::min(data.size(), size);
    std::memcpy(data.data(), source, n);
    return {USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(n), false};
}

struct control_default {
    std::uint8_t selector;
    std::uint8_t length;
    std::uint8_t info;
    std::int64_t minimum, maximum, resolution, default_value;
};

// A 1920 x 1080 sensor, binning 1 to 4, 3 to 100 frames a second.
constexpr control_default defaults[] = {
    {16, 1, 3, 0, 255, 1, 0},       {17, 2, 3, 16, 1920, 16, 1920},     {18, 2, 3, 8, 1080, 8, 1080},
    {19, 1, 3, 1, 4, 1, 1},         {20, 8, 1, 100000, 3333333, 1, 333333}, {21, 2, 3, 0, 1904, 2, 0},
    {22, 2, 3, 0, 1072, 2, 0},      {23, 1, 3, 0, 1, 1, 1},             {48, 8, 1, 0, 0, 0, 0},
    {51, 4, 1, 0, 0, 0, 0},
};

} // namespace

struct sim_xu_unit::state {
    mutable std::mutex lock;
    std::uint8_t unit_id = 0;
    std::uint8_t control_interface = 0;
    std::vector<xu_control_state> controls;
    std::map<std::int64_t, std::array<std::uint8_t, 8>> modes;
    std::map<std::int64_t, std::pair<std::int64_t, std::int64_t>> intervals;
    std::map<std::uint8_t, int> requests;
    bool stall_all = false;

    xu_control_state* find(std::uint8_t selector)
    {
        for (auto& c : controls) {
            if (c.selector == selector) {
                return &c;
            }
        }
        return nullptr;
    }

    // What 48 and 20 report for the binning that 19 holds.
    void follow_binning()
    {
        const xu_control_state* binning = find(19);
        xu_control_state* mode = find(48);
        xu_control_state* interval = find(20);
        if (binning == nullptr) {
            return;
        }
        const std::int64_t value = uvc_responder::read_value(binning->current, binning->length);
        if (mode != nullptr) {
            mode->current.fill(0);
            if (const auto found = modes.find(value); found != modes.end()) {
                std::copy(found->second.begin(), found->second.end(), mode->current.begin());
            }
        }
        if (interval != nullptr) {
            if (const auto found = intervals.find(value); found != intervals.end()) {
                uvc_responder::put_value(interval->minimum, found->second.first);
                uvc_responder::put_value(interval->maximum, found->second.second);
            }
        }
    }

    std::optional<control_reply> handle(const control_setup& setup, std::span<std::uint8_t> data)
    {
        if (setup.vendor || setup.recipient != 1) {
            return std::nullopt;
        }
        const auto interface_number = static_cast<std::uint8_t>(setup.index & 0xFF);
        const auto unit = static_cast<std::uint8_t>(setup.index >> 8);
        const auto selector = static_cast<std::uint8_t>(setup.value >> 8);
        std::lock_guard guard(lock);
        if (interface_number != control_interface || unit != unit_id) {
            return std::nullopt;
        }
        ++requests[setup.request];
        xu_control_state* control = find(selector);
        if (stall_all || control == nullptr || control->stalls) {
            return stall;
        }
        const std::size_t length = control->length;
        switch (setup.request) {
        case uvc_request_code::get_info: return answer(data, &control->info, 1);
        case uvc_request_code::get_len: {
            const std::uint8_t bytes[2] = {control->reported_length.value_or(control->length), 0};
            return answer(data, bytes, sizeof bytes);
        }
        case uvc_request_code::get_min: return answer(data, control->minimum.data(), length);
        case uvc_request_code::get_max: return answer(data, control->maximum.data(), length);
        case uvc_request_code::get_res: return answer(data, control->resolution.data(), length);
        case uvc_request_code::get_def: return answer(data, control->default_value.data(), length);
        case uvc_request_code::get_cur:
            if ((control->info & 1) == 0) {
                return stall;
            }
            return answer(data, control->current.data(), length);
        case uvc_request_code::set_cur:
            if ((control->info & 2) == 0 || setup.device_to_host || data.size() != length) {
                return stall;
            }
            std::fill(control->current.begin(), control->current.end(), std::uint8_t{0});
            std::copy(data.begin(), data.end(), control->current.begin());
            ++control->set_count;
            if (selector == 19) {
                follow_binning();
            }
            return control_reply{USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(length), false};
        default: return stall;
        }
    }
};

sim_xu_unit::sim_xu_unit(camera& device, std::uint8_t unit_id, std::uint8_t control_interface)
    : state_(std::make_shared<state>())
{
    state_->unit_id = unit_id;
    state_->control_interface = control_interface;
    for (const control_default& d : defaults) {
        xu_control_state c;
        c.selector = d.selector;
        c.length = d.length;
        c.info = d.info;
        uvc_responder::put_value(c.minimum, d.minimum);
        uvc_responder::put_value(c.maximum, d.maximum);
        uvc_responder::put_value(c.resolution, d.resolution);
        uvc_responder::put_value(c.default_value, d.default_value);
        uvc_responder::put_value(c.current, d.default_value);
        state_->controls.push_back(c);
    }
    state_->modes[1] = {1, 1, 1, 10, 11, 12, 13, 0};
    state_->modes[2] = {2, 2, 2, 20, 21, 22, 23, 0};
    state_->modes[4] = {4, 4, 4, 40, 41, 42, 43, 0};
    state_->intervals[1] = {333333, 3333333};
    state_->intervals[2] = {166666, 3333333};
    state_->intervals[4] = {100000, 3333333};
    state_->follow_binning();
    std::shared_ptr<state> shared = state_;
    device.add_control_handler(
        [shared](const control_setup& setup, std::span<std::uint8_t> data) { return shared->handle(setup, data); });
}

void sim_xu_unit::set_scaling_mode(std::int64_t binning, const std::array<std::uint8_t, 8>& mode)
{
    std::lock_guard guard(state_->lock);
    state_->modes[binning] = mode;
    state_->follow_binning();
}

void sim_xu_unit::clear_scaling_modes()
{
    std::lock_guard guard(state_->lock);
    state_->modes.clear();
    state_->follow_binning();
}

void sim_xu_unit::set_frame_interval_range(std::int64_t binning, std::int64_t min, std::int64_t max)
{
    std::lock_guard guard(state_->lock);
    state_->intervals[binning] = {min, max};
    state_->follow_binning();
}

std::optional<xu_control_state> sim_xu_unit::control(std::uint8_t selector) const
{
    std::lock_guard guard(state_->lock);
    if (const xu_control_state* c = state_->find(selector)) {
        return *c;
    }
    return std::nullopt;
}

bool sim_xu_unit::edit_control(std::uint8_t selector, const std::function<void(xu_control_state&)>& edit)
{
    std::lock_guard guard(state_->lock);
    xu_control_state* c = state_->find(selector);
    if (c == nullptr) {
        return false;
    }
    edit(*c);
    return true;
}

std::optional<std::int64_t> sim_xu_unit::current_value(std::uint8_t selector) const
{
    const auto found = control(selector);
    if (!found) {
        return std::nullopt;
    }
    return uvc_responder::read_value(found->current, found->length);
}

void sim_xu_unit::set_stall_all(bool stall_requests)
{
    std::lock_guard guard(state_->lock);
    state_->stall_all = stall_requests;
}

int sim_xu_unit::request_count(std::uint8_t request) const
{
    std::lock_guard guard(state_->lock);
    const auto found = state_->requests.find(request);
    return found == state_->requests.end() ? 0 : found->second;
}

} // namespace sim_camera
