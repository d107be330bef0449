// FloatReg, StringReg and Register through an in-memory device.

#include "genicam/ifloat.h"
#include "genicam/iregister.h"
#include "genicam/istring.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using genicam_test::bind_device;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using genicam_test::memory_device_port;
using GenICam::errc;
namespace flags = GenICam::access_flags;

std::error_code code(errc e)
{
    return make_error_code(e);
}

class block_test : public testing::Test {
protected:
    void load(const std::string& nodes)
    {
        log_capture log;
        doc_ = load_nodes(std::string(genicam_test::device_port) + nodes);
        bind_device(*doc_, device_);
        log_ = log.text();
    }
    template <class Iface>
    Iface& node(std::string_view name)
    {
        auto* i = dynamic_cast<Iface*>(doc_->find_node(name));
        EXPECT_NE(i, nullptr) << name;
        return *i;
    }

    memory_device_port device_;
    std::unique_ptr<GenICam::impl::genicam_doc> doc_;
    std::string log_;
};

TEST_F(block_test, float_registers_encode_single_and_double_precision)
{
    load(R"(
        <FloatReg Name="Big4"><Address>0x10</Address><Length>4</Length></FloatReg>
        <FloatReg Name="Little4"><Address>0x10</Address><Length>4</Length><Endianess>LittleEndian</Endianess></FloatReg>
        <FloatReg Name="Little8"><Address>0x20</Address><Length>8</Length><Endianess>LittleEndian</Endianess></FloatReg>
        <FloatReg Name="Short"><Address>0x30</Address><Length>2</Length></FloatReg>)");
    device_.put(0x10, {0x3F, 0x80, 0x00, 0x00});
    auto& big = node<GenICam::IFloat>("Big4");
    EXPECT_EQ(big.get_val().value(), 1.0);
    EXPECT_NEAR(node<GenICam::IFloat>("Little4").get_val().value(), 4.6e-41, 1e-43);

    EXPECT_FALSE(big.set_val(0.1));
    EXPECT_EQ(device_.get(0x10, 4), (std::vector<std::uint8_t>{0x3D, 0xCC, 0xCC, 0xCD}));
    EXPECT_EQ(big.get_val().value(), 0.10000000149011612);

    auto& wide = node<GenICam::IFloat>("Little8");
    EXPECT_FALSE(wide.set_val(-2.5)) << "no Min/Max check";
    EXPECT_EQ(wide.get_val().value(), -2.5);
    EXPECT_EQ(device_.get(0x27, 1)[0], 0xC0);
    EXPECT_EQ(wide.get_min().value(), 2.2250738585072014e-308);
    EXPECT_EQ(big.get_min().value(), 1.1754943508222875e-38);
    EXPECT_EQ(big.get_max().value(), 3.4028234663852886e38);
    EXPECT_EQ(big.get_inc().error(), code(errc::not_implemented));

    auto& short_reg = node<GenICam::IFloat>("Short");
    EXPECT_EQ(short_reg.get_val().error(), code(errc::index_out_of_range));
    log_capture log;
    EXPECT_EQ(short_reg.set_val(1.0), code(errc::index_out_of_range));
    EXPECT_NE(log.text().find("length value should be either 4 or 8. value=2."), std::string::npos);
}

TEST_F(block_test, string_registers_keep_zero_bytes_and_cache_what_they_wrote)
{
    load(R"(
        <StringReg Name="Text"><Address>0x100</Address><Length>8</Length></StringReg>
        <StringReg Name="Fresh"><Address>0x100</Address><Length>8</Length><Cachable>NoCache</Cachable></StringReg>)");
    device_.put(0x100, {'a', 'b', 'c', 0, 0, 0, 0, 0});
    auto& text = node<GenICam::IString>("Text");
    const auto read = text.get_val();
    ASSERT_TRUE(read);
    EXPECT_EQ(read.value(), std::string("abc\0\0\0\0\0", 8));

    EXPECT_FALSE(text.set_val("xyz"));
    EXPECT_EQ(device_.last_write_length, 8) << "the whole register";
    const int reads = device_.reads;
    EXPECT_EQ(text.get_val().value(), std::string("xyz\0\0\0\0\0", 8));
    EXPECT_EQ(device_.reads, reads) << "the written register answers the read";

    auto& fresh = node<GenICam::IString>("Fresh");
    EXPECT_TRUE(fresh.get_val());
    EXPECT_TRUE(fresh.get_val());
    EXPECT_EQ(device_.reads, reads + 2);
    EXPECT_EQ(fresh.set_val("a", flags::cache_only), code(errc::not_implemented));

    EXPECT_EQ(text.set_val("123456789"), code(errc::index_out_of_range)) << "longer than the register";
    EXPECT_EQ(device_.writes, 1);
}

