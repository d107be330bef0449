#include "usb_utils.h"

#include "noxkm_log.h"

namespace usb {
namespace {

constexpr ULONG pool_tag = 'uxoN';

// Shared between the sender and the completion routine: 0 at start, 1 while
// the sender cancels, 2 after it, 3 once the completion routine ran.
struct sync_request {
    volatile LONG state;
};

NTSTATUS sync_completion(PDEVICE_OBJECT, PIRP, PVOID context)
{
    auto* request = static_cast<sync_request*>(context);
    if (InterlockedExchange(&request->state, 3) == 1) {
        // The sender is cancelling: it completes the request again.
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS send_internal(PDEVICE_OBJECT target, ULONG code, PURB urb, ULONG timeout_ms)
{
    if (target == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, target, nullptr, 0, nullptr, 0, TRUE, &done, &iosb);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
    sync_request request{0};
    IoSetCompletionRoutine(irp, &sync_completion, &request, TRUE, TRUE, TRUE);

    NTSTATUS status = IoCallDriver(target, irp);
    if (status == STATUS_PENDING) {
        LARGE_INTEGER timeout;
        timeout.QuadPart = -static_cast<LONGLONG>(timeout_ms) * 10000;
        if (KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &timeout) == STATUS_TIMEOUT) {
            if (InterlockedExchange(&request.state, 1) == 0) {
                IoCancelIrp(irp);
            }
            if (InterlockedExchange(&request.state, 2) == 3) {
                IoCompleteRequest(irp, IO_NO_INCREMENT);
            }
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
            status = STATUS_IO_TIMEOUT;
        } else {
            status = iosb.Status;
        }
    } else {
        status = iosb.Status;
    }
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_trace, "SendURBDown failed with irp: 0x%X and usbd = 0x%X.\n",
                  static_cast<unsigned>(status), urb == nullptr ? 0u : static_cast<unsigned>(urb->UrbHeader.Status));
    }
    return status;
}

} // namespace

NTSTATUS send_urb(PDEVICE_OBJECT target, PURB urb, ULONG timeout_ms)
{
    return send_internal(target, IOCTL_INTERNAL_USB_SUBMIT_URB, urb, timeout_ms);
}

NTSTATUS reset_port(PDEVICE_OBJECT target, ULONG timeout_ms)
{
    return send_internal(target, IOCTL_INTERNAL_USB_RESET_PORT, nullptr, timeout_ms);
}

NTSTATUS pipe_request(PDEVICE_OBJECT target, USBD_PIPE_HANDLE pipe, USHORT function)
{
    if (target == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    auto* urb = static_cast<PURB>(ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(_URB_PIPE_REQUEST), pool_tag));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    urb->UrbHeader.Length = sizeof(_URB_PIPE_REQUEST);
    urb->UrbHeader.Function = function;
    urb->UrbPipeRequest.PipeHandle = pipe;
    NTSTATUS status = send_urb(target, urb, control_timeout_ms);
    const USBD_STATUS usbd_status = urb->UrbHeader.Status;
    if (!NT_SUCCESS(status) || !USBD_SUCCESS(usbd_status)) {
        NOXKM_LOG(noxkm::log_warning,
                  "usb::SendURBPipeRequest, failed with ntstatus=0x%X, usbdstatus = 0x%X, function=%d.\n",
                  static_cast<unsigned>(status), static_cast<unsigned>(usbd_status), function);
    }
    if (usbd_status == USBD_STATUS_ERROR_BUSY) {
        status = static_cast<NTSTATUS>(USBD_STATUS_ERROR_BUSY);
    }
    ExFreePoolWithTag(urb, pool_tag);
    return status;
}

NTSTATUS abort_pipe(PDEVICE_OBJECT target, USBD_PIPE_HANDLE pipe)
{
    const NTSTATUS status = pipe_request(target, pipe, URB_FUNCTION_ABORT_PIPE);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "usb::AbortPipe, failed with 0x%x.\n", static_cast<unsigned>(status));
    }
    return status;
}

NTSTATUS reset_pipe(PDEVICE_OBJECT target, USBD_PIPE_HANDLE pipe)
{
    const NTSTATUS status = pipe_request(target, pipe, URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "usb::ResetPipe, failed with 0x%x.\n", static_cast<unsigned>(status));
    }
    return status;
}

NTSTATUS get_descriptor(PDEVICE_OBJECT target, UCHAR type, UCHAR index, USHORT language_id, PVOID buffer,
                        ULONG length, ULONG timeout_ms, ULONG* received)
{
    *received = 0;
    if (target == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    auto* urb = static_cast<PURB>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST), pool_tag));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    UsbBuildGetDescriptorRequest(urb, sizeof(_URB_CONTROL_DESCRIPTOR_REQUEST), type, index, language_id, buffer,
                                 nullptr, length, nullptr);
    const NTSTATUS status = send_urb(target, urb, timeout_ms);
    if (NT_SUCCESS(status)) {
        // Never more than the buffer, whatever the stack claims.
        *received = urb->UrbControlDescriptorRequest.TransferBufferLength <= length
                        ? urb->UrbControlDescriptorRequest.TransferBufferLength
                        : length;
    }
    ExFreePoolWithTag(urb, pool_tag);
    return status;
}

NTSTATUS control_transfer(PDEVICE_OBJECT target, const noxkm::control_setup& setup, bool device_to_host,
                          PVOID buffer, ULONG length, ULONG timeout_ms, ULONG* transferred)
{
    *transferred = 0;
    // (recipient) -> (vendor function, class function)
    static constexpr USHORT functions[4][2] = {
        {URB_FUNCTION_VENDOR_DEVICE, URB_FUNCTION_CLASS_DEVICE},
        {URB_FUNCTION_VENDOR_INTERFACE, URB_FUNCTION_CLASS_INTERFACE},
        {URB_FUNCTION_VENDOR_ENDPOINT, URB_FUNCTION_CLASS_ENDPOINT},
        {URB_FUNCTION_VENDOR_OTHER, URB_FUNCTION_CLASS_OTHER},
    };
    if (setup.recipient > 3) {
        return STATUS_INVALID_PARAMETER;
    }
    if (target == nullptr) {
        return STATUS_INVALID_HANDLE;
    }
    if (length > 0xFFFF) {
        length = 0xFFFF;
    }
    const USHORT function = functions[setup.recipient][setup.vendor != 0 ? 0 : 1];

    PMDL mdl = nullptr;
    if (length > 0) {
        mdl = IoAllocateMdl(buffer, length, FALSE, FALSE, nullptr);
        if (mdl == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        MmProbeAndLockPages(mdl, KernelMode, IoModifyAccess);
    }
    auto* urb = static_cast<PURB>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST), pool_tag));
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    if (urb != nullptr) {
        UsbBuildVendorRequest(urb, function, sizeof(_URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                              device_to_host ? USBD_TRANSFER_DIRECTION_IN : 0, 0, setup.request, setup.value,
                              setup.index, nullptr, mdl, length, nullptr);
        status = send_urb(target, urb, timeout_ms);
        if (NT_SUCCESS(status)) {
            const ULONG count = urb->UrbControlVendorClassRequest.TransferBufferLength;
            *transferred = count <= length ? count : length;
        }
        ExFreePoolWithTag(urb, pool_tag);
    }
    if (mdl != nullptr) {
        MmUnlockPages(mdl);
        IoFreeMdl(mdl);
    }
    return status;
}

} // namespace usb
