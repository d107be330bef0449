#include "properties/genicam_gain.h"

#include "properties/genicam_value_conversions.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"

namespace drv_genicam {

std::error_code gain::get_request(KsPropDataRequest& request)
{
    if (is_key(request, cam::PROPSETID_VIDCAP_VIDEOPROCAMP, video_proc_amp_gain)) {
        if (raw == nullptr) {
            return auto_mode ? auto_capability(request, auto_mode) : not_implemented();
        }
        auto read = read_feature_int(*raw);
        if (!read) {
            return read.error();
        }
        const int_feature& f = read.value();
        if (const std::error_code reply = cam::write_std_reply(
                request, cam::flag_manual, saturate_i32(f.min), saturate_i32(f.max), saturate_i32(f.default_value),
                saturate_i32(f.increment), saturate_i32(f.value), cam::flag_manual)) {
            return reply;
        }
        return auto_capability(request, auto_mode);
    }
    if (!is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::gain_hundredths) || value == nullptr) {
        return not_implemented();
    }
    auto read = read_feature_float(*value);
    if (!read) {
        return read.error();
    }
    const float_feature& f = read.value();
    const auto min = to_hundredths(f.min);
    const auto max = to_hundredths(f.max);
    const auto def = to_hundredths(f.default_value);
    const auto current = to_hundredths(f.value);
    if (!min || !max || !def || !current) {
        return invalid_argument();
    }
    return cam::write_range_value_reply(request, cam::flag_manual, *min, *max, default_in_range(*def, *min, *max),
                                        *current, cam::flag_manual);
}

std::error_code gain::set_request(KsPropDataRequest& request)
{
    if (is_key(request, cam::PROPSETID_VIDCAP_VIDEOPROCAMP, video_proc_amp_gain)) {
        std::function<std::error_code(std::int32_t)> write;
        if (raw != nullptr) {
            write = [this](std::int32_t v) { return raw->set_val(v); };
        }
        return auto_switch(request, auto_mode, write);
    }
    if (!is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::gain_hundredths) || value == nullptr) {
        return not_implemented();
    }
    auto record = cam::read_value_and_flags_result(request);
    if (!record) {
        return record.error();
    }
    const std::int32_t sent = record.value().value;
    const float gain_value = static_cast<float>(sent) / 100.0F;
    return value->set_val(float_from_record(*value, sent, gain_value, to_hundredths));
}

void add_gain(gain& handler, std::span<const doc_entry> documents, gen_property::gen_property_reqistry& registry)
{
    handler.value = find_feature_as<GenICam::IFloat>(documents, "Gain");
    if (handler.value == nullptr) {
        return;
    }
    handler.raw = find_feature_as<GenICam::IInteger>(documents, "GainRawHidden");
    handler.auto_mode = find_feature_as<GenICam::IEnumeration>(documents, "GainAuto");
    (void)registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::gain_hundredths}, &handler,
                                    cam::level_base);
    // The standard gain answers from GainRawHidden or GainAuto; with neither
    // its Get could only say E_NOTIMPL, so it is not offered.
    if (handler.raw != nullptr || handler.auto_mode != nullptr) {
        (void)registry.register_handler({cam::PROPSETID_VIDCAP_VIDEOPROCAMP, video_proc_amp_gain}, &handler,
                                        cam::level_base);
    }
}

} // namespace drv_genicam
