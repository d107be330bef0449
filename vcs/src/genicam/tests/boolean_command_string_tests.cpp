#include "genicam/iboolean.h"
#include "genicam/icommand.h"
#include "genicam/iinteger.h"
#include "genicam/istring.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

namespace {

using genicam_test::count_of;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using GenICam::errc;

template <class Iface>
Iface& node(GenICam::impl::genicam_doc& doc, std::string_view name)
{
    auto* n = dynamic_cast<Iface*>(doc.find_node(name));
    EXPECT_NE(n, nullptr) << name;
    return *n;
}

TEST(boolean_nodes, map_true_and_false_onto_on_and_off_values)
{
    log_capture log;
    auto doc = load_nodes(R"(<Boolean Name="Plain"><Value>true</Value></Boolean>
        <Boolean Name="Hex"><Value>0</Value><OnValue>0x10</OnValue><OffValue>0x20</OffValue></Boolean>
        <Boolean Name="Odd"><Value>True</Value><OnValue>5</OnValue><OffValue>3</OffValue></Boolean>
        <Boolean Name="Same"><Value>1</Value><OnValue>4</OnValue><OffValue>4</OffValue></Boolean>)");
    auto& plain = node<GenICam::IBoolean>(*doc, "Plain");
    EXPECT_TRUE(plain.get_val(0).value());
    EXPECT_FALSE(plain.set_val(false, 0));
    EXPECT_FALSE(plain.get_val(0).value());
    auto& hex = node<GenICam::IBoolean>(*doc, "Hex");
    EXPECT_FALSE(hex.get_val(0).value());
    EXPECT_FALSE(node<GenICam::IBoolean>(*doc, "Odd").get_val(0).value()) << "0 is neither: nonzero test";
    auto& same = node<GenICam::IBoolean>(*doc, "Same");
    EXPECT_TRUE(same.get_val(0).value());
    EXPECT_FALSE(same.set_val(false, 0));
    EXPECT_TRUE(same.get_val(0).value());
    const std::string lines = log.text();
    EXPECT_EQ(count_of(lines, "Boolean (\"Odd\"). Failed to parse or resolve \"Value\" xml element.\n"), 1u);
    EXPECT_EQ(count_of(lines, "Boolean (\"Odd\"). Invalid floating_value contents=0.\n"), 1u);
}

TEST(boolean_nodes, default_comes_from_the_extension_and_pvalue_reads_its_target)
{
    log_capture log;
    auto doc = load_nodes(R"(<Boolean Name="D1"><Value>0</Value><Extension><Default>1</Default></Extension></Boolean>
        <Boolean Name="D0"><Value>0</Value><Extension><Default>0</Default></Extension></Boolean>
        <Boolean Name="None"><Value>0</Value></Boolean>
        <Integer Name="I"><Value>7</Value></Integer>
        <Boolean Name="Linked"><pValue>I</pValue><Value>true</Value></Boolean>)");
    EXPECT_TRUE(node<GenICam::IBoolean>(*doc, "D1").get_default(0).value());
    EXPECT_FALSE(node<GenICam::IBoolean>(*doc, "D0").get_default(0).value());
    EXPECT_EQ(node<GenICam::IBoolean>(*doc, "None").get_default(0).error(), errc::not_implemented);
    auto& linked = node<GenICam::IBoolean>(*doc, "Linked");
    EXPECT_TRUE(linked.get_val(0).value());
    EXPECT_FALSE(linked.set_val(false, 0));
    EXPECT_EQ(node<GenICam::IInteger>(*doc, "I").get_val(0).value(), 0);
    EXPECT_NE(log.text().find("Boolean (\"Linked\"). Invalid floating_value contents=7.\n"), std::string::npos);
}

TEST(command_nodes, execute_sets_the_command_value_and_is_done_reports_completion)
{
    auto doc = load_nodes(R"(<Command Name="Go"><Value>0</Value><CommandValue>1</CommandValue></Command>
        <Integer Name="Reg"><Value>0</Value></Integer>
        <Command Name="Remote"><pValue>Reg</pValue><CommandValue>1</CommandValue><PollingTime>100</PollingTime>
        </Command>)");
    auto& go = node<GenICam::ICommand>(*doc, "Go");
    int fired = 0;
    go.register_callback([&](GenICam::INode&) { ++fired; });
    EXPECT_TRUE(go.is_done(0).value());
    EXPECT_FALSE(go.execute(0));
    EXPECT_FALSE(go.is_done(0).value());
    EXPECT_FALSE(go.execute(0));
    EXPECT_EQ(fired, 1) << "a second execute changes nothing";

    auto& remote = node<GenICam::ICommand>(*doc, "Remote");
    EXPECT_EQ(remote.get_polling_time(), 100);
    EXPECT_FALSE(remote.execute(0));
    EXPECT_FALSE(remote.is_done(0).value());
    ASSERT_FALSE(node<GenICam::IInteger>(*doc, "Reg").set_val(0, 0)); // the device clears it
    EXPECT_TRUE(remote.is_done(0).value());
}

// A command over a register the device clears when it is done: whatever the
// cache policy, the device's answer ends it, and the node's cache holds that
// answer afterwards. The entry beside a StructReg's command bit takes it too:
// its next write must not put the bit back and run the command again.
TEST(command_nodes, a_command_ends_when_the_device_clears_its_register)
{
    genicam_test::memory_device_port device;
    auto doc = load_nodes(std::string(genicam_test::device_port) + R"(
        <IntReg Name="GoReg"><Address>0x10</Address><Length>4</Length><Cachable>WriteThrough</Cachable>
          <Endianess>LittleEndian</Endianess></IntReg>
        <StructReg Comment="Control"><Address>0x20</Address><Length>4</Length><Cachable>WriteThrough</Cachable>
          <Endianess>LittleEndian</Endianess>
          <StructEntry Name="GoBit"><Bit>0</Bit></StructEntry>
          <StructEntry Name="Other"><LSB>8</LSB><MSB>15</MSB></StructEntry>
        </StructReg>
        <MaskedIntReg Name="GoMasked"><Address>0x30</Address><Length>4</Length><Bit>0</Bit>
          <Endianess>LittleEndian</Endianess></MaskedIntReg>
        <Command Name="ByReg"><pValue>GoReg</pValue><CommandValue>1</CommandValue></Command>
        <Command Name="ByBit"><pValue>GoBit</pValue><CommandValue>1</CommandValue></Command>
        <Command Name="ByMasked"><pValue>GoMasked</pValue><CommandValue>1</CommandValue></Command>)");
    genicam_test::bind_device(*doc, device);
    const struct {
        const char* command;
        const char* target;
        std::uint64_t address;
    } rows[] = {{"ByReg", "GoReg", 0x10}, {"ByBit", "GoBit", 0x20}, {"ByMasked", "GoMasked", 0x30}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.command);
        auto& command = node<GenICam::ICommand>(*doc, row.command);
        auto& target = node<GenICam::IInteger>(*doc, row.target);
        EXPECT_TRUE(command.is_done(0).value()) << "before the first execute";
        ASSERT_FALSE(command.execute(0));
        EXPECT_EQ(device.get(row.address, 1)[0], 1);

        // Still running on the device: polled twice, never done.
        for (int poll = 0; poll < 2; ++poll) {
            const int reads = device.reads;
            EXPECT_FALSE(command.is_done(0).value()) << "poll " << poll;
            EXPECT_EQ(device.reads, reads + 1) << "each poll asks the device";
        }
        const auto running = target.get_val(GenICam::access_flags::cache_only);
        EXPECT_EQ(running ? running.value() : -1, 1);

        device.put(row.address, {0}); // the device is done and clears the command
        if (row.address == 0x20) {
            device.put(0x21, {0x5A}); // and changes the entry beside the bit
        }
        EXPECT_TRUE(command.is_done(0).value());
        const auto cleared = target.get_val(GenICam::access_flags::cache_only);
        EXPECT_EQ(cleared ? cleared.value() : -1, 0) << "the cache holds what the device said";
        EXPECT_TRUE(command.is_done(GenICam::access_flags::cache_only).value()) << "and answers cache-only polls";
    }

