#include "usb_bulk_pipe.h"

#include "noxkm_log.h"
#include "usb_utils.h"

#include <cstring>

namespace usb {
namespace {

transfer_slot* slot_from_links(PSINGLE_LIST_ENTRY links)
{
    return CONTAINING_RECORD(links, transfer_slot, links);
}

struct resync_item {
    PIO_WORKITEM item;
    usb_bulk_pipe* pipe;
    resync_tracker* tracker;
};

constexpr ULONG pool_tag = 'pxoN';

} // namespace

usb_bulk_pipe::usb_bulk_pipe(PDEVICE_OBJECT target, PDEVICE_OBJECT work_device, const USBD_PIPE_INFORMATION& info)
    : pipe_info_(info), target_(target)
{
    KeInitializeEvent(&tracker_.drained, NotificationEvent, TRUE);
    KeInitializeSpinLock(&tracker_.lock);
    tracker_.closed = TRUE;
    tracker_.device = work_device;
    KeInitializeSpinLock(&free_list_lock_);
    KeInitializeMutex(&lock_, 0);
}

usb_bulk_pipe::~usb_bulk_pipe()
{
    stop();
    tracker_close(); // nothing may run on this pipe once it is freed
    free_slots();
}

bool usb_bulk_pipe::is_running()
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    const bool running = running_;
    KeReleaseMutex(&lock_, FALSE);
    return running;
}

NTSTATUS usb_bulk_pipe::init_free_list()
{
    if (!slots_.reserve(transfer_slot_count)) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const CCHAR stack_size = static_cast<CCHAR>(target_->StackSize + 1);
    for (size_t i = 0; i < transfer_slot_count; ++i) {
        transfer_slot* slot = slots_.emplace_back();
        memset(slot, 0, sizeof(*slot));
        slot->owner = this;
        KeInitializeEvent(&slot->idle, NotificationEvent, TRUE);
        slot->owners = 2;
        slot->irp = IoAllocateIrp(stack_size, FALSE);
        if (slot->irp == nullptr) {
            NOXKM_LOG(noxkm::log_error, "usb::usb_bulk_pipe::init_free_list, failed to allocate IRP.\n");
            free_slots(); // the next start tries again
            return STATUS_INSUFFICIENT_RESOURCES;
        }
    }
    // Slot 0 ends up at the head.
    for (size_t i = transfer_slot_count; i-- > 0;) {
        ExInterlockedPushEntryList(&free_list_, &slots_[i].links, &free_list_lock_);
    }
    return STATUS_SUCCESS;
}

void usb_bulk_pipe::free_slots()
{
    for (transfer_slot& slot : slots_) {
        if (slot.irp != nullptr) {
            IoFreeIrp(slot.irp);
        }
    }
    slots_.release();
    free_list_.Next = nullptr;
}

NTSTATUS usb_bulk_pipe::start()
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = STATUS_SUCCESS;
    if (!running_) {
        if (!has_endpoint_) {
            NOXKM_LOG(noxkm::log_warning, "usb::usb_bulk_pipe::start, endpoint 0x%x is not in the selected setting.\n",
                      pipe_info_.EndpointAddress);
            status = STATUS_NO_SUCH_DEVICE;
        } else if (slots_.empty()) {
            status = init_free_list();
        }
        if (NT_SUCCESS(status)) {
            status = reset_pipe(target_, pipe_info_.PipeHandle);
            if (NT_SUCCESS(status)) {
                tracker_open();
                running_ = true;
            }
        }
    }
    KeReleaseMutex(&lock_, FALSE);
    return status;
}

NTSTATUS usb_bulk_pipe::stop()
{
    // A queued resync takes the pipe lock: drain it before taking the lock.
    tracker_close();
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = STATUS_SUCCESS;
    if (running_) {
        running_ = false;
        status = abort_pipe(target_, pipe_info_.PipeHandle);
        cancel_all_irps_sync();
    }
    KeReleaseMutex(&lock_, FALSE);
    return status;
}

bool usb_bulk_pipe::release_endpoint()
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    const bool stopped = !running_;
    if (stopped) {
        has_endpoint_ = false;
    }
    KeReleaseMutex(&lock_, FALSE);
    return stopped;
}

