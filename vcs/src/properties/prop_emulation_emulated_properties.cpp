#include "properties/prop_emulation_emulated_properties.h"

#include <cstring>
#include <string>

#include "gen_utils/log.h"
#include "genicam/gcxml_node_writers.h"
#include "properties/genicam_node_persistence.h"
#include "properties/node_descriptions.h"
#include "properties/prop_meta_list.h"

namespace prop_emulation {

namespace {

using cam::PROPSETID_VIDCAP_VIDEOPROCAMP;

constexpr const char* value_element_guid = "{B57D3000-0AC6-4819-A609-272A33140ACA}";

// A raw integer feature of the camera's own document over a register that the
// document places, e.g. GammaRaw over GammaRegister.
struct raw_feature {
    const char* name;
    const char* register_name; // empty: "<name>_Reg"
    const char* name_space;
    std::int32_t min;
    std::int32_t max;
    const char* def; // empty: none
    gcxml::vcd_info placement;
};

// Adds the register and the integer feature; returns the register.
gcxml::reg_ref add_raw_feature(gcxml::doc_builder& document, const raw_feature& f)
{
    gcxml::integer_desc feature(f.name);
    feature.name_space = f.name_space;
    gcxml::int_reg_desc reg;
    const std::string register_name =
        *f.register_name != '\0' ? std::string(f.register_name) : gcxml::gen_node_desc_reg_name(feature);
    gcxml::gen_node_desc_create(reg, register_name);
    reg.endianess = gcxml::endianess_kind::little_endian;
    const gcxml::reg_ref added = gcxml::add_int_register(document, reg);

    feature.value = gcxml::value_ref::link(added.name);
    feature.min = gcxml::value_ref::literal(std::to_string(f.min));
    feature.max = gcxml::value_ref::literal(std::to_string(f.max));
    if (*f.def != '\0') {
        feature.default_text = f.def;
        feature.default_kind = gcxml::ref_kind::literal;
    }
    prop_meta_list::add_vcd_info(feature, f.placement);
    genapi_xml_writer::write_integer_node(document.register_description(), feature);
    return added;
}

// The converter and the standard float feature in front of GammaRaw.
constexpr std::string_view gamma_fragment =
    R"(<Converter Name="GammaToGammaRawConverter" NameSpace="Custom">)"
    R"(<FormulaTo>FROM * 1e2</FormulaTo><FormulaFrom>TO / 1e2</FormulaFrom><pValue>GammaRaw</pValue></Converter>)"
    R"(<Float Name="Gamma" NameSpace="Standard"><Extension><Default>1e0</Default></Extension>)"
    R"(<Description>Controls the gamma correction of pixel intensity. This is typically used to compensate for )"
    R"(nonlinearity of the display system (such as CRT).</Description><DisplayName>Gamma</DisplayName>)"
    R"(<Streamable>Yes</Streamable><pValue>GammaToGammaRawConverter</pValue><Min>1e-2</Min><Max>5</Max>)"
    R"(<Representation>Linear</Representation><DisplayNotation>Fixed</DisplayNotation>)"
    R"(<DisplayPrecision>2</DisplayPrecision></Float>)";

constexpr std::string_view saturation_fragment =
    R"(<Converter Name="SaturationPercentToSaturationRawConverter" NameSpace="Custom">)"
    R"(<FormulaTo>FROM * 64 / 1e2</FormulaTo><FormulaFrom>TO * 1e2 / 64</FormulaFrom>)"
    R"(<pValue>SaturationRaw</pValue></Converter>)"
    R"(<Float Name="Saturation" NameSpace="Standard"><Extension><Default>1e2</Default></Extension>)"
    R"(<Description>Color Saturation</Description><DisplayName>Saturation</DisplayName>)"
    R"(<Streamable>Yes</Streamable><pValue>SaturationPercentToSaturationRawConverter</pValue>)"
    R"(<Min>0e0</Min><Max>3984375e-4</Max><Unit>%</Unit><Representation>Linear</Representation>)"
    R"(<DisplayNotation>Fixed</DisplayNotation><DisplayPrecision>2</DisplayPrecision></Float>)";

std::error_code store_int(KsPropDataRequest& request, std::int32_t& variable)
{
    if (request.value_size < 4) {
        return make_cam_error(static_cast<HRESULT>(0x8007007A));
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    std::memcpy(&variable, request.value, sizeof variable);
    return {};
}

// The handler of a raw feature's register: the 4-byte value, no range check.
void add_register_entry(gen_property::gen_property_reqistry& registry, const gcxml::reg_ref& reg,
                        std::int32_t& variable)
{
    std::int32_t* bound = &variable;
    registry.table().add_function_entry(
        {cam::PROPSETID_EMULATED_REGISTER, static_cast<std::uint32_t>(reg.address & 0xFFFFFFFFu)},
        [bound](KsPropDataRequest& request) -> std::error_code {
            switch (request.request_type) {
            case KsPropDataRequest::get: return cam::write_int_reply(request, *bound);
            case KsPropDataRequest::set: return store_int(request, *bound);
            default: return cam::bad_request_type_error();
            }
        },
        [bound](KsPropDataRequest& request) { return store_int(request, *bound); });
}

void add_fragment(gcxml::doc_builder& document, std::string_view text, const char* what)
{
    if (const std::error_code ec = gcxml::append_xml_fragment(document, text)) {
        log_line(logging::level_error, "[CamTovra] Failed to add the {} feature, {}.\n", what, ec);
    }
}

} // namespace

emulated_properties::emulated_properties()
    : hue_(PROPSETID_VIDCAP_VIDEOPROCAMP, 2, L"emul.hue.val", -180, 180, 0, 0),
      saturation_(PROPSETID_VIDCAP_VIDEOPROCAMP, 3, L"", 0, 255, 64, 64),
      brightness_(PROPSETID_VIDCAP_VIDEOPROCAMP, 0, L"Brightness", -10, 30, 0, 0),
      sharpness_(PROPSETID_VIDCAP_VIDEOPROCAMP, 4, L"Sharpness", 0, 14, 0, 0)
{
}

namespace {
// Registers `value` at level 2 for its key unless a handler answers it.
bool register_if_unsupported(gen_property::gen_property_reqistry& registry, vpa_property& value)
{
    if (registry.is_supported(value.key())) {
        return false;
    }
    value.set_in_use(true);
    (void)registry.register_handler(value.key(), &value, cam::level_override);
    return true;
}
} // namespace

void emulated_properties::add(gen_property::gen_property_reqistry& registry, gcxml::doc_builder& document,
                              bool with_colour, std::span<const drv_genicam::doc_entry> camera_documents)
{
    if (added_) {
        return;
    }
    added_ = true;
    const bool has_document = static_cast<bool>(document.register_description());
    const auto persisted_as = [&](std::wstring_view name) {
        return drv_genicam::handler_value_name(camera_documents, registry.property_store(), name,
                                               drv_genicam::service_value_prefix);
    };
    // Hue's "emul.hue.val" is no feature's name.
    for (vpa_property* value : {&brightness_, &sharpness_}) {
        value->set_name(persisted_as(value->name()));
    }

    register_if_unsupported(registry, sharpness_);

    if (!registry.is_supported(gamma_.key())) {
        gamma_.set_in_use(true);
        (void)registry.register_handler(gamma_.key(), &gamma_, cam::level_override);
        if (has_document) {
            const gcxml::reg_ref reg = add_raw_feature(
                document, {"GammaRaw", "GammaRegister", "Custom", software_gamma::min, software_gamma::max, "100",
                           {"Image", "Gamma", "{284C0E0B-010B-45BF-8291-09D90A459B28}", "Value", value_element_guid,
                            0}});
            add_fragment(document, gamma_fragment, "Gamma");
            add_register_entry(registry, reg, gamma_.value());
        }
    }

    if (has_document) {
        const gcxml::reg_ref reg = add_raw_feature(
            document, {"Denoise_Item_Elem", "", "", 0, 25, "",
                       {"Image", "Denoise", "{C3C9944A-E6F6-4E25-A0BE-53C066AB65D8}", "Value", value_element_guid, 0}});
        registry.table().add_int_property(
            {cam::PROPSETID_EMULATED_REGISTER, static_cast<std::uint32_t>(reg.address & 0xFFFFFFFFu)},
            persisted_as(L"Denoise"), &denoise_, 0, 25);
    }

    if (with_colour) {
        register_if_unsupported(registry, hue_);
        if (register_if_unsupported(registry, saturation_) && has_document) {
            const gcxml::reg_ref reg = add_raw_feature(
                document, {"SaturationRaw", "SaturationRegister", "Custom", 0, 255, "64",
                           {"Color", "Saturation", "{284C0E09-010B-45BF-8291-09D90A459B28}", "Value",
                            value_element_guid, 0}});
            add_fragment(document, saturation_fragment, "Saturation");
            add_register_entry(registry, reg, saturation_.current());
        }
    }

    register_if_unsupported(registry, brightness_);
}

void emulated_properties::register_color_enhance(gen_property::gen_property_reqistry& registry)
{
    const cam::property_req_key keys[] = {{cam::PROPSETID_COLOR_ENHANCE, color_enhance2::id_mode},
                                          {cam::PROPSETID_COLOR_ENHANCE, color_enhance2::id_pattern}};
    (void)registry.register_handler_keys(keys, &color_enhance_, cam::level_override);
}

void emulated_properties::register_color_enhance_first(gen_property::gen_property_reqistry& registry)
{
    color_enhance_.set_first_variant();
    register_color_enhance(registry);
}

void emulated_properties::register_color_enhance_second(gen_property::gen_property_reqistry& registry)
{
    color_enhance_.set_second_variant();
    register_color_enhance(registry);
}

per_frame_values emulated_properties::per_frame() const noexcept
{
    per_frame_values out;
    if (saturation_.in_use()) {
        out.saturation = static_cast<float>(saturation_.value()) / 64.0F;
    }
    if (hue_.in_use()) {
        out.hue = static_cast<float>(hue_.value()) / 180.0F;
    }
    if (brightness_.in_use()) {
        out.brightness = brightness_.value();
    }
    if (sharpness_.in_use()) {
        out.sharpness = sharpness_.value();
    }
    if (gamma_.in_use()) {
        out.gamma = static_cast<float>(gamma_.value()) / 100.0F;
    }
    out.denoise = denoise_;
    return out;
}

} // namespace prop_emulation
