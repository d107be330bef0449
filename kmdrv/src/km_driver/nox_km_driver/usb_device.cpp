#include "usb_device.h"

#include "noxkm_log.h"
#include "usb_utils.h"

#include <cstring>
#include <new>

namespace usb {
namespace {

constexpr ULONG pool_tag = 'dxoN';
constexpr ULONG first_configuration_read = 8192;
constexpr ULONG string_buffer_bytes = 260;
constexpr USHORT friendly_name_language = 0x0009;
constexpr ULONG friendly_text_chars = 128;

// {A45C254E-DF1C-4EFD-8020-67D146A850E0}, 14
constexpr DEVPROPKEY friendly_name_key = {
    {0xa45c254e, 0xdf1c, 0x4efd, {0x80, 0x20, 0x67, 0xd1, 0x46, 0xa8, 0x50, 0xe0}}, 14};

// Appends as much of `source` as fits (whole characters).
void append_truncated(UNICODE_STRING& destination, const UNICODE_STRING& source)
{
    const USHORT room = static_cast<USHORT>(destination.MaximumLength - destination.Length);
    const USHORT count = static_cast<USHORT>((source.Length < room ? source.Length : room) & ~1u);
    if (count != 0) {
        memcpy(reinterpret_cast<char*>(destination.Buffer) + destination.Length, source.Buffer, count);
        destination.Length = static_cast<USHORT>(destination.Length + count);
    }
}

} // namespace

usb_device* usb_device::create(PDEVICE_OBJECT pdo)
{
    void* memory = ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(usb_device), pool_tag);
    if (memory == nullptr) {
        return nullptr;
    }
    auto* device = new (memory) usb_device(pdo);
    const NTSTATUS status =
        USBD_CreateHandle(pdo, pdo, USBD_CLIENT_CONTRACT_VERSION_602, pool_tag, &device->usbd_handle_);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_warning, "Failed to create USBD handle due to status=0x%x.\n",
                  static_cast<unsigned>(status));
        device->usbd_handle_ = nullptr;
    }
    NOXKM_LOG(noxkm::log_warning, "Created USBD_HANDLE=%p status=0x%x.\n", static_cast<void*>(device->usbd_handle_),
              static_cast<unsigned>(status));
    return device;
}

void usb_device::destroy(usb_device* device)
{
    if (device != nullptr) {
        device->~usb_device();
        ExFreePoolWithTag(device, pool_tag);
    }
}

usb_device::~usb_device()
{
    release_configuration();
    if (usbd_handle_ != nullptr) {
        USBD_CloseHandle(usbd_handle_);
    }
}

void usb_device::release_configuration()
{
    for (PUSBD_INTERFACE_INFORMATION info : interface_infos_) {
        if (info != nullptr) {
            ExFreePoolWithTag(info, pool_tag);
        }
    }
    interface_infos_.release();
    interface_descriptors_.release();
    if (configuration_ != nullptr) {
        ExFreePoolWithTag(configuration_, pool_tag);
        configuration_ = nullptr;
    }
    configuration_length_ = 0;
    configuration_handle_ = nullptr;
}

