// Acknowledges that do not answer the command just sent, over a scripted
// device whose acknowledges queue up as a real one's do: one that the driver
// gave up waiting for arrives late, in front of the next command's.

#include "device_impl/u3v/gencp_port.h"
#include "device_impl/u3v/gencp_protocol.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <system_error>
#include <vector>

namespace {

using namespace u3v_com;
using bytes = std::vector<std::uint8_t>;

class hresult_category final : public std::error_category {
public:
    const char* name() const noexcept override { return "test HRESULT"; }
    std::string message(int) const override { return "HRESULT"; }
};
const hresult_category category;

std::error_code protocol(std::int32_t hresult) { return {hresult, category}; }

constexpr std::uint64_t reg_a = 0x10010;
constexpr std::uint64_t reg_b = 0x10014;
const std::error_code timed_out{121, std::system_category()}; // ERROR_SEM_TIMEOUT
const std::error_code no_acknowledge{31, std::system_category()};

class queued_device final : public gencp_transfer {
public:
    // Four-byte registers; unknown addresses read as zero.
    std::map<std::uint64_t, std::uint32_t> registers;
    // The next receive fails as the driver's time-out; the acknowledge stays
    // queued and comes with the receive after it.
    bool time_out_next_receive = false;
    // Changes the next acknowledge built (status, ids, length).
    std::function<void(bytes&)> bend_next;
    std::size_t receives = 0;

    std::error_code control_out(std::uint8_t request, std::span<const std::uint8_t> data) override
    {
        if (request != request_command || data.size() < prefix_size + 8) {
            return {};
        }
        const ack_header command = parse_ack_header(data);
        const std::uint64_t address = load_le<std::uint64_t>(data.data() + 12);
        bytes ack(prefix_size);
        if (command.command_id == command_readmem) {
            const std::uint16_t length = load_le<std::uint16_t>(data.data() + 22);
            bytes value(length);
            const std::uint32_t v = registers[address];
            for (std::size_t i = 0; i < length && i < 4; ++i) {
                value[i] = static_cast<std::uint8_t>(v >> (8 * i));
            }
            ack.insert(ack.end(), value.begin(), value.end());
        } else {
            registers[address] = load_le<std::uint32_t>(data.data() + writemem_header_size);
            ack.resize(writemem_ack_size);
        }
        store_le<std::uint32_t>(ack.data(), gencp_prefix);
        store_le<std::uint16_t>(ack.data() + 6, static_cast<std::uint16_t>(command.command_id + 1));
        store_le<std::uint16_t>(ack.data() + 8, static_cast<std::uint16_t>(ack.size() - prefix_size));
        store_le<std::uint16_t>(ack.data() + 10, command.request_id);
        if (bend_next) {
            std::exchange(bend_next, nullptr)(ack);
        }
        acks_.push_back(std::move(ack));
        return {};
    }

    std::error_code control_in(std::uint8_t request, std::span<std::uint8_t> data) override
    {
        if (request == request_max_read_size || request == request_max_write_size) {
            store_le<std::uint32_t>(data.data(), 600);
            return {};
        }
        ++receives;
        if (std::exchange(time_out_next_receive, false)) {
            return timed_out;
        }
        if (acks_.empty()) {
            return no_acknowledge;
        }
        const bytes ack = std::move(acks_.front());
        acks_.pop_front();
        std::copy_n(ack.begin(), std::min(ack.size(), data.size()), data.begin());
        return {};
    }

