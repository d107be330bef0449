#include "device_impl/uvc/uvc_descriptor_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gen_utils/log.h"

namespace {

using cam::uvc_cam::descriptor_bytes;
using cam::uvc_cam::read_le16;
using cam::uvc_cam::read_le32;
using cam::uvc_cam::uvc_descriptor_tree;
using bytes = std::vector<std::uint8_t>;

// ---- descriptors, byte by byte -----------------------------------------

void put16(bytes& b, unsigned v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(bytes& b, unsigned v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

bytes configuration(unsigned interfaces)
{
    return {9, 0x02, 0, 0, static_cast<std::uint8_t>(interfaces), 1, 0, 0x80, 250};
}

bytes iad(std::uint8_t first, std::uint8_t count)
{
    return {8, 0x0B, first, count, 14, 3, 0, 2};
}

bytes interface(std::uint8_t number, std::uint8_t alt, std::uint8_t endpoints, std::uint8_t cls, std::uint8_t sub)
{
    return {9, 0x04, number, alt, endpoints, cls, sub, 0, 0};
}

bytes vc_header(unsigned bcd, unsigned total)
{
    bytes b{13, 0x24, 1};
    put16(b, bcd);
    put16(b, total);
    put32(b, 48000000); // dwClockFrequency
    b.push_back(1);     // bInCollection
    b.push_back(1);     // baInterfaceNr(1)
    return b;
}

bytes camera_terminal(std::uint8_t id, const bytes& controls)
{
    bytes b{static_cast<std::uint8_t>(15 + controls.size()), 0x24, 2, id, 0x01, 0x02, 0, 0};
    put16(b, 0);
    put16(b, 0);
    put16(b, 0);
    b.push_back(static_cast<std::uint8_t>(controls.size()));
    b.insert(b.end(), controls.begin(), controls.end());
    return b;
}

bytes processing_unit(std::uint8_t id, std::uint8_t source, const bytes& controls)
{
    bytes b{static_cast<std::uint8_t>(10 + controls.size()), 0x24, 5, id, source};
    put16(b, 0x4000); // wMaxMultiplier
    b.push_back(static_cast<std::uint8_t>(controls.size()));
    b.insert(b.end(), controls.begin(), controls.end());
    b.push_back(0); // iProcessing
    b.push_back(0); // bmVideoStandards
    return b;
}

const bytes extension_guid{0x0A, 0xBA, 0x49, 0xDE, 0x5C, 0x0B, 0x49, 0xD5,
                           0x8F, 0x71, 0x0B, 0xE4, 0x0F, 0x94, 0xA6, 0x7A};

bytes extension_unit(std::uint8_t id, std::uint8_t source, const bytes& controls)
{
    bytes b{static_cast<std::uint8_t>(25 + controls.size()), 0x24, 6, id};
    b.insert(b.end(), extension_guid.begin(), extension_guid.end());
    b.push_back(static_cast<std::uint8_t>(controls.size() * 8)); // bNumControls
    b.push_back(1);                                             // bNrInPins
    b.push_back(source);
    b.push_back(static_cast<std::uint8_t>(controls.size()));
    b.insert(b.end(), controls.begin(), controls.end());
    b.push_back(0); // iExtension
    return b;
}

bytes output_terminal(std::uint8_t id, std::uint8_t source)
{
    return {9, 0x24, 3, id, 0x01, 0x01, 0, source, 0};
}

bytes endpoint(std::uint8_t address, std::uint8_t attributes, unsigned packet)
{
    bytes b{7, 0x05, address, attributes};
    put16(b, packet);
    b.push_back(1);
    return b;
}

bytes input_header(std::uint8_t formats, std::uint8_t endpoint_address)
{
    bytes b{static_cast<std::uint8_t>(13 + formats), 0x24, 1, formats};
    put16(b, 0);
    b.insert(b.end(), {endpoint_address, 0, 4, 1, 0, 0, 1});
    for (int i = 0; i < formats; ++i) {
        b.push_back(0);
    }
    return b;
}

const bytes yuy2_guid{'Y', 'U', 'Y', '2', 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bytes uncompressed_format(std::uint8_t index, std::uint8_t frames)
{
    bytes b{27, 0x24, 0x04, index, frames};
    b.insert(b.end(), yuy2_guid.begin(), yuy2_guid.end());
    b.insert(b.end(), {16, 1, 0, 0, 0, 0});
    return b;
}

bytes mjpeg_format(std::uint8_t index, std::uint8_t frames)
{
    return {11, 0x24, 0x06, index, frames, 1, 1, 0, 0, 0, 0};
}

bytes frame_based_format(std::uint8_t index, std::uint8_t frames)
{
    bytes b{28, 0x24, 0x10, index, frames};
    b.insert(b.end(), yuy2_guid.begin(), yuy2_guid.end());
    b.insert(b.end(), {16, 1, 0, 0, 0, 0, 1});
    return b;
}

// Uncompressed (0x05) or MJPEG (0x07) frame with discrete intervals.
bytes frame(std::uint8_t subtype, std::uint8_t index, unsigned w, unsigned h, const std::vector<unsigned>& intervals)
{
    bytes b{static_cast<std::uint8_t>(26 + 4 * intervals.size()), 0x24, subtype, index, 0};
    put16(b, w);
    put16(b, h);
    put32(b, w * h * 16 * 5);  // dwMinBitRate
    put32(b, w * h * 16 * 30); // dwMaxBitRate
    put32(b, w * h * 2);       // dwMaxVideoFrameBufferSize
    put32(b, intervals.empty() ? 333333 : intervals.front());
    b.push_back(static_cast<std::uint8_t>(intervals.size()));
    for (const unsigned i : intervals) {
        put32(b, i);
    }
    return b;
}

// Frame-based frame (0x11) with a continuous interval range.
bytes frame_based_frame(std::uint8_t index, unsigned w, unsigned h)
{
    bytes b{38, 0x24, 0x11, index, 0};
    put16(b, w);
    put16(b, h);
    put32(b, 1000000);
    put32(b, 2000000);
    put32(b, 333333); // dwDefaultFrameInterval
    b.push_back(0);   // continuous
    put32(b, w * 2);  // dwBytesPerLine
    put32(b, 166666);
    put32(b, 1000000);
    put32(b, 1);
    return b;
}

bytes color_matching()
{
    return {6, 0x24, 0x0D, 1, 1, 4};
}

bytes still_image_frame()
{
    return {10, 0x24, 0x03, 0, 1, 0x80, 0x02, 0xE0, 0x01, 0};
}

bytes join(std::initializer_list<bytes> parts)
{
    bytes all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    if (all.size() >= 4 && all[1] == 0x02) {
        all[2] = static_cast<std::uint8_t>(all.size());
        all[3] = static_cast<std::uint8_t>(all.size() >> 8);
    }
    return all;
}

// An isochronous camera: video interface collection, camera terminal,
// processing unit, extension unit and output terminal; one uncompressed,
// one MJPEG and one frame-based format; three alternate settings in
// descending packet size.
bytes iso_camera(std::uint8_t cls = 14)
{
    return join({
        configuration(2),
        iad(0, 2),
        interface(0, 0, 1, cls, 1),
        vc_header(0x0110, 13 + 18 + 15 + 28 + 9),
        camera_terminal(1, {0x0A, 0x00, 0x02}),
        processing_unit(2, 1, {0x7F, 0x15, 0x00}),
        extension_unit(3, 2, {0xFF, 0x03, 0x00}),
        output_terminal(4, 3),
        endpoint(0x83, 0x03, 16),
        bytes{5, 0x25, 0x03, 16, 0}, // CS endpoint
        interface(1, 0, 0, cls, 2),
        input_header(3, 0x81),
        uncompressed_format(1, 2),
        frame(0x05, 1, 640, 480, {333333, 666666}),
        frame(0x05, 2, 1280, 720, {333333}),
        color_matching(),
        mjpeg_format(2, 1),
        frame(0x07, 1, 1920, 1080, {333333, 400000, 666666}),
        frame_based_format(3, 1),
        frame_based_frame(1, 800, 600),
        still_image_frame(),
        interface(1, 1, 1, cls, 2),
        endpoint(0x81, 0x05, 0x0C00),
        interface(1, 2, 1, cls, 2),
        endpoint(0x81, 0x05, 0x0400),
        interface(1, 3, 1, cls, 2),
        endpoint(0x81, 0x05, 0x0200),
    });
}

// ---- log capture -----------------------------------------------------------

struct uvc_tree_test : ::testing::Test {
    std::vector<std::string> lines;

    void SetUp() override
    {
        service_log_level = 3;
        set_log_sink(1, [this](std::uint32_t, const char* text) { lines.emplace_back(text); });
    }
    void TearDown() override
    {
        set_log_sink(1, nullptr);
        service_log_level = 0;
    }
    bool logged(const std::string& text) const
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    }
    int count(const std::string& text) const
    {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                              [&](const std::string& l) { return l.find(text) != std::string::npos; }));
    }
};

bytes to_bytes(descriptor_bytes d)
{
    return bytes(d.begin(), d.end());
}

void expect_camera_tree(const uvc_descriptor_tree& t, std::uint8_t cls)
{
    EXPECT_EQ(to_bytes(t.vc_interface()), interface(0, 0, 1, cls, 1));
    EXPECT_EQ(read_le16(t.vc_header(), 3), 0x0110);
    ASSERT_EQ(t.input_terminals().size(), 1u);
    EXPECT_EQ(to_bytes(t.input_terminals()[0].controls), (bytes{0x0A, 0x00, 0x02}));
    ASSERT_EQ(t.processing_units().size(), 1u);
    EXPECT_EQ(t.processing_units()[0].bytes[3], 2);
    EXPECT_EQ(to_bytes(t.processing_units()[0].controls), (bytes{0x7F, 0x15, 0x00}));
    ASSERT_EQ(t.extension_units().size(), 1u);
    EXPECT_EQ(to_bytes(t.extension_units()[0].bytes.subspan(4, 16)), extension_guid);
    EXPECT_EQ(to_bytes(t.extension_units()[0].controls), (bytes{0xFF, 0x03, 0x00}));
    ASSERT_EQ(t.output_terminals().size(), 1u);
    EXPECT_EQ(t.output_terminals()[0].bytes[7], 3) << "bSourceID";
    EXPECT_TRUE(t.output_terminals()[0].controls.empty());
    EXPECT_TRUE(t.selector_units().empty());

    EXPECT_EQ(to_bytes(t.vs_interface()), interface(1, 0, 0, cls, 2));
    EXPECT_EQ(t.vs_input_header().format_count, 3);
    EXPECT_EQ(t.vs_input_header().bytes[6], 0x81);

    ASSERT_EQ(t.formats().size(), 3u);
    const auto& f0 = t.formats()[0];
    EXPECT_EQ(f0.subtype, 0x04);
    EXPECT_EQ(to_bytes(f0.bytes.subspan(5, 16)), yuy2_guid);
    ASSERT_EQ(f0.frames.size(), 2u);
    EXPECT_EQ(read_le16(f0.frames[0].bytes, 5), 640);
    EXPECT_EQ(read_le16(f0.frames[0].bytes, 7), 480);
    EXPECT_EQ(f0.frames[0].interval_count, 2);
    EXPECT_EQ(read_le32(f0.frames[0].bytes, 30), 666666u);
    EXPECT_EQ(read_le16(f0.frames[1].bytes, 5), 1280);
    EXPECT_EQ(to_bytes(f0.color_matching), color_matching());

    const auto& f1 = t.formats()[1];
    EXPECT_EQ(f1.subtype, 0x06);
    ASSERT_EQ(f1.frames.size(), 1u);
    EXPECT_EQ(f1.frames[0].interval_count, 3);
    EXPECT_EQ(read_le32(f1.frames[0].bytes, 34), 666666u);
    EXPECT_TRUE(f1.color_matching.empty());

    const auto& f2 = t.formats()[2];
    EXPECT_EQ(f2.subtype, 0x10);
    ASSERT_EQ(f2.frames.size(), 1u);
    EXPECT_EQ(f2.frames[0].interval_count, 0) << "continuous range";
    EXPECT_EQ(read_le32(f2.frames[0].bytes, 26), 166666u);
    EXPECT_EQ(read_le32(f2.frames[0].bytes, 30), 1000000u);

    // Alternate settings 1, 2, 3 came with 3072, 1024 and 512 bytes per packet.
    ASSERT_EQ(t.pipes().size(), 3u);
    const std::uint32_t sizes[] = {0x0200, 0x0400, 0x0C00};
    const std::uint8_t alts[] = {3, 2, 1};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(t.pipes()[i].max_packet_size, sizes[i]);
        EXPECT_EQ(t.pipes()[i].alternate_setting, alts[i]);
        EXPECT_EQ(t.pipes()[i].endpoint_address, 0x81);
        EXPECT_EQ(t.pipes()[i].is_isoch, 1);
    }
}

