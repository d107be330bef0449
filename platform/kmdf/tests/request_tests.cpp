// Framework requests of the stand-in, driven through the host: completion
// exactly once, cancellation before and after a request becomes cancelable
// and after completion, buffered output, zero-length reads, file contexts, and
// closes and host teardown that wait for the completion callbacks still running.

#include "kmdf_host.h"
#include "wdf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

struct FILE_DATA {
    int opens;
};
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(FILE_DATA, get_file_data)

constexpr ULONG code_echo = CTL_CODE(0x8001, 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG code_twice = CTL_CODE(0x8001, 2, METHOD_BUFFERED, FILE_ANY_ACCESS);

std::atomic<WDFREQUEST> g_held{nullptr};
std::atomic<NTSTATUS> g_mark_status{STATUS_PENDING};
std::atomic<int> g_reads_seen{0};
std::atomic<int> g_closes{0};

VOID cancel_read(WDFREQUEST request)
{
    g_held = nullptr;
    WdfRequestComplete(request, STATUS_CANCELLED);
}

VOID on_read(WDFQUEUE, WDFREQUEST request, size_t length)
{
    ++g_reads_seen;
    g_held = request;
    if (length == 7) {
        return; // held without a cancel routine; the test marks it
    }
    g_mark_status = WdfRequestMarkCancelableEx(request, &cancel_read);
    if (g_mark_status == STATUS_CANCELLED) {
        g_held = nullptr;
        WdfRequestComplete(request, STATUS_CANCELLED);
    }
}

VOID on_ioctl(WDFQUEUE, WDFREQUEST request, size_t, size_t, ULONG code)
{
    PVOID in = nullptr;
    PVOID out = nullptr;
    size_t in_length = 0;
    if (!NT_SUCCESS(WdfRequestRetrieveInputBuffer(request, 4, &in, &in_length)) ||
        !NT_SUCCESS(WdfRequestRetrieveOutputBuffer(request, 4, &out, nullptr))) {
        WdfRequestComplete(request, STATUS_BUFFER_TOO_SMALL);
        return;
    }
    ULONG value;
    memcpy(&value, in, 4);
    value = ~value;
    memcpy(out, &value, 4);
    WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, 4);
    if (code == code_twice) {
        WdfRequestComplete(request, STATUS_SUCCESS);
    }
}

VOID on_create(WDFDEVICE, WDFREQUEST request, WDFFILEOBJECT file)
{
    get_file_data(file)->opens++;
    PUNICODE_STRING name = WdfFileObjectGetFileName(file);
    WdfRequestComplete(request, name->Length == 0 || name->Buffer[0] != L'x' ? STATUS_SUCCESS : STATUS_ACCESS_DENIED);
}

VOID on_close(WDFFILEOBJECT) { ++g_closes; }

NTSTATUS on_add(WDFDRIVER, PWDFDEVICE_INIT init)
{
    WDF_FILEOBJECT_CONFIG file_config;
    WDF_FILEOBJECT_CONFIG_INIT(&file_config, &on_create, &on_close, nullptr);
    WDF_OBJECT_ATTRIBUTES file_attributes;
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&file_attributes, FILE_DATA);
    WdfDeviceInitSetFileObjectConfig(init, &file_config, &file_attributes);
    WDFDEVICE device;
    NTSTATUS status = WdfDeviceCreate(&init, WDF_NO_OBJECT_ATTRIBUTES, &device);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    WDF_IO_QUEUE_CONFIG queue_config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queue_config, WdfIoQueueDispatchParallel);
    queue_config.EvtIoRead = &on_read;
    queue_config.EvtIoDeviceControl = &on_ioctl;
    return WdfIoQueueCreate(device, &queue_config, WDF_NO_OBJECT_ATTRIBUTES, nullptr);
}

NTSTATUS entry(PDRIVER_OBJECT driver, PUNICODE_STRING path)
{
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, &on_add);
    return WdfDriverCreate(driver, path, WDF_NO_OBJECT_ATTRIBUTES, &config, WDF_NO_HANDLE);
}

// Where a completion callback is held, and the order in which the callback and
// the call that must wait for it returned.
struct callback_gate {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;            // guarded by lock
    bool open = false;               // guarded by lock
    std::vector<std::string> order;  // guarded by lock

