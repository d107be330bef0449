#pragma once
// Focus: the camera control's focus value, one-push focus and its running
// state, the automatic focus limits and its region of interest.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

class CItem final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when one-push focus (124) is supported and the filter offers
    // IAMCameraControl.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    CItem(atl::com_ptr<IKsPropertySet> filter, atl::com_ptr<IAMCameraControl> camera_control) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT is_available(interface_id id, bool& available) override;
    HRESULT is_read_only(interface_id id, bool& read_only) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;
    HRESULT get_switch_default(interface_id id, bool& on) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT push(interface_id id) override;

private:
    atl::com_ptr<IKsPropertySet> filter_;
    atl::com_ptr<IAMCameraControl> camera_control_;
};
