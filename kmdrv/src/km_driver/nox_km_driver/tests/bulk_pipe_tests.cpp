// Reads on pipe files: the 16 reused transfers, completion and cancellation
// exactly once, stop and close with reads in flight, babble and the resync,
// power transitions and removal mid-stream.

#include "driver_bench.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>

namespace {

using namespace std::chrono_literals;
using noxkm_test::driver_bench;

// Reads submitted on one pipe file, with their results.
struct reads {
    static constexpr ULONG size = 4096;
    struct read {
        std::array<std::uint8_t, size> buffer{};
        std::atomic<int> completions{0};
        std::atomic<NTSTATUS> status{STATUS_PENDING};
        std::atomic<ULONG_PTR> bytes{0};
        std::uint64_t ticket = 0;
    };
    std::vector<std::unique_ptr<read>> all;

    read& submit(kmdf::host& host, WDFFILEOBJECT file)
    {
        all.push_back(std::make_unique<read>());
        read& r = *all.back();
        r.ticket = host.submit_read(file, r.buffer.data(), size, [&r](NTSTATUS status, ULONG_PTR bytes) {
            r.bytes = bytes;
            r.status = status;
            ++r.completions;
        });
        return r;
    }
    int count(NTSTATUS status) const
    {
        int n = 0;
        for (const auto& r : all) {
            n += r->status == status ? 1 : 0;
        }
        return n;
    }
    bool each_completed_once() const
    {
        for (const auto& r : all) {
            if (r->completions != 1) {
                return false;
            }
        }
        return true;
    }
};

class bulk_pipe_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        pipe = bench.open(L"\\pipe_81");
        ASSERT_NE(pipe, nullptr);
    }
    void TearDown() override
    {
        if (pipe != nullptr) {
            bench.host.close(pipe);
        }
        EXPECT_EQ(bench.host.pending_requests(), 0u);
        const auto found = bench.violations_left();
        EXPECT_TRUE(found.empty()) << found.front();
    }
    NTSTATUS control(ULONG code) { return bench.ioctl(pipe, code, nullptr, 0, nullptr, 0).status; }

    driver_bench bench{0x00020003};
    WDFFILEOBJECT pipe = nullptr;
};

TEST_F(bulk_pipe_test, read_before_start_ends_with_end_of_file_and_after_start_gets_data)
{
    std::uint8_t buffer[512];
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_END_OF_FILE);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    kmdf::io_result r = bench.host.read(pipe, buffer, sizeof buffer);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, sizeof buffer);
    EXPECT_EQ(buffer[10], 10); // the simulator's first transfer counts from 0
    bench.camera.set_payload_generator([](std::uint8_t, std::span<std::uint8_t> data, std::uint64_t) {
        return static_cast<std::uint32_t>(data.size() / 2); // short transfers are allowed
    });
    r = bench.host.read(pipe, buffer, sizeof buffer);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, sizeof buffer / 2);
    EXPECT_TRUE(bench.logged("[nox_km]usb::usb_bulk_pipe::complete_transfer_success, WDFREQUEST="));
}

TEST(bulk_pipe, per_transfer_lines_need_their_category_bit)
{
    driver_bench bench(0x00000003);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    WDFFILEOBJECT pipe = bench.open(L"\\pipe_81");
    ASSERT_EQ(bench.ioctl(pipe, IOCTL_NOXKM_PIPE_START, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    std::uint8_t buffer[64];
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_SUCCESS);
    EXPECT_FALSE(bench.logged("complete_transfer_success"));
    bench.host.close(pipe);
}

TEST_F(bulk_pipe_test, sixteen_reads_fly_and_the_seventeenth_is_refused_at_once)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    const noxkm::pipe_depth depth{4096, 4}; // the depth does not limit the slots
    ASSERT_EQ(bench.ioctl(pipe, IOCTL_NOXKM_PIPE_SET_DEPTH, &depth, sizeof depth, nullptr, 0).status, STATUS_SUCCESS);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    reads r;
    for (int i = 0; i < 16; ++i) {
        r.submit(bench.host, pipe);
    }
    ASSERT_TRUE(bench.camera.wait_for_held(16));
    reads::read& refused = r.submit(bench.host, pipe);
    EXPECT_EQ(refused.status, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(r.count(STATUS_PENDING), 16);
    EXPECT_EQ(bench.camera.release_transfers(1), 1u);
    EXPECT_EQ(r.count(STATUS_SUCCESS), 1);
    reads::read& accepted = r.submit(bench.host, pipe);
    EXPECT_EQ(accepted.status, STATUS_PENDING);
    EXPECT_EQ(bench.camera.release_transfers(16), 16u);
    EXPECT_EQ(r.count(STATUS_SUCCESS), 17);
    EXPECT_TRUE(r.each_completed_once());
}

TEST_F(bulk_pipe_test, stop_cancels_every_read_in_flight_before_it_returns_and_restart_reuses_the_slots)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    const long irps = kmdf::counters().irps_allocated;
    reads r;
    for (int i = 0; i < 16; ++i) {
        r.submit(bench.host, pipe);
    }
    ASSERT_TRUE(bench.camera.wait_for_held(16));
    EXPECT_EQ(control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(r.count(STATUS_CANCELLED), 16); // all of them, before stop returned
    EXPECT_TRUE(r.each_completed_once());
    std::uint8_t buffer[64];
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_END_OF_FILE);
    EXPECT_EQ(control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS); // not running: success

    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    bench.camera.set_completion_mode(sim_camera::completion_mode::inline_completion);
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_SUCCESS);
    // Only the synchronous pipe requests allocate; the slots keep their IRPs.
    EXPECT_LT(kmdf::counters().irps_allocated - irps, 16); // slots were made at the first start
}

