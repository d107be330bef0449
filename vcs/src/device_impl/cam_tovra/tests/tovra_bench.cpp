#include "tovra_bench.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "device_impl/image/image_format.h"
#include "gen_utils/log.h"

namespace tovra_test {

namespace {

template <typename T>
T load(const std::uint8_t* at)
{
    T value{};
    std::memcpy(&value, at, sizeof value);
    return value;
}

sim_camera::payload_stream_config stream_config(const bench_options& options)
{
    sim_camera::payload_stream_config config;
    config.width = 640;
    config.height = 480;
    config.transfer_size = options.source_transfer;
    config.frames_per_second = 200;
    return config;
}

} // namespace

// ---------------------------------------------------------------- recording_sink

void recording_sink::make_buffers(std::size_t count, std::uint64_t capacity)
{
    std::lock_guard guard(lock_);
    buffers_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        buffers_.push_back(cam::make_frame_buffer(capacity));
    }
}

void recording_sink::lend_all(cam::uvc_cam::uvc_device_base& camera)
{
    std::vector<cam::frame_wrapper*> frames;
    {
        std::lock_guard guard(lock_);
        camera_ = &camera;
        for (auto& b : buffers_) {
            frames.push_back(b.get());
        }
    }
    for (auto* f : frames) {
        camera.return_frame(f);
    }
}

void recording_sink::clear()
{
    std::lock_guard guard(lock_);
    buffers_.clear();
    camera_ = nullptr;
}

bool recording_sink::deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts&)
{
    frame_record r;
    const std::uint8_t* header = frame.buffer;
    r.buffer_id = frame.id;
    r.valid_size = frame.valid_data_size_;
    r.frame_number = load<std::uint64_t>(header + cam::frame_header::frame_number);
    r.offset_28 = load<std::uint64_t>(header + cam::frame_header::fid);
    r.flags = load<std::uint32_t>(header + cam::frame_header::flags);
    r.processing_block.assign(header + 80, header + 224);
    const std::uint8_t* image = frame.data() + frame.offset;
    if (frame.valid_data_size_ >= image_size && frame.offset + image_size <= frame.capacity) {
        std::size_t bad = 0;
        r.image_good = sim_camera::payload_source::check_image({image, image_size}, width, &r.image_number, &bad);
    }
    const std::uint32_t chunk_end = image_size + sim_camera::payload_source::chunk_bytes;
    if (frame.valid_data_size_ >= chunk_end && frame.offset + chunk_end <= frame.capacity &&
        load<std::uint32_t>(image + image_size) == sim_camera::payload_source::image_chunk_id &&
        load<std::uint32_t>(image + image_size + 16) == sim_camera::payload_source::block_id_chunk_id) {
        r.trailer_block_id = load<std::uint64_t>(image + image_size + 8);
    }
    cam::uvc_cam::uvc_device_base* camera = nullptr;
    {
        std::lock_guard guard(lock_);
        frames_.push_back(std::move(r));
        camera = camera_;
    }
    changed_.notify_all();
    if (camera != nullptr) {
        camera->return_frame(&frame);
    }
    return true;
}

bool recording_sink::wait_for_frames(std::size_t count)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(5), [&] { return frames_.size() >= count; });
}

std::vector<frame_record> recording_sink::frames() const
{
    std::lock_guard guard(lock_);
    return frames_;
}

std::size_t recording_sink::frame_count() const
{
    std::lock_guard guard(lock_);
    return frames_.size();
}

// ---------------------------------------------------------------- log_capture

log_capture::log_capture() : saved_level_(service_log_level.load())
{
    service_log_level = 3;
    set_log_sink(1, [this](std::uint32_t, const char* text) {
        std::lock_guard guard(lock_);
        lines_.emplace_back(text);
    });
}

log_capture::~log_capture()
{
    set_log_sink(1, nullptr);
    service_log_level = saved_level_;
}

std::size_t log_capture::count(const std::string& part) const
{
    std::lock_guard guard(lock_);
    std::size_t n = 0;
    for (const auto& line : lines_) {
        n += line.find(part) != std::string::npos ? 1 : 0;
    }
    return n;
}

