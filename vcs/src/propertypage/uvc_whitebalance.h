#pragma once
// White balance: red, green and blue through vendor ids, automatic mode
// through the video proc-amp, one-push through the vendor.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

class CUVCWhiteBalanceData final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when the filter offers IAMVideoProcAmp.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    CUVCWhiteBalanceData(atl::com_ptr<IKsPropertySet> filter, atl::com_ptr<IAMVideoProcAmp> proc_amp) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT is_available(interface_id id, bool& available) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT push(interface_id id) override;

private:
    bool auto_supported();

    atl::com_ptr<IKsPropertySet> filter_;
    atl::com_ptr<IAMVideoProcAmp> proc_amp_;
};
