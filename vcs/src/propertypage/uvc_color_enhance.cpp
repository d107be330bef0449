#include "propertypage/uvc_color_enhance.h"

#include "propertypage/ks_property_access.h"

using namespace VCDAdapterHelper;

namespace {
constexpr interface_id id_enable = 0;
constexpr DWORD enable_property = 0;
} // namespace

item_data_ptr CUVCColorEnhanceMtxEnable::create(IKsPropertySet* filter, const item_descriptor&) noexcept
{
    if (!ks_query_supported(filter, PROPSETID_COLOR_ENHANCE, enable_property)) {
        return {};
    }
    return make_item<CUVCColorEnhanceMtxEnable>(retain(filter));
}

CUVCColorEnhanceMtxEnable::CUVCColorEnhanceMtxEnable(atl::com_ptr<IKsPropertySet> filter) noexcept
    : filter_(std::move(filter))
{
}

bool CUVCColorEnhanceMtxEnable::is_interface_supported(interface_id id)
{
    return id == id_enable;
}

HRESULT CUVCColorEnhanceMtxEnable::get_switch(interface_id id, bool& on)
{
    if (id != id_enable) {
        return E_NOTIMPL;
    }
    vendor_int_record record{};
    const HRESULT hr = ks_get_record(filter_.get(), PROPSETID_COLOR_ENHANCE, enable_property, record, reads());
    if (SUCCEEDED(hr)) {
        on = record.value != 0;
    }
    return hr;
}

HRESULT CUVCColorEnhanceMtxEnable::set_switch(interface_id id, bool on)
{
    if (id != id_enable) {
        return E_NOTIMPL;
    }
    vendor_int_record record{};
    record.value = on ? 1 : 0;
    return ks_set_record(filter_.get(), PROPSETID_COLOR_ENHANCE, enable_property, record, reads());
}
