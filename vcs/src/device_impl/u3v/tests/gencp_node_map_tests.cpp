// The fetched description loaded into the node-map engine with the GenCP
// port as its Device port: feature access ends in the simulator's registers.

#include "u3v_test_bench.h"

#include "genicam/genicam_doc.h"
#include "genicam/iboolean.h"
#include "genicam/icommand.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"
#include "genicam/iregister.h"
#include "genicam/istring.h"

#include <memory>
#include <string>

namespace {

using u3v_test::u3v_bench;

template <typename T>
T* node(GenICam::impl::genicam_doc& doc, const char* name)
{
    auto* found = dynamic_cast<T*>(doc.find_node(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

class gencp_node_map : public ::testing::Test {
protected:
    // Loads `xml` (the fetched file unless given) and binds its Device port.
    void load(const std::string& xml = {})
    {
        ASSERT_TRUE(bench.start());
        ASSERT_FALSE(bench.open());
        const auto& file = bench.port.genicam_file();
        const std::string text = xml.empty() ? std::string(file.begin(), file.end()) : xml;
        doc = std::make_unique<GenICam::impl::genicam_doc>();
        ASSERT_TRUE(doc->load_xml(text.data(), text.size(), 1, 0));
        GenICam::IPort* port = doc->find_port("Device");
        ASSERT_NE(port, nullptr);
        ASSERT_FALSE(port->bind(&bench.port));
    }

    u3v_bench bench;
    std::unique_ptr<GenICam::impl::genicam_doc> doc;
};

TEST_F(gencp_node_map, features_read_and_write_the_camera_registers)
{
    ASSERT_NO_FATAL_FAILURE(load());
    auto* width = node<GenICam::IInteger>(*doc, "Width");
    ASSERT_NE(width, nullptr);
    EXPECT_EQ(width->get_val().value(), 640);
    ASSERT_FALSE(width->set_val(1280));
    EXPECT_EQ(bench.gencp.peek(sim_camera::reg_width, 4), (sim_camera::bytes{0x00, 0x05, 0, 0}));
    bench.gencp.poke(sim_camera::reg_width, {0x20, 0x03, 0, 0});
    EXPECT_EQ(width->get_val().value(), 800);

    auto* name = node<GenICam::IString>(*doc, "DeviceUserID");
    ASSERT_NE(name, nullptr);
    ASSERT_FALSE(name->set_val("left-cam"));
    const auto stored = bench.gencp.peek(sim_camera::reg_device_user_id, 16);
    EXPECT_EQ(std::string(stored.begin(), stored.begin() + 8), "left-cam");
    EXPECT_STREQ(name->get_val().value().c_str(), "left-cam"); // the register's padding follows

    auto* start = node<GenICam::ICommand>(*doc, "AcquisitionStart");
    auto* stop = node<GenICam::ICommand>(*doc, "AcquisitionStop");
    ASSERT_NE(start, nullptr);
    ASSERT_NE(stop, nullptr);
    ASSERT_FALSE(start->execute());
    EXPECT_EQ(bench.gencp.peek(sim_camera::reg_acquisition_start, 4), (sim_camera::bytes{1, 0, 0, 0}));
    EXPECT_EQ(bench.gencp.peek(sim_camera::reg_acquisition_stop, 4), (sim_camera::bytes{0, 0, 0, 0}));
    ASSERT_FALSE(stop->execute());
    EXPECT_EQ(bench.gencp.peek(sim_camera::reg_acquisition_stop, 4), (sim_camera::bytes{1, 0, 0, 0}));

    auto* chunks = node<GenICam::IBoolean>(*doc, "ChunkModeActive");
    ASSERT_NE(chunks, nullptr);
    EXPECT_FALSE(chunks->get_val().value());
    ASSERT_FALSE(chunks->set_val(true));
    EXPECT_EQ(bench.gencp.peek(sim_camera::reg_chunk_mode_active, 4), (sim_camera::bytes{1, 0, 0, 0}));
}

TEST_F(gencp_node_map, chunk_register_reads_the_attached_chunk_not_the_device)
{
    ASSERT_NO_FATAL_FAILURE(load());
    const std::size_t before = bench.gencp.commands().size();
    std::uint8_t chunk[8] = {0x2A, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_FALSE(doc->find_port("ChunkPort")->attach_chunk(0, chunk, sizeof chunk));
    auto* block_id = node<GenICam::IRegister>(*doc, "ChunkBlockId");
    ASSERT_NE(block_id, nullptr);
    std::uint8_t read[8]{};
    ASSERT_FALSE(block_id->get_bytes(read, sizeof read));
    EXPECT_EQ(read[0], 0x2A);
    EXPECT_EQ(bench.gencp.commands().size(), before);
}

TEST_F(gencp_node_map, address_the_camera_lacks_fails_the_node_access)
{
    std::string xml(sim_camera::description_xml_bytes().begin(), sim_camera::description_xml_bytes().end());
    const std::string missing = R"(<IntReg Name="Missing"><Address>0x7F000</Address><Length>4</Length>
        <AccessMode>RW</AccessMode><pPort>Device</pPort><Endianess>LittleEndian</Endianess></IntReg>)";
    xml.insert(xml.rfind("</RegisterDescription>"), missing);
    ASSERT_NO_FATAL_FAILURE(load(xml));
    auto* reg = node<GenICam::IInteger>(*doc, "Missing");
    ASSERT_NE(reg, nullptr);
    EXPECT_FALSE(reg->get_val().has_value());
    EXPECT_TRUE(reg->set_val(5));
    EXPECT_TRUE(bench.gencp.peek(0x7F000, 4).empty());
}

} // namespace
