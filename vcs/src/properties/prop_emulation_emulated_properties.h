#pragma once
// The values a camera class emulates in software: proc-amp values the camera
// lacks (hue, saturation, brightness, sharpness), the software gamma, the
// software denoise level, and the colour-enhance items. Each proc-amp value
// is registered only where no other handler answers its key; the frame's
// consumer applies the values, which the camera class copies into every
// frame header (per_frame).
//
// Calling order for a camera class:
//   1. add(...) once while it sets up its image processing, after the
//      standard UVC properties and the camera's GenICam features registered
//      their handlers and before the own document is rendered;
//   2. register_color_enhance_first or _second, and set the pattern;
//   3. per_frame() for every delivered frame.
// Requests run under the camera's request lock; per_frame is read on the
// frame path and only reads plain integers.

#include <cstdint>
#include <span>

#include "device_impl/device_impl_tools/propset.h"
#include "genicam/doc_builder.h"
#include "properties/genicam_named_req_proxy.h"
#include "properties/prop_emulation_color_enhance2.h"
#include "properties/prop_emulation_software_gamma.h"
#include "properties/prop_emulation_vpa_property.h"

namespace prop_emulation {

// The processing parameters of one frame, each the header's default when its
// value is not in use.
struct per_frame_values {
    float saturation = 1.0F; // saturation / 64
    float hue = 0.0F;        // hue / 180
    std::int32_t brightness = 0;
    std::int32_t sharpness = 0;
    std::int32_t denoise = 0; // always the software denoise level, 0 to 25
    float gamma = 1.0F;      // software gamma / 100
};

class emulated_properties {
public:
    emulated_properties();
    emulated_properties(const emulated_properties&) = delete;
    emulated_properties& operator=(const emulated_properties&) = delete;

    // Registers the emulated values where nothing answers yet, at level 2:
    // sharpness; the software gamma with its GammaRaw feature; the denoise
    // feature (always); with `with_colour` hue and saturation (with its
    // SaturationRaw feature); brightness. Features go into `document`; their
    // registers' handlers into the registry's table. A persisted value whose
    // name a feature of `camera_documents` has in the store too is kept under
    // the service's name of it (handler_value_name). Call once.
    void add(gen_property::gen_property_reqistry& registry, gcxml::doc_builder& document, bool with_colour,
             std::span<const drv_genicam::doc_entry> camera_documents = {});

    // The colour-enhance items at level 2: the first variant (mode code 12,
    // pattern hidden) or the second (mode code 15, pattern shown).
    void register_color_enhance_first(gen_property::gen_property_reqistry& registry);
    void register_color_enhance_second(gen_property::gen_property_reqistry& registry);
    color_enhance2& color_enhance() noexcept { return color_enhance_; }

    per_frame_values per_frame() const noexcept;

    vpa_property& hue() noexcept { return hue_; }
    vpa_property& saturation() noexcept { return saturation_; }
    vpa_property& brightness() noexcept { return brightness_; }
    vpa_property& sharpness() noexcept { return sharpness_; }
    software_gamma& gamma() noexcept { return gamma_; }
    std::int32_t denoise() const noexcept { return denoise_; }

private:
    void register_color_enhance(gen_property::gen_property_reqistry& registry);

    vpa_property hue_;
    vpa_property saturation_;
    vpa_property brightness_;
    vpa_property sharpness_;
    software_gamma gamma_;
    std::int32_t denoise_ = 0;
    color_enhance2 color_enhance_;
    bool added_ = false;
};

} // namespace prop_emulation
