// The endpoint pipe: streaming from the simulated camera through the driver,
// stop and removal, and the completion loop's limits against a scripted driver.

#include "fake_driver_io.h"
#include "sim_driver_io.h"

#include <nox_um/pipe.h>

#include <gen_utils/log.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <mutex>
#include <new>
#include <vector>

// Allocations fail on one chosen thread while a failing_allocations lives:
// how a full heap looks to the pipe's thread.
std::atomic<DWORD> allocations_fail_on{0};

void* operator new(std::size_t size)
{
    if (const DWORD thread = allocations_fail_on.load(std::memory_order_relaxed);
        thread != 0 && thread == GetCurrentThreadId()) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

struct failing_allocations {
    explicit failing_allocations(DWORD thread) { allocations_fail_on = thread; }
    ~failing_allocations() { allocations_fail_on = 0; }
    failing_allocations(const failing_allocations&) = delete;
    failing_allocations& operator=(const failing_allocations&) = delete;
};

using namespace std::chrono_literals;
using nox_um::pipe;
using nox_um::usb_device_handle;

constexpr std::size_t header = 64;
constexpr std::size_t capacity = 4096;

// Frame records with their memory; completions are counted per status.
struct frames {
    explicit frames(std::size_t count) : memory(count), records(count)
    {
        for (std::size_t i = 0; i < count; ++i) {
            memory[i].assign(header + capacity, 0);
            records[i].id = static_cast<std::uint32_t>(i + 1);
            records[i].buffer = memory[i].data();
            records[i].header_size = header;
            records[i].capacity = capacity;
        }
    }
    std::vector<std::vector<std::uint8_t>> memory;
    std::vector<cam::frame_wrapper> records;

    std::mutex lock;
    std::condition_variable changed;
    std::map<std::int32_t, int> by_status;
    std::uint64_t bytes = 0;
    bool wait_for(std::int32_t status, int count, std::chrono::milliseconds timeout)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, timeout, [&] { return by_status[status] >= count; });
    }
    int count(std::int32_t status)
    {
        std::lock_guard guard(lock);
        return by_status[status];
    }
    void record(std::int32_t status, std::uint64_t n)
    {
        {
            std::lock_guard guard(lock);
            ++by_status[status];
            bytes += n;
        }
        changed.notify_all();
    }
};

class streaming_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(io.start(), STATUS_SUCCESS);
        auto file = usb_device_handle::open(io.device_path(), io);
        ASSERT_TRUE(file.has_value());
        device = std::make_unique<usb_device_handle>(std::move(file).value(), io.device_path());
    }
    void TearDown() override
    {
        endpoint.reset();
        device.reset();
        const auto found = kmdf::violations();
        EXPECT_TRUE(found.empty()) << found.front();
    }
    // Every completed or returned request goes straight back to the pipe.
    void requeue_everything(frames& f, std::atomic<bool>& stopped, std::atomic<int>& after_stop)
    {
        stopped = false;
        endpoint->set_completion_callback([&](cam::frame_wrapper* request, std::uint64_t bytes, std::int32_t status) {
            if (stopped) {
                ++after_stop;
            }
            f.record(status, bytes);
            endpoint->queue_request(request);
        });
    }

    std::atomic<bool> stopped{false};
    std::atomic<int> after_stop{0};
    nox_um_test::sim_driver_io io;
    std::unique_ptr<usb_device_handle> device;
    frames f{32}; // outlives the pipe whose callback fills it
    std::shared_ptr<pipe> endpoint;
};

