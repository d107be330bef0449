#include "propertypage/abs_val_slider_controller.h"

#include "propertypage/value_text.h"

#include <algorithm>
#include <cmath>

namespace VCDPropUI {

namespace {

constexpr int last_position = 100;
// What get_text shows at most, as the fixed buffers of the dialog did.
constexpr std::size_t max_text_length = 19;

} // namespace

double CAbsValSliderController::mapping::to_scale(double value) const noexcept
{
    return logarithmic() ? std::log(value) : value;
}

double CAbsValSliderController::mapping::from_scale(double scaled) const noexcept
{
    return logarithmic() ? std::exp(scaled) : scaled;
}

bool CAbsValSliderController::mapping::usable() const noexcept
{
    if (!std::isfinite(minimum) || !std::isfinite(maximum) || !(maximum > minimum)) {
        return false;
    }
    if (logarithmic() && !(minimum > 0)) {
        return false;
    }
    // Both ends finite on the scale, and apart: positions divide by the span.
    const double span = to_scale(maximum) - to_scale(minimum);
    return std::isfinite(span) && span > 0;
}

CAbsValSliderController::CAbsValSliderController(std::unique_ptr<slider_item> item) noexcept
    : item_(std::move(item))
{
}

const CAbsValSliderController::mapping* CAbsValSliderController::usable_mapping()
{
    if (!mapping_) {
        slider_abs_range range;
        if (!item_ || !item_->get_abs_range(range)) {
            return nullptr; // tried again on the next use
        }
        mapping read;
        read.minimum = range.minimum;
        read.maximum = range.maximum;
        std::wstring unit;
        std::int32_t scale_kind = read.scale_kind;
        if (item_->get_abs_dimension(unit, scale_kind)) {
            read.unit = std::move(unit);
            read.scale_kind = scale_kind;
        }
        mapping_ = std::move(read);
    }
    return mapping_->usable() ? &*mapping_ : nullptr;
}

bool CAbsValSliderController::get_position_range(int& first, int& last)
{
    if (usable_mapping() == nullptr) {
        return false;
    }
    first = 0;
    last = last_position;
    return true;
}

bool CAbsValSliderController::set_position(int position)
{
    const mapping* map = usable_mapping();
    if (map == nullptr) {
        return false;
    }
    // The ends are the bounds themselves, unsnapped: the way through the
    // scale (a logarithm and back, a span divided and multiplied) can miss
    // them by a rounding step, and a snap would leave them unreachable.
    if (position <= 0 || position >= last_position) {
        return item_->set_abs_value(position <= 0 ? map->minimum : map->maximum);
    }
    const double low = map->to_scale(map->minimum);
    const double high = map->to_scale(map->maximum);
    const double value =
        std::clamp(map->from_scale(low + (high - low) / last_position * position), map->minimum, map->maximum);
    return item_->set_abs_value(snap_value(value));
}

bool CAbsValSliderController::get_position(int& position)
{
    const mapping* map = usable_mapping();
    double value = 0;
    if (map == nullptr || !item_->get_abs_value(value)) {
        return false;
    }
    if (std::isnan(value) || (map->logarithmic() && !(value > 0))) {
        return false;
    }
    const double low = map->to_scale(map->minimum);
    const double high = map->to_scale(map->maximum);
    const double scaled = (map->to_scale(value) - low) * (last_position / (high - low)) + 0.5;
    // A value outside the range stays on the slider's ends rather than
    // overflowing the integer.
    position = static_cast<int>(std::clamp(scaled, 0.0, static_cast<double>(last_position)));
    return true;
}

bool CAbsValSliderController::is_read_only(bool& read_only)
{
    return item_ && item_->is_read_only(read_only);
}

bool CAbsValSliderController::is_available(bool& available)
{
    bool item_available = false;
    if (!item_ || !item_->is_available(item_available)) {
        return false;
    }
    available = item_available && usable_mapping() != nullptr;
    return true;
}

std::wstring CAbsValSliderController::unit_text()
{
    // The unit is read with the range; a failed read leaves it empty (a text
    // carrying its unit then fails to parse, as it should).
    usable_mapping();
    return mapping_ ? mapping_->unit : std::wstring{};
}

double CAbsValSliderController::snap_value(double value)
{
    return value;
}

bool CAbsValSliderController::read_text(std::wstring_view text, double& value)
{
    const std::wstring unit = unit_text();
    const std::wstring_view rest = VCDAdapterHelper::trim_value_text(text, unit);

    double read = 0;
    if (const auto slash = rest.find(L'/'); slash != std::wstring_view::npos) {
        std::int32_t numerator = 0;
        std::int32_t divisor = 0;
        if (!VCDAdapterHelper::parse_int_strict(rest.substr(0, slash), numerator) ||
            !VCDAdapterHelper::parse_int_strict(rest.substr(slash + 1), divisor) || divisor == 0) {
            return false;
        }
        read = static_cast<double>(numerator) / divisor;
    } else if (!VCDAdapterHelper::parse_decimal_text(rest, read)) {
        return false;
    }
    if (!std::isfinite(read)) {
        return false;
    }
    value = read;
    return true;
}

bool CAbsValSliderController::set_from_text(std::wstring_view text)
{
    double value = 0;
    return item_ && read_text(text, value) && item_->set_abs_value(value);
}

bool CAbsValSliderController::reads_as_value(std::wstring_view text)
{
    double value = 0;
    return read_text(text, value);
}

std::wstring CAbsValSliderController::with_unit(const std::string& number, const std::wstring& unit)
{
    std::wstring text(number.begin(), number.end());
    text += L' ';
    text += unit;
    if (text.size() > max_text_length) {
        text.resize(max_text_length);
    }
    return text;
}

bool CAbsValSliderController::get_text(std::wstring& text)
{
    double value = 0;
    if (!item_ || !item_->get_abs_value(value)) {
        return false;
    }
    text = with_unit(VCDAdapterHelper::fixed_point_text(value, 3), unit_text());
    return true;
}

} // namespace VCDPropUI
