#pragma once
// Strobe output: enable, mode, polarity, duration and delay. The last record
// read or written is kept, with the mode derived from it and the list of
// modes the camera offers. Used on the page's thread only.

#include "propertypage/filter_interfaces.h"
#include "propertypage/item_data_ptr.h"
#include "propertypage/ks_property_access.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

class CUVCStrobe final : public VCDAdapterHelper::CVCDItemDataBase {
public:
    // Made when the strobe record (125) is supported.
    static item_data_ptr create(IKsPropertySet* filter, const item_descriptor& descriptor) noexcept;

    explicit CUVCStrobe(atl::com_ptr<IKsPropertySet> filter) noexcept;

    bool is_interface_supported(interface_id id) override;
    HRESULT refresh(interface_id id) override;
    HRESULT is_available(interface_id id, bool& available) override;
    HRESULT get_switch(interface_id id, bool& on) override;
    HRESULT set_switch(interface_id id, bool on) override;
    HRESULT get_range(interface_id id, VCDAdapterHelper::int_range& range) override;
    HRESULT get_value(interface_id id, std::int32_t& value) override;
    HRESULT set_value(interface_id id, std::int32_t value) override;
    HRESULT get_map_strings(interface_id id, std::vector<atl::bstr>& texts) override;

    // Modes: 0 constant, 1 fixed duration, 2 following the exposure.
    static constexpr std::int32_t mode_unknown = -1;
    static constexpr std::int32_t mode_constant = 0;
    static constexpr std::int32_t mode_fixed_duration = 1;
    static constexpr std::int32_t mode_exposure = 2;

private:
    // A copy of the kept record, read first when none is kept.
    HRESULT read(VCDAdapterHelper::strobe_record& record);
    // Writes the record as the current mode requires; keeps it on success.
    HRESULT write(VCDAdapterHelper::strobe_record record);
    // The modes the camera offers, in mode order; built on first need.
    HRESULT modes(std::span<const std::int32_t>& list);
    // Position of `mode` in the mode list; -1 when not listed.
    static std::int32_t position_of(std::span<const std::int32_t> list, std::int32_t mode) noexcept;

    atl::com_ptr<IKsPropertySet> filter_;
    VCDAdapterHelper::strobe_record cached_{};
    bool cache_valid_ = false;
    std::int32_t mode_ = mode_unknown;
    std::array<std::int32_t, 3> modes_{};
    std::size_t mode_count_ = 0;
};
