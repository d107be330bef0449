#include "propertypage/uvc_gain.h"

#include "propertypage/ks_property_access.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

using namespace VCDAdapterHelper;

namespace {
enum : interface_id { id_value = 0, id_decibel = 1, id_auto = 2 };
}

item_data_ptr CUVCGain::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (!ks_query_supported(filter, PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gain_hundredths)) {
        return {};
    }
    return make_item<CUVCGain>(retain(filter), query_filter<IAMVideoProcAmp>(filter));
}

CUVCGain::CUVCGain(atl::com_ptr<IKsPropertySet> filter, atl::com_ptr<IAMVideoProcAmp> proc_amp) noexcept
    : filter_(std::move(filter)), proc_amp_(std::move(proc_amp))
{
    // The first read wakes the vendor value up; what it answers does not matter.
    std::int32_t ignored = 0;
    ks_get_int(filter_.get(), vendor::gain_hundredths, ignored, reads());
    LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
    if (proc_amp_ &&
        SUCCEEDED(proc_amp_->GetRange(VideoProcAmp_Gain, &minimum, &maximum, &step, &default_value, &flags))) {
        manual_possible_ = (flags & flag_manual) != 0;
        auto_possible_ = (flags & flag_auto) != 0;
    }
}

bool CUVCGain::is_interface_supported(interface_id id)
{
    switch (id) {
    case id_value:
        return manual_possible_;
    case id_decibel:
        return true;
    case id_auto:
        return auto_possible_;
    default:
        return false;
    }
}

HRESULT CUVCGain::is_available(interface_id id, bool& available)
{
    if ((id != id_value && id != id_decibel) || !auto_possible_) {
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

HRESULT CUVCGain::get_switch(interface_id id, bool& on)
{
    if (id != id_auto || !auto_possible_) {
        return E_NOTIMPL;
    }
    LONG value = 0, flags = 0;
    const HRESULT hr = control_get(proc_amp_.get(), VideoProcAmp_Gain, value, flags, reads());
    if (SUCCEEDED(hr)) {
        on = (flags & flag_auto) != 0;
    }
    return hr;
}

HRESULT CUVCGain::set_switch(interface_id id, bool on)
{
    if (id != id_auto || !auto_possible_) {
        return E_NOTIMPL;
    }
    LONG value = 0, flags = 0;
    const HRESULT hr = control_get(proc_amp_.get(), VideoProcAmp_Gain, value, flags, reads());
    if (FAILED(hr)) {
        return hr;
    }
    return control_set(proc_amp_.get(), VideoProcAmp_Gain, value, on ? flag_auto : flag_manual, reads());
}

HRESULT CUVCGain::get_range(interface_id id, int_range& range)
{
    if (id != id_value || !manual_possible_) {
        return E_NOTIMPL;
    }
    LONG minimum = 0, maximum = 0, step = 0, default_value = 0, flags = 0;
    const HRESULT hr = proc_amp_->GetRange(VideoProcAmp_Gain, &minimum, &maximum, &step, &default_value, &flags);
    if (SUCCEEDED(hr)) {
        range = {minimum, maximum, default_value, step};
    }
    return hr;
}

HRESULT CUVCGain::get_value(interface_id id, std::int32_t& value)
{
    if (id != id_value || !manual_possible_) {
        return E_NOTIMPL;
    }
    LONG current = 0, flags = 0;
    const HRESULT hr = control_get(proc_amp_.get(), VideoProcAmp_Gain, current, flags, reads());
    if (SUCCEEDED(hr)) {
        value = current;
    }
    return hr;
}

HRESULT CUVCGain::set_value(interface_id id, std::int32_t value)
{
    if (id != id_value || !manual_possible_) {
        return E_NOTIMPL;
    }
    LONG current = 0, flags = 0;
    const HRESULT hr = control_get(proc_amp_.get(), VideoProcAmp_Gain, current, flags, reads());
    if (FAILED(hr)) {
        return hr;
    }
    return control_set(proc_amp_.get(), VideoProcAmp_Gain, value, flags, reads());
}

HRESULT CUVCGain::get_abs_range(interface_id id, abs_range& range)
{
    if (id != id_decibel) {
        return E_NOTIMPL;
    }
    vendor_int_record record{};
    const HRESULT hr =
        ks_get_record(filter_.get(), PROPSETID_FWCAM1394_CUSTOM_PROP, vendor::gain_hundredths, record, reads());
    if (SUCCEEDED(hr)) {
        range = {record.minimum / 100.0, record.maximum / 100.0, record.default_value / 100.0};
    }
    return hr;
}

HRESULT CUVCGain::get_abs_value(interface_id id, double& value)
{
    if (id != id_decibel) {
        return E_NOTIMPL;
    }
    std::int32_t hundredths = 0;
    const HRESULT hr = ks_get_int(filter_.get(), vendor::gain_hundredths, hundredths, reads());
    if (SUCCEEDED(hr)) {
        value = hundredths / 100.0;
    }
    return hr;
}

HRESULT CUVCGain::set_abs_value(interface_id id, double value)
{
    if (id != id_decibel) {
        return E_NOTIMPL;
    }
    // The range's ends and default show as hundredths / 100, and the slider's
    // ends write what they showed: times 100 such a value can miss its whole
    // number by the rounding (0.29 gives 28.999...), and truncation would then
    // send the number below it, past the minimum. So a value that is a whole
    // number of hundredths but for the rounding goes out as that number; any
    // other is truncated.
    const double scaled = value * 100.0;
    const double nearest = std::round(scaled);
    const bool whole = std::fabs(scaled - nearest) <= 4 * DBL_EPSILON * std::max(1.0, std::fabs(nearest));
    const double hundredths = whole ? nearest : std::trunc(scaled);
    if (!(hundredths >= INT32_MIN && hundredths <= INT32_MAX)) {
        return E_INVALIDARG;
    }
    return ks_set_int(filter_.get(), vendor::gain_hundredths, static_cast<std::int32_t>(hundredths), reads());
}

HRESULT CUVCGain::get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind)
{
    atl::bstr text(L"dB");
    if (!text) {
        return E_OUTOFMEMORY;
    }
    unit = std::move(text);
    if (id == id_decibel) {
        scale_kind = scale_linear;
    }
    return S_OK;
}
