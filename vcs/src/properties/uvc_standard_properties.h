#pragma once
// The standard UVC properties of one camera: the controls its units announce,
// read from the device, and the handlers of the usual video properties over
// them, registered in the camera's handler registry.

#include <memory>
#include <system_error>
#include <vector>

#include "device_impl/device_impl_tools/propset.h"
#include "device_impl/uvc/uvc_descriptor_tree.h"
#include "properties/uvc_control_channel.h"

namespace uvc_property {

// One row of the standard property table: the store name, the key, the
// value control and the auto control (kind 0: none).
struct std_property_row {
    const wchar_t* name;
    GUID property_set;
    std::uint32_t id;
    std::uint32_t value_kind;
    std::uint32_t value_selector;
    std::uint32_t auto_kind;
    std::uint32_t auto_selector;
};
const std::vector<std_property_row>& standard_property_rows();

class uvc_standard_properties {
public:
    // Builds the control list from the tree, initialises every control over
    // `channel` and, unless `suppress_handlers`, creates and registers the
    // handlers at level 0; a second call does nothing. Controls that fail to initialise stay with length
    // 0 and get no handler. The channel and registry outlive this object.
    void build(const cam::uvc_cam::uvc_descriptor_tree& tree, uvc_control_channel& channel,
               gen_property::gen_property_reqistry& registry, bool suppress_handlers);

    const std::vector<UVCPropertyData>& controls() const noexcept { return controls_; }
    // The first control of a kind and selector, or null.
    UVCPropertyData* find(std::uint32_t kind, std::uint32_t selector) noexcept;
    std::size_t handler_count() const noexcept { return handlers_.size(); }

private:
    void create_handlers(uvc_control_channel& channel, gen_property::gen_property_reqistry& registry);

    // Handlers point into this list: it is not changed once built.
    std::vector<UVCPropertyData> controls_;
    std::vector<std::unique_ptr<cam::property_req_entry_itf>> handlers_;
    bool built_ = false;
};

} // namespace uvc_property