// ---------------------------------------------------------------- tovra_bench

tovra_bench::tovra_bench(bench_options o) : options(std::move(o)), source(stream_config(options))
{
    io.camera.configuration_bytes =
        options.xu_unit ? sim_camera::build_configuration(sim_camera::uvc_camera_spec(options.fourcc, 7))
                        : sim_camera::uvc_camera_configuration(options.fourcc);
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    io.camera.set_payload_generator(source.generator());
    responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
    if (options.xu_unit) {
        xu = std::make_unique<sim_camera::sim_xu_unit>(io.camera);
    }
    // Room for the chunk trailers after the image.
    const std::uint32_t frame_size = vga_size + sim_camera::payload_source::chunk_bytes;
    responder->set_stream_sizes(frame_size,
                                options.source_transfer == 0 ? frame_size + 512 : options.payload_transfer);
    if (options.gencp) {
        gencp = std::make_unique<sim_camera::gencp_responder>(io.camera);
        sim_camera::bytes xml = sim_camera::description_xml(options.description);
        if (!options.extra_nodes.empty()) {
            const std::string end = "</RegisterDescription>";
            std::string text(xml.begin(), xml.end());
            text.insert(text.rfind(end), options.extra_nodes);
            xml.assign(text.begin(), text.end());
        }
        gencp->set_manifest({sim_camera::description_file(xml, 0x7A0)});
        sim_camera::link_acquisition(*gencp, io.camera, source, options.description.acquisition_start);
    }
}

tovra_bench::~tovra_bench()
{
    release();
    camera.reset();
    sink.clear();
}

bool tovra_bench::open()
{
    const NTSTATUS status = io.start();
    EXPECT_EQ(status, STATUS_SUCCESS);
    if (status != STATUS_SUCCESS) {
        return false;
    }
    auto file = nox_um::usb_device_handle::open(io.device_path(), io);
    EXPECT_TRUE(file.has_value());
    if (!file.has_value()) {
        return false;
    }
    device = std::make_shared<nox_um::usb_device_handle>(std::move(file).value(), io.device_path());
    camera = std::make_unique<cam::impl::cam_tovra>(cam::camera_creation{device, &sink, store}, cache);
    return true;
}

bool tovra_bench::open_and_init()
{
    if (!open()) {
        return false;
    }
    const std::error_code ec = camera->init_device();
    EXPECT_FALSE(ec) << ec.message();
    return !ec;
}

void tovra_bench::close()
{
    release();
    camera->unload();
    camera.reset();
    sink.clear();
}

bool tovra_bench::reopen()
{
    camera = std::make_unique<cam::impl::cam_tovra>(cam::camera_creation{device, &sink, store}, cache);
    const std::error_code ec = camera->init_device();
    EXPECT_FALSE(ec) << ec.message();
    return !ec;
}

bool tovra_bench::start_vga()
{
    const char* f = options.fourcc.c_str();
    const char code[5] = {f[0], f[1], f[2], f[3], 0};
    const cam::stream_format vga{img::fourcc(code), 640, 480, 0};
    if (const std::error_code ec = camera->try_start(vga, interval)) {
        ADD_FAILURE() << "try_start: " << ec.message();
        return false;
    }
    sink.make_buffers(4, camera->required_frame_buffer_size());
    sink.lend_all(*camera);
    if (const std::error_code ec = camera->start_streaming()) {
        ADD_FAILURE() << "start_streaming: " << ec.message();
        return false;
    }
    return true;
}

void tovra_bench::release()
{
    if (camera) {
        camera->stop_streaming();
        camera->release_stream();
    }
}

std::size_t tovra_bench::writes_at(std::uint64_t address) const
{
    std::size_t n = 0;
    if (gencp) {
        for (const auto& c : gencp->commands()) {
            n += c.command_id == 0x0802 && c.address == address ? 1 : 0;
        }
    }
    return n;
}

} // namespace tovra_test
