#pragma once
// Everything the camera walk asks of the system: the device-interface lists of
// SetupAPI, the device tree of the configuration manager, and the files and
// I/O controls of USB hubs. The shipped implementation calls Win32; tests put
// a device tree of their own behind the same calls. Every operation keeps the
// meaning, the buffer rules and the results of the Win32 function it names.

#include <windows.h>

#include <cfgmgr32.h>
#include <devpropdef.h>
#include <setupapi.h>

#include <utility>

namespace cam::usb_topology {

class topology_platform {
public:
    virtual ~topology_platform() = default;

    // SetupDiGetClassDevsW(class, no enumerator, no window, flags).
    virtual HDEVINFO get_class_devs(const GUID& interface_class, DWORD flags) = 0;
    virtual BOOL enum_device_interfaces(HDEVINFO set, const GUID& interface_class, DWORD index,
                                        SP_DEVICE_INTERFACE_DATA* interface_data) = 0;
    virtual BOOL get_device_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interface_data,
                                             SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size,
                                             DWORD* required, SP_DEVINFO_DATA* device) = 0;
    virtual BOOL get_device_property(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key,
                                     DEVPROPTYPE* type, BYTE* buffer, DWORD size, DWORD* required) = 0;
    virtual BOOL destroy_device_info_list(HDEVINFO set) = 0;

    // CM_Locate_DevNodeW; a null id locates the root of the tree.
    virtual CONFIGRET locate_devnode(DEVINST* node, const wchar_t* device_id) = 0;
    // CM_Get_Device_IDW; `length` in characters.
    virtual CONFIGRET get_device_id(DEVINST node, wchar_t* buffer, ULONG length) = 0;
    virtual CONFIGRET get_parent(DEVINST* parent, DEVINST node) = 0;
    virtual CONFIGRET get_child(DEVINST* child, DEVINST node) = 0;
    virtual CONFIGRET get_sibling(DEVINST* sibling, DEVINST node) = 0;
    // CM_Get_Device_Interface_ListW: a list of zero-terminated paths ending in
    // an empty one; `length` in characters.
    virtual CONFIGRET get_device_interface_list(const GUID& interface_class, const wchar_t* device_id,
                                                wchar_t* buffer, ULONG length, ULONG flags) = 0;
    // CM_Get_DevNode_Registry_PropertyW; `length` in bytes, in and out.
    virtual CONFIGRET get_devnode_registry_property(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                                    ULONG* length) = 0;

    // CreateFileW without security attributes or template; INVALID_HANDLE_VALUE
    // and the thread's last error on failure.
    virtual HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) = 0;
    // A synchronous DeviceIoControl.
    virtual BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output,
                                   DWORD output_size, DWORD* returned) = 0;
    virtual BOOL close_handle(HANDLE file) = 0;
};

// Calls Win32 directly.
topology_platform& win32_topology_platform();

// A device-information set, destroyed through the platform that made it.
class device_info_set {
public:
    device_info_set(topology_platform& platform, HDEVINFO set) : platform_(&platform), set_(set) {}
    ~device_info_set()
    {
        if (valid()) {
            platform_->destroy_device_info_list(set_);
        }
    }
    device_info_set(const device_info_set&) = delete;
    device_info_set& operator=(const device_info_set&) = delete;

    bool valid() const noexcept { return set_ != INVALID_HANDLE_VALUE && set_ != nullptr; }
    HDEVINFO get() const noexcept { return set_; }

private:
    topology_platform* platform_;
    HDEVINFO set_;
};

// A file opened through the platform, closed through it.
class platform_file {
public:
    platform_file(topology_platform& platform, HANDLE file) : platform_(&platform), file_(file) {}
    ~platform_file()
    {
        if (valid()) {
            platform_->close_handle(file_);
        }
    }
    platform_file(const platform_file&) = delete;
    platform_file& operator=(const platform_file&) = delete;

    bool valid() const noexcept { return file_ != INVALID_HANDLE_VALUE && file_ != nullptr; }
    HANDLE get() const noexcept { return file_; }

private:
    topology_platform* platform_;
    HANDLE file_;
};

} // namespace cam::usb_topology
