// The default queue's handlers: device I/O controls and pipe reads. Every
// buffer length is checked before use; every request completes here or in the
// pipe that takes it.

#include "device.h"
#include "noxkm_log.h"
#include "pipe_queue.h"
#include "public/noxkm_ioctl.h"
#include "usb_device.h"
#include "usb_utils.h"

#include <cstring>

namespace {

void get_descriptor(WDFREQUEST request, usb::usb_device* usb)
{
    PVOID input = nullptr;
    NTSTATUS status = WdfRequestRetrieveInputBuffer(request, sizeof(noxkm::descriptor_request), &input, nullptr);
    if (!NT_SUCCESS(status)) {
        WdfRequestCompleteWithInformation(request, status, sizeof(noxkm::descriptor_request));
        return;
    }
    noxkm::descriptor_request query;
    memcpy(&query, input, sizeof query); // the output shares the buffer
    PVOID output = nullptr;
    size_t output_length = 0;
    status = WdfRequestRetrieveOutputBuffer(request, 1, &output, &output_length);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, status);
        return;
    }
    switch (query.kind) {
    case noxkm::descriptor_device: {
        const ULONG size = sizeof(USB_DEVICE_DESCRIPTOR);
        status = output_length < size ? STATUS_BUFFER_TOO_SMALL : STATUS_SUCCESS;
        if (NT_SUCCESS(status)) {
            memcpy(output, &usb->device_descriptor(), size);
        }
        WdfRequestCompleteWithInformation(request, status, size);
        return;
    }
    case noxkm::descriptor_configuration: {
        const ULONG size = usb->configuration_length();
        status = output_length < size ? STATUS_BUFFER_TOO_SMALL : STATUS_SUCCESS;
        if (NT_SUCCESS(status)) {
            memcpy(output, usb->configuration(), size);
        }
        WdfRequestCompleteWithInformation(request, status, size);
        return;
    }
    case noxkm::descriptor_string: {
        if (query.index >= 256) {
            WdfRequestComplete(request, STATUS_INVALID_PARAMETER);
            return;
        }
        const size_t capacity = output_length > 0xFFFE ? 0xFFFE : output_length;
        UNICODE_STRING text{0, static_cast<USHORT>(capacity & ~size_t{1}), static_cast<PWSTR>(output)};
        status = usb->read_string(query.index, static_cast<USHORT>(query.language_id), &text, usb::string_timeout_ms);
        WdfRequestCompleteWithInformation(request, status, NT_SUCCESS(status) ? text.Length : 0);
        return;
    }
    case noxkm::descriptor_connection_speed: {
        const ULONG size = sizeof(std::uint64_t);
        status = output_length < size ? STATUS_BUFFER_TOO_SMALL : STATUS_SUCCESS;
        if (NT_SUCCESS(status)) {
            const std::uint64_t speed = usb->super_speed() || usb->supported_usb_version() >= 0x300
                                            ? noxkm::connection_usb3
                                            : noxkm::connection_usb2;
            memcpy(output, &speed, size);
        }
        WdfRequestCompleteWithInformation(request, status, size);
        return;
    }
    default:
        WdfRequestComplete(request, STATUS_INVALID_PARAMETER);
        return;
    }
}

void get_driver_version(WDFREQUEST request)
{
    PVOID output = nullptr;
    NTSTATUS status = WdfRequestRetrieveOutputBuffer(request, sizeof(noxkm::driver_version), &output, nullptr);
    if (NT_SUCCESS(status)) {
        noxkm::driver_version version{};
        version.version = noxkm::version_value;
        memcpy(output, &version, sizeof version);
    }
    WdfRequestCompleteWithInformation(request, status, sizeof(noxkm::driver_version));
}

void control_in(WDFREQUEST request, usb::usb_device* usb)
{
    PVOID input = nullptr;
    NTSTATUS status = WdfRequestRetrieveInputBuffer(request, sizeof(noxkm::control_setup), &input, nullptr);
    if (!NT_SUCCESS(status)) {
        WdfRequestCompleteWithInformation(request, status, sizeof(noxkm::control_setup));
        return;
    }
    noxkm::control_setup setup;
    memcpy(&setup, input, sizeof setup);
    PVOID data = nullptr;
    size_t length = 0;
    status = WdfRequestRetrieveOutputBuffer(request, 1, &data, &length);
    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(request, status);
        return;
    }
    ULONG transferred = 0;
    status = usb::control_transfer(usb->target(), setup, true, data, static_cast<ULONG>(length > 0xFFFF ? 0xFFFF : length),
                                   usb::control_timeout_ms, &transferred);
    WdfRequestCompleteWithInformation(request, status, transferred);
}

