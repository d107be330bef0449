#include "device_nodes.h"

#include "hub_protocol.h"

#include <vector>

namespace cam::usb_topology {
namespace {

constexpr ULONG cm_drp_driver = 10;
constexpr ULONG driver_key_chars = 260;

bool equal_without_case(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() &&
           CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::optional<std::wstring> driver_key_of(topology_platform& platform, DEVINST node)
{
    // One character more than the length passed, so the text always ends.
    std::vector<wchar_t> buffer(driver_key_chars + 1, L'\0');
    ULONG type = 0;
    ULONG length = driver_key_chars * sizeof(wchar_t);
    if (platform.get_devnode_registry_property(node, cm_drp_driver, &type, buffer.data(), &length) != CR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

} // namespace

std::optional<std::wstring> node_device_id(topology_platform& platform, DEVINST node)
{
    // The call leaves out the terminating zero when the id fills the buffer.
    std::vector<wchar_t> buffer(device_id_chars + 1, L'\0');
    if (platform.get_device_id(node, buffer.data(), device_id_chars) != CR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(buffer.data());
}

void driver_key_index::read_tree()
{
    keys_.emplace();
    DEVINST root = 0;
    if (platform_->locate_devnode(&root, nullptr) != CR_SUCCESS) {
        return;
    }
    DEVINST node = root;
    for (;;) {
        if (auto key = driver_key_of(*platform_, node)) {
            keys_->push_back({std::move(*key), node});
        }
        DEVINST next = 0;
        if (platform_->get_child(&next, node) == CR_SUCCESS) {
            node = next;
            continue;
        }
        // No child: the next sibling of this node or of the nearest ancestor
        // that has one.
        for (;;) {
            if (node == root) {
                return;
            }
            if (platform_->get_sibling(&next, node) == CR_SUCCESS) {
                node = next;
                break;
            }
            if (platform_->get_parent(&next, node) != CR_SUCCESS) {
                return;
            }
            node = next;
        }
    }
}

std::optional<DEVINST> driver_key_index::find(const std::wstring& driver_key)
{
    if (!keys_) {
        read_tree();
    }
    for (const node_key& entry : *keys_) {
        if (equal_without_case(entry.driver_key, driver_key)) {
            return entry.node;
        }
    }
    return std::nullopt;
}

std::optional<hub_location> find_parent_hub(topology_platform& platform, DEVINST node)
{
    for (;;) {
        DEVINST parent = 0;
        if (platform.get_parent(&parent, node) != CR_SUCCESS) {
            return std::nullopt;
        }
        node = parent;
        const auto id = node_device_id(platform, node);
        if (!id) {
            continue;
        }
        std::vector<wchar_t> list(device_id_chars + 1, L'\0');
        if (platform.get_device_interface_list(usb_hub_interface_class, id->c_str(), list.data(), device_id_chars,
                                               CM_GET_DEVICE_INTERFACE_LIST_PRESENT) != CR_SUCCESS) {
            continue;
        }
        std::wstring path(list.data());
        if (path.empty()) {
            continue;
        }
        return hub_location{node, *id, std::move(path)};
    }
}

} // namespace cam::usb_topology
