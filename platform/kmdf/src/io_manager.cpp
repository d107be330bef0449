// I/O manager calls of the stand-in: MDLs, IRPs with their stack locations,
// completion and cancellation, and work items on system worker threads.

#include "km_kernel.h"
#include "kmdf_host.h"

#include <cstring>

// ---------------------------------------------------------------- MDLs

PMDL IoAllocateMdl(PVOID virtual_address, ULONG length, BOOLEAN, BOOLEAN, PIRP irp)
{
    auto* mdl = static_cast<PMDL>(ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(MDL), 'ldmK'));
    if (mdl == nullptr) {
        return nullptr;
    }
    mdl->Size = sizeof(MDL);
    mdl->StartVa = virtual_address;
    mdl->ByteCount = length;
    mdl->MappedSystemVa = virtual_address;
    if (irp != nullptr) {
        irp->MdlAddress = mdl;
    }
    return mdl;
}

VOID IoFreeMdl(PMDL mdl)
{
    if (mdl != nullptr && (mdl->MdlFlags & MDL_PAGES_LOCKED) != 0) {
        kmdf::report_violation("IoFreeMdl on an MDL whose pages are still locked");
    }
    ExFreePool(mdl);
}

VOID MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE, LOCK_OPERATION) { mdl->MdlFlags |= MDL_PAGES_LOCKED; }

VOID MmUnlockPages(PMDL mdl)
{
    if ((mdl->MdlFlags & MDL_PAGES_LOCKED) == 0) {
        kmdf::report_violation("MmUnlockPages on an MDL that is not locked");
    }
    mdl->MdlFlags &= ~MDL_PAGES_LOCKED;
}

// ---------------------------------------------------------------- IRPs

namespace {
constexpr ULONG irp_flag_thread = 0x1;  // built by IoBuild*Request: freed at final completion
constexpr CSHORT irp_type = 6;
KSPIN_LOCK g_cancel_lock = 0;

size_t irp_size(CCHAR stack_size)
{
    return sizeof(IRP) + (stack_size > 1 ? stack_size - 1 : 0) * sizeof(IO_STACK_LOCATION);
}
} // namespace

PIRP IoAllocateIrp(CCHAR stack_size, BOOLEAN)
{
    if (stack_size < 1) {
        stack_size = 1;
    }
    auto* irp = static_cast<PIRP>(ExAllocatePool2(POOL_FLAG_NON_PAGED, irp_size(stack_size), 'prIK'));
    if (irp == nullptr) {
        return nullptr;
    }
    irp->Type = irp_type;
    irp->Size = static_cast<USHORT>(irp_size(stack_size));
    irp->StackCount = stack_size;
    irp->CurrentLocation = static_cast<CCHAR>(stack_size + 1);
    ++kmdf::counters().irps_allocated;
    return irp;
}

VOID IoFreeIrp(PIRP irp)
{
    if (irp == nullptr) {
        return;
    }
    if (irp->Type != irp_type) {
        kmdf::report_violation("IoFreeIrp on something that is not a live IRP");
        return;
    }
    irp->Type = 0;
    ++kmdf::counters().irps_freed;
    ExFreePool(irp);
}

VOID IoReuseIrp(PIRP irp, NTSTATUS status)
{
    const CCHAR stack_count = irp->StackCount;
    const USHORT size = irp->Size;
    memset(irp, 0, size);
    irp->Type = irp_type;
    irp->Size = size;
    irp->StackCount = stack_count;
    irp->CurrentLocation = static_cast<CCHAR>(stack_count + 1);
    irp->IoStatus.Status = status;
    ++kmdf::counters().irps_reused;
}

PIRP IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID input, ULONG input_length,
                                   PVOID output, ULONG output_length, BOOLEAN internal, PKEVENT event,
                                   PIO_STATUS_BLOCK iosb)
{
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    if (irp == nullptr) {
        return nullptr;
    }
    irp->Flags |= irp_flag_thread;
    irp->UserEvent = event;
    irp->UserIosb = iosb;
    irp->UserBuffer = output;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = internal ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.OutputBufferLength = output_length;
    next->Parameters.DeviceIoControl.InputBufferLength = input_length;
    next->Parameters.DeviceIoControl.IoControlCode = code;
    next->Parameters.DeviceIoControl.Type3InputBuffer = input;
    return irp;
}

PIRP IoBuildSynchronousFsdRequest(ULONG major, PDEVICE_OBJECT device, PVOID buffer, ULONG, PLARGE_INTEGER,
                                  PKEVENT event, PIO_STATUS_BLOCK iosb)
{
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    if (irp == nullptr) {
        return nullptr;
    }
    irp->Flags |= irp_flag_thread;
    irp->UserEvent = event;
    irp->UserIosb = iosb;
    irp->UserBuffer = buffer;
    IoGetNextIrpStackLocation(irp)->MajorFunction = static_cast<UCHAR>(major);
    return irp;
}

