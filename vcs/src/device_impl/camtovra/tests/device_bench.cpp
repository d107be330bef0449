#include <gtest/gtest.h>

#include "device_bench.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "device_impl/device_impl_tools/frame_wrapper.h"
#include "device_impl/image/image_format.h"

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

sim_devices::sim_camera_options device_bench::options(bool full_frame, std::uint32_t frames_per_second,
                                                      bool acquisition_stop)
{
    sim_devices::sim_camera_options o;
    o.width = vga_width;
    o.height = vga_height;
    o.full_frame = full_frame;
    o.frames_per_second = frames_per_second;
    o.description.acquisition_stop = acquisition_stop;
    o.record_requests = true; // the stream tests count acquisition writes
    return o;
}

device_bench::device_bench(bool full_frame, std::uint32_t frames_per_second, bool acquisition_stop)
    : unit(options(full_frame, frames_per_second, acquisition_stop))
{
    CoCreateGuid(&id);
}

device_bench::~device_bench()
{
    device.reset();
}

void device_bench::open()
{
    ASSERT_TRUE(unit.start());
    device.reset(new camtovra::device(id, io.device_path(), store, io));
}

std::uint32_t device_bench::format_id() const
{
    DShowDeviceServer_StreamFormatInfo formats[8]{};
    std::uint32_t count = 0;
    if (device->get_stream_format_desc(8, formats, &count) != S_OK) {
        return no_format;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (formats[i].MediaTypeFourCC == img::fourcc("Y800") && formats[i].MaxDim.cx == 640) {
            return formats[i].StreamFormatInfoId;
        }
    }
    return no_format;
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

::testing::AssertionResult channel_reader::take_one(std::uint64_t& id)
{
    HRESULT hr = S_FALSE;
    // Every frame and counter change signals the semaphore; a signal with no
    // frame ready (a counter change) is waited past.
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
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult channel_reader::take(int count)
{
    for (int i = 0; i < count; ++i) {
        std::uint64_t id = 0;
        if (auto result = take_one(id); !result) {
            return result;
        }
        if (device_.release_frame(id) != S_OK) {
            return ::testing::AssertionFailure() << "release_frame failed";
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult channel_reader::take_all_buffers()
{
    std::set<std::uint64_t> held;
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    while (result && held.size() < 4) {
        if (held.size() == 2) {
            accounting_.hold(); // the frame path may run out of buffers from now on
        }
        std::uint64_t id = 0;
        result = take_one(id);
        if (result && !held.insert(id).second) {
            result = ::testing::AssertionFailure() << "buffer " << id << " handed out twice";
        }
    }
    for (const std::uint64_t id : held) {
        device_.release_frame(id);
    }
    return result;
}

::testing::AssertionResult channel_reader::finish(const sim_camera::payload_source& camera) const
{
    // Counters first: every frame they count had begun when the camera's
    // count is read after them.
    const auto counted = sim_camera::frame_counters::of(device_.channel().counts());
    const std::string unaccounted = accounting_.finish(counted, camera.frames_started());
    if (!unaccounted.empty()) {
        return ::testing::AssertionFailure() << unaccounted;
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
    // Chunk frames carry the image's and the block id's trailers after the
    // image and the block id in the header.
    const std::uint32_t flags = static_cast<std::uint32_t>(load_le(h + fh::flags, 4));
    const bool chunk = flags == fh::flag_chunk_data;
    const std::uint64_t block_id = load_le(h + fh::fid, 8);
    if (load_le(h + fh::id, 4) != id || (flags != 0 && !chunk) || chunk != expect_chunk ||
        load_le(h + fh::valid_size, 4) != vga_size + (chunk ? sim_camera::payload_source::chunk_bytes : 0) ||
        load_le(h + fh::pts, 8) != sim_camera::payload_source::pts_of(carried) ||
        (chunk && frames != 0 && block_id <= last_block_id)) {
        return ::testing::AssertionFailure()
               << "frame " << carried << ": wrong header: id " << load_le(h + fh::id, 4) << "/" << id << ", valid "
               << load_le(h + fh::valid_size, 4) << ", flags " << flags << ", pts " << load_le(h + fh::pts, 8) << "/"
               << sim_camera::payload_source::pts_of(carried) << ", block " << block_id << " after " << last_block_id;
    }
    last_block_id = block_id;
    // The simulated camera's own count never restarts.
    if (frames != 0 && carried <= last_carried) {
        return ::testing::AssertionFailure() << "frame " << carried << " after " << last_carried;
    }
    // The camera's frame number restarts with a start, and the first frame
    // taken after it is of the new run: none finished before the pause is
    // handed out after the start. From there on the numbers rise.
    if (new_run) {
        new_run = false;
        for (int i = 0; i < std::max(restarts_, 1); ++i) {
            accounting_.restart(); // it allows for what the stop lost
        }
        restarts_ = 0;
        accounting_.new_run();
    } else if (frames != 0 && number <= last_number) {
        return ::testing::AssertionFailure() << "frame number " << number << " after " << last_number;
    }
    const std::string unaccounted = accounting_.take(carried, sim_camera::frame_counters::of(counts));
    if (!unaccounted.empty()) {
        return ::testing::AssertionFailure() << unaccounted;
    }
    last_carried = carried;
    ++frames;
    last_number = number;
    return ::testing::AssertionSuccess();
}

} // namespace camtovra_test
