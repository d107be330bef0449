// Device and chunk ports: binding, forwarding, chunk bounds and chunk ids.

#include "genicam/iinteger.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using genicam_test::load_nodes;
using genicam_test::log_capture;
using genicam_test::memory_device_port;
using GenICam::errc;
using GenICam::IPort;

std::error_code code(errc e)
{
    return make_error_code(e);
}

IPort& port(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    IPort* p = doc.find_port(name);
    EXPECT_NE(p, nullptr) << name;
    return *p;
}

TEST(port_device, forwards_only_while_bound_and_refuses_a_second_binding)
{
    log_capture log;
    auto doc = load_nodes(R"(<Port Name="Device"/>)");
    IPort& p = port(*doc, "");
    EXPECT_EQ(p.get_node_type(), GenICam::node_type::Port);
    std::uint8_t byte = 0;
    EXPECT_EQ(p.read(0, &byte, 1, 0), code(errc::invalid_parameter));
    EXPECT_FALSE(p.is_bound());

    memory_device_port first;
    memory_device_port second;
    first.put(0x10, {0xAB});
    EXPECT_FALSE(p.bind(&first));
    EXPECT_EQ(p.bind(&second), code(errc::access_denied));
    EXPECT_FALSE(p.read(0x10, &byte, 1, 0));
    EXPECT_EQ(byte, 0xAB);
    EXPECT_EQ(first.reads, 1);
    EXPECT_EQ(second.calls(), 0);

    p.unbind();
    EXPECT_FALSE(p.is_bound());
    EXPECT_EQ(p.write(0, &byte, 1, 0), code(errc::invalid_parameter));
    EXPECT_FALSE(p.bind(&second));
    EXPECT_FALSE(p.write(0x20, &byte, 1, 0));
    EXPECT_EQ(second.get(0x20, 1)[0], 0xAB);

    EXPECT_EQ(p.attach_chunk(0, &byte, 1), code(errc::not_implemented));
    EXPECT_EQ(p.get_chunk_id(0).error(), code(errc::not_implemented));
    const std::string text = log.text();
    EXPECT_EQ(genicam_test::count_of(text, "IPort (\"Device\"). Failed due to no bind called.\\n"), 2u);
    EXPECT_NE(text.find("IPort (\"Device\"). Failed due it already being bound.\\n"), std::string::npos);
}

TEST(port_chunk, serves_accesses_inside_the_attached_block_only)
{
    log_capture log;
    auto doc = load_nodes(R"(<Port Name="Chunk"><ChunkID>1A</ChunkID></Port>)");
    IPort& p = port(*doc, "Chunk");
    EXPECT_EQ(p.get_chunk_id(0).value(), 26);
    EXPECT_EQ(p.bind(nullptr), code(errc::not_implemented));

    std::uint8_t block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    std::uint8_t out[8] = {};
    EXPECT_EQ(p.read(0x100, out, 1, 0), code(errc::invalid_parameter)) << "nothing attached";
    EXPECT_FALSE(p.attach_chunk(0x100, block, 8));
    EXPECT_TRUE(p.is_bound());
    std::uint8_t other[2] = {};
    EXPECT_EQ(p.attach_chunk(0, other, 2), code(errc::access_denied));

    EXPECT_FALSE(p.read(0x104, out, 4, 0));
    EXPECT_EQ(out[0], 5);
    EXPECT_FALSE(p.read(0x108, out, 0, 0)) << "0 bytes at the end of the block";
    EXPECT_EQ(p.read(0x108, out, 1, 0), code(errc::index_out_of_range));
    EXPECT_EQ(p.read(0xFF, out, 1, 0), code(errc::invalid_address));
    EXPECT_EQ(p.read(0x109, out, 0, 0), code(errc::invalid_address));
    // Sums that overflow 64 bits stay refused.
    EXPECT_EQ(p.read(0x101, out, std::numeric_limits<std::int64_t>::max(), 0), code(errc::index_out_of_range));
    EXPECT_EQ(p.read(std::numeric_limits<std::uint64_t>::max(), out, 2, 0), code(errc::invalid_address));
    EXPECT_EQ(p.write(0x100, out, -1, 0), code(errc::index_out_of_range));

    const std::uint8_t value[2] = {0xEE, 0xFF};
    EXPECT_FALSE(p.write(0x106, value, 2, 0));
    EXPECT_EQ(block[6], 0xEE);
    EXPECT_EQ(block[7], 0xFF);
    EXPECT_EQ(p.write(0x107, value, 2, 0), code(errc::index_out_of_range));

    p.unbind();
    EXPECT_FALSE(p.is_bound());
    EXPECT_FALSE(p.attach_chunk(0, other, 2)) << "attachable again after unbind";
    const std::string text = log.text();
    EXPECT_NE(text.find("IPort (\"Chunk\"). Failed due to out of range data_len=1 parameter.\\n"), std::string::npos);
    EXPECT_NE(text.find("IPort (\"Chunk\"). oFailed due to out of range data_len=2 parameter.\\n"),
              std::string::npos);
    EXPECT_NE(text.find("IPort (\"Chunk\"). Failed due to out of range address=255 parameter.\\n"),
              std::string::npos);
}

TEST(port_chunk, takes_its_id_from_a_node_or_reports_none)
{
    log_capture log;
    auto doc = load_nodes(R"(
        <IntSwissKnife Name="Id"><Formula>0x42</Formula></IntSwissKnife>
        <Port Name="Linked"><pChunkID>Id</pChunkID></Port>
        <Port Name="Broken"><ChunkID/></Port>
        <Port Name="Missing"><pChunkID>Nowhere</pChunkID></Port>)");
    EXPECT_EQ(port(*doc, "Linked").get_chunk_id(0).value(), 0x42);
    EXPECT_EQ(port(*doc, "Broken").get_chunk_id(0).error(), code(errc::not_implemented));
    EXPECT_EQ(port(*doc, "Missing").get_chunk_id(0).error(), code(errc::not_implemented));
    EXPECT_EQ(genicam_test::count_of(log.text(), "Failed to fetch ChunkID or pChunkID.\\n"), 2u);
}

TEST(port_chunk, registers_read_chunk_data_through_it)
{
    auto doc = load_nodes(R"(
        <Port Name="ChunkPort"><ChunkID>7</ChunkID></Port>
        <IntReg Name="Counter"><Address>0x204</Address><Length>2</Length><pPort>ChunkPort</pPort>
          <Endianess>LittleEndian</Endianess></IntReg>)");
    auto* counter = dynamic_cast<GenICam::IInteger*>(doc->find_node("Counter"));
    ASSERT_NE(counter, nullptr);
    {
        log_capture log;
        EXPECT_EQ(counter->get_val().error(), code(errc::invalid_parameter)) << "no chunk attached yet";
    }
    std::uint8_t block[8] = {0, 0, 0, 0, 0x34, 0x12, 0, 0};
    ASSERT_FALSE(port(*doc, "ChunkPort").attach_chunk(0x200, block, 8));
    EXPECT_EQ(counter->get_val().value(), 0x1234);
}

} // namespace
