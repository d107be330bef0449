#include "device_impl/uvc/uvc_descriptor_tree.h"

#include <algorithm>

#include "gen_utils/log.h"

namespace cam::uvc_cam {

namespace {

using logging::level_error;
using logging::level_trace;

namespace vc {
constexpr std::uint8_t header = 1;
constexpr std::uint8_t input_terminal = 2;
constexpr std::uint8_t output_terminal = 3;
constexpr std::uint8_t selector_unit = 4;
constexpr std::uint8_t processing_unit = 5;
constexpr std::uint8_t extension_unit = 6;
} // namespace vc

namespace vs {
constexpr std::uint8_t input_header = 0x01;
constexpr std::uint8_t still_image_frame = 0x03;
constexpr std::uint8_t color_format = 0x0D;
} // namespace vs

constexpr std::uint16_t camera_terminal_type = 0x0201;

// Fixed fields of each kind, up to and including the last one the tree or
// its users read at a fixed offset.
constexpr std::size_t vc_header_size = 13;
constexpr std::size_t input_terminal_size = 8;
constexpr std::size_t camera_terminal_size = 15;     // through bControlSize
constexpr std::size_t output_terminal_size = 9;
constexpr std::size_t selector_unit_size = 5;        // through bNrInPins
constexpr std::size_t processing_unit_min_read = 8;  // through bControlSize
constexpr std::size_t processing_unit_size = 12;
constexpr std::size_t extension_unit_size = 26;
constexpr std::size_t extension_unit_pins_offset = 21;
constexpr std::size_t input_header_size = 13;        // through bControlSize
constexpr std::size_t color_matching_size = 6;
constexpr std::size_t frame_intervals_offset = 26;
constexpr std::size_t continuous_frame_size = 38;    // min, max and step

std::size_t format_size(std::uint8_t subtype) noexcept
{
    switch (subtype) {
    case uvc::vs_format_uncompressed: return 27;
    case uvc::vs_format_mjpeg: return 11;
    default: return 28; // frame-based
    }
}

bool is_interface(descriptor_bytes d) noexcept
{
    return d[1] == usb::interface_type;
}

void log_too_short(descriptor_bytes d) noexcept
{
    log_line(level_error, "[CamTovra] Descriptor too short for its fields (len={},type=0x{:x},subtype=0x{:x}), skipped.\n",
             d.size(), d[1], read_u8(d, 2));
}

void log_bad_length(const char* type_name, std::size_t reported, std::size_t wanted) noexcept
{
    log_line(level_error, "[CamTovra] Type {}, invalid length reported=({}), should be ({})\n", type_name, reported,
             wanted);
}

void log_bad_controls_length(const char* type_name, std::size_t reported, std::size_t wanted) noexcept
{
    log_line(level_error, "[CamTovra] bmControls, Type {}, Invalid length reported=({}), should be ({})\n", type_name,
             reported, wanted);
}

void dump_controls(const char* type_name, descriptor_bytes d, descriptor_bytes controls) noexcept
{
    if (!log_enabled(level_trace)) {
        return;
    }
    log_line(level_trace, "[CamTovra] Dump {} id=0x{:x} flags:\n", type_name, read_u8(d, 3));
    for (std::size_t i = 0; i < controls.size(); ++i) {
        log_line(level_trace, "[CamTovra] \t[{}] 0x{:02x}\n", i, controls[i]);
    }
}

// bmControls: `size` bytes from `offset`, as far as the descriptor holds them.
descriptor_bytes controls_at(descriptor_bytes d, std::size_t offset, std::size_t size) noexcept
{
    if (offset >= d.size()) {
        return {};
    }
    return d.subspan(offset, std::min(size, d.size() - offset));
}

struct interface_match {
    std::uint8_t interface_class;
    std::uint8_t subclass;
};

// The first interface descriptor at or after `offset` of the given class and
// subclass. An interface descriptor too short to hold them is passed over.
std::optional<found_descriptor> find_interface(descriptor_bytes all, std::size_t offset, interface_match m) noexcept
{
    while (const auto f = find_descriptor(all, offset, usb::interface_type, usb::interface_size, "USB_INTERFACE_DESCRIPTOR")) {
        if (f->bytes.size() >= usb::interface_size && f->bytes[5] == m.interface_class && f->bytes[6] == m.subclass) {
            return f;
        }
        offset = f->offset + f->bytes.size();
    }
    return std::nullopt;
}

void log_video_function(descriptor_bytes all) noexcept
{
    std::size_t offset = 0;
    while (const auto f = find_descriptor(all, offset, usb::interface_association_type, usb::interface_association_size,
                                          "USB_INTERFACE_ASSOCIATION_DESCRIPTOR")) {
        const descriptor_bytes d = f->bytes;
        if (d.size() >= usb::interface_association_size && d[4] == uvc::video_class &&
            d[5] == uvc::sc_interface_collection) {
            log_line(level_trace,
                     "[CamTovra] Found IAD descriptor {{VIDEO_INTERFACE_CLASS, SC_VIDEO_INTERFACE_COLLECTION}}, "
                     "bFirstInterface={}, bInterfaceCount={}, iFunction={}.\n",
                     d[2], d[3], d[7]);
            return;
        }
        offset = f->offset + d.size();
    }
}

} // namespace

void uvc_descriptor_tree::clear() noexcept
{
    *this = uvc_descriptor_tree{};
}

descriptor_bytes uvc_descriptor_tree::configuration() const noexcept
{
    return bytes_ ? descriptor_bytes(*bytes_) : descriptor_bytes{};
}

bool uvc_descriptor_tree::build(std::span<const std::uint8_t> configuration)
{
    clear();
    bytes_ = std::make_shared<const std::vector<std::uint8_t>>(configuration.begin(), configuration.end());
    const descriptor_bytes all = this->configuration();

    log_video_function(all);

    auto vc = find_interface(all, 0, {uvc::video_class, uvc::sc_video_control});
    if (!vc) {
        vc = find_interface(all, 0, {uvc::vendor_class, uvc::sc_video_control});
    }
    if (!vc) {
        log_line(level_error, "[CamTovra] No VideoControl interface in the USB configuration descriptor.\n");
        clear();
        return false;
    }
    vc_interface_ = vc->bytes;
    const std::size_t after_vc = walk_video_control(all, vc->offset + vc->bytes.size());

    auto vs = find_interface(all, after_vc, {uvc::video_class, uvc::sc_video_streaming});
    if (!vs) {
        vs = find_interface(all, after_vc, {uvc::vendor_class, uvc::sc_video_streaming});
    }
    if (!vs) {
        log_line(level_error, "[CamTovra] No VideoStreaming interface in the USB configuration descriptor.\n");
        clear();
        return false;
    }
    vs_interface_ = vs->bytes;
    record_pipes(all, vs->offset);
    walk_video_streaming(all, vs->offset + vs->bytes.size());
    return true;
}

// Walks the class-specific descriptors after the VC interface up to the next
// interface descriptor; returns where the walk stopped.
std::size_t uvc_descriptor_tree::walk_video_control(descriptor_bytes all, std::size_t offset)
{
    while (offset < all.size()) {
        const std::size_t left = all.size() - offset;
        const std::uint8_t length = all[offset];
        if (left < 2 || length == 0 || length > left) {
            log_line(level_error, "[CamTovra] Invalid length of descriptor (len={},type={}).\n", length,
                     left < 2 ? 0 : all[offset + 1]);
            return all.size();
        }
        const descriptor_bytes d = all.subspan(offset, length);
        if (is_interface(d)) {
            return offset;
        }
        offset += length;
        if (d[1] != usb::cs_interface_type) {
            continue;
        }
        if (d.size() < 4) {
            log_too_short(d);
            continue;
        }
        if (d[2] == vc::header) {
            if (d.size() < vc_header_size) {
                log_bad_length("VCInterfaceHeader", d.size(), vc_header_size);
                log_too_short(d);
                continue;
            }
            vc_header_ = d;
            const std::uint16_t bcd = read_le16(d, 3);
            if (bcd != 0x0100 && bcd != 0x0110 && bcd != 0x0150) {
                log_line(level_error, "[CamTovra] Invalid field value hdr.bcdVDC=0x{:x}, should be 0x0100.\n", bcd);
            }
            if (read_le16(d, 5) == 0) {
                log_line(level_error, "[CamTovra] Invalid field value hdr.wTotalLength={}, should be > 0.\n", 0);
            }
            if (d[11] == 0) {
                log_line(level_error, "[CamTovra] Invalid field value hdr.bInCollection={}, should be > 0.\n", 0);
            }
            continue;
        }
        add_unit(d);
    }
    return offset;
}

void uvc_descriptor_tree::add_unit(descriptor_bytes d)
{
    struct kind {
        std::uint8_t subtype;
        std::vector<unit_descriptor>* list;
        const char* full_log;
    };
    const kind kinds[] = {
        {vc::input_terminal, &input_terminals_, "[CamTovra] Invalid number of VC_INPUT_TERMINALs for interface 0.\n"},
        {vc::output_terminal, &output_terminals_, "[CamTovra] Invalid number of VC_OUTPUT_TERMINALs for interface 0.\n"},
        {vc::selector_unit, &selector_units_, "[CamTovra] Invalid number of VC_SELECTOR_UNIT units for interface 0.\n"},
        {vc::processing_unit, &processing_units_,
         "[CamTovra] Invalid number of VC_PROCESSING_UNIT units for interface 0.\n"},
        {vc::extension_unit, &extension_units_, "[CamTovra] Invalid number of VC_EXTENSION_UNIT units for interface 0.\n"},
    };
    const kind* k = nullptr;
    for (const auto& candidate : kinds) {
        if (candidate.subtype == d[2]) {
            k = &candidate;
        }
    }
    if (k == nullptr) {
        log_line(level_error, "[CamTovra] Unknown bDescriptorSubtype={} for interface 0.\n", d[2]);
        return;
    }
    if (k->list->size() >= max_units) {
        log_line(level_error, "{}", k->full_log);
        return;
    }

    unit_descriptor unit{d, {}};
    switch (d[2]) {
    case vc::input_terminal:
        if (d.size() < input_terminal_size) {
            log_bad_length("VCInputTD", d.size(), input_terminal_size);
            log_too_short(d);
            return;
        }
        if (read_le16(d, 4) == camera_terminal_type) {
            const std::size_t control_size = read_u8(d, camera_terminal_size - 1);
            if (d.size() != control_size + camera_terminal_size) {
                log_bad_controls_length("VCCameraInputTD", d.size(), control_size + camera_terminal_size);
            }
            // A camera terminal too short for bControlSize is kept without controls.
            if (d.size() >= camera_terminal_size) {
                unit.controls = controls_at(d, camera_terminal_size, control_size);
            }
            dump_controls("VCCameraInputTD", d, unit.controls);
        }
        break;
    case vc::output_terminal:
        if (d.size() < output_terminal_size) {
            log_too_short(d);
            return;
        }
        break;
    case vc::selector_unit:
        if (d.size() < selector_unit_size) {
            log_too_short(d);
            return;
        }
        break;
    case vc::processing_unit: {
        if (d.size() < processing_unit_size) {
            log_bad_length("VCProcessingUnit", d.size(), processing_unit_size);
        }
        if (d.size() < processing_unit_min_read) {
            log_too_short(d);
            return;
        }
        const std::size_t control_size = d[7];
        if (d.size() != control_size + 10) {
            log_bad_controls_length("VCProcessingUnit", d.size(), control_size + 10);
        }
        unit.controls = controls_at(d, 8, control_size);
        dump_controls("VCProcessingUnit", d, unit.controls);
        break;
    }
    default: { // extension unit: GUID, bNumControls, bNrInPins, baSourceID[p], bControlSize, bmControls
        if (d.size() < extension_unit_size) {
            log_bad_length("VCExtensionUnit", d.size(), extension_unit_size);
        }
        const std::size_t pins = read_u8(d, extension_unit_pins_offset);
        const std::size_t control_size_offset = extension_unit_pins_offset + 1 + pins;
        if (d.size() <= control_size_offset) {
            log_too_short(d);
            return;
        }
        const std::size_t control_size = d[control_size_offset];
        if (d.size() != control_size + control_size_offset + 2) {
            log_bad_controls_length("VCExtensionUnit", d.size(), control_size + control_size_offset + 2);
        }
        unit.controls = controls_at(d, control_size_offset + 1, control_size);
        dump_controls("VCExtensionUnit", d, unit.controls);
        break;
    }
    }
    k->list->push_back(unit);
}

// The VS interface itself, then the first later alternate setting 0..15 of
// the same interface number and class.
void uvc_descriptor_tree::record_pipes(descriptor_bytes all, std::size_t vs_offset)
{
    const descriptor_bytes vs = all.subspan(vs_offset, all[vs_offset]);
    record_pipe(all, vs_offset);

    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::size_t alternate[16];
    std::fill(std::begin(alternate), std::end(alternate), none);
    std::size_t offset = vs_offset + vs.size();
    while (const auto f = find_interface(all, offset, {vs[5], uvc::sc_video_streaming})) {
        const std::uint8_t alt = f->bytes[3];
        if (f->bytes[2] == vs[2] && alt < 16 && alternate[alt] == none) {
            alternate[alt] = f->offset;
        }
        offset = f->offset + f->bytes.size();
    }
    for (const std::size_t at : alternate) {
        if (at != none) {
            record_pipe(all, at);
        }
    }
    std::stable_sort(pipes_.begin(), pipes_.end(),
                     [](const pipe_info& a, const pipe_info& b) { return a.max_packet_size < b.max_packet_size; });
}

// Records an alternate setting whose first endpoint is an IN endpoint.
void uvc_descriptor_tree::record_pipe(descriptor_bytes all, std::size_t interface_offset)
{
    const descriptor_bytes itf = all.subspan(interface_offset, all[interface_offset]);
    if (itf[4] == 0 || pipes_.size() >= max_pipes) {
        return;
    }
    std::size_t offset = interface_offset + itf.size();
    while (const auto d = descriptor_at(all, offset)) {
        if (is_interface(*d)) {
            return;
        }
        offset += d->size();
        if ((*d)[1] != usb::endpoint_type) {
            continue;
        }
        if (d->size() < usb::endpoint_size) {
            log_line(level_error, "[CamTovra] Struct type ({}) is too big for descriptor (len={},type={}).\n",
                     "USB_ENDPOINT_DESCRIPTOR", d->size(), (*d)[1]);
            return;
        }
        if (((*d)[2] & 0x80) == 0) {
            return;
        }
        pipe_info pipe;
        pipe.max_packet_size = read_le16(*d, 4);
        pipe.alternate_setting = itf[3];
        pipe.endpoint_address = (*d)[2];
        pipe.is_isoch = ((*d)[3] & 3) == 1 ? 1 : 0;
        log_line(level_trace, "[CamTovra] Added pipe_info for alt={}, is_isoch={}, packet_size=0x{:x}.\n",
                 pipe.alternate_setting, pipe.is_isoch, pipe.max_packet_size);
        pipes_.push_back(pipe);
        return;
    }
}

void uvc_descriptor_tree::walk_video_streaming(descriptor_bytes all, std::size_t offset)
{
    while (offset < all.size()) {
        const std::size_t left = all.size() - offset;
        const std::uint8_t length = all[offset];
        if (length == 0) {
            return;
        }
        if (left < 2 || length > left) {
            log_line(level_error, "[CamTovra] Invalid length of descriptor (len={},type={}).\n", length,
                     left < 2 ? 0 : all[offset + 1]);
            return;
        }
        const descriptor_bytes d = all.subspan(offset, length);
        if (is_interface(d)) {
            return;
        }
        offset += length;
        if (d[1] != usb::cs_interface_type) {
            continue;
        }
        if (d.size() < 3) {
            log_too_short(d);
            continue;
        }
        switch (d[2]) {
        case vs::input_header:
            if (d.size() < input_header_size) {
                log_too_short(d);
                break;
            }
            vs_input_header_.bytes = d;
            vs_input_header_.control_size = d[12];
            vs_input_header_.format_count =
                d[12] == 0 ? d[3]
                           : static_cast<std::uint8_t>(std::min<std::size_t>(d[3], (d.size() - input_header_size) / d[12]));
            break;
        case uvc::vs_format_uncompressed:
        case uvc::vs_format_mjpeg:
        case uvc::vs_format_frame_based:
            add_format(d);
            break;
        case uvc::vs_frame_uncompressed:
        case uvc::vs_frame_mjpeg:
        case uvc::vs_frame_frame_based:
            add_frame(d);
            break;
        case vs::color_format:
            if (formats_.empty()) {
                log_line(level_trace, "[CamTovra] VS_COLORFORMAT for format_idx={} out of range, skipped.\n",
                         formats_.size());
            } else if (d.size() < color_matching_size) {
                log_too_short(d);
            } else {
                formats_.back().color_matching = d;
            }
            break;
        case vs::still_image_frame:
            log_line(level_trace, "[CamTovra] VS_STILL_IMAGE_FRAME.\n");
            break;
        default:
            log_line(level_trace,
                     "[CamTovra] Failed to identify descriptor with bLength=0x{:x}, bDescriptorType=0x{:x} "
                     "bDescriptorSubtype=0x{:x}. Skipped.\n",
                     d[0], d[1], d[2]);
            break;
        }
    }
}

void uvc_descriptor_tree::add_format(descriptor_bytes d)
{
    if (formats_.size() >= max_formats) {
        log_line(level_error, "[CamTovra] format count {}, > max format count.\n", formats_.size() + 1);
        return;
    }
    if (d.size() < format_size(d[2])) {
        log_too_short(d);
        return;
    }
    const std::uint8_t index = d[3];
    for (const auto& f : formats_) {
        if (f.bytes[3] == index) {
            log_line(level_error, "[CamTovra] FormatIndex {} already present.\n", index);
            return;
        }
    }
    format_descriptor format;
    format.subtype = d[2];
    format.bytes = d;
    formats_.push_back(std::move(format));
}

void uvc_descriptor_tree::add_frame(descriptor_bytes d)
{
    const std::uint8_t frame_index = read_u8(d, 3);
    if (formats_.empty()) {
        log_line(level_error, "[CamTovra] fmt{},frm{}, no format type, skipping this frame type.\n", 0, frame_index);
        return;
    }
    format_descriptor& format = formats_.back();
    const std::uint8_t format_index = format.bytes[3];
    if (format.frames.size() >= max_frames) {
        log_line(level_error, "[CamTovra] fmt{},frm{}, is > max frame count.\n", format_index, frame_index);
        return;
    }
    // Both frame layouts keep bFrameIntervalType before offset 26 and the
    // intervals from there: three for a continuous range, else one each.
    const std::size_t type_offset = d[2] == uvc::vs_frame_frame_based ? 21 : 25;
    if (d.size() < frame_intervals_offset) {
        log_too_short(d);
        return;
    }
    const std::uint8_t interval_type = d[type_offset];
    std::uint8_t intervals = 0;
    if (interval_type == 0) {
        if (d.size() < continuous_frame_size) {
            log_too_short(d);
            return;
        }
    } else {
        const std::size_t held = (d.size() - frame_intervals_offset) / 4;
        if (held == 0) {
            log_too_short(d);
            return;
        }
        intervals = static_cast<std::uint8_t>(std::min<std::size_t>(interval_type, held));
    }
    for (const auto& f : format.frames) {
        if (f.bytes[3] == frame_index) {
            log_line(level_error, "[CamTovra] fmt{},frm{}, bFrameIndex already present .\n", format_index,
                     frame_index);
            return;
        }
    }
    format.frames.push_back({d, intervals});
}

} // namespace cam::uvc_cam
