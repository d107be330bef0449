// The UVC device base over the simulated camera: its standard properties,
// stream negotiation in the order the device expects, the transfer mode the
// committed sizes decide, and frames streaming into a sink in both modes.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <future>
#include <optional>
#include <string>
#include <thread>

#include "device_impl/image/image_format.h"
#include "gen_utils/cam_error.h"
#include "device_impl/uvc/uvc_stream_negotiation.h"
#include "test_uvc_camera.h"

namespace {

using namespace uvc_test;
using sim_camera::uvc_unit_kind;

const std::error_code invalid_arg = make_cam_error(E_INVALIDARG);
const cam::stream_format vga{img::fourcc("Y800"), 640, 480, 0};
constexpr std::uint32_t vga_size = 640 * 480;
constexpr std::uint64_t interval = 333333;

class uvc_device_base_test : public ::testing::Test {
protected:
    void open_and_init()
    {
        bench.open();
        ASSERT_FALSE(bench.camera->init_device());
    }

    // Class requests on the streaming interface: (request, selector).
    std::vector<std::pair<int, int>> vs_requests() const
    {
        std::vector<std::pair<int, int>> out;
        for (const auto& r : bench.io.camera.control_log()) {
            if (!r.setup.vendor && r.setup.index == 1) {
                out.emplace_back(r.setup.request, r.setup.value >> 8);
            }
        }
        return out;
    }
    std::uint32_t proposed_transfer_size() const
    {
        const auto probe = bench.responder->last_probe_set();
        if (probe.size() < 26) {
            return 0;
        }
        std::uint32_t v = 0;
        std::memcpy(&v, probe.data() + 22, 4);
        return v;
    }

    // Wine may report a system older than Windows 8, where bulk transfers are
    // proposed at 10 MiB instead of 32 MiB (the simulated camera is on USB 3).
    static std::uint32_t default_bulk_size(const nox_um::usb_device_handle& device)
    {
        return cam::uvc_cam::read_bus_environment(device, nullptr).windows8_or_later ? 0x2000000 : 0xA00000;
    }

    camera_bench bench;
};

TEST_F(uvc_device_base_test, announced_controls_become_handlers_and_stored_values_reach_the_device)
{
    bench.store->write_int(L"Brightness", 7);
    bench.store->write_int(L"Exposure", 2500);
    open_and_init();
    EXPECT_EQ(bench.responder->current_value(uvc_unit_kind::processing_unit, 0x02), 7);
    EXPECT_EQ(bench.responder->current_value(uvc_unit_kind::camera_terminal, 0x04), 2500);
    std::uint8_t record[48]{};
    std::uint32_t returned = 0;
    ASSERT_FALSE(bench.camera->get_request(cam::PROPSETID_VIDCAP_CAMERACONTROL, 4, nullptr, 0, record, 40,
                                           &returned, 0));
    std::int32_t exponent = 0;
    std::memcpy(&exponent, record + 24, 4);
    EXPECT_EQ(exponent, -2);
    ASSERT_FALSE(bench.camera->get_request(cam::PROPSETID_FWCAM1394_CUSTOM_PROP, 109, nullptr, 0, record, 48,
                                           &returned, 0));
    std::int32_t raw = 0;
    std::memcpy(&raw, record + 24, 4);
    EXPECT_EQ(raw, 2500);
    // UVC handlers persist when set; unloading leaves the stored values.
    bench.camera->unload();
    std::int64_t stored = 0;
    ASSERT_TRUE(bench.store->read_int(L"Brightness", stored));
    EXPECT_EQ(stored, 7);
}

TEST_F(uvc_device_base_test, try_start_probes_reads_back_and_commits_in_order)
{
    constexpr std::uint32_t by_system = 0; // the system's default bulk size
    struct row {
        std::optional<std::int64_t> stored;
        std::uint32_t proposed;
    } rows[] = {{std::nullopt, by_system}, {4096, by_system}, {4097, 4097}, {8192, 8192}, {-5, by_system},
                {0x1'0000'0000, by_system}};
    for (const auto& r : rows) {
        camera_bench b;
        if (r.stored) {
            b.store->write_int(L"max_transfer_size", *r.stored);
        }
        b.responder = std::make_unique<sim_camera::uvc_responder>(b.io.camera);
        b.responder->set_stream_sizes(vga_size, 16384);
        b.open();
        ASSERT_FALSE(b.camera->init_device());
        ASSERT_FALSE(b.camera->try_start(vga, interval));
        const auto probe = b.responder->last_probe_set();
        ASSERT_GE(probe.size(), 26u);
        std::uint32_t proposed = 0;
        std::memcpy(&proposed, probe.data() + 22, 4);
        EXPECT_EQ(proposed, r.proposed == by_system ? default_bulk_size(*b.device) : r.proposed)
            << (r.stored ? *r.stored : -1);
        b.camera->release_stream();
    }
    // Text in the store is no size either.
    bench.store->write_string(L"max_transfer_size", L"8192");
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    bench.responder->set_stream_sizes(vga_size, 16384);
    open_and_init();
    const std::size_t before = vs_requests().size();
    ASSERT_FALSE(bench.camera->try_start(vga, interval));
    EXPECT_EQ(proposed_transfer_size(), default_bulk_size(*bench.device));
    auto requests = vs_requests();
    requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(before));
    const std::vector<std::pair<int, int>> expected = {{0x01, 1}, {0x81, 1}, {0x01, 2}, {0x81, 2}};
    EXPECT_EQ(requests, expected);
    EXPECT_EQ(bench.camera->committed().frame_interval(), interval);
    EXPECT_EQ(bench.camera->current_stream_format().width, 640);
}

