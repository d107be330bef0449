#pragma once
// Exposure: the camera control's exposure value or the vendor's, the exposure
// time in seconds, automatic exposure with its reference and upper limit.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

class exposure_item final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when the vendor exposure time (200) is supported.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    exposure_item(atl::com_ptr<IKsPropertySet> filter, atl::com_ptr<IAMCameraControl> camera_control) noexcept;

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
    // Auto through the vendor's flags: when the vendor says so, or when there
    // is no camera control to ask.
    bool auto_through_vendor() const noexcept { return vendor_auto_ || !camera_control_; }
    HRESULT get_auto(bool& on);
    HRESULT set_auto(bool on);

    atl::com_ptr<IKsPropertySet> filter_;
    atl::com_ptr<IAMCameraControl> camera_control_;
    bool vendor_auto_ = false;
    bool auto_possible_ = false;
    bool manual_possible_ = false;
    bool use_vendor_value_ = false;
    bool auto_max_switch_ = false;
};