    auto& other = node<GenICam::IInteger>(*doc, "Other");
    const auto cached = other.get_val(GenICam::access_flags::cache_only);
    EXPECT_EQ(cached ? cached.value() : -1, 0x5A) << "the entry beside the bit took the bytes the poll read";
    ASSERT_FALSE(other.set_val(0x33));
    EXPECT_EQ(device.get(0x20, 2), (std::vector<std::uint8_t>{0, 0x33})) << "the command bit stays cleared";
}

TEST(command_nodes, access_failures_make_is_done_true_and_execute_fail)
{
    log_capture log;
    auto doc = load_nodes(R"(<Integer Name="Off"><Value>0</Value></Integer>
        <Command Name="Hidden"><Value>0</Value><CommandValue>1</CommandValue><pIsImplemented>Off</pIsImplemented>
        </Command>
        <Command Name="Ro"><Value>0</Value><CommandValue>1</CommandValue><ImposedAccessMode>RO</ImposedAccessMode>
        </Command>
        <Command Name="Wo"><Value>0</Value><CommandValue>1</CommandValue><ImposedAccessMode>WO</ImposedAccessMode>
        </Command>
        <Command Name="Both"><Value>0</Value><CommandValue>1</CommandValue><pCommandValue>Off</pCommandValue>
        </Command>
        <Command Name="NoValue"><Value>0</Value></Command>)");
    EXPECT_EQ(node<GenICam::ICommand>(*doc, "Hidden").execute(0), errc::not_implemented);
    EXPECT_TRUE(node<GenICam::ICommand>(*doc, "Hidden").is_done(0).value());
    EXPECT_EQ(node<GenICam::ICommand>(*doc, "Ro").execute(0), errc::access_denied);
    EXPECT_TRUE(node<GenICam::ICommand>(*doc, "Wo").is_done(0).value());
    auto& both = node<GenICam::ICommand>(*doc, "Both");
    EXPECT_FALSE(both.execute(0));
    EXPECT_FALSE(both.is_done(0).value()) << "the link (Off, 0) wins over the literal 1, and Value holds 0";
    EXPECT_EQ(node<GenICam::ICommand>(*doc, "NoValue").execute(0), errc::not_implemented);
    const std::string lines = log.text();
    EXPECT_EQ(count_of(lines, "Command \"Both\". Node contains both \"CommandValue\" and \"pCommandValue\" nodes.\n"),
              1u)
        << lines;
    EXPECT_EQ(count_of(lines, "Command (\"NoValue\"). Failed to parse contents of \"CommandValue\"/\"pCommandValue\""
                              " xml node.\n"),
              1u);
}

