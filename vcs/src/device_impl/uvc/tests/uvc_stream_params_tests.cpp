// Input formats read from a descriptor tree, the values that decide stream
// negotiation and transfer mode, and format matching.

#include "device_impl/uvc/uvc_input_format.h"
#include "device_impl/uvc/uvc_stream_params.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_impl/image/image_format.h"
#include "gen_utils/log.h"

namespace {

using namespace cam::uvc_cam;
using bytes = std::vector<std::uint8_t>;

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

const bytes yuy2_guid{'Y', 'U', 'Y', '2', 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bytes uncompressed_format(std::uint8_t index, std::uint8_t bits, const bytes& guid = yuy2_guid)
{
    bytes b{27, 0x24, 0x04, index, 1};
    b.insert(b.end(), guid.begin(), guid.end());
    b.insert(b.end(), {bits, 1, 0, 0, 0, 0});
    return b;
}

bytes frame_based_format(std::uint8_t index)
{
    bytes b{28, 0x24, 0x10, index, 1};
    b.insert(b.end(), yuy2_guid.begin(), yuy2_guid.end());
    b.insert(b.end(), {16, 1, 0, 0, 0, 0, 1});
    return b;
}

bytes mjpeg_format(std::uint8_t index) { return {11, 0x24, 0x06, index, 1, 1, 1, 0, 0, 0, 0}; }

// An uncompressed (or MJPEG) frame: bFrameIntervalType `type` and the
// intervals given (a continuous range: min, max, step). `held` limits how many
// interval words the descriptor really carries.
bytes frame(std::uint8_t subtype, std::uint8_t index, unsigned w, unsigned h, unsigned def, std::uint8_t type,
            const std::vector<unsigned>& intervals)
{
    bytes b{0, 0x24, subtype, index, 0};
    put16(b, w);
    put16(b, h);
    put32(b, 1000);
    put32(b, 2000);
    if (subtype == 0x11) {
        put32(b, def);
        b.push_back(type);
        put32(b, w * 2); // dwBytesPerLine
    } else {
        put32(b, w * h * 2);
        put32(b, def);
        b.push_back(type);
    }
    for (unsigned v : intervals) {
        put32(b, v);
    }
    b[0] = static_cast<std::uint8_t>(b.size());
    return b;
}

bytes camera_with(const std::vector<bytes>& streaming)
{
    bytes vc{13, 0x24, 1};
    put16(vc, 0x0110);
    put16(vc, 13);
    put32(vc, 48000000);
    vc.insert(vc.end(), {1, 1});
    bytes set{9, 0x02, 0, 0, 2, 1, 0, 0x80, 250};
    set.insert(set.end(), {9, 0x04, 0, 0, 0, 14, 1, 0, 0});
    set.insert(set.end(), vc.begin(), vc.end());
    set.insert(set.end(), {9, 0x04, 1, 0, 1, 14, 2, 0, 0});
    bytes header{14, 0x24, 1, 1, 0, 0, 0x81, 0, 4, 1, 0, 0, 1, 0};
    set.insert(set.end(), header.begin(), header.end());
    for (const auto& d : streaming) {
        set.insert(set.end(), d.begin(), d.end());
    }
    set.insert(set.end(), {7, 0x05, 0x81, 2, 0x00, 0x04, 0});
    set[2] = static_cast<std::uint8_t>(set.size());
    set[3] = static_cast<std::uint8_t>(set.size() >> 8);
    return set;
}

uvc_descriptor_tree tree_of(const bytes& set)
{
    uvc_descriptor_tree tree;
    EXPECT_TRUE(tree.build(set));
    return tree;
}

struct log_capture {
    log_capture()
    {
        saved_level = service_log_level.load();
        service_log_level = 3;
        set_log_sink(1, [this](std::uint32_t, const char* text) { lines.emplace_back(text); });
    }
    ~log_capture()
    {
        set_log_sink(1, nullptr);
        service_log_level = saved_level;
    }
    int count(const std::string& part) const
    {
        int n = 0;
        for (const auto& l : lines) {
            n += l.find(part) != std::string::npos ? 1 : 0;
        }
        return n;
    }
    std::vector<std::string> lines;
    std::uint32_t saved_level = 0;
};

TEST(uvc_input_formats, each_frame_kind_gives_its_size_and_interval_range)
{
    const auto tree = tree_of(camera_with({
        uncompressed_format(1, 16),
        frame(0x05, 1, 640, 480, 400000, 3, {333333, 400000, 666666}),
        frame(0x05, 2, 320, 240, 200000, 0, {100000, 1000000, 0}),
        mjpeg_format(2),
        frame(0x07, 1, 1280, 720, 333333, 1, {333333}),
        frame_based_format(3),
        frame(0x11, 1, 800, 600, 500000, 2, {500000, 1000000}),
    }));
    const auto formats = read_input_formats(tree, false, nullptr);
    ASSERT_EQ(formats.size(), 4u);
    struct expected {
        std::uint32_t format, frame, fourcc, bits;
        std::int32_t w, h;
        std::uint32_t min, max, def;
        bool compressed; // MJPEG and frame-based
    } rows[] = {
        {1, 1, img::fourcc("YUY2"), 16, 640, 480, 333333, 666666, 400000, false},
        {1, 2, img::fourcc("YUY2"), 16, 320, 240, 100000, 1000000, 200000, false},
        {2, 1, img::fourcc("MJPG"), 24, 1280, 720, 333333, 333333, 333333, true},
        {3, 1, img::fourcc("YUY2"), 16, 800, 600, 500000, 1000000, 500000, true},
    };
    for (std::size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(formats[i].format_index, rows[i].format);
        EXPECT_EQ(formats[i].frame_index, rows[i].frame);
        EXPECT_EQ(input_format_fourcc(formats[i].guid), rows[i].fourcc);
        EXPECT_EQ(formats[i].bits_per_pixel, rows[i].bits);
        EXPECT_EQ(formats[i].width, rows[i].w);
        EXPECT_EQ(formats[i].max_height, rows[i].h);
        EXPECT_EQ(formats[i].width_step, 1);
        EXPECT_EQ(formats[i].min_interval, rows[i].min);
        EXPECT_EQ(formats[i].max_interval, rows[i].max);
        EXPECT_EQ(formats[i].default_interval, rows[i].def);
        EXPECT_EQ(formats[i].compressed, rows[i].compressed);
    }
}

TEST(uvc_input_formats, interval_count_beyond_the_descriptor_reads_only_what_it_holds)
{
    // bFrameIntervalType says 9, the descriptor holds two intervals.
    const auto tree = tree_of(camera_with({uncompressed_format(1, 16),
                                           frame(0x05, 1, 640, 480, 333333, 9, {333333, 666666})}));
    const auto formats = read_input_formats(tree, false, nullptr);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].max_interval, 666666u);
    EXPECT_EQ(descriptor_frame_intervals(tree, 1, 1), (std::vector<std::uint64_t>{333333, 666666}));
}

