#include "properties/genext_feature_groups.h"
#include "properties/genext_node_writer.h"

#include "genicam/iboolean.h"
#include "genicam/ifloat.h"
#include "properties/genicam_node_persistence.h"

#include <fmt/format.h>

#include <algorithm>
#include <string>

namespace genext {

namespace {
struct matrix_row {
    std::initializer_list<std::uint8_t> keys;
    std::array<float, 9> coefficients;
};
const matrix_row default_matrices[] = {
    {{1, 5, 9, 10, 23}, {1.15F, -0.14F, -0.01F, -0.2F, 1.12F, 0.08F, 0.2F, -0.55F, 1.35F}},
    {{2}, {1.38F, -0.2F, -0.18F, -0.16F, 1.27F, -0.11F, 0.14F, -0.64F, 1.5F}},
    {{3}, {1.12F, -0.01F, -0.11F, -0.11F, 1.2F, -0.09F, 0.06F, -0.31F, 1.25F}},
    {{4, 6, 8, 11, 12, 15, 16}, identity_matrix},
    {{7}, {1.34F, -0.08F, -0.26F, -0.27F, 1.4F, -0.13F, 0.19F, -0.74F, 1.55F}},
    {{13, 14, 17, 18}, {1.0F, -0.05F, 0.05F, -0.07F, 0.96F, 0.11F, 0.09F, -0.27F, 1.18F}},
    {{20}, {1.17F, 0.02F, -0.19F, 0.03F, 1.09F, -0.12F, 0.08F, -0.34F, 1.26F}},
    {{21}, {0.99F, 0.12F, -0.11F, -0.16F, 1.22F, -0.06F, 0.0F, -0.02F, 1.02F}},
    {{22}, {1.06F, 0.22F, -0.28F, 0.33F, 1.43F, -0.1F, 0.05F, -0.46F, 1.41F}},
};

constexpr const char* element_suffixes[9] = {"00", "01", "02", "10", "11", "12", "20", "21", "22"};
constexpr const char* element_names[9] = {"RR", "RG", "RB", "GR", "GG", "GB", "BR", "BG", "BB"};

// The node of the first document that holds the name.
GenICam::INode* first_holding(std::span<const drv_genicam::doc_entry> documents, std::string_view name)
{
    for (const drv_genicam::doc_entry& entry : documents) {
        if (entry.document) {
            if (GenICam::INode* node = entry.document->find_node(name)) {
                return node;
            }
        }
    }
    return nullptr;
}

GenICam::IFloat* available_float(GenICam::INode* node)
{
    if (node == nullptr || node->get_node_type() != GenICam::node_type::Float || !node->is_available()) {
        return nullptr;
    }
    return static_cast<GenICam::IFloat*>(node);
}

bool camera_transforms_colours(std::span<const drv_genicam::doc_entry> documents)
{
    return std::any_of(documents.begin(), documents.end(), [](const drv_genicam::doc_entry& entry) {
        GenICam::INode* node = entry.document ? entry.document->find_node("ColorTransformationEnable") : nullptr;
        return node != nullptr && node->get_node_type() == GenICam::node_type::Boolean && node->is_available();
    });
}

void load_defaults(color_transformation_settings& settings, std::span<const drv_genicam::doc_entry> documents,
                   std::uint8_t product_key)
{
    if (available_float(first_holding(documents, "ColorTransformationValue00_Default")) != nullptr) {
        for (std::size_t i = 0; i < 9; ++i) {
            const std::string name = fmt::format("ColorTransformationValue{}_Default", element_suffixes[i]);
            GenICam::IFloat* node = available_float(first_holding(documents, name));
            if (node == nullptr) {
                continue;
            }
            if (auto value = node->get_val()) {
                settings.coefficients[i] = static_cast<float>(value.value());
                settings.default_coefficients[i] = settings.coefficients[i];
            }
        }
        return;
    }
    if (const std::array<float, 9>* row = default_color_matrix(product_key)) {
        settings.coefficients = *row;
        settings.default_coefficients = *row;
    }
}
} // namespace

const std::array<float, 9>* default_color_matrix(std::uint8_t product_key) noexcept
{
    const auto key = static_cast<std::uint8_t>(product_key & 0x7F);
    for (const matrix_row& row : default_matrices) {
        if (std::find(row.keys.begin(), row.keys.end(), key) != row.keys.end()) {
            return &row.coefficients;
        }
    }
    return nullptr;
}

void add_color_matrix(color_transformation_settings& settings, std::span<const drv_genicam::doc_entry> camera_documents,
                      gcxml::doc_builder& writer, gen_property::gen_property_reqistry& handlers,
                      std::uint8_t product_key)
{
    if (camera_transforms_colours(camera_documents)) {
        settings.in_use = false;
        return;
    }
    load_defaults(settings, camera_documents, product_key);
    const auto persisted_as = [&](std::wstring_view name) {
        return drv_genicam::handler_value_name(camera_documents, handlers.property_store(), name,
                                               drv_genicam::service_value_prefix);
    };

    constexpr const char* category = "Color Matrix";
    constexpr const char* item_guid = "{7F7E24E3-7162-42EF-BF5D-99A359CB32F2}";
    feature_attributes enable_attributes;
    enable_attributes.placement = {category, "Color Matrix", item_guid, "Enabled",
                                   "{B57D3000-0AC6-4819-A609-272A33140ACA}", 0};
    const gcxml::reg_ref enable = add_bool_feature(writer, "ColorTransformationEnable", false, enable_attributes);
    add_lock_node(writer, "ColorTransformation_Params_Locked", enable.name);
    handlers.table().add_bool_property({cam::PROPSETID_EMULATED_REGISTER, register_id(enable)},
                                       persisted_as(L"ColorTransformationEnable"), &settings.enable);

    for (std::size_t i = 0; i < 9; ++i) {
        const std::string name = fmt::format("ColorTransformationValue{}", element_suffixes[i]);
        feature_attributes attributes;
        attributes.placement = {category,
                                "Color Matrix",
                                item_guid,
                                element_names[i],
                                fmt::format("{{57480AA{}-2883-4C7D-A066-357D07C4527D}}", i),
                                static_cast<std::int32_t>(10 * i)};
        attributes.is_locked = "ColorTransformation_Params_Locked";
        const gcxml::reg_ref reg =
            add_float_feature(writer, name, {-1, 3, 0.04, settings.default_coefficients[i]}, attributes);
        handlers.table().add_float_property({cam::PROPSETID_EMULATED_REGISTER, register_id(reg)},
                                            persisted_as(std::wstring(name.begin(), name.end())),
                                            &settings.coefficients[i], -1, 3);
    }
    settings.in_use = true;
}

} // namespace genext