NTSTATUS usb_device::attach()
{
    if (usbd_handle_ != nullptr) {
        if (NT_SUCCESS(USBD_QueryUsbCapability(usbd_handle_,
                                               &GUID_USB_CAPABILITY_DEVICE_CONNECTION_SUPER_SPEED_COMPATIBLE, 0,
                                               nullptr, nullptr))) {
            super_speed_ = true;
            NOXKM_LOG(noxkm::log_info, "The device is operating at SuperSpeed or higher.\n");
        } else {
            NOXKM_LOG(noxkm::log_info, "This is either a non-MS driver or the device is attached to a USB 2 port.\n");
        }
    }

    if (!query_high_speed()) {
        NOXKM_LOG(noxkm::log_error, "this is not a high speed device, so just quitting.\n");
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    }

    void* descriptor = ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(USB_DEVICE_DESCRIPTOR), pool_tag);
    if (descriptor == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG received = 0;
    NTSTATUS status = get_descriptor(target_, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, descriptor,
                                     sizeof(USB_DEVICE_DESCRIPTOR), control_timeout_ms, &received);
    if (NT_SUCCESS(status) && received < sizeof(USB_DEVICE_DESCRIPTOR)) {
        status = STATUS_DEVICE_DATA_ERROR; // a partial descriptor is no descriptor
    }
    if (NT_SUCCESS(status)) {
        memcpy(&device_descriptor_, descriptor, sizeof(USB_DEVICE_DESCRIPTOR));
    }
    ExFreePoolWithTag(descriptor, pool_tag);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "Failed to retrieve device descriptor due to status=0x%x.\n",
                  static_cast<unsigned>(status));
        return status;
    }

    status = read_configuration();
    if (NT_SUCCESS(status)) {
        status = collect_interfaces();
    }
    if (NT_SUCCESS(status)) {
        status = select_configuration();
    }
    if (!NT_SUCCESS(status)) {
        release_configuration();
    }
    return status;
}

bool usb_device::query_high_speed()
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_PNP, target_, nullptr, 0, nullptr, &done, &iosb);
    if (irp == nullptr) {
        return false;
    }
    USB_BUS_INTERFACE_USBDI_V1 bus{};
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MinorFunction = IRP_MN_QUERY_INTERFACE;
    stack->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    stack->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
    stack->Parameters.QueryInterface.Version = USB_BUSIF_USBDI_VERSION_1;
    stack->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(&bus);
    stack->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    NTSTATUS status = IoCallDriver(target_, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    status = iosb.Status;
    if (!NT_SUCCESS(status)) {
        return false;
    }
    bool high_speed = false;
    if (bus.GetUSBDIVersion != nullptr && bus.IsDeviceHighSpeed != nullptr) {
        USBD_VERSION_INFORMATION version{};
        ULONG capabilities = 0;
        bus.GetUSBDIVersion(bus.BusContext, &version, &capabilities);
        supported_usb_version_ = version.Supported_USB_Version;
        NOXKM_LOG(noxkm::log_warning, "USBD_VERSION_INFORMATION: supported usb ver = 0x%x, usbdi ver = 0x%x.\n",
                  static_cast<unsigned>(version.Supported_USB_Version), static_cast<unsigned>(version.USBDI_Version));
        high_speed = bus.IsDeviceHighSpeed(bus.BusContext) != FALSE;
    }
    if (bus.InterfaceDereference != nullptr) {
        bus.InterfaceDereference(bus.BusContext);
    }
    return high_speed;
}