    // The completion: says it entered, waits for the gate, records its return.
    kmdf::io_completion hold(std::function<void()> before_waiting = {}, std::function<void()> after_waiting = {})
    {
        return [this, before_waiting, after_waiting](NTSTATUS, ULONG_PTR) {
            if (before_waiting) {
                before_waiting();
            }
            std::unique_lock guard(lock);
            entered = true;
            changed.notify_all();
            changed.wait(guard, [&] { return open; });
            guard.unlock();
            if (after_waiting) {
                after_waiting();
            }
            guard.lock();
            order.push_back("callback returned");
        };
    }
    void wait_entered()
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return entered; });
    }
    void record(std::string event)
    {
        std::lock_guard guard(lock);
        order.push_back(std::move(event));
        changed.notify_all();
    }
    // Gives a call that must wait for the callback a chance to return early,
    // which it must not take, then opens the gate.
    void open_after_a_chance_for(const std::string& event)
    {
        std::unique_lock guard(lock);
        changed.wait_for(guard, std::chrono::milliseconds(100),
                         [&] { return std::find(order.begin(), order.end(), event) != order.end(); });
        open = true;
        changed.notify_all();
    }
    std::vector<std::string> recorded()
    {
        std::lock_guard guard(lock);
        return order;
    }
};

// Completes the held read on a thread of its own, as a driver's completion
// routine does; the callback then runs in that thread.
std::thread complete_held_read_elsewhere()
{
    WDFREQUEST request = g_held.exchange(nullptr);
    return std::thread([request] {
        WdfRequestUnmarkCancelable(request);
        WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, 16);
    });
}

class request_test : public ::testing::Test {
protected:
    void SetUp() override
    {
        kmdf::clear_violations();
        g_held = nullptr;
        g_reads_seen = 0;
        g_closes = 0;
        pdo.DriverObject = &pdo_driver;
        pdo.StackSize = 1;
        ASSERT_EQ(host.load(), STATUS_SUCCESS);
        ASSERT_EQ(host.add_device(&pdo, L"\\Registry\\Machine\\none", &device), STATUS_SUCCESS);
        ASSERT_EQ(host.open(device, L"", &file), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        host.remove_device(device);
        EXPECT_TRUE(kmdf::violations().empty()) << kmdf::violations().front();
    }

    DRIVER_OBJECT pdo_driver{};
    DEVICE_OBJECT pdo{};
    kmdf::host host{&entry};
    WDFDEVICE device = nullptr;
    WDFFILEOBJECT file = nullptr;
};

TEST_F(request_test, buffered_output_returns_the_completed_bytes)
{
    ULONG in = 0x12345678;
    ULONG out = 0;
    const kmdf::io_result result = host.ioctl(file, code_echo, &in, 4, &out, 4);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 4u);
    EXPECT_EQ(out, ~0x12345678u);
}

TEST_F(request_test, second_completion_is_reported_and_not_delivered)
{
    ULONG in = 1;
    ULONG out = 0;
    std::atomic<int> completions{0};
    host.submit_ioctl(file, code_twice, &in, 4, &out, 4, [&](NTSTATUS, ULONG_PTR) { ++completions; });
    EXPECT_EQ(completions.load(), 1);
    ASSERT_EQ(kmdf::violations().size(), 1u);
    kmdf::clear_violations();
}

TEST_F(request_test, cancel_after_marking_runs_the_routine_once)
{
    char buffer[16];
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    const auto ticket = host.submit_read(file, buffer, sizeof buffer, [&](NTSTATUS s, ULONG_PTR) { status = s; });
    EXPECT_EQ(g_mark_status.load(), STATUS_SUCCESS);
    EXPECT_EQ(host.pending_requests(), 1u);
    EXPECT_TRUE(host.cancel(ticket));
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    EXPECT_FALSE(host.cancel(ticket)); // completed: nothing left to cancel
    EXPECT_EQ(host.pending_requests(), 0u);
}

TEST_F(request_test, completion_after_unmark_wins_over_a_later_cancel)
{
    char buffer[16];
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    const auto ticket = host.submit_read(file, buffer, sizeof buffer, [&](NTSTATUS s, ULONG_PTR) { status = s; });
    WDFREQUEST request = g_held.exchange(nullptr);
    ASSERT_EQ(WdfRequestUnmarkCancelable(request), STATUS_SUCCESS);
    WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, 16);
    EXPECT_EQ(status.load(), STATUS_SUCCESS);
    EXPECT_FALSE(host.cancel(ticket));
}

