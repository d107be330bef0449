#pragma once
// An item for the slider controllers' tests: answers from its fields, records
// what is written, and fails whatever a test tells it to.

#include "propertypage/slider_item.h"

#include <memory>
#include <vector>

namespace VCDPropUI::fakes {

struct fake_item_state {
    slider_int_range range{0, 255, 0, 1};
    std::int32_t value = 0;
    slider_abs_range abs_range{0, 1, 0};
    double abs_value = 0;
    std::wstring unit;
    std::int32_t scale_kind = 0;
    bool available = true;
    bool read_only = false;
    bool reads_fail = false;
    std::vector<std::int32_t> values_set;
    std::vector<double> abs_values_set;
    int range_reads = 0;
};

class fake_slider_item final : public slider_item {
public:
    explicit fake_slider_item(std::shared_ptr<fake_item_state> state) : state_(std::move(state)) {}

    bool is_available(bool& available) override { return read(available, state_->available); }
    bool is_read_only(bool& read_only) override { return read(read_only, state_->read_only); }
    bool get_range(slider_int_range& range) override
    {
        ++state_->range_reads;
        return read(range, state_->range);
    }
    bool get_value(std::int32_t& value) override { return read(value, state_->value); }
    bool set_value(std::int32_t value) override
    {
        state_->values_set.push_back(value);
        state_->value = value;
        return !state_->reads_fail;
    }
    bool get_abs_range(slider_abs_range& range) override
    {
        ++state_->range_reads;
        return read(range, state_->abs_range);
    }
    bool get_abs_value(double& value) override { return read(value, state_->abs_value); }
    bool set_abs_value(double value) override
    {
        state_->abs_values_set.push_back(value);
        state_->abs_value = value;
        return !state_->reads_fail;
    }
    bool get_abs_dimension(std::wstring& unit, std::int32_t& scale_kind) override
    {
        if (state_->reads_fail) {
            return false;
        }
        unit = state_->unit;
        scale_kind = state_->scale_kind;
        return true;
    }

private:
    template <class T>
    bool read(T& out, const T& value) const
    {
        if (state_->reads_fail) {
            return false;
        }
        out = value;
        return true;
    }

    std::shared_ptr<fake_item_state> state_;
};

} // namespace VCDPropUI::fakes
