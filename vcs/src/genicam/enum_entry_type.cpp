#include "genicam/enum_entry_type.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"

#include <type_traits>

namespace GenICam::impl {

static_assert(std::is_trivially_destructible_v<enum_entry_type>, "entries need no destroy record");

enum_entry_type::enum_entry_type(const node_init& init, std::int32_t ordinal)
    : node_base_impl_ignore_dependent(init)
    , ordinal_(ordinal)
{
    const parsed_integer value = parse_integer_text(child("Value"));
    if (value.ok()) {
        value_ = value.value;
    } else {
        GENICAM_LOG(1, "EnumEntry (\"%s\"). Failed to parse \"Value\" xml node.\n", name_text());
    }
}

std::optional<double> enum_entry_type::get_numeric_value() const
{
    const parsed_float numeric = parse_float_text(child("NumericValue"));
    if (!numeric.ok()) {
        return std::nullopt;
    }
    return numeric.value;
}

} // namespace GenICam::impl
