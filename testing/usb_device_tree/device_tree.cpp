#include "device_tree.h"

#include <usb_topology/hub_protocol.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cstdio>
#include <stdexcept>

namespace usb_device_tree {
namespace {

constexpr GUID usb_device_class = {0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
constexpr ULONG cm_drp_driver = 10;
constexpr DEVPROPKEY instance_id_key = {
    {0x78c34fc8, 0x104a, 0x4aca, {0x9e, 0xa4, 0x52, 0x4d, 0x52, 0x99, 0x6e, 0x57}}, 256};

bool same_key(const DEVPROPKEY& a, const DEVPROPKEY& b) { return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid; }

BOOL fail(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

} // namespace

device_tree::device_tree()
{
    node root;
    root.device_id = L"HTREE\\ROOT\\0";
    root_ = add_node(0, std::move(root));
    node controller;
    controller.device_id = L"PCI\\VEN_8086&DEV_A36D&SUBSYS_00000000&REV_10\\3&11583659&0&A0";
    controller.driver_key = L"{36fc9e60-c465-11cf-8056-444553540000}\\0000";
    const DEVINST controller_id = add_node(root_, std::move(controller));
    node hub;
    hub.device_id = L"USB\\ROOT_HUB30\\4&2F1A1E1&0&0";
    hub.driver_key = L"{36fc9e60-c465-11cf-8056-444553540000}\\0001";
    hub.hub = hub_options{};
    root_hub_ = add_node(controller_id, std::move(hub));
    next_driver_key_ = 2;
}

device_tree::~device_tree() = default;

DEVINST device_tree::add_node(DEVINST parent, node entry)
{
    if (entry.hub) {
        if (entry.hub->interface_path.empty()) {
            entry.hub->interface_path = interface_path(entry.device_id, cam::usb_topology::usb_hub_interface_class);
        }
        entry.interfaces.push_back({cam::usb_topology::usb_hub_interface_class, entry.hub->interface_path});
    }
    const DEVINST id = next_node_++;
    entry.parent = parent;
    if (parent != 0) {
        nodes_.at(parent).children.push_back(id);
    }
    nodes_.emplace(id, std::move(entry));
    return id;
}

DEVINST device_tree::plug(DEVINST hub, std::uint8_t port, node entry)
{
    std::lock_guard guard(lock_);
    const auto found = nodes_.find(hub);
    if (found == nodes_.end() || !found->second.hub || port == 0 || port > found->second.hub->ports ||
        found->second.ports.contains(port)) {
        throw std::invalid_argument("no free port of that number on that hub");
    }
    for (const auto& [id, other] : nodes_) {
        if (other.device_id == entry.device_id) {
            throw std::invalid_argument("a device with that instance id is present");
        }
    }
    if (entry.driver_key.empty()) {
        wchar_t key[64];
        std::swprintf(key, 64, L"{36fc9e60-c465-11cf-8056-444553540000}\\%04u", next_driver_key_++);
        entry.driver_key = key;
    }
    const DEVINST id = add_node(hub, std::move(entry));
    nodes_.at(hub).ports[port] = id;
    return id;
}

DEVINST device_tree::add_hub(DEVINST hub, std::uint8_t port, hub_options options)
{
    node entry;
    wchar_t id[64];
    std::swprintf(id, 64, L"USB\\VID_2109&PID_0817\\5&%X&0&%u", static_cast<unsigned>(hub), port);
    entry.device_id = id;
    entry.usb = usb_device{{18, 1, 0x20, 0x03, 9, 0, 3, 9, 0x09, 0x21, 0x17, 0x08, 0, 1, 0, 0, 0, 1},
                           {9, 2, 9, 0, 1, 1, 0, 0xE0, 0},
                           {}};
    entry.hub = std::move(options);
    return plug(hub, port, std::move(entry));
}

DEVINST device_tree::add_camera(DEVINST hub, std::uint8_t port, camera_spec camera)
{
    node entry;
    entry.device_id = std::move(camera.instance_id);
    entry.driver_key = std::move(camera.driver_key);
    entry.interfaces = camera.interfaces.empty() ? default_interfaces(entry.device_id) : std::move(camera.interfaces);
    entry.usb = std::move(camera.device);
    return plug(hub, port, std::move(entry));
}

bool device_tree::remove_device(DEVINST id)
{
    std::lock_guard guard(lock_);
    const auto found = nodes_.find(id);
    if (found == nodes_.end() || id == root_) {
        return false;
    }
    node& parent = nodes_.at(found->second.parent);
    std::erase(parent.children, id);
    std::erase_if(parent.ports, [&](const auto& port) { return port.second == id; });
    std::vector<DEVINST> gone{id};
    for (std::size_t at = 0; at < gone.size(); ++at) {
        const node& leaving = nodes_.at(gone[at]);
        gone.insert(gone.end(), leaving.children.begin(), leaving.children.end());
    }
    for (const DEVINST leaving : gone) {
        nodes_.erase(leaving);
    }
    return true;
}

std::optional<DEVINST> device_tree::find(const std::wstring& instance_id) const
{
    std::lock_guard guard(lock_);
    for (const auto& [id, entry] : nodes_) {
        if (entry.device_id == instance_id) {
            return id;
        }
    }
    return std::nullopt;
}

void device_tree::set_reply_filter(reply_filter filter)
{
    std::lock_guard guard(lock_);
    filter_ = std::move(filter);
}

bool device_tree::refuse_once(std::function<bool(const hub_request&)> which, DWORD error)
{
    std::lock_guard guard(lock_);
    if (refusal_) {
        return false;
    }
    refusal_ = std::move(which);
    refusal_error_ = error;
    return true;
}

bool device_tree::refusal_pending() const
{
    std::lock_guard guard(lock_);
    return static_cast<bool>(refusal_);
}

std::size_t device_tree::driver_key_reads() const
{
    std::lock_guard guard(lock_);
    return driver_key_reads_;
}

std::vector<hub_request> device_tree::requests() const
{
    std::lock_guard guard(lock_);
    return requests_;
}

std::size_t device_tree::open_handles() const
{
    std::lock_guard guard(lock_);
    return sets_.size() + files_.size();
}

const device_tree::node* device_tree::lookup(DEVINST id) const
{
    const auto found = nodes_.find(id);
    return found == nodes_.end() ? nullptr : &found->second;
}

const std::vector<device_tree::info_entry>* device_tree::info_set(HDEVINFO set) const
{
    const auto found = sets_.find(set);
    return found == sets_.end() ? nullptr : &found->second;
}

const device_tree::info_entry* device_tree::info_item(HDEVINFO set, ULONG_PTR token) const
{
    const auto* entries = info_set(set);
    if (entries == nullptr || token == 0 || token > entries->size()) {
        return nullptr;
    }
    return &(*entries)[token - 1];
}

// -------- SetupAPI

HDEVINFO device_tree::get_class_devs(const GUID& interface_class, DWORD flags)
{
    std::lock_guard guard(lock_);
    if (flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    std::vector<info_entry> entries;
    for (const auto& [id, entry] : nodes_) {
        for (const device_interface& itf : entry.interfaces) {
            if (IsEqualGUID(itf.interface_class, interface_class)) {
                entries.push_back({id, entry.device_id, itf});
            }
        }
    }
    const auto set = reinterpret_cast<HDEVINFO>(next_handle_ += 4);
    sets_.emplace(set, std::move(entries));
    return set;
}

BOOL device_tree::enum_device_interfaces(HDEVINFO set, const GUID& interface_class, DWORD index,
                                         SP_DEVICE_INTERFACE_DATA* interface_data)
{
    std::lock_guard guard(lock_);
    const auto* entries = info_set(set);
    if (entries == nullptr) {
        return fail(ERROR_INVALID_HANDLE);
    }
    if (interface_data == nullptr || interface_data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    DWORD seen = 0;
    for (std::size_t at = 0; at < entries->size(); ++at) {
        if (!IsEqualGUID((*entries)[at].itf.interface_class, interface_class) || seen++ != index) {
            continue;
        }
        interface_data->InterfaceClassGuid = interface_class;
        interface_data->Flags = SPINT_ACTIVE;
        interface_data->Reserved = at + 1;
        return TRUE;
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

BOOL device_tree::get_device_interface_detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* interface_data,
                                              SP_DEVICE_INTERFACE_DETAIL_DATA_W* detail, DWORD detail_size,
                                              DWORD* required, SP_DEVINFO_DATA* device)
{
    std::lock_guard guard(lock_);
    const info_entry* item = interface_data == nullptr ? nullptr : info_item(set, interface_data->Reserved);
    if (item == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (item->itf.path.size() + 1) * sizeof(wchar_t));
    if (required != nullptr) {
        *required = needed;
    }
    if (detail != nullptr && detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) {
        return fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detail == nullptr || detail_size < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (device != nullptr) {
        if (device->cbSize != sizeof(SP_DEVINFO_DATA)) {
            return fail(ERROR_INVALID_USER_BUFFER);
        }
        device->ClassGuid = usb_device_class;
        device->DevInst = item->node;
        device->Reserved = interface_data->Reserved;
    }
    std::copy(item->itf.path.begin(), item->itf.path.end(), detail->DevicePath);
    detail->DevicePath[item->itf.path.size()] = L'\0';
    return TRUE;
}

BOOL device_tree::get_device_property(HDEVINFO set, SP_DEVINFO_DATA* device, const DEVPROPKEY& key,
                                      DEVPROPTYPE* type, BYTE* buffer, DWORD size, DWORD* required)
{
    std::lock_guard guard(lock_);
    const info_entry* item = device == nullptr ? nullptr : info_item(set, device->Reserved);
    if (item == nullptr) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (!same_key(key, instance_id_key)) {
        return fail(ERROR_NOT_FOUND);
    }
    const DWORD needed = static_cast<DWORD>((item->instance_id.size() + 1) * sizeof(wchar_t));
    if (required != nullptr) {
        *required = needed;
    }
    if (buffer == nullptr || size < needed) {
        return fail(ERROR_INSUFFICIENT_BUFFER);
    }
    if (type != nullptr) {
        *type = DEVPROP_TYPE_STRING;
    }
    std::memcpy(buffer, item->instance_id.c_str(), needed);
    return TRUE;
}

BOOL device_tree::destroy_device_info_list(HDEVINFO set)
{
    std::lock_guard guard(lock_);
    return sets_.erase(set) == 1 ? TRUE : fail(ERROR_INVALID_HANDLE);
}

// -------- configuration manager

CONFIGRET device_tree::locate_devnode(DEVINST* node_out, const wchar_t* device_id)
{
    std::lock_guard guard(lock_);
    if (device_id == nullptr || *device_id == L'\0') {
        *node_out = root_;
        return CR_SUCCESS;
    }
    // Device ids are looked up without regard to case; an exact match first.
    for (const BOOL ignore_case : {FALSE, TRUE}) {
        for (const auto& [id, entry] : nodes_) {
            if (CompareStringOrdinal(entry.device_id.c_str(), -1, device_id, -1, ignore_case) == CSTR_EQUAL) {
                *node_out = id;
                return CR_SUCCESS;
            }
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET device_tree::get_device_id(DEVINST id, wchar_t* buffer, ULONG length)
{
    std::lock_guard guard(lock_);
    const node* entry = lookup(id);
    if (entry == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (length < entry->device_id.size()) {
        return CR_BUFFER_SMALL;
    }
    // Like the system: the terminating zero only when there is room for it.
    std::copy(entry->device_id.begin(), entry->device_id.end(), buffer);
    if (length > entry->device_id.size()) {
        buffer[entry->device_id.size()] = L'\0';
    }
    return CR_SUCCESS;
}

CONFIGRET device_tree::get_parent(DEVINST* parent, DEVINST id)
{
    std::lock_guard guard(lock_);
    const node* entry = lookup(id);
    if (entry == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (entry->parent == 0) {
        return CR_NO_SUCH_DEVNODE;
    }
    *parent = entry->parent;
    return CR_SUCCESS;
}

CONFIGRET device_tree::get_child(DEVINST* child, DEVINST id)
{
    std::lock_guard guard(lock_);
    const node* entry = lookup(id);
    if (entry == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (entry->children.empty()) {
        return CR_NO_SUCH_DEVNODE;
    }
    *child = entry->children.front();
    return CR_SUCCESS;
}

CONFIGRET device_tree::get_sibling(DEVINST* sibling, DEVINST id)
{
    std::lock_guard guard(lock_);
    const node* entry = lookup(id);
    if (entry == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    const node* parent = lookup(entry->parent);
    if (parent == nullptr) {
        return CR_NO_SUCH_DEVNODE;
    }
    const auto at = std::find(parent->children.begin(), parent->children.end(), id);
    if (at == parent->children.end() || at + 1 == parent->children.end()) {
        return CR_NO_SUCH_DEVNODE;
    }
    *sibling = *(at + 1);
    return CR_SUCCESS;
}

CONFIGRET device_tree::get_device_interface_list(const GUID& interface_class, const wchar_t* device_id,
                                                 wchar_t* buffer, ULONG length, ULONG flags)
{
    std::lock_guard guard(lock_);
    if (flags != CM_GET_DEVICE_INTERFACE_LIST_PRESENT) {
        return CR_INVALID_FLAG;
    }
    std::wstring list;
    bool device_found = device_id == nullptr;
    for (const auto& [id, entry] : nodes_) {
        if (device_id != nullptr) {
            if (CompareStringOrdinal(entry.device_id.c_str(), -1, device_id, -1, TRUE) != CSTR_EQUAL) {
                continue;
            }
            device_found = true;
        }
        for (const device_interface& itf : entry.interfaces) {
            if (IsEqualGUID(itf.interface_class, interface_class)) {
                list += itf.path;
                list.push_back(L'\0');
            }
        }
    }
    if (!device_found) {
        return CR_INVALID_DEVICE_ID;
    }
    list.push_back(L'\0');
    if (length < list.size()) {
        return CR_BUFFER_SMALL;
    }
    std::copy(list.begin(), list.end(), buffer);
    return CR_SUCCESS;
}

CONFIGRET device_tree::get_devnode_registry_property(DEVINST id, ULONG property, ULONG* type, void* buffer,
                                                     ULONG* length)
{
    std::lock_guard guard(lock_);
    if (property == cm_drp_driver) {
        ++driver_key_reads_;
    }
    const node* entry = lookup(id);
    if (entry == nullptr) {
        return CR_INVALID_DEVNODE;
    }
    if (property != cm_drp_driver || entry->driver_key.empty()) {
        return CR_NO_SUCH_VALUE;
    }
    const ULONG needed = static_cast<ULONG>((entry->driver_key.size() + 1) * sizeof(wchar_t));
    const ULONG room = *length;
    *length = needed;
    if (buffer == nullptr || room < needed) {
        return CR_BUFFER_SMALL;
    }
    if (type != nullptr) {
        *type = REG_SZ;
    }
    std::memcpy(buffer, entry->driver_key.c_str(), needed);
    return CR_SUCCESS;
}

} // namespace usb_device_tree
