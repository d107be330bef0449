#include "sim_uvc_requests.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace sim_camera {

namespace {

// Length of each control by (kind, selector): the camera-terminal and
// processing-unit rows a UVC 1.5 device may announce.
struct control_row {
    uvc_unit_kind kind;
    std::uint8_t bit;
    std::uint8_t selector;
    std::uint8_t length;
};

constexpr control_row control_rows[] = {
    {uvc_unit_kind::processing_unit, 0, 0x02, 2},  {uvc_unit_kind::processing_unit, 1, 0x03, 2},
    {uvc_unit_kind::processing_unit, 2, 0x06, 2},  {uvc_unit_kind::processing_unit, 3, 0x07, 2},
    {uvc_unit_kind::processing_unit, 4, 0x08, 2},  {uvc_unit_kind::processing_unit, 5, 0x09, 2},
    {uvc_unit_kind::processing_unit, 6, 0x0A, 2},  {uvc_unit_kind::processing_unit, 7, 0x0C, 4},
    {uvc_unit_kind::processing_unit, 8, 0x01, 2},  {uvc_unit_kind::processing_unit, 9, 0x04, 2},
    {uvc_unit_kind::processing_unit, 10, 0x05, 1}, {uvc_unit_kind::processing_unit, 11, 0x10, 1},
    {uvc_unit_kind::processing_unit, 12, 0x0B, 1}, {uvc_unit_kind::processing_unit, 13, 0x0D, 1},
    {uvc_unit_kind::processing_unit, 14, 0x0E, 2}, {uvc_unit_kind::processing_unit, 15, 0x0F, 2},
    {uvc_unit_kind::processing_unit, 16, 0x11, 1}, {uvc_unit_kind::processing_unit, 17, 0x12, 1},
    {uvc_unit_kind::camera_terminal, 0, 0x01, 1},  {uvc_unit_kind::camera_terminal, 1, 0x02, 1},
    {uvc_unit_kind::camera_terminal, 2, 0x03, 1},  {uvc_unit_kind::camera_terminal, 3, 0x04, 4},
    {uvc_unit_kind::camera_terminal, 4, 0x05, 1},  {uvc_unit_kind::camera_terminal, 5, 0x06, 2},
    {uvc_unit_kind::camera_terminal, 6, 0x07, 2},  {uvc_unit_kind::camera_terminal, 7, 0x09, 2},
    {uvc_unit_kind::camera_terminal, 8, 0x0A, 1},  {uvc_unit_kind::camera_terminal, 9, 0x0B, 2},
    {uvc_unit_kind::camera_terminal, 10, 0x0C, 3}, {uvc_unit_kind::camera_terminal, 11, 0x0D, 8},
    {uvc_unit_kind::camera_terminal, 12, 0x0E, 4}, {uvc_unit_kind::camera_terminal, 13, 0x0F, 2},
    {uvc_unit_kind::camera_terminal, 14, 0x10, 2}, {uvc_unit_kind::camera_terminal, 17, 0x08, 1},
    {uvc_unit_kind::camera_terminal, 18, 0x11, 1},
};

// Plausible ranges of the common controls: minimum, maximum, resolution,
// default. Others get 0..100, step 1, default 50.
struct control_range {
    uvc_unit_kind kind;
    std::uint8_t selector;
    std::int64_t minimum, maximum, resolution, default_value;
};

constexpr control_range control_ranges[] = {
    {uvc_unit_kind::processing_unit, 0x01, 0, 2, 1, 1},         // backlight compensation
    {uvc_unit_kind::processing_unit, 0x02, -64, 64, 1, 0},      // brightness
    {uvc_unit_kind::processing_unit, 0x03, 0, 95, 1, 32},       // contrast
    {uvc_unit_kind::processing_unit, 0x04, 0, 480, 1, 100},     // gain
    {uvc_unit_kind::processing_unit, 0x05, 0, 2, 1, 1},        // power line frequency
    {uvc_unit_kind::processing_unit, 0x07, 0, 100, 1, 64},      // saturation
    {uvc_unit_kind::processing_unit, 0x08, 0, 7, 1, 3},         // sharpness
    {uvc_unit_kind::processing_unit, 0x0A, 2800, 6500, 10, 4600}, // white balance temperature
    {uvc_unit_kind::processing_unit, 0x0B, 0, 1, 1, 1},         // white balance temperature, auto
    // Auto-exposure mode is a bit map: resolution lists manual (1) and aperture priority (8).
    {uvc_unit_kind::camera_terminal, 0x02, 0, 0, 0x09, 8},
    {uvc_unit_kind::camera_terminal, 0x04, 1, 100000, 1, 333},  // exposure time, 100 us units
};

constexpr std::uint8_t cs_interface = 0x24;
constexpr std::uint8_t vc_input_terminal = 0x02;
constexpr std::uint8_t vc_processing_unit = 0x05;

void announce(std::vector<uvc_control_state>& out, uvc_unit_kind kind, std::uint8_t unit_id, const std::uint8_t* map,
              std::size_t map_size)
{
    for (std::size_t byte = 0; byte < map_size; ++byte) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((map[byte] & (1u << bit)) == 0) {
                continue;
            }
            const auto number = static_cast<std::uint8_t>(byte * 8 + bit);
            const auto row = std::find_if(std::begin(control_rows), std::end(control_rows),
                                          [&](const control_row& r) { return r.kind == kind && r.bit == number; });
            if (row == std::end(control_rows)) {
                continue;
            }
            uvc_control_state control;
            control.kind = kind;
            control.unit_id = unit_id;
            control.selector = row->selector;
            control.length = row->length;
            control_range range{kind, row->selector, 0, 100, 1, 50};
            const auto known = std::find_if(std::begin(control_ranges), std::end(control_ranges),
                                            [&](const control_range& r) {
                                                return r.kind == kind && r.selector == row->selector;
                                            });
            if (known != std::end(control_ranges)) {
                range = *known;
            }
            if (control.length <= 4) {
                uvc_responder::put_value(control.minimum, range.minimum);
                uvc_responder::put_value(control.maximum, range.maximum);
                uvc_responder::put_value(control.resolution, range.resolution);
                uvc_responder::put_value(control.default_value, range.default_value);
                uvc_responder::put_value(control.current, range.default_value);
            }
            out.push_back(control);
        }
    }
}

