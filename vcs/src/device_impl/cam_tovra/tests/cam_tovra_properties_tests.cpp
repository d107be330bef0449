// The camera class with the properties it owns, over the simulated camera:
// the vendor extension unit (format records, frame intervals and the stream
// settings it sends with the probe), the emulated values that reach every
// frame header, the colour-enhance items of each processing mode, and the
// frame counters.

#include "tovra_bench.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"
#include "properties/kyv_xu_framerate_list.h"
#include "properties/prop_emulation_color_enhance2.h"

namespace {

using namespace tovra_test;
using cam::PROPSETID_VIDCAP_VIDEOPROCAMP;

const std::error_code invalid_arg = make_cam_error(E_INVALIDARG);

template <typename T>
T block_value(const frame_record& f, std::size_t header_offset)
{
    T value{};
    std::memcpy(&value, f.processing_block.data() + header_offset - 80, sizeof value);
    return value;
}

// A set as a client sends it: the value at byte 24 of a `size`-byte record.
std::error_code set_value(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id, std::int32_t value,
                          std::uint32_t size)
{
    std::vector<std::uint8_t> record(size, 0);
    std::memcpy(record.data() + 24, &value, sizeof value);
    return camera.set_request(set, id, nullptr, 0, record.data(), size);
}

// The value of a 48-byte get reply (byte 24).
std::int32_t get_value(cam::impl::cam_tovra& camera, const GUID& set, std::uint32_t id)
{
    std::uint8_t record[48]{};
    std::uint32_t returned = 0;
    const std::error_code ec = camera.get_request(set, id, nullptr, 0, record, sizeof record, &returned, 0);
    EXPECT_FALSE(ec) << id << ": " << ec.message();
    std::int32_t value = 0;
    std::memcpy(&value, record + 24, sizeof value);
    return value;
}

struct unit_write {
    std::uint8_t selector;
    std::int64_t value;
};

// SET_CUR requests to the extension unit from control-log entry `from` on.
std::vector<unit_write> unit_writes(tovra_bench& bench, std::size_t from = 0)
{
    std::vector<unit_write> out;
    const auto log = bench.io.camera.control_log();
    for (std::size_t i = from; i < log.size(); ++i) {
        const auto& r = log[i];
        if (r.setup.vendor || r.setup.request != 0x01 ||
            (r.setup.index >> 8) != sim_camera::sim_xu_unit::default_unit_id) {
            continue;
        }
        std::int64_t value = 0;
        for (std::size_t b = 0; b < r.out_data.size() && b < 8; ++b) {
            value |= std::int64_t{r.out_data[b]} << (8 * b);
        }
        out.push_back({static_cast<std::uint8_t>(r.setup.value >> 8), value});
    }
    return out;
}

bench_options with_unit()
{
    bench_options options;
    options.xu_unit = true;
    return options;
}

TEST(tovra_extension_unit, a_start_sends_the_unit_settings_in_order_and_the_intervals_come_from_the_unit)
{
    tovra_bench bench(with_unit());
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    ASSERT_TRUE(camera.partial_scan_unit().has_offsets());

    // The full-size format becomes the unit's size range; the VGA one stays.
    const auto formats = camera.list_formats();
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].MinDim.cx, 640);
    EXPECT_EQ(formats[0].MaxDim.cy, 480);
    EXPECT_EQ(formats[1].MinDim.cx, 16);
    EXPECT_EQ(formats[1].MinDim.cy, 8);
    EXPECT_EQ(formats[1].MaxDim.cx, 1920);
    EXPECT_EQ(formats[1].MaxDim.cy, 1080);
    EXPECT_EQ(formats[1].StepDim.cx, 16);
    EXPECT_EQ(formats[1].StepDim.cy, 8);

    // The unit's range at binning 1, not the descriptor's one interval.
    auto intervals = camera.get_frame_intervals(0);
    ASSERT_TRUE(intervals.has_value());
    EXPECT_EQ(intervals.value(), kyv_xu_props::build_framerate_list_new(333333, 3333333));

    // Binning 2 fits VGA: its shorter intervals are listed, and it goes out
    // with the start.
    ASSERT_FALSE(set_value(camera, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, kyv_xu_props::id_binning_factor, 2, 48));
    const std::vector<std::uint64_t> binned = kyv_xu_props::build_framerate_list_new(166666, 3333333);
    EXPECT_EQ(camera.get_frame_intervals(0).value(), binned);

    const std::size_t mark = bench.io.camera.control_log().size();
    ASSERT_TRUE(bench.start_vga());
    // With the probe: mode value (bFormatIndex), binning, width, height; then
    // the region again: auto-centre (on), X and Y offset.
    const auto writes = unit_writes(bench, mark);
    std::vector<std::uint8_t> selectors;
    for (const auto& w : writes) {
        selectors.push_back(w.selector);
    }
    ASSERT_EQ(selectors, (std::vector<std::uint8_t>{16, 19, 17, 18, 23, 21, 22}));
    EXPECT_EQ(writes[0].value, 1);
    EXPECT_EQ(writes[1].value, 2);
    EXPECT_EQ(writes[2].value, 640);
    EXPECT_EQ(writes[3].value, 480);
    EXPECT_EQ(writes[4].value, 1);
    // The size is the unit's: the probe names no frame descriptor.
    const auto probe = bench.responder->last_probe_set();
    ASSERT_GE(probe.size(), 4u);
    EXPECT_EQ(probe[2], 1);
    EXPECT_EQ(probe[3], 0xFF);
    ASSERT_TRUE(bench.sink.wait_for_frames(3));

    // While the stream runs, a listing leaves the unit alone and answers the
    // list last read.
    const std::size_t streaming = unit_writes(bench).size();
    EXPECT_EQ(camera.get_frame_intervals(0).value(), binned);
    EXPECT_EQ(unit_writes(bench).size(), streaming);
    bench.release();
    for (const auto& f : bench.sink.frames()) {
        EXPECT_TRUE(f.image_good) << f.image_number;
    }
    // Released, the unit is asked again.
    EXPECT_EQ(camera.get_frame_intervals(0).value(), binned);
    EXPECT_GT(unit_writes(bench).size(), streaming);
}

