#pragma once
// What the two GenICam item-data classes share: the filter, the features of
// the item they were made for (the interface ids are those features' node
// handles; any other id is refused before it could be used as one), the units,
// the DoNotSerialize mark and the cache of usable enumeration entries.

#include "propertypage/enum_entry_cache.h"
#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"
#include "propertypage/value_limits.h"

#include "genicam/ienumeration.h"
#include "genicam/inode.h"

#include <vector>

namespace genicam_adapter {

class genicam_propdata_base : public VCDAdapterHelper::CVCDItemDataBase {
public:
    bool is_interface_supported(interface_id id) override;
    // An enumeration's entries are looked up again.
    HRESULT refresh(interface_id id) override;
    // The feature's Unit; scale kind linear.
    HRESULT get_abs_dimension(interface_id id, atl::bstr& unit, std::int32_t& scale_kind) override;
    // Display names of the usable entries, in the enumeration's order.
    HRESULT get_map_strings(interface_id id, std::vector<atl::bstr>& texts) override;
    bool is_do_not_serialize(interface_id id) override;

protected:
    // Takes the feature handles of `descriptor`'s elements. May throw
    // std::bad_alloc.
    genicam_propdata_base(atl::com_ptr<IKsPropertySet> filter, const item_descriptor& descriptor);

    // The feature of `id`; null when the id is none of this item's.
    GenICam::INode* feature(interface_id id) const noexcept;
    GenICam::IEnumeration* enumeration(interface_id id) const noexcept;
    // The usable entries of an enumeration feature, filled on first need.
    const std::vector<enum_entry>& entries(GenICam::IEnumeration& feature);
    // Position of the entry named `name` among the usable ones; E_FAIL when
    // it is not one of them.
    HRESULT entry_position(GenICam::IEnumeration& feature, std::string_view name, std::int32_t& position);
    // {0, entries − 1, 0, 1}; E_NOTIMPL when no entry is usable.
    HRESULT enumeration_range(GenICam::IEnumeration& feature, VCDAdapterHelper::int_range& range);
    // Whether an entry of an enumeration is offered.
    virtual bool entry_usable(GenICam::IEnumeration& feature, GenICam::IEnumEntry& entry) = 0;

    IKsPropertySet* filter() const noexcept { return filter_.get(); }

private:
    atl::com_ptr<IKsPropertySet> filter_;
    // Sorted.
    std::vector<interface_id> ids_;
    enum_entry_cache entries_;
};

// An integer feature's range in the 32-bit fields of the page: each field
// saturated, so that a feature without bounds (the engine then answers the
// 64-bit ends) or with bounds past 32 bits keeps a usable range instead of
// a wrapped one; a step past 32 bits becomes the largest 32-bit one.
inline VCDAdapterHelper::int_range saturated_range(std::int64_t minimum, std::int64_t maximum,
                                                   std::int64_t default_value, std::int64_t step) noexcept
{
    using VCDAdapterHelper::saturate_32;
    return {saturate_32(minimum), saturate_32(maximum), saturate_32(default_value), saturate_32(step)};
}

} // namespace genicam_adapter
