#pragma once
// A fresh device tree per test; every test ends with no set or hub file left
// open.

#include <device_tree.h>
#include <usb_topology/hub_protocol.h>
#include <usb_topology/usb_topology.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace usb_topology_test {

using cam::usb_topology::camera_entry;
using usb_device_tree::bytes;
using usb_device_tree::hub_reply;
using usb_device_tree::hub_request;

class topology : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(tree.open_handles(), 0u); }

    std::vector<camera_entry> cameras() { return cam::usb_topology::find_device(tree); }

    std::vector<std::wstring> serials()
    {
        std::vector<std::wstring> out;
        for (const camera_entry& entry : cameras()) {
            out.push_back(entry.serial_number);
        }
        return out;
    }

    // Rewrites the answers to one I/O control (of one descriptor value when
    // `value` is not 0).
    void rewrite(DWORD code, std::function<void(hub_reply&)> change, std::uint16_t value = 0)
    {
        tree.set_reply_filter([=](const hub_request& request, hub_reply& reply) {
            if (request.code == code && (value == 0 || request.value == value)) {
                change(reply);
            }
        });
    }

    std::size_t count_of(DWORD code) const
    {
        const auto log = tree.requests();
        return static_cast<std::size_t>(
            std::count_if(log.begin(), log.end(), [&](const hub_request& r) { return r.code == code; }));
    }

    usb_device_tree::device_tree tree;
};

} // namespace usb_topology_test
