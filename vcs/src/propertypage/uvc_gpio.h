#pragma once
// General-purpose input and output. The states shown are kept here: "Read"
// fetches both from the camera, "Write" sends the kept output state. Used on
// the page's thread only.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"

#include <cstdint>

class CUVCGPIO final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when the GPIO record (122) is supported.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    explicit CUVCGPIO(atl::com_ptr<IKsPropertySet> filter) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT is_read_only(interface_id id, bool& read_only) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT push(interface_id id) override;

private:
    atl::com_ptr<IKsPropertySet> filter_;
    std::uint32_t input_state_ = 0;
    std::uint32_t output_state_ = 0;
};
