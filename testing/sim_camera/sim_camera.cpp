#include "sim_camera.h"
#include "sim_camera_internal.h"

#include <algorithm>
#include <cstring>

namespace sim_camera {
using namespace detail;

camera::camera()
{
    device_descriptor_bytes = device_descriptor();
    configuration_bytes = uvc_camera_configuration();
    strings[0] = {4, 0x03, 0x09, 0x04};
    strings[1] = string_descriptor(u"Corvane");
    strings[2] = string_descriptor(u"CamTovra Sim");
    strings[3] = string_descriptor(u"SIM00001");
    generator_ = &default_payload;
    driver_.MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = &camera::dispatch_internal;
    driver_.MajorFunction[IRP_MJ_PNP] = &camera::dispatch_pnp;
    pdo_.DriverObject = &driver_;
    pdo_.DeviceExtension = this;
    pdo_.StackSize = 1;
    thread_ = std::thread([this] { worker(); });
}

camera::~camera()
{
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    // Nothing may stay pending on a device that goes away.
    finish_taken(take_pending([](PIRP) { return true; }), STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE);
}

void camera::add_control_handler(control_handler handler)
{
    std::lock_guard lock(lock_);
    handlers_.push_back(std::move(handler));
}

void camera::set_payload_generator(payload_generator generator)
{
    std::lock_guard lock(lock_);
    generator_ = generator ? std::move(generator) : payload_generator(&default_payload);
}

void camera::set_completion_mode(completion_mode mode)
{
    std::lock_guard lock(lock_);
    mode_ = mode;
}

void camera::set_acquiring(bool running)
{
    {
        std::lock_guard lock(lock_);
        acquiring_ = running;
    }
    changed_.notify_all();
}

bool camera::acquiring() const
{
    std::lock_guard lock(lock_);
    return acquiring_;
}

bool camera::wait_for_waiting_transfers(std::size_t count, unsigned timeout_ms) const
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return !acquiring_ && deferred_.size() >= count; });
}

void camera::remove()
{
    removed_ = true;
    finish_taken(take_pending([](PIRP) { return true; }), STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE);
}

std::size_t camera::held_transfers() const
{
    std::lock_guard lock(lock_);
    return held_.size();
}

bool camera::wait_for_held(std::size_t count, unsigned timeout_ms) const
{
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return held_.size() >= count; });
}

std::size_t camera::release_transfers(std::size_t count, USBD_STATUS status)
{
    std::size_t taken = 0;
    const auto irps = take_pending([&](PIRP irp) {
        if (taken >= count || urb_of(irp)->UrbHeader.Function != URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            return false;
        }
        ++taken;
        return true;
    });
    for (PIRP irp : irps) {
        if (USBD_SUCCESS(status)) {
            fill_transfer(irp);
            complete(irp, STATUS_SUCCESS, status);
        } else {
            urb_of(irp)->UrbBulkOrInterruptTransfer.TransferBufferLength = 0;
            complete(irp, STATUS_UNSUCCESSFUL, status);
        }
    }
    return irps.size();
}

std::vector<std::uint32_t> camera::configuration_read_lengths() const
{
    std::lock_guard lock(lock_);
    return configuration_read_lengths_;
}

std::vector<control_record> camera::control_log() const
{
    std::lock_guard lock(lock_);
    return control_log_;
}

int camera::selected_alternate(std::uint8_t interface_number) const
{
    std::lock_guard lock(lock_);
    const auto found = selected_.find(interface_number);
    return found == selected_.end() ? -1 : found->second;
}

USBD_PIPE_HANDLE camera::pipe_handle(std::uint8_t endpoint) const
{
    std::lock_guard lock(lock_);
    const auto found = pipes_.find(endpoint);
    return found == pipes_.end() ? nullptr : found->second.handle;
}

// ---------------------------------------------------------------- dispatch