TEST(tovra_extension_unit, a_size_the_unit_refuses_fails_the_start_before_the_probe)
{
    tovra_bench bench(with_unit());
    ASSERT_TRUE(bench.open_and_init());
    ASSERT_TRUE(bench.xu->edit_control(17, [](sim_camera::xu_control_state& c) { c.stalls = true; }));
    log_capture log;
    const cam::stream_format vga{img::fourcc("Y800"), 640, 480, 0};
    EXPECT_TRUE(bench.camera->try_start(vga, interval));
    EXPECT_TRUE(bench.responder->last_probe_set().empty());
    EXPECT_EQ(bench.camera->endpoint_pipe(), nullptr);
    EXPECT_EQ(log.count("[CamTovra] Failed to apply the partial-scan settings"), 1u);

    // Once the unit takes the size again the camera starts.
    ASSERT_TRUE(bench.xu->edit_control(17, [](sim_camera::xu_control_state& c) { c.stalls = false; }));
    ASSERT_TRUE(bench.start_vga());
    EXPECT_EQ(bench.xu->current_value(17), 640);
    EXPECT_TRUE(bench.sink.wait_for_frames(2));
}

TEST(tovra_emulated_values, a_mono_stream_carries_the_software_gamma_and_counts_its_frames)
{
    tovra_bench bench;
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    auto& emulated = camera.emulated_values();
    // The camera has UVC brightness, contrast, saturation and sharpness but
    // no gamma; a mono camera emulates no colour values.
    EXPECT_TRUE(emulated.gamma().in_use());
    EXPECT_FALSE(emulated.brightness().in_use());
    EXPECT_FALSE(emulated.sharpness().in_use());
    EXPECT_FALSE(emulated.hue().in_use());
    EXPECT_FALSE(camera.is_supported({PROPSETID_VIDCAP_VIDEOPROCAMP, 2}));
    auto& own = *camera.genicam_proxy().documents().back().document;
    EXPECT_NE(own.find_node("GammaRaw"), nullptr);
    EXPECT_NE(own.find_node("Denoise_Item_Elem"), nullptr);
    EXPECT_EQ(own.find_node("SaturationRaw"), nullptr);
    // First colour-enhance variant: mode code 12, pattern hidden.
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_mode), 12);
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_pattern), -1);

    EXPECT_EQ(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 5, 501, 40), invalid_arg);
    ASSERT_FALSE(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 5, 250, 40));
    std::int32_t concurrency = 3;
    ASSERT_FALSE(camera.set_request(cam::PROPSETID_EMULATED_REGISTER,
                                    prop_emulation::dbg_properties::id_max_concurrency, nullptr, 0, &concurrency,
                                    sizeof concurrency));

    ASSERT_TRUE(bench.start_vga());
    ASSERT_TRUE(bench.sink.wait_for_frames(3));
    for (const auto& f : bench.sink.frames()) {
        EXPECT_EQ(block_value<float>(f, 187), 2.5f);
        EXPECT_EQ(block_value<std::uint32_t>(f, 104), 3u);
        EXPECT_EQ(block_value<float>(f, 163), 1.0f); // saturation is the camera's
        EXPECT_EQ(block_value<float>(f, 167), 0.0f);
    }

    // The counters of this stream: as many delivered as the sink saw by then.
    std::uint64_t counts[6]{};
    std::uint32_t returned = 0;
    const std::size_t seen = bench.sink.frame_count();
    ASSERT_FALSE(camera.get_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, counts, sizeof counts,
                                    &returned, 0));
    EXPECT_EQ(returned, 48u);
    EXPECT_GE(counts[0], seen);
    EXPECT_EQ(counts[1] + counts[2] + counts[3] + counts[4] + counts[5], 0u);
    // A new stream counts from zero.
    bench.release();
    const cam::stream_format vga{img::fourcc("Y800"), 640, 480, 0};
    ASSERT_FALSE(camera.try_start(vga, interval));
    ASSERT_FALSE(camera.get_request(cam::PROPSETID_GENERIC_DRIVER_INTERFACE, 25, nullptr, 0, counts, sizeof counts,
                                    &returned, 0));
    EXPECT_EQ(counts[0], 0u);
}

