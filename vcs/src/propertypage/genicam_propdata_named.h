#pragma once
// An item of the camera's GenICam description whose values the service reads
// and writes by feature name (named access, id 4). The local document gives
// names, kinds, units and entries.

#include "propertypage/genicam_propdata_base.h"

#include <string>

namespace genicam_adapter {

class genicam_propdata_named final : public genicam_propdata_base {
public:
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    genicam_propdata_named(atl::com_ptr<IKsPropertySet> filter, const item_descriptor& descriptor);

    HRESULT is_available(interface_id id, bool& available) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;
    HRESULT get_switch_default(interface_id id, bool& on) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT get_abs_range(interface_id id, VCDAdapterHelper::abs_range& range) override;
    HRESULT get_abs_value(interface_id id, double& value) override;
    HRESULT set_abs_value(interface_id id, double value) override;
    HRESULT push(interface_id id) override;

private:
    bool entry_usable(GenICam::IEnumeration& feature, GenICam::IEnumEntry& entry) override;
    // Runs `operation` with the request text of `id`'s feature and `suffix`;
    // E_INVALIDARG for an id of no feature of this item.
    template <class Operation>
    HRESULT with_request(interface_id id, const char* suffix, Operation&& operation) noexcept;
};

} // namespace genicam_adapter