TEST_F(streaming_test, pipe_streams_the_cameras_data_with_32_buffers_cycling_and_stops_cleanly)
{
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    io.camera.set_payload_generator([](std::uint8_t, std::span<std::uint8_t> data, std::uint64_t sequence) {
        memset(data.data(), 0x5A, data.size());
        return static_cast<std::uint32_t>(data.size());
    });
    endpoint = nox_um::open_endpoint_pipe(*device, 0x81);
    ASSERT_NE(endpoint, nullptr);
    requeue_everything(f, stopped, after_stop);
    ASSERT_FALSE(endpoint->start());
    for (auto& record : f.records) {
        ASSERT_FALSE(endpoint->queue_request(&record));
    }
    ASSERT_TRUE(f.wait_for(pipe::status_read, 1000, 20s));
    EXPECT_EQ(f.memory[0][header], 0x5A); // data lands after the header
    EXPECT_EQ(f.memory[0][header - 1], 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(endpoint->stop());
    stopped = true;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(after_stop.load(), 0); // nothing reaches the callback once stop returned
    EXPECT_EQ(endpoint->queue_request(&f.records[0]), std::error_code(ERROR_CANCELLED, std::system_category()));
    EXPECT_EQ(after_stop.load(), 0);
    // The driver's pipe is stopped again: a fresh start streams again.
    stopped = false;
    ASSERT_FALSE(endpoint->start());
    const int before = f.count(pipe::status_read);
    for (auto& record : f.records) {
        endpoint->queue_request(&record);
    }
    EXPECT_TRUE(f.wait_for(pipe::status_read, before + 100, 20s));
    endpoint->stop();
}

TEST_F(streaming_test, missing_endpoint_yields_no_pipe_and_unstarted_stop_succeeds)
{
    EXPECT_EQ(nox_um::open_endpoint_pipe(*device, 0x85), nullptr);
    endpoint = nox_um::open_endpoint_pipe(*device, 0x81);
    ASSERT_NE(endpoint, nullptr);
    EXPECT_FALSE(endpoint->stop());
    EXPECT_FALSE(endpoint->running());
}

TEST_F(streaming_test, removal_mid_stream_ends_in_errors_without_a_spinning_thread)
{
    io.camera.set_completion_mode(sim_camera::completion_mode::deferred);
    endpoint = nox_um::open_endpoint_pipe(*device, 0x81);
    ASSERT_NE(endpoint, nullptr);
    requeue_everything(f, stopped, after_stop);
    ASSERT_FALSE(endpoint->start());
    for (auto& record : f.records) {
        endpoint->queue_request(&record);
    }
    ASSERT_TRUE(f.wait_for(pipe::status_read, 200, 20s));
    io.remove_device();
    // From now on no read succeeds: those in flight end with the driver's
    // cancellation, new ones are refused when issued.
    const int refused_before = f.count(pipe::status_not_read);
    ASSERT_TRUE(f.wait_for(pipe::status_not_read, refused_before + 32, 5s));
    const int reads_after_removal = f.count(pipe::status_read);
    // With every read refused at once, requests are held and retried after a
    // back-off: a few hundred milliseconds bring only a bounded number back.
    const int refused_at = f.count(pipe::status_not_read);
    std::unique_lock guard(f.lock);
    f.changed.wait_for(guard, 300ms, [] { return false; });
    guard.unlock();
    EXPECT_LT(f.count(pipe::status_not_read) - refused_at, 32 * 8);
    EXPECT_LE(f.count(pipe::status_read), reads_after_removal + 16); // at most the reads already in flight
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(endpoint->stop());
    stopped = true;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    EXPECT_EQ(after_stop.load(), 0);
}

// Log lines of the pipe, waited for by their text.
struct log_capture {
    log_capture()
    {
        saved_level = service_log_level.load();
        service_log_level = 3;
        set_log_sink(1, [this](std::uint32_t, const char* text) {
            {
                std::lock_guard guard(lock);
                lines.emplace_back(text);
            }
            changed.notify_all();
        });
    }
    ~log_capture()
    {
        set_log_sink(1, nullptr);
        service_log_level = saved_level;
    }
    int count(std::string_view text)
    {
        std::lock_guard guard(lock);
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(text) != std::string::npos;
        }));
    }
    bool wait_for(std::string_view text, std::chrono::milliseconds timeout)
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, timeout, [&] {
            return std::any_of(lines.begin(), lines.end(),
                               [&](const std::string& line) { return line.find(text) != std::string::npos; });
        });
    }
    std::uint32_t saved_level = 0;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> lines;
};