TEST_F(request_test, unmark_after_cancel_reports_cancelled)
{
    char buffer[16];
    // Hold the request without a cancel routine being run: cancel first, then
    // the driver's unmark learns that the routine has been taken.
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    const auto ticket = host.submit_read(file, buffer, sizeof buffer, [&](NTSTATUS s, ULONG_PTR) { status = s; });
    WDFREQUEST request = g_held.load();
    EXPECT_TRUE(host.cancel(ticket));
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    // The request is gone; a late call on it is caught.
    WdfRequestUnmarkCancelable(request);
    EXPECT_EQ(kmdf::violations().size(), 1u);
    kmdf::clear_violations();
}

TEST_F(request_test, request_cancelled_before_it_is_marked_cancelable_is_refused_the_routine)
{
    char buffer[7];
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    const auto ticket = host.submit_read(file, buffer, sizeof buffer, [&](NTSTATUS s, ULONG_PTR) { status = s; });
    WDFREQUEST request = g_held.exchange(nullptr);
    EXPECT_TRUE(host.cancel(ticket)); // no routine yet: only marked as cancelled
    EXPECT_EQ(status.load(), STATUS_PENDING);
    EXPECT_TRUE(WdfRequestIsCanceled(request));
    EXPECT_EQ(WdfRequestMarkCancelableEx(request, &cancel_read), STATUS_CANCELLED);
    WdfRequestComplete(request, STATUS_CANCELLED);
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
}

