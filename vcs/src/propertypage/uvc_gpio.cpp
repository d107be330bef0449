#include "propertypage/uvc_gpio.h"

#include "propertypage/ks_property_access.h"

using namespace VCDAdapterHelper;

namespace {
enum : interface_id { id_input = 0, id_read = 1, id_output = 2, id_write = 3 };

// Limits and states are 32-bit unsigned on the wire, values signed here.
std::int32_t as_value(std::uint32_t wire) noexcept
{
    return wire > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(wire);
}
} // namespace

item_data_ptr CUVCGPIO::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (!ks_query_supported(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio)) {
        return {};
    }
    return make_item<CUVCGPIO>(retain(filter));
}

CUVCGPIO::CUVCGPIO(atl::com_ptr<IKsPropertySet> filter) noexcept : filter_(std::move(filter)) {}

bool CUVCGPIO::is_interface_supported(interface_id id)
{
    gpio_record record{};
    if (FAILED(ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio, record, reads()))) {
        return false;
    }
    switch (id) {
    case id_input:
    case id_read:
        return record.input_maximum != 0;
    case id_output:
    case id_write:
        return record.output_maximum != 0;
    default:
        return false;
    }
}

HRESULT CUVCGPIO::is_read_only(interface_id id, bool& read_only)
{
    read_only = id == id_input;
    return S_OK;
}

HRESULT CUVCGPIO::get_range(interface_id id, int_range& range)
{
    if (id != id_input && id != id_output) {
        return E_NOTIMPL;
    }
    gpio_record record{};
    const HRESULT hr = ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio, record, reads());
    if (SUCCEEDED(hr)) {
        range = {0, as_value(id == id_input ? record.input_maximum : record.output_maximum), 0, 1};
    }
    return hr;
}

HRESULT CUVCGPIO::get_value(interface_id id, std::int32_t& value)
{
    if (id == id_input) {
        value = as_value(input_state_);
        return S_OK;
    }
    if (id == id_output) {
        value = as_value(output_state_);
        return S_OK;
    }
    return E_NOTIMPL;
}

HRESULT CUVCGPIO::set_value(interface_id id, std::int32_t value)
{
    if (id != id_output) {
        return E_NOTIMPL;
    }
    // Reaches the camera with "Write".
    output_state_ = static_cast<std::uint32_t>(value);
    return S_OK;
}

HRESULT CUVCGPIO::push(interface_id id)
{
    if (id == id_read) {
        gpio_record record{};
        const HRESULT hr = ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio, record, reads());
        if (SUCCEEDED(hr)) {
            input_state_ = record.input_state;
            output_state_ = record.output_state;
        }
        return hr;
    }
    if (id == id_write) {
        gpio_record record{};
        record.output_state = output_state_;
        return ks_set_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gpio, record, reads());
    }
    return E_NOTIMPL;
}
