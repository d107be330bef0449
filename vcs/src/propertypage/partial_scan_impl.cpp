#include "propertypage/partial_scan_impl.h"

#include "propertypage/ks_property_access.h"
#include "propertypage/map_strings.h"

using namespace VCDAdapterHelper;

namespace {

// The ids this item knows; any other id belongs to no element of it.
bool is_own_id(interface_id id) noexcept
{
    return id == vendor::partial_scan_x || id == vendor::partial_scan_y || id == vendor::partial_scan_auto_center ||
           id == vendor::binning;
}

bool is_offset(interface_id id) noexcept
{
    return id == vendor::partial_scan_x || id == vendor::partial_scan_y;
}

// Offsets move in steps of at least 4 pixels.
constexpr std::int32_t minimum_offset_step = 4;

// The binning list is "1", "2", "4": the camera's 4 is the list's third entry.
constexpr std::int32_t binning_four = 4;
constexpr std::int32_t binning_third_entry = 3;

} // namespace

item_data_ptr partial_scan_impl::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (filter == nullptr) {
        return {};
    }
    return make_item<partial_scan_impl>(retain(filter));
}

partial_scan_impl::partial_scan_impl(atl::com_ptr<IKsPropertySet> filter) noexcept : filter_(std::move(filter)) {}

bool partial_scan_impl::is_interface_supported(interface_id id)
{
    return is_own_id(id) && ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, static_cast<DWORD>(id));
}

HRESULT partial_scan_impl::is_available(interface_id id, bool& available)
{
    if (!is_offset(id) || !is_interface_supported(vendor::partial_scan_auto_center)) {
        available = true;
        return S_OK;
    }
    bool centred = false;
    const HRESULT hr = get_switch(vendor::partial_scan_auto_center, centred);
    if (SUCCEEDED(hr)) {
        available = !centred;
    }
    return hr;
}

HRESULT partial_scan_impl::get_switch(interface_id id, bool& on)
{
    if (id != vendor::partial_scan_auto_center) {
        return E_NOTIMPL;
    }
    std::int32_t value = 0;
    const HRESULT hr = ks_get_int(filter_.get(), vendor::partial_scan_auto_center, value, reads());
    if (SUCCEEDED(hr)) {
        on = value != 0;
    }
    return hr;
}

HRESULT partial_scan_impl::set_switch(interface_id id, bool on)
{
    if (id != vendor::partial_scan_auto_center) {
        return E_NOTIMPL;
    }
    return ks_set_int(filter_.get(), vendor::partial_scan_auto_center, on ? 1 : 0, reads());
}

HRESULT partial_scan_impl::get_range(interface_id id, int_range& range)
{
    if (!is_own_id(id)) {
        return E_NOTIMPL;
    }
    int_range read{};
    const HRESULT hr = ks_get_int_range(filter_.get(), static_cast<DWORD>(id), read, reads());
    if (SUCCEEDED(hr)) {
        if (is_offset(id) && read.step < minimum_offset_step) {
            read.step = minimum_offset_step;
        }
        range = read;
    }
    return hr;
}

HRESULT partial_scan_impl::get_value(interface_id id, std::int32_t& value)
{
    if (!is_own_id(id)) {
        return E_NOTIMPL;
    }
    std::int32_t read = 0;
    const HRESULT hr = ks_get_int(filter_.get(), static_cast<DWORD>(id), read, reads());
    if (SUCCEEDED(hr)) {
        value = (id == vendor::binning && read == binning_four) ? binning_third_entry : read;
    }
    return hr;
}

HRESULT partial_scan_impl::set_value(interface_id id, std::int32_t value)
{
    if (!is_own_id(id)) {
        return E_NOTIMPL;
    }
    if (id == vendor::binning && value == binning_third_entry) {
        value = binning_four;
    }
    return ks_set_int(filter_.get(), static_cast<DWORD>(id), value, reads());
}

HRESULT partial_scan_impl::get_map_strings(interface_id id, std::vector<atl::bstr>& texts)
{
    if (id != vendor::binning) {
        return E_NOTIMPL;
    }
    return append_map_strings(texts, {L"1", L"2", L"4"});
}