// The driver keeps reads past their cancellation (a stuck driver): stop waits
// for them and says so once a second, and returns as soon as they are back.
TEST_F(streaming_test, stop_waits_for_every_read_the_driver_still_holds)
{
    io.camera.set_completion_mode(sim_camera::completion_mode::held);
    endpoint = nox_um::open_endpoint_pipe(*device, 0x81);
    ASSERT_NE(endpoint, nullptr);
    endpoint->set_completion_callback([&](cam::frame_wrapper*, std::uint64_t bytes, std::int32_t status) {
        f.record(status, bytes);
    });
    ASSERT_FALSE(endpoint->start());
    ASSERT_NE(endpoint->thread_handle(), nullptr);
    for (int i = 0; i < 2; ++i) {
        ASSERT_FALSE(endpoint->queue_request(&f.records[i]));
    }
    ASSERT_TRUE(io.camera.wait_for_held(2));
    io.keep_completed_reads = true;
    log_capture log;
    auto stopping = std::async(std::launch::async, [&] { return endpoint->stop(); });
    ASSERT_TRUE(log.wait_for("waiting for 2 reads the driver still holds", 5s));
    // The cancelled reads reach the driver's keep list on their own time.
    ASSERT_TRUE(io.wait_for_kept_reads(2, 5s));
    EXPECT_EQ(io.kept_reads(), 2u);
    EXPECT_EQ(stopping.wait_for(0s), std::future_status::timeout);
    EXPECT_EQ(io.give_back_kept_reads(), 2u);
    EXPECT_FALSE(stopping.get());
    EXPECT_EQ(log.count("gave up"), 0);
    EXPECT_EQ(endpoint->outstanding_reads(), 0u);
    EXPECT_EQ(f.count(pipe::status_read) + f.count(pipe::status_not_read), 0); // cancelled reads stay silent
    FILETIME created{}, exited{}, kernel{}, user{};
    EXPECT_TRUE(GetThreadTimes(endpoint->thread_handle(), &created, &exited, &kernel, &user)); // also once ended
    EXPECT_FALSE(endpoint->start());
    endpoint->stop();
}

