// MaskedIntReg and StructEntry: bit numbering in both byte orders, signed
// fields, read-modify-write, limits and bit ranges outside the register.

#include "genicam/iinteger.h"
#include "genicam/register_cache.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using genicam_test::bind_device;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using genicam_test::memory_device_port;
using GenICam::errc;
using GenICam::IInteger;
using namespace GenICam::impl;

std::error_code code(errc e)
{
    return make_error_code(e);
}

TEST(bit_field, masks_and_shifts_follow_the_byte_order)
{
    EXPECT_EQ(bit_mask({7, 0}, true, 4), 0xFF000000u);
    EXPECT_EQ(bit_shift({7, 0}, true, 4), 24u);
    EXPECT_EQ(bit_mask({3, 3}, false, 4), 0x8u);
    EXPECT_EQ(extract_bits({4, 7}, false, 1, true, 0x80), -8);
    EXPECT_EQ(extract_bits({15, 8}, true, 4, false, 0x12345678), 0x34);
    EXPECT_EQ(extract_bits({8, 15}, false, 4, false, 0x78563412), 0x34);
    EXPECT_EQ(bit_mask({0, 63}, false, 8), ~std::uint64_t{0});
    EXPECT_EQ(bit_mask({5, 2}, false, 4), 0u) << "MSB below LSB is an empty little-endian field";
    EXPECT_EQ(bit_mask({2, 5}, true, 4), 0u) << "MSB above LSB is an empty big-endian field";
    // Bit numbers outside the register give no field at all, never a shift past 64.
    EXPECT_FALSE(bit_range_fits({64, 64}, 8));
    EXPECT_FALSE(bit_range_fits({0, 2147483647}, 8));
    EXPECT_FALSE(bit_range_fits({8, 8}, 1));
    EXPECT_EQ(bit_mask({64, 64}, true, 8), 0u);
    EXPECT_EQ(bit_field_max({0, 63}, false), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(bit_field_min({0, 63}, true), std::numeric_limits<std::int64_t>::min());
}

class bit_field_test : public testing::Test {
protected:
    void load(const std::string& nodes)
    {
        log_capture log;
        doc_ = load_nodes(std::string(genicam_test::device_port) + nodes);
        bind_device(*doc_, device_);
        log_ = log.text();
    }
    IInteger& node(std::string_view name)
    {
        auto* i = dynamic_cast<IInteger*>(doc_->find_node(name));
        EXPECT_NE(i, nullptr) << name;
        return *i;
    }

    memory_device_port device_;
    std::unique_ptr<GenICam::impl::genicam_doc> doc_;
    std::string log_;
};

TEST_F(bit_field_test, masked_int_reg_reads_and_writes_its_field_only)
{
    load(R"(
        <MaskedIntReg Name="Big"><Address>0x10</Address><Length>4</Length><MSB>8</MSB><LSB>15</LSB></MaskedIntReg>
        <MaskedIntReg Name="Little"><Address>0x10</Address><Length>4</Length><LSB>8</LSB><MSB>15</MSB>
          <Endianess>LittleEndian</Endianess></MaskedIntReg>
        <MaskedIntReg Name="Flag"><Address>0x20</Address><Length>1</Length><Bit>3</Bit>
          <Endianess>LittleEndian</Endianess></MaskedIntReg>
        <MaskedIntReg Name="Nibble"><Address>0x30</Address><Length>1</Length><LSB>0</LSB><MSB>3</MSB>
          <Sign>Signed</Sign><Endianess>LittleEndian</Endianess></MaskedIntReg>
        <MaskedIntReg Name="Wide"><Address>0x40</Address><Length>12</Length><Bit>31</Bit>
          <Endianess>LittleEndian</Endianess></MaskedIntReg>
        <MaskedIntReg Name="NoLength"><Address>0x50</Address><Bit>0</Bit></MaskedIntReg>)");
    device_.put(0x10, {0x12, 0x34, 0x56, 0x78});
    EXPECT_EQ(node("Big").get_val().value(), 0x34);
    EXPECT_EQ(node("Little").get_val().value(), 0x34);

    IInteger& flag = node("Flag");
    EXPECT_EQ(flag.get_max().value(), 1);
    device_.put(0x20, {0xA5});
    EXPECT_FALSE(flag.set_val(1));
    EXPECT_EQ(device_.get(0x20, 1)[0], 0xAD) << "only bit 3 changes";
    EXPECT_FALSE(flag.set_val(0x10)) << "bits that do not fit are dropped";
    EXPECT_EQ(device_.get(0x20, 1)[0], 0xA5);

    device_.put(0x30, {0x08});
    EXPECT_EQ(node("Nibble").get_val().value(), -8);
    EXPECT_EQ(node("Nibble").get_min().value(), -8);
    EXPECT_EQ(node("Nibble").get_max().value(), 7);

    device_.put(0x40, {0, 0, 0, 0x80});
    EXPECT_EQ(node("Wide").get_val().value(), 1) << "Length 12 acts as 4";
    EXPECT_NE(log_.find("MaskedIntReg (\"NoLength\"). Failed to parse \"Length\" XML element."), std::string::npos);
    EXPECT_TRUE(node("NoLength").get_val()) << "a missing Length reads 1 byte";
}

TEST_F(bit_field_test, bit_numbers_outside_the_register_are_refused)
{
    load(R"(
        <MaskedIntReg Name="Bit64"><Address>0x10</Address><Length>8</Length><Bit>64</Bit></MaskedIntReg>
        <MaskedIntReg Name="Bit2G"><Address>0x10</Address><Length>8</Length><Bit>2147483648</Bit></MaskedIntReg>
        <MaskedIntReg Name="Past1"><Address>0x10</Address><Length>1</Length><LSB>0</LSB><MSB>8</MSB>
          <Endianess>LittleEndian</Endianess></MaskedIntReg>)");
    for (const char* name : {"Bit64", "Bit2G", "Past1"}) {
        EXPECT_EQ(node(name).get_val().error(), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).set_val(1), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).get_min().error(), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).get_max().error(), code(errc::index_out_of_range)) << name;
    }
    EXPECT_EQ(device_.calls(), 0);
}

