// A document written by the builder loads back into the engine, and its
// registers, served by an in-memory port at their automatic addresses, carry
// the values that the nodes were described with.

#include "genicam/doc_builder.h"
#include "genicam/gcxml_node_writers.h"
#include "genicam/genicam_doc.h"
#include "genicam/iboolean.h"
#include "genicam/idevice_port.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"
#include "genicam/iport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>

namespace {

using namespace gcxml;
using GenICam::errc;

constexpr std::uint64_t start_address = 0xBCEA541200040000;

// Registers of 8 bytes each at the addresses handed out by the builder.
class register_memory final : public GenICam::IDevicePort {
public:
    std::error_code read(std::uint64_t address, void* buffer, std::int64_t length, std::uint32_t) override
    {
        ++calls;
        auto it = cells.find(address);
        if (it == cells.end() || length < 0 || length > 8)
            return GenICam::make_error_code(errc::invalid_address);
        std::memcpy(buffer, it->second.data(), static_cast<std::size_t>(length));
        return {};
    }
    std::error_code write(std::uint64_t address, const void* data, std::int64_t length, std::uint32_t) override
    {
        ++calls;
        auto it = cells.find(address);
        if (it == cells.end() || length < 0 || length > 8)
            return GenICam::make_error_code(errc::invalid_address);
        std::memcpy(it->second.data(), data, static_cast<std::size_t>(length));
        return {};
    }

    std::map<std::uint64_t, std::array<std::uint8_t, 8>> cells;
    int calls = 0;
};

template <class Iface>
Iface& node(GenICam::IGenICamDoc& doc, std::string_view name)
{
    auto* n = dynamic_cast<Iface*>(doc.find_node(name));
    if (!n)
        throw std::runtime_error("no node " + std::string(name));
    return *n;
}

// What the service's tone-mapping set-up writes, in small: a boolean enable
// with its lock swiss knife, a locked float, an enumeration and a constant.
struct service_document {
    service_document()
    {
        build_document(builder.doc);
        const pugi::xml_node parent = builder.register_description();

        boolean_desc enable("Enable");
        enable.extensions = {{"VCDItemGUID", "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}"}};
        enable.display_name = "Enable <on & off>";
        enable.default_text = "0";
        enable.default_kind = ref_kind::literal;
        const auto enable_reg = add_int_register(builder, int_reg_desc("Enable_Reg"));
        enable.value = value_ref::link(enable_reg.name);
        write_bool_node(parent, enable);

        int_swissknife_desc locked("Params_Locked");
        locked.variables = {{"enabled", enable_reg.name}};
        locked.formula = "enabled = 0 ? 1 : 0";
        genapi_xml_writer::write_int_swissknife_node(parent, locked);

        float_desc intensity("Intensity");
        intensity.display_name = "Intensit\xC3\xA4t";
        intensity.is_locked = "Params_Locked";
        intensity.min = value_ref::literal("-8.000000");
        intensity.max = value_ref::literal("8.000000");
        intensity.inc = value_ref::literal("0.010000");
        intensity.default_text = "0.500000";
        intensity.default_kind = ref_kind::literal;
        const auto intensity_reg = builder.add_float_reg(float_reg_desc("Intensity_Reg"));
        intensity.value = value_ref::link(intensity_reg.first);
        genapi_xml_writer::write_float_node(parent, intensity);

        enumeration_desc mode("Mode");
        for (const char* name : {"Intensity_0", "DoLP_1", "AoLP_2"}) {
            enum_entry_desc entry(name);
            entry.value = std::string(1, name[std::strlen(name) - 1]);
            mode.entries.push_back(entry);
        }
        const auto mode_reg = builder.add_int_reg(int_reg_desc("Mode_Reg"));
        mode.value = value_ref::link(mode_reg.first);
        genapi_xml_writer::write_enumeration_node(parent, mode);

        integer_desc supports("Supports_8Bit");
        supports.value = value_ref::literal("1");
        supports.imposed_access_mode = access_mode_kind::ro;
        genapi_xml_writer::write_integer_node(parent, supports);

        text = write_register_description(builder.doc, "Vendor", "Model", "ToolTip");
        for (std::uint64_t a : {enable_reg.address, intensity_reg.second, mode_reg.second})
            port.cells[a] = {};
    }

