// Hub answers that fail, come short, claim more than they hold or carry
// malformed string descriptors: the camera on that port is left out (or the
// one string refused), nothing is read beyond what the hub returned, and the
// walk goes on.

#include "topology_fixture.h"

#include <descriptors.h>

namespace usb_topology_test {
namespace {

namespace hub_ioctl = cam::usb_topology::hub_ioctl;
using cam::usb_topology::write_u32;
using usb_device_tree::simulated_camera;

void fail(hub_reply& reply) { reply.succeeded = false; reply.error = ERROR_GEN_FAILURE; }
auto cut_to(std::size_t size)
{
    return [size](hub_reply& reply) { reply.data.resize(std::min(reply.data.size(), size)); };
}

class hub_replies : public topology {
protected:
    void SetUp() override { tree.add_camera(tree.root_hub(), 1, simulated_camera()); }
    bool listed() { return serials() == std::vector<std::wstring>{L"SIM00001"}; }
};

TEST_F(hub_replies, the_untouched_hub_lists_the_camera)
{
    EXPECT_TRUE(listed());
}

TEST_F(hub_replies, node_information_that_fails_or_lacks_the_port_count_lists_nothing)
{
    rewrite(hub_ioctl::get_node_information, fail);
    EXPECT_FALSE(listed());
    rewrite(hub_ioctl::get_node_information, cut_to(6));
    EXPECT_FALSE(listed());
    rewrite(hub_ioctl::get_node_information, cut_to(7));
    EXPECT_TRUE(listed());
}

TEST_F(hub_replies, a_connection_record_that_fails_both_ways_or_comes_short_skips_the_port)
{
    tree.set_reply_filter([](const hub_request& request, hub_reply& reply) {
        if (request.code == hub_ioctl::get_node_connection_information_ex ||
            request.code == hub_ioctl::get_node_connection_information) {
            fail(reply);
        }
    });
    EXPECT_FALSE(listed());
    rewrite(hub_ioctl::get_node_connection_information_ex, cut_to(34));
    EXPECT_FALSE(listed());
}

TEST_F(hub_replies, driver_key_answers_that_fail_come_short_or_overstate_skip_the_port)
{
    const DWORD code = hub_ioctl::get_node_connection_driverkey_name;
    rewrite(code, fail);
    EXPECT_FALSE(listed());
    rewrite(code, cut_to(7)); // no length
    EXPECT_FALSE(listed());
    for (const std::uint32_t claimed : {0u, 9u, 0xFFFFFFFFu}) {
        rewrite(code, [=](hub_reply& reply) { write_u32(reply.data, 4, claimed); });
        EXPECT_FALSE(listed()) << claimed;
    }
    // The full answer is cut before the name's terminating zero.
    rewrite(code, [](hub_reply& reply) {
        if (reply.data.size() > 10) {
            reply.data.resize(reply.data.size() - 2);
        }
    });
    EXPECT_FALSE(listed());
    // The second answer claims another length than the first.
    rewrite(code, [](hub_reply& reply) {
        if (reply.data.size() > 10) {
            write_u32(reply.data, 4, static_cast<std::uint32_t>(reply.data.size() + 2));
        }
    });
    EXPECT_FALSE(listed());
}

TEST_F(hub_replies, a_configuration_that_is_not_delivered_whole_skips_the_port)
{
    const DWORD code = hub_ioctl::get_descriptor_from_node_connection;
    rewrite(code, fail, 0x0200);
    EXPECT_FALSE(listed());
    rewrite(code, cut_to(15), 0x0200); // no wTotalLength
    EXPECT_FALSE(listed());
    rewrite(code, [](hub_reply& reply) { reply.data[14] = 8; reply.data[15] = 0; }, 0x0200);
    EXPECT_FALSE(listed());
    // wTotalLength claims more than the second answer holds.
    rewrite(code, [](hub_reply& reply) { if (reply.data.size() > 21) reply.data.pop_back(); }, 0x0200);
    EXPECT_FALSE(listed());
    // The second answer names another total than the first.
    rewrite(code, [](hub_reply& reply) { if (reply.data.size() > 21) reply.data[14] ^= 1; }, 0x0200);
    EXPECT_FALSE(listed());
}

TEST_F(hub_replies, a_language_table_that_cannot_be_read_leaves_the_camera_without_texts)
{
    rewrite(hub_ioctl::get_descriptor_from_node_connection, fail, 0x0300);
    EXPECT_FALSE(listed());
    rewrite(hub_ioctl::get_descriptor_from_node_connection, [](hub_reply& reply) { reply.data[12] = 3; }, 0x0300);
    EXPECT_FALSE(listed());
}

// The manufacturer string (index 1) rewritten; the camera is listed only when
// the descriptor is accepted.
struct string_case {
    const char* name;
    std::function<void(bytes&)> change;
    bool accepted;
};

TEST_F(hub_replies, malformed_manufacturer_strings_are_refused)
{
    const std::vector<string_case> cases = {
        {"unchanged", [](bytes&) {}, true},
        {"odd bLength", [](bytes& d) { d[12] -= 1; d.pop_back(); }, false},
        {"bLength 0", [](bytes& d) { d.resize(12); d.push_back(0); d.push_back(3); }, false},
        {"bLength 1, one byte", [](bytes& d) { d.resize(13); d[12] = 1; }, false},
        {"bLength 0, nothing else", [](bytes& d) { d.resize(13); d[12] = 0; }, false},
        {"header only", [](bytes& d) { d.resize(12); }, false},
        {"bLength claims more than returned", [](bytes& d) { d[12] += 2; }, false},
        {"more returned than bLength", [](bytes& d) { d.push_back('x'); d.push_back(0); }, false},
        {"oversized bLength 255", [](bytes& d) { d[12] = 255; }, false},
        {"not a string descriptor", [](bytes& d) { d[13] = 2; }, false},
        {"bLength 2, empty text", [](bytes& d) { d.resize(14); d[12] = 2; }, false}, // empty manufacturer
    };
    for (const string_case& c : cases) {
        rewrite(hub_ioctl::get_descriptor_from_node_connection, [&](hub_reply& reply) { c.change(reply.data); },
                0x0301);
        EXPECT_EQ(listed(), c.accepted) << c.name;
    }
}

TEST_F(hub_replies, a_malformed_serial_number_leaves_only_that_text_empty)
{
    rewrite(hub_ioctl::get_descriptor_from_node_connection, [](hub_reply& reply) { reply.data[12] -= 1; }, 0x0303);
    const auto list = cameras();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].manufacturer, L"Corvane");
    EXPECT_EQ(list[0].serial_number, L"");
}

TEST_F(hub_replies, a_failing_port_does_not_stop_the_walk_over_the_next_ones)
{
    tree.add_camera(tree.root_hub(), 3, simulated_camera(u"SIM00003"));
    tree.set_reply_filter([](const hub_request& request, hub_reply& reply) {
        if (request.port == 1) {
            fail(reply);
        }
    });
    EXPECT_EQ(serials(), std::vector<std::wstring>{L"SIM00003"});
}

} // namespace
} // namespace usb_topology_test
