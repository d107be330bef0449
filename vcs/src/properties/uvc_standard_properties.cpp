#include "properties/uvc_standard_properties.h"

#include "gen_utils/log.h"
#include "properties/std_uvc_property.h"
#include "properties/uvc_exposure_property.h"
#include "properties/whitebalance_uvc_property.h"

namespace uvc_property {

const std::vector<std_property_row>& standard_property_rows()
{
    using cam::PROPSETID_VIDCAP_CAMERACONTROL;
    using cam::PROPSETID_VIDCAP_VIDEOPROCAMP;
    static const std::vector<std_property_row> rows = {
        {L"Brightness", PROPSETID_VIDCAP_VIDEOPROCAMP, 0, unit_pu, 0x02, unit_none, 0},
        {L"Contrast", PROPSETID_VIDCAP_VIDEOPROCAMP, 1, unit_pu, 0x03, unit_none, 0},
        {L"Hue", PROPSETID_VIDCAP_VIDEOPROCAMP, 2, unit_pu, 0x06, unit_pu, 0x10},
        {L"Saturation", PROPSETID_VIDCAP_VIDEOPROCAMP, 3, unit_pu, 0x07, unit_none, 0},
        {L"Sharpness", PROPSETID_VIDCAP_VIDEOPROCAMP, 4, unit_pu, 0x08, unit_none, 0},
        {L"Gamma", PROPSETID_VIDCAP_VIDEOPROCAMP, 5, unit_pu, 0x09, unit_none, 0},
        {L"WhitebalanceTemperature", PROPSETID_VIDCAP_VIDEOPROCAMP, 7, unit_pu, 0x0A, unit_pu, 0x0B},
        {L"WhitebalanceTemperature", PROPSETID_VIDCAP_VIDEOPROCAMP, 7, unit_none, 0, unit_pu, 0x0D},
        {L"BacklightCompensation", PROPSETID_VIDCAP_VIDEOPROCAMP, 8, unit_pu, 0x01, unit_none, 0},
        {L"Gain", PROPSETID_VIDCAP_VIDEOPROCAMP, 9, unit_pu, 0x04, unit_none, 0},
        {L"Focus", PROPSETID_VIDCAP_CAMERACONTROL, 6, unit_ct, 0x06, unit_ct, 0x08},
        {L"Iris", PROPSETID_VIDCAP_CAMERACONTROL, 5, unit_ct, 0x09, unit_none, 0},
        {L"Zoom", PROPSETID_VIDCAP_CAMERACONTROL, 3, unit_ct, 0x0B, unit_none, 0},
        {L"Roll", PROPSETID_VIDCAP_CAMERACONTROL, 2, unit_ct, 0x0F, unit_none, 0},
    };
    return rows;
}

UVCPropertyData* uvc_standard_properties::find(std::uint32_t kind, std::uint32_t selector) noexcept
{
    if (kind == unit_none) {
        return nullptr;
    }
    for (auto& control : controls_) {
        if (control.kind == kind && control.selector == selector) {
            return &control;
        }
    }
    return nullptr;
}

void uvc_standard_properties::build(const cam::uvc_cam::uvc_descriptor_tree& tree, uvc_control_channel& channel,
                                    gen_property::gen_property_reqistry& registry, bool suppress_handlers)
{
    // The registry points at the handlers, and they into the list: both stay
    // as built.
    if (built_) {
        return;
    }
    built_ = true;
    controls_ = announced_controls(tree);
    for (auto& control : controls_) {
        if (const std::error_code ec = initialise_control(channel, control)) {
            control.length = 0;
            log_line(logging::level_error,
                     "[CamTovra] Failed to init property unit-id={}, unit_type={}, item=0x{:x}, most likely invalid "
                     "availability flag.\n",
                     control.unit_id, control.kind, control.selector);
        }
    }
    if (!suppress_handlers) {
        create_handlers(channel, registry);
    }
}

void uvc_standard_properties::create_handlers(uvc_control_channel& channel,
                                              gen_property::gen_property_reqistry& registry)
{
    for (const auto& row : standard_property_rows()) {
        UVCPropertyData* value = find(row.value_kind, row.value_selector);
        UVCPropertyData* automatic = find(row.auto_kind, row.auto_selector);
        if (automatic != nullptr && automatic->length == 0) {
            automatic = nullptr;
        }
        const bool usable = value != nullptr ? value->length != 0 : automatic != nullptr;
        if (!usable) {
            continue;
        }
        auto handler = std::make_unique<std_uvc_property>(value, automatic, row.name, channel);
        (void)registry.register_handler({row.property_set, row.id}, handler.get(), cam::level_base);
        handlers_.push_back(std::move(handler));
    }
    if (UVCPropertyData* component = find(unit_pu, 0x0C); component != nullptr && component->length != 0) {
        auto handler =
            std::make_unique<whitebalance_uvc_property>(*component, whitebalance_component_store_name(controls_), channel);
        const cam::property_req_key keys[] = {
            {cam::PROPSETID_FWCAM1394_CUSTOM_PROP, whitebalance_uvc_property::id_blue},
            {cam::PROPSETID_FWCAM1394_CUSTOM_PROP, whitebalance_uvc_property::id_red}};
        (void)registry.register_handler_keys(keys, handler.get(), cam::level_base);
        handlers_.push_back(std::move(handler));
    }
    if (UVCPropertyData* exposure = find(unit_ct, 0x04); exposure != nullptr && exposure->length != 0) {
        UVCPropertyData* mode = find(unit_ct, 0x02);
        if (mode != nullptr && mode->length == 0) {
            mode = nullptr;
        }
        auto handler = std::make_unique<uvc_exposure_property>(*exposure, mode, channel);
        const cam::property_req_key keys[] = {
            {cam::PROPSETID_VIDCAP_CAMERACONTROL, uvc_exposure_property::id_camera_control},
            {cam::PROPSETID_FWCAM1394_CUSTOM_PROP, uvc_exposure_property::id_custom}};
        (void)registry.register_handler_keys(keys, handler.get(), cam::level_base);
        handlers_.push_back(std::move(handler));
    }
}

} // namespace uvc_property
