#pragma once
// Colour enhancement on or off: id 0 of the colour-enhance set.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

class CUVCColorEnhanceMtxEnable final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when id 0 of the colour-enhance set is supported.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    explicit CUVCColorEnhanceMtxEnable(atl::com_ptr<IKsPropertySet> filter) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;

private:
    atl::com_ptr<IKsPropertySet> filter_;
};