TEST(string_nodes, values_propagate_on_every_write_and_links_must_name_strings)
{
    log_capture log;
    auto doc = load_nodes(R"(<String Name="S"><Value>abc</Value></String>
        <String Name="Via"><pValue>S</pValue><Value>ignored</Value></String>
        <Integer Name="I"><Value>1</Value></Integer>
        <String Name="Bad"><pValue>I</pValue><Value>ignored</Value></String>)");
    auto& s = node<GenICam::IString>(*doc, "S");
    auto& via = node<GenICam::IString>(*doc, "Via");
    EXPECT_EQ(via.get_val(0).value(), "abc");
    int fired = 0;
    via.register_callback([&](GenICam::INode&) { ++fired; });
    const std::string long_text(100000, 'x');
    EXPECT_FALSE(via.set_val(long_text, 0));
    EXPECT_EQ(s.get_val(0).value(), long_text);
    EXPECT_EQ(fired, 1) << "the linked node's change reaches its dependents";
    EXPECT_FALSE(s.set_val(long_text, 0));
    EXPECT_EQ(fired, 2) << "an unchanged text still notifies";
    EXPECT_EQ(node<GenICam::IString>(*doc, "Bad").get_val(0).value(), "");
    EXPECT_NE(log.text().find("String (\"Bad\"). Failed to parse or resolve \"pValue\" xml node."), std::string::npos);
}

} // namespace
