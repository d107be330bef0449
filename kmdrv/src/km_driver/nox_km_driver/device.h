#pragma once
// Framework side of the driver: entry point, device set-up, Plug and Play and
// power callbacks, pipe files and the default queue's handlers.

#include <wdf.h>

#include "dutil2/base/vector_std.h"

namespace usb {
class usb_device;
struct transfer_slot;
} // namespace usb
namespace nox {
class pipe_queue;
}

struct open_pipe_entry {
    nox::pipe_queue* pipe;
    UCHAR endpoint_address;
    UCHAR resume_after_restart;
};

typedef struct _DEVICE_CONTEXT {
    // Null until hardware preparation succeeds and again after release.
    usb::usb_device* volatile usb_device;
    // Requests using usb_device at the moment; release waits for them.
    volatile LONG usb_users;
    KMUTEX lock; // guards open_pipes, the resume flags and interface selection
    dutil2::vector_std<open_pipe_entry> open_pipes;
    WDFDEVICE device;
} DEVICE_CONTEXT, *PDEVICE_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DEVICE_CONTEXT, DeviceGetContext)

typedef struct _FILE_CONTEXT {
    PDEVICE_CONTEXT device;
    nox::pipe_queue* pipe; // null for the device handle
    UCHAR endpoint_address;
} FILE_CONTEXT, *PFILE_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(FILE_CONTEXT, FileGetContext)

typedef struct _PIPE_REQUEST_CONTEXT {
    usb::transfer_slot* slot; // the transfer carrying the read, null when none
} PIPE_REQUEST_CONTEXT, *PPIPE_REQUEST_CONTEXT;
WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(PIPE_REQUEST_CONTEXT, PipeRequestGetContext)

// The attached USB device for the duration of a request, or null when none is
// attached; every non-null result is paired with usb_device_release.
usb::usb_device* usb_device_acquire(PDEVICE_CONTEXT context);
void usb_device_release(PDEVICE_CONTEXT context);

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver_object, PUNICODE_STRING registry_path);

NTSTATUS noxkm_Device_Create(WDFDRIVER driver, PWDFDEVICE_INIT device_init);
VOID noxkm_Io_DeviceControl(WDFQUEUE queue, WDFREQUEST request, size_t output_length, size_t input_length,
                            ULONG io_control_code);
VOID noxkm_Io_Read(WDFQUEUE queue, WDFREQUEST request, size_t length);
