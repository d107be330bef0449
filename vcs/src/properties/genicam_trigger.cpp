#include "properties/genicam_trigger.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"

namespace drv_genicam {

namespace {
bool is_vendor(const KsPropDataRequest& request) noexcept
{
    return cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP);
}
} // namespace

std::error_code trigger::get_request(KsPropDataRequest& request)
{
    if (!is_vendor(request)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case vendor_id::trigger: {
        if (mode == nullptr) {
            return not_implemented();
        }
        auto mode_name = selected_entry_name(*mode);
        if (!mode_name) {
            return mode_name.error();
        }
        std::uint32_t flags = mode_name.value() == "Off" ? flag_off : 0;
        std::uint32_t capabilities = 0;
        if (activation != nullptr) {
            capabilities = flag_rising_edge;
            auto edge = selected_entry_name(*activation);
            if (!edge) {
                return edge.error();
            }
            if (edge.value() == "RisingEdge") {
                flags |= flag_rising_edge;
            }
        }
        return cam::write_range_value_reply(request, capabilities, 0, 0, 0, 0, flags);
    }
    case vendor_id::trigger_software:
        return software ? cam::write_range_value_reply(request, 10, 0, 1, 0, 0, 0) : not_implemented();
    case vendor_id::trigger_delay:
        return delay ? write_float_feature_reply(request, *delay, 1.0) : not_implemented();
    default:
        return not_implemented();
    }
}

std::error_code trigger::set_request(KsPropDataRequest& request)
{
    if (!is_vendor(request)) {
        return not_implemented();
    }
    switch (request.property_id) {
    case vendor_id::trigger: {
        if (mode == nullptr) {
            return not_implemented();
        }
        auto record = cam::read_value_and_flags_result(request);
        if (!record) {
            return record.error();
        }
        // Only the two bits the record defines count; others are ignored.
        const std::uint32_t flags = record.value().flags;
        if (const std::error_code set = select_entry(*mode, (flags & flag_off) != 0 ? "Off" : "On")) {
            return set;
        }
        if (activation == nullptr) {
            return {};
        }
        return select_entry(*activation, (flags & flag_rising_edge) != 0 ? "RisingEdge" : "FallingEdge");
    }
    case vendor_id::trigger_software:
        return software ? software->execute() : not_implemented();
    case vendor_id::trigger_delay:
        return delay ? set_float_feature(request, *delay, 1.0) : not_implemented();
    default:
        return not_implemented();
    }
}

void add_trigger(trigger& handler, std::span<const doc_entry> documents,
                 gen_property::gen_property_reqistry& registry)
{
    handler.mode = find_feature_as<GenICam::IEnumeration>(documents, "TriggerMode");
    if (handler.mode == nullptr) {
        return;
    }
    registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::trigger}, &handler, cam::level_base);
    handler.software = find_feature_as<GenICam::ICommand>(documents, "TriggerSoftware");
    if (handler.software != nullptr) {
        registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::trigger_software}, &handler,
                                  cam::level_base);
    }
    handler.delay = find_feature_as<GenICam::IFloat>(documents, "TriggerDelay");
    if (handler.delay != nullptr) {
        registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::trigger_delay}, &handler,
                                  cam::level_base);
    }
    handler.activation = find_feature_as<GenICam::IEnumeration>(documents, "TriggerActivation");
}

} // namespace drv_genicam