void usb_bulk_pipe::assign_endpoint(const USBD_PIPE_INFORMATION* info)
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    // A running pipe was not released and still has the information kept for it.
    if (!running_) {
        if (info != nullptr) {
            pipe_info_ = *info;
        }
        has_endpoint_ = info != nullptr;
    }
    KeReleaseMutex(&lock_, FALSE);
}

void usb_bulk_pipe::cancel_all_irps_sync()
{
    for (transfer_slot& slot : slots_) {
        NOXKM_LOG_TRANSFER("usb::usb_bulk_pipe::cancel_all_irps_sync, == Cancel %p, PIPE_REQ=%p.\n",
                           static_cast<void*>(&slot), static_cast<void*>(slot.request));
        if (KeReadStateEvent(&slot.idle) == 0) {
            IoCancelIrp(slot.irp);
        }
        // Whether or not the cancel found the transfer in the stack, the slot
        // may still be finishing its request: nothing is released before it
        // is idle again.
        const NTSTATUS wait = KeWaitForSingleObject(&slot.idle, Executive, KernelMode, FALSE, nullptr);
        if (wait != STATUS_SUCCESS) {
            NOXKM_LOG(noxkm::log_error,
                      "usb::usb_bulk_pipe::cancel_all_irps_sync, failed to wait for free_list_entry(%p) to signal "
                      "'canceled' event.\n",
                      static_cast<void*>(&slot));
        }
    }
}

void usb_bulk_pipe::return_slot(transfer_slot* slot)
{
    slot->request_context = nullptr;
    slot->request = nullptr;
    ExInterlockedPushEntryList(&free_list_, &slot->links, &free_list_lock_);
    // Last touch of the slot: once idle, a stop may free it.
    KeSetEvent(&slot->idle, IO_NO_INCREMENT, FALSE);
}

void usb_bulk_pipe::push(WDFREQUEST request, PMDL mdl, PPIPE_REQUEST_CONTEXT context)
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    if (!running_) {
        KeReleaseMutex(&lock_, FALSE);
        WdfRequestComplete(request, STATUS_END_OF_FILE);
        return;
    }
    PSINGLE_LIST_ENTRY links = ExInterlockedPopEntryList(&free_list_, &free_list_lock_);
    if (links == nullptr) {
        KeReleaseMutex(&lock_, FALSE);
        WdfRequestComplete(request, STATUS_INSUFFICIENT_RESOURCES);
        return;
    }
    transfer_slot* slot = slot_from_links(links);
    // The slot's previous use may still be signalling its idle event.
    KeWaitForSingleObject(&slot->idle, Executive, KernelMode, FALSE, nullptr);
    KeClearEvent(&slot->idle);
    slot->request_context = context;
    slot->request = request;
    slot->owners = 2;

    IoReuseIrp(slot->irp, STATUS_NOT_SUPPORTED);
    memset(&slot->urb, 0, sizeof(slot->urb));
    UsbBuildInterruptOrBulkTransferRequest(&slot->urb, sizeof(_URB_BULK_OR_INTERRUPT_TRANSFER),
                                           pipe_info_.PipeHandle, nullptr, mdl, MmGetMdlByteCount(mdl),
                                           USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK, nullptr);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(slot->irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = &slot->urb;
    IoSetCompletionRoutine(slot->irp, &usb_bulk_pipe::transfer_request_complete, slot, TRUE, TRUE, TRUE);

    context->slot = slot;
    if (WdfRequestMarkCancelableEx(request, &usb_bulk_pipe::cancel_event_request) == STATUS_CANCELLED) {
        context->slot = nullptr;
        return_slot(slot);
        KeReleaseMutex(&lock_, FALSE);
        WdfRequestComplete(request, STATUS_CANCELLED);
        return;
    }
    const NTSTATUS status = IoCallDriver(target_, slot->irp);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "usb::usb_bulk_pipe::push, IoCallDriver failed with 0x%x.\n",
                  static_cast<unsigned>(status));
    }
    KeReleaseMutex(&lock_, FALSE);
}