TEST_F(bulk_pipe_test, cancelled_read_completes_once_whichever_side_runs_first)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    reads r;
    for (int round = 0; round < 200; ++round) {
        reads::read& victim = r.submit(bench.host, pipe);
        reads::read& other = r.submit(bench.host, pipe);
        ASSERT_TRUE(bench.camera.wait_for_held(2));
        // Completion by the device and cancellation by user mode race.
        std::thread device([&] { bench.camera.release_transfers(1); });
        bench.host.cancel(victim.ticket);
        device.join();
        bench.camera.release_transfers(2);
        ASSERT_EQ(victim.completions.load(), 1);
        ASSERT_EQ(other.completions.load(), 1);
        ASSERT_NE(other.status.load(), STATUS_PENDING);
    }
    EXPECT_TRUE(r.each_completed_once());
    EXPECT_GT(r.count(STATUS_CANCELLED), 0);
}

TEST_F(bulk_pipe_test, stop_returns_only_when_every_slot_is_idle_and_a_slow_completion_holds_no_slot)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    std::promise<void> entered;
    std::promise<void> proceed;
    std::uint8_t buffer[64];
    bench.host.submit_read(pipe, buffer, sizeof buffer, [&](NTSTATUS, ULONG_PTR) {
        entered.set_value();
        proceed.get_future().wait(); // user mode is slow to take the completion
    });
    reads r;
    for (int i = 0; i < 15; ++i) {
        r.submit(bench.host, pipe);
    }
    ASSERT_TRUE(bench.camera.wait_for_held(16));
    std::thread device([&] { bench.camera.release_transfers(1); });
    entered.get_future().wait();
    // The slow completion's slot is already free again: a new read gets it.
    reads::read& next = r.submit(bench.host, pipe);
    EXPECT_EQ(next.status, STATUS_PENDING);
    EXPECT_EQ(control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS);
    EXPECT_EQ(r.count(STATUS_CANCELLED), 16);
    proceed.set_value();
    device.join();
}

TEST_F(bulk_pipe_test, babble_burst_resynchronises_once_and_reads_continue)
{
    // The burst is five transfers in flight that the stack fails together. A
    // resync waits for every transfer in flight before it ends, so all five
    // babble reports fall within the one resync they start. (Reads submitted
    // one after another are no burst: the resync may end between them, and
    // a babble after it rightly starts the next one.)
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    const int resets_before = bench.camera.stats.pipe_resets.load();
    reads r;
    for (int i = 0; i < 5; ++i) {
        r.submit(bench.host, pipe);
    }
    ASSERT_TRUE(bench.camera.wait_for_held(5));
    EXPECT_EQ(bench.camera.release_transfers(5, USBD_STATUS_BABBLE_DETECTED), 5u);
    EXPECT_EQ(r.count(STATUS_CANCELLED), 5);
    EXPECT_TRUE(r.each_completed_once());
    // Stop waits for queued resync work; it must not hold the pipe lock meanwhile.
    auto stop = std::async(std::launch::async, [&] { return control(IOCTL_NOXKM_PIPE_STOP); });
    ASSERT_EQ(stop.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(bench.logged("[nox_km]<<rsync_pipe_req call"));
    const auto resyncs = [&] {
        int n = 0;
        for (const auto& line : bench.lines()) {
            n += line.find(">>rsync_pipe_req call") != std::string::npos ? 1 : 0;
        }
        return n;
    };
    EXPECT_EQ(resyncs(), 1);
    EXPECT_EQ(bench.camera.stats.pipe_resets.load(), resets_before + 1);
    bench.camera.set_completion_mode(sim_camera::completion_mode::inline_completion);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    std::uint8_t buffer[64];
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_SUCCESS);

    // Once that resync has ended, the next babble starts a resync of its own.
    bench.camera.babble_transfers = 1;
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_CANCELLED);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS); // drains the resync
    EXPECT_EQ(resyncs(), 2);
}