TEST_F(uvc_device_base_test, refused_formats_and_unusable_commits_fail_before_anything_is_allocated)
{
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    open_and_init();
    const cam::stream_format unknown[] = {{img::fourcc("Y800"), 800, 600, 0}, {img::fourcc("YUY2"), 640, 480, 0},
                                          {img::fourcc("Y800"), 641, 480, 0}};
    for (const auto& f : unknown) {
        EXPECT_EQ(bench.camera->try_start(f, interval), invalid_arg) << f.width;
    }
    bench.responder->set_stream_sizes(vga_size, 16384);
    // A probe answer for another format or frame than the one asked for.
    const std::pair<std::optional<std::uint8_t>, std::optional<std::uint8_t>> answers[] = {
        {{}, 9}, {0, {}}, {2, {}}, {0xFF, {}}};
    for (const auto& [format_index, frame_index] : answers) {
        bench.responder->set_probe_format_index_override(format_index);
        bench.responder->set_probe_frame_index_override(frame_index);
        const std::string row = (format_index ? std::to_string(*format_index) : "-") + "/" +
                                (frame_index ? std::to_string(*frame_index) : "-");
        const int commits_before = bench.responder->commit_count();
        EXPECT_EQ(bench.camera->try_start(vga, interval), invalid_arg) << row;
        EXPECT_EQ(bench.responder->commit_count(), commits_before) << row;
        EXPECT_EQ(bench.camera->endpoint_pipe(), nullptr) << row;
        bench.camera->release_stream();
    }
    bench.responder->set_probe_format_index_override(std::nullopt);
    bench.responder->set_probe_frame_index_override(std::nullopt);

    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{0, 16384}, {vga_size, 0}, {0xFFFFFFFF, 16384},
                                                             {vga_size, 0xFFFFFFFF}};
    for (const auto& [frame, payload] : sizes) {
        bench.responder->set_stream_sizes(frame, payload);
        EXPECT_EQ(bench.camera->try_start(vga, interval), invalid_arg) << frame << "/" << payload;
        EXPECT_EQ(bench.camera->endpoint_pipe(), nullptr);
        EXPECT_EQ(bench.camera->frame_stream(), nullptr);
    }
}

TEST_F(uvc_device_base_test, committed_sizes_decide_the_transfer_mode)
{
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    open_and_init();
    // A committed dwMaxVideoFrameSize below the image counts as the image:
    // the camera sends the whole image all the same.
    struct row {
        std::uint32_t frame, payload;
        bool full_frame;
        std::uint32_t required;
    } rows[] = {{vga_size, 16384, false, vga_size},
                {vga_size, vga_size, false, vga_size},
                {vga_size, vga_size + 254, false, vga_size},
                {vga_size, vga_size + 255, true, vga_size + 255},
                {vga_size, 0x2000000, true, 0x2000000},
                {vga_size / 2, 16384, false, vga_size},
                {vga_size / 2, vga_size / 2 + 255, false, vga_size},
                {vga_size - 1, vga_size + 254, false, vga_size},
                {1, vga_size + 255, true, vga_size + 255},
                {vga_size + 1, vga_size + 255, false, vga_size + 1}};
    for (const auto& r : rows) {
        bench.responder->set_stream_sizes(r.frame, r.payload);
        ASSERT_FALSE(bench.camera->try_start(vga, interval)) << r.frame << "/" << r.payload;
        EXPECT_EQ(bench.camera->full_frame(), r.full_frame) << r.frame << "/" << r.payload;
        EXPECT_EQ(bench.camera->required_frame_buffer_size(), r.required) << r.frame << "/" << r.payload;
        EXPECT_EQ(bench.camera->transfer_size(), r.payload);
        bench.camera->release_stream();
    }
}

