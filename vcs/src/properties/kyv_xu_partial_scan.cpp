#include "properties/kyv_xu_partial_scan.h"

#include <algorithm>
#include <cstring>

#include "gen_utils/log.h"
#include "properties/kyv_xu_framerate_list.h"

namespace kyv_xu_props {

namespace {

using uvc_property::UVCPropertyData;

constexpr std::uint8_t set_cur = 0x01;
constexpr std::uint8_t get_cur = 0x81;
constexpr std::uint8_t get_min = 0x82;
constexpr std::uint8_t get_max = 0x83;
constexpr std::uint8_t get_def = 0x87;
constexpr std::uint32_t mode_entry_size = 8;

std::error_code not_served()
{
    return make_cam_error(E_NOTIMPL);
}

std::int32_t minimum(const UVCPropertyData& c)
{
    return UVCPropertyData::read(c.minimum, c.length);
}

std::int32_t maximum(const UVCPropertyData& c)
{
    return UVCPropertyData::read(c.maximum, c.length);
}

bool usable(const UVCPropertyData& c)
{
    return c.length != 0;
}

std::uint32_t status_of(const std::error_code& ec)
{
    return static_cast<std::uint32_t>(cam::to_hresult(ec));
}

} // namespace

partial_scan::partial_scan(uvc_property::uvc_control_channel& channel, const cam::uvc_cam::uvc_descriptor_tree& tree)
    : channel_(channel), tree_(tree)
{
}

int partial_scan::find_xu_unit_by_guid(std::uint32_t bit) const
{
    const auto& guid = uvc_property::vendor_extension_unit_guid;
    const auto& units = tree_.extension_units();
    const std::size_t count = std::min(units.size(), cam::uvc_cam::uvc_descriptor_tree::max_units);
    for (std::size_t i = 0; i < count; ++i) {
        const auto& unit = units[i];
        if (unit.bytes.size() < 20 || !std::equal(guid.begin(), guid.end(), unit.bytes.begin() + 4)) {
            continue;
        }
        // The bit map as far as bControlSize and bLength both hold it.
        if (bit / 8 >= unit.controls.size() || (unit.controls[bit / 8] & (1u << (bit % 8))) == 0) {
            continue;
        }
        return unit.bytes[3];
    }
    return -1;
}

std::error_code partial_scan::query_xu_control(UVCPropertyData& record, std::uint32_t selector)
{
    record = UVCPropertyData{};
    const int unit = selector == 0 ? -1 : find_xu_unit_by_guid(selector - 1);
    if (unit < 0) {
        return not_served();
    }
    record.kind = uvc_property::unit_xu;
    record.selector = selector;
    record.unit_id = static_cast<std::uint8_t>(unit);
    if (const std::error_code ec = uvc_property::initialise_control(channel_, record)) {
        record.length = 0;
        return ec;
    }
    return {};
}

std::error_code partial_scan::request(UVCPropertyData& control, std::uint8_t code, std::array<std::uint8_t, 16>& field)
{
    if (!usable(control)) {
        return not_served();
    }
    const auto length = static_cast<std::uint16_t>(std::min<std::uint32_t>(control.length, field.size()));
    return channel_.uvc_request(code, control.unit_id, static_cast<std::uint8_t>(control.selector), length,
                                field.data());
}

std::error_code partial_scan::write_control(UVCPropertyData& control, std::int32_t value)
{
    if (!usable(control)) {
        return not_served();
    }
    control.set_value(value);
    return request(control, set_cur, control.current);
}

void partial_scan::refresh_extra_values()
{
    extra_ = {};
    if (!usable(extra_values_)) {
        return;
    }
    extra_values_.current.fill(0);
    if (request(extra_values_, get_cur, extra_values_.current)) {
        return;
    }
    const auto& c = extra_values_.current;
    extra_[0] = static_cast<std::int16_t>(c[0] | c[1] << 8);
    extra_[1] = static_cast<std::int16_t>(c[2] | c[3] << 8);
}

void partial_scan::probe_and_register(gen_property::gen_property_reqistry& registry)
{
    registry_ = &registry;
    if (!query_xu_control(extra_values_, xu::extra_values)) {
        refresh_extra_values();
    }
    (void)query_xu_control(mode_value_, xu::mode_value);

    const bool width = !query_xu_control(width_, xu::width);
    const bool height = !query_xu_control(height_, xu::height);
    if (width && height) {
        has_offsets_ = true;
        max_size_ = {maximum(width_), maximum(height_)};
        requested_size_ = max_size_;
    }
    (void)query_scaling_modes();
    if (!query_xu_control(frame_interval_, xu::frame_interval)) {
        has_frame_interval_ = minimum(frame_interval_) != maximum(frame_interval_);
    }
    const bool x = !query_xu_control(x_offset_, xu::x_offset);
    const bool y = !query_xu_control(y_offset_, xu::y_offset);
    const bool centre = !query_xu_control(auto_center_, xu::auto_center);
    has_auto_center_ = x && y && centre;

    if (!has_offsets_ && !has_scaling_modes_ && !has_frame_interval_ && !has_auto_center_) {
        return;
    }
    using cam::PROPSETID_FWCAM1394_CUSTOM_PROP;
    if (has_scaling_modes_) {
        (void)registry.register_handler({PROPSETID_FWCAM1394_CUSTOM_PROP, id_binning_factor}, this, cam::level_base);
    }
    if (!modes_.empty()) {
        (void)registry.register_handler({cam::PROPSETID_KYV_BINNING, id_scaling_modes}, this, cam::level_base);
    }
    if (has_auto_center_) {
        const cam::property_req_key keys[] = {{PROPSETID_FWCAM1394_CUSTOM_PROP, id_auto_center},
                                              {PROPSETID_FWCAM1394_CUSTOM_PROP, id_x_offset},
                                              {PROPSETID_FWCAM1394_CUSTOM_PROP, id_y_offset}};
        (void)registry.register_handler_keys(keys, this, cam::level_base);
    }
    // The sensor flips are another handler's; this one sits above it so that
    // a flip refreshes the values that depend on it.
    for (const std::uint32_t id : {id_reverse_x, id_reverse_y}) {
        const cam::property_req_key key{PROPSETID_FWCAM1394_CUSTOM_PROP, id};
        if (registry.is_supported(key)) {
            (void)registry.register_handler(key, this, cam::level_extension);
        }
    }
}

std::error_code partial_scan::query_scaling_modes()
{
    modes_.clear();
    if (const std::error_code ec = query_xu_control(binning_, xu::binning)) {
        return ec;
    }
    if (const std::error_code ec = query_xu_control(scaling_mode_, xu::scaling_mode_info)) {
        return ec;
    }
    if (scaling_mode_.length < mode_entry_size) {
        log_line(logging::level_error,
                 "[CamTovra] XU_SCALING_MODE_INFO exporting too few bytes. should be (at least) sizeof( "
                 "ScalingModeInfo ) is len={}.\n",
                 scaling_mode_.length);
        return make_cam_error(E_INVALIDARG);
    }
    const std::int64_t first = minimum(binning_);
    const std::int64_t last = maximum(binning_);
    has_scaling_modes_ = first != last;
    log_line(logging::level_trace, "[CamTovra] Scaling modes exported:\n");
    // Two requests a value: a device reporting a 32-bit range would hold up
    // the camera's start for good.
    if (last - first + 1 > max_binning_values) {
        log_line(logging::level_error,
                 "[CamTovra] Binning range [{}, {}] is too wide, reading the scaling modes of the first {} values "
                 "only.\n",
                 first, last, max_binning_values);
    }
    const std::int64_t end = std::min(last, first + max_binning_values - 1);
    for (std::int64_t i = first; i <= end; ++i) {
        if (const std::error_code ec = write_control(binning_, static_cast<std::int32_t>(i))) {
            log_line(logging::level_error, "[CamTovra] Failed to write binning register due to status=0x{:x}.\n",
                     status_of(ec));
            continue;
        }
        if (const std::error_code ec = request(scaling_mode_, get_cur, scaling_mode_.current)) {
            log_line(logging::level_error, "[CamTovra] Failed to read scaling mode register due to status=0x{:x}.\n",
                     status_of(ec));
            continue;
        }
        const auto& c = scaling_mode_.current;
        if (c[0] == 0) {
            continue;
        }
        scaling_mode_info entry{};
        std::copy_n(c.begin(), entry.size(), entry.begin());
        modes_.push_back(entry);
        log_line(logging::level_trace, "[CamTovra]   [{}] id={}, {}, {}, {}, {}, xscale={}, yscale={}\n", i, c[0],
                 c[3], c[4], c[5], c[6], c[1], c[2]);
    }
    (void)write_control(binning_, 1);
    return {};
}

std::error_code partial_scan::apply_stream_settings(std::int32_t mode_value, std::int32_t binning, frame_size size)
{
    bool wrote = false;
    if (usable(mode_value_) && (mode_value_.info & 2) != 0) {
        if (const std::error_code ec = write_control(mode_value_, mode_value)) {
            return ec;
        }
        wrote = true;
    }
    if (has_scaling_modes_) {
        if (const std::error_code ec = write_control(binning_, binning)) {
            return ec;
        }
        wrote = true;
    }
    if (has_offsets_) {
        if (const std::error_code ec = write_control(width_, size.width)) {
            return ec;
        }
        if (const std::error_code ec = write_control(height_, size.height)) {
            return ec;
        }
        wrote = true;
    }
    if (usable(frame_interval_) && wrote) {
        for (const auto& [code, field] : {std::pair{get_min, &frame_interval_.minimum},
                                          std::pair{get_max, &frame_interval_.maximum},
                                          std::pair{get_def, &frame_interval_.default_value}}) {
            if (const std::error_code ec = request(frame_interval_, code, *field)) {
                return ec;
            }
        }
    }
    return {};
}

partial_scan_size_range partial_scan::size_range(std::int32_t mode_value)
{
    // Without usable width and height controls there is no range to report.
    if (!has_offsets_ || apply_stream_settings(mode_value, 1, max_size_)) {
        return {};
    }
    partial_scan_size_range range;
    range.min = {minimum(width_), minimum(height_)};
    range.max = {maximum(width_), maximum(height_)};
    range.step = {UVCPropertyData::read(width_.resolution, width_.length),
                  UVCPropertyData::read(height_.resolution, height_.length)};
    range.valid = 1;
    return range;
}

outcome::std_result<std::vector<std::uint64_t>> partial_scan::frame_intervals(std::int32_t mode_value,
                                                                              std::int32_t binning, frame_size size)
{
    if (!usable(frame_interval_)) {
        return not_served();
    }
    if (size.width == 0 || size.height == 0) {
        size = max_size_;
    }
    // A factor below 1 is never selected; it must not divide either.
    if (binning < 1 || (modes_.empty() && binning == 1) || max_size_.width / binning < size.width ||
        max_size_.height / binning < size.height) {
        binning = 1;
    }
    if (const std::error_code ec = apply_stream_settings(mode_value, binning, size)) {
        return ec;
    }
    return build_framerate_list_new(minimum(frame_interval_), maximum(frame_interval_));
}

std::int32_t partial_scan::stream_binning(frame_size requested) const noexcept
{
    const std::int32_t b = binning_factor_;
    if (modes_.empty() && b != 1 &&
        (max_size_.width / b < requested.width || max_size_.height / b < requested.height)) {
        return 1;
    }
    return b;
}

std::error_code partial_scan::get_request(KsPropDataRequest& request)
{
    if (cam::same_guid(request.property_set, cam::PROPSETID_KYV_BINNING)) {
        return request.property_id == id_scaling_modes ? get_modes(request) : not_served();
    }
    if (!cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return not_served();
    }
    switch (request.property_id) {
    case id_binning_factor:
        return cam::write_range_value_reply(request, cam::flag_manual, 1, maximum(binning_), 1, binning_factor_,
                                            cam::flag_manual);
    case id_auto_center:
        return get_control(request, auto_center_);
    case id_x_offset:
        return get_control(request, x_offset_);
    case id_y_offset:
        return get_control(request, y_offset_);
    case id_reverse_x:
    case id_reverse_y:
        return registry_ != nullptr ? registry_->get_request(request, cam::level_base) : not_served();
    default:
        return not_served();
    }
}

std::error_code partial_scan::get_modes(KsPropDataRequest& request)
{
    if (modes_.empty()) {
        return not_served();
    }
    const auto count = static_cast<std::uint32_t>(modes_.size());
    const std::uint32_t all = mode_entry_size * count;
    if (request.value_size < mode_entry_size) {
        request.bytes_returned = mode_entry_size + all;
        return make_cam_error(static_cast<HRESULT>(0x8007007A));
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    auto* out = static_cast<std::uint8_t*>(request.value);
    const std::uint32_t header[2] = {mode_entry_size, count};
    std::memcpy(out, header, sizeof header);
    const std::uint32_t copied = std::min(all, request.value_size - mode_entry_size);
    for (std::uint32_t done = 0; done < copied;) {
        const std::uint32_t n = std::min(mode_entry_size, copied - done);
        std::memcpy(out + mode_entry_size + done, modes_[done / mode_entry_size].data(), n);
        done += n;
    }
    request.bytes_returned = mode_entry_size + copied;
    return {};
}

std::error_code partial_scan::get_control(KsPropDataRequest& request, UVCPropertyData& control)
{
    if (const std::error_code ec = cam::check_value_buffer(request, cam::range_value_reply_size)) {
        return ec;
    }
    if (const std::error_code ec = this->request(control, get_cur, control.current)) {
        return ec;
    }
    if (&control == &auto_center_) {
        return cam::write_range_value_reply(request, cam::flag_manual, 0, 1, 1, control.value() != 0 ? 1 : 0,
                                            cam::flag_manual);
    }
    return cam::write_range_value_reply(request, cam::flag_manual, minimum(control), maximum(control),
                                        UVCPropertyData::read(control.default_value, control.length), control.value(),
                                        cam::flag_manual);
}

std::error_code partial_scan::set_request(KsPropDataRequest& request)
{
    if (!cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return not_served();
    }
    switch (request.property_id) {
    case id_binning_factor:
        return set_binning(request);
    case id_auto_center:
        return set_control(request, auto_center_);
    case id_x_offset:
        return set_control(request, x_offset_);
    case id_y_offset:
        return set_control(request, y_offset_);
    case id_reverse_x:
    case id_reverse_y: {
        if (registry_ == nullptr) {
            return not_served();
        }
        const std::error_code ec = registry_->set_request(request, cam::level_base);
        if (!ec) {
            refresh_extra_values();
        }
        return ec;
    }
    default:
        return not_served();
    }
}

std::error_code partial_scan::set_control(KsPropDataRequest& request, UVCPropertyData& control)
{
    auto read = cam::read_value_and_flags_result(request);
    if (!read) {
        return read.error();
    }
    const std::error_code ec = write_control(control, read.value().value);
    refresh_extra_values();
    return ec;
}

std::error_code partial_scan::set_binning(const KsPropDataRequest& request)
{
    auto read = cam::read_value_and_flags_result(request);
    if (!read) {
        return read.error();
    }
    const std::int32_t factor = read.value().value;
    // Factor 3 is no mode of the family; a factor below 1 would divide the
    // frame size by zero or flip its sign.
    if (factor == 3 || factor < 1 || factor < minimum(binning_) || factor > maximum(binning_)) {
        return make_cam_error(E_INVALIDARG);
    }
    binning_factor_ = factor;
    refresh_extra_values();
    return {};
}

void partial_scan::reapply_value()
{
    if (usable(auto_center_) &&
        (request(auto_center_, set_cur, auto_center_.current) || auto_center_.value() == 0)) {
        return;
    }
    if (usable(x_offset_) && request(x_offset_, set_cur, x_offset_.current)) {
        return;
    }
    if (usable(y_offset_)) {
        (void)request(y_offset_, set_cur, y_offset_.current);
    }
}

} // namespace kyv_xu_props