VOID IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN on_success,
                            BOOLEAN on_error, BOOLEAN on_cancel)
{
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->CompletionRoutine = routine;
    next->Context = context;
    next->Control = 0;
    if (on_success) next->Control |= SL_INVOKE_ON_SUCCESS;
    if (on_error) next->Control |= SL_INVOKE_ON_ERROR;
    if (on_cancel) next->Control |= SL_INVOKE_ON_CANCEL;
}

NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp)
{
    if (irp->CurrentLocation <= 1) {
        kmdf::report_violation("IoCallDriver without a free stack location");
        return STATUS_INVALID_PARAMETER;
    }
    irp->CurrentLocation--;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    stack->DeviceObject = device;
    PDRIVER_DISPATCH dispatch = device->DriverObject->MajorFunction[stack->MajorFunction];
    if (dispatch == nullptr) {
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    return dispatch(device, irp);
}

VOID IoCompleteRequest(PIRP irp, CCHAR)
{
    if (irp->Type != irp_type) {
        kmdf::report_violation("IoCompleteRequest on something that is not a live IRP");
        return;
    }
    if (irp->CancelRoutine != nullptr) {
        kmdf::report_violation("IoCompleteRequest on an IRP that still has a cancel routine");
    }
    // Walk up the stack; a completion routine that answers
    // STATUS_MORE_PROCESSING_REQUIRED takes the IRP back.
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        irp->PendingReturned = (stack->Control & SL_PENDING_RETURNED) != 0;
        irp->CurrentLocation++;
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke = stack->CompletionRoutine != nullptr &&
                            ((NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_SUCCESS)) ||
                             (!NT_SUCCESS(status) && (stack->Control & SL_INVOKE_ON_ERROR)) ||
                             (irp->Cancel && (stack->Control & SL_INVOKE_ON_CANCEL)));
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        stack->CompletionRoutine = nullptr;
        PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount
                                    ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                    : nullptr;
        if (invoke && routine(device, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
            return;
        }
        if (irp->PendingReturned && irp->CurrentLocation <= irp->StackCount) {
            IoMarkIrpPending(irp);
        }
    }
    if ((irp->Flags & irp_flag_thread) == 0) {
        kmdf::report_violation("an IRP allocated by a driver completed past its top stack location");
        return;
    }
    if (irp->UserIosb != nullptr) {
        *irp->UserIosb = irp->IoStatus;
    }
    PKEVENT event = irp->UserEvent;
    IoFreeIrp(irp);
    if (event != nullptr) {
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    }
}

PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine)
{
    return reinterpret_cast<PDRIVER_CANCEL>(InterlockedExchangePointer(
        reinterpret_cast<PVOID volatile*>(const_cast<PDRIVER_CANCEL*>(&irp->CancelRoutine)),
        reinterpret_cast<PVOID>(routine)));
}

VOID IoAcquireCancelSpinLock(PKIRQL irql) { KeAcquireSpinLock(&g_cancel_lock, irql); }
VOID IoReleaseCancelSpinLock(KIRQL irql) { KeReleaseSpinLock(&g_cancel_lock, irql); }

BOOLEAN IoCancelIrp(PIRP irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                                                    : nullptr;
    routine(device, irp); // releases the cancel spin lock
    return TRUE;
}

// ---------------------------------------------------------------- work items

struct _IO_WORKITEM {
    PDEVICE_OBJECT device;
    PIO_WORKITEM_ROUTINE routine;
    PVOID context;
    volatile LONG queued;
};

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT device)
{
    auto* item = static_cast<PIO_WORKITEM>(ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(IO_WORKITEM), 'kroW'));
    if (item != nullptr) {
        item->device = device;
    }
    return item;
}

VOID IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE, PVOID context)
{
    if (InterlockedExchange(&item->queued, 1) != 0) {
        kmdf::report_violation("IoQueueWorkItem on a work item that is already queued");
        return;
    }
    item->routine = routine;
    item->context = context;
    auto run = [](PTP_CALLBACK_INSTANCE, PVOID parameter) {
        auto* work = static_cast<PIO_WORKITEM>(parameter);
        InterlockedExchange(&work->queued, 0);
        ++kmdf::counters().work_items_run;
        work->routine(work->device, work->context); // may free the item
    };
    if (!TrySubmitThreadpoolCallback(run, item, nullptr)) {
        kmdf::report_violation("the stand-in could not start a system worker");
    }
}

VOID IoFreeWorkItem(PIO_WORKITEM item)
{
    if (item != nullptr && item->queued != 0) {
        kmdf::report_violation("IoFreeWorkItem on a queued work item");
    }
    ExFreePool(item);
}
