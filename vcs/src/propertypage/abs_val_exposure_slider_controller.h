#pragma once
// The absolute controller of an exposure time in seconds: slider positions
// snap onto the usual exposure times, and short times read as fractions
// ("1/250 sec").

#include "propertypage/abs_val_slider_controller.h"

#include <array>

namespace VCDPropUI {

// Seconds, ascending.
inline constexpr std::array<double, 16> standard_exposure_times = {
    1.0 / 10000, 1.0 / 4000, 1.0 / 2000, 1.0 / 1000, 1.0 / 500, 1.0 / 250, 1.0 / 120, 1.0 / 60,
    1.0 / 30,    1.0 / 15,   1.0 / 8,    1.0 / 4,    1.0 / 2,   1.0,       2.0,       4.0};

class CAbsValExposureSliderController : public CAbsValSliderController {
public:
    using CAbsValSliderController::CAbsValSliderController;

    // Unavailable also when the range reaches down to 0 or below: such times
    // have no fraction text.
    bool is_available(bool& available) override;
    // Up to 0.25 s "1/<n> <unit>", above "%.3f <unit>" with a full stop; at
    // most 19 characters. Fails for times that are not positive or too short
    // for n.
    bool get_text(std::wstring& text) override;
    // Onto a standard time within half a percent of the slider's span, among
    // those inside the range.
    double snap_value(double value) override;
};

} // namespace VCDPropUI