TEST(uvc_input_formats, frame_intervals_of_discrete_and_continuous_frames)
{
    const auto tree = tree_of(camera_with({
        uncompressed_format(1, 16),
        frame(0x05, 1, 640, 480, 400000, 3, {333333, 400000, 666666}),
        frame(0x05, 2, 320, 240, 200000, 0, {100000, 1000000, 0}),
        frame(0x05, 3, 160, 120, 200000, 0, {100000, 1000000, 50000}),
    }));
    struct row {
        std::uint32_t format, frame;
        std::vector<std::uint64_t> intervals;
    } rows[] = {
        {1, 1, {333333, 400000, 666666}},
        {1, 2, {100000, 1000000}},
        {1, 3, {100000}},
        {1, 4, {}},
        {2, 1, {}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(descriptor_frame_intervals(tree, r.format, r.frame), r.intervals) << r.format << "/" << r.frame;
    }
}

TEST(uvc_input_formats, accept_callback_drops_and_rewrites_records)
{
    const auto tree = tree_of(camera_with({
        uncompressed_format(1, 16),
        frame(0x05, 1, 640, 480, 333333, 1, {333333}),
        frame(0x05, 2, 320, 240, 333333, 1, {333333}),
    }));
    const auto formats = read_input_formats(tree, false, [](input_format& r) {
        r.width_step = 8;
        return r.frame_index != 1;
    });
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].frame_index, 2u);
    EXPECT_EQ(formats[0].width_step, 8);
}

TEST(uvc_input_formats, checks_log_inconsistencies_without_rejecting)
{
    log_capture log;
    const auto tree = tree_of(camera_with({
        uncompressed_format(1, 8), // YUY2 has 16 bits per pixel
        frame(0x05, 1, 640, 480, 100, 2, {500000, 400000}),
    }));
    const auto formats = read_input_formats(tree, true, nullptr);
    EXPECT_EQ(formats.size(), 1u);
    EXPECT_EQ(log.count("Invalid bits per pixel specified in input format, uvc_format_index=1, uvc_frame_index=1."), 1);
    EXPECT_EQ(log.count("Invalid frame intervals in input format"), 1);
    EXPECT_EQ(log.count("Invalid default frame in input format"), 1);

    input_format repeated = formats[0];
    check_input_format(repeated, formats);
    EXPECT_EQ(log.count("uvc_format_index=1, uvc_frame_index=1 already present in format list."), 1);
}

