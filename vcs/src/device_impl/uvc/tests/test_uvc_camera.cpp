#include "test_uvc_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <system_error>
#include <chrono>

#include "gen_utils/log.h"

namespace uvc_test {

void checking_sink::make_buffers(std::size_t count, std::uint64_t capacity)
{
    std::lock_guard guard(lock_);
    buffers_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        buffers_.push_back(cam::make_frame_buffer(capacity));
    }
}

void checking_sink::lend_all(cam::uvc_cam::uvc_device_base& target)
{
    camera = &target;
    for (auto* f : frames()) {
        target.return_frame(f);
    }
}

std::vector<cam::frame_wrapper*> checking_sink::frames() const
{
    std::lock_guard guard(lock_);
    std::vector<cam::frame_wrapper*> out;
    for (const auto& b : buffers_) {
        out.push_back(b.get());
    }
    return out;
}

void test_uvc_camera::after_release()
{
    {
        std::lock_guard guard(releases_lock_);
        ++releases_;
    }
    released_.notify_all();
}

bool test_uvc_camera::wait_for_releases(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock guard(releases_lock_);
    return released_.wait_for(guard, timeout, [&] { return releases_ >= count; });
}

void checking_sink::clear()
{
    std::lock_guard guard(lock_);
    buffers_.clear();
    camera = nullptr;
}

bool checking_sink::deliver_frame(cam::frame_wrapper& frame, const cam::frame_counts&)
{
    if (throw_on_next.exchange(false)) {
        throw std::system_error(ERROR_NOT_OWNER, std::system_category(), "frame sink lock");
    }
    std::uint64_t number = 0;
    std::size_t bad_index = 0;
    // valid_data_size_ counts the image bytes that follow the payload header.
    const bool whole = frame.valid_data_size_ >= image_size && frame.offset + image_size <= frame.capacity;
    const bool good = whole && sim_camera::payload_source::check_image({frame.data() + frame.offset, image_size},
                                                                       width, &number, &bad_index);
    {
        std::lock_guard guard(lock_);
        ++(good ? good_ : bad_);
    }
    changed_.notify_all();
    if (camera != nullptr) {
        camera->return_frame(&frame);
    }
    return true;
}

void checking_sink::stream_failed()
{
    {
        std::lock_guard guard(lock_);
        ++failures_;
    }
    changed_.notify_all();
}

bool checking_sink::wait_for_failures(std::size_t count)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(5), [&] { return failures_ >= count; });
}

std::size_t checking_sink::failures() const
{
    std::lock_guard guard(lock_);
    return failures_;
}

bool checking_sink::wait_for_frames(std::size_t count)
{
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::seconds(5), [&] { return good_ >= count; });
}

std::size_t checking_sink::good_frames() const
{
    std::lock_guard guard(lock_);
    return good_;
}

std::size_t checking_sink::bad_frames() const
{
    std::lock_guard guard(lock_);
    return bad_;
}

std::vector<recording_io::ioctl_record> recording_io::ioctls(DWORD code) const
{
    std::lock_guard guard(lock_);
    std::vector<ioctl_record> out;
    std::copy_if(records_.begin(), records_.end(), std::back_inserter(out),
                 [&](const ioctl_record& r) { return r.code == code; });
    return out;
}

BOOL recording_io::device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output,
                                     DWORD output_size, DWORD* returned, OVERLAPPED* overlapped)
{
    {
        std::lock_guard guard(lock_);
        const auto* bytes = static_cast<const std::uint8_t*>(input);
        records_.push_back({code, bytes == nullptr ? std::vector<std::uint8_t>{}
                                                   : std::vector<std::uint8_t>(bytes, bytes + input_size)});
    }
    return inner_.device_io_control(file, code, input, input_size, output, output_size, returned, overlapped);
}

log_capture::log_capture()
{
    saved_level = service_log_level.load();
    service_log_level = 3;
    set_log_sink(1, [this](std::uint32_t, const char* text) {
        std::lock_guard guard(lock);
        lines.emplace_back(text);
    });
}

log_capture::~log_capture()
{
    set_log_sink(1, nullptr);
    service_log_level = saved_level;
}

std::vector<std::string> log_capture::lines_with(std::string_view text) const
{
    std::lock_guard guard(lock);
    std::vector<std::string> out;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(out),
                 [&](const std::string& l) { return l.find(text) != std::string::npos; });
    return out;
}

std::vector<std::string> log_capture::all() const
{
    std::lock_guard guard(lock);
    return lines;
}

camera_bench::camera_bench() = default;

camera_bench::~camera_bench()
{
    if (camera) {
        camera->release_stream();
    }
    camera.reset();
    sink.clear();
}

void camera_bench::open()
{
    if (!responder) {
        responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
    }
    ASSERT_EQ(io.start(), STATUS_SUCCESS);
    auto file = nox_um::usb_device_handle::open(io.device_path(), recorder);
    ASSERT_TRUE(file.has_value());
    device = std::make_shared<nox_um::usb_device_handle>(std::move(file).value(), io.device_path());
    camera = std::make_unique<test_uvc_camera>(cam::camera_creation{device, &sink, store});
}

} // namespace uvc_test
