// The simulated camera's transfers: control transfers through the handlers,
// bulk and interrupt IN transfers, pipe requests, and transfers left pending.

#include "sim_camera.h"
#include "sim_camera_internal.h"

#include <algorithm>
#include <cstring>

namespace sim_camera {
using namespace detail;

// ---------------------------------------------------------------- control transfers

NTSTATUS camera::control_transfer(PIRP irp, PURB urb)
{
    auto& request = urb->UrbControlVendorClassRequest;
    const USHORT function = urb->UrbHeader.Function;
    control_setup setup;
    setup.vendor = function == URB_FUNCTION_VENDOR_DEVICE || function == URB_FUNCTION_VENDOR_INTERFACE ||
                   function == URB_FUNCTION_VENDOR_ENDPOINT || function == URB_FUNCTION_VENDOR_OTHER;
    switch (function) {
    case URB_FUNCTION_VENDOR_DEVICE:
    case URB_FUNCTION_CLASS_DEVICE:
        setup.recipient = 0;
        break;
    case URB_FUNCTION_VENDOR_INTERFACE:
    case URB_FUNCTION_CLASS_INTERFACE:
        setup.recipient = 1;
        break;
    case URB_FUNCTION_VENDOR_ENDPOINT:
    case URB_FUNCTION_CLASS_ENDPOINT:
        setup.recipient = 2;
        break;
    default:
        setup.recipient = 3;
        break;
    }
    setup.device_to_host = (request.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0;
    setup.request = request.Request;
    setup.value = request.Value;
    setup.index = request.Index;
    setup.length = static_cast<std::uint16_t>(std::min<ULONG>(request.TransferBufferLength, 0xFFFF));
    std::uint8_t* buffer = transfer_buffer(request.TransferBufferMDL, request.TransferBuffer);
    if (setup.length != 0 && buffer == nullptr) {
        return complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    const std::span<std::uint8_t> data(buffer, buffer == nullptr ? 0 : setup.length);

    std::vector<control_handler> handlers;
    {
        std::lock_guard lock(lock_);
        if (record_controls) {
            control_record record{function, request.TransferFlags, setup, {}};
            if (!setup.device_to_host) {
                record.out_data.assign(data.begin(), data.end());
            }
            control_log_.push_back(std::move(record));
        }
        handlers = handlers_;
    }
    std::optional<control_reply> reply;
    if (!controls_never_complete) {
        for (auto& handler : handlers) {
            reply = handler(setup, data);
            if (reply) {
                break;
            }
        }
    }
    if (controls_never_complete || (reply && reply->never_complete)) {
        return pend(irp, false);
    }
    if (!reply) {
        reply = control_reply{USBD_STATUS_STALL_PID, 0, false};
    }
    if (!USBD_SUCCESS(reply->status)) {
        request.TransferBufferLength = 0;
        return complete(irp, STATUS_UNSUCCESSFUL, reply->status);
    }
    request.TransferBufferLength = std::min<ULONG>(reply->length, setup.length);
    return complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

// ---------------------------------------------------------------- transfers on pipes

NTSTATUS camera::bulk_transfer(PIRP irp, PURB urb)
{
    auto& transfer = urb->UrbBulkOrInterruptTransfer;
    completion_mode mode;
    bool known = false;
    bool acquiring = true;
    {
        std::lock_guard lock(lock_);
        for (const auto& [endpoint, pipe] : pipes_) {
            known = known || pipe.handle == transfer.PipeHandle;
        }
        mode = mode_;
        acquiring = acquiring_;
    }
    if (!known) {
        transfer.TransferBufferLength = 0;
        return complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PIPE_HANDLE);
    }
    ++stats.bulk_transfers;
    int babble = babble_transfers.load();
    while (babble > 0 && !babble_transfers.compare_exchange_weak(babble, babble - 1)) {
    }
    if (babble > 0) {
        transfer.TransferBufferLength = 0;
        return complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_BABBLE_DETECTED);
    }
    if (!acquiring && mode != completion_mode::held) {
        // No image data until acquisition runs: the worker fills it then.
        return pend(irp, true);
    }
    switch (mode) {
    case completion_mode::inline_completion:
        fill_transfer(irp);
        return complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
    case completion_mode::deferred:
        return pend(irp, true);
    case completion_mode::held:
    default:
        return pend(irp, false);
    }
}

void camera::fill_transfer(PIRP irp)
{
    auto& transfer = urb_of(irp)->UrbBulkOrInterruptTransfer;
    std::uint8_t endpoint = 0;
    std::uint64_t sequence = 0;
    payload_generator generator;
    {
        std::lock_guard lock(lock_);
        for (auto& [address, pipe] : pipes_) {
            if (pipe.handle == transfer.PipeHandle) {
                endpoint = address;
                sequence = pipe.sequence++;
            }
        }
        generator = generator_;
    }
    std::uint8_t* buffer = transfer_buffer(transfer.TransferBufferMDL, transfer.TransferBuffer);
    const std::uint32_t length = buffer == nullptr ? 0 : transfer.TransferBufferLength;
    const std::uint32_t produced = generator(endpoint, std::span<std::uint8_t>(buffer, length), sequence);
    transfer.TransferBufferLength = std::min(produced, length);
}

NTSTATUS camera::pipe_request(PIRP irp, PURB urb)
{
    const USBD_PIPE_HANDLE handle = urb->UrbPipeRequest.PipeHandle;
    if (urb->UrbHeader.Function == URB_FUNCTION_ABORT_PIPE) {
        ++stats.aborts;
        finish_taken(take_pending([&](PIRP pending) {
                         const PURB p = urb_of(pending);
                         return p->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER &&
                                p->UrbBulkOrInterruptTransfer.PipeHandle == handle;
                     }),
                     STATUS_CANCELLED, USBD_STATUS_CANCELED);
        return complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
    }
    ++stats.pipe_resets;
    int busy = reset_pipe_busy.load();
    while (busy > 0 && !reset_pipe_busy.compare_exchange_weak(busy, busy - 1)) {
    }
    if (busy > 0) {
        return complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_ERROR_BUSY);
    }
    int failures = reset_pipe_failures.load();
    while (failures > 0 && !reset_pipe_failures.compare_exchange_weak(failures, failures - 1)) {
    }
    if (failures > 0) {
        return complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID);
    }
    return complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

// ---------------------------------------------------------------- pending transfers

NTSTATUS camera::pend(PIRP irp, bool on_thread)
{
    IoMarkIrpPending(irp);
    bool gone = false;
    {
        std::lock_guard lock(lock_);
        IoSetCancelRoutine(irp, &camera::cancel_transfer);
        if (removed_ && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            gone = true;
        } else if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            // Cancelled before it could be held: end it now.
        } else {
            (on_thread ? deferred_ : held_).push_back(irp);
            changed_.notify_all();
            return STATUS_PENDING;
        }
    }
    urb_of(irp)->UrbBulkOrInterruptTransfer.TransferBufferLength = 0;
    if (gone) {
        complete(irp, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE);
    } else {
        complete(irp, STATUS_CANCELLED, USBD_STATUS_CANCELED);
    }
    return STATUS_PENDING;
}