// The camera-terminal and processing-unit controls of a configuration set.
std::vector<uvc_control_state> announced_controls(const bytes& set)
{
    std::vector<uvc_control_state> out;
    std::size_t at = 0;
    bool in_video_control = false; // VideoStreaming reuses the subtype numbers
    while (at + 2 <= set.size()) {
        const std::uint8_t length = set[at];
        if (length < 2 || at + length > set.size()) {
            break;
        }
        const std::uint8_t* d = &set[at];
        if (d[1] == 0x04 && length >= 9) {
            in_video_control = (d[5] == 0x0E || d[5] == 0xFF) && d[6] == 0x01;
        } else if (in_video_control && d[1] == cs_interface && length >= 4) {
            if (d[2] == vc_input_terminal && length >= 15 && (d[4] | d[5] << 8) == 0x0201) {
                const std::size_t size = std::min<std::size_t>(d[14], length - 15);
                announce(out, uvc_unit_kind::camera_terminal, d[3], d + 15, size);
            } else if (d[2] == vc_processing_unit && length >= 8) {
                const std::size_t size = std::min<std::size_t>(d[7], length - 8);
                announce(out, uvc_unit_kind::processing_unit, d[3], d + 8, size);
            }
        }
        at += length;
    }
    return out;
}

// The VideoControl interface's number (0 when the set has none).
std::uint8_t video_control_interface(const bytes& set)
{
    std::size_t at = 0;
    while (at + 2 <= set.size()) {
        const std::uint8_t length = set[at];
        if (length < 2 || at + length > set.size()) {
            break;
        }
        if (set[at + 1] == 0x04 && length >= 9 && set[at + 6] == 0x01 &&
            (set[at + 5] == 0x0E || set[at + 5] == 0xFF)) {
            return set[at + 2];
        }
        at += length;
    }
    return 0;
}

std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_le32(std::uint8_t* p, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

constexpr control_reply stall{USBD_STATUS_STALL_PID, 0, false};

control_reply answer(std::span<std::uint8_t> data, const std::uint8_t* source, std::size_t size)
{
    const std::size_t n = std::min(data.size(), size);
    std::memcpy(data.data(), source, n);
    return {USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(n), false};
}

} // namespace

