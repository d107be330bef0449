#include "properties/genicam_whitebalance.h"

#include "device_impl/device_impl_tools/propset/property_reply.h"

namespace drv_genicam {

GenICam::IInteger* whitebalance::channel(std::uint32_t id) const noexcept
{
    switch (id) {
    case vendor_id::whitebalance_red: return red;
    case vendor_id::whitebalance_green: return green;
    case vendor_id::whitebalance_blue: return blue;
    default: return nullptr;
    }
}

std::error_code whitebalance::get_request(KsPropDataRequest& request)
{
    if (is_key(request, cam::PROPSETID_VIDCAP_VIDEOPROCAMP, video_proc_amp_white_balance)) {
        if (auto_mode == nullptr) {
            return not_implemented();
        }
        auto name = selected_entry_name(*auto_mode);
        if (!name) {
            return name.error();
        }
        const std::uint32_t flags = name.value() == "Continuous" ? cam::flag_auto : 0;
        return cam::write_std_reply(request, cam::flag_auto, 0, 1, 1, 1, 0, flags);
    }
    if (!cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return not_implemented();
    }
    if (request.property_id == vendor_id::whitebalance_one_push) {
        if (one_push == nullptr) {
            return not_implemented();
        }
        auto name = selected_entry_name(*one_push);
        if (!name) {
            return name.error();
        }
        return cam::write_range_value_reply(request, cam::flag_manual, 0, 1, 0, name.value() == "Once" ? 1 : 0,
                                            cam::flag_manual);
    }
    GenICam::IInteger* node = channel(request.property_id);
    return node ? write_int_feature_reply(request, *node) : not_implemented();
}

std::error_code whitebalance::set_request(KsPropDataRequest& request)
{
    if (is_key(request, cam::PROPSETID_VIDCAP_VIDEOPROCAMP, video_proc_amp_white_balance)) {
        if (auto_mode == nullptr) {
            return not_implemented();
        }
        auto record = cam::read_value_and_flags_result(request);
        if (!record) {
            return record.error();
        }
        return select_entry(*auto_mode, (record.value().flags & cam::flag_auto) != 0 ? "Continuous" : "Off");
    }
    if (!cam::same_guid(request.property_set, cam::PROPSETID_FWCAM1394_CUSTOM_PROP)) {
        return not_implemented();
    }
    if (request.property_id == vendor_id::whitebalance_one_push) {
        if (one_push == nullptr) {
            return not_implemented();
        }
        // Any value starts the one-push run; the record must still be whole.
        if (auto record = cam::read_value_and_flags_result(request); !record) {
            return record.error();
        }
        return select_entry(*one_push, "Once");
    }
    GenICam::IInteger* node = channel(request.property_id);
    if (node == nullptr) {
        return not_implemented();
    }
    auto record = cam::read_value_and_flags_result(request);
    if (!record) {
        return record.error();
    }
    return node->set_val(record.value().value);
}

void add_whitebalance(whitebalance& handler, std::span<const doc_entry> documents,
                      gen_property::gen_property_reqistry& registry)
{
    handler.auto_mode = find_feature_as<GenICam::IEnumeration>(documents, "BalanceWhiteAuto");
    if (handler.auto_mode != nullptr) {
        registry.register_handler({cam::PROPSETID_VIDCAP_VIDEOPROCAMP, video_proc_amp_white_balance}, &handler,
                                  cam::level_base);
        if (has_entry(*handler.auto_mode, "Once")) {
            handler.one_push = handler.auto_mode;
            registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, vendor_id::whitebalance_one_push},
                                      &handler, cam::level_base);
        }
    }
    struct channel_binding {
        const char* name;
        GenICam::IInteger* whitebalance::*member;
        std::uint32_t id;
    };
    static constexpr channel_binding channels[] = {
        {"VCDProperty_WhiteBalanceRed", &whitebalance::red, vendor_id::whitebalance_red},
        {"VCDProperty_WhiteBalanceGreen", &whitebalance::green, vendor_id::whitebalance_green},
        {"VCDProperty_WhiteBalanceBlue", &whitebalance::blue, vendor_id::whitebalance_blue},
    };
    for (const channel_binding& binding : channels) {
        GenICam::IInteger* node = find_feature_as<GenICam::IInteger>(documents, binding.name);
        handler.*binding.member = node;
        if (node != nullptr) {
            registry.register_handler({cam::PROPSETID_FWCAM1394_CUSTOM_PROP, binding.id}, &handler,
                                      cam::level_base);
        }
    }
}

} // namespace drv_genicam