// A read that outlives the stop wait keeps its record with the pipe: when the
// driver gives it back later, it writes memory the pipe still owns, and the
// pipe refuses to start until then, so that the late completion cannot be
// taken for a read of the next run.
TEST_F(streaming_test, read_given_back_after_stop_gave_up_blocks_a_restart_until_it_returned)
{
    io.camera.set_completion_mode(sim_camera::completion_mode::held);
    io.camera.set_payload_generator([](std::uint8_t, std::span<std::uint8_t> data, std::uint64_t) {
        memset(data.data(), 0x5A, data.size());
        return static_cast<std::uint32_t>(data.size());
    });
    endpoint = nox_um::open_endpoint_pipe(*device, 0x81);
    ASSERT_NE(endpoint, nullptr);
    std::vector<int> completions(f.records.size());
    endpoint->set_completion_callback([&](cam::frame_wrapper* request, std::uint64_t bytes, std::int32_t status) {
        ++completions[request->id - 1];
        f.record(status, bytes);
    });
    endpoint->set_stop_wait_limit(1500ms);
    ASSERT_FALSE(endpoint->start());
    for (int i = 0; i < 4; ++i) {
        ASSERT_FALSE(endpoint->queue_request(&f.records[i]));
    }
    ASSERT_TRUE(io.camera.wait_for_held(4));
    io.keep_completed_reads = true;
    {
        log_capture log;
        EXPECT_FALSE(endpoint->stop());
        EXPECT_EQ(log.count("waiting for 4 reads the driver still holds"), 1);
        EXPECT_EQ(log.count("gave up after 1500 ms: 4 reads are still with the driver"), 1);
        EXPECT_EQ(endpoint->outstanding_reads(), 4u);
        EXPECT_EQ(endpoint->start(), std::error_code(ERROR_BUSY, std::system_category()));
        EXPECT_EQ(log.count("4 reads of the last run are still with the driver"), 1);
        EXPECT_FALSE(endpoint->running());
    }
    EXPECT_EQ(f.count(pipe::status_read) + f.count(pipe::status_not_read), 0); // not handed back

    ASSERT_TRUE(io.wait_for_kept_reads(4, 5s));
    io.keep_completed_reads = false;
    EXPECT_EQ(io.give_back_kept_reads(), 4u); // the late completions reach the port
    EXPECT_EQ(endpoint->outstanding_reads(), 0u);
    ASSERT_FALSE(endpoint->start());
    constexpr int reads = 16; // the driver's transfer slots
    for (int i = 0; i < reads; ++i) {
        ASSERT_FALSE(endpoint->queue_request(&f.records[i]));
    }
    for (int released = 0; released < reads;) { // the driver sends 8 at a time
        ASSERT_TRUE(io.camera.wait_for_held(1));
        released += static_cast<int>(io.camera.release_transfers(reads));
    }
    ASSERT_TRUE(f.wait_for(pipe::status_read, reads, 10s));
    EXPECT_FALSE(endpoint->stop());
    // Every request of the new run came back once, read in full, none early.
    std::vector<int> once(f.records.size(), 0);
    std::fill_n(once.begin(), reads, 1);
    EXPECT_EQ(completions, once);
    EXPECT_EQ(f.count(pipe::status_not_read), 0);
    EXPECT_EQ(f.bytes, reads * capacity);
    for (int i = 0; i < reads; ++i) {
        EXPECT_EQ(f.memory[i][header], 0x5A);
        EXPECT_EQ(f.memory[i][header + capacity - 1], 0x5A);
    }
}

TEST(pipe_loop, thirty_third_request_comes_back_unread_and_stop_cancels_the_rest)
{
    nox_um_test::fake_driver_io io;
    auto file = usb_device_handle::open(L"\\\\?\\fake\\pipe_81", io);
    ASSERT_TRUE(file.has_value());
    frames f(33);
    pipe endpoint(std::move(file).value());
    log_capture log;
    std::vector<cam::frame_wrapper*> unread;
    endpoint.set_completion_callback([&](cam::frame_wrapper* request, std::uint64_t bytes, std::int32_t status) {
        if (status == pipe::status_not_read) {
            unread.push_back(request);
        }
        f.record(status, bytes);
    });
    ASSERT_FALSE(endpoint.start());
    EXPECT_EQ(endpoint.start(), std::error_code(ERROR_INVALID_STATE, std::system_category()));
    for (auto& record : f.records) {
        ASSERT_FALSE(endpoint.queue_request(&record));
    }
    ASSERT_TRUE(f.wait_for(pipe::status_not_read, 1, 5s));
    EXPECT_EQ(unread.front(), &f.records[32]);
    EXPECT_EQ(io.pending_reads(), 32u);
    // A failed read that carried data hands on its own status with the bytes.
    io.complete_read(static_cast<LONG>(0xC000009C), 100);
    ASSERT_TRUE(f.wait_for(static_cast<std::int32_t>(HRESULT_FROM_WIN32(ERROR_CRC)), 1, 5s));
    EXPECT_EQ(f.bytes, 100u);
    endpoint.stop();
    EXPECT_EQ(io.cancels, 1);
    EXPECT_EQ(io.pending_reads(), 0u);
    EXPECT_EQ(log.count("Cancel frame due to no transaction_buffers available"), 1);
    // The pipe's own controls went out with their quiet events.
    ASSERT_GE(io.calls.size(), 2u);
    EXPECT_EQ(io.calls.front().code, IOCTL_NOXKM_PIPE_START);
    EXPECT_EQ(io.calls.back().code, IOCTL_NOXKM_PIPE_STOP);
}

