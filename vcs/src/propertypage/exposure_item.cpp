#include "propertypage/exposure_item.h"

#include "propertypage/ks_property_access.h"

using namespace VCDAdapterHelper;

namespace {

enum : interface_id {
    id_value = 0,
    id_seconds = 1,
    id_auto = 2,
    id_auto_reference = 3,
    id_auto_max = 4,
    id_auto_max_seconds = 5,
    id_auto_max_auto = 6,
};

// The upper limit in units of 100 µs: x × 10000 + 0.5, truncated. What the
// camera sends is not trusted to fit: out of range (NaN included) is clamped.
std::int32_t scaled(float seconds) noexcept
{
    const double x = static_cast<double>(seconds) * 10000.0 + 0.5;
    if (!(x > INT32_MIN)) {
        return INT32_MIN;
    }
    if (!(x < INT32_MAX)) {
        return INT32_MAX;
    }
    return static_cast<std::int32_t>(x);
}

std::int32_t at_least_one(std::int32_t value) noexcept
{
    return value < 1 ? 1 : value;
}

} // namespace

item_data_ptr exposure_item::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (!ks_query_supported(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_seconds)) {
        return {};
    }
    return make_item<exposure_item>(retain(filter), query_filter<IAMCameraControl>(filter));
}

exposure_item::exposure_item(atl::com_ptr<IKsPropertySet> filter,
                             atl::com_ptr<IAMCameraControl> camera_control) noexcept
    : filter_(std::move(filter)), camera_control_(std::move(camera_control))
{
    vendor_float_record seconds{};
    const bool vendor_read = SUCCEEDED(ks_get_float(filter_.get(), vendor::exposure_seconds, seconds, reads()));
    vendor_auto_ = vendor_read && (seconds.capabilities & 1) != 0;
    LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
    if (camera_control_ &&
        FAILED(camera_control_->GetRange(CameraControl_Exposure, &minimum, &maximum, &step, &default_value, &flags))) {
        flags = 0;
    }
    auto_possible_ = vendor_read || (flags & flag_auto) != 0;
    manual_possible_ = (flags & flag_manual) != 0;
    use_vendor_value_ = ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_value);
    auto_max_switch_ =
        ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_auto_max_auto);
}

bool exposure_item::is_interface_supported(interface_id id)
{
    switch (id) {
    case id_value:
        return manual_possible_;
    case id_seconds:
        return true;
    case id_auto:
        return auto_possible_;
    case id_auto_reference:
        return ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_auto_reference);
    case id_auto_max:
    case id_auto_max_seconds:
        return ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_auto_max);
    case id_auto_max_auto:
        return auto_max_switch_;
    default:
        return false;
    }
}

HRESULT exposure_item::is_available(interface_id id, bool& available)
{
    interface_id governing = 0;
    if (id == id_value || id == id_seconds) {
        governing = id_auto;
    } else if (id == id_auto_max || id == id_auto_max_seconds) {
        governing = id_auto_max_auto;
    } else {
        available = true;
        return S_OK;
    }
    if (!is_interface_supported(governing)) {
        available = true;
        return S_OK;
    }
    bool on = false;
    const HRESULT hr = get_switch(governing, on);
    if (SUCCEEDED(hr)) {
        available = !on;
    }
    return hr;
}

HRESULT exposure_item::get_auto(bool& on)
{
    if (auto_through_vendor()) {
        vendor_float_record record{};
        const HRESULT hr = ks_get_float(filter_.get(), vendor::exposure_seconds, record, reads());
        if (SUCCEEDED(hr)) {
            on = (record.flags & flag_auto) != 0;
        }
        return hr;
    }
    LONG value = 0, flags = 0;
    const HRESULT hr = control_get(camera_control_.get(), CameraControl_Exposure, value, flags, reads());
    if (SUCCEEDED(hr)) {
        on = (flags & flag_auto) != 0;
    }
    return hr;
}

HRESULT exposure_item::set_auto(bool on)
{
    const std::uint32_t wanted = on ? flag_auto : flag_manual;
    if (auto_through_vendor()) {
        vendor_float_record record{};
        HRESULT hr = ks_get_float(filter_.get(), vendor::exposure_seconds, record, reads());
        if (FAILED(hr) || ((record.flags & flag_auto) != 0) == on) {
            return hr;
        }
        record.flags = wanted;
        return ks_set_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::exposure_seconds, record, reads());
    }
    LONG value = 0, flags = 0;
    const HRESULT hr = control_get(camera_control_.get(), CameraControl_Exposure, value, flags, reads());
    if (FAILED(hr) || static_cast<std::uint32_t>(flags) == wanted) {
        return hr;
    }
    return control_set(camera_control_.get(), CameraControl_Exposure, value, static_cast<LONG>(wanted), reads());
}

HRESULT exposure_item::get_switch(interface_id id, bool& on)
{
    if (id == id_auto && auto_possible_) {
        return get_auto(on);
    }
    if (id == id_auto_max_auto && auto_max_switch_) {
        std::int32_t value = 0;
        const HRESULT hr = ks_get_int(filter_.get(), vendor::exposure_auto_max_auto, value, reads());
        if (SUCCEEDED(hr)) {
            on = value != 0;
        }
        return hr;
    }
    return E_NOTIMPL;
}

