// USB client-library stand-in: handles, capability queries, configuration
// parsing and select-configuration requests.

#include "km_usbd.h"

#include <cstring>

struct USBD_HANDLE__ {
    PDEVICE_OBJECT target;
};

NTSTATUS USBD_CreateHandle(PDEVICE_OBJECT, PDEVICE_OBJECT target, ULONG contract_version, ULONG,
                           USBD_HANDLE* handle)
{
    if (target == nullptr || handle == nullptr || contract_version < USBD_CLIENT_CONTRACT_VERSION_602) {
        return STATUS_INVALID_PARAMETER;
    }
    auto* created = static_cast<USBD_HANDLE>(ExAllocatePool2(POOL_FLAG_NON_PAGED, sizeof(USBD_HANDLE__), 'dbsU'));
    if (created == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    created->target = target;
    *handle = created;
    return STATUS_SUCCESS;
}

VOID USBD_CloseHandle(USBD_HANDLE handle) { ExFreePool(handle); }

NTSTATUS USBD_QueryUsbCapability(USBD_HANDLE handle, const GUID* capability, ULONG, PUCHAR, PULONG result_length)
{
    if (handle == nullptr || capability == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (result_length != nullptr) {
        *result_length = 0;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_QUERY_CAPABILITY, handle->target, nullptr, 0,
                                             nullptr, 0, TRUE, &done, &iosb);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = const_cast<GUID*>(capability);
    NTSTATUS status = IoCallDriver(handle->target, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    return status;
}

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                                              PVOID start, LONG interface_number,
                                                              LONG alternate_setting, LONG interface_class,
                                                              LONG interface_subclass, LONG interface_protocol)
{
    if (configuration == nullptr || configuration->wTotalLength < sizeof(USB_CONFIGURATION_DESCRIPTOR)) {
        return nullptr;
    }
    auto* const base = reinterpret_cast<const UCHAR*>(configuration);
    const UCHAR* const end = base + configuration->wTotalLength;
    const UCHAR* p = static_cast<const UCHAR*>(start);
    if (p < base || p >= end) {
        return nullptr;
    }
    while (end - p >= 2) {
        const UCHAR length = p[0];
        if (length < 2 || length > end - p) {
            return nullptr;
        }
        if (p[1] == USB_INTERFACE_DESCRIPTOR_TYPE && length >= sizeof(USB_INTERFACE_DESCRIPTOR)) {
            auto* itf = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(const_cast<UCHAR*>(p));
            if ((interface_number == -1 || itf->bInterfaceNumber == interface_number) &&
                (alternate_setting == -1 || itf->bAlternateSetting == alternate_setting) &&
                (interface_class == -1 || itf->bInterfaceClass == interface_class) &&
                (interface_subclass == -1 || itf->bInterfaceSubClass == interface_subclass) &&
                (interface_protocol == -1 || itf->bInterfaceProtocol == interface_protocol)) {
                return itf;
            }
        }
        p += length;
    }
    return nullptr;
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                       PUSBD_INTERFACE_LIST_ENTRY interface_list)
{
    ULONG size = sizeof(_URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION);
    ULONG count = 0;
    for (PUSBD_INTERFACE_LIST_ENTRY entry = interface_list; entry->InterfaceDescriptor != nullptr; ++entry) {
        size += GET_USBD_INTERFACE_SIZE(entry->InterfaceDescriptor->bNumEndpoints);
        ++count;
    }
    if (count == 0 || size > 0xFFFF) {
        return nullptr;
    }
    auto* urb = static_cast<PURB>(ExAllocatePool2(POOL_FLAG_NON_PAGED, size, 'bruU'));
    if (urb == nullptr) {
        return nullptr;
    }
    urb->UrbHeader.Function = URB_FUNCTION_SELECT_CONFIGURATION;
    urb->UrbHeader.Length = static_cast<USHORT>(size);
    urb->UrbSelectConfiguration.ConfigurationDescriptor = configuration;
    auto* info = reinterpret_cast<UCHAR*>(&urb->UrbSelectConfiguration.Interface);
    for (ULONG i = 0; i < count; ++i) {
        const PUSB_INTERFACE_DESCRIPTOR descriptor = interface_list[i].InterfaceDescriptor;
        auto* itf = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(info);
        itf->Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(descriptor->bNumEndpoints));
        itf->InterfaceNumber = descriptor->bInterfaceNumber;
        itf->AlternateSetting = descriptor->bAlternateSetting;
        itf->NumberOfPipes = descriptor->bNumEndpoints;
        for (ULONG p = 0; p < descriptor->bNumEndpoints; ++p) {
            itf->Pipes[p].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        }
        interface_list[i].Interface = itf;
        info += itf->Length;
    }
    return urb;
}
