#include "properties/genext_feature_groups.h"
#include "properties/genext_node_writer.h"

#include "genicam/gcxml_node_writers.h"
#include "properties/node_descriptions.h"
#include "properties/prop_meta_list.h"

#include <fmt/format.h>

namespace genext {

namespace {
struct mode_entry {
    std::uint32_t value;
    const char* display_name;
};
constexpr mode_entry modes[] = {
    {0, "Intensity"}, {1, "DoLP"}, {2, "AoLP"}, {3, "Minimum"}, {4, "Reduced Reflection"}, {5, "False Color"},
};
} // namespace

void add_polarization(std::uint32_t& mode, gcxml::doc_builder& writer, gen_property::gen_property_reqistry& handlers,
                      bool six_modes)
{
    const auto forced = forced_value(handlers, L"force_polarization_visualization_mode");
    const std::size_t count = six_modes ? 6 : 5;

    gcxml::enumeration_desc feature("PolarizationVisulizationMode");
    for (std::size_t i = 0; i < count; ++i) {
        if (forced && *forced == static_cast<std::int64_t>(modes[i].value)) {
            mode = modes[i].value;
            feature.imposed_access_mode = gcxml::access_mode_kind::ro;
        }
        gcxml::enum_entry_desc entry(fmt::format("{}_{}", modes[i].display_name, modes[i].value));
        entry.display_name = modes[i].display_name;
        entry.value = std::to_string(modes[i].value);
        feature.entries.push_back(std::move(entry));
    }

    gcxml::int_reg_desc reg;
    gcxml::gen_node_desc_create(reg, gcxml::gen_node_desc_reg_name(feature));
    const gcxml::reg_ref added = gcxml::add_int_register(writer, reg);
    feature.value = gcxml::value_ref::link(added.name);
    prop_meta_list::add_vcd_info(feature, {"Polarization", "Polarization Visualization Mode",
                                           "{15DD5A42-673C-468D-B1B8-059C114191DB}", "Value",
                                           "{B57D3000-0AC6-4819-A609-272A33140ACA}", 0});
    genapi_xml_writer::write_enumeration_node(writer.register_description(), feature);

    // The handler reads the u32 variable through its i32 view (same object
    // representation for 0..5).
    handlers.table().add_owned({cam::PROPSETID_EMULATED_REGISTER, register_id(added)},
                               cam::make_int_property(reinterpret_cast<std::int32_t*>(&mode), 0,
                                                      static_cast<std::int32_t>(count - 1)),
                               cam::level_base);
}

} // namespace genext