NTSTATUS camera::dispatch_internal(PDEVICE_OBJECT device, PIRP irp)
{
    camera* self = camera_of(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB:
        return self->submit_urb(irp, urb_of(irp));
    case IOCTL_INTERNAL_USB_RESET_PORT:
        ++self->stats.port_resets;
        irp->IoStatus.Status = self->removed_ ? STATUS_NO_SUCH_DEVICE
                               : self->reset_port_fails ? STATUS_UNSUCCESSFUL
                                                        : STATUS_SUCCESS;
        break;
    case IOCTL_INTERNAL_USB_QUERY_CAPABILITY: {
        const auto* capability = static_cast<const GUID*>(stack->Parameters.Others.Argument1);
        const bool super = capability != nullptr &&
                           IsEqualGUID(*capability, GUID_USB_CAPABILITY_DEVICE_CONNECTION_SUPER_SPEED_COMPATIBLE);
        irp->IoStatus.Status = super && self->super_speed && !self->removed_ ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
        break;
    }
    default:
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    }
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS camera::dispatch_pnp(PDEVICE_OBJECT device, PIRP irp)
{
    camera* self = camera_of(device);
    if (IoGetCurrentIrpStackLocation(irp)->MinorFunction == IRP_MN_QUERY_INTERFACE) {
        self->query_interface(irp);
    }
    const NTSTATUS status = irp->IoStatus.Status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS camera::query_interface(PIRP irp)
{
    auto& query = IoGetCurrentIrpStackLocation(irp)->Parameters.QueryInterface;
    if (query.InterfaceType == nullptr || !IsEqualGUID(*query.InterfaceType, USB_BUS_INTERFACE_USBDI_GUID) ||
        query.Version < USB_BUSIF_USBDI_VERSION_1 || query.Size < sizeof(USB_BUS_INTERFACE_USBDI_V1) ||
        query.Interface == nullptr || !bus_interface_available || removed_) {
        return irp->IoStatus.Status; // left as the caller preset it
    }
    auto* bus = reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V1>(query.Interface);
    *bus = {};
    bus->Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
    bus->Version = USB_BUSIF_USBDI_VERSION_1;
    bus->BusContext = this;
    bus->InterfaceReference = [](PVOID context) { ++static_cast<camera*>(context)->stats.bus_interface_references; };
    bus->InterfaceDereference = [](PVOID context) { --static_cast<camera*>(context)->stats.bus_interface_references; };
    bus->GetUSBDIVersion = [](PVOID context, PUSBD_VERSION_INFORMATION info, PULONG capabilities) {
        if (info != nullptr) {
            info->USBDI_Version = 0x600;
            info->Supported_USB_Version = static_cast<camera*>(context)->supported_usb_version;
        }
        if (capabilities != nullptr) {
            *capabilities = 0;
        }
    };
    bus->IsDeviceHighSpeed = [](PVOID context) -> BOOLEAN { return static_cast<camera*>(context)->high_speed; };
    bus->InterfaceReference(this);
    irp->IoStatus.Status = STATUS_SUCCESS;
    return STATUS_SUCCESS;
}

NTSTATUS camera::submit_urb(PIRP irp, PURB urb)
{
    if (urb == nullptr) {
        irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_PARAMETER;
    }
    if (removed_) {
        return complete(irp, STATUS_NO_SUCH_DEVICE, USBD_STATUS_DEVICE_GONE);
    }
    const USHORT function = urb->UrbHeader.Function;
    switch (function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        return get_descriptor(irp, urb);
    case URB_FUNCTION_SELECT_CONFIGURATION:
        return select_configuration(irp, urb);
    case URB_FUNCTION_SELECT_INTERFACE:
        return select_interface(irp, urb);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return bulk_transfer(irp, urb);
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
        return pipe_request(irp, urb);
    default:
        if (is_control_function(function)) {
            return control_transfer(irp, urb);
        }
        return complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_URB_FUNCTION);
    }
}

NTSTATUS camera::complete(PIRP irp, NTSTATUS status, USBD_STATUS usbd_status)
{
    urb_of(irp)->UrbHeader.Status = usbd_status;
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// ---------------------------------------------------------------- descriptors and selection

NTSTATUS camera::get_descriptor(PIRP irp, PURB urb)
{
    auto& request = urb->UrbControlDescriptorRequest;
    bytes source;
    {
        std::lock_guard lock(lock_);
        switch (request.DescriptorType) {
        case USB_DEVICE_DESCRIPTOR_TYPE:
            source = device_descriptor_bytes;
            break;
        case USB_CONFIGURATION_DESCRIPTOR_TYPE:
            ++stats.configuration_reads;
            configuration_read_lengths_.push_back(request.TransferBufferLength);
            source = configuration_bytes;
            break;
        case USB_STRING_DESCRIPTOR_TYPE: {
            const auto found = strings.find(request.Index);
            if (found != strings.end()) {
                source = found->second;
            }
            break;
        }
        default:
            break;
        }
    }
    if (source.empty()) {
        request.TransferBufferLength = 0;
        return complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_STALL_PID);
    }
    std::size_t count = std::min<std::size_t>(request.TransferBufferLength, source.size());
    if (descriptor_reply_limit != 0) {
        count = std::min<std::size_t>(count, descriptor_reply_limit);
    }
    std::uint8_t* buffer = transfer_buffer(request.TransferBufferMDL, request.TransferBuffer);
    if (count != 0 && buffer == nullptr) {
        return complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
    }
    if (count != 0) {
        memcpy(buffer, source.data(), count);
    }
    request.TransferBufferLength = static_cast<ULONG>(count);
    return complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS);
}