TEST_F(uvc_tree_test, isochronous_camera_parses_into_units_formats_and_an_ascending_pipe_table)
{
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(iso_camera()));
    expect_camera_tree(t, 14);
    EXPECT_TRUE(logged("Found IAD descriptor {VIDEO_INTERFACE_CLASS, SC_VIDEO_INTERFACE_COLLECTION}, "
                       "bFirstInterface=0, bInterfaceCount=2, iFunction=2."));
    EXPECT_TRUE(logged("Dump VCCameraInputTD id=0x1 flags:"));
    EXPECT_TRUE(logged("\t[2] 0x02"));
    EXPECT_TRUE(logged("Added pipe_info for alt=2, is_isoch=1, packet_size=0x400."));
    EXPECT_TRUE(logged("VS_STILL_IMAGE_FRAME."));
    EXPECT_FALSE(logged("Invalid")) << "a well-formed camera logs no complaint";
}

TEST_F(uvc_tree_test, vendor_class_interfaces_parse_like_video_class_ones)
{
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(iso_camera(255)));
    expect_camera_tree(t, 255);
}

TEST_F(uvc_tree_test, bulk_camera_records_its_streaming_interface_endpoint)
{
    const bytes cfg = join({
        configuration(2), interface(0, 0, 0, 14, 1), vc_header(0x0100, 13 + 18),
        camera_terminal(1, {0x00, 0x00, 0x00}),
        interface(1, 0, 1, 14, 2), input_header(1, 0x82), uncompressed_format(1, 1),
        frame(0x05, 1, 640, 480, {333333}), endpoint(0x82, 0x02, 512),
        endpoint(0x03, 0x02, 512), // an OUT endpoint later on does not count
    });
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(cfg));
    ASSERT_EQ(t.pipes().size(), 1u);
    EXPECT_EQ(t.pipes()[0].max_packet_size, 512u);
    EXPECT_EQ(t.pipes()[0].alternate_setting, 0);
    EXPECT_EQ(t.pipes()[0].endpoint_address, 0x82);
    EXPECT_EQ(t.pipes()[0].is_isoch, 0);
    ASSERT_EQ(t.formats().size(), 1u);
    EXPECT_EQ(t.formats()[0].frames.size(), 1u);
}