struct uvc_responder::state {
    mutable std::mutex lock;
    std::uint8_t control_interface = 0;
    std::vector<uvc_control_state> controls;
    std::uint32_t max_video_frame_size = 640 * 480;
    std::uint32_t max_payload_transfer_size = 640 * 480 + 512;
    std::optional<std::uint8_t> format_index_override;
    std::optional<std::uint8_t> frame_index_override;
    std::optional<std::uint32_t> interval_override;
    std::array<std::uint8_t, probe_size> probe{};
    std::array<std::uint8_t, probe_size> commit{};
    std::vector<std::uint8_t> last_probe_set;
    std::vector<std::uint8_t> last_commit_set;
    int commits = 0;
    std::uint32_t firmware = 4;
    bool stall_all = false;

    uvc_control_state* find(std::uint8_t unit, std::uint8_t selector)
    {
        for (auto& c : controls) {
            if (c.unit_id == unit && c.selector == selector) {
                return &c;
            }
        }
        return nullptr;
    }

    void apply_sizes(std::array<std::uint8_t, probe_size>& record) const
    {
        put_le32(&record[18], max_video_frame_size);
        put_le32(&record[22], max_payload_transfer_size);
    }

    std::optional<control_reply> handle(const control_setup& setup, std::span<std::uint8_t> data)
    {
        std::lock_guard guard(lock);
        if (setup.vendor) {
            if (setup.recipient != 0 || setup.request != firmware_request || !setup.device_to_host) {
                return std::nullopt;
            }
            if (stall_all) {
                return stall;
            }
            std::uint8_t bytes[4];
            put_le32(bytes, firmware);
            return answer(data, bytes, sizeof bytes);
        }
        if (setup.recipient != 1) {
            return std::nullopt;
        }
        const auto interface_number = static_cast<std::uint8_t>(setup.index & 0xFF);
        const auto unit = static_cast<std::uint8_t>(setup.index >> 8);
        const auto selector = static_cast<std::uint8_t>(setup.value >> 8);
        if (interface_number == streaming_interface && unit == 0) {
            return stall_all ? stall : streaming(setup, selector, data);
        }
        if (interface_number != control_interface) {
            return std::nullopt;
        }
        uvc_control_state* control = find(unit, selector);
        if (control == nullptr) {
            return std::nullopt; // another responder may serve the unit (the extension unit)
        }
        if (stall_all || control->stalls) {
            return stall;
        }
        return unit_control(*control, setup, data);
    }

    control_reply streaming(const control_setup& setup, std::uint8_t selector, std::span<std::uint8_t> data)
    {
        if (selector != 1 && selector != 2) {
            return stall;
        }
        auto& record = selector == 1 ? probe : commit;
        if (setup.request == uvc_request_code::get_cur && setup.device_to_host) {
            return answer(data, record.data(), record.size());
        }
        if (setup.request != uvc_request_code::set_cur || setup.device_to_host || data.size() < 26) {
            return stall;
        }
        std::array<std::uint8_t, probe_size> sent{};
        std::copy_n(data.begin(), std::min(data.size(), sent.size()), sent.begin());
        if (selector == 1) {
            last_probe_set.assign(data.begin(), data.end());
            if (format_index_override) {
                sent[2] = *format_index_override;
            }
            if (frame_index_override) {
                sent[3] = *frame_index_override;
            }
            if (interval_override) {
                put_le32(&sent[4], *interval_override);
            }
        } else {
            last_commit_set.assign(data.begin(), data.end());
            ++commits;
        }
        apply_sizes(sent);
        record = sent;
        return {USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(data.size()), false};
    }

    static control_reply unit_control(uvc_control_state& control, const control_setup& setup,
                                      std::span<std::uint8_t> data)
    {
        const std::size_t length = control.length;
        switch (setup.request) {
        case uvc_request_code::get_info: {
            if (control.get_info_fails) {
                return stall;
            }
            return answer(data, &control.info, 1);
        }
        case uvc_request_code::get_len: {
            const std::uint8_t bytes[2] = {control.length, 0};
            return answer(data, bytes, sizeof bytes);
        }
        case uvc_request_code::get_min:
            return answer(data, control.minimum.data(), length);
        case uvc_request_code::get_max:
            return answer(data, control.maximum.data(), length);
        case uvc_request_code::get_res:
            return answer(data, control.resolution.data(), length);
        case uvc_request_code::get_def:
            return answer(data, control.default_value.data(), length);
        case uvc_request_code::get_cur:
            if ((control.info & 1) == 0) {
                return stall;
            }
            return answer(data, control.current.data(), length);
        case uvc_request_code::set_cur:
            if ((control.info & 2) == 0 || setup.device_to_host || data.size() != length) {
                return stall;
            }
            std::copy(data.begin(), data.end(), control.current.begin());
            ++control.set_count;
            return {USBD_STATUS_SUCCESS, static_cast<std::uint32_t>(length), false};
        default:
            return stall;
        }
    }
};

