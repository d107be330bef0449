#include "properties/genext_feature_groups.h"
#include "properties/genext_node_writer.h"

#include "genicam/gcxml_node_writers.h"
#include "properties/genicam_node_persistence.h"
#include "properties/node_descriptions.h"

namespace genext {

namespace {
constexpr const char* category = "WDR";
constexpr const char* item = "Tone Mapping";
constexpr const char* item_guid = "{3D505AC4-1A28-428B-83E5-85AA8EB441C1}";

feature_attributes placed(const char* element, const char* element_guid, std::int32_t order)
{
    feature_attributes attributes;
    attributes.placement = {category, item, item_guid, element, element_guid, order};
    return attributes;
}

cam::property_req_key key_of(const gcxml::reg_ref& reg)
{
    return {cam::PROPSETID_EMULATED_REGISTER, register_id(reg)};
}

// A boolean handler; a forced value sets the variable and is not persisted.
void add_switch_handler(gen_property::gen_property_reqistry& handlers, const gcxml::reg_ref& reg, bool& variable,
                        const std::optional<std::int64_t>& forced, std::wstring_view persisted_as)
{
    if (forced) {
        variable = *forced != 0;
        handlers.table().add_bool_property_unnamed(key_of(reg), &variable);
    } else {
        handlers.table().add_bool_property(key_of(reg), persisted_as, &variable);
    }
}
} // namespace

void add_tone_mapping(tone_mapping_settings& settings, gcxml::doc_builder& writer,
                      gen_property::gen_property_reqistry& handlers, bool native,
                      std::span<const drv_genicam::doc_entry> camera_documents)
{
    // A camera with tone mapping of its own may have features of these names
    // (ToneMappingEnable), whose values the node walk keeps in the same store.
    const auto persisted_as = [&](std::wstring_view name) {
        return drv_genicam::handler_value_name(camera_documents, handlers.property_store(), name,
                                               drv_genicam::service_value_prefix);
    };
    const auto forced_enable = forced_value(handlers, L"force_TonemappingEnable");
    const auto forced_auto = forced_value(handlers, L"force_TonemappingAuto");
    const std::optional<gcxml::visibility_kind> invisible =
        native ? std::optional(gcxml::visibility_kind::invisible) : std::nullopt;

    auto enable_attributes = placed("Enable", "{B57D3000-0AC6-4819-A609-272A33140ACA}", 0);
    enable_attributes.imposed_access_mode = forced_enable ? gcxml::access_mode_kind::ro : gcxml::access_mode_kind::rw;
    enable_attributes.visibility = invisible;
    const gcxml::reg_ref enable = add_bool_feature(writer, "ToneMapping_Enable_Elem", false, enable_attributes);
    add_switch_handler(handlers, enable, settings.enable, forced_enable, persisted_as(L"TonemappingEnable"));

    add_lock_node(writer, "ToneMapping_Params_Locked", enable.name);

    auto locked = [&](const char* element, const char* guid, std::int32_t order) {
        auto attributes = placed(element, guid, order);
        attributes.is_locked = "ToneMapping_Params_Locked";
        attributes.visibility = invisible;
        return attributes;
    };
    const gcxml::reg_ref intensity = add_float_feature(writer, "ToneMapping_Intensity_Elem", {-8, 8, 0.01, 0.5},
                                                       locked("Intensity", "{BD2F432A-02C1-4F32-9AEB-687CA117D2E7}", 1));
    const gcxml::reg_ref brightness =
        add_float_feature(writer, "ToneMapping_GlobalBrightness_Elem", {0, 1, 0.01, 0},
                          locked("Global Brightness Factor", "{D1451FED-C2D8-42CE-910B-2CB566836A77}", 2));

    auto auto_attributes = locked("Auto", "{B57D3001-0AC6-4819-A609-272A33140ACA}", 8);
    auto_attributes.imposed_access_mode = forced_auto ? gcxml::access_mode_kind::ro : gcxml::access_mode_kind::rw;
    const gcxml::reg_ref auto_reg = add_bool_feature(writer, "ToneMapping_Auto_Elem", true, auto_attributes);
    add_switch_handler(handlers, auto_reg, settings.auto_mode, forced_auto, persisted_as(L"TonemappingAuto"));

    handlers.table().add_float_property(key_of(intensity), persisted_as(L"TonemappingIntensity"),
                                        &settings.intensity, -8, 8);
    handlers.table().add_float_property(key_of(brightness), persisted_as(L"TonemappingGlobalBrightnessFactor"),
                                        &settings.global_brightness, 0, 1);

    // The results: locked while auto computes them.
    struct result_feature {
        const char* name;
        float_range range;
        const char* element;
        const char* guid;
        std::int32_t order;
        float tone_mapping_settings::*variable;
        const wchar_t* persisted_as;
    };
    static constexpr result_feature results[] = {
        {"ToneMapping_MulFactor_Elem", {-40, 40, 0.01, 1}, "a", "{48D2D5F5-0BED-4D5A-AA7C-B8A8C41C1179}", 10,
         &tone_mapping_settings::mul_factor, L"TonemappingMulFactor"},
        {"ToneMapping_AddFactor_Elem", {-20, 20, 0.01, 0}, "b", "{8A1A5755-A562-470B-9842-97B08791144C}", 11,
         &tone_mapping_settings::add_factor, L"TonemappingAddFactor"},
        {"ToneMapping_PowFactor_Elem", {0, 4, 0.01, 1}, "c", "{E6D1FED4-C28A-431D-B9EC-0FCE3566235A}", 12,
         &tone_mapping_settings::pow_factor, L"TonemappingPowFactor"},
        {"ToneMapping_LumAvg_Elem", {0, 1, 0.01, 0}, "lum_avg", "{0634AEA5-2A19-4292-97BC-7D228AE4C60F}", 13,
         &tone_mapping_settings::lum_avg, L"TonemappingLumAvgVal"},
    };
    gcxml::reg_ref result_regs[std::size(results)];
    for (std::size_t i = 0; i < std::size(results); ++i) {
        auto attributes = placed(results[i].element, results[i].guid, results[i].order);
        attributes.is_locked = auto_reg.name;
        attributes.visibility = native ? gcxml::visibility_kind::invisible : gcxml::visibility_kind::guru;
        result_regs[i] = add_float_feature(writer, results[i].name, results[i].range, attributes);
    }
    for (std::size_t i = 0; i < std::size(results); ++i) {
        handlers.table().add_float_property(key_of(result_regs[i]), persisted_as(results[i].persisted_as),
                                            &(settings.*results[i].variable),
                                            static_cast<float>(results[i].range.min),
                                            static_cast<float>(results[i].range.max));
    }

    gcxml::boolean_desc supports_8bit;
    gcxml::make_boolean_desc(supports_8bit, "ToneMapping_Supports_8Bit", 1, 1);
    supports_8bit.default_kind = gcxml::ref_kind::none;
    supports_8bit.default_text.clear();
    supports_8bit.imposed_access_mode = gcxml::access_mode_kind::ro;
    gcxml::write_bool_node(writer.register_description(), supports_8bit);

    settings.state = std::make_shared<img::tonemapping_auto_state>();
}

} // namespace genext
