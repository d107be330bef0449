#include "properties/uvc_property_data.h"

#include <algorithm>

#include <fmt/format.h>

#include "gen_utils/log.h"

namespace uvc_property {

namespace {

using cam::uvc_cam::read_le16;
using cam::uvc_cam::read_u8;
using cam::uvc_cam::unit_descriptor;

constexpr control_row control_table[] = {
    {unit_pu, 0x02, 0, 2},  {unit_pu, 0x03, 1, 2},  {unit_pu, 0x06, 2, 2},  {unit_pu, 0x07, 3, 2},
    {unit_pu, 0x08, 4, 2},  {unit_pu, 0x09, 5, 2},  {unit_pu, 0x0A, 6, 2},  {unit_pu, 0x0C, 7, 4},
    {unit_pu, 0x01, 8, 2},  {unit_pu, 0x04, 9, 2},  {unit_pu, 0x05, 10, 1}, {unit_pu, 0x10, 11, 1},
    {unit_pu, 0x0B, 12, 1}, {unit_pu, 0x0D, 13, 1}, {unit_pu, 0x0E, 14, 2}, {unit_pu, 0x0F, 15, 2},
    {unit_pu, 0x11, 16, 1}, {unit_pu, 0x12, 17, 1},
    {unit_ct, 0x01, 0, 1},  {unit_ct, 0x02, 1, 1},  {unit_ct, 0x03, 2, 1},  {unit_ct, 0x04, 3, 4},
    {unit_ct, 0x05, 4, 1},  {unit_ct, 0x06, 5, 2},  {unit_ct, 0x07, 6, 2},  {unit_ct, 0x09, 7, 2},
    {unit_ct, 0x0A, 8, 1},  {unit_ct, 0x0B, 9, 2},  {unit_ct, 0x0C, 10, 3}, {unit_ct, 0x0D, 11, 8},
    {unit_ct, 0x0E, 12, 4}, {unit_ct, 0x0F, 13, 2}, {unit_ct, 0x10, 14, 2}, {unit_ct, 0x08, 17, 1},
    {unit_ct, 0x11, 18, 1},
    {unit_xu, 0x01, 0, 1},  {unit_xu, 0x02, 1, 1},  {unit_xu, 0x04, 3, 4},  {unit_xu, 0x09, 8, 4},
    {unit_xu, 0x0A, 9, 1},
};
static_assert(std::size(control_table) == 40);

void append_unit(std::vector<UVCPropertyData>& out, std::uint32_t kind, const unit_descriptor& unit)
{
    const auto& controls = unit.controls;
    for (std::size_t byte = 0; byte < controls.size(); ++byte) {
        for (std::uint32_t bit = 0; bit < 8; ++bit) {
            if ((controls[byte] & (1u << bit)) == 0) {
                continue;
            }
            const auto number = static_cast<std::uint32_t>(byte * 8 + bit);
            const auto row = std::find_if(std::begin(control_table), std::end(control_table),
                                          [&](const control_row& r) { return r.kind == kind && r.bit == number; });
            if (row == std::end(control_table)) {
                continue;
            }
            UVCPropertyData record;
            record.kind = kind;
            record.selector = row->selector;
            record.length = row->length;
            record.unit_id = read_u8(unit.bytes, 3);
            out.push_back(record);
        }
    }
}

const char* kind_name(std::uint32_t kind)
{
    switch (kind) {
    case unit_pu:
        return "PU";
    case unit_ct:
        return "CT";
    case unit_xu:
        return "XU";
    default:
        return "--";
    }
}

} // namespace

const std::array<std::uint8_t, 16> vendor_extension_unit_guid = {0x0A, 0xBA, 0x49, 0xDE, 0x5C, 0x0B, 0x49, 0xD5,
                                                                 0x8F, 0x71, 0x0B, 0xE4, 0x0F, 0x94, 0xA6, 0x7A};

std::int32_t UVCPropertyData::read(const std::array<std::uint8_t, 16>& field, std::uint32_t length) noexcept
{
    if (length == 1) {
        return field[0];
    }
    if (length == 2) {
        return static_cast<std::int16_t>(field[0] | field[1] << 8);
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(field[0]) | static_cast<std::uint32_t>(field[1]) << 8 |
                                     static_cast<std::uint32_t>(field[2]) << 16 |
                                     static_cast<std::uint32_t>(field[3]) << 24);
}

void UVCPropertyData::set_value(std::int32_t v) noexcept
{
    for (std::size_t i = 0; i < 4; ++i) {
        current[i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
    }
}

bool UVCPropertyData::is_range() const noexcept
{
    const std::int32_t min = read(minimum, length);
    const std::int32_t max = read(maximum, length);
    return (min != 0 || max != 0) && !(min == 0 && max == -1);
}

std::string UVCPropertyData::description() const
{
    return fmt::format("property ({} ctrl={:#2x},unit_id={:#2x})", kind_name(kind), selector, unit_id);
}

const unit_descriptor* camera_terminal(const cam::uvc_cam::uvc_descriptor_tree& tree)
{
    for (const auto& terminal : tree.input_terminals()) {
        if (read_le16(terminal.bytes, 4) == 0x0201) {
            return &terminal;
        }
    }
    return nullptr;
}

std::vector<UVCPropertyData> announced_controls(const cam::uvc_cam::uvc_descriptor_tree& tree)
{
    std::vector<UVCPropertyData> out;
    if (const unit_descriptor* ct = camera_terminal(tree)) {
        append_unit(out, unit_ct, *ct);
    }
    if (!tree.processing_units().empty()) {
        append_unit(out, unit_pu, tree.processing_units().front());
    }
    for (const auto& xu : tree.extension_units()) {
        const bool vendor = xu.bytes.size() >= 20 &&
                            std::equal(vendor_extension_unit_guid.begin(), vendor_extension_unit_guid.end(),
                                       xu.bytes.begin() + 4);
        if (vendor) {
            append_unit(out, unit_xu, xu);
        }
    }
    return out;
}

const wchar_t* whitebalance_component_store_name(const std::vector<UVCPropertyData>& controls)
{
    const bool temperature = std::any_of(controls.begin(), controls.end(), [](const UVCPropertyData& c) {
        return c.kind == unit_pu && c.selector == 0x0A && c.length != 0;
    });
    return temperature ? L"WhitebalanceComponent" : L"WhitebalanceTemperature";
}

void check_consistency(const UVCPropertyData& c)
{
    using logging::level_warning;
    const std::string name = c.description();
    if (c.length == 0) {
        log_line(level_warning, "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid len [{}]\n",
                 name, c.length);
        return;
    }
    const std::int32_t min = UVCPropertyData::read(c.minimum, c.length);
    const std::int32_t max = UVCPropertyData::read(c.maximum, c.length);
    const std::int32_t res = UVCPropertyData::read(c.resolution, c.length);
    const std::int32_t def = UVCPropertyData::read(c.default_value, c.length);
    const bool info_any = (c.info & 3) != 0;
    if (c.is_range()) {
        if (max < min) {
            log_line(level_warning,
                     "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid min > max [{}, {}]\n",
                     name, min, max);
        }
        if ((c.info & 1) != 0 && (c.value() < min || c.value() > max)) {
            log_line(level_warning,
                     "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid val={} outside range "
                     "of [{}, {}]\n",
                     name, c.value(), min, max);
        }
        if (c.resolution_read && res == 0) {
            log_line(level_warning, "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid res={}\n",
                     name, res);
        }
        if (c.default_read && info_any && (def < min || def > max)) {
            log_line(level_warning,
                     "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid def={} outside range "
                     "of [{}, {}]\n",
                     name, def, min, max);
        }
        return;
    }
    if (c.resolution_read && res == 0) {
        log_line(level_warning, "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid res=0x{:x}\n",
                 name, static_cast<std::uint32_t>(res));
    }
    if (c.default_read && info_any && (def & ~res) != 0) {
        log_line(level_warning,
                 "[CamTovra] uvc_property::UVCPropertyData::check_consistency, {}, invalid def=0x{:x} not in "
                 "available bits of 0x{:x}\n",
                 name, static_cast<std::uint32_t>(def), static_cast<std::uint32_t>(res));
    }
}

} // namespace uvc_property