TEST_F(bulk_pipe_test, resync_falls_back_to_a_port_reset_when_the_pipe_reset_fails_or_is_busy)
{
    for (int variant = 0; variant < 2; ++variant) {
        ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
        const int port_resets = bench.camera.stats.port_resets.load();
        (variant == 0 ? bench.camera.reset_pipe_failures : bench.camera.reset_pipe_busy) = 1;
        bench.camera.babble_transfers = 1;
        std::uint8_t buffer[64];
        EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_CANCELLED);
        ASSERT_EQ(control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS); // drains the resync
        EXPECT_EQ(bench.camera.stats.port_resets.load(), port_resets + 1) << variant;
    }
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    bench.camera.reset_port_fails = true;
    bench.camera.reset_pipe_failures = 1;
    bench.camera.babble_transfers = 1;
    std::uint8_t buffer[64];
    bench.host.read(pipe, buffer, sizeof buffer);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_STOP), STATUS_SUCCESS);
    EXPECT_TRUE(bench.logged("[nox_km]usb_bulk_pipe2::rsync_pipe_req_call failed!!!!, status = 0xc0000001"));
}

TEST_F(bulk_pipe_test, suspend_stops_only_running_pipes_and_restart_starts_them_again)
{
    WDFFILEOBJECT idle_pipe = bench.open(L"\\pipe_83");
    ASSERT_NE(idle_pipe, nullptr);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    std::uint8_t buffer[64];
    bench.host.suspend(bench.device);
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_END_OF_FILE);
    bench.host.restart(bench.device);
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_SUCCESS);
    EXPECT_EQ(bench.host.read(idle_pipe, buffer, sizeof buffer).status, STATUS_END_OF_FILE);
    bench.host.close(idle_pipe);
}

TEST_F(bulk_pipe_test, removal_mid_stream_ends_every_read_and_later_reads_see_removal)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    reads r;
    for (int i = 0; i < 16; ++i) {
        r.submit(bench.host, pipe);
    }
    ASSERT_TRUE(bench.camera.wait_for_held(16));
    bench.camera.remove();
    EXPECT_EQ(r.count(STATUS_CANCELLED), 16);
    bench.host.surprise_remove(bench.device);
    std::uint8_t buffer[64];
    EXPECT_EQ(bench.host.read(pipe, buffer, sizeof buffer).status, STATUS_DEVICE_REMOVED);
    EXPECT_TRUE(r.each_completed_once());
}

TEST_F(bulk_pipe_test, close_with_reads_in_flight_cancels_them_and_frees_the_pipe)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::held);
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    reads r;
    for (int i = 0; i < 8; ++i) {
        r.submit(bench.host, pipe);
    }
    ASSERT_TRUE(bench.camera.wait_for_held(8));
    const long freed = kmdf::counters().irps_freed;
    bench.host.close(pipe);
    pipe = nullptr;
    EXPECT_EQ(r.count(STATUS_CANCELLED), 8);
    EXPECT_GE(kmdf::counters().irps_freed, freed + 16);
    NTSTATUS status;
    pipe = bench.open(L"\\pipe_81", &status); // open again after close
    EXPECT_EQ(status, STATUS_SUCCESS);
}

TEST_F(bulk_pipe_test, stream_keeps_sixteen_reads_cycling_with_ordered_data)
{
    bench.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    bench.camera.set_payload_generator([](std::uint8_t, std::span<std::uint8_t> data, std::uint64_t sequence) {
        memcpy(data.data(), &sequence, sizeof sequence);
        return static_cast<std::uint32_t>(data.size());
    });
    ASSERT_EQ(control(IOCTL_NOXKM_PIPE_START), STATUS_SUCCESS);
    constexpr int total = 2000;
    std::mutex lock;
    std::condition_variable done;
    std::vector<std::uint64_t> sequences;
    std::array<std::array<std::uint8_t, 1024>, 16> buffers{};
    std::atomic<int> submitted{0};
    std::function<void(int)> submit = [&](int slot) {
        if (submitted.fetch_add(1) >= total) {
            return;
        }
        bench.host.submit_read(pipe, buffers[slot].data(), 1024, [&, slot](NTSTATUS status, ULONG_PTR bytes) {
            std::uint64_t sequence = ~0ull;
            if (status == STATUS_SUCCESS && bytes == 1024) {
                memcpy(&sequence, buffers[slot].data(), sizeof sequence);
            }
            // The slot's next read first, and the record last, told under the
            // lock: the test's locals end once the last record is seen, while
            // the host's threads still run.
            submit(slot);
            std::lock_guard guard(lock);
            sequences.push_back(sequence);
            done.notify_all();
        });
    };
    for (int slot = 0; slot < 16; ++slot) {
        submit(slot);
    }
    std::unique_lock guard(lock);
    ASSERT_TRUE(done.wait_for(guard, 30s, [&] { return sequences.size() == total; }));
    std::sort(sequences.begin(), sequences.end());
    for (int i = 0; i < total; ++i) {
        ASSERT_EQ(sequences[i], static_cast<std::uint64_t>(i));
    }
}

} // namespace
