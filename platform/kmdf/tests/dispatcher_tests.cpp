// Events, mutexes, spin-locked lists, timed waits and work items of the kernel
// stand-in.

#include "km_kernel.h"
#include "kmdf_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

LARGE_INTEGER relative_ms(LONGLONG ms)
{
    LARGE_INTEGER value;
    value.QuadPart = -ms * 10000;
    return value;
}

TEST(dispatcher, timed_wait_on_an_unsignalled_event_times_out_after_its_time)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LARGE_INTEGER timeout = relative_ms(60);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout), STATUS_TIMEOUT);
    EXPECT_GE(GetTickCount64() - start, 50u);
}

TEST(dispatcher, synchronization_event_releases_one_wait_per_signal_and_notification_stays_set)
{
    KEVENT sync;
    KeInitializeEvent(&sync, SynchronizationEvent, TRUE);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&sync, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&sync, Executive, KernelMode, FALSE, &zero), STATUS_TIMEOUT);

    KEVENT notification;
    KeInitializeEvent(&notification, NotificationEvent, FALSE);
    std::thread setter([&] { KeSetEvent(&notification, 0, FALSE); });
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&notification, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
    setter.join();
}

TEST(dispatcher, mutex_is_recursive_for_its_owner_and_excludes_others)
{
    KMUTEX mutex;
    KeInitializeMutex(&mutex, 0);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
    std::atomic<NTSTATUS> other{STATUS_PENDING};
    std::thread([&] {
        LARGE_INTEGER timeout = relative_ms(20);
        other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, &timeout);
    }).join();
    EXPECT_EQ(other.load(), STATUS_TIMEOUT);
    KeReleaseMutex(&mutex, FALSE);
    KeReleaseMutex(&mutex, FALSE);
    std::thread([&] {
        other = KeWaitForSingleObject(&mutex, Executive, KernelMode, FALSE, nullptr);
        KeReleaseMutex(&mutex, FALSE);
    }).join();
    EXPECT_EQ(other.load(), STATUS_SUCCESS);
}

TEST(dispatcher, waiting_at_dispatch_level_is_reported)
{
    kmdf::clear_violations();
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);
    KIRQL irql;
    KeAcquireSpinLock(&lock, &irql);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
    KeReleaseSpinLock(&lock, irql);
    EXPECT_EQ(kmdf::violations().size(), 1u);
    kmdf::clear_violations();
}

TEST(dispatcher, interlocked_list_is_last_in_first_out)
{
    SINGLE_LIST_ENTRY head{};
    SINGLE_LIST_ENTRY a{}, b{};
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    ExInterlockedPushEntryList(&head, &a, &lock);
    ExInterlockedPushEntryList(&head, &b, &lock);
    EXPECT_EQ(ExInterlockedPopEntryList(&head, &lock), &b);
    EXPECT_EQ(ExInterlockedPopEntryList(&head, &lock), &a);
    EXPECT_EQ(ExInterlockedPopEntryList(&head, &lock), nullptr);
}

TEST(dispatcher, work_item_runs_on_another_thread_with_its_context)
{
    DEVICE_OBJECT device{};
    PIO_WORKITEM item = IoAllocateWorkItem(&device);
    ASSERT_NE(item, nullptr);
    struct context {
        KEVENT ran;
        DWORD thread = 0;
        PDEVICE_OBJECT device = nullptr;
    } ctx;
    KeInitializeEvent(&ctx.ran, NotificationEvent, FALSE);
    IoQueueWorkItem(
        item,
        [](PDEVICE_OBJECT dev, PVOID p) {
            auto* c = static_cast<context*>(p);
            c->thread = GetCurrentThreadId();
            c->device = dev;
            KeSetEvent(&c->ran, 0, FALSE);
        },
        DelayedWorkQueue, &ctx);
    LARGE_INTEGER timeout = relative_ms(5000);
    ASSERT_EQ(KeWaitForSingleObject(&ctx.ran, Executive, KernelMode, FALSE, &timeout), STATUS_SUCCESS);
    EXPECT_NE(ctx.thread, GetCurrentThreadId());
    EXPECT_EQ(ctx.device, &device);
    IoFreeWorkItem(item);
}

TEST(dispatcher, guid_text_must_be_the_braced_registry_form)
{
    GUID guid{};
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, L"{5DC9399A-8F79-4AEA-970B-CC70473849E9}");
    ASSERT_EQ(RtlGUIDFromString(&text, &guid), STATUS_SUCCESS);
    EXPECT_EQ(guid.Data1, 0x5DC9399Au);
    EXPECT_EQ(guid.Data4[7], 0xE9);
    for (PCWSTR bad : {L"5DC9399A-8F79-4AEA-970B-CC70473849E9", L"{5DC9399A-8F79-4AEA-970B-CC70473849EX}",
                       L"not a guid", L""}) {
        RtlInitUnicodeString(&text, bad);
        EXPECT_EQ(RtlGUIDFromString(&text, &guid), STATUS_INVALID_PARAMETER) << bad;
    }
}

} // namespace