void control_out(WDFREQUEST request, usb::usb_device* usb)
{
    PVOID input = nullptr;
    NTSTATUS status = WdfRequestRetrieveInputBuffer(request, sizeof(noxkm::control_setup), &input, nullptr);
    if (!NT_SUCCESS(status)) {
        WdfRequestCompleteWithInformation(request, status, 0);
        return;
    }
    noxkm::control_setup setup;
    memcpy(&setup, input, sizeof setup);
    PVOID data = nullptr;
    size_t length = 0;
    status = WdfRequestRetrieveOutputBuffer(request, 1, &data, &length);
    if (status == STATUS_BUFFER_TOO_SMALL) {
        data = nullptr; // no data stage
        length = 0;
    } else if (!NT_SUCCESS(status)) {
        WdfRequestCompleteWithInformation(request, status, 0);
        return;
    }
    ULONG transferred = 0;
    status = usb::control_transfer(usb->target(), setup, false, data, static_cast<ULONG>(length > 0xFFFF ? 0xFFFF : length),
                                   usb::control_timeout_ms, &transferred);
    WdfRequestCompleteWithInformation(request, status, transferred);
}

// The open pipes of the interface's current setting give up their pipe
// handles, which the selection frees. False when one of them runs: the
// selection is refused, and refresh_open_pipes puts back what was given up.
bool release_interface_pipes(PDEVICE_CONTEXT context, usb::usb_device* usb, UCHAR interface_number)
{
    const USBD_INTERFACE_INFORMATION* info = usb->interface_information(interface_number);
    if (info == nullptr) {
        return true;
    }
    for (open_pipe_entry& entry : context->open_pipes) {
        for (ULONG i = 0; i < info->NumberOfPipes; ++i) {
            if (info->Pipes[i].EndpointAddress == entry.endpoint_address && !entry.pipe->release_endpoint()) {
                return false;
            }
        }
    }
    return true;
}

// Every stopped open pipe takes the pipe information kept for its endpoint
// now, or none when no selected setting has it.
void refresh_open_pipes(PDEVICE_CONTEXT context, usb::usb_device* usb)
{
    for (open_pipe_entry& entry : context->open_pipes) {
        entry.pipe->assign_endpoint(usb->find_pipe(entry.endpoint_address));
    }
}

void select_interface(WDFREQUEST request, PDEVICE_CONTEXT context, usb::usb_device* usb)
{
    PVOID input = nullptr;
    NTSTATUS status =
        WdfRequestRetrieveInputBuffer(request, sizeof(noxkm::select_interface_request), &input, nullptr);
    if (!NT_SUCCESS(status)) {
        WdfRequestCompleteWithInformation(request, status, sizeof(noxkm::select_interface_request));
        return;
    }
    noxkm::select_interface_request selection;
    memcpy(&selection, input, sizeof selection);
    if (selection.reserved != 0 || selection.interface_number > 0xFF || selection.alternate_setting > 0xFF) {
        WdfRequestComplete(request, STATUS_INVALID_PARAMETER);
        return;
    }
    PVOID output = nullptr;
    status = WdfRequestRetrieveOutputBuffer(request, sizeof(noxkm::interface_info), &output, nullptr);
    if (!NT_SUCCESS(status)) {
        WdfRequestCompleteWithInformation(request, status, sizeof(noxkm::interface_info));
        return;
    }
    const auto interface_number = static_cast<UCHAR>(selection.interface_number);
    const auto alternate = static_cast<UCHAR>(selection.alternate_setting);
    NOXKM_LOG(noxkm::log_info, ">> IOCTL_NOXKM_SELECT_INTERFACE , itf=%d, alt=%d.\n", interface_number, alternate);

    // Pipe files stay open across a selection (user mode goes back to the
    // zero-bandwidth setting before it closes a stopped pipe): under the device
    // lock, no open pipe keeps a handle of the replaced setting.
    KeWaitForSingleObject(&context->lock, Executive, KernelMode, FALSE, nullptr);
    if (!release_interface_pipes(context, usb, interface_number)) {
        status = STATUS_INVALID_DEVICE_STATE;
    } else {
        status = usb->select_interface(interface_number, alternate, &context->lock);
    }
    refresh_open_pipes(context, usb);
    noxkm::interface_info answer{};
    ULONG pipe_count = 0;
    if (NT_SUCCESS(status)) {
        if (const USBD_INTERFACE_INFORMATION* info = usb->interface_information(interface_number)) {
            // An alternate setting with more pipes than the record holds
            // reports the first 16, and the count says so.
            pipe_count = info->NumberOfPipes < noxkm::max_pipe_records ? info->NumberOfPipes
                                                                       : static_cast<ULONG>(noxkm::max_pipe_records);
            for (ULONG i = 0; i < pipe_count; ++i) {
                const USBD_PIPE_INFORMATION& pipe = info->Pipes[i];
                answer.pipes[i] = {pipe.MaximumPacketSize, pipe.EndpointAddress, pipe.Interval,
                                   static_cast<std::uint8_t>(pipe.PipeType), pipe.MaximumTransferSize};
            }
        }
    }
    KeReleaseMutex(&context->lock, FALSE);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_info, "IOCTL_NOXKM_SELECT_INTERFACE failed with status=0x%x.\n",
                  static_cast<unsigned>(status));
        WdfRequestComplete(request, status);
        return;
    }
    answer.pipe_count = pipe_count;
    // Entries past the count are not written.
    memcpy(output, &answer, offsetof(noxkm::interface_info, pipes) + pipe_count * sizeof(noxkm::pipe_record));
    NOXKM_LOG(noxkm::log_info, "<< IOCTL_NOXKM_SELECT_INTERFACE success with, interface_info->NumberOfPipes=%d.\n",
              static_cast<int>(pipe_count));
    WdfRequestCompleteWithInformation(request, STATUS_SUCCESS, sizeof(noxkm::interface_info));
}