NTSTATUS usb_device::read_configuration()
{
    ULONG size = first_configuration_read;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* buffer = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(ExAllocatePool2(POOL_FLAG_NON_PAGED, size, pool_tag));
        if (buffer == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        ULONG received = 0;
        NTSTATUS status = get_descriptor(target_, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, buffer, size,
                                         control_timeout_ms, &received);
        if (NT_SUCCESS(status) && received < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
            status = STATUS_DEVICE_DATA_ERROR; // not even the configuration's own header
        }
        if (!NT_SUCCESS(status)) {
            NOXKM_LOG(noxkm::log_error, "Failed to retrieve device config descriptor due to status=0x%x.\n",
                      static_cast<unsigned>(status));
            ExFreePoolWithTag(buffer, pool_tag);
            return status;
        }
        const ULONG total = buffer->wTotalLength;
        if (total > size) {
            ExFreePoolWithTag(buffer, pool_tag);
            if (attempt != 0) {
                return STATUS_INVALID_PARAMETER; // the set grew between the two reads
            }
            size = total;
            continue;
        }
        // Keep only what arrived: the walk over the set never passes it.
        const ULONG kept = received < total ? received : total;
        if (kept < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
            ExFreePoolWithTag(buffer, pool_tag);
            NOXKM_LOG(noxkm::log_error, "Failed to retrieve device config descriptor due to status=0x%x.\n",
                      static_cast<unsigned>(STATUS_DEVICE_DATA_ERROR));
            return STATUS_DEVICE_DATA_ERROR;
        }
        buffer->wTotalLength = static_cast<USHORT>(kept);
        configuration_ = buffer;
        configuration_length_ = kept;
        return STATUS_SUCCESS;
    }
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS usb_device::collect_interfaces()
{
    PUSB_INTERFACE_DESCRIPTOR first =
        USBD_ParseConfigurationDescriptorEx(configuration_, configuration_, -1, -1, -1, -1, -1);
    if (first == nullptr) {
        NOXKM_LOG(noxkm::log_error, "Failed to find first interface.\n");
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG first_number = first->bInterfaceNumber;
    const ULONG count = configuration_->bNumInterfaces;
    for (ULONG number = first_number; number < first_number + count && number < 256; ++number) {
        for (LONG alternate = 0; alternate < 255; ++alternate) {
            PUSB_INTERFACE_DESCRIPTOR found = USBD_ParseConfigurationDescriptorEx(
                configuration_, configuration_, static_cast<LONG>(number), alternate, -1, -1, -1);
            if (found == nullptr) {
                break;
            }
            if (!interface_descriptors_.push_back(found)) {
                return STATUS_INSUFFICIENT_RESOURCES;
            }
        }
    }
    if (interface_descriptors_.empty()) {
        NOXKM_LOG(noxkm::log_error, "Failed to find any interfaces.\n");
        return STATUS_INVALID_PARAMETER;
    }
    if (!interface_infos_.resize(count)) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

NTSTATUS usb_device::select_configuration()
{
    // The alternate-setting-0 descriptors of all interfaces, ending with null.
    const size_t entries = interface_descriptors_.size() + 1;
    auto* list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(
        ExAllocatePool2(POOL_FLAG_NON_PAGED, entries * sizeof(USBD_INTERFACE_LIST_ENTRY), pool_tag));
    if (list == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    size_t used = 0;
    for (PUSB_INTERFACE_DESCRIPTOR descriptor : interface_descriptors_) {
        if (descriptor->bAlternateSetting == 0) {
            list[used++].InterfaceDescriptor = descriptor;
        }
    }
    NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
    PURB urb = used == 0 ? nullptr : USBD_CreateConfigurationRequestEx(configuration_, list);
    if (used == 0) {
        status = STATUS_INVALID_PARAMETER;
    }
    if (urb != nullptr) {
        status = send_urb(target_, urb, control_timeout_ms);
        if (NT_SUCCESS(status)) {
            configuration_handle_ = urb->UrbSelectConfiguration.ConfigurationHandle;
            for (size_t i = 0; i < used && NT_SUCCESS(status); ++i) {
                if (!store_interface_information(list[i].Interface)) {
                    status = STATUS_INSUFFICIENT_RESOURCES;
                }
            }
        } else if (static_cast<ULONG>(status) == static_cast<ULONG>(USBD_STATUS_NO_BANDWIDTH) ||
                   urb->UrbHeader.Status == USBD_STATUS_NO_BANDWIDTH) {
            NOXKM_LOG(noxkm::log_error, "Not enough bandwidth available. Failing initialization.\n");
        }
        ExFreePool(urb);
    }
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "Failed to select device configuration due to status=0x%x.\n",
                  static_cast<unsigned>(status));
    }
    ExFreePoolWithTag(list, pool_tag);
    return status;
}

bool usb_device::store_interface_information(const USBD_INTERFACE_INFORMATION* info)
{
    // The stack's own record must describe its pipes within its length.
    if (info == nullptr || info->Length < GET_USBD_INTERFACE_SIZE(0) ||
        info->Length < GET_USBD_INTERFACE_SIZE(info->NumberOfPipes)) {
        return false;
    }
    auto* copy = static_cast<PUSBD_INTERFACE_INFORMATION>(ExAllocatePool2(POOL_FLAG_NON_PAGED, info->Length, pool_tag));
    if (copy == nullptr) {
        return false;
    }
    memcpy(copy, info, info->Length);
    for (auto& slot : interface_infos_) {
        if (slot != nullptr && slot->InterfaceNumber == info->InterfaceNumber) {
            ExFreePoolWithTag(slot, pool_tag);
            slot = nullptr;
        }
    }
    for (auto& slot : interface_infos_) {
        if (slot == nullptr) {
            slot = copy;
            return true;
        }
    }
    if (!interface_infos_.push_back(copy)) {
        ExFreePoolWithTag(copy, pool_tag);
        return false;
    }
    return true;
}

const USBD_PIPE_INFORMATION* usb_device::find_pipe(UCHAR endpoint_address) const
{
    for (const PUSBD_INTERFACE_INFORMATION info : interface_infos_) {
        if (info == nullptr) {
            continue;
        }
        for (ULONG i = 0; i < info->NumberOfPipes; ++i) {
            if (info->Pipes[i].EndpointAddress == endpoint_address) {
                return &info->Pipes[i];
            }
        }
    }
    return nullptr;
}

const USBD_INTERFACE_INFORMATION* usb_device::interface_information(UCHAR interface_number) const
{
    for (const PUSBD_INTERFACE_INFORMATION info : interface_infos_) {
        if (info != nullptr && info->InterfaceNumber == interface_number) {
            return info;
        }
    }
    return nullptr;
}

NTSTATUS usb_device::select_interface(UCHAR interface_number, UCHAR alternate_setting, PKMUTEX device_lock)
{
    const USB_INTERFACE_DESCRIPTOR* descriptor = nullptr;
    for (const PUSB_INTERFACE_DESCRIPTOR candidate : interface_descriptors_) {
        if (candidate->bInterfaceNumber == interface_number && candidate->bAlternateSetting == alternate_setting) {
            descriptor = candidate;
            break;
        }
    }
    if (descriptor == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const ULONG pipes = descriptor->bNumEndpoints;
    const ULONG size = GET_SELECT_INTERFACE_REQUEST_SIZE(pipes);
    auto* urb = static_cast<PURB>(ExAllocatePool2(POOL_FLAG_NON_PAGED, size, pool_tag));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_INTERFACE;
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbSelectInterface.ConfigurationHandle = configuration_handle_;
    USBD_INTERFACE_INFORMATION& info = urb->UrbSelectInterface.Interface;
    info.Length = static_cast<USHORT>(size - offsetof(_URB_SELECT_INTERFACE, Interface));
    info.InterfaceNumber = interface_number;
    info.AlternateSetting = alternate_setting;
    info.NumberOfPipes = pipes;
    for (ULONG i = 0; i < pipes; ++i) {
        info.Pipes[i].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
    }
    NTSTATUS status = send_urb(target_, urb, control_timeout_ms);
    if (NT_SUCCESS(status)) {
        KeWaitForSingleObject(device_lock, Executive, KernelMode, FALSE, nullptr);
        if (!store_interface_information(&info)) {
            // The stack has freed the old setting's pipe handles: keeping its
            // copy would hand them out again.
            for (auto& slot : interface_infos_) {
                if (slot != nullptr && slot->InterfaceNumber == interface_number) {
                    ExFreePoolWithTag(slot, pool_tag);
                    slot = nullptr;
                }
            }
            status = STATUS_INSUFFICIENT_RESOURCES;
        }
        KeReleaseMutex(device_lock, FALSE);
    }
    ExFreePoolWithTag(urb, pool_tag);
    return status;
}

NTSTATUS usb_device::read_string(ULONG index, USHORT language_id, PUNICODE_STRING text, ULONG timeout_ms)
{
    text->Length = 0;
    if (index >= 256) {
        return STATUS_INVALID_PARAMETER;
    }
    // Zero-filled: bytes the device did not send read as zero.
    auto* buffer = static_cast<UCHAR*>(ExAllocatePool2(POOL_FLAG_NON_PAGED, string_buffer_bytes, pool_tag));
    if (buffer == nullptr) {
        NOXKM_LOG(noxkm::log_error, "Failed to allocate USD\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG received = 0;
    const NTSTATUS status = get_descriptor(target_, USB_STRING_DESCRIPTOR_TYPE, static_cast<UCHAR>(index),
                                           language_id, buffer, string_buffer_bytes, timeout_ms, &received);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "Failed to retrieve string descriptor for index %d, langID 0x%x\n",
                  static_cast<int>(index), static_cast<unsigned>(language_id));
        ExFreePoolWithTag(buffer, pool_tag);
        return status;
    }
    // The text ends where the descriptor says or where the bytes ran out
    // (at most 255 bytes, so the two zero bytes always fit),
    // whichever comes first, on a whole character.
    ULONG length = received >= 1 && buffer[0] < received ? buffer[0] : received;
    length &= ~1u;
    if (length < 2) {
        length = 2;
    }
    buffer[length] = 0;
    buffer[length + 1] = 0;
    const USHORT capacity = static_cast<USHORT>(text->MaximumLength / sizeof(WCHAR));
    USHORT copied = 0;
    if (length > 4) {
        const auto* source = reinterpret_cast<const WCHAR*>(buffer + 2);
        while (copied < capacity && source[copied] != L'\0') {
            text->Buffer[copied] = source[copied];
            ++copied;
        }
    } else {
        static constexpr WCHAR placeholder[] = L"DEADBEEF";
        while (copied < capacity && placeholder[copied] != L'\0') {
            text->Buffer[copied] = placeholder[copied];
            ++copied;
        }
    }
    text->Length = static_cast<USHORT>(copied * sizeof(WCHAR));
    ExFreePoolWithTag(buffer, pool_tag);
    return status;
}

void usb_device::set_friendly_name()
{
    WCHAR product_buffer[friendly_text_chars];
    WCHAR manufacturer_buffer[friendly_text_chars];
    WCHAR name_buffer[friendly_text_chars];
    UNICODE_STRING product{0, sizeof product_buffer, product_buffer};
    UNICODE_STRING manufacturer{0, sizeof manufacturer_buffer, manufacturer_buffer};
    // Room for 127 characters and the terminating zero.
    UNICODE_STRING name{0, sizeof name_buffer - sizeof(WCHAR), name_buffer};

    const bool product_read =
        NT_SUCCESS(read_string(device_descriptor_.iProduct, friendly_name_language, &product, string_timeout_ms));
    const bool manufacturer_read = NT_SUCCESS(
        read_string(device_descriptor_.iManufacturer, friendly_name_language, &manufacturer, string_timeout_ms));
    if (!manufacturer_read) {
        manufacturer.Length = 0;
    }
    if (!product_read) {
        product.Length = 0;
    }
    append_truncated(name, manufacturer);
    if (product_read && manufacturer_read) {
        WCHAR blank_text[] = L" ";
        const UNICODE_STRING blank{sizeof(WCHAR), sizeof blank_text, blank_text};
        append_truncated(name, blank);
    }
    append_truncated(name, product);
    if (!product_read && !manufacturer_read) {
        return;
    }
    name_buffer[name.Length / sizeof(WCHAR)] = L'\0';
    const NTSTATUS status = IoSetDevicePropertyData(target_, &friendly_name_key, 0, PLUGPLAY_PROPERTY_PERSISTENT,
                                                    DEVPROP_TYPE_STRING, name.Length + sizeof(WCHAR), name_buffer);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error,
                  "set_friendly_device_name, failed to set device property data DEVPKEY_Device_FriendlyName, "
                  "status=0x%x\n",
                  static_cast<unsigned>(status));
    }
}

} // namespace usb