TEST_F(uvc_tree_test, eleventh_format_and_seventeenth_frame_are_dropped_with_their_logs)
{
    bytes cfg = join({configuration(2), interface(0, 0, 0, 14, 1), vc_header(0x0100, 13), interface(1, 0, 0, 14, 2),
                      input_header(11, 0x81)});
    for (std::uint8_t f = 1; f <= 11; ++f) {
        const bytes fmt = uncompressed_format(f, f == 1 ? 17 : 1);
        cfg.insert(cfg.end(), fmt.begin(), fmt.end());
        for (std::uint8_t i = 1; i <= (f == 1 ? 17 : 1); ++i) {
            const bytes fr = frame(0x05, i, 160u * i, 120u * i, {333333});
            cfg.insert(cfg.end(), fr.begin(), fr.end());
        }
    }
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(cfg));
    ASSERT_EQ(t.formats().size(), 10u);
    EXPECT_EQ(t.formats()[9].bytes[3], 10);
    ASSERT_EQ(t.formats()[0].frames.size(), 16u);
    EXPECT_EQ(t.formats()[0].frames[15].bytes[3], 16);
    EXPECT_TRUE(logged("[CamTovra] fmt1,frm17, is > max frame count."));
    EXPECT_TRUE(logged("[CamTovra] format count 11, > max format count."));
    EXPECT_EQ(t.vs_input_header().format_count, 11);
}

