#pragma once
// Partial scan and binning: the interface ids are the vendor ids themselves
// (118 X offset, 119 Y offset, 211 auto-center, 212 binning factor).

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

class partial_scan_impl final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    explicit partial_scan_impl(atl::com_ptr<IKsPropertySet> filter) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT is_available(interface_id id, bool& available) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT get_map_strings(interface_id id, std::vector<atl::bstr>& texts) override;

private:
    atl::com_ptr<IKsPropertySet> filter_;
};
