#include "properties/genicam_dshow_adapters.h"

#include "properties/genicam_value_conversions.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"

namespace drv_genicam {

std::error_code dshow_to_genicam_float::get_request(KsPropDataRequest& request)
{
    if (node == nullptr) {
        return not_implemented();
    }
    auto read = read_feature_float(*node);
    if (!read) {
        return read.error();
    }
    const float_feature& f = read.value();
    const auto min = round_to_i32(scale * f.min);
    const auto max = round_to_i32(scale * f.max);
    const auto value = round_to_i32(scale * f.value);
    const auto def = use_fixed_default != 0 ? std::optional<std::int32_t>(fixed_default)
                                            : round_to_i32(scale * f.default_value);
    if (!min || !max || !value || !def) {
        return invalid_argument();
    }
    return cam::write_std_reply(request, cam::flag_manual, *min, *max, default_in_range(*def, *min, *max), 1,
                                *value, cam::flag_manual);
}

std::error_code dshow_to_genicam_float::set_request(KsPropDataRequest& request)
{
    if (node == nullptr) {
        return not_implemented();
    }
    auto record = cam::read_value_and_flags_result(request);
    if (!record) {
        return record.error();
    }
    const std::int32_t sent = record.value().value;
    const float value = static_cast<float>(sent) / scale;
    return node->set_val(
        float_from_record(*node, sent, value, [this](double bound) { return round_to_i32(scale * bound); }));
}

std::error_code dshow_to_genicam_int::get_request(KsPropDataRequest& request)
{
    if (node == nullptr) {
        return not_implemented();
    }
    auto read = read_feature_int(*node);
    if (!read) {
        return read.error();
    }
    const int_feature& f = read.value();
    return cam::write_std_reply(request, cam::flag_manual, saturate_i32(f.min), saturate_i32(f.max),
                                saturate_i32(f.default_value), 1, saturate_i32(f.value), cam::flag_manual);
}

std::error_code dshow_to_genicam_int::set_request(KsPropDataRequest& request)
{
    if (node == nullptr) {
        return not_implemented();
    }
    auto record = cam::read_value_and_flags_result(request);
    if (!record) {
        return record.error();
    }
    return node->set_val(record.value().value);
}

} // namespace drv_genicam