TEST_F(bit_field_test, struct_entries_share_their_parent_register)
{
    load(R"(
        <StructReg Comment="Control">
          <Address>0x100</Address><Length>2</Length><AccessMode>RO</AccessMode>
          <Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess>
          <StructEntry Name="Low"><LSB>0</LSB><MSB>7</MSB><AccessMode>RW</AccessMode></StructEntry>
          <StructEntry Name="High"><LSB>8</LSB><MSB>15</MSB><Cachable>NoCache</Cachable></StructEntry>
          <StructEntry Name="Inherits"><Bit>0</Bit><AccessMode>bogus</AccessMode></StructEntry>
        </StructReg>
        <StructReg Comment="Huge"><Address>0x200</Address><Length>16</Length>
          <StructEntry Name="TooLong"><Bit>0</Bit></StructEntry></StructReg>
        <StructReg Comment="Zero"><Address>0x200</Address><Length>0</Length>
          <StructEntry Name="Empty"><Bit>0</Bit></StructEntry></StructReg>)");
    device_.put(0x100, {0x34, 0x12});
    EXPECT_EQ(node("Low").get_val().value(), 0x34);
    EXPECT_EQ(node("High").get_val().value(), 0x12);
    EXPECT_EQ(node("Low").get_access_mode(), GenICam::access_mode::RW);
    EXPECT_EQ(node("High").get_access_mode(), GenICam::access_mode::RO) << "the parent's AccessMode";
    EXPECT_EQ(node("Inherits").get_access_mode(), GenICam::access_mode::RO);
    EXPECT_EQ(node("High").set_val(1), code(errc::access_denied));

    // Low caches (the parent's WriteThrough), High does not (its own NoCache).
    const int reads = device_.reads;
    EXPECT_EQ(node("Low").get_val().value(), 0x34);
    EXPECT_EQ(device_.reads, reads);
    EXPECT_EQ(node("High").get_val().value(), 0x12);
    EXPECT_EQ(device_.reads, reads + 1);

    EXPECT_FALSE(node("Low").set_val(0xAB));
    EXPECT_EQ(device_.get(0x100, 2), (std::vector<std::uint8_t>{0xAB, 0x12}));

    // The parent's Length is checked: no access goes past the 8-byte cache.
    for (const char* name : {"TooLong", "Empty"}) {
        EXPECT_EQ(node(name).get_val().error(), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).set_val(1), code(errc::index_out_of_range)) << name;
        EXPECT_EQ(node(name).get_max().error(), code(errc::index_out_of_range)) << name;
    }
}

// Each entry of a caching StructReg keeps its own copy of the register: a write
// through one must not let another put the old bits back with its next write.
TEST_F(bit_field_test, a_write_through_one_struct_entry_leaves_no_stale_copy_in_the_others)
{
    load(R"(
        <StructReg Comment="Control">
          <Address>0x100</Address><Length>2</Length>
          <Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess>
          <StructEntry Name="Low"><LSB>0</LSB><MSB>7</MSB></StructEntry>
          <StructEntry Name="High"><LSB>8</LSB><MSB>15</MSB></StructEntry>
        </StructReg>)");
    device_.put(0x100, {0x34, 0x12});
    EXPECT_EQ(node("High").get_val().value(), 0x12); // High's copy: 34 12
    EXPECT_FALSE(node("Low").set_val(0xAB));
    EXPECT_FALSE(node("High").set_val(0x56));
    EXPECT_EQ(device_.get(0x100, 2), (std::vector<std::uint8_t>{0xAB, 0x56}));

    const int reads = device_.reads;
    EXPECT_EQ(node("High").get_val().value(), 0x56);
    EXPECT_EQ(device_.reads, reads) << "the writer keeps what the device accepted";
    EXPECT_EQ(node("Low").get_val().value(), 0xAB);
    EXPECT_EQ(device_.reads, reads + 1) << "High's write emptied Low's copy";
}

} // namespace