TEST_F(uvc_tree_test, repeated_indices_and_orphans_are_dropped_while_other_kinds_attach)
{
    const bytes cfg = join({
        configuration(2), interface(0, 0, 0, 14, 1), vc_header(0x0100, 13),
        interface(1, 0, 0, 14, 2), input_header(2, 0x81),
        frame(0x05, 1, 320, 240, {333333}), // before any format
        color_matching(),                   // before any format
        uncompressed_format(1, 2),
        frame(0x07, 1, 640, 480, {333333}), // an MJPEG frame under an uncompressed format
        frame(0x05, 1, 800, 600, {333333}), // repeated bFrameIndex
        mjpeg_format(1, 1),                 // repeated bFormatIndex
        frame(0x07, 2, 1024, 768, {333333}),
    });
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(cfg));
    ASSERT_EQ(t.formats().size(), 1u);
    ASSERT_EQ(t.formats()[0].frames.size(), 2u);
    EXPECT_EQ(t.formats()[0].frames[0].bytes[2], 0x07);
    EXPECT_EQ(read_le16(t.formats()[0].frames[0].bytes, 5), 640);
    EXPECT_EQ(read_le16(t.formats()[0].frames[1].bytes, 5), 1024) << "the MJPEG frames that follow go to the last format";
    EXPECT_TRUE(logged("[CamTovra] fmt0,frm1, no format type, skipping this frame type."));
    EXPECT_TRUE(logged("[CamTovra] VS_COLORFORMAT for format_idx=0 out of range, skipped."));
    EXPECT_TRUE(logged("[CamTovra] fmt1,frm1, bFrameIndex already present ."));
    EXPECT_TRUE(logged("[CamTovra] FormatIndex 1 already present."));
}

