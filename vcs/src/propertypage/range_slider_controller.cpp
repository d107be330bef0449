#include "propertypage/range_slider_controller.h"

#include "propertypage/value_text.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace VCDPropUI {

namespace {

std::int32_t clamp_to_int32(std::int64_t value) noexcept
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace

CRangeSliderController::CRangeSliderController(std::unique_ptr<slider_item> item) noexcept : item_(std::move(item))
{
}

std::optional<CRangeSliderController::positions> CRangeSliderController::usable_positions()
{
    if (!range_) {
        slider_int_range read;
        if (!item_ || !item_->get_range(read)) {
            return std::nullopt; // tried again on the next use
        }
        range_ = read;
    }
    if (range_->step <= 0 || range_->maximum < range_->minimum) {
        return std::nullopt;
    }
    positions p;
    p.minimum = range_->minimum;
    p.step = range_->step;
    // In 64 bits: a range spanning most of the 32-bit values overflows them.
    p.steps = (std::int64_t{range_->maximum} - range_->minimum) / range_->step;
    // Positions are ints: with more steps than that, each position takes the
    // fewest steps that make them fit.
    constexpr std::int64_t position_count = std::int64_t{std::numeric_limits<int>::max()} + 1;
    p.stride = p.steps / position_count + 1;
    p.last = static_cast<int>(p.steps / p.stride);
    return p;
}

bool CRangeSliderController::get_position_range(int& first, int& last)
{
    const std::optional<positions> p = usable_positions();
    if (!p) {
        return false;
    }
    first = 0;
    last = p->last;
    return true;
}

bool CRangeSliderController::set_position(int position)
{
    const std::optional<positions> p = usable_positions();
    if (!p) {
        return false;
    }
    // The last position is the top of the range, also where a wide range's
    // stride would stop short of it.
    const std::int64_t steps = position >= p->last ? p->steps : std::int64_t{position} * p->stride;
    return item_->set_value(clamp_to_int32(steps * p->step + p->minimum));
}

bool CRangeSliderController::get_position(int& position)
{
    const std::optional<positions> p = usable_positions();
    std::int32_t value = 0;
    if (!p || !item_->get_value(value)) {
        return false;
    }
    // A value outside the range shows at the nearer end.
    const std::int64_t steps = (std::int64_t{value} - p->minimum) / p->step;
    position = static_cast<int>(std::clamp<std::int64_t>(steps / p->stride, 0, p->last));
    return true;
}

bool CRangeSliderController::is_read_only(bool& read_only)
{
    return item_ && item_->is_read_only(read_only);
}

bool CRangeSliderController::is_available(bool& available)
{
    bool item_available = false;
    if (!item_ || !item_->is_available(item_available)) {
        return false;
    }
    available = item_available && usable_positions().has_value();
    return true;
}

bool CRangeSliderController::set_from_text(std::wstring_view text)
{
    std::int32_t value = 0;
    return item_ && VCDAdapterHelper::parse_int_strict(text, value) && item_->set_value(value);
}

bool CRangeSliderController::reads_as_value(std::wstring_view text)
{
    std::int32_t value = 0;
    return VCDAdapterHelper::parse_int_strict(text, value);
}

bool CRangeSliderController::get_text(std::wstring& text)
{
    std::int32_t value = 0;
    if (!item_ || !item_->get_value(value)) {
        return false;
    }
    text = std::to_wstring(value);
    return true;
}

} // namespace VCDPropUI
