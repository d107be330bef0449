// The GenCP port over the driver library and the simulated camera: open,
// splitting of long accesses, request ids, acknowledge checks and the
// device's limits.

#include "u3v_test_bench.h"

#include "device_impl/u3v/gencp_protocol.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <thread>

namespace {

using u3v_test::cam_error;
using u3v_test::log_lines;
using u3v_test::pattern;
using u3v_test::u3v_bench;

constexpr std::uint16_t readmem = 0x0800;
constexpr std::uint16_t writemem = 0x0802;
constexpr std::uint64_t block = 0x30000;

// The first four bytes as the port's trace line shows them.
std::string u3v_hex(const std::vector<std::uint8_t>& bytes)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", u3v_com::load_le<std::uint32_t>(bytes.data()));
    return text;
}

TEST(gencp_open, reads_limits_capability_name_manifest_and_file_with_stepping_request_ids)
{
    log_lines log;
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    EXPECT_EQ(bench.port.genicam_file(), u3v_test::description());
    EXPECT_EQ(bench.port.max_read_size(), 600u);
    EXPECT_EQ(bench.port.max_write_size(), 600u);
    EXPECT_EQ(bench.port.device_caps(), 1u);
    EXPECT_EQ(log.count("[CamTovra] U3V dev, max_read_size=600, max_write_size=600.\n"), 1u);
    EXPECT_EQ(log.count("[CamTovra] U3V-Device caps=0x1, encoding=0.\n"), 1u);
    EXPECT_EQ(log.count("[CamTovra] U3V Device has user defined name=SimCam-1.\n"), 1u);
    EXPECT_EQ(log.count("[CamTovra] Manifest table address is=0x100000, entry_count=1.\n"), 1u);
    EXPECT_EQ(log.count("[CamTovra]     MFT genicam_file_version=0x1000000, schema/type=0x1010400, type=1, "
                        "addr=0x200000"),
              1u);

    // The driver saw the two limits, then command and acknowledge pairs.
    const auto log_records = bench.io.camera.control_log();
    ASSERT_GE(log_records.size(), 4u);
    EXPECT_EQ(log_records[0].setup.request, 0x23);
    EXPECT_EQ(log_records[1].setup.request, 0x22);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(log_records[i].setup.vendor);
        EXPECT_TRUE(log_records[i].setup.device_to_host);
        EXPECT_EQ(log_records[i].setup.length, 4);
    }
    std::uint16_t expected_id = 2; // the counter starts at 1 and steps before each command
    for (std::size_t i = 2; i < log_records.size(); i += 2) {
        const auto& command = log_records[i];
        ASSERT_FALSE(command.setup.device_to_host) << i;
        EXPECT_EQ(command.setup.request, 0x30);
        EXPECT_EQ(command.setup.value, 0);
        EXPECT_EQ(command.setup.index, 0);
        EXPECT_EQ(command.setup.recipient, 0);
        ASSERT_EQ(command.out_data.size(), 24u) << "READMEM commands only";
        EXPECT_EQ(u3v_com::load_le<std::uint16_t>(command.out_data.data() + 6), readmem);
        EXPECT_EQ(u3v_com::load_le<std::uint16_t>(command.out_data.data() + 10), expected_id++);
        ASSERT_LT(i + 1, log_records.size());
        const auto& ack = log_records[i + 1];
        EXPECT_TRUE(ack.setup.device_to_host);
        EXPECT_EQ(ack.setup.length, u3v_com::load_le<std::uint16_t>(command.out_data.data() + 22) + 12);
    }
    // caps, name, table address, count, entries, then the file in exchanges.
    const auto& commands = bench.gencp.commands();
    ASSERT_GE(commands.size(), 6u);
    EXPECT_EQ(commands[0].address, 0x1C4u);
    EXPECT_EQ(commands[1].address, 0x184u);
    EXPECT_EQ(commands[2].address, 0x1D0u);
    EXPECT_EQ(commands[3].address, 0x100000u);
    EXPECT_EQ(commands[4].address, 0x100008u);
    EXPECT_EQ(commands[5].address, 0x200000u);
}

TEST(gencp_open, without_a_name_reads_none)
{
    log_lines log;
    u3v_bench bench;
    bench.gencp.set_user_defined_name("Hidden", false);
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    EXPECT_EQ(bench.gencp.readmem_count(0x184, 64), 0u);
    EXPECT_EQ(log.count("user defined name="), 0u);
}