struct stream_case {
    const char* name;
    std::uint32_t payload_transfer; // committed dwMaxPayloadTransferSize
    std::uint32_t source_transfer;  // what the simulated camera sends per transfer (0: whole frames)
    std::uint32_t frame_size = vga_size; // committed dwMaxVideoFrameSize
};

class uvc_streaming_test : public uvc_device_base_test, public ::testing::WithParamInterface<stream_case> {};

TEST_P(uvc_streaming_test, frames_stream_into_the_sink_and_rounds_leave_nothing_behind)
{
    const stream_case c = GetParam();
    sim_camera::payload_stream_config config;
    config.width = 640;
    config.height = 480;
    config.transfer_size = c.source_transfer;
    sim_camera::payload_source source(config);
    bench.io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    bench.io.camera.set_payload_generator(source.generator());
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    bench.responder->set_stream_sizes(c.frame_size, c.payload_transfer);
    open_and_init();
    bench.sink.width = 640;
    bench.sink.image_size = vga_size;
    const std::size_t files_before = bench.io.open_files();

    std::size_t wanted = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_FALSE(bench.camera->try_start(vga, interval)) << round;
        EXPECT_EQ(bench.camera->full_frame(), c.source_transfer == 0);
        bench.sink.make_buffers(4, bench.camera->required_frame_buffer_size());
        bench.sink.lend_all(*bench.camera);
        const std::size_t depth_before = bench.recorder.ioctls(IOCTL_NOXKM_PIPE_SET_DEPTH).size();
        ASSERT_FALSE(bench.camera->start_streaming()) << round;
        const auto depth = bench.recorder.ioctls(IOCTL_NOXKM_PIPE_SET_DEPTH);
        ASSERT_EQ(depth.size(), depth_before + 1);
        std::uint32_t record[2]{};
        ASSERT_EQ(depth.back().input.size(), sizeof record);
        std::memcpy(record, depth.back().input.data(), sizeof record);
        EXPECT_EQ(record[0], c.payload_transfer);
        EXPECT_EQ(record[1], 8u);

        wanted += 3;
        EXPECT_TRUE(bench.sink.wait_for_frames(wanted)) << round << ": " << bench.sink.good_frames();
        // Paused and started again: every buffer comes back into use.
        bench.camera->stop_streaming();
        ASSERT_FALSE(bench.camera->start_streaming()) << round;
        wanted = bench.sink.good_frames() + 3;
        EXPECT_TRUE(bench.sink.wait_for_frames(wanted)) << round << ": " << bench.sink.good_frames();
        wanted = bench.sink.good_frames();
        std::weak_ptr<nox_um::pipe> pipe = bench.camera->endpoint_pipe();
        EXPECT_TRUE(pipe.lock()->running());
        bench.camera->stop_streaming();
        EXPECT_FALSE(pipe.lock()->running());
        bench.camera->release_stream();
        EXPECT_TRUE(pipe.expired()) << round;
        EXPECT_EQ(bench.camera->frame_stream(), nullptr);
        EXPECT_EQ(bench.io.open_files(), files_before) << round;
        bench.sink.clear();
    }
    EXPECT_EQ(bench.sink.bad_frames(), 0u);
}

INSTANTIATE_TEST_SUITE_P(modes, uvc_streaming_test,
                         ::testing::Values(stream_case{"payload", 16384, 16384},
                                           stream_case{"full_frame", vga_size + 512, 0},
                                           // The camera commits less than its image and sends the image.
                                           stream_case{"payload_committed_below_the_image", vga_size, 16384,
                                                       vga_size / 2},
                                           stream_case{"full_frame_committed_below_the_image", vga_size + 512, 0,
                                                       vga_size / 2}),
                         [](const auto& info) { return std::string(info.param.name); });

