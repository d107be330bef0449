#include "propertypage/focus_item.h"

#include "propertypage/ks_property_access.h"

using namespace VCDAdapterHelper;

namespace {

enum : interface_id {
    id_one_push = 0,
    id_value = 1,
    id_running = 2,
    id_auto_min = 3,
    id_auto_max = 4,
    id_region = 5,
    id_left = 6,
    id_top = 7,
    id_bottom = 8,
    id_right = 9,
};

// The vendor id behind an integer or switch element; 0 for the others.
DWORD vendor_of(interface_id id) noexcept
{
    switch (id) {
    case id_one_push:
    case id_running:
        return vendor::focus_one_push;
    case id_auto_min:
        return vendor::focus_auto_min;
    case id_auto_max:
        return vendor::focus_auto_max;
    case id_region:
        return vendor::focus_region;
    case id_left:
        return vendor::focus_left;
    case id_top:
        return vendor::focus_top;
    case id_bottom:
        return vendor::focus_bottom;
    case id_right:
        return vendor::focus_right;
    default:
        return 0;
    }
}

bool is_region_edge(interface_id id) noexcept
{
    return id >= id_left && id <= id_right;
}

bool is_int_record(interface_id id) noexcept
{
    return id == id_auto_min || id == id_auto_max || is_region_edge(id);
}

} // namespace

item_data_ptr CItem::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (!ks_query_supported(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::focus_one_push)) {
        return {};
    }
    auto camera_control = query_filter<IAMCameraControl>(filter);
    if (!camera_control) {
        return {};
    }
    return make_item<CItem>(retain(filter), std::move(camera_control));
}

CItem::CItem(atl::com_ptr<IKsPropertySet> filter, atl::com_ptr<IAMCameraControl> camera_control) noexcept
    : filter_(std::move(filter)), camera_control_(std::move(camera_control))
{
}

bool CItem::is_interface_supported(interface_id id)
{
    if (id == id_value) {
        LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
        return SUCCEEDED(
            camera_control_->GetRange(CameraControl_Focus, &minimum, &maximum, &step, &default_value, &flags));
    }
    const DWORD property = vendor_of(id);
    return property != 0 && ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, property);
}

HRESULT CItem::is_available(interface_id id, bool& available)
{
    if (!is_region_edge(id)) {
        available = true;
        return S_OK;
    }
    std::int32_t region = 0;
    available = SUCCEEDED(ks_get_int(filter_.get(), vendor::focus_region, region, reads())) && region != 0;
    return S_OK;
}

HRESULT CItem::is_read_only(interface_id id, bool& read_only)
{
    read_only = id == id_running;
    return S_OK;
}

HRESULT CItem::get_switch(interface_id id, bool& on)
{
    if (id != id_running && id != id_region) {
        return E_NOTIMPL;
    }
    std::int32_t value = 0;
    const HRESULT hr = ks_get_int(filter_.get(), vendor_of(id), value, reads());
    if (SUCCEEDED(hr)) {
        on = value != 0;
    }
    return hr;
}

HRESULT CItem::set_switch(interface_id id, bool on)
{
    if (id != id_region) {
        return E_NOTIMPL;
    }
    return ks_set_int(filter_.get(), vendor::focus_region, on ? 1 : 0, reads());
}

HRESULT CItem::get_switch_default(interface_id id, bool& on)
{
    if (id != id_region) {
        return E_NOTIMPL;
    }
    on = false;
    return S_OK;
}

HRESULT CItem::get_range(interface_id id, int_range& range)
{
    if (id == id_value) {
        LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
        const HRESULT hr =
            camera_control_->GetRange(CameraControl_Focus, &minimum, &maximum, &step, &default_value, &flags);
        if (SUCCEEDED(hr)) {
            range = {minimum, maximum, default_value, step};
        }
        return hr;
    }
    return is_int_record(id) ? ks_get_int_range(filter_.get(), vendor_of(id), range, reads()) : E_NOTIMPL;
}

HRESULT CItem::get_value(interface_id id, std::int32_t& value)
{
    if (id == id_value) {
        LONG current = 0, flags = 0;
        const HRESULT hr = control_get(camera_control_.get(), CameraControl_Focus, current, flags, reads());
        if (SUCCEEDED(hr)) {
            value = current;
        }
        return hr;
    }
    return is_int_record(id) ? ks_get_int(filter_.get(), vendor_of(id), value, reads()) : E_NOTIMPL;
}

HRESULT CItem::set_value(interface_id id, std::int32_t value)
{
    if (id == id_value) {
        return control_set(camera_control_.get(), CameraControl_Focus, value, flag_manual, reads());
    }
    return is_int_record(id) ? ks_set_int(filter_.get(), vendor_of(id), value, reads()) : E_NOTIMPL;
}

HRESULT CItem::push(interface_id)
{
    // Every button of this item is one-push focus.
    return ks_set_int(filter_.get(), vendor::focus_one_push, 1, reads());
}