TEST(gencp_exchange, long_read_and_write_are_split_at_the_device_limits)
{
    log_lines log;
    u3v_bench bench;
    const auto data = pattern(1000, 7);
    bench.gencp.add_register(block, data, false);
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    const std::size_t before = bench.gencp.commands().size();

    std::vector<std::uint8_t> read(1000);
    ASSERT_FALSE(bench.port.read(block, read.data(), 1000, 0));
    EXPECT_EQ(read, data);
    const auto written = pattern(600, 99);
    ASSERT_FALSE(bench.port.write(block + 100, written.data(), 600, 0));
    EXPECT_EQ(bench.gencp.peek(block + 100, 600), written);

    const auto commands = bench.gencp.commands();
    ASSERT_EQ(commands.size(), before + 4);
    const struct {
        std::uint16_t id;
        std::uint64_t address;
        std::uint32_t length;
        std::size_t size;
    } expected[] = {{readmem, block, 588, 24},
                    {readmem, block + 588, 412, 24},
                    {writemem, block + 100, 580, 600},
                    {writemem, block + 680, 20, 40}};
    for (std::size_t i = 0; i < 4; ++i) {
        const auto& c = commands[before + i];
        EXPECT_EQ(c.command_id, expected[i].id) << i;
        EXPECT_EQ(c.address, expected[i].address) << i;
        EXPECT_EQ(c.length, expected[i].length) << i;
        EXPECT_EQ(c.size, expected[i].size) << i;
    }
    std::uint8_t two[2];
    ASSERT_FALSE(bench.port.read(block, two, 2, 0));
    EXPECT_EQ(log.count("U3V read, @address=0x30000 len=1000. data(int32)=0x" + u3v_hex(data) +
                        ", status=ec=\"Success\".\n"),
              1u);
    EXPECT_EQ(log.count(">> U3V write, @address=0x30064 len=600. data(int32)=0x" + u3v_hex(written) + ".\n"), 1u);
    EXPECT_EQ(log.count("U3V read, @address=0x30000 len=2, status=ec=\"Success\".\n"), 1u);
}

TEST(gencp_exchange, request_id_after_65535_is_1)
{
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    bench.port.continue_request_ids_after(65534);
    std::uint8_t value[4];
    ASSERT_FALSE(bench.port.read(sim_camera::reg_width, value, 4, 0));
    ASSERT_FALSE(bench.port.write(sim_camera::reg_width, value, 4, 0));
    ASSERT_FALSE(bench.port.read(sim_camera::reg_width, value, 4, 0));
    const auto commands = bench.gencp.commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(commands[commands.size() - 3].request_id, 65535);
    EXPECT_EQ(commands[commands.size() - 2].request_id, 1);
    EXPECT_EQ(commands[commands.size() - 1].request_id, 2);
}

// A stream's acquisition command and a page's property read reach the port
// from two threads: neither may take the other's acknowledge.
TEST(gencp_exchange, exchanges_from_two_threads_each_get_their_own_acknowledge)
{
    log_lines log;
    u3v_bench bench;
    const auto first = pattern(8, 1);
    const auto second = pattern(8, 2);
    bench.gencp.add_register(block, first, false);
    bench.gencp.add_register(block + 0x100, second, false);
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());

    constexpr int rounds = 300;
    std::atomic<int> wrong{0};
    std::atomic<int> failed{0};
    const auto reader = [&](std::uint64_t address, const std::vector<std::uint8_t>& expected) {
        std::vector<std::uint8_t> value(8);
        for (int i = 0; i < rounds; ++i) {
            if (bench.port.read(address, value.data(), 8, 0)) {
                ++failed;
            } else if (value != expected) {
                ++wrong;
            }
            if (bench.port.write(address, expected.data(), 8, 0)) {
                ++failed;
            }
        }
    };
    std::thread a(reader, block, std::cref(first));
    std::thread b(reader, block + 0x100, std::cref(second));
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(failed.load(), 0);
    EXPECT_EQ(log.count("Received ack"), 0u);
}

