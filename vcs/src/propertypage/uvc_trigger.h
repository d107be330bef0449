#pragma once
// Trigger: on/off, polarity and operation live in the flags of vendor 115;
// the software trigger (213) and the trigger delay (238) are vendor ids of
// their own.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

#include <cstdint>

class CUVCTrigger final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    explicit CUVCTrigger(atl::com_ptr<IKsPropertySet> filter) noexcept;

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
    HRESULT push(interface_id id) override;
    HRESULT get_map_strings(interface_id id, std::vector<atl::bstr>& texts) override;

private:
    // Whether `bit` of the trigger's flags is set.
    HRESULT get_bit(std::uint32_t bit, bool& set);
    // Reads the trigger record and writes it back with `bit` set or clear.
    HRESULT set_bit(std::uint32_t bit, bool set);
    bool trigger_capability(std::uint32_t bit);

    atl::com_ptr<IKsPropertySet> filter_;
};