TEST(tovra_emulated_values, a_bayer_camera_emulates_hue_and_shows_its_pattern)
{
    bench_options options;
    options.fourcc = "RGGB";
    tovra_bench bench(options);
    ASSERT_TRUE(bench.open_and_init());
    auto& camera = *bench.camera;
    EXPECT_EQ(camera.processing_mode(), cam::impl::image_processing_mode::bayer8);
    // Second colour-enhance variant: mode code 15, the sensor's pattern.
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_mode), 15);
    EXPECT_EQ(get_value(camera, cam::PROPSETID_COLOR_ENHANCE, prop_emulation::color_enhance2::id_pattern),
              prop_emulation::color_enhance2::rggb);
    EXPECT_TRUE(camera.emulated_values().hue().in_use());
    EXPECT_EQ(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 2, 181, 40), invalid_arg);
    ASSERT_FALSE(set_value(camera, PROPSETID_VIDCAP_VIDEOPROCAMP, 2, 90, 40));

    auto frame = cam::make_frame_buffer(vga_size);
    frame->valid_data_size_ = vga_size;
    img::image_desc image = img::image_desc_make(frame->data(), img::fourcc("RGGB"), 640, 480, 640, vga_size);
    camera.process_frame(*frame, image);
    float hue = 0;
    std::memcpy(&hue, frame->buffer + 167, sizeof hue);
    EXPECT_EQ(hue, 0.5f);
    float gamma = 0;
    std::memcpy(&gamma, frame->buffer + 187, sizeof gamma);
    EXPECT_EQ(gamma, 1.0f); // the software gamma at its default
}

} // namespace