TEST(uvc_input_formats, rgb_media_subtypes_have_their_own_fourcc)
{
    const std::array<std::uint8_t, 16> rgb24{0x7D, 0xEB, 0x36, 0xE4, 0x4F, 0x52, 0xCE, 0x11,
                                             0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70};
    auto rgb32 = rgb24;
    rgb32[0] = 0x7E;
    auto other = rgb24;
    other[15] = 0x71;
    EXPECT_EQ(input_format_fourcc(rgb24), img::fourcc("RGB3"));
    EXPECT_EQ(input_format_fourcc(rgb32), img::fourcc("RGB4"));
    EXPECT_EQ(input_format_fourcc(other), 0xE436EB7Du);
}

vs_probe_commit commit_of(std::uint32_t frame, std::uint32_t payload)
{
    vs_probe_commit c;
    c.set_max_video_frame_size(frame);
    c.set_max_payload_transfer_size(payload);
    return c;
}

TEST(uvc_stream_params, committed_sizes_must_be_non_zero_and_at_most_256_mib)
{
    // The image (0 for compressed formats) is bounded as the frame size is:
    // frame buffers are sized for it.
    struct row {
        std::uint32_t frame, payload, image;
        bool usable;
    } rows[] = {
        {307200, 307200, 0, true},          {0, 307200, 0, false},
        {307200, 0, 0, false},              {0xFFFFFFFF, 4096, 0, false},
        {4096, 0xFFFFFFFF, 0, false},       {256u << 20, 256u << 20, 0, true},
        {(256u << 20) + 1, 1, 0, false},    {307200, 16384, 307200, true},
        {4096, 16384, 256u << 20, true},    {4096, 16384, (256u << 20) + 1, false},
        {4096, 16384, 0xFFFFFFFF, false},   {0, 16384, 307200, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(committed_sizes_usable(commit_of(r.frame, r.payload), r.image), r.usable)
            << r.frame << "/" << r.payload << "/" << r.image;
    }
}

TEST(uvc_stream_params, full_frame_only_when_a_transfer_holds_frame_and_header)
{
    const std::vector<pipe_info> bulk{{1024, 0, 0x81, 0}};
    // A frame is the larger of the committed dwMaxVideoFrameSize and the
    // uncompressed image; a compressed format (image 0) has the committed
    // size alone.
    struct row {
        std::uint32_t frame, payload, image;
        bool full_frame;
        std::uint32_t buffer;
    } rows[] = {
        {307200, 307200, 307200, false, 307200},
        {307200, 307200 + 254, 307200, false, 307200},
        {307200, 307200 + 255, 307200, true, 307200 + 255},
        {307200, 0x2000000, 307200, true, 0x2000000},
        {307200, 4096, 307200, false, 307200},
        {307200, 4096, 0, false, 307200},
        {100000, 4096, 307200, false, 307200},
        {100000, 100000 + 255, 307200, false, 307200},
        {307199, 307200 + 254, 307200, false, 307200},
        {1, 307200 + 255, 307200, true, 307200 + 255},
        {307201, 307200 + 255, 307200, false, 307201},
        {100000, 100000 + 255, 0, true, 100000 + 255},
        {100000, 4096, 0, false, 100000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.frame << "/" << r.payload << "/" << r.image);
        const auto commit = commit_of(r.frame, r.payload);
        const auto plan = plan_stream_transfers(bulk, commit, r.image);
        EXPECT_TRUE(plan.bulk);
        EXPECT_EQ(plan.full_frame, r.full_frame);
        EXPECT_EQ(plan.transfer_size, r.payload);
        EXPECT_EQ(required_frame_buffer_size(plan.full_frame, commit, r.image), r.buffer);
    }
    const std::vector<pipe_info> isoch{{512, 1, 0x81, 1}, {1024, 2, 0x81, 1}};
    const auto plan = plan_stream_transfers(isoch, commit_of(1000, 0x2000000), 307200);
    EXPECT_FALSE(plan.bulk);
    EXPECT_FALSE(plan.full_frame);
    EXPECT_EQ(plan.transfer_size, 80u);
}

TEST(uvc_stream_params, bus_transfer_size_by_connection_system_and_store)
{
    const std::vector<pipe_info> bulk{{1024, 0, 0x81, 0}};
    const std::vector<pipe_info> one_isoch{{1024, 1, 0x81, 1}};
    const std::vector<pipe_info> two{{512, 1, 0x81, 0}, {1024, 2, 0x81, 0}};
    struct row {
        const std::vector<pipe_info>* pipes;
        bus_environment env;
        std::uint32_t size;
    } rows[] = {
        {&bulk, {true, true, {}}, 0x2000000},
        {&bulk, {true, false, {}}, 0x400000},
        {&bulk, {false, true, {}}, 0xA00000},
        {&bulk, {true, true, 4096}, 0x2000000},
        {&bulk, {true, true, 4097}, 4097},
        {&bulk, {true, false, 0x100000}, 0x100000},
        {&bulk, {true, true, -5}, 0x2000000},
        {&bulk, {true, true, std::int64_t{1} << 40}, 0x2000000},
        {&one_isoch, {true, true, 0x100000}, 0},
        {&two, {true, true, {}}, 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(max_bus_transfer_size(*r.pipes, r.env), r.size);
    }
}

TEST(uvc_stream_params, sizes_must_lie_on_the_step_grid_and_step_zero_means_minimum_only)
{
    struct row {
        std::int32_t value, min, max, step;
        bool ok;
    } rows[] = {
        {640, 640, 640, 1, true},   {641, 640, 640, 1, false}, {648, 640, 1280, 8, true},
        {644, 640, 1280, 8, false}, {1288, 640, 1280, 8, false}, {639, 640, 1280, 8, false},
        {640, 640, 1280, 0, true},  {648, 640, 1280, 0, false}, {648, 640, 1280, -8, false},
        {-1, 0, 100, 1, false},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(size_on_step(r.value, r.min, r.max, r.step), r.ok)
            << r.value << " in " << r.min << ".." << r.max << "/" << r.step;
    }
}

TEST(uvc_stream_params, format_entry_matches_fourcc_and_size)
{
    std::vector<cam::stream_format_entry> entries(3);
    const std::uint32_t y800 = img::fourcc("Y800");
    entries[0].info = {0, y800, 8, {640, 480}, {640, 480}, {1, 1}};
    entries[1].info = {1, y800, 8, {1920, 1080}, {1920, 1080}, {1, 1}};
    entries[2].info = {2, img::fourcc("YUY2"), 16, {64, 64}, {1024, 1024}, {0, 16}};
    EXPECT_EQ(find_stream_format_entry(entries, y800, 1920, 1080), std::optional<std::size_t>(1));
    EXPECT_EQ(find_stream_format_entry(entries, y800, 640, 480), std::optional<std::size_t>(0));
    EXPECT_EQ(find_stream_format_entry(entries, y800, 800, 600), std::nullopt);
    EXPECT_EQ(find_stream_format_entry(entries, img::fourcc("YUY2"), 64, 80), std::optional<std::size_t>(2));
    EXPECT_EQ(find_stream_format_entry(entries, img::fourcc("YUY2"), 72, 80), std::nullopt); // step 0: minimum width only
    EXPECT_EQ(find_stream_format_entry(entries, img::fourcc("YUY2"), 64, 72), std::nullopt);
}

TEST(uvc_stream_params, input_image_size_for_known_unknown_and_oversized_formats)
{
    EXPECT_EQ(input_image_size(img::fourcc("Y800"), 640, 480, 8), 640u * 480u);
    EXPECT_EQ(input_image_size(img::fourcc("ABCD"), 640, 480, 12), 640u * 480u * 12u / 8u);
    EXPECT_EQ(input_image_size(img::fourcc("ABCD"), -640, 480, 12), 0u);
    EXPECT_EQ(input_image_size(img::fourcc("ABCD"), 0x7FFFFFFF, 0x7FFFFFFF, 32), 0u);
}

TEST(uvc_stream_params, probe_record_fields_sit_at_their_offsets)
{
    vs_probe_commit probe;
    probe.set_hint(1);
    probe.set_format_index(2);
    probe.set_frame_index(3);
    probe.set_frame_interval(333333);
    probe.set_max_video_frame_size(0x11223344);
    probe.set_max_payload_transfer_size(0x55667788);
    const std::uint8_t* b = probe.data();
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[2], 2);
    EXPECT_EQ(b[3], 3);
    EXPECT_EQ(b[4] | b[5] << 8 | b[6] << 16, 333333);
    EXPECT_EQ(b[18], 0x44);
    EXPECT_EQ(b[21], 0x11);
    EXPECT_EQ(b[22], 0x88);
    EXPECT_EQ(b[25], 0x55);
    EXPECT_EQ(payload_transfer_size(probe), 0x55667788u);
}

} // namespace
