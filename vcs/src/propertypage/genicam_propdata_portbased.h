#pragma once
// An item of the camera's GenICam description evaluated in the local node
// map: register nodes reach the camera through the adapter device bound as
// the document's port, which must outlive this object.

#include "propertypage/genicam_propdata_base.h"

namespace genicam_adapter {

class genicam_propdata_portbased final : public genicam_propdata_base {
public:
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    genicam_propdata_portbased(atl::com_ptr<IKsPropertySet> filter, const item_descriptor& descriptor);

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
    // Runs `operation` on `id`'s feature as family Iface: E_INVALIDARG for an
    // id of no feature of this item, E_NOTIMPL for a feature of another family.
    template <class Iface, class Operation>
    HRESULT with_feature(interface_id id, Operation&& operation) noexcept;
};

} // namespace genicam_adapter
