#pragma once
// Slider positions 0..100 over an absolute (floating-point) range, mapped
// linearly or, for the logarithmic scale kind, through the natural
// logarithm. The range, the unit and the scale kind are read together on first
// use and kept. A range that cannot be mapped (ends not finite, not
// increasing, or not positive on the logarithmic scale) has no positions: the
// controller reports itself unavailable, so its controls stay disabled.

#include "propertypage/slider_controller.h"
#include "propertypage/slider_item.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace VCDPropUI {

class CAbsValSliderController : public ISliderController {
public:
    explicit CAbsValSliderController(std::unique_ptr<slider_item> item) noexcept;

    // Always 0 .. 100 (when the range can be mapped).
    bool get_position_range(int& first, int& last) override;
    // The mapped value, clamped to the range and snapped; the ends write the
    // bounds themselves.
    bool set_position(int position) override;
    bool get_position(int& position) override;
    bool is_read_only(bool& read_only) override;
    bool is_available(bool& available) override;
    // "n/d" (two integers, d not 0) or one number, a comma or a full stop
    // marking its decimals whatever the process locale; the unit may follow.
    // Written without snapping.
    bool set_from_text(std::wstring_view text) override;
    bool reads_as_value(std::wstring_view text) override;
    // "%.3f <unit>" with a full stop whatever the process locale, at most 19
    // characters.
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

    virtual double snap_value(double value);

protected:
    struct mapping {
        double minimum = 0;
        double maximum = 0;
        std::wstring unit;
        std::int32_t scale_kind = 0;

        bool logarithmic() const noexcept { return scale_kind == logarithmic_scale; }
        // f and its inverse.
        double to_scale(double value) const noexcept;
        double from_scale(double scaled) const noexcept;
        bool usable() const noexcept;
    };

    // The kept mapping when it could be read and is usable.
    const mapping* usable_mapping();
    slider_item* item() const noexcept { return item_.get(); }
    // The item's unit text; empty while the range could not be read.
    std::wstring unit_text();

    // "<number text> <unit>" cut to 19 characters.
    static std::wstring with_unit(const std::string& number, const std::wstring& unit);

private:
    // What set_from_text writes for `text`; false when it reads as no finite
    // number.
    bool read_text(std::wstring_view text, double& value);

    std::unique_ptr<slider_item> item_;
    std::optional<mapping> mapping_;
};

} // namespace VCDPropUI
