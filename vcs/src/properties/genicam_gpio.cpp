#include "properties/genicam_gpio.h"

#include "properties/genicam_value_conversions.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"
#include "gen_utils/cam_error.h"

#include <cstring>

namespace drv_genicam {

namespace {
void put(KsPropDataRequest& request, std::uint32_t offset, std::int32_t value) noexcept
{
    std::memcpy(static_cast<unsigned char*>(request.value) + offset, &value, sizeof(value));
}

// Value at `value_offset`, maximum at `value_offset + 8`.
std::error_code put_port(KsPropDataRequest& request, GenICam::IInteger& node, std::uint32_t value_offset)
{
    auto read = read_feature_int(node);
    if (!read) {
        return read.error();
    }
    put(request, value_offset, saturate_i32(read.value().value));
    put(request, value_offset + 8, saturate_i32(read.value().max));
    return {};
}
} // namespace

std::error_code gpio::get_request(KsPropDataRequest& request)
{
    if (!is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::gpio)) {
        return not_implemented();
    }
    request.bytes_returned = record_size;
    if (request.value_size < record_size) {
        return insufficient_buffer();
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    if (gp_in == nullptr && gp_out == nullptr) {
        return not_implemented();
    }
    if (gp_in != nullptr) {
        if (const std::error_code read = put_port(request, *gp_in, 24)) {
            return read;
        }
    }
    if (gp_out != nullptr) {
        if (const std::error_code read = put_port(request, *gp_out, 28)) {
            return read;
        }
    }
    return {};
}

std::error_code gpio::set_request(KsPropDataRequest& request)
{
    if (!is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::gpio) || gp_out == nullptr) {
        return not_implemented();
    }
    if (request.value_size < record_size) {
        return insufficient_buffer();
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    std::int32_t value = 0;
    std::memcpy(&value, static_cast<const unsigned char*>(request.value) + 28, sizeof(value));
    return gp_out->set_val(value);
}

GenICam::IBoolean* sensor_flip_image::node_for(const KsPropDataRequest& request) const noexcept
{
    if (is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::reverse_x)) {
        return reverse_x;
    }
    if (is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::reverse_y)) {
        return reverse_y;
    }
    return nullptr;
}

std::error_code sensor_flip_image::get_request(KsPropDataRequest& request)
{
    GenICam::IBoolean* node = node_for(request);
    return node ? write_bool_feature_reply(request, *node) : not_implemented();
}

std::error_code sensor_flip_image::set_request(KsPropDataRequest& request)
{
    GenICam::IBoolean* node = node_for(request);
    if (node == nullptr) {
        return not_implemented();
    }
    auto record = cam::read_value_and_flags_result(request);
    if (!record) {
        return record.error();
    }
    return node->set_val(record.value().value != 0);
}

} // namespace drv_genicam
