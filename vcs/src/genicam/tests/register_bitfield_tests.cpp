// MaskedIntReg and StructEntry: bit numbering in both byte orders, signed
// fields, read-modify-write, limits and bit ranges outside the register.

#include "genicam/iboolean.h"
#include "genicam/ieval.h"
#include "genicam/ienumeration.h"
#include "genicam/iinteger.h"
#include "genicam/register_cache.h"
#include "genicam_test/memory_device_port.h"
#include "test_documents.h"

#include <gtest/gtest.h>

#include <bit>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using genicam_test::bind_device;
using genicam_test::load_nodes;
using genicam_test::log_capture;
using genicam_test::memory_device_port;
using GenICam::cache_mode;
using GenICam::errc;
using GenICam::IInteger;
using namespace GenICam::impl;
namespace flags = GenICam::access_flags;

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
// through one gives the others the register's new bytes, so that none puts
// the old bits back with its next write, and a read from the cache only (the
// settings saved at close) still answers each entry's value.
TEST_F(bit_field_test, a_write_through_one_struct_entry_leaves_no_stale_copy_in_the_others)
{
    load(R"(
        <StructReg Comment="Control">
          <Address>0x100</Address><Length>2</Length>
          <Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess>
          <StructEntry Name="Low"><LSB>0</LSB><MSB>7</MSB></StructEntry>
          <StructEntry Name="High"><LSB>8</LSB><MSB>15</MSB></StructEntry>
        </StructReg>
        <StructReg Comment="Modes">
          <Address>0x110</Address><Length>1</Length>
          <Cachable>WriteThrough</Cachable><Endianess>LittleEndian</Endianess>
          <StructEntry Name="ModeBits"><LSB>0</LSB><MSB>1</MSB></StructEntry>
          <StructEntry Name="FlipBit"><Bit>7</Bit></StructEntry>
        </StructReg>
        <Enumeration Name="Mode"><EnumEntry Name="Off"><Value>0</Value></EnumEntry>
          <EnumEntry Name="Auto"><Value>2</Value></EnumEntry><pValue>ModeBits</pValue></Enumeration>
        <Boolean Name="Flip"><pValue>FlipBit</pValue></Boolean>)");
    device_.put(0x100, {0x34, 0x12});
    EXPECT_EQ(node("High").get_val().value(), 0x12); // High's copy: 34 12
    EXPECT_FALSE(node("Low").set_val(0xAB));
    EXPECT_FALSE(node("High").set_val(0x56));
    EXPECT_EQ(device_.get(0x100, 2), (std::vector<std::uint8_t>{0xAB, 0x56}));

    const int reads = device_.reads;
    const auto low = node("Low").get_val(flags::cache_only);
    EXPECT_EQ(low ? low.value() : -1, 0xAB) << "High's write kept Low's value cached";
    EXPECT_EQ(node("High").get_val().value(), 0x56);
    EXPECT_EQ(node("Low").get_val().value(), 0xAB);
    EXPECT_EQ(device_.reads, reads) << "write-through keeps what the device accepted, in every entry";

    // The same through an Enumeration and a Boolean over the entries.
    auto& mode = dynamic_cast<GenICam::IEnumeration&>(*doc_->find_node("Mode"));
    auto& flip = dynamic_cast<GenICam::IBoolean&>(*doc_->find_node("Flip"));
    EXPECT_FALSE(mode.set_entry(mode.find_entry_by_name("Auto")));
    EXPECT_FALSE(flip.set_val(true));
    EXPECT_EQ(device_.get(0x110, 1)[0], 0x82);
    const auto cached_mode = mode.get_entry(flags::cache_only);
    EXPECT_EQ(cached_mode ? cached_mode.value()->get_value() : -1, 2) << "Flip's write kept Mode's entry cached";
    EXPECT_FALSE(mode.set_entry(mode.find_entry_by_name("Off")));
    EXPECT_EQ(device_.get(0x110, 1)[0], 0x80);
    const auto cached_flip = flip.get_val(flags::cache_only);
    EXPECT_TRUE(cached_flip && cached_flip.value()) << "Mode's write kept Flip's value cached";
}

