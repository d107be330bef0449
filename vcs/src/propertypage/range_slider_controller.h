#pragma once
// Slider positions over an integer range: position p stands for the value
// minimum + p * step. The range is read from the item on first use and kept.
// A range whose step is not positive has no positions: the controller then
// reports itself unavailable, so its controls stay disabled.

#include "propertypage/slider_controller.h"
#include "propertypage/slider_item.h"

#include <memory>
#include <optional>

namespace VCDPropUI {

class CRangeSliderController : public ISliderController {
public:
    explicit CRangeSliderController(std::unique_ptr<slider_item> item) noexcept;

    // 0 .. (maximum - minimum) / step.
    bool get_position_range(int& first, int& last) override;
    bool set_position(int position) override;
    bool get_position(int& position) override;
    bool is_read_only(bool& read_only) override;
    bool is_available(bool& available) override;
    // A decimal integer, nothing else (white space around it aside).
    bool set_from_text(std::wstring_view text) override;
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
    // The kept range when it could be read and has positions.
    const slider_int_range* usable_range();

    std::unique_ptr<slider_item> item_;
    std::optional<slider_int_range> range_;
};

} // namespace VCDPropUI
