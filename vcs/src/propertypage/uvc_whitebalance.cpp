#include "propertypage/uvc_whitebalance.h"

#include "propertypage/ks_property_access.h"

using namespace VCDAdapterHelper;

namespace {

enum : interface_id { id_red = 0, id_blue = 1, id_auto = 2, id_one_push = 3, id_green = 4 };

// The vendor id of a colour channel; 0 for other ids.
DWORD channel_of(interface_id id) noexcept
{
    switch (id) {
    case id_red:
        return vendor::whitebalance_red;
    case id_blue:
        return vendor::whitebalance_blue;
    case id_green:
        return vendor::whitebalance_green;
    default:
        return 0;
    }
}

} // namespace

item_data_ptr CUVCWhiteBalanceData::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    auto proc_amp = query_filter<IAMVideoProcAmp>(filter);
    if (!proc_amp) {
        return {};
    }
    return make_item<CUVCWhiteBalanceData>(retain(filter), std::move(proc_amp));
}

CUVCWhiteBalanceData::CUVCWhiteBalanceData(atl::com_ptr<IKsPropertySet> filter,
                                           atl::com_ptr<IAMVideoProcAmp> proc_amp) noexcept
    : filter_(std::move(filter)), proc_amp_(std::move(proc_amp))
{
}

bool CUVCWhiteBalanceData::auto_supported()
{
    LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
    return SUCCEEDED(
               proc_amp_->GetRange(VideoProcAmp_WhiteBalance, &minimum, &maximum, &step, &default_value, &flags)) &&
           (flags & flag_auto) != 0;
}

bool CUVCWhiteBalanceData::is_interface_supported(interface_id id)
{
    if (id == id_auto) {
        return auto_supported();
    }
    if (id == id_one_push) {
        return ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::whitebalance_one_push);
    }
    const DWORD channel = channel_of(id);
    return channel != 0 && ks_query_supported(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, channel);
}

HRESULT CUVCWhiteBalanceData::is_available(interface_id id, bool& available)
{
    if (id == id_auto || !auto_supported()) {
        available = true;
        return S_OK;
    }
    bool on = false;
    const HRESULT hr = get_switch(id_auto, on);
    if (SUCCEEDED(hr)) {
        available = !on;
    }
    return hr;
}

HRESULT CUVCWhiteBalanceData::get_switch(interface_id id, bool& on)
{
    if (id != id_auto) {
        return E_NOTIMPL;
    }
    LONG value = 0, flags = 0;
    const HRESULT hr = control_get(proc_amp_.get(), VideoProcAmp_WhiteBalance, value, flags, reads());
    if (SUCCEEDED(hr)) {
        on = (flags & flag_auto) != 0;
    }
    return hr;
}

HRESULT CUVCWhiteBalanceData::set_switch(interface_id id, bool on)
{
    if (id != id_auto) {
        return E_NOTIMPL;
    }
    return control_set(proc_amp_.get(), VideoProcAmp_WhiteBalance, 0, on ? flag_auto : flag_manual, reads());
}

HRESULT CUVCWhiteBalanceData::get_range(interface_id id, int_range& range)
{
    const DWORD channel = channel_of(id);
    return channel == 0 ? E_NOTIMPL : ks_get_int_range(filter_.get(), channel, range, reads());
}

HRESULT CUVCWhiteBalanceData::get_value(interface_id id, std::int32_t& value)
{
    const DWORD channel = channel_of(id);
    return channel == 0 ? E_NOTIMPL : ks_get_int(filter_.get(), channel, value, reads());
}

HRESULT CUVCWhiteBalanceData::set_value(interface_id id, std::int32_t value)
{
    const DWORD channel = channel_of(id);
    return channel == 0 ? E_NOTIMPL : ks_set_int(filter_.get(), channel, value, reads());
}

HRESULT CUVCWhiteBalanceData::push(interface_id id)
{
    if (id != id_one_push) {
        return E_NOTIMPL;
    }
    return ks_set_int(filter_.get(), vendor::whitebalance_one_push, 1, reads());
}