TEST_F(uvc_tree_test, sixth_unit_of_a_kind_is_dropped_and_header_fields_are_checked)
{
    bytes cfg = join({configuration(2), interface(0, 0, 0, 14, 1), vc_header(0x0200, 0)});
    cfg[cfg.size() - 2] = 0; // bInCollection 0
    for (std::uint8_t id = 1; id <= 6; ++id) {
        const bytes u = processing_unit(id, 1, {0x01, 0x00});
        cfg.insert(cfg.end(), u.begin(), u.end());
    }
    const bytes rest = join({bytes{5, 0x24, 0x09, 7, 0}, interface(1, 0, 0, 14, 2), input_header(0, 0x81)});
    cfg.insert(cfg.end(), rest.begin(), rest.end());
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(cfg));
    EXPECT_EQ(t.processing_units().size(), 5u);
    EXPECT_EQ(count("Invalid number of VC_PROCESSING_UNIT units for interface 0."), 1);
    EXPECT_TRUE(logged("Invalid field value hdr.bcdVDC=0x200, should be 0x0100."));
    EXPECT_TRUE(logged("Invalid field value hdr.wTotalLength=0, should be > 0."));
    EXPECT_TRUE(logged("Invalid field value hdr.bInCollection=0, should be > 0."));
    EXPECT_TRUE(logged("Unknown bDescriptorSubtype=9 for interface 0."));
}

