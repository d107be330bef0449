#pragma once
// Synchronous requests to the USB stack below the driver: every request goes
// to the device's physical device object as an internal device control and is
// waited for with a time-out. A request that times out is cancelled and waited
// for before the caller sees STATUS_IO_TIMEOUT, so no buffer is released while
// the stack may still use it.

#include <km_usbd.h>

#include "public/noxkm_ioctl.h"

namespace usb {

inline constexpr ULONG control_timeout_ms = 1000;
inline constexpr ULONG string_timeout_ms = 3000;

// Sends `urb` and waits up to `timeout_ms`.
NTSTATUS send_urb(PDEVICE_OBJECT target, PURB urb, ULONG timeout_ms);
// Resets the device's port.
NTSTATUS reset_port(PDEVICE_OBJECT target, ULONG timeout_ms);
// Sends a pipe request (abort, reset) with a 1000 ms time-out. The result is
// 0x80000400 when the stack reports it is busy, otherwise the request status.
NTSTATUS pipe_request(PDEVICE_OBJECT target, USBD_PIPE_HANDLE pipe, USHORT function);
NTSTATUS abort_pipe(PDEVICE_OBJECT target, USBD_PIPE_HANDLE pipe);
NTSTATUS reset_pipe(PDEVICE_OBJECT target, USBD_PIPE_HANDLE pipe);
// Reads a standard descriptor into `buffer`; `received` is the byte count.
NTSTATUS get_descriptor(PDEVICE_OBJECT target, UCHAR type, UCHAR index, USHORT language_id, PVOID buffer,
                        ULONG length, ULONG timeout_ms, ULONG* received);
// One class or vendor control transfer; `device_to_host` gives the direction.
// `transferred` is the byte count of the data stage.
NTSTATUS control_transfer(PDEVICE_OBJECT target, const noxkm::control_setup& setup, bool device_to_host,
                          PVOID buffer, ULONG length, ULONG timeout_ms, ULONG* transferred);

} // namespace usb
