#include "propertypage/item_slider_access.h"

namespace VCDPropUI {

bool item_slider_access::is_available(bool& available)
{
    return item_ && SUCCEEDED(item_->is_available(id_, available));
}

bool item_slider_access::is_read_only(bool& read_only)
{
    return item_ && SUCCEEDED(item_->is_read_only(id_, read_only));
}

bool item_slider_access::get_range(slider_int_range& range)
{
    VCDAdapterHelper::int_range read;
    if (!item_ || FAILED(item_->get_range(id_, read))) {
        return false;
    }
    range = {read.minimum, read.maximum, read.default_value, read.step};
    return true;
}

bool item_slider_access::get_value(std::int32_t& value)
{
    return item_ && SUCCEEDED(item_->get_value(id_, value));
}

bool item_slider_access::set_value(std::int32_t value)
{
    return item_ && SUCCEEDED(item_->set_value(id_, value));
}

bool item_slider_access::get_abs_range(slider_abs_range& range)
{
    VCDAdapterHelper::abs_range read;
    if (!item_ || FAILED(item_->get_abs_range(id_, read))) {
        return false;
    }
    range = {read.minimum, read.maximum, read.default_value};
    return true;
}

bool item_slider_access::get_abs_value(double& value)
{
    return item_ && SUCCEEDED(item_->get_abs_value(id_, value));
}

bool item_slider_access::set_abs_value(double value)
{
    return item_ && SUCCEEDED(item_->set_abs_value(id_, value));
}

bool item_slider_access::get_abs_dimension(std::wstring& unit, std::int32_t& scale_kind)
{
    atl::bstr text;
    if (!item_ || FAILED(item_->get_abs_dimension(id_, text, scale_kind))) {
        return false;
    }
    unit = text.view();
    return true;
}

void item_slider_access::begin_refresh()
{
    if (item_) {
        item_->begin_refresh();
        item_->refresh(id_);
    }
}

void item_slider_access::end_refresh()
{
    if (item_) {
        item_->end_refresh();
    }
}

} // namespace VCDPropUI
