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

// Positions are ints: a range of step 1 over all 32-bit values has more of
// them, and its upper end is then reached by typing the value.
int clamp_to_position(std::int64_t position) noexcept
{
    return static_cast<int>(std::clamp<std::int64_t>(position, 0, std::numeric_limits<int>::max()));
}

} // namespace

CRangeSliderController::CRangeSliderController(std::unique_ptr<slider_item> item) noexcept : item_(std::move(item))
{
}

const slider_int_range* CRangeSliderController::usable_range()
{
    if (!range_) {
        slider_int_range read;
        if (!item_ || !item_->get_range(read)) {
            return nullptr; // tried again on the next use
        }
        range_ = read;
    }
    if (range_->step <= 0 || range_->maximum < range_->minimum) {
        return nullptr;
    }
    return &*range_;
}

bool CRangeSliderController::get_position_range(int& first, int& last)
{
    const slider_int_range* range = usable_range();
    if (range == nullptr) {
        return false;
    }
    // In 64 bits: a range spanning most of the 32-bit values overflows them.
    const std::int64_t span = std::int64_t{range->maximum} - range->minimum;
    first = 0;
    last = clamp_to_position(span / range->step);
    return true;
}

bool CRangeSliderController::set_position(int position)
{
    const slider_int_range* range = usable_range();
    if (range == nullptr) {
        return false;
    }
    const std::int64_t value = std::int64_t{position} * range->step + range->minimum;
    return item_->set_value(clamp_to_int32(value));
}

bool CRangeSliderController::get_position(int& position)
{
    const slider_int_range* range = usable_range();
    std::int32_t value = 0;
    if (range == nullptr || !item_->get_value(value)) {
        return false;
    }
    position = clamp_to_position((std::int64_t{value} - range->minimum) / range->step);
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
    available = item_available && usable_range() != nullptr;
    return true;
}

bool CRangeSliderController::set_from_text(std::wstring_view text)
{
    std::int32_t value = 0;
    return item_ && VCDAdapterHelper::parse_int_strict(text, value) && item_->set_value(value);
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
