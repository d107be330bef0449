#pragma once
// The feature groups that the service publishes in its own GenICam document
// for the image processing it performs itself: Tone Mapping, Color Matrix and
// Polarization. Each value feature is a node over a 4-byte register of that
// document; the register's address (low 32 bits) is the id under
// PROPSETID_EMULATED_REGISTER of the handler that reads and writes the
// camera's variable behind it. Builders return nothing and log nothing.

#include "properties/genicam_named_req_proxy.h"

#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"
#include "device_impl/image/tonemap.h"
#include "genicam/doc_builder.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace genext {

struct tone_mapping_settings {
    bool enable = false;
    bool auto_mode = true;
    float intensity = 0;
    float global_brightness = 0;
    // The tone-mapping results: computed while auto is on, the client's
    // values while it is off.
    float mul_factor = 0;
    float add_factor = 0;
    float pow_factor = 0;
    float lum_avg = 0;
    // Set by add_tone_mapping.
    std::shared_ptr<img::tonemapping_auto_state> state;
};

inline constexpr std::array<float, 9> identity_matrix{1, 0, 0, 0, 1, 0, 0, 0, 1};

struct color_transformation_settings {
    // 1 once the group is built; 0 when the camera transforms colours itself.
    bool in_use = false;
    bool enable = false;
    // Row-major: 00, 01, 02, 10, 11, 12, 20, 21, 22.
    std::array<float, 9> coefficients = identity_matrix;
    std::array<float, 9> default_coefficients = identity_matrix;
};

// The camera's own document has an available Boolean "ToneMappingEnable"
// (native): every value node is Invisible, the handlers stay. Forced values:
// "force_TonemappingEnable" and "force_TonemappingAuto" in the camera's store.
// A persisted value whose name a feature of `camera_documents` has in the
// store too is kept under the service's name of it (handler_value_name).
void add_tone_mapping(tone_mapping_settings& settings, gcxml::doc_builder& writer,
                      gen_property::gen_property_reqistry& handlers, bool native,
                      std::span<const drv_genicam::doc_entry> camera_documents = {});

// Nothing when a camera document has an available Boolean
// "ColorTransformationEnable". Defaults from the camera's
// "ColorTransformationValueNN_Default" features, else from the table row of
// product_key with bit 7 cleared. Values are persisted under the names of
// their nodes, beside the camera's features as for tone mapping.
void add_color_matrix(color_transformation_settings& settings, std::span<const drv_genicam::doc_entry> camera_documents,
                      gcxml::doc_builder& writer, gen_property::gen_property_reqistry& handlers,
                      std::uint8_t product_key);

// "PolarizationVisulizationMode" with six or five modes over `mode`;
// "force_polarization_visualization_mode" selects one and makes it read-only.
void add_polarization(std::uint32_t& mode, gcxml::doc_builder& writer, gen_property::gen_property_reqistry& handlers,
                      bool six_modes);

// The default matrix row of a product key (bit 7 ignored); none without a row.
const std::array<float, 9>* default_color_matrix(std::uint8_t product_key) noexcept;

} // namespace genext
