#include "properties/genicam_exposure.h"

#include "properties/genicam_value_conversions.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"

#include <algorithm>
#include <array>

namespace drv_genicam {

namespace {
constexpr double us_per_second = 1000000.0;

std::error_code write_steps_reply(KsPropDataRequest& request, GenICam::IFloat& time)
{
    auto read = read_feature_float(time);
    if (!read) {
        return read.error();
    }
    const float_feature& f = read.value();
    const auto min = microseconds_to_exposure_step(f.min);
    const auto max = microseconds_to_exposure_step(f.max);
    const auto def = microseconds_to_exposure_step(f.default_value);
    const auto value = microseconds_to_exposure_step(f.value);
    if (!min || !max || !def || !value) {
        return invalid_argument();
    }
    return cam::write_std_reply(request, cam::flag_manual, *min, *max, *def, 1, *value, cam::flag_manual);
}

// The ExposureTime that a set of `step` writes. A step inside the range that
// get reports (the steps of the node's minimum and maximum) is taken: its
// time is brought into the node's range, since the power-of-two time of a
// bound's step may lie past the bound (maximum 33 333 µs reports step -4,
// whose time is 62 500 µs). Any other step is converted as it is, for the
// node to refuse.
double exposure_time_of_step(GenICam::IFloat& time, std::int32_t step)
{
    const double converted = exposure_step_to_microseconds(step);
    const auto min = time.get_min();
    const auto max = time.get_max();
    if (!min || !max || !(min.value() <= max.value())) {
        return converted;
    }
    const auto min_step = microseconds_to_exposure_step(min.value());
    const auto max_step = microseconds_to_exposure_step(max.value());
    if (!min_step || !max_step || step < *min_step || step > *max_step) {
        return converted;
    }
    return std::clamp(converted, min.value(), max.value());
}
} // namespace

std::error_code exposure::get_request(KsPropDataRequest& request)
{
    if (is_key(request, cam::PROPSETID_VIDCAP_CAMERACONTROL, camera_control_exposure)) {
        if (time == nullptr) {
            return not_implemented();
        }
        if (const std::error_code reply = write_steps_reply(request, *time)) {
            return reply;
        }
        return auto_capability(request, auto_mode);
    }
    if (!cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case vendor_id::exposure_seconds:
        return time ? write_float_feature_reply(request, *time, us_per_second) : not_implemented();
    case vendor_id::exposure_auto_reference:
        return auto_reference ? write_int_feature_reply(request, *auto_reference) : not_implemented();
    case vendor_id::exposure_auto_upper_limit:
        return auto_upper_limit ? write_float_feature_reply(request, *auto_upper_limit, us_per_second)
                                : not_implemented();
    case vendor_id::exposure_auto_upper_limit_auto:
        return auto_upper_limit_auto ? write_bool_feature_reply(request, *auto_upper_limit_auto)
                                     : not_implemented();
    default:
        return not_implemented();
    }
}

std::error_code exposure::set_request(KsPropDataRequest& request)
{
    if (is_key(request, cam::PROPSETID_VIDCAP_CAMERACONTROL, camera_control_exposure)) {
        std::function<std::error_code(std::int32_t)> write;
        if (time != nullptr) {
            write = [this](std::int32_t step) { return time->set_val(exposure_time_of_step(*time, step)); };
        }
        return auto_switch(request, auto_mode, write);
    }
    if (!cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case vendor_id::exposure_seconds:
        return time ? set_float_feature(request, *time, us_per_second) : not_implemented();
    case vendor_id::exposure_auto_upper_limit:
        return auto_upper_limit ? set_float_feature(request, *auto_upper_limit, us_per_second) : not_implemented();
    case vendor_id::exposure_auto_reference:
    case vendor_id::exposure_auto_upper_limit_auto: {
        auto record = cam::read_value_and_flags_result(request);
        if (!record) {
            return record.error();
        }
        if (request.property_id == vendor_id::exposure_auto_reference) {
            return auto_reference ? auto_reference->set_val(record.value().value) : not_implemented();
        }
        return auto_upper_limit_auto ? auto_upper_limit_auto->set_val(record.value().value != 0)
                                     : not_implemented();
    }
    default:
        return not_implemented();
    }
}

void add_exposure(exposure& handler, std::span<const doc_entry> documents,
                  gen_property::gen_property_reqistry& registry)
{
    handler.time = find_feature_as<GenICam::IFloat>(documents, "ExposureTime");
    if (handler.time == nullptr) {
        return;
    }
    const std::array<cam::property_req_key, 2> keys{{
        {cam::PROPSETID_VIDCAP_CAMERACONTROL, camera_control_exposure},
        {cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::exposure_seconds},
    }};
    registry.register_handler_keys(keys, &handler, cam::level_base);

    handler.auto_mode = find_feature_as<GenICam::IEnumeration>(documents, "ExposureAuto");
    if (handler.auto_mode == nullptr) {
        return;
    }
    handler.auto_reference = find_feature_as<GenICam::IInteger>(documents, "ExposureAutoReference");
    handler.auto_upper_limit = find_feature_as<GenICam::IFloat>(documents, "ExposureAutoUpperLimit");
    handler.auto_upper_limit_auto = find_feature_as<GenICam::IBoolean>(documents, "ExposureAutoUpperLimitAuto");
    // Each optional member is a key of its own only where the camera has its
    // node: a client that is told a property is supported may rely on Get.
    const struct {
        std::uint32_t id;
        bool present;
    } optional_keys[] = {
        {vendor_id::exposure_auto_reference, handler.auto_reference != nullptr},
        {vendor_id::exposure_auto_upper_limit_auto, handler.auto_upper_limit_auto != nullptr},
        {vendor_id::exposure_auto_upper_limit, handler.auto_upper_limit != nullptr},
    };
    for (const auto& key : optional_keys) {
        if (key.present) {
            (void)registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, key.id}, &handler,
                                            cam::level_base);
        }
    }
}

} // namespace drv_genicam