TEST_F(uvc_tree_test, control_counts_are_limited_to_what_the_descriptor_holds)
{
    bytes camera = camera_terminal(1, {0x0A, 0x00, 0x02});
    camera[14] = 200; // bControlSize past the end
    bytes processing = processing_unit(2, 1, {0x7F, 0x15});
    processing[7] = 50;
    bytes extension = extension_unit(3, 2, {0xFF});
    extension[23] = 90; // bControlSize
    bytes many_pins = extension_unit(4, 2, {0xFF});
    many_pins[21] = 200; // bNrInPins: bControlSize would lie past the end
    bytes header = input_header(2, 0x81);
    header[3] = 9; // bNumFormats, with controls for only 2
    bytes frame_claims_more = frame(0x05, 1, 640, 480, {333333, 666666});
    frame_claims_more[25] = 50;
    const bytes cfg = join({configuration(2), interface(0, 0, 0, 14, 1), vc_header(0x0100, 13), camera, processing,
                            extension, many_pins, interface(1, 0, 0, 14, 2), header, uncompressed_format(1, 1),
                            frame_claims_more});
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(cfg));
    ASSERT_EQ(t.input_terminals().size(), 1u);
    EXPECT_EQ(to_bytes(t.input_terminals()[0].controls), (bytes{0x0A, 0x00, 0x02}));
    ASSERT_EQ(t.processing_units().size(), 1u);
    EXPECT_EQ(to_bytes(t.processing_units()[0].controls), (bytes{0x7F, 0x15, 0x00, 0x00}))
        << "bmControls up to the end of the descriptor";
    ASSERT_EQ(t.extension_units().size(), 1u) << "the unit whose bControlSize is out of reach is skipped";
    EXPECT_EQ(to_bytes(t.extension_units()[0].controls), (bytes{0xFF, 0x00}));
    EXPECT_EQ(t.vs_input_header().format_count, 2);
    ASSERT_EQ(t.formats().size(), 1u);
    ASSERT_EQ(t.formats()[0].frames.size(), 1u);
    EXPECT_EQ(t.formats()[0].frames[0].interval_count, 2);
    EXPECT_TRUE(logged("bmControls, Type VCCameraInputTD, Invalid length reported=(18), should be (215)"));
    EXPECT_TRUE(logged("bmControls, Type VCProcessingUnit, Invalid length reported=(12), should be (60)"));
}

TEST_F(uvc_tree_test, descriptors_shorter_than_their_fields_are_skipped)
{
    bytes short_frame = frame(0x05, 2, 640, 480, {333333});
    short_frame.resize(20);
    short_frame[0] = 20;
    bytes short_continuous = frame_based_frame(3, 800, 600);
    short_continuous.resize(30);
    short_continuous[0] = 30;
    bytes short_format = uncompressed_format(2, 1);
    short_format.resize(15);
    short_format[0] = 15;
    bytes short_header = vc_header(0x0100, 13);
    short_header.resize(9);
    short_header[0] = 9;
    const bytes cfg = join({configuration(2), interface(0, 0, 0, 14, 1), short_header,
                            bytes{6, 0x24, 2, 1, 0x01, 0x02}, // input terminal of 6 bytes
                            interface(1, 0, 0, 14, 2), input_header(2, 0x81), frame_based_format(1, 3),
                            frame(0x05, 1, 320, 240, {333333}), short_frame, short_continuous, short_format,
                            bytes{4, 0x24, 0x0D, 1}});
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(cfg));
    EXPECT_TRUE(t.vc_header().empty());
    EXPECT_TRUE(t.input_terminals().empty());
    ASSERT_EQ(t.formats().size(), 1u);
    EXPECT_EQ(t.formats()[0].frames.size(), 1u);
    EXPECT_TRUE(t.formats()[0].color_matching.empty());
    EXPECT_TRUE(logged("Type VCInterfaceHeader, invalid length reported=(9), should be (13)"));
    EXPECT_TRUE(logged("Type VCInputTD, invalid length reported=(6), should be (8)"));
    EXPECT_EQ(count("Descriptor too short for its fields"), 6);
}

