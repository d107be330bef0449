#pragma once
// What a slider controller reads and writes of one element of an item: the
// item-data operations for one interface id, reduced to success flags. The
// page hands a controller an adapter over the item-data object; keeping this
// face free of Windows types lets the controllers be built and tested on any
// platform.

#include <cstdint>
#include <string>

namespace VCDPropUI {

struct slider_int_range {
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t default_value = 0;
    std::int32_t step = 0;
};

struct slider_abs_range {
    double minimum = 0;
    double maximum = 0;
    double default_value = 0;
};

// Scale kind of get_abs_dimension that maps positions logarithmically; every
// other value is linear.
inline constexpr std::int32_t logarithmic_scale = 1;

// Each operation answers whether the item succeeded; out values are written
// only then.
class slider_item {
public:
    virtual ~slider_item() = default;

    virtual bool is_available(bool& available) = 0;
    virtual bool is_read_only(bool& read_only) = 0;
    virtual bool get_range(slider_int_range& range) = 0;
    virtual bool get_value(std::int32_t& value) = 0;
    virtual bool set_value(std::int32_t value) = 0;
    virtual bool get_abs_range(slider_abs_range& range) = 0;
    virtual bool get_abs_value(double& value) = 0;
    virtual bool set_abs_value(double value) = 0;
    // `scale_kind` keeps the caller's value unless the item names one.
    virtual bool get_abs_dimension(std::wstring& unit, std::int32_t& scale_kind) = 0;
    // A refresh of the page's controls (see CVCDControlBase::begin_refresh).
    virtual void begin_refresh() {}
    virtual void end_refresh() {}
};

} // namespace VCDPropUI