VOID camera::cancel_transfer(PDEVICE_OBJECT device, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    camera* self = camera_of(device);
    {
        std::lock_guard lock(self->lock_);
        std::erase(self->held_, irp);
        std::erase(self->deferred_, irp);
        self->changed_.notify_all();
    }
    if (urb_of(irp)->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
        urb_of(irp)->UrbBulkOrInterruptTransfer.TransferBufferLength = 0;
    } else {
        urb_of(irp)->UrbControlVendorClassRequest.TransferBufferLength = 0;
    }
    self->complete(irp, STATUS_CANCELLED, USBD_STATUS_CANCELED);
}

std::vector<PIRP> camera::take_pending(const std::function<bool(PIRP)>& which)
{
    std::vector<PIRP> taken;
    std::lock_guard lock(lock_);
    for (auto* list : {&held_, &deferred_}) {
        for (auto it = list->begin(); it != list->end();) {
            if (!which(*it)) {
                ++it;
                continue;
            }
            // Without the cancel routine the canceller owns the transfer.
            if (IoSetCancelRoutine(*it, nullptr) != nullptr) {
                taken.push_back(*it);
            }
            it = list->erase(it);
        }
    }
    changed_.notify_all();
    return taken;
}

void camera::finish_taken(const std::vector<PIRP>& irps, NTSTATUS status, USBD_STATUS usbd_status)
{
    for (PIRP irp : irps) {
        const PURB urb = urb_of(irp);
        if (urb->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            urb->UrbBulkOrInterruptTransfer.TransferBufferLength = 0;
        } else {
            urb->UrbControlVendorClassRequest.TransferBufferLength = 0;
        }
        complete(irp, status, usbd_status);
    }
}

void camera::worker()
{
    for (;;) {
        {
            std::unique_lock lock(lock_);
            changed_.wait(lock, [&] { return stopping_ || (acquiring_ && !deferred_.empty()); });
            if (stopping_) {
                return;
            }
        }
        // take_pending asks under the lock: a stop of acquisition in between
        // leaves the transfers pending.
        const auto irps = take_pending([&](PIRP irp) {
            return acquiring_ && std::find(deferred_.begin(), deferred_.end(), irp) != deferred_.end();
        });
        for (PIRP irp : irps) {
            fill_transfer(irp);
            complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
        }
    }
}

} // namespace sim_camera
