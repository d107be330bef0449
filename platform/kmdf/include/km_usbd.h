#pragma once
// USB client-library stand-in: the USBD routines, request-building helpers and
// the bus driver's USBDI interface that the driver uses. Everything reaches the
// device below through requests sent to its physical device object, so a
// simulated device answers all of it.

#include "km_kernel.h"

typedef struct USBD_HANDLE__* USBD_HANDLE;

#define USBD_CLIENT_CONTRACT_VERSION_602 0x602

// Device connected at SuperSpeed or faster.
inline constexpr GUID GUID_USB_CAPABILITY_DEVICE_CONNECTION_SUPER_SPEED_COMPATIBLE = {
    0x8a2f776c, 0x9bd0, 0x4f29, {0x97, 0x71, 0xc7, 0xa3, 0x88, 0x46, 0xd4, 0xc7}};
inline constexpr GUID USB_BUS_INTERFACE_USBDI_GUID = {
    0xb1a96a13, 0x3de0, 0x4574, {0x9b, 0x01, 0xc0, 0x8f, 0xea, 0xb3, 0x18, 0xd6}};

// Internal request by which the client library asks the bus about a capability:
// Argument1 is the capability GUID. The answer is the request's status.
#define IOCTL_INTERNAL_USB_QUERY_CAPABILITY CTL_CODE(FILE_DEVICE_USB, 0x0140, METHOD_NEITHER, FILE_ANY_ACCESS)

NTSTATUS USBD_CreateHandle(PDEVICE_OBJECT device, PDEVICE_OBJECT target, ULONG contract_version, ULONG pool_tag,
                           USBD_HANDLE* handle);
VOID USBD_CloseHandle(USBD_HANDLE handle);
NTSTATUS USBD_QueryUsbCapability(USBD_HANDLE handle, const GUID* capability, ULONG output_length,
                                 PUCHAR output, PULONG result_length);

typedef VOID (*PUSB_BUSIFFN_GETUSBDI_VERSION)(PVOID context, PUSBD_VERSION_INFORMATION info, PULONG hcd_capabilities);
typedef NTSTATUS (*PUSB_BUSIFFN_QUERY_BUS_TIME)(PVOID context, PULONG current_frame);
typedef NTSTATUS (*PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB)(PVOID context, PURB urb);
typedef NTSTATUS (*PUSB_BUSIFFN_QUERY_BUS_INFORMATION)(PVOID context, ULONG level, PVOID buffer,
                                                       PULONG length, PULONG actual_length);
typedef BOOLEAN (*PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED)(PVOID context);

// Version 1 of the bus driver's USBDI interface (72 bytes).
typedef struct _USB_BUS_INTERFACE_USBDI_V1 {
    USHORT Size;
    USHORT Version;
    PVOID BusContext;
    VOID (*InterfaceReference)(PVOID context);
    VOID (*InterfaceDereference)(PVOID context);
    PUSB_BUSIFFN_GETUSBDI_VERSION GetUSBDIVersion;
    PUSB_BUSIFFN_QUERY_BUS_TIME QueryBusTime;
    PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB SubmitIsoOutUrb;
    PUSB_BUSIFFN_QUERY_BUS_INFORMATION QueryBusInformation;
    PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED IsDeviceHighSpeed;
} USB_BUS_INTERFACE_USBDI_V1, *PUSB_BUS_INTERFACE_USBDI_V1;
#define USB_BUSIF_USBDI_VERSION_1 0x0001

typedef struct _USBD_INTERFACE_LIST_ENTRY {
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
    PUSBD_INTERFACE_INFORMATION Interface;
} USBD_INTERFACE_LIST_ENTRY, *PUSBD_INTERFACE_LIST_ENTRY;

// Finds the interface descriptor matching every criterion that is not -1,
// starting the walk at `start`. The walk ends at wTotalLength of the
// configuration, at a descriptor of length 0 and at one that would run past
// the end; it never reads outside the set.
PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                                              PVOID start, LONG interface_number,
                                                              LONG alternate_setting, LONG interface_class,
                                                              LONG interface_subclass, LONG interface_protocol);