// A throw on the pipe's thread (here the sink's lock) ends the stream as a
// device error that reaches the sink; the camera stops, releases and streams
// again as after any stream.
TEST_F(uvc_device_base_test, a_throw_on_the_frame_path_ends_the_stream_as_a_device_error_and_the_camera_streams_again)
{
    sim_camera::payload_stream_config config;
    config.width = 640;
    config.height = 480;
    config.transfer_size = 16384;
    sim_camera::payload_source source(config);
    bench.io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    bench.io.camera.set_payload_generator(source.generator());
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    bench.responder->set_stream_sizes(vga_size, 16384);
    open_and_init();
    bench.sink.width = 640;
    bench.sink.image_size = vga_size;
    log_capture log;
    for (int round = 0; round < 2; ++round) {
        ASSERT_FALSE(bench.camera->try_start(vga, interval)) << round;
        bench.sink.make_buffers(4, bench.camera->required_frame_buffer_size());
        bench.sink.lend_all(*bench.camera);
        ASSERT_FALSE(bench.camera->start_streaming()) << round;
        ASSERT_TRUE(bench.sink.wait_for_frames(bench.sink.good_frames() + 2)) << round;
        if (round == 0) {
            bench.sink.throw_on_next = true;
            ASSERT_TRUE(bench.sink.wait_for_failures(1));
            EXPECT_EQ(bench.camera->endpoint_pipe()->queue_request(nullptr),
                      std::error_code(ERROR_GEN_FAILURE, std::system_category()))
                << "the ended pipe takes no more reads";
        }
        bench.camera->stop_streaming();
        bench.camera->release_stream();
        bench.sink.clear();
    }
    EXPECT_EQ(bench.sink.failures(), 1u);
    EXPECT_EQ(log.lines_with("nox_um::pipe::thread_main, the stream ends as a device error: frame sink lock").size(),
              1u);
}

TEST_F(uvc_device_base_test, a_release_waits_for_the_frames_being_returned_at_that_moment)
{
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    bench.responder->set_stream_sizes(vga_size, 16384);
    open_and_init();
    ASSERT_FALSE(bench.camera->try_start(vga, interval));
    bench.sink.make_buffers(4, bench.camera->required_frame_buffer_size());
    const auto frames = bench.sink.frames();

    // The first return to reach the frame path stays inside it until the
    // stream has been released, or half a second has shown that the release
    // waits for it.
    std::atomic<bool> holding{false};
    std::atomic<bool> released_under_a_return{false};
    std::promise<void> inside;
    bench.camera->inside_return = [&] {
        if (!holding.exchange(true)) {
            inside.set_value();
            released_under_a_return = bench.camera->wait_for_releases(1, std::chrono::milliseconds(500));
        }
    };
    std::promise<void> go;
    const std::shared_future<void> start = go.get_future().share();
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) {
        callers.emplace_back([&] {
            start.wait();
            for (auto* f : frames) {
                bench.camera->return_frame(f);
            }
        });
    }
    callers.emplace_back([&, entered = inside.get_future()] {
        start.wait();
        entered.wait();
        bench.camera->release_stream();
    });
    go.set_value();
    for (auto& t : callers) {
        t.join();
    }
    bench.camera->inside_return = nullptr;
    EXPECT_FALSE(released_under_a_return) << "the stream was freed under a frame being returned";
    EXPECT_TRUE(bench.camera->wait_for_releases(1, std::chrono::milliseconds(0)));
    EXPECT_EQ(bench.camera->frame_stream(), nullptr);
}

TEST_F(uvc_device_base_test, streaming_needs_a_prepared_pipe_and_an_endpoint)
{
    bench.responder = std::make_unique<sim_camera::uvc_responder>(bench.io.camera);
    open_and_init();
    EXPECT_EQ(bench.camera->start_streaming(), make_cam_error(E_OUTOFMEMORY));
    bench.camera->release_stream(); // nothing prepared: nothing happens
    bench.camera->stop_streaming();
}

} // namespace