bool camera::fill_interface(PUSBD_INTERFACE_INFORMATION info, ULONG room)
{
    // Called with lock_ held.
    const found_interface found = find_interface(configuration_bytes, info->InterfaceNumber, info->AlternateSetting);
    if (found.descriptor == nullptr || found.endpoints.size() != info->NumberOfPipes ||
        room < GET_USBD_INTERFACE_SIZE(info->NumberOfPipes) || info->Length < GET_USBD_INTERFACE_SIZE(info->NumberOfPipes)) {
        return false;
    }
    // The stack aborts what was in flight on the interface's old pipes.
    for (auto it = pipes_.begin(); it != pipes_.end();) {
        it = it->second.interface_number == info->InterfaceNumber ? pipes_.erase(it) : std::next(it);
    }
    info->Class = found.descriptor[5];
    info->SubClass = found.descriptor[6];
    info->Protocol = found.descriptor[7];
    info->InterfaceHandle = reinterpret_cast<USBD_INTERFACE_HANDLE>(static_cast<ULONG_PTR>(0x1000 + info->InterfaceNumber));
    for (ULONG i = 0; i < info->NumberOfPipes; ++i) {
        const std::uint8_t* ep = found.endpoints[i];
        USBD_PIPE_INFORMATION& pipe = info->Pipes[i];
        pipe.EndpointAddress = ep[2];
        pipe.PipeType = static_cast<USBD_PIPE_TYPE>(ep[3] & 3);
        pipe.MaximumPacketSize = static_cast<USHORT>(ep[4] | (ep[5] << 8));
        pipe.Interval = ep[6];
        pipe.PipeHandle = reinterpret_cast<USBD_PIPE_HANDLE>(static_cast<ULONG_PTR>(0x50000 + 16 * next_pipe_id_++));
        if (pipe.MaximumTransferSize == USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE) {
            pipe.MaximumTransferSize = 4 * 1024 * 1024;
        }
        pipes_[pipe.EndpointAddress] = {pipe.EndpointAddress, info->InterfaceNumber, pipe.PipeHandle, 0};
    }
    selected_[info->InterfaceNumber] = info->AlternateSetting;
    return true;
}

NTSTATUS camera::select_configuration(PIRP irp, PURB urb)
{
    ++stats.select_configurations;
    if (no_bandwidth) {
        return complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_NO_BANDWIDTH);
    }
    auto& request = urb->UrbSelectConfiguration;
    std::vector<PIRP> aborted;
    bool ok = request.ConfigurationDescriptor != nullptr;
    {
        std::lock_guard lock(lock_);
        auto* at = reinterpret_cast<std::uint8_t*>(&request.Interface);
        auto* const end = reinterpret_cast<std::uint8_t*>(urb) + urb->UrbHeader.Length;
        // Every interface information record that the request carries.
        while (ok && end - at >= static_cast<std::ptrdiff_t>(GET_USBD_INTERFACE_SIZE(0))) {
            auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(at);
            if (info->Length == 0) {
                ok = false;
                break;
            }
            ok = fill_interface(info, static_cast<ULONG>(end - at));
            at += info->Length;
        }
        if (ok) {
            configured_ = true;
            request.ConfigurationHandle = reinterpret_cast<USBD_CONFIGURATION_HANDLE>(static_cast<ULONG_PTR>(0xC0F1));
        }
    }
    return ok ? complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS)
              : complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
}

NTSTATUS camera::select_interface(PIRP irp, PURB urb)
{
    ++stats.select_interfaces;
    int refusals = select_interface_refusals.load();
    while (refusals > 0 && !select_interface_refusals.compare_exchange_weak(refusals, refusals - 1)) {
    }
    if (refusals > 0) {
        return complete(irp, STATUS_UNSUCCESSFUL, USBD_STATUS_NO_BANDWIDTH);
    }
    auto& request = urb->UrbSelectInterface;
    const std::uint8_t number = request.Interface.InterfaceNumber;
    // Transfers in flight on the interface's old pipes end first.
    std::vector<USBD_PIPE_HANDLE> old_handles;
    {
        std::lock_guard lock(lock_);
        for (const auto& [endpoint, pipe] : pipes_) {
            if (pipe.interface_number == number) {
                old_handles.push_back(pipe.handle);
            }
        }
    }
    finish_taken(take_pending([&](PIRP irp_pending) {
                     const PURB pending = urb_of(irp_pending);
                     return pending->UrbHeader.Function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER &&
                            std::find(old_handles.begin(), old_handles.end(),
                                      pending->UrbBulkOrInterruptTransfer.PipeHandle) != old_handles.end();
                 }),
                 STATUS_CANCELLED, USBD_STATUS_CANCELED);
    bool ok;
    {
        std::lock_guard lock(lock_);
        const ULONG room = urb->UrbHeader.Length > offsetof(_URB_SELECT_INTERFACE, Interface)
                               ? urb->UrbHeader.Length - offsetof(_URB_SELECT_INTERFACE, Interface)
                               : 0;
        ok = configured_ && request.ConfigurationHandle != nullptr && fill_interface(&request.Interface, room);
    }
    return ok ? complete(irp, STATUS_SUCCESS, USBD_STATUS_SUCCESS)
              : complete(irp, STATUS_INVALID_PARAMETER, USBD_STATUS_INVALID_PARAMETER);
}

} // namespace sim_camera
