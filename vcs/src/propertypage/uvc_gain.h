#pragma once
// Gain: the video proc-amp's gain and its automatic mode, and the vendor's gain
// in hundredths of a dB as an absolute value.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

class CUVCGain final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when the vendor gain (241) is supported.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    CUVCGain(atl::com_ptr<IKsPropertySet> filter, atl::com_ptr<IAMVideoProcAmp> proc_amp) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT is_available(interface_id id, bool& available) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT get_abs_range(interface_id id, VCDAdapterHelper::abs_range& range) override;
    HRESULT get_abs_value(interface_id id, double& value) override;
    HRESULT set_abs_value(interface_id id, double value) override;
    HRESULT get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind) override;

private:
    atl::com_ptr<IKsPropertySet> filter_;
    atl::com_ptr<IAMVideoProcAmp> proc_amp_;
    bool manual_possible_ = false;
    bool auto_possible_ = false;
};
