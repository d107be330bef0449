#include "properties/genicam_strobe.h"

#include "properties/genicam_value_conversions.h"

#include "gen_utils/cam_error.h"

#include <array>
#include <cstring>

namespace drv_genicam {

namespace {
struct strobe_record {
    std::array<unsigned char, strobe::record_size> bytes{};

    void put(std::uint32_t offset, std::uint32_t value) noexcept { std::memcpy(bytes.data() + offset, &value, 4); }
    void put_signed(std::uint32_t offset, std::int32_t value) noexcept
    {
        std::memcpy(bytes.data() + offset, &value, 4);
    }
    std::uint32_t get(std::uint32_t offset) const noexcept
    {
        std::uint32_t value = 0;
        std::memcpy(&value, bytes.data() + offset, 4);
        return value;
    }
};

// Value, minimum, maximum and default at offset, offset + 4, ...
std::error_code put_int_feature(strobe_record& record, std::uint32_t offset, GenICam::IInteger& node)
{
    auto read = read_feature_int(node);
    if (!read) {
        return read.error();
    }
    record.put_signed(offset, saturate_i32(read.value().value));
    record.put_signed(offset + 4, saturate_i32(read.value().min));
    record.put_signed(offset + 8, saturate_i32(read.value().max));
    record.put_signed(offset + 12, saturate_i32(read.value().default_value));
    return {};
}

// Checks the value buffer of a strobe request: 88 bytes.
std::error_code check_buffer(KsPropDataRequest& request, bool report_size)
{
    if (request.value_size < strobe::record_size) {
        if (report_size) {
            request.bytes_returned = strobe::record_size;
        }
        return insufficient_buffer();
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    return {};
}
} // namespace

std::error_code strobe::get_request(KsPropDataRequest& request)
{
    if (!is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::strobe) || enable == nullptr) {
        return not_implemented();
    }
    if (const std::error_code size = check_buffer(request, true)) {
        return size;
    }
    // The record is cleared first; its fields are built aside and copied
    // only once every reader succeeded.
    strobe_record record;
    std::memset(request.value, 0, record_size);
    std::uint32_t absent = 0;

    auto on = read_feature_enum(*enable, "On", "Off");
    if (!on) {
        return on.error();
    }
    record.put(24, on.value() ? 1 : 0);
    if (polarity != nullptr) {
        auto high = read_feature_enum(*polarity, "ActiveHigh", "ActiveLow");
        if (!high) {
            return high.error();
        }
        record.put(60, high.value() ? 1 : 0);
        record.put(64, 1);
    } else {
        absent |= no_polarity;
    }
    if (delay != nullptr) {
        if (const std::error_code read = put_int_feature(record, 28, *delay)) {
            return read;
        }
    } else {
        absent |= no_delay;
    }
    if (duration != nullptr) {
        if (const std::error_code read = put_int_feature(record, 44, *duration)) {
            return read;
        }
    }
    record.put(68, 1);
    record.put(72, 1);
    if (operation != nullptr) {
        if (!has_entry(*operation, "FixedDuration")) {
            absent |= no_operation_mode;
        } else {
            auto name = selected_entry_name(*operation);
            if (!name) {
                return name.error();
            }
            if (name.value() == "FixedDuration") {
                record.put(68, 0);
            }
        }
    } else {
        absent |= no_operation_mode;
    }
    record.put(76, absent);
    std::memcpy(static_cast<unsigned char*>(request.value) + 24, record.bytes.data() + 24, record_size - 24);
    request.bytes_returned = record_size;
    return {};
}

std::error_code strobe::set_request(KsPropDataRequest& request)
{
    if (!is_key(request, cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::strobe) || enable == nullptr) {
        return not_implemented();
    }
    if (const std::error_code size = check_buffer(request, false)) {
        return size;
    }
    strobe_record record;
    std::memcpy(record.bytes.data(), request.value, record_size);
    if (const std::error_code set = select_entry(*enable, record.get(24) != 0 ? "On" : "Off")) {
        return set;
    }
    if (polarity != nullptr) {
        if (const std::error_code set = select_entry(*polarity, record.get(60) != 0 ? "ActiveHigh" : "ActiveLow")) {
            return set;
        }
    }
    if (operation != nullptr) {
        if (const std::error_code set =
                select_entry(*operation, record.get(68) != 0 ? "Exposure" : "FixedDuration")) {
            return set;
        }
    }
    if (delay != nullptr) {
        if (const std::error_code set = delay->set_val(static_cast<std::int32_t>(record.get(28)))) {
            return set;
        }
    }
    if (duration != nullptr) {
        if (const std::error_code set = duration->set_val(static_cast<std::int32_t>(record.get(44)))) {
            return set;
        }
    }
    return {};
}

void add_strobe(strobe& handler, std::span<const doc_entry> documents, gen_property::gen_property_reqistry& registry)
{
    handler.enable = find_feature_as<GenICam::IEnumeration>(documents, "StrobeEnable");
    handler.polarity = find_feature_as<GenICam::IEnumeration>(documents, "StrobePolarity");
    handler.operation = find_feature_as<GenICam::IEnumeration>(documents, "StrobeOperation");
    handler.duration = find_feature_as<GenICam::IInteger>(documents, "StrobeDuration");
    handler.delay = find_feature_as<GenICam::IInteger>(documents, "StrobeDelay");
    if (handler.enable != nullptr) {
        registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::strobe}, &handler,
                                  cam::level_base);
    }
}

} // namespace drv_genicam