// Builds a select-configuration request for the listed interfaces (the list
// ends with a null descriptor) and points every entry's Interface at its part
// of the request. Freed with ExFreePool. Null when memory runs out.
PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                       PUSBD_INTERFACE_LIST_ENTRY interface_list);

inline constexpr ULONG GET_SELECT_INTERFACE_REQUEST_SIZE(ULONG pipes)
{
    return sizeof(_URB_SELECT_INTERFACE) + (pipes == 0 ? 0 : (pipes - 1)) * sizeof(USBD_PIPE_INFORMATION) -
           (pipes == 0 ? sizeof(USBD_PIPE_INFORMATION) : 0);
}
inline constexpr ULONG GET_USBD_INTERFACE_SIZE(ULONG pipes)
{
    return sizeof(USBD_INTERFACE_INFORMATION) + (pipes == 0 ? 0 : (pipes - 1)) * sizeof(USBD_PIPE_INFORMATION) -
           (pipes == 0 ? sizeof(USBD_PIPE_INFORMATION) : 0);
}

inline VOID UsbBuildGetDescriptorRequest(PURB urb, USHORT length, UCHAR descriptor_type, UCHAR index,
                                         USHORT language_id, PVOID buffer, PMDL mdl, ULONG buffer_length,
                                         PURB link)
{
    urb->UrbHeader.Function = URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE;
    urb->UrbHeader.Length = length;
    urb->UrbControlDescriptorRequest.TransferBufferLength = buffer_length;
    urb->UrbControlDescriptorRequest.TransferBufferMDL = mdl;
    urb->UrbControlDescriptorRequest.TransferBuffer = buffer;
    urb->UrbControlDescriptorRequest.DescriptorType = descriptor_type;
    urb->UrbControlDescriptorRequest.Index = index;
    urb->UrbControlDescriptorRequest.LanguageId = language_id;
    urb->UrbControlDescriptorRequest.UrbLink = link;
}

inline VOID UsbBuildInterruptOrBulkTransferRequest(PURB urb, USHORT length, USBD_PIPE_HANDLE pipe, PVOID buffer,
                                                   PMDL mdl, ULONG buffer_length, ULONG flags, PURB link)
{
    urb->UrbHeader.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
    urb->UrbHeader.Length = length;
    urb->UrbBulkOrInterruptTransfer.PipeHandle = pipe;
    urb->UrbBulkOrInterruptTransfer.TransferFlags = flags;
    urb->UrbBulkOrInterruptTransfer.TransferBufferLength = buffer_length;
    urb->UrbBulkOrInterruptTransfer.TransferBufferMDL = mdl;
    urb->UrbBulkOrInterruptTransfer.TransferBuffer = buffer;
    urb->UrbBulkOrInterruptTransfer.UrbLink = link;
}

inline VOID UsbBuildVendorRequest(PURB urb, USHORT function, USHORT length, ULONG flags, UCHAR reserved_bits,
                                  UCHAR request, USHORT value, USHORT index, PVOID buffer, PMDL mdl,
                                  ULONG buffer_length, PURB link)
{
    urb->UrbHeader.Function = function;
    urb->UrbHeader.Length = length;
    urb->UrbControlVendorClassRequest.TransferFlags = flags;
    urb->UrbControlVendorClassRequest.TransferBufferLength = buffer_length;
    urb->UrbControlVendorClassRequest.TransferBufferMDL = mdl;
    urb->UrbControlVendorClassRequest.TransferBuffer = buffer;
    urb->UrbControlVendorClassRequest.RequestTypeReservedBits = reserved_bits;
    urb->UrbControlVendorClassRequest.Request = request;
    urb->UrbControlVendorClassRequest.Value = value;
    urb->UrbControlVendorClassRequest.Index = index;
    urb->UrbControlVendorClassRequest.UrbLink = link;
}