// The scripted driver has no event for an issued read: its count is looked
// at until the pipe's thread has issued `count`, within 5 s.
bool reads_issued(nox_um_test::fake_driver_io& io, std::size_t count)
{
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (io.pending_reads() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

// A throw on the completion thread (the frame sink's kernel-mutex lock, an
// allocation) ends that pipe's stream as a device error: logged, the failure
// reported, requests refused until the next start; the process and every
// other pipe go on.
TEST(pipe_loop, a_throwing_completion_ends_that_stream_as_a_device_error_and_other_pipes_go_on)
{
    nox_um_test::fake_driver_io io_a;
    nox_um_test::fake_driver_io io_b;
    auto file_a = usb_device_handle::open(L"\\\\?\\fake\\pipe_81", io_a);
    auto file_b = usb_device_handle::open(L"\\\\?\\fake\\pipe_82", io_b);
    ASSERT_TRUE(file_a.has_value() && file_b.has_value());
    frames a(3);
    frames b(2);
    pipe failing(std::move(file_a).value());
    pipe healthy(std::move(file_b).value());
    log_capture log;
    std::atomic<bool> throw_next{true};
    failing.set_completion_callback([&](cam::frame_wrapper*, std::uint64_t bytes, std::int32_t status) {
        a.record(status, bytes);
        if (status == pipe::status_read && throw_next.exchange(false)) {
            throw std::system_error(ERROR_NOT_OWNER, std::system_category(), "frame channel lock");
        }
    });
    std::promise<void> failure;
    failing.set_failure_callback([&] { failure.set_value(); });
    healthy.set_completion_callback(
        [&](cam::frame_wrapper*, std::uint64_t bytes, std::int32_t status) { b.record(status, bytes); });
    ASSERT_FALSE(failing.start());
    ASSERT_FALSE(healthy.start());
    for (auto& record : a.records) {
        ASSERT_FALSE(failing.queue_request(&record));
    }
    for (auto& record : b.records) {
        ASSERT_FALSE(healthy.queue_request(&record));
    }
    ASSERT_TRUE(reads_issued(io_a, 3) && reads_issued(io_b, 2));
    ASSERT_TRUE(io_a.complete_read(0, 100));
    ASSERT_EQ(failure.get_future().wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(log.wait_for("[CamTovra] nox_um::pipe::thread_main, the stream ends as a device error: frame "
                             "channel lock",
                             5s));
    // The reads still with the driver were cancelled; new requests are
    // refused as a device error, not left waiting.
    EXPECT_EQ(io_a.cancels, 1);
    EXPECT_EQ(io_a.pending_reads(), 0u);
    EXPECT_EQ(failing.queue_request(&a.records[0]), std::error_code(ERROR_GEN_FAILURE, std::system_category()));

    // The other camera's pipe streams on.
    ASSERT_TRUE(io_b.complete_read(0, 50));
    ASSERT_TRUE(b.wait_for(pipe::status_read, 1, 5s));
    EXPECT_EQ(b.bytes, 50u);
    healthy.stop();

    // Stopped and started again, the failed pipe reads as before.
    EXPECT_FALSE(failing.stop());
    ASSERT_FALSE(failing.start());
    ASSERT_FALSE(failing.queue_request(&a.records[1]));
    const int reads = a.count(pipe::status_read);
    ASSERT_TRUE(reads_issued(io_a, 1));
    ASSERT_TRUE(io_a.complete_read(0, 10));
    EXPECT_TRUE(a.wait_for(pipe::status_read, reads + 1, 5s));
    failing.stop();
}

// While reads fail when issued, the pipe holds new requests for a back-off.
// A full heap must not lose them: each comes back at once, unread, and the
// stream goes on once memory and the device are back. A caller that queues
// such a request again at once, as the frame path does, meets the back-off:
// the pipe's thread does not hand it straight back in a loop.
TEST(pipe_loop, requests_that_cannot_be_held_come_back_unread_and_the_stream_goes_on)
{
    nox_um_test::fake_driver_io io;
    io.refuse_reads = ERROR_DEVICE_NOT_CONNECTED;
    auto file = usb_device_handle::open(L"\\\\?\\fake\\pipe_81", io);
    ASSERT_TRUE(file.has_value());
    frames f(104); // more than one block of a node-based list
    pipe endpoint(std::move(file).value());
    // When each request came back unread while queued again: room made
    // beforehand, as nothing allocates on the pipe's thread meanwhile.
    std::vector<std::chrono::steady_clock::time_point> unread_at(4096);
    std::atomic<std::size_t> unread{0};
    std::atomic<bool> queue_again{false};
    endpoint.set_completion_callback([&](cam::frame_wrapper* request, std::uint64_t bytes, std::int32_t status) {
        if (status == pipe::status_not_read && queue_again) {
            if (const std::size_t i = unread++; i < unread_at.size()) {
                unread_at[i] = std::chrono::steady_clock::now();
            }
            endpoint.queue_request(request);
        }
        f.record(status, bytes);
    });
    ASSERT_FALSE(endpoint.start());
    for (std::size_t i = 0; i < pipe::immediate_failure_limit; ++i) {
        ASSERT_FALSE(endpoint.queue_request(&f.records[i]));
    }
    ASSERT_TRUE(f.wait_for(pipe::status_not_read, pipe::immediate_failure_limit, 5s));
    {
        failing_allocations on_pipe_thread(GetThreadId(endpoint.thread_handle()));
        queue_again = true;
        for (std::size_t i = pipe::immediate_failure_limit; i < f.records.size(); ++i) {
            ASSERT_FALSE(endpoint.queue_request(&f.records[i]));
        }
        EXPECT_TRUE(f.wait_for(pipe::status_not_read, static_cast<int>(f.records.size()), 5s))
            << f.count(pipe::status_not_read) << " of " << f.records.size() << " requests came back";
        // Between two back-offs the thread hands back at most one batch of
        // packets (16, the reads refused among them); 32 is generous. A
        // thread that gives each request back as it comes is thousands ahead.
        constexpr std::size_t per_backoff = 32;
        constexpr std::size_t watched = 5 * per_backoff;
        {
            std::unique_lock guard(f.lock);
            EXPECT_TRUE(f.changed.wait_for(guard, 20s, [&] { return unread >= watched; })) << unread;
        }
        queue_again = false;
        ASSERT_GE(unread.load(), watched);
        // Sleep may wake a little early by the steady clock.
        constexpr auto backoff = std::chrono::milliseconds(pipe::retry_backoff_ms * 9 / 10);
        auto shortest = std::chrono::steady_clock::duration::max();
        for (std::size_t i = 0; i + per_backoff < watched; ++i) {
            shortest = std::min(shortest, unread_at[i + per_backoff] - unread_at[i]);
        }
        EXPECT_GE(shortest, backoff) << per_backoff + 1 << " requests came back unread within "
                                     << std::chrono::duration_cast<std::chrono::microseconds>(shortest).count()
                                     << " us";
        EXPECT_EQ(f.count(pipe::status_failed), 0);
    }
    io.refuse_reads = 0;
    ASSERT_FALSE(endpoint.queue_request(&f.records[0]));
    ASSERT_TRUE(reads_issued(io, 1));
    ASSERT_TRUE(io.complete_read(0, 10));
    EXPECT_TRUE(f.wait_for(pipe::status_read, 1, 5s));
    endpoint.stop();
}

// Held requests go back, each once, to the driver or to the caller: a
// back-off's retry tries them on the driver again and keeps those it cannot
// issue yet for the next one, and a stop hands back what is still held. None
// is lost, in the run before a stop or in the one after it.
TEST(pipe_loop, the_back_off_retry_gives_every_held_request_back_before_and_after_a_stop)
{
    nox_um_test::fake_driver_io io;
    auto file = usb_device_handle::open(L"\\\\?\\fake\\pipe_81", io);
    ASSERT_TRUE(file.has_value());
    frames f(23);
    pipe endpoint(std::move(file).value());
    std::vector<std::atomic<int>> returned(f.records.size()); // per request: times it came back
    endpoint.set_completion_callback([&](cam::frame_wrapper* request, std::uint64_t bytes, std::int32_t status) {
        ++returned[request->id - 1];
        f.record(status, bytes);
    });
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        for (auto& count : returned) {
            count = 0;
        }
        const int unread = f.count(pipe::status_not_read);
        const int read = f.count(pipe::status_read);
        ASSERT_FALSE(endpoint.start());
        // Eight reads refused: the first four requests come back at once,
        // the next twelve are held; a retry refuses four of them and keeps
        // eight, which a later retry issues.
        io.refuse_reads = ERROR_DEVICE_NOT_CONNECTED;
        io.refusals_left = 8;
        for (std::size_t i = 0; i < 16; ++i) {
            ASSERT_FALSE(endpoint.queue_request(&f.records[i]));
        }
        ASSERT_TRUE(f.wait_for(pipe::status_not_read, unread + 8, 5s));
        ASSERT_TRUE(reads_issued(io, 8)) << io.pending_reads() << " of the 8 held requests reached the driver";
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(io.complete_read(0, 100));
        }
        ASSERT_TRUE(f.wait_for(pipe::status_read, read + 3, 5s));
        // Refused for good: four more come back at once, three are held (or
        // refused at a retry) when the stop comes.
        io.refusals_left = -1;
        for (std::size_t i = 16; i < f.records.size(); ++i) {
            ASSERT_FALSE(endpoint.queue_request(&f.records[i]));
        }
        ASSERT_TRUE(f.wait_for(pipe::status_not_read, unread + 12, 5s));
        const std::size_t with_driver = io.pending_reads();
        EXPECT_EQ(with_driver, 5u);
        EXPECT_FALSE(endpoint.stop());
        // Those the driver had are the caller's again without a callback;
        // every other request came back exactly once.
        EXPECT_EQ(io.pending_reads(), 0u);
        std::size_t silent = 0;
        for (std::size_t i = 0; i < returned.size(); ++i) {
            EXPECT_LE(returned[i], 1) << "request " << i;
            silent += returned[i] == 0 ? 1 : 0;
        }
        EXPECT_EQ(silent, with_driver);
        EXPECT_EQ(f.count(pipe::status_not_read) - unread + f.count(pipe::status_read) - read,
                  static_cast<int>(f.records.size() - with_driver));
    }
}

TEST(pipe_loop, refused_start_starts_no_thread)
{
    nox_um_test::fake_driver_io io;
    io.on_ioctl = [](const nox_um_test::fake_driver_io::ioctl_call&) {
        return nox_um_test::fake_driver_io::answer{ERROR_DEVICE_REMOVED, 0, {}};
    };
    auto file = usb_device_handle::open(L"\\\\?\\fake\\pipe_81", io);
    pipe endpoint(std::move(file).value());
    EXPECT_EQ(endpoint.start(), std::error_code(ERROR_DEVICE_REMOVED, std::system_category()));
    EXPECT_FALSE(endpoint.running());
    pipe without_file{nox_um::io_handle{}};
    EXPECT_EQ(without_file.start(), std::error_code(ERROR_INVALID_HANDLE, std::system_category()));
}

} // namespace