// A StructReg of four entries in each cache mode: whichever entry was read
// first and whichever was written first, a write through each of the others
// keeps every bit the earlier writes gave the register; every entry but the
// last writer answers its value from the cache only, and reaches the device
// for it unless the mode is write-through.
TEST_F(bit_field_test, a_write_through_any_struct_entry_keeps_every_other_entrys_bits)
{
    struct field {
        const char* name;
        const char* bits;
        std::uint32_t mask;
        std::uint32_t written; // the value written through the entry
    };
    const field fields[] = {
        {"A", "<LSB>0</LSB><MSB>7</MSB>", 0x000000FF, 0xA1},
        {"B", "<LSB>8</LSB><MSB>15</MSB>", 0x0000FF00, 0xB2},
        {"C", "<LSB>16</LSB><MSB>27</MSB>", 0x0FFF0000, 0xC3D},
        {"D", "<Bit>31</Bit>", 0x80000000, 1},
    };
    struct row {
        const char* cachable;
        cache_mode mode;
    };
    const row rows[] = {
        {"WriteThrough", cache_mode::WriteThrough},
        {"WriteAround", cache_mode::WriteAround},
        {"NoCache", cache_mode::NoCache},
    };
    std::string nodes;
    for (std::size_t m = 0; m < std::size(rows); ++m) {
        nodes += "<StructReg Comment=\"R\"><Address>" + std::to_string(0x100 * (m + 1)) +
                 "</Address><Length>4</Length><Cachable>" + rows[m].cachable +
                 "</Cachable><Endianess>LittleEndian</Endianess>";
        for (const field& f : fields) {
            nodes += "<StructEntry Name=\"" + std::string(f.name) + rows[m].cachable + "\">" + f.bits +
                     "</StructEntry>";
        }
        nodes += "</StructReg>";
    }
    load(nodes);
    constexpr std::uint32_t initial = 0x75432101; // A 01, B 21, C 543, D 0
    const auto shift_of = [](std::uint32_t mask) { return static_cast<std::uint32_t>(std::countr_zero(mask)); };

    for (std::size_t m = 0; m < std::size(rows); ++m) {
        const std::uint64_t address = 0x100 * (m + 1);
        const auto entry = [&](std::size_t i) -> IInteger& {
            return node(std::string(fields[i].name) + rows[m].cachable);
        };
        for (std::size_t read_first = 0; read_first < std::size(fields); ++read_first) {
            for (std::size_t write_first = 0; write_first < std::size(fields); ++write_first) {
                SCOPED_TRACE(std::string(rows[m].cachable) + ": read " + fields[read_first].name + ", write " +
                             fields[write_first].name + " first");
                for (std::size_t i = 0; i < std::size(fields); ++i) {
                    entry(i).get_eval().invalidate();
                }
                for (std::size_t k = 0; k < 4; ++k) {
                    device_.memory[address + k] = static_cast<std::uint8_t>(initial >> (8 * k));
                }
                std::uint32_t expected = initial;
                const auto expect_device = [&] {
                    std::uint32_t held = 0;
                    for (std::size_t k = 0; k < 4; ++k) {
                        held |= std::uint32_t{device_.memory[address + k]} << (8 * k);
                    }
                    EXPECT_EQ(held, expected) << std::hex << held << " on the device, " << expected << " expected";
                };
                const field& first = fields[read_first];
                EXPECT_EQ(entry(read_first).get_val().value(),
                          static_cast<std::int64_t>((initial & first.mask) >> shift_of(first.mask)));

                std::vector<std::size_t> order{write_first};
                for (std::size_t i = 0; i < std::size(fields); ++i) {
                    if (i != write_first) {
                        order.push_back(i);
                    }
                }
                for (const std::size_t i : order) {
                    const field& f = fields[i];
                    ASSERT_FALSE(entry(i).set_val(f.written)) << f.name;
                    expected = (expected & ~f.mask) | (f.written << shift_of(f.mask));
                    expect_device();
                }
                for (std::size_t i = 0; i < std::size(fields); ++i) {
                    if (i == order.back() && rows[m].mode != cache_mode::WriteThrough) {
                        continue; // its own write emptied its copy or left it as it was
                    }
                    const auto cached = entry(i).get_val(flags::cache_only);
                    EXPECT_EQ(cached ? cached.value() : -1, static_cast<std::int64_t>(fields[i].written))
                        << fields[i].name << " from the cache only";
                }
                // Only write-through trusts bytes that were written, not read back.
                for (std::size_t i = 0; i + 1 < order.size(); ++i) {
                    const int reads = device_.reads;
                    EXPECT_EQ(entry(order[i]).get_val().value(), static_cast<std::int64_t>(fields[order[i]].written));
                    EXPECT_EQ(device_.reads - reads, rows[m].mode == cache_mode::WriteThrough ? 0 : 1)
                        << fields[order[i]].name << " read after another entry's write";
                }
            }
        }
    }
}

} // namespace