NTSTATUS usb_bulk_pipe::transfer_request_complete(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto* slot = static_cast<transfer_slot*>(context);
    usb_bulk_pipe* pipe = slot->owner;
    const ULONG bytes = slot->urb.UrbBulkOrInterruptTransfer.TransferBufferLength;
    const USBD_STATUS usbd_status = slot->urb.UrbHeader.Status;
    NTSTATUS result;
    if (irp->Cancel || irp->IoStatus.Status == STATUS_CANCELLED) {
        result = STATUS_CANCELLED;
    } else if (USBD_SUCCESS(usbd_status)) {
        result = irp->IoStatus.Status;
        if (!NT_SUCCESS(result)) {
            NOXKM_LOG(noxkm::log_warning, "usb::usb_bulk_pipe::transfer_request_complete, failed irp status: 0x%x\n",
                      static_cast<unsigned>(result));
        } else {
            result = STATUS_SUCCESS;
        }
    } else {
        if (usbd_status == USBD_STATUS_BABBLE_DETECTED &&
            InterlockedCompareExchange(&pipe->resync_pending_, 1, 0) == 0) {
            if (!NT_SUCCESS(pipe->queue_resync())) {
                InterlockedExchange(&pipe->resync_pending_, 0);
            }
        }
        NOXKM_LOG(noxkm::log_warning,
                  "usb::usb_bulk_pipe::transfer_request_complete,  status babble by usb stack status 0x%x\n",
                  static_cast<unsigned>(usbd_status));
        result = STATUS_CANCELLED;
    }
    pipe->complete_bulk_transfer(slot, result, bytes);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void usb_bulk_pipe::complete_bulk_transfer(transfer_slot* slot, NTSTATUS status, ULONG bytes)
{
    const NTSTATUS unmark = WdfRequestUnmarkCancelable(slot->request);
    if (unmark == STATUS_CANCELLED) {
        complete_transfer_cancel_running(slot);
    } else if (!NT_SUCCESS(unmark)) {
        NOXKM_LOG_TRANSFER(
            "usb::usb_bulk_pipe::complete_bulk_transfer, cancel returned an unexpected status. WDFREQUEST=%p, "
            "status=0x%x.\n",
            static_cast<void*>(slot->request), static_cast<unsigned>(unmark));
        complete_transfer_success(slot, STATUS_CANCELLED, 0);
    } else {
        complete_transfer_success(slot, status, bytes);
    }
}

void usb_bulk_pipe::complete_transfer_success(transfer_slot* slot, NTSTATUS status, ULONG bytes)
{
    WDFREQUEST request = slot->request;
    NOXKM_LOG_TRANSFER(
        "usb::usb_bulk_pipe::complete_transfer_success, WDFREQUEST=%p, completion_status=0x%x, byte=%u.\n",
        static_cast<void*>(request), static_cast<unsigned>(status), static_cast<unsigned>(bytes));
    slot->request_context->slot = nullptr;
    // The slot goes back first: a read that user mode submits as soon as it
    // sees this completion finds it free, and nothing of the pipe is touched
    // while the request completes.
    return_slot(slot);
    WdfRequestCompleteWithInformation(request, status, bytes);
}

void usb_bulk_pipe::complete_transfer_cancel_running(transfer_slot* slot)
{
    WDFREQUEST request = slot->request;
    if (InterlockedDecrement(&slot->owners) == 0) {
        NOXKM_LOG_TRANSFER("usb::usb_bulk_pipe::complete_transfer_cancel_running, WDFREQUEST=%p was canceled and we "
                           "are reponsible for completion\n",
                           static_cast<void*>(request));
        slot->request_context->slot = nullptr;
        return_slot(slot);
        WdfRequestCompleteWithInformation(request, STATUS_CANCELLED, 0);
    } else {
        NOXKM_LOG_TRANSFER("usb::usb_bulk_pipe::complete_transfer_cancel_running, WDFREQUEST=%p was canceled and "
                           "cancel handler is reponsible for completion\n",
                           static_cast<void*>(request));
    }
}

VOID usb_bulk_pipe::cancel_event_request(WDFREQUEST request)
{
    PPIPE_REQUEST_CONTEXT context = PipeRequestGetContext(request);
    transfer_slot* slot = context == nullptr ? nullptr : context->slot;
    if (slot == nullptr) {
        WdfRequestComplete(request, STATUS_CANCELLED);
        return;
    }
    NOXKM_LOG_TRANSFER("usb::usb_bulk_pipe::cancel_event_request, canceling WDFREQUEST. PIPE_REQUEST_CONTEXT=%p.\n",
                       static_cast<void*>(context));
    const BOOLEAN cancelled = IoCancelIrp(slot->irp);
    NOXKM_LOG_TRANSFER(
        "usb::usb_bulk_pipe::cancel_event_request, canceled single PIPE_REQUEST_CONTEXT=%p, IoCancelIrp returned %d\n",
        static_cast<void*>(context), cancelled ? 1 : 0);
    slot->owner->complete_transfer_cancel_running(slot);
}

// ---------------------------------------------------------------- resync after babble

void usb_bulk_pipe::tracker_open()
{
    KIRQL irql;
    KeAcquireSpinLock(&tracker_.lock, &irql);
    KeSetEvent(&tracker_.drained, IO_NO_INCREMENT, FALSE);
    tracker_.closed = FALSE;
    KeReleaseSpinLock(&tracker_.lock, irql);
}

void usb_bulk_pipe::tracker_close()
{
    KIRQL irql;
    KeAcquireSpinLock(&tracker_.lock, &irql);
    tracker_.closed = TRUE;
    const bool wait = tracker_.outstanding != 0;
    KeReleaseSpinLock(&tracker_.lock, irql);
    if (wait) {
        KeWaitForSingleObject(&tracker_.drained, Executive, KernelMode, FALSE, nullptr);
        // The last work item signals under the spin lock: once the lock is
        // free again it no longer touches the pipe.
        KeAcquireSpinLock(&tracker_.lock, &irql);
        KeReleaseSpinLock(&tracker_.lock, irql);
    }
}

NTSTATUS usb_bulk_pipe::queue_resync()
{
    auto* record = static_cast<resync_item*>(ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(resync_item), pool_tag));
    if (record == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    KIRQL irql;
    KeAcquireSpinLock(&tracker_.lock, &irql);
    if (tracker_.closed) {
        KeReleaseSpinLock(&tracker_.lock, irql);
        ExFreePoolWithTag(record, pool_tag);
        return STATUS_CANCELLED;
    }
    record->item = IoAllocateWorkItem(tracker_.device);
    if (record->item == nullptr) {
        KeReleaseSpinLock(&tracker_.lock, irql);
        ExFreePoolWithTag(record, pool_tag);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    record->pipe = this;
    record->tracker = &tracker_;
    ++tracker_.outstanding;
    KeClearEvent(&tracker_.drained);
    KeReleaseSpinLock(&tracker_.lock, irql);
    IoQueueWorkItem(record->item, &usb_bulk_pipe::resync_work, DelayedWorkQueue, record);
    return STATUS_SUCCESS;
}

VOID usb_bulk_pipe::resync_work(PDEVICE_OBJECT, PVOID context)
{
    auto* record = static_cast<resync_item*>(context);
    record->pipe->rsync_pipe_req();
    resync_tracker* tracker = record->tracker;
    KIRQL irql;
    KeAcquireSpinLock(&tracker->lock, &irql);
    IoFreeWorkItem(record->item);
    ExFreePoolWithTag(record, pool_tag);
    if (--tracker->outstanding == 0) {
        // Last touch of the pipe by this work item.
        KeSetEvent(&tracker->drained, IO_NO_INCREMENT, FALSE);
    }
    KeReleaseSpinLock(&tracker->lock, irql);
}

void usb_bulk_pipe::rsync_pipe_req()
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    NOXKM_LOG(noxkm::log_warning, ">>rsync_pipe_req call\n");
    abort_pipe(target_, pipe_info_.PipeHandle);
    cancel_all_irps_sync();
    NTSTATUS status = reset_pipe(target_, pipe_info_.PipeHandle);
    if (!NT_SUCCESS(status)) {
        status = reset_port(target_, control_timeout_ms);
    }
    if (static_cast<ULONG>(status) == static_cast<ULONG>(USBD_STATUS_ERROR_BUSY)) {
        LARGE_INTEGER delay;
        delay.QuadPart = -50 * 10000LL;
        KeDelayExecutionThread(KernelMode, FALSE, &delay);
        status = reset_pipe(target_, pipe_info_.PipeHandle);
    }
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_warning, "usb_bulk_pipe2::rsync_pipe_req_call failed!!!!, status = 0x%x\n",
                  static_cast<unsigned>(status));
    }
    InterlockedExchange(&resync_pending_, 0);
    NOXKM_LOG(noxkm::log_warning, "<<rsync_pipe_req call\n");
    KeReleaseMutex(&lock_, FALSE);
}

} // namespace usb