TEST_F(uvc_tree_test, zero_or_overlong_lengths_end_the_walk_that_meets_them)
{
    const bytes good = iso_camera();
    // bLength 0 inside the streaming part: what came before it stays.
    const bytes prefix = join({configuration(2), interface(0, 0, 0, 14, 1), vc_header(0x0100, 13),
                               interface(1, 0, 0, 14, 2), input_header(1, 0x81), uncompressed_format(1, 1),
                               frame(0x05, 1, 640, 480, {333333})});
    bytes zero = prefix;
    zero.insert(zero.end(), {0, 0x24, 0x05, 2});
    zero.insert(zero.end(), good.begin() + 60, good.end());
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(zero));
    EXPECT_EQ(t.formats().size(), 1u);
    EXPECT_EQ(t.formats()[0].frames.size(), 1u);

    // A length that runs past the end of the block.
    bytes overlong = prefix;
    overlong.insert(overlong.end(), {200, 0x24, 0x05, 2, 0});
    ASSERT_TRUE(t.build(overlong));
    EXPECT_EQ(t.formats()[0].frames.size(), 1u);
    EXPECT_TRUE(logged("Invalid length of descriptor (len=200,type=36)."));

    // A single trailing byte.
    bytes odd = prefix;
    odd.push_back(7);
    ASSERT_TRUE(t.build(odd));
    EXPECT_TRUE(logged("Invalid descriptor at end of USB configuration descriptor."));
}

TEST_F(uvc_tree_test, missing_video_interfaces_fail_the_build_and_leave_it_empty)
{
    uvc_descriptor_tree t;
    ASSERT_TRUE(t.build(iso_camera()));
    EXPECT_FALSE(t.build(join({configuration(1), interface(0, 0, 0, 3, 1)})));
    EXPECT_TRUE(t.formats().empty());
    EXPECT_TRUE(t.configuration().empty());
    EXPECT_FALSE(t.build(join({configuration(1), interface(0, 0, 0, 14, 1), vc_header(0x0100, 13)})));
    EXPECT_TRUE(t.vc_interface().empty());
    EXPECT_FALSE(t.build({}));
    // An interface descriptor too short for its class fields is passed over.
    EXPECT_FALSE(t.build(join({configuration(1), bytes{5, 0x04, 0, 0, 0}})));
    EXPECT_TRUE(logged("Struct type (USB_INTERFACE_DESCRIPTOR) is too big for descriptor (len=5,type=4)."));
}

TEST_F(uvc_tree_test, every_truncation_of_a_camera_parses_without_reading_past_the_end)
{
    const bytes cfg = iso_camera();
    service_log_level = 0;
    for (std::size_t n = 0; n <= cfg.size(); ++n) {
        const bytes prefix(cfg.begin(), cfg.begin() + static_cast<long>(n));
        uvc_descriptor_tree t;
        if (!t.build(prefix)) {
            continue;
        }
        for (const auto& f : t.formats()) {
            for (const auto& fr : f.frames) {
                EXPECT_GE(fr.bytes.size(), fr.interval_count == 0 ? 38u : 26u + 4u * fr.interval_count);
            }
        }
        EXPECT_EQ(t.configuration().size(), n);
    }
}

TEST_F(uvc_tree_test, tree_owns_its_bytes_after_the_source_is_gone)
{
    uvc_descriptor_tree copy;
    {
        bytes source = iso_camera();
        uvc_descriptor_tree t;
        ASSERT_TRUE(t.build(source));
        std::fill(source.begin(), source.end(), 0xEE);
        source.clear();
        source.shrink_to_fit();
        copy = t;
        ASSERT_TRUE(t.build(join({configuration(2), interface(0, 0, 0, 14, 1), interface(1, 0, 0, 14, 2)})));
    }
    expect_camera_tree(copy, 14);
}

} // namespace