    // Leaves `n` stale acknowledges of earlier commands queued, as `n`
    // exchanges whose receive timed out do.
    void queue_stale_acknowledges(gencp_port& port, int n)
    {
        for (int i = 0; i < n; ++i) {
            time_out_next_receive = true;
            std::uint32_t value = 0;
            std::uint64_t got = 0;
            EXPECT_EQ(port.read_memory(reg_a, &value, 4, got), timed_out);
        }
    }

private:
    std::deque<bytes> acks_;
};

class test_port final : public gencp_port {
public:
    test_port() : gencp_port(category, cache_) {}
    // Limits, capability and name; the manifest walk over a device that has
    // none fails, which leaves the port bound and usable.
    void open_over(queued_device& device) { static_cast<void>(open(device)); }

private:
    genicam_file_cache cache_;
};

struct bench {
    queued_device device;
    test_port port;
    bench()
    {
        device.registers[reg_a] = 0xAAAA0001;
        device.registers[reg_b] = 0xBBBB0002;
        port.open_over(device);
    }
};

TEST(gencp_acknowledge, late_acknowledge_of_a_timed_out_read_is_discarded_not_taken_as_the_next_answer)
{
    bench b;
    b.device.queue_stale_acknowledges(b.port, 1);
    std::uint32_t value = 0;
    ASSERT_FALSE(b.port.read(reg_b, &value, 4, 0));
    EXPECT_EQ(value, 0xBBBB0002u) << "the answer to this command, not the late one";
    // Nothing is left queued: the next exchanges answer in step.
    ASSERT_FALSE(b.port.read(reg_a, &value, 4, 0));
    EXPECT_EQ(value, 0xAAAA0001u);

    // A write whose receive timed out: its late acknowledge does not answer
    // the read that follows.
    const std::uint32_t written = 0x12345678;
    b.device.time_out_next_receive = true;
    EXPECT_EQ(b.port.write(reg_a, &written, 4, 0), timed_out);
    ASSERT_FALSE(b.port.read(reg_b, &value, 4, 0));
    EXPECT_EQ(value, 0xBBBB0002u);
    // and a read's late acknowledge does not answer a write.
    b.device.queue_stale_acknowledges(b.port, 1);
    EXPECT_FALSE(b.port.write(reg_b, &written, 4, 0));
    ASSERT_FALSE(b.port.read(reg_b, &value, 4, 0));
    EXPECT_EQ(value, written);
}

TEST(gencp_acknowledge, stale_acknowledges_are_discarded_only_up_to_a_bound)
{
    {
        bench b;
        b.device.queue_stale_acknowledges(b.port, 3);
        std::uint32_t value = 0;
        ASSERT_FALSE(b.port.read(reg_b, &value, 4, 0));
        EXPECT_EQ(value, 0xBBBB0002u);
    }
    {
        // A device that keeps answering old commands ends the exchange:
        // the port does not read without end.
        bench b;
        b.device.queue_stale_acknowledges(b.port, 40);
        const std::size_t before = b.device.receives;
        std::uint32_t value = 0x5A5A5A5A;
        std::uint64_t got = 0;
        EXPECT_EQ(b.port.read_memory(reg_b, &value, 4, got), protocol(hr::fail));
        EXPECT_EQ(got, 0u);
        EXPECT_EQ(value, 0x5A5A5A5Au);
        EXPECT_LE(b.device.receives - before, 1u + gencp_port::max_stale_acks);
    }
}

TEST(gencp_acknowledge, an_acknowledge_for_another_command_fails_the_exchange_and_delivers_nothing)
{
    const struct {
        const char* name;
        bool write;
        std::function<void(bytes&)> bend;
    } cases[] = {
        {"read answered with request id 0", false, [](bytes& ack) { store_le<std::uint16_t>(ack.data() + 10, 0); }},
        {"read answered as a write", false,
         [](bytes& ack) { store_le<std::uint16_t>(ack.data() + 6, ack_writemem); }},
        {"write answered as a read", true, [](bytes& ack) { store_le<std::uint16_t>(ack.data() + 6, ack_readmem); }},
        {"write answered with a newer request id", true,
         [](bytes& ack) { store_le<std::uint16_t>(ack.data() + 10, load_le<std::uint16_t>(ack.data() + 10) + 7); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        bench b;
        b.device.bend_next = c.bend;
        if (c.write) {
            const std::uint32_t written = 7;
            EXPECT_EQ(b.port.write(reg_a, &written, 4, 0), protocol(hr::fail));
        } else {
            std::uint32_t value = 0x5A5A5A5A;
            std::uint64_t got = 0;
            EXPECT_EQ(b.port.read_memory(reg_a, &value, 4, got), protocol(hr::fail));
            EXPECT_EQ(got, 0u);
            EXPECT_EQ(value, 0x5A5A5A5Au) << "no data of an acknowledge that is not this command's";
        }
    }
}

TEST(gencp_acknowledge, stale_acknowledges_are_recognised_across_the_request_id_wrap)
{
    bench b;
    b.port.continue_request_ids_after(65534);
    b.device.queue_stale_acknowledges(b.port, 1); // sent as 65535
    std::uint32_t value = 0;
    ASSERT_FALSE(b.port.read(reg_b, &value, 4, 0)); // sent as 1
    EXPECT_EQ(value, 0xBBBB0002u);
    EXPECT_EQ(b.port.last_request_id(), 1);
}

} // namespace
