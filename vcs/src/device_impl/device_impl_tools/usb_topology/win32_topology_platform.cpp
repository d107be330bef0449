#include "hub_protocol.h"
#include "topology_platform.h"

#include <winioctl.h>

#include <usbioctl.h>
#include <usbiodef.h>

namespace cam::usb_topology {
namespace {

static_assert(hub_ioctl::get_node_information == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(hub_ioctl::get_node_connection_information == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION);
static_assert(hub_ioctl::get_descriptor_from_node_connection == IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION);
static_assert(hub_ioctl::get_node_connection_driverkey_name == IOCTL_USB_GET_NODE_CONNECTION_DRIVERKEY_NAME);
static_assert(hub_ioctl::get_node_connection_information_ex == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION_EX);
static_assert(sizeof(USB_NODE_INFORMATION) == node_information_size);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, ConnectionStatus) == connection_status_offset);
static_assert(offsetof(USB_NODE_CONNECTION_INFORMATION_EX, PipeList) == connection_fixed_size);
static_assert(offsetof(USB_DESCRIPTOR_REQUEST, Data) == descriptor_request_header);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 32 && sizeof(SP_DEVINFO_DATA) == 32);

class win32_platform final : public topology_platform {
public:
    HDEVINFO get_class_devs(const GUID& interface_class, DWORD flags) override
    {
        return SetupDiGetClassDevsW(&interface_class, nullptr, nullptr, flags);
    }
    BOOL enum_device_interfaces(HDEVINFO set, const GUID& interface_class, DWORD index,
                                SP_DEVICE_INTERFACE_DATA* interface_data) override
    {
        return SetupDiEnumDeviceInterfaces(set, nullptr, &interface_class, index, interface_data);
    }
    BOOL get_device_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interface_data,
                                     SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size, DWORD* required,
                                     SP_DEVINFO_DATA* device) override
    {
        return SetupDiGetDeviceInterfaceDetailW(set, interface_data, detail, detail_size, required, device);
    }
    BOOL get_device_property(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key, DEVPROPTYPE* type,
                             BYTE* buffer, DWORD size, DWORD* required) override
    {
        return SetupDiGetDevicePropertyW(set, device, &key, type, buffer, size, required, 0);
    }
    BOOL destroy_device_info_list(HDEVINFO set) override { return SetupDiDestroyDeviceInfoList(set); }

    CONFIGRET locate_devnode(DEVINST* node, const wchar_t* device_id) override
    {
        return CM_Locate_DevNodeW(node, const_cast<wchar_t*>(device_id), CM_LOCATE_DEVNODE_NORMAL);
    }
    CONFIGRET get_device_id(DEVINST node, wchar_t* buffer, ULONG length) override
    {
        return CM_Get_Device_IDW(node, buffer, length, 0);
    }
    CONFIGRET get_parent(DEVINST* parent, DEVINST node) override { return CM_Get_Parent(parent, node, 0); }
    CONFIGRET get_child(DEVINST* child, DEVINST node) override { return CM_Get_Child(child, node, 0); }
    CONFIGRET get_sibling(DEVINST* sibling, DEVINST node) override { return CM_Get_Sibling(sibling, node, 0); }
    CONFIGRET get_device_interface_list(const GUID& interface_class, const wchar_t* device_id, wchar_t* buffer,
                                        ULONG length, ULONG flags) override
    {
        return CM_Get_Device_Interface_ListW(const_cast<GUID*>(&interface_class), const_cast<wchar_t*>(device_id),
                                             buffer, length, flags);
    }
    CONFIGRET get_devnode_registry_property(DEVINST node, ULONG property, ULONG* type, void* buffer,
                                            ULONG* length) override
    {
        return CM_Get_DevNode_Registry_PropertyW(node, property, type, buffer, length, 0);
    }

    HANDLE create_file(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) override
    {
        return CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    }
    BOOL device_io_control(HANDLE file, DWORD code, void* input, DWORD input_size, void* output, DWORD output_size,
                           DWORD* returned) override
    {
        return DeviceIoControl(file, code, input, input_size, output, output_size, returned, nullptr);
    }
    BOOL close_handle(HANDLE file) override { return CloseHandle(file); }
};

} // namespace

topology_platform& win32_topology_platform()
{
    static win32_platform platform;
    return platform;
}

} // namespace cam::usb_topology