HRESULT exposure_item::set_switch(interface_id id, bool on)
{
    if (id == id_auto && auto_possible_) {
        return set_auto(on);
    }
    if (id == id_auto_max_auto && auto_max_switch_) {
        return ks_set_int(filter_.get(), vendor::exposure_auto_max_auto, on ? 1 : 0, reads());
    }
    return E_NOTIMPL;
}

HRESULT exposure_item::get_range(interface_id id, int_range& range)
{
    if (id == id_value && manual_possible_) {
        if (use_vendor_value_) {
            return ks_get_int_range(filter_.get(), vendor::exposure_value, range, reads());
        }
        LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
        const HRESULT hr =
            camera_control_->GetRange(CameraControl_Exposure, &minimum, &maximum, &step, &default_value, &flags);
        if (SUCCEEDED(hr)) {
            range = {minimum, maximum, default_value, step};
        }
        return hr;
    }
    if (id == id_auto_reference) {
        return ks_get_int_range(filter_.get(), vendor::exposure_auto_reference, range, reads());
    }
    if (id == id_auto_max) {
        vendor_float_record record{};
        const HRESULT hr = ks_get_float(filter_.get(), vendor::exposure_auto_max, record, reads());
        if (SUCCEEDED(hr)) {
            range = {at_least_one(scaled(record.minimum)), scaled(record.maximum), scaled(record.default_value), 1};
        }
        return hr;
    }
    return E_NOTIMPL;
}

HRESULT exposure_item::get_value(interface_id id, std::int32_t& value)
{
    if (id == id_value && manual_possible_) {
        if (use_vendor_value_) {
            return ks_get_int(filter_.get(), vendor::exposure_value, value, reads());
        }
        LONG current = 0, flags = 0;
        const HRESULT hr = control_get(camera_control_.get(), CameraControl_Exposure, current, flags, reads());
        if (SUCCEEDED(hr)) {
            value = current;
        }
        return hr;
    }
    if (id == id_auto_reference) {
        return ks_get_int(filter_.get(), vendor::exposure_auto_reference, value, reads());
    }
    if (id == id_auto_max) {
        vendor_float_record record{};
        const HRESULT hr = ks_get_float(filter_.get(), vendor::exposure_auto_max, record, reads());
        if (SUCCEEDED(hr)) {
            value = at_least_one(scaled(record.value));
        }
        return hr;
    }
    return E_NOTIMPL;
}

HRESULT exposure_item::set_value(interface_id id, std::int32_t value)
{
    if (id == id_value && manual_possible_) {
        if (use_vendor_value_) {
            return ks_set_int(filter_.get(), vendor::exposure_value, value, reads());
        }
        LONG current = 0, flags = 0;
        const HRESULT hr = control_get(camera_control_.get(), CameraControl_Exposure, current, flags, reads());
        if (FAILED(hr)) {
            return hr;
        }
        return control_set(camera_control_.get(), CameraControl_Exposure, value, flags, reads());
    }
    if (id == id_auto_reference) {
        return ks_set_int(filter_.get(), vendor::exposure_auto_reference, value, reads());
    }
    if (id == id_auto_max) {
        return ks_set_float(filter_.get(), vendor::exposure_auto_max, value / 10000.0, reads());
    }
    return E_NOTIMPL;
}

HRESULT exposure_item::get_abs_range(interface_id id, abs_range& range)
{
    if (id != id_seconds && id != id_auto_max_seconds) {
        return E_NOTIMPL;
    }
    vendor_float_record record{};
    const HRESULT hr =
        ks_get_float(filter_.get(), id == id_seconds ? vendor::exposure_seconds : vendor::exposure_auto_max, record,
                     reads());
    if (SUCCEEDED(hr)) {
        range = {record.minimum, record.maximum, record.default_value};
    }
    return hr;
}

HRESULT exposure_item::get_abs_value(interface_id id, double& value)
{
    if (id != id_seconds && id != id_auto_max_seconds) {
        return E_NOTIMPL;
    }
    vendor_float_record record{};
    const HRESULT hr =
        ks_get_float(filter_.get(), id == id_seconds ? vendor::exposure_seconds : vendor::exposure_auto_max, record,
                     reads());
    if (SUCCEEDED(hr)) {
        value = record.value;
    }
    return hr;
}

HRESULT exposure_item::set_abs_value(interface_id id, double value)
{
    if (id != id_seconds && id != id_auto_max_seconds) {
        return E_NOTIMPL;
    }
    return ks_set_float(filter_.get(), id == id_seconds ? vendor::exposure_seconds : vendor::exposure_auto_max,
                        value, reads());
}

HRESULT exposure_item::get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind)
{
    atl::bstr text(L"sec");
    if (!text) {
        return E_OUTOFMEMORY;
    }
    unit = std::move(text);
    if (id == id_seconds || id == id_auto_max_seconds) {
        scale_kind = scale_logarithmic;
    }
    return S_OK;
}
