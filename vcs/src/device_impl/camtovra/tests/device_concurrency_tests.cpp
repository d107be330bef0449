// One camera used from several threads at once, as a streaming application,
// a property page and a second application use it: the stream pauses and
// resumes in chunk mode while other threads write and read the exposure time
// and read a chunk feature by name.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <sim_gencp.h>

#include "device_bench.h"
#include "device_impl/device_impl_tools/propset.h"

namespace {

using namespace camtovra_test;

constexpr std::uint32_t named_request_id = 4;

// A named request's instance: eight reserved bytes, then the text.
std::vector<std::uint8_t> named_instance(const char* text)
{
    std::vector<std::uint8_t> bytes(8, 0);
    bytes.insert(bytes.end(), text, text + std::strlen(text) + 1);
    return bytes;
}

HRESULT named_get(camtovra::device& device, const char* text, void* value, std::uint32_t size)
{
    auto instance = named_instance(text);
    std::uint32_t returned = 0;
    return device.get_property(&cam::PROPSETID_GENERIC_DRIVER_INTERFACE, named_request_id, instance.data(),
                               static_cast<std::uint32_t>(instance.size()), value, size, &returned);
}

HRESULT named_set(camtovra::device& device, const char* text, double value)
{
    auto instance = named_instance(text);
    return device.set_property(&cam::PROPSETID_GENERIC_DRIVER_INTERFACE, named_request_id, instance.data(),
                               static_cast<std::uint32_t>(instance.size()), &value, sizeof value);
}

TEST(device_concurrency, a_chunk_stream_paused_and_resumed_beside_feature_traffic_keeps_every_value_and_frame)
{
    device_bench bench{false, 200};
    ASSERT_NO_FATAL_FAILURE(bench.open());
    camtovra::device& device = *bench.device;
    const DShowDeviceServer_StreamFormat format = bench.vga_request();
    ASSERT_EQ(device.create_stream_channel(&format), S_OK);
    ASSERT_TRUE(device.camera()->chunk_mode_active());
    channel_reader reader(device);
    ASSERT_TRUE(reader.open());
    ASSERT_EQ(device.start_stream(), S_OK);
    ASSERT_TRUE(reader.take(5));

    // Every exposure value the camera has held: its first, then each written.
    std::mutex values_lock;
    std::set<double> held;
    double first = 0;
    ASSERT_EQ(named_get(device, "ExposureTime/Value", &first, sizeof first), S_OK);
    held.insert(first);

    std::atomic<bool> done{false};
    std::atomic<int> writes{0}, failed_writes{0}, wrong_read_backs{0};
    std::atomic<int> reads{0}, failed_reads{0}, values_never_held{0};
    std::atomic<int> chunk_reads{0}, chunk_values_never_sent{0};
    std::mutex codes_lock;
    std::set<HRESULT> chunk_refusals;

    // A page: writes the exposure time and reads it back.
    std::thread page([&] {
        for (int i = 0; !done; ++i) {
            const double value = 100.0 + (i % 64) * 10.0;
            {
                std::lock_guard lock(values_lock);
                held.insert(value);
            }
            if (named_set(device, "ExposureTime/Value", value) != S_OK) {
                ++failed_writes;
                continue;
            }
            double back = 0;
            if (named_get(device, "ExposureTime/Value", &back, sizeof back) != S_OK || back != value) {
                ++wrong_read_backs;
            }
            ++writes;
        }
    });
    // A second application: reads the exposure time and the frame's block id
    // from its chunk data.
    std::thread second([&] {
        while (!done) {
            double value = 0;
            if (named_get(device, "ExposureTime/Value", &value, sizeof value) != S_OK) {
                ++failed_reads;
            } else {
                std::lock_guard lock(values_lock);
                values_never_held += held.count(value) == 0 ? 1 : 0;
            }
            ++reads;
            std::uint64_t block_id = 0;
            const HRESULT hr = named_get(device, "ChunkBlockId/Value", &block_id, sizeof block_id);
            if (hr == S_OK) {
                // A chunk is only ever read whole: a block id the camera sent.
                chunk_values_never_sent += block_id >= bench.unit.source->next_block_id() ? 1 : 0;
            } else {
                std::lock_guard lock(codes_lock);
                chunk_refusals.insert(hr);
            }
            ++chunk_reads;
        }
    });

    // The streaming application pauses and resumes; its reader checks every
    // frame and that each one missed was counted.
    const std::size_t stops_before = bench.unit.writes_at(sim_camera::reg_acquisition_stop);
    constexpr int rounds = 12;
    for (int round = 0; round < rounds; ++round) {
        EXPECT_EQ(device.pause_stream(), S_OK) << round;
        EXPECT_EQ(device.start_stream(), S_OK) << round;
        reader.new_run = true;
        EXPECT_TRUE(reader.take(8)) << round;
    }
    done = true;
    page.join();
    second.join();

    EXPECT_EQ(bench.unit.writes_at(sim_camera::reg_acquisition_stop) - stops_before, static_cast<std::size_t>(rounds));
    EXPECT_GT(writes.load(), 0);
    EXPECT_EQ(failed_writes.load(), 0);
    EXPECT_EQ(wrong_read_backs.load(), 0);
    EXPECT_GT(reads.load(), 0);
    EXPECT_EQ(failed_reads.load(), 0);
    EXPECT_EQ(values_never_held.load(), 0);
    EXPECT_GT(chunk_reads.load(), 0);
    EXPECT_EQ(chunk_values_never_sent.load(), 0);
    // Outside a frame's processing the chunk is not there: one refusal only.
    EXPECT_LE(chunk_refusals.size(), 1u);
    EXPECT_TRUE(reader.take_all_buffers()) << "every buffer keeps circulating";
    EXPECT_TRUE(reader.finish(*bench.unit.source));
    EXPECT_EQ(device.close_stream_channel(), S_OK);
}

} // namespace
