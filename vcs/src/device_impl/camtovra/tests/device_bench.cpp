#include <gtest/gtest.h>

#include "device_bench.h"

#include <objbase.h>

#include <cstring>

#include "device_impl/device_impl_tools/frame_wrapper.h"
#include "device_impl/image/image_format.h"
#include "test_uvc_camera.h"

namespace camtovra_test {

namespace {

std::uint64_t load_le(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

std::wstring name_of(const std::uint8_t* block)
{
    wchar_t name[128];
    std::memcpy(name, block, sizeof(name));
    return std::wstring(name, wcsnlen(name, 128));
}

} // namespace

device_bench::device_bench(bool full_frame, std::uint32_t frames_per_second)
{
    CoCreateGuid(&id);
    sim_camera::payload_stream_config config;
    config.width = vga_width;
    config.height = vga_height;
    config.transfer_size = full_frame ? 0 : 16384;
    config.frames_per_second = frames_per_second;
    source = std::make_unique<sim_camera::payload_source>(config);
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    io.camera.set_payload_generator(source->generator());
    responder = std::make_unique<sim_camera::uvc_responder>(io.camera);
    responder->set_stream_sizes(vga_size, full_frame ? vga_size + 512 : 16384);
}

device_bench::~device_bench()
{
    device.reset();
}

void device_bench::open()
{
    ASSERT_EQ(io.start(), STATUS_SUCCESS);
    device.reset(new camtovra::device(
        id, io.device_path(), store,
        [](cam::camera_creation creation) { return std::make_shared<uvc_test::test_uvc_camera>(std::move(creation)); },
        io));
}

std::uint32_t device_bench::format_id() const
{
    DShowDeviceServer_StreamFormatInfo formats[8]{};
    std::uint32_t count = 0;
    if (device->get_stream_format_desc(8, formats, &count) != S_OK) {
        return 0;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (formats[i].MediaTypeFourCC == img::fourcc("Y800") && formats[i].MaxDim.cx == 640) {
            return formats[i].StreamFormatInfoId;
        }
    }
    return 0;
}

DShowDeviceServer_StreamFormat device_bench::vga_request() const
{
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = format_id();
    format.Dimension = {static_cast<LONG>(vga_width), static_cast<LONG>(vga_height)};
    format.AverageTimePerFrame = vga_interval;
    return format;
}

::testing::AssertionResult channel_reader::open()
{
    std::uint8_t block[260]{};
    if (device_.get_base_data(block) != S_OK) {
        return ::testing::AssertionFailure() << "get_base_data failed";
    }
    std::uint32_t buffers = 0;
    std::memcpy(&buffers, block + 256, 4);
    if (buffers != 4) {
        return ::testing::AssertionFailure() << buffers << " buffers";
    }
    semaphore_.reset(OpenSemaphoreW(SYNCHRONIZE, FALSE, name_of(block).c_str()));
    if (!semaphore_) {
        return ::testing::AssertionFailure() << "no semaphore, error " << GetLastError();
    }
    for (std::uint32_t i = 0; i < buffers; ++i) {
        std::uint8_t info[256]{};
        std::uint64_t id = 0;
        if (device_.get_frame_info(i, info, &id) != S_OK) {
            return ::testing::AssertionFailure() << "get_frame_info " << i;
        }
        win32::unique_handle mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name_of(info).c_str()));
        const void* view = mapping ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (view == nullptr) {
            return ::testing::AssertionFailure() << "mapping " << i << " not opened, error " << GetLastError();
        }
        unmap_.emplace_back(const_cast<void*>(view), [](void* v) { UnmapViewOfFile(v); });
        mappings_.push_back(std::move(mapping));
        views_[id] = static_cast<const std::uint8_t*>(view);
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult channel_reader::take(int count)
{
    for (int i = 0; i < count; ++i) {
        std::uint64_t id = 0;
        HRESULT hr = S_FALSE;
        // Every frame and counter change signals the semaphore; a signal with
        // no frame ready (a counter change) is waited past.
        for (int waits = 0; hr != S_OK && waits < 200; ++waits) {
            if (WaitForSingleObject(semaphore_.get(), 5000) != WAIT_OBJECT_0) {
                return ::testing::AssertionFailure() << "no frame within 5 s after " << frames;
            }
            hr = device_.get_ready_frame(&id, &counts);
        }
        if (hr != S_OK) {
            return ::testing::AssertionFailure() << "signals without frames";
        }
        if (auto result = check(id); !result) {
            return result;
        }
        ++ids_seen[id];
        if (device_.release_frame(id) != S_OK) {
            return ::testing::AssertionFailure() << "release_frame failed";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult channel_reader::check(std::uint64_t id)
{
    const auto found = views_.find(id);
    if (found == views_.end()) {
        return ::testing::AssertionFailure() << "unknown frame id " << id;
    }
    const std::uint8_t* h = found->second;
    namespace fh = cam::frame_header;
    const std::uint64_t number = load_le(h + fh::frame_number, 8);
    const std::uint64_t start = load_le(h + fh::data_start, 4);
    std::uint64_t carried = 0;
    std::size_t bad = 0;
    if (start < 4096 || !sim_camera::payload_source::check_image({h + start, vga_size}, vga_width, &carried, &bad)) {
        return ::testing::AssertionFailure() << "frame " << number << " wrong at byte " << bad;
    }
    if (load_le(h + fh::id, 4) != id || load_le(h + fh::valid_size, 4) < vga_size || load_le(h + fh::flags, 4) != 0 ||
        load_le(h + fh::pts, 8) != sim_camera::payload_source::pts_of(carried)) {
        return ::testing::AssertionFailure() << "frame " << carried << ": wrong header";
    }
    // The camera's frame number restarts with every start; the simulated
    // camera's own count does not.
    if (frames != 0 && (carried <= last_carried || (!new_run && number <= last_number))) {
        return ::testing::AssertionFailure() << "frame " << carried << "/" << number << " after " << last_carried
                                             << "/" << last_number;
    }
    new_run = false;
    last_carried = carried;
    ++frames;
    last_number = number;
    return ::testing::AssertionSuccess();
}

} // namespace camtovra_test