namespace {

using uvc_test::camera_bench;

// The simulated camera with another streaming interface: alternate setting 0
// carries the formats, the others the given endpoints.
void set_streaming_alternates(camera_bench& b, const std::vector<sim_camera::endpoint_spec>& endpoints,
                              bool isochronous)
{
    sim_camera::configuration_spec spec = sim_camera::uvc_camera_spec();
    auto& streaming = spec.interfaces.at(1).alternates;
    streaming.at(0).endpoints.clear();
    if (isochronous) {
        std::uint8_t alternate = 1;
        for (const auto& e : endpoints) {
            sim_camera::alternate_spec alt;
            alt.alternate = alternate++;
            alt.endpoints.push_back(e);
            streaming.push_back(alt);
        }
    } else {
        streaming.at(0).endpoints = endpoints;
    }
    b.io.camera.configuration_bytes = sim_camera::build_configuration(spec);
}

sim_camera::endpoint_spec iso_endpoint(std::uint16_t max_packet)
{
    sim_camera::endpoint_spec e;
    e.attributes = 5; // isochronous, asynchronous
    e.max_packet = max_packet;
    e.interval = 1;
    return e;
}

TEST(uvc_device_base_endpoints, a_camera_without_a_large_enough_endpoint_fails_to_prepare)
{
    struct row {
        const char* name;
        std::vector<sim_camera::endpoint_spec> endpoints;
        bool isochronous;
    } rows[] = {{"no streaming endpoint", {}, false},
                {"isochronous packets too small", {iso_endpoint(512), iso_endpoint(1024)}, true}};
    for (const auto& r : rows) {
        camera_bench b;
        set_streaming_alternates(b, r.endpoints, r.isochronous);
        b.responder = std::make_unique<sim_camera::uvc_responder>(b.io.camera);
        b.responder->set_stream_sizes(vga_size, 3072);
        b.open();
        ASSERT_FALSE(b.camera->init_device()) << r.name;
        EXPECT_EQ(b.camera->try_start(vga, interval), make_cam_error(E_OUTOFMEMORY)) << r.name;
        EXPECT_EQ(b.camera->endpoint_pipe(), nullptr) << r.name;
        EXPECT_EQ(b.camera->frame_stream(), nullptr) << r.name;
    }
}

TEST(uvc_device_base_endpoints, a_pipe_that_cannot_be_opened_gives_the_alternate_setting_back)
{
    camera_bench b;
    set_streaming_alternates(b, {iso_endpoint(512), iso_endpoint(3072)}, true);
    b.responder = std::make_unique<sim_camera::uvc_responder>(b.io.camera);
    b.responder->set_stream_sizes(vga_size, 1000);
    b.open();
    ASSERT_FALSE(b.camera->init_device());
    b.recorder.refuse_pipe_opens = true;
    EXPECT_EQ(b.camera->try_start(vga, interval), make_cam_error(E_OUTOFMEMORY));
    EXPECT_EQ(b.camera->endpoint_pipe(), nullptr);
    // Alternate setting 2 was selected for the pipe, then 0 again.
    EXPECT_EQ(b.recorder.ioctls(IOCTL_NOXKM_SELECT_INTERFACE).size(), 2u);
    EXPECT_EQ(b.io.camera.selected_alternate(1), 0);
}

TEST(uvc_device_base_endpoints, an_isochronous_camera_takes_the_first_alternate_that_fits_and_release_selects_zero)
{
    camera_bench b;
    set_streaming_alternates(b, {iso_endpoint(512), iso_endpoint(1024), iso_endpoint(3072)}, true);
    b.responder = std::make_unique<sim_camera::uvc_responder>(b.io.camera);
    b.responder->set_stream_sizes(vga_size, 1000);
    b.open();
    ASSERT_FALSE(b.camera->init_device());
    // Isochronous streams propose no transfer size.
    ASSERT_FALSE(b.camera->try_start(vga, interval));
    const auto probe = b.responder->last_probe_set();
    ASSERT_GE(probe.size(), 26u);
    EXPECT_EQ(probe[22] | probe[23] << 8 | probe[24] << 16 | probe[25] << 24, 0);
    EXPECT_EQ(b.io.camera.selected_alternate(1), 2);
    EXPECT_FALSE(b.camera->full_frame());
    EXPECT_EQ(b.camera->transfer_size(), 80u);
    EXPECT_NE(b.camera->endpoint_pipe(), nullptr);
    b.camera->release_stream();
    EXPECT_EQ(b.io.camera.selected_alternate(1), 0);
}

} // namespace