TEST_F(request_test, zero_length_read_completes_without_reaching_the_driver)
{
    char buffer[1];
    EXPECT_EQ(host.read(file, buffer, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(g_reads_seen.load(), 0);
}

TEST_F(request_test, close_cancels_outstanding_reads_then_closes)
{
    char buffer[16];
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    host.submit_read(file, buffer, sizeof buffer, [&](NTSTATUS s, ULONG_PTR) { status = s; });
    host.close(file);
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    EXPECT_EQ(g_closes.load(), 1);
}

TEST_F(request_test, close_returns_only_after_the_completion_callback_has_returned)
{
    char buffer[16];
    callback_gate gate;
    host.submit_read(file, buffer, sizeof buffer, gate.hold());
    std::thread completer = complete_held_read_elsewhere();
    gate.wait_entered();
    EXPECT_EQ(host.pending_requests(), 0u); // completed, its callback still running
    std::thread closer([&] {
        host.close(file);
        gate.record("close returned");
    });
    gate.open_after_a_chance_for("close returned");
    closer.join();
    completer.join();
    EXPECT_EQ(gate.recorded(), (std::vector<std::string>{"callback returned", "close returned"}));
    EXPECT_EQ(g_closes.load(), 1);
}

TEST_F(request_test, host_destruction_returns_only_after_the_completion_callbacks_have_returned)
{
    // The file left open for the destruction to close, and the file that its
    // own callback closed before it was held.
    for (const bool closed_by_its_callback : {false, true}) {
        SCOPED_TRACE(closed_by_its_callback ? "file closed by its callback" : "file left open");
        DRIVER_OBJECT other_pdo_driver{};
        DEVICE_OBJECT other_pdo{};
        other_pdo.DriverObject = &other_pdo_driver;
        other_pdo.StackSize = 1;
        auto other = std::make_unique<kmdf::host>(&entry);
        ASSERT_EQ(other->load(), STATUS_SUCCESS);
        WDFDEVICE other_device = nullptr;
        ASSERT_EQ(other->add_device(&other_pdo, L"\\Registry\\Machine\\none", &other_device), STATUS_SUCCESS);
        WDFFILEOBJECT other_file = nullptr;
        ASSERT_EQ(other->open(other_device, L"", &other_file), STATUS_SUCCESS);
        g_closes = 0;

        char buffer[16];
        callback_gate gate;
        kmdf::host* owner = other.get();
        std::function<void()> close_first;
        if (closed_by_its_callback) {
            close_first = [owner, other_file] { owner->close(other_file); };
        }
        // After the gate the callback still reaches its file's device, which
        // must outlive it.
        std::atomic<PDEVICE_OBJECT> reached{nullptr};
        const auto reach_device = [&reached, other_file] {
            reached = WdfDeviceWdmGetDeviceObject(WdfFileObjectGetDevice(other_file));
        };
        other->submit_read(other_file, buffer, sizeof buffer, gate.hold(close_first, reach_device));
        std::thread completer = complete_held_read_elsewhere();
        gate.wait_entered();
        std::thread destroyer([&] {
            other.reset();
            gate.record("host destroyed");
        });
        gate.open_after_a_chance_for("host destroyed");
        destroyer.join();
        completer.join();
        EXPECT_EQ(gate.recorded(), (std::vector<std::string>{"callback returned", "host destroyed"}));
        EXPECT_EQ(g_closes.load(), 1);
        EXPECT_NE(reached.load(), nullptr);
        EXPECT_TRUE(kmdf::violations().empty()) << kmdf::violations().front();
        kmdf::clear_violations();
    }
}

// Files closed in a ring, each from a completion callback of the file before
// it, while the callback of the file it closes runs in the next thread and is
// itself closing: no close may wait for a callback that waits for it.
TEST_F(request_test, closes_from_callbacks_that_close_each_others_files_all_return)
{
    for (const std::size_t ring : {2u, 3u}) {
        SCOPED_TRACE(ring);
        g_closes = 0;
        std::vector<WDFFILEOBJECT> files(ring);
        for (WDFFILEOBJECT& f : files) {
            ASSERT_EQ(host.open(device, L"", &f), STATUS_SUCCESS);
        }
        std::mutex lock;
        std::condition_variable changed;
        std::size_t entered = 0;  // guarded by lock
        std::size_t returned = 0; // guarded by lock
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < ring; ++i) {
            threads.emplace_back([&, i] {
                ULONG in = static_cast<ULONG>(i);
                ULONG out = 0;
                // The echo completes inside the submission: its callback runs here.
                host.submit_ioctl(files[i], code_echo, &in, 4, &out, 4, [&, i](NTSTATUS, ULONG_PTR) {
                    {
                        std::unique_lock guard(lock);
                        ++entered;
                        changed.notify_all();
                        changed.wait(guard, [&] { return entered == ring; });
                    }
                    host.close(files[(i + 1) % ring]);
                    std::lock_guard guard(lock);
                    ++returned;
                    changed.notify_all();
                });
            });
        }
        {
            std::unique_lock guard(lock);
            if (!changed.wait_for(guard, std::chrono::seconds(30), [&] { return returned == ring; })) {
                // The closing threads can never be joined: end the process.
                std::fprintf(stderr, "closes from completion callbacks deadlocked (%zu of %zu returned)\n", returned,
                             ring);
                std::_Exit(3);
            }
        }
        for (std::thread& t : threads) {
            t.join();
        }
        EXPECT_EQ(g_closes.load(), static_cast<int>(ring));
        EXPECT_EQ(host.pending_requests(), 0u);
    }
}

TEST_F(request_test, callback_that_closes_its_own_file_completes)
{
    // Completed in the submitting thread, in another thread, and with a second
    // read pending that the close cancels while the first callback runs.
    for (const int way : {0, 1, 2}) {
        SCOPED_TRACE(way);
        if (file == nullptr) {
            ASSERT_EQ(host.open(device, L"", &file), STATUS_SUCCESS);
        }
        g_closes = 0;
        char buffer[16];
        char second[16];
        std::atomic<int> returned{0};
        WDFFILEOBJECT own = file;
        host.submit_read(file, buffer, sizeof buffer, [&, own](NTSTATUS, ULONG_PTR) {
            host.close(own);
            ++returned;
        });
        WDFREQUEST request = g_held.exchange(nullptr);
        if (way == 2) {
            host.submit_read(file, second, sizeof second, [](NTSTATUS, ULONG_PTR) {});
        }
        auto complete = [request] {
            WdfRequestUnmarkCancelable(request);
            WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, 16);
        };
        if (way == 1) {
            std::thread(complete).join();
        } else {
            complete();
        }
        file = nullptr;
        EXPECT_EQ(returned.load(), 1);
        EXPECT_EQ(g_closes.load(), 1);
        EXPECT_EQ(host.pending_requests(), 0u);
    }
}

TEST_F(request_test, refused_create_leaves_no_file_and_each_file_has_its_context)
{
    WDFFILEOBJECT refused = nullptr;
    EXPECT_EQ(host.open(device, L"x", &refused), STATUS_ACCESS_DENIED);
    EXPECT_EQ(refused, nullptr);
    WDFFILEOBJECT second = nullptr;
    ASSERT_EQ(host.open(device, L"\\pipe_81", &second), STATUS_SUCCESS);
    EXPECT_EQ(get_file_data(second)->opens, 1);
    EXPECT_NE(get_file_data(second), get_file_data(file));
    host.close(second);
    EXPECT_EQ(g_closes.load(), 1);
}

} // namespace