TEST(gencp_exchange, acknowledge_status_and_ids_decide_the_result)
{
    constexpr std::uint32_t ok = 0;
    const struct {
        const char* name;
        std::uint16_t command_id;
        std::optional<std::uint16_t> status;
        int request_id_offset;
        int command_id_offset;
        std::uint32_t expected;
        bool logged;
    } cases[] = {
        {"busy read", readmem, 0x8007, 0, 0, 0x8000000A, true},
        {"busy write", writemem, 0x8007, 0, 0, 0x8000000A, true},
        {"info status with matching ids", readmem, 0x0001, 0, 0, ok, false},
        {"info status with a wrong request id", readmem, 0x0001, 1, 0, 0x80004005, true},
        {"info status write with a wrong request id", writemem, 0x0001, 1, 0, 0x80004005, true},
        {"wrong command id, status 0", readmem, std::nullopt, 0, 5, 0x80004005, true},
        {"newer request id, status 0", writemem, std::nullopt, 1, 0, 0x80004005, true},
        {"newer request id, status 0, read", readmem, std::nullopt, 1, 0, 0x80004005, true},
        {"error status of another command", readmem, 0x8003, 0, 5, 0x80004005, true},
        {"not implemented", readmem, 0x8001, 0, 0, 0x80004001, true},
        {"invalid parameter", writemem, 0x8002, 0, 0, 0x80070057, true},
        {"bad alignment", readmem, 0x8005, 0, 0, 0x80070057, true},
        {"write protect", writemem, 0x8004, 0, 0, 0x80070005, true},
        {"message timeout", readmem, 0x800B, 0, 0, 0x80070005, true},
        {"unknown error status", readmem, 0x8010, 0, 0, 0x80004005, true},
        {"status just above busy", readmem, 0x8008, 0, 0, 0x80004005, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        u3v_bench bench;
        ASSERT_TRUE(bench.start());
        ASSERT_FALSE(bench.open());
        sim_camera::gencp_fault fault;
        fault.command_id = c.command_id;
        fault.count = 1;
        fault.status = c.status;
        fault.request_id_offset = c.request_id_offset;
        fault.command_id_offset = c.command_id_offset;
        bench.gencp.add_fault(fault);
        log_lines log;
        std::uint8_t value[4] = {1, 2, 3, 4};
        const std::error_code ec = c.command_id == readmem ? bench.port.read(sim_camera::reg_width, value, 4, 0)
                                                           : bench.port.write(sim_camera::reg_width, value, 4, 0);
        EXPECT_EQ(ec, c.expected == ok ? std::error_code() : cam_error(c.expected));
        EXPECT_EQ(log.count("[CamTovra] Received ack with"), c.logged ? 1u : 0u);
    }
}

TEST(gencp_exchange, unknown_and_read_only_addresses_come_back_as_the_device_says)
{
    log_lines log;
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    std::uint8_t value[4] = {};
    EXPECT_EQ(bench.port.read(0x7000000, value, 4, 0), cam_error(0x80070057));
    EXPECT_EQ(log.count("[CamTovra] Received ack with status=8003, command_id=0x801"), 1u);
    EXPECT_EQ(bench.port.write(0x1C4, value, 4, 0), cam_error(0x80070005));
    EXPECT_EQ(log.count("[CamTovra] Received ack with, gencp_status=8006, command_id=0x803"), 1u);
    EXPECT_EQ(bench.gencp.peek(0x1C4, 1), sim_camera::bytes{1});
}

TEST(gencp_exchange, overflowing_address_fails_before_any_traffic)
{
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    const std::size_t before = bench.io.camera.control_log().size();
    std::uint8_t value[8] = {};
    const std::uint64_t last = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(bench.port.read(last - 3, value, 8, 0), cam_error(0x80070057));
    EXPECT_EQ(bench.port.write(last - 6, value, 8, 0), cam_error(0x80070057));
    EXPECT_EQ(bench.port.read(0, value, -1, 0), cam_error(0x80070057));
    EXPECT_EQ(bench.io.camera.control_log().size(), before);
}

TEST(gencp_exchange, short_acknowledge_delivers_only_what_the_device_sent)
{
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    bench.gencp.poke(sim_camera::reg_width, {0x11, 0x22, 0x33, 0x44});
    sim_camera::gencp_fault fault;
    fault.address = sim_camera::reg_width;
    fault.ack_length = 2;
    bench.gencp.add_fault(fault);

    std::uint8_t value[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    std::uint64_t bytes_read = 0;
    ASSERT_FALSE(bench.port.read_memory(sim_camera::reg_width, value, 4, bytes_read));
    EXPECT_EQ(bytes_read, 2u);
    EXPECT_EQ(value[0], 0x11);
    EXPECT_EQ(value[1], 0x22);
    EXPECT_EQ(value[2], 0xEE) << "nothing beyond what the device sent";
    EXPECT_EQ(bench.port.read(sim_camera::reg_width, value, 4, 0), cam_error(0x80070057));
}

TEST(gencp_exchange, acknowledge_claiming_more_than_it_sent_reads_zeros_not_old_memory)
{
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    // The device claims 40 bytes of data but its transfer stops after 2: the
    // receive buffer was cleared, so the missing bytes are zero.
    const auto data = pattern(600, 3);
    bench.gencp.add_register(block, data, false);
    std::vector<std::uint8_t> big(588);
    ASSERT_FALSE(bench.port.read(block, big.data(), 588, 0));
    sim_camera::gencp_fault fault;
    fault.address = block;
    fault.sent_length = 2;
    fault.count = 1;
    bench.gencp.add_fault(fault);
    std::vector<std::uint8_t> value(40, 0xEE);
    ASSERT_FALSE(bench.port.read(block, value.data(), 40, 0));
    EXPECT_EQ(value[0], data[0]);
    EXPECT_EQ(value[1], data[1]);
    EXPECT_TRUE(std::all_of(value.begin() + 2, value.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(gencp_limits, sizes_that_leave_no_room_fail_open_before_any_register_read)
{
    const struct {
        std::uint32_t read;
        std::uint32_t write;
    } cases[] = {{0, 600}, {12, 600}, {600, 20}, {600, 0}, {12, 20}, {13, 19}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.read << "/" << c.write);
        u3v_bench bench;
        bench.gencp.set_limits(c.read, c.write);
        ASSERT_TRUE(bench.start());
        EXPECT_EQ(bench.open(), cam_error(0x80070057));
        EXPECT_TRUE(bench.gencp.commands().empty());
        EXPECT_EQ(bench.port.max_read_size(), 600u);
        EXPECT_TRUE(bench.port.genicam_file().empty());
    }
}

TEST(gencp_limits, sizes_above_the_data_stage_are_used_as_65535)
{
    u3v_bench bench;
    bench.gencp.set_limits(70000, 70000);
    const auto data = pattern(70000, 5);
    bench.gencp.add_register(block, data, false);
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    EXPECT_EQ(bench.port.max_read_size(), 65535u);
    EXPECT_EQ(bench.port.max_write_size(), 65535u);
    const std::size_t before = bench.gencp.commands().size();
    std::vector<std::uint8_t> read(70000);
    ASSERT_FALSE(bench.port.read(block, read.data(), 70000, 0));
    EXPECT_EQ(read, data);
    const auto written = pattern(70000, 77);
    ASSERT_FALSE(bench.port.write(block, written.data(), 70000, 0));
    EXPECT_EQ(bench.gencp.peek(block, 70000), written);
    const auto commands = bench.gencp.commands();
    ASSERT_EQ(commands.size(), before + 4);
    EXPECT_EQ(commands[before].length, 65523u);
    EXPECT_EQ(commands[before + 1].length, 70000u - 65523u);
    EXPECT_EQ(commands[before + 2].length, 65515u);
    EXPECT_EQ(commands[before + 3].length, 70000u - 65515u);
}

TEST(gencp_transport, driver_failures_pass_through_unchanged)
{
    log_lines log;
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    ASSERT_FALSE(bench.open());
    // The acknowledge never comes: the driver ends the transfer.
    sim_camera::gencp_fault fault;
    fault.address = sim_camera::reg_width;
    fault.stall = true;
    fault.count = 1;
    bench.gencp.add_fault(fault);
    std::uint8_t value[4];
    const std::error_code stalled = bench.port.read(sim_camera::reg_width, value, 4, 0);
    EXPECT_EQ(stalled.category(), std::system_category());
    EXPECT_NE(stalled.value(), 0);
    EXPECT_FALSE(bench.port.read(sim_camera::reg_width, value, 4, 0)) << "the next exchange works again";

    bench.io.remove_device();
    const std::error_code gone = bench.port.write(sim_camera::reg_width, value, 4, 0);
    EXPECT_EQ(gone.category(), std::system_category());
    EXPECT_NE(gone.value(), 0);
}

TEST(gencp_transport, failed_limit_read_is_logged_and_returned)
{
    log_lines log;
    u3v_bench bench;
    ASSERT_TRUE(bench.start());
    bench.io.camera.controls_never_complete = true;
    const std::error_code ec = bench.open();
    EXPECT_EQ(ec.category(), std::system_category());
    EXPECT_NE(ec.value(), 0);
    EXPECT_EQ(log.count("[CamTovra] Failed to read the max_read_size_ entry in the U3V interface, status="), 1u);
    bench.io.camera.controls_never_complete = false;
}

} // namespace