    doc_builder builder{start_address};
    std::string text;
    register_memory port;
};

TEST(doc_builder_engine, written_document_loads_with_its_header_and_nodes)
{
    service_document written;
    GenICam::impl::genicam_doc doc;
    ASSERT_TRUE(doc.load_xml(written.text.data(), written.text.size()));
    EXPECT_EQ(doc.vendor_name(), "Vendor");
    EXPECT_EQ(doc.model_name(), "Model");
    EXPECT_EQ(doc.standard_name_space(), 2u);
    EXPECT_EQ(doc.major_version(), 1u);
    EXPECT_NE(doc.find_port(""), nullptr);

    auto& enable = node<GenICam::IBoolean>(doc, "Enable");
    EXPECT_EQ(enable.get_display_name(), "Enable <on & off>");
    EXPECT_EQ(enable.get_extension("VCDItemGUID"), "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}");
    EXPECT_FALSE(enable.get_default(0).value());

    auto& intensity = node<GenICam::IFloat>(doc, "Intensity");
    EXPECT_EQ(intensity.get_display_name(), "Intensit\xC3\xA4t");
    EXPECT_EQ(intensity.get_min(0).value(), -8.0);
    EXPECT_EQ(intensity.get_max(0).value(), 8.0);
    EXPECT_EQ(intensity.get_extension("Default"), "0.500000");

    auto& mode = node<GenICam::IEnumeration>(doc, "Mode");
    ASSERT_EQ(mode.get_entries().size(), 3u);
    EXPECT_EQ(mode.find_entry_by_name("DoLP_1")->get_value(), 1);

    auto& supports = node<GenICam::IInteger>(doc, "Supports_8Bit");
    EXPECT_EQ(supports.get_val(0).value(), 1);
    EXPECT_EQ(supports.get_access_mode(), GenICam::access_mode::RO);
}

TEST(doc_builder_engine, registers_at_automatic_addresses_carry_the_described_values)
{
    service_document written;
    GenICam::impl::genicam_doc doc;
    ASSERT_TRUE(doc.load_xml(written.text.data(), written.text.size()));
    GenICam::IPort* device = doc.find_port("Device");
    ASSERT_NE(device, nullptr);
    ASSERT_FALSE(device->bind(&written.port));

    auto& enable = node<GenICam::IBoolean>(doc, "Enable");
    auto& intensity = node<GenICam::IFloat>(doc, "Intensity");
    auto& mode = node<GenICam::IEnumeration>(doc, "Mode");
    auto& enable_cell = written.port.cells.at(start_address + 8);
    auto& intensity_cell = written.port.cells.at(start_address + 16);
    auto& mode_cell = written.port.cells.at(start_address + 24);

    // Disabled: the lock swiss knife over the enable register reads 1.
    EXPECT_FALSE(enable.get_val(0).value());
    EXPECT_TRUE(intensity.is_locked());

    ASSERT_FALSE(enable.set_val(true, 0));
    EXPECT_EQ(enable_cell[0], 1);
    EXPECT_FALSE(intensity.is_locked());

    ASSERT_FALSE(intensity.set_val(0.5, 0));
    float stored = 0;
    std::memcpy(&stored, intensity_cell.data(), 4);
    EXPECT_EQ(stored, 0.5f);
    EXPECT_EQ(intensity.get_val(0).value(), 0.5);
    EXPECT_EQ(intensity.set_val(9.0, 0), errc::value_out_of_range);

    ASSERT_FALSE(mode.set_entry(mode.find_entry_by_name("AoLP_2"), 0));
    EXPECT_EQ(mode_cell[0], 2);
    mode_cell[0] = 1;
    EXPECT_EQ(mode.get_entry(GenICam::access_flags::bypass_cache).value()->get_name(), "DoLP_1");
}

} // namespace
