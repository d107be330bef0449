// Raw register access as a property request through the GenCP port.

#include "u3v_test_bench.h"

#include "device_impl/u3v/u3v_gen_prop.h"

#include <cstring>
#include <vector>

namespace {

using u3v_test::cam_error;
using u3v_test::u3v_bench;

KsPropDataRequest request_for(std::uint32_t type, void* instance, std::uint32_t instance_size, void* value,
                              std::uint32_t value_size)
{
    KsPropDataRequest request;
    request.request_type = type;
    request.property_set = cam::PROPSETID_UVC_DRIVER;
    request.property_id = u3v_com::u3v_gen_prop::property_id;
    request.instance = instance;
    request.instance_size = instance_size;
    request.value = value;
    request.value_size = value_size;
    return request;
}

class gen_prop : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bench.start());
        ASSERT_FALSE(bench.open());
    }
    u3v_bench bench;
    u3v_com::u3v_gen_prop prop{bench.port};
};

TEST_F(gen_prop, get_reads_the_value_length_at_the_instance_address_and_set_writes_it)
{
    bench.gencp.poke(sim_camera::reg_width, {0x80, 0x02, 0, 0});
    std::uint64_t address = sim_camera::reg_width;
    std::uint8_t value[4] = {};
    auto get = request_for(KsPropDataRequest::get, &address, 8, value, 4);
    ASSERT_FALSE(prop.get_request(get));
    EXPECT_EQ(get.bytes_returned, 4u);
    EXPECT_EQ(value[0], 0x80);
    EXPECT_EQ(value[1], 0x02);

    std::uint8_t updated[4] = {0x00, 0x04, 0, 0};
    auto set = request_for(KsPropDataRequest::set, &address, 8, updated, 4);
    ASSERT_FALSE(prop.set_request(set));
    EXPECT_EQ(bench.gencp.peek(sim_camera::reg_width, 4), (sim_camera::bytes{0x00, 0x04, 0, 0}));
}

TEST_F(gen_prop, shorter_acknowledge_succeeds_with_fewer_bytes_returned)
{
    sim_camera::gencp_fault fault;
    fault.address = sim_camera::reg_width;
    fault.ack_length = 3;
    bench.gencp.add_fault(fault);
    std::uint64_t address = sim_camera::reg_width;
    std::uint8_t value[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    auto get = request_for(KsPropDataRequest::get, &address, 8, value, 4);
    ASSERT_FALSE(prop.get_request(get));
    EXPECT_EQ(get.bytes_returned, 3u);
    EXPECT_EQ(value[3], 0xEE);
}

TEST_F(gen_prop, bad_requests_are_refused_before_any_traffic)
{
    std::uint8_t instance[8] = {};
    std::uint8_t value[4] = {};
    const std::size_t before = bench.gencp.commands().size();
    const struct {
        const char* name;
        void* instance;
        std::uint32_t instance_size;
        void* value;
        std::uint32_t value_size;
    } cases[] = {
        {"7-byte instance", instance, 7, value, 4},
        {"no instance", nullptr, 8, value, 4},
        {"no value buffer", instance, 8, nullptr, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto get = request_for(KsPropDataRequest::get, c.instance, c.instance_size, c.value, c.value_size);
        EXPECT_EQ(prop.get_request(get), cam_error(0x80070057));
        EXPECT_EQ(get.bytes_returned, 0u);
        auto set = request_for(KsPropDataRequest::set, c.instance, c.instance_size, c.value, c.value_size);
        EXPECT_EQ(prop.set_request(set), cam_error(0x80070057));
    }
    EXPECT_EQ(bench.gencp.commands().size(), before);
}

// One client's raw access must not hold the camera's request lock for
// minutes: above 1 MiB it is refused before any exchange, up to it it runs.
TEST_F(gen_prop, raw_access_above_one_mib_is_refused_before_any_traffic)
{
    constexpr std::uint32_t limit = 1024 * 1024;
    constexpr std::uint64_t block = 0x400000;
    bench.gencp.add_register(block, u3v_test::pattern(limit, 9), false);
    std::uint64_t address = block;
    std::vector<std::uint8_t> value(limit + 1);
    u3v_test::log_lines log;
    const std::size_t before = bench.gencp.commands().size();
    auto get = request_for(KsPropDataRequest::get, &address, 8, value.data(), limit + 1);
    EXPECT_EQ(prop.get_request(get), cam_error(0x80070057));
    EXPECT_EQ(get.bytes_returned, 0u);
    auto set = request_for(KsPropDataRequest::set, &address, 8, value.data(), limit + 1);
    EXPECT_EQ(prop.set_request(set), cam_error(0x80070057));
    EXPECT_EQ(bench.gencp.commands().size(), before);
    EXPECT_EQ(log.count("u3v_com::u3v_gen_prop::get_request, refused a raw read of 1048577 bytes"), 1u);
    EXPECT_EQ(log.count("u3v_com::u3v_gen_prop::set_request, refused a raw write of 1048577 bytes"), 1u);

    auto largest = request_for(KsPropDataRequest::get, &address, 8, value.data(), limit);
    ASSERT_FALSE(prop.get_request(largest));
    EXPECT_EQ(largest.bytes_returned, limit);
    EXPECT_EQ(std::vector<std::uint8_t>(value.begin(), value.begin() + limit), u3v_test::pattern(limit, 9));
}

TEST_F(gen_prop, device_errors_reach_the_caller)
{
    std::uint64_t address = 0x7F000; // no such register
    std::uint8_t value[4] = {};
    auto get = request_for(KsPropDataRequest::get, &address, 8, value, 4);
    EXPECT_EQ(prop.get_request(get), cam_error(0x80070057));
    address = 0x1C4; // read-only
    auto set = request_for(KsPropDataRequest::set, &address, 8, value, 4);
    EXPECT_EQ(prop.set_request(set), cam_error(0x80070005));
}

} // namespace