// Each text set replaces the register whole: the camera's bytes, a read and
// the cache-only read that the settings saved at close take all give the text
// set, whatever was written before it and whatever the cache mode.
TEST_F(block_test, a_string_register_reads_back_exactly_the_text_set)
{
    load(R"(
        <StringReg Name="Through"><Address>0x100</Address><Length>8</Length></StringReg>
        <StringReg Name="Around"><Address>0x200</Address><Length>8</Length><Cachable>WriteAround</Cachable></StringReg>
        <StringReg Name="Uncached"><Address>0x300</Address><Length>8</Length><Cachable>NoCache</Cachable></StringReg>)");
    const auto padded = [](std::string text) {
        text.resize(8, '\0');
        return text;
    };
    const auto bytes = [](const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
    struct step {
        const char* text;
        const char* what;
    };
    const step steps[] = {
        {"ABCDEFG", "a text one short of the register"},
        {"Hi", "a shorter text over a longer one"},
        {"", "an empty text"},
        {"12345678", "a text of exactly the register's length"},
        {"Hi", "a short text over a full register"},
        {"1234567", "a text one short again"},
    };
    const std::pair<const char*, std::uint64_t> registers[] = {{"Through", 0x100}, {"Around", 0x200}, {"Uncached", 0x300}};
    for (const auto& [name, address] : registers) {
        SCOPED_TRACE(name);
        auto& text = node<GenICam::IString>(name);
        device_.put(address, {'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'});
        for (const step& s : steps) {
            SCOPED_TRACE(s.what);
            const int writes = device_.writes;
            ASSERT_FALSE(text.set_val(s.text));
            EXPECT_EQ(device_.writes, writes + 1) << "one write";
            EXPECT_EQ(device_.last_write_length, 8);
            EXPECT_EQ(device_.get(address, 8), bytes(padded(s.text)));
            EXPECT_EQ(text.get_val(flags::cache_only).value(), padded(s.text));
            EXPECT_EQ(text.get_val().value(), padded(s.text));
        }
        const int writes = device_.writes;
        EXPECT_EQ(text.set_val("123456789"), code(errc::index_out_of_range)) << "one past the register";
        EXPECT_EQ(device_.writes, writes);
        EXPECT_EQ(device_.get(address, 8), bytes(padded("1234567")));
        EXPECT_EQ(text.get_val(flags::cache_only).value(), padded("1234567"));
    }
    // A cache-only set keeps the register as a write would have left it.
    auto& through = node<GenICam::IString>("Through");
    ASSERT_FALSE(through.set_val("ok", flags::cache_only));
    EXPECT_EQ(through.get_val(flags::cache_only).value(), padded("ok"));
    EXPECT_EQ(device_.get(0x100, 8), bytes(padded("1234567"))) << "the camera is not written";
}

TEST_F(block_test, string_register_lengths_are_checked_and_failed_writes_not_cached)
{
    load(R"(
        <IntSwissKnife Name="Huge"><Formula>1 &lt;&lt; 40</Formula></IntSwissKnife>
        <IntSwissKnife Name="Minus"><Formula>-1</Formula></IntSwissKnife>
        <StringReg Name="HugeLen"><Address>0</Address><pLength>Huge</pLength></StringReg>
        <StringReg Name="Negative"><Address>0</Address><pLength>Minus</pLength></StringReg>
        <StringReg Name="Text"><Address>0x100</Address><Length>4</Length></StringReg>)");
    for (const char* name : {"HugeLen", "Negative"}) {
        EXPECT_EQ(node<GenICam::IString>(name).get_val().error(), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node<GenICam::IString>(name).set_val("a"), code(errc::index_out_of_range)) << name;
    }
    EXPECT_EQ(device_.calls(), 0);

    auto& text = node<GenICam::IString>("Text");
    device_.put(0x100, {'o', 'l', 'd', '!'});
    device_.fail_writes = true;
    EXPECT_EQ(text.set_val("new!"), code(errc::device_lost));
    device_.fail_writes = false;
    EXPECT_EQ(text.get_val(flags::cache_only).error(), code(errc::no_cached_value));
    EXPECT_EQ(text.get_val().value(), "old!");
}

TEST_F(block_test, register_nodes_give_raw_access_to_the_first_bytes)
{
    load(R"(
        <Register Name="Block"><Address>0x200</Address><Length>4</Length></Register>
        <Register Name="Portless"><Address>0</Address><Length>4</Length><pPort>Nowhere</pPort>
          <AccessMode>RO</AccessMode></Register>
        <Register Name="Polled"><Address>0</Address><Length>4</Length><PollingTime>250ms</PollingTime></Register>)");
    auto& block = node<GenICam::IRegister>("Block");
    std::uint8_t buffer[5] = {};
    EXPECT_EQ(block.get_bytes(buffer, 0), code(errc::invalid_parameter));
    EXPECT_EQ(block.get_bytes(buffer, 5), code(errc::invalid_parameter));
    EXPECT_EQ(device_.calls(), 0);
    device_.put(0x200, {1, 2, 3, 4});
    EXPECT_FALSE(block.get_bytes(buffer, 4));
    EXPECT_EQ(buffer[3], 4);
    const std::uint8_t data[2] = {9, 8};
    EXPECT_FALSE(block.set_bytes(data, 2));
    EXPECT_EQ(device_.get(0x200, 4), (std::vector<std::uint8_t>{9, 8, 3, 4}));
    EXPECT_EQ(block.get_address().value(), 0x200);
    EXPECT_EQ(block.get_length().value(), 4);
    EXPECT_EQ(node<GenICam::IRegister>("Polled").get_polling_time(), 250);
    EXPECT_FALSE(block.get_polling_time());

    auto& portless = node<GenICam::IRegister>("Portless");
    EXPECT_EQ(portless.set_bytes(data, 2), code(errc::not_implemented)) << "before the access check";
    EXPECT_EQ(portless.get_bytes(buffer, 2), code(errc::not_implemented));
    EXPECT_NE(log_.find("Register (\"Portless\"). Failed resolve port."), std::string::npos);
}

} // namespace