void pipe_control(WDFREQUEST request, nox::pipe_queue* pipe, ULONG code)
{
    switch (code) {
    case IOCTL_NOXKM_PIPE_START:
        WdfRequestComplete(request, pipe->start());
        return;
    case IOCTL_NOXKM_PIPE_STOP:
        WdfRequestComplete(request, pipe->stop());
        return;
    case IOCTL_NOXKM_PIPE_SET_DEPTH: {
        PVOID input = nullptr;
        const NTSTATUS status = WdfRequestRetrieveInputBuffer(request, sizeof(noxkm::pipe_depth), &input, nullptr);
        if (NT_SUCCESS(status)) {
            noxkm::pipe_depth depth;
            memcpy(&depth, input, sizeof depth);
            pipe->set_depth(depth.depth);
        }
        WdfRequestCompleteWithInformation(request, status, sizeof(noxkm::pipe_depth));
        return;
    }
    default:
        WdfRequestComplete(request, STATUS_NOT_IMPLEMENTED);
        return;
    }
}

} // namespace

VOID noxkm_Io_DeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t, size_t, ULONG io_control_code)
{
    PDEVICE_CONTEXT context = DeviceGetContext(WdfIoQueueGetDevice(queue));
    usb::usb_device* usb = usb_device_acquire(context);
    if (usb == nullptr) {
        WdfRequestComplete(request, STATUS_DEVICE_REMOVED);
        return;
    }
    switch (io_control_code) {
    case IOCTL_NOXKM_GET_DESCRIPTOR:
        get_descriptor(request, usb);
        break;
    case IOCTL_NOXKM_GET_DRIVER_VERSION:
        get_driver_version(request);
        break;
    case IOCTL_NOXKM_CONTROL_IN:
        control_in(request, usb);
        break;
    case IOCTL_NOXKM_CONTROL_OUT:
        control_out(request, usb);
        break;
    case IOCTL_NOXKM_SELECT_INTERFACE:
        select_interface(request, context, usb);
        break;
    default: {
        WDFFILEOBJECT file = WdfRequestGetFileObject(request);
        PFILE_CONTEXT file_context = file == nullptr ? nullptr : FileGetContext(file);
        if (file_context == nullptr || file_context->pipe == nullptr) {
            WdfRequestComplete(request, STATUS_NOT_IMPLEMENTED);
        } else {
            pipe_control(request, file_context->pipe, io_control_code);
        }
        break;
    }
    }
    usb_device_release(context);
}

VOID noxkm_Io_Read(WDFQUEUE queue, WDFREQUEST request, size_t)
{
    PDEVICE_CONTEXT context = DeviceGetContext(WdfIoQueueGetDevice(queue));
    if (context->usb_device == nullptr) {
        WdfRequestComplete(request, STATUS_DEVICE_REMOVED);
        return;
    }
    WDFFILEOBJECT file = WdfRequestGetFileObject(request);
    PFILE_CONTEXT file_context = file == nullptr ? nullptr : FileGetContext(file);
    if (file_context == nullptr || file_context->pipe == nullptr) {
        WdfRequestComplete(request, STATUS_NOT_IMPLEMENTED);
        return;
    }
    file_context->pipe->queue_request(request);
}