uvc_responder::uvc_responder(camera& device) : state_(std::make_shared<state>())
{
    state_->controls = announced_controls(device.configuration_bytes);
    state_->control_interface = video_control_interface(device.configuration_bytes);
    std::shared_ptr<state> shared = state_;
    device.add_control_handler(
        [shared](const control_setup& setup, std::span<std::uint8_t> data) { return shared->handle(setup, data); });
}

void uvc_responder::set_stream_sizes(std::uint32_t max_video_frame_size, std::uint32_t max_payload_transfer_size)
{
    std::lock_guard guard(state_->lock);
    state_->max_video_frame_size = max_video_frame_size;
    state_->max_payload_transfer_size = max_payload_transfer_size;
}

void uvc_responder::set_probe_format_index_override(std::optional<std::uint8_t> format_index)
{
    std::lock_guard guard(state_->lock);
    state_->format_index_override = format_index;
}

void uvc_responder::set_probe_frame_index_override(std::optional<std::uint8_t> frame_index)
{
    std::lock_guard guard(state_->lock);
    state_->frame_index_override = frame_index;
}

void uvc_responder::set_probe_interval_override(std::optional<std::uint32_t> interval)
{
    std::lock_guard guard(state_->lock);
    state_->interval_override = interval;
}

std::vector<std::uint8_t> uvc_responder::last_probe_set() const
{
    std::lock_guard guard(state_->lock);
    return state_->last_probe_set;
}

std::vector<std::uint8_t> uvc_responder::last_commit_set() const
{
    std::lock_guard guard(state_->lock);
    return state_->last_commit_set;
}

int uvc_responder::commit_count() const
{
    std::lock_guard guard(state_->lock);
    return state_->commits;
}

std::uint32_t uvc_responder::firmware_revision() const
{
    std::lock_guard guard(state_->lock);
    return state_->firmware;
}

void uvc_responder::set_firmware_revision(std::uint32_t value)
{
    std::lock_guard guard(state_->lock);
    state_->firmware = value;
}

void uvc_responder::set_stall_all(bool stall_requests)
{
    std::lock_guard guard(state_->lock);
    state_->stall_all = stall_requests;
}

std::optional<uvc_control_state> uvc_responder::control(uvc_unit_kind kind, std::uint8_t selector) const
{
    std::lock_guard guard(state_->lock);
    for (const auto& c : state_->controls) {
        if (c.kind == kind && c.selector == selector) {
            return c;
        }
    }
    return std::nullopt;
}

bool uvc_responder::edit_control(uvc_unit_kind kind, std::uint8_t selector,
                                 const std::function<void(uvc_control_state&)>& edit)
{
    std::lock_guard guard(state_->lock);
    for (auto& c : state_->controls) {
        if (c.kind == kind && c.selector == selector) {
            edit(c);
            return true;
        }
    }
    return false;
}

std::optional<std::int64_t> uvc_responder::current_value(uvc_unit_kind kind, std::uint8_t selector) const
{
    const auto found = control(kind, selector);
    if (!found) {
        return std::nullopt;
    }
    return read_value(found->current, found->length);
}

std::vector<uvc_control_state> uvc_responder::controls() const
{
    std::lock_guard guard(state_->lock);
    return state_->controls;
}

void uvc_responder::put_value(std::array<std::uint8_t, 16>& field, std::int64_t value)
{
    for (std::size_t i = 0; i < 8; ++i) {
        field[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
    }
}

std::int64_t uvc_responder::read_value(const std::array<std::uint8_t, 16>& field, std::uint8_t length)
{
    if (length == 1) {
        return field[0];
    }
    if (length == 2) {
        return static_cast<std::int16_t>(field[0] | field[1] << 8);
    }
    return static_cast<std::int32_t>(le32(field.data()));
}

} // namespace sim_camera
