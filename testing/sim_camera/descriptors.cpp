#include "descriptors.h"

#include <algorithm>

namespace sim_camera {

const std::uint8_t vendor_extension_unit_guid[16] = {0x0A, 0xBA, 0x49, 0xDE, 0x5C, 0x0B, 0x49, 0xD5,
                                                     0x8F, 0x71, 0x0B, 0xE4, 0x0F, 0x94, 0xA6, 0x7A};

namespace {

void put16(bytes& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(bytes& out, std::uint32_t value)
{
    put16(out, static_cast<std::uint16_t>(value));
    put16(out, static_cast<std::uint16_t>(value >> 16));
}

void append(bytes& out, const bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// VideoControl class-specific descriptors: header, camera terminal (1),
// processing unit (2), extension unit (3; every control announced, none when
// xu_control_size is 0), output terminal (4).
bytes video_control_descriptors(std::uint8_t xu_control_size)
{
    bytes units;
    // Camera terminal.
    units.insert(units.end(), {18, 0x24, 0x02, 1});
    put16(units, 0x0201);
    units.insert(units.end(), {0, 0});
    put16(units, 0);
    put16(units, 0);
    put16(units, 0);
    units.insert(units.end(), {3, 0x0A, 0x00, 0x00});
    // Processing unit.
    units.insert(units.end(), {13, 0x24, 0x05, 2, 1});
    put16(units, 0);
    units.insert(units.end(), {3, 0x5B, 0x17, 0x00, 0, 0});
    // Vendor extension unit.
    if (xu_control_size != 0) {
        units.insert(units.end(), {static_cast<std::uint8_t>(25 + xu_control_size), 0x24, 0x06, 3});
        units.insert(units.end(), std::begin(vendor_extension_unit_guid), std::end(vendor_extension_unit_guid));
        units.insert(units.end(), {static_cast<std::uint8_t>(8 * xu_control_size), 1, 2, xu_control_size});
        units.insert(units.end(), xu_control_size, 0xFF);
        units.push_back(0);
    }
    // Output terminal, streaming.
    units.insert(units.end(), {9, 0x24, 0x03, 4});
    put16(units, 0x0101);
    units.insert(units.end(), {0, static_cast<std::uint8_t>(xu_control_size != 0 ? 3 : 2), 0});

    bytes header{13, 0x24, 0x01};
    put16(header, 0x0150);
    put16(header, static_cast<std::uint16_t>(13 + units.size()));
    put32(header, 48000000);
    header.insert(header.end(), {1, 1});
    append(header, units);
    return header;
}

// VideoStreaming: input header, one uncompressed 8-bit format, two frames.
bytes video_streaming_descriptors(std::string_view fourcc)
{
    bytes format{27, 0x24, 0x04, 1, 2};
    std::uint8_t guid[16] = {'Y', '8', '0', '0', 0x00, 0x00, 0x10, 0x00,
                             0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    for (std::size_t i = 0; i < 4 && i < fourcc.size(); ++i) {
        guid[i] = static_cast<std::uint8_t>(fourcc[i]);
    }
    format.insert(format.end(), std::begin(guid), std::end(guid));
    format.insert(format.end(), {8, 1, 0, 0, 0, 0});

    bytes frames;
    const std::uint16_t sizes[2][2] = {{640, 480}, {1920, 1080}};
    for (int i = 0; i < 2; ++i) {
        bytes frame{30, 0x24, 0x05, static_cast<std::uint8_t>(i + 1), 0};
        put16(frame, sizes[i][0]);
        put16(frame, sizes[i][1]);
        const std::uint32_t frame_bytes = std::uint32_t{sizes[i][0]} * sizes[i][1];
        put32(frame, frame_bytes * 8 * 30);
        put32(frame, frame_bytes * 8 * 60);
        put32(frame, frame_bytes);
        put32(frame, 333333);
        frame.push_back(1);
        put32(frame, 333333);
        append(frames, frame);
    }

    bytes header{14, 0x24, 0x01, 1};
    put16(header, static_cast<std::uint16_t>(14 + format.size() + frames.size()));
    header.insert(header.end(), {0x81, 0, 4, 0, 0, 0, 1, 0});
    append(header, format);
    append(header, frames);
    return header;
}

} // namespace

bytes build_configuration(const configuration_spec& spec)
{
    bytes out{9, 0x02, 0, 0, static_cast<std::uint8_t>(spec.interfaces.size()), 1, 0, 0x80, 112};
    append(out, spec.before_interfaces);
    for (const interface_spec& itf : spec.interfaces) {
        for (const alternate_spec& alt : itf.alternates) {
            out.insert(out.end(), {9, 0x04, itf.number, alt.alternate,
                                   static_cast<std::uint8_t>(alt.endpoints.size()), alt.interface_class,
                                   alt.interface_subclass, alt.interface_protocol, 0});
            append(out, alt.class_specific);
            for (const endpoint_spec& ep : alt.endpoints) {
                out.insert(out.end(), {7, 0x05, ep.address, ep.attributes});
                put16(out, ep.max_packet);
                out.push_back(ep.interval);
                if (ep.companion) {
                    out.insert(out.end(), {6, 0x30, static_cast<std::uint8_t>(ep.attributes == 2 ? 15 : 0), 0});
                    put16(out, static_cast<std::uint16_t>(ep.attributes == 2 ? 0 : ep.max_packet));
                }
                append(out, ep.class_specific);
            }
        }
    }
    while (out.size() < spec.pad_to) {
        const std::size_t length = std::min<std::size_t>(255, spec.pad_to - out.size());
        if (length < 2) {
            break;
        }
        bytes filler(length, 0xA5);
        filler[0] = static_cast<std::uint8_t>(length);
        filler[1] = 0xFF;
        append(out, filler);
    }
    out[2] = static_cast<std::uint8_t>(out.size());
    out[3] = static_cast<std::uint8_t>(out.size() >> 8);
    return out;
}

configuration_spec uvc_camera_spec(std::string_view fourcc, std::uint8_t xu_control_size)
{
    configuration_spec spec;
    // Interface association: interfaces 0 and 1, video class.
    spec.before_interfaces = {8, 0x0B, 0, 2, 0x0E, 0x03, 0, 2};

    alternate_spec control;
    control.interface_subclass = 0x01;
    control.class_specific = video_control_descriptors(xu_control_size);
    endpoint_spec status;
    status.address = 0x83;
    status.attributes = 3;
    status.max_packet = 64;
    status.interval = 8;
    status.class_specific = {5, 0x25, 0x03, 64, 0};
    control.endpoints.push_back(status);
    spec.interfaces.push_back({0, {control}});

    alternate_spec streaming;
    streaming.class_specific = video_streaming_descriptors(fourcc);
    streaming.endpoints.push_back(endpoint_spec{});
    spec.interfaces.push_back({1, {streaming}});
    return spec;
}

bytes uvc_camera_configuration(std::string_view fourcc) { return build_configuration(uvc_camera_spec(fourcc)); }

bytes device_descriptor(std::uint16_t bcd_usb)
{
    bytes out{18, 0x01};
    put16(out, bcd_usb);
    out.insert(out.end(), {0xEF, 0x02, 0x01, 9});
    put16(out, 0xF0CA);
    put16(out, 0x0C01);
    put16(out, 0x0100);
    out.insert(out.end(), {1, 2, 3, 1});
    return out;
}

bytes string_descriptor(std::u16string_view text)
{
    bytes out{static_cast<std::uint8_t>(2 + 2 * text.size()), 0x03};
    for (const char16_t c : text) {
        put16(out, static_cast<std::uint16_t>(c));
    }
    return out;
}

} // namespace sim_camera
