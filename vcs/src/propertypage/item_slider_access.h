#pragma once
// A slider controller's view of one element: the item-data operations for the
// element's interface id, each HRESULT turned into a success flag.

#include "propertypage/item_data_ptr.h"
#include "propertypage/slider_item.h"

#include <memory>

namespace VCDPropUI {

class item_slider_access final : public slider_item {
public:
    item_slider_access(item_data_ptr item, interface_id id) noexcept : item_(std::move(item)), id_(id) {}

    bool is_available(bool& available) override;
    bool is_read_only(bool& read_only) override;
    bool get_range(slider_int_range& range) override;
    bool get_value(std::int32_t& value) override;
    bool set_value(std::int32_t value) override;
    bool get_abs_range(slider_abs_range& range) override;
    bool get_abs_value(double& value) override;
    bool set_abs_value(double value) override;
    bool get_abs_dimension(std::wstring& unit, std::int32_t& scale_kind) override;
    void begin_refresh() override;
    void end_refresh() override;

private:
    item_data_ptr item_;
    interface_id id_;
};

inline std::unique_ptr<slider_item> make_slider_access(const item_data_ptr& item, interface_id id)
{
    return std::make_unique<item_slider_access>(item, id);
}

} // namespace VCDPropUI
