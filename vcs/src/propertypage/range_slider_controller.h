#pragma once
// Slider positions over an integer range: position p stands for the value
// minimum + p * step. A range with more steps than a control has positions
// (a step of 1 over all 32-bit values) moves several steps per position
// instead; its last position stands for the top of the range. The range is
// read from the item on first use and kept. A range whose step is not
// positive has no positions: the controller then reports itself unavailable,
// so its controls stay disabled.

#include "propertypage/slider_controller.h"
#include "propertypage/slider_item.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace VCDPropUI {

class CRangeSliderController : public ISliderController {
public:
    explicit CRangeSliderController(std::unique_ptr<slider_item> item) noexcept;

    // 0 .. (maximum - minimum) / step, or fewer positions over a wider range.
    bool get_position_range(int& first, int& last) override;
    bool set_position(int position) override;
    bool get_position(int& position) override;
    bool is_read_only(bool& read_only) override;
    bool is_available(bool& available) override;
    // A decimal integer, nothing else (white space around it aside).
    bool set_from_text(std::wstring_view text) override;
    bool reads_as_value(std::wstring_view text) override;
    // The value in decimal, no unit.
    bool get_text(std::wstring& text) override;
    void begin_refresh() override
    {
        if (item_) {
            item_->begin_refresh();
        }
    }
    void end_refresh() override
    {
        if (item_) {
            item_->end_refresh();
        }
    }

private:
    // Positions over the kept range.
    struct positions {
        std::int32_t minimum = 0;
        std::int32_t step = 1;
        std::int64_t steps = 0;  // of the item's step, from the minimum to the top
        std::int64_t stride = 1; // steps per position
        int last = 0;
    };

    // Positions over the kept range when it could be read and has any.
    std::optional<positions> usable_positions();

    std::unique_ptr<slider_item> item_;
    std::optional<slider_int_range> range_;
};

} // namespace VCDPropUI
