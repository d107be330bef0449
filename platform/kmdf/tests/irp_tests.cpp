// IRPs of the kernel stand-in: completion routines, holding an IRP back,
// reuse, cancellation and requests built for synchronous callers.

#include "km_kernel.h"
#include "kmdf_host.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A lower driver that remembers the IRP it was given and can pend it.
struct lower_driver {
    DRIVER_OBJECT driver{};
    DEVICE_OBJECT device{};
    static inline PIRP held = nullptr;
    static inline bool pend = false;
    static inline int cancels = 0;

    lower_driver()
    {
        held = nullptr;
        pend = false;
        cancels = 0;
        device.DriverObject = &driver;
        device.StackSize = 1;
        driver.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &dispatch;
    }

    static VOID cancel(PDEVICE_OBJECT, PIRP irp)
    {
        IoReleaseCancelSpinLock(irp->CancelIrql);
        ++cancels;
        held = nullptr;
        irp->IoStatus.Status = STATUS_CANCELLED;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
    }

    static NTSTATUS dispatch(PDEVICE_OBJECT, PIRP irp)
    {
        if (pend) {
            held = irp;
            IoMarkIrpPending(irp);
            IoSetCancelRoutine(irp, &cancel);
            return STATUS_PENDING;
        }
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 7;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    }
};

struct completion_log {
    std::vector<NTSTATUS> seen;
    NTSTATUS answer = STATUS_MORE_PROCESSING_REQUIRED;
    static NTSTATUS routine(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto* log = static_cast<completion_log*>(context);
        log->seen.push_back(irp->IoStatus.Status);
        return log->answer;
    }
};

class irp_test : public ::testing::Test {
protected:
    void SetUp() override { kmdf::clear_violations(); }
    void TearDown() override { EXPECT_TRUE(kmdf::violations().empty()) << kmdf::violations().front(); }
    lower_driver lower;
};

TEST_F(irp_test, completion_routine_holds_the_irp_back_and_reuse_starts_it_afresh)
{
    PIRP irp = IoAllocateIrp(2, FALSE);
    ASSERT_NE(irp, nullptr);
    completion_log log;
    for (int round = 0; round < 3; ++round) {
        IoReuseIrp(irp, STATUS_SUCCESS);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, &completion_log::routine, &log, TRUE, TRUE, TRUE);
        EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_SUCCESS);
        EXPECT_EQ(irp->IoStatus.Information, 7u);
    }
    EXPECT_EQ(log.seen.size(), 3u);
    IoFreeIrp(irp);
}

TEST_F(irp_test, cancel_reaches_the_routine_of_a_pending_irp_only)
{
    PIRP irp = IoAllocateIrp(2, FALSE);
    completion_log log;
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    IoSetCompletionRoutine(irp, &completion_log::routine, &log, TRUE, TRUE, TRUE);
    lower_driver::pend = true;
    EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_PENDING);
    EXPECT_TRUE(log.seen.empty());
    EXPECT_TRUE(IoCancelIrp(irp));
    ASSERT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(log.seen[0], STATUS_CANCELLED);
    // Completed already: there is no routine left to call.
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_EQ(lower_driver::cancels, 1);
    IoFreeIrp(irp);
}

TEST_F(irp_test, held_back_irp_finishes_when_completed_again)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    const long freed_before = kmdf::counters().irps_freed;
    PIRP irp = IoBuildDeviceIoControlRequest(0x220003, &lower.device, nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
    completion_log log; // holds it back
    IoSetCompletionRoutine(irp, &completion_log::routine, &log, TRUE, TRUE, TRUE);
    lower_driver::pend = true;
    EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_PENDING);
    IoSetCancelRoutine(lower_driver::held, nullptr);
    lower_driver::held->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(lower_driver::held, IO_NO_INCREMENT);
    EXPECT_EQ(log.seen.size(), 1u);
    EXPECT_EQ(KeReadStateEvent(&event), 0);
    // The routine's owner lets it go: the I/O manager finishes it.
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    EXPECT_EQ(kmdf::counters().irps_freed, freed_before + 1);
}

TEST_F(irp_test, internal_request_carries_code_and_argument_in_the_next_location)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(0x220003, &lower.device, nullptr, 0, nullptr, 0, TRUE, &event, &iosb);
    int marker = 0;
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &marker;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    EXPECT_EQ(next->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
    EXPECT_EQ(next->Parameters.DeviceIoControl.IoControlCode, 0x220003u);
    EXPECT_EQ(next->Parameters.Others.Argument1, &marker);
    EXPECT_EQ(IoCallDriver(&lower.device, irp), STATUS_SUCCESS);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(iosb.Information, 7u);
}

TEST_F(irp_test, pool_failure_injection_fails_the_allocation)
{
    kmdf::fail_allocations_after(0);
    EXPECT_EQ(IoAllocateIrp(1, FALSE), nullptr);
    kmdf::fail_allocations_after(-1);
    PIRP irp = IoAllocateIrp(1, FALSE);
    EXPECT_NE(irp, nullptr);
    IoFreeIrp(irp);
}

} // namespace
