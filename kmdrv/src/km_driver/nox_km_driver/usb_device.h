#pragma once
// The driver's view of one attached camera: connection speed, device and
// configuration descriptors, the selected configuration and alternate
// settings with the interface information the USB stack returned, string
// reads and the device's friendly name.

#include <km_usbd.h>

#include "dutil2/base/vector_std.h"

namespace usb {

class usb_device {
public:
    // Allocates the object over the physical device object and creates its
    // USB client handle (left null when that fails). Null when memory runs out.
    static usb_device* create(PDEVICE_OBJECT pdo);
    // Frees the interface information copies, the configuration set and the
    // client handle, then the object.
    static void destroy(usb_device* device);

    // Checks speed and capability, reads the descriptors, collects the
    // interfaces and selects the configuration. A failure leaves nothing
    // selected.
    NTSTATUS attach();
    // Pipe information with that endpoint address in any kept interface, or null.
    const USBD_PIPE_INFORMATION* find_pipe(UCHAR endpoint_address) const;
    // The kept interface information of an interface, or null.
    const USBD_INTERFACE_INFORMATION* interface_information(UCHAR interface_number) const;
    // Selects an alternate setting; the kept copy is replaced under `device_lock`.
    NTSTATUS select_interface(UCHAR interface_number, UCHAR alternate_setting, PKMUTEX device_lock);
    // Reads string descriptor `index` (below 256) into `text` (Length set to the
    // bytes copied, no terminating zero). A descriptor of 4 bytes or fewer
    // reads as "DEADBEEF".
    NTSTATUS read_string(ULONG index, USHORT language_id, PUNICODE_STRING text, ULONG timeout_ms);
    // Writes "<manufacturer> <product>" as the device's friendly name.
    void set_friendly_name();

    PDEVICE_OBJECT target() const { return target_; }
    const USB_DEVICE_DESCRIPTOR& device_descriptor() const { return device_descriptor_; }
    // The configuration descriptor set as kept: only the bytes received, with
    // wTotalLength matching them.
    const USB_CONFIGURATION_DESCRIPTOR* configuration() const { return configuration_; }
    ULONG configuration_length() const { return configuration_length_; }
    ULONG supported_usb_version() const { return supported_usb_version_; }
    bool super_speed() const { return super_speed_; }
    std::size_t interface_descriptor_count() const { return interface_descriptors_.size(); }
    const USB_INTERFACE_DESCRIPTOR* interface_descriptor(std::size_t i) const { return interface_descriptors_[i]; }

private:
    explicit usb_device(PDEVICE_OBJECT pdo) : target_(pdo) {}
    ~usb_device();

    bool query_high_speed();
    NTSTATUS read_configuration();
    NTSTATUS collect_interfaces();
    NTSTATUS select_configuration();
    // Replaces the kept copy of that interface's information.
    bool store_interface_information(const USBD_INTERFACE_INFORMATION* info);
    void release_configuration();

    PDEVICE_OBJECT target_;
    USB_DEVICE_DESCRIPTOR device_descriptor_{};
    dutil2::vector_std<PUSBD_INTERFACE_INFORMATION> interface_infos_;
    dutil2::vector_std<PUSB_INTERFACE_DESCRIPTOR> interface_descriptors_;
    PUSB_CONFIGURATION_DESCRIPTOR configuration_ = nullptr;
    ULONG configuration_length_ = 0;
    USBD_CONFIGURATION_HANDLE configuration_handle_ = nullptr;
    ULONG supported_usb_version_ = 0;
    bool super_speed_ = false;
    USBD_HANDLE usbd_handle_ = nullptr;
};

} // namespace usb
