#include "propertypage/abs_val_exposure_slider_controller.h"

#include "propertypage/value_text.h"

#include <cmath>
#include <limits>
#include <string>

namespace VCDPropUI {

bool CAbsValExposureSliderController::is_available(bool& available)
{
    bool base_available = false;
    if (!CAbsValSliderController::is_available(base_available)) {
        return false;
    }
    const mapping* map = usable_mapping();
    available = base_available && map != nullptr && map->minimum > 0;
    return true;
}

double CAbsValExposureSliderController::snap_value(double value)
{
    const mapping* map = usable_mapping();
    if (map == nullptr || (map->logarithmic() && !(value > 0))) {
        return value;
    }
    const double tolerance = (map->to_scale(map->maximum) - map->to_scale(map->minimum)) / 200;
    for (const double time : standard_exposure_times) {
        // A time the camera does not take is no place to snap to.
        if (time < map->minimum || time > map->maximum) {
            continue;
        }
        if (std::fabs(map->to_scale(time) - map->to_scale(value)) < tolerance) {
            value = time;
        }
    }
    return value;
}

bool CAbsValExposureSliderController::get_text(std::wstring& text)
{
    double value = 0;
    if (item() == nullptr || !item()->get_abs_value(value)) {
        return false;
    }
    std::string number;
    if (value <= 0.25) {
        // A time of 0 (or below) has no fraction; one too short gives a
        // denominator past the integer.
        const double denominator = value > 0 ? 1 / value + 0.5 : 0;
        if (!(denominator >= 1) || denominator > std::numeric_limits<int>::max()) {
            return false;
        }
        number = "1/" + std::to_string(static_cast<int>(denominator));
    } else {
        number = VCDAdapterHelper::fixed_point_text(value, 3);
    }
    text = with_unit(number, unit_text());
    return true;
}

} // namespace VCDPropUI
