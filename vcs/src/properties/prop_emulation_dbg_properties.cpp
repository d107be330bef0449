#include "properties/prop_emulation_dbg_properties.h"

#include <cstring>
#include <string>

#include "gen_utils/log.h"
#include "genicam/gcxml_node_writers.h"
#include "properties/node_descriptions.h"
#include "properties/prop_meta_list.h"
#include "properties/property_store.h"

namespace prop_emulation {

namespace {

constexpr const char* implemented_node = "DebugPropertiesImplemented";
constexpr const char* value_element_guid = "{B57D3000-0AC6-4819-A609-272A33140ACA}";
constexpr const char* log_level_item = "Service Log Level";
constexpr const char* log_level_item_guid = "{02F54349-2752-4151-BE09-A8672331E324}";

std::error_code not_served()
{
    return make_cam_error(E_NOTIMPL);
}

// A 4-byte unsigned little-endian register of the debug block.
void add_block_register(gcxml::doc_builder& document, const std::string& name, std::uint32_t id)
{
    gcxml::int_reg_desc reg;
    gcxml::gen_node_desc_create(reg, name);
    reg.address = dbg_properties::register_block | id;
    reg.sign = gcxml::sign_kind::is_unsigned;
    reg.endianess = gcxml::endianess_kind::little_endian;
    gcxml::add_int_register(document, reg);
}

void place(gcxml::node_desc& node, const char* item, const char* item_guid, const char* element,
           const char* element_guid, std::int32_t order)
{
    prop_meta_list::add_vcd_info(node, {"Debug", item, item_guid, element, element_guid, order});
    node.is_implemented = implemented_node;
}

void add_integer_feature(gcxml::doc_builder& document, const std::string& name, const std::string& reg,
                         int min, int max, int def, const char* item, const char* item_guid,
                         const char* display_name = "")
{
    gcxml::integer_desc feature(name);
    feature.display_name = display_name;
    feature.value = gcxml::value_ref::link(reg);
    feature.min = gcxml::value_ref::literal(std::to_string(min));
    feature.max = gcxml::value_ref::literal(std::to_string(max));
    feature.inc = gcxml::value_ref::literal("1");
    feature.default_text = std::to_string(def);
    feature.default_kind = gcxml::ref_kind::literal;
    feature.do_not_serialize = true;
    place(feature, item, item_guid, "Value", value_element_guid, 0);
    genapi_xml_writer::write_integer_node(document.register_description(), feature);
}

void add_log_switch(gcxml::doc_builder& document, const std::string& name, const char* element,
                    const char* element_guid, std::int32_t order)
{
    gcxml::boolean_desc feature;
    gcxml::make_boolean_desc(feature, name, 0, 0);
    feature.value = gcxml::value_ref::link(name.substr(0, name.size() - 5) + "_Reg");
    feature.do_not_serialize = true;
    place(feature, log_level_item, log_level_item_guid, element, element_guid, order);
    gcxml::write_boolean_node(document, feature);
}

void set_category(std::uint32_t bit, bool on)
{
    if (on) {
        log_category_mask.fetch_or(bit);
    } else {
        log_category_mask.fetch_and(~bit);
    }
}

bool category(std::uint32_t bit)
{
    return (log_category_mask.load(std::memory_order_relaxed) & bit) != 0;
}

} // namespace

void dbg_properties::build(gen_property::gen_property_reqistry& registry, gcxml::doc_builder& document)
{
    store_ = registry.property_store();
    using cam::PROPSETID_EMULATED_REGISTER;
    using cam::PROPSETID_GENERIC_DRIVER_INTERFACE;
    const cam::property_req_key keys[] = {
        {PROPSETID_EMULATED_REGISTER, id_implemented},       {PROPSETID_EMULATED_REGISTER, id_log_level},
        {PROPSETID_EMULATED_REGISTER, id_log_genicam},       {PROPSETID_EMULATED_REGISTER, id_log_u3v},
        {PROPSETID_EMULATED_REGISTER, id_log_uvc},           {PROPSETID_EMULATED_REGISTER, id_max_concurrency},
        {PROPSETID_GENERIC_DRIVER_INTERFACE, id_export},     {PROPSETID_GENERIC_DRIVER_INTERFACE, id_show_overlay},
        {PROPSETID_GENERIC_DRIVER_INTERFACE, id_force_clear_buffers},
        {PROPSETID_GENERIC_DRIVER_INTERFACE, id_drop_incomplete_frames},
    };
    (void)registry.register_handler_keys(keys, this, cam::level_override);

    if (!document.register_description()) {
        log_line(logging::level_error, "[CamTovra] No document for the debug properties.\n");
        return;
    }
    add_block_register(document, implemented_node, id_implemented);
    add_block_register(document, "ServiceLogLevel_Reg", id_log_level);
    add_integer_feature(document, "ServiceLogLevel_Elem", "ServiceLogLevel_Reg", 0, 5, 4, log_level_item,
                        log_level_item_guid);
    add_block_register(document, "ServiceLogLevel_LogGenICamRequests_Reg", id_log_genicam);
    add_block_register(document, "ServiceLogLevel_LogU3VRequests_Reg", id_log_u3v);
    add_block_register(document, "ServiceLogLevel_LogUVCRequests_Reg", id_log_uvc);
    add_log_switch(document, "ServiceLogLevel_LogGenICamRequests_Elem", "Log GenICam Requests",
                   "{9044CBFD-2462-456F-9175-8E630EB74AE0}", 3);
    add_log_switch(document, "ServiceLogLevel_LogU3VRequests_Elem", "Log U3V Requests",
                   "{7DAC8B71-AB96-4882-B1E8-C28494A532E9}", 4);
    add_log_switch(document, "ServiceLogLevel_LogUVCRequests_Elem", "Log UVC Requests",
                   "{6C0C811C-40A6-4CEF-86E8-8E9BD868CA27}", 5);
    add_block_register(document, "Debug_MaxConcurrency_Reg", id_max_concurrency);
    add_integer_feature(document, "Debug_MaxConcurrency", "Debug_MaxConcurrency_Reg", 0, 32, 0,
                        "Max concurrency (0 default)", "{1BA4259D-114C-4860-81A2-115C42C1D8F6}",
                        "Max concurrency (0 default)");

    struct flag_feature {
        const char* node;
        const char* item;
        const char* item_guid;
        std::atomic<bool>* flag;
    };
    const flag_feature features[] = {
        {"Debug_ShowOverlay_Elem", "Show overlay", "{EFD4AB61-09E2-444A-9AC1-463434A62B04}", &flags_.show_overlay},
        {"Debug_ClearBufferOnReuse_Elem", "Clear buffer on reuse", "{83229830-3453-41a4-a065-0034022384f0}",
         &flags_.force_clear_buffers},
        {"Debug_DropincompleteFrames_Elem", "Drop incomplete frames", "{21029bdc-0a78-4031-a329-8673e33e0c05}",
         &flags_.drop_incomplete_frames},
    };
    for (const flag_feature& f : features) {
        const std::uint8_t current = f.flag->load() ? 1 : 0;
        gcxml::boolean_desc feature;
        gcxml::make_boolean_desc(feature, f.node, current, current);
        const gcxml::reg_ref reg = gcxml::add_boolean_register_feature(
            document, feature, {"Debug", f.item, f.item_guid, "Enable", value_element_guid, 0}, implemented_node);
        registry.table().add_bool_property_unnamed(
            {cam::PROPSETID_EMULATED_REGISTER, static_cast<std::uint32_t>(reg.address & 0xFFFFFFFFu)}, f.flag);
    }
}

bool dbg_properties::exported() const
{
    if (export_) {
        return true;
    }
    std::int64_t stored = 0;
    return store_ != nullptr && store_->read_int(L"export_debug_properties", stored) && stored != 0;
}

std::error_code dbg_properties::get_request(KsPropDataRequest& request)
{
    if (cam::same_guid(request.property_set, cam::PROPSETID_GENERIC_DRIVER_INTERFACE)) {
        switch (request.property_id) {
        case id_export: return cam::write_int_reply(request, export_ ? 1 : 0);
        case id_show_overlay: return cam::write_int_reply(request, flags_.show_overlay.load() ? 1 : 0);
        case id_force_clear_buffers: return cam::write_int_reply(request, flags_.force_clear_buffers.load() ? 1 : 0);
        case id_drop_incomplete_frames:
            return cam::write_int_reply(request, flags_.drop_incomplete_frames.load() ? 1 : 0);
        default: return not_served();
        }
    }
    if (!cam::same_guid(request.property_set, cam::PROPSETID_EMULATED_REGISTER)) {
        return not_served();
    }
    switch (request.property_id) {
    case id_implemented: return cam::write_int_reply(request, exported() ? 1 : 0);
    case id_max_concurrency: return cam::write_int_reply(request, max_concurrency());
    case id_log_level:
        return cam::write_int_reply(request, static_cast<std::int32_t>(service_log_level.load()));
    case id_log_genicam: return cam::write_int_reply(request, category(logging::cat_named_requests) ? 1 : 0);
    case id_log_u3v: return cam::write_int_reply(request, category(logging::cat_control_channel) ? 1 : 0);
    case id_log_uvc: return cam::write_int_reply(request, category(logging::cat_uvc_requests) ? 1 : 0);
    default: return not_served();
    }
}

std::error_code dbg_properties::set_request(KsPropDataRequest& request)
{
    const bool generic = cam::same_guid(request.property_set, cam::PROPSETID_GENERIC_DRIVER_INTERFACE);
    const bool emulated = cam::same_guid(request.property_set, cam::PROPSETID_EMULATED_REGISTER);
    const std::uint32_t id = request.property_id;
    const bool served = (generic && id >= id_export && id <= id_drop_incomplete_frames) ||
                        (emulated && (id == id_max_concurrency || id == id_log_level || id == id_log_genicam ||
                                      id == id_log_u3v || id == id_log_uvc));
    if (!served) {
        return not_served();
    }
    if (request.value_size < 4) {
        return make_cam_error(static_cast<HRESULT>(0x8007007A));
    }
    if (request.value == nullptr) {
        return make_cam_error(E_POINTER);
    }
    std::int32_t value = 0;
    std::memcpy(&value, request.value, sizeof value);
    if (generic) {
        switch (id) {
        case id_export: export_ = value != 0; break;
        case id_show_overlay: flags_.show_overlay = value != 0; break;
        case id_force_clear_buffers: flags_.force_clear_buffers = value != 0; break;
        default: flags_.drop_incomplete_frames = value != 0; break;
        }
        return {};
    }
    switch (id) {
    case id_max_concurrency: max_concurrency_ = value < 0 ? 0 : value; break;
    case id_log_level: service_log_level = static_cast<std::uint32_t>(value) & 0xFF; break;
    case id_log_genicam: set_category(logging::cat_named_requests, value != 0); break;
    case id_log_u3v: set_category(logging::cat_control_channel, value != 0); break;
    default: set_category(logging::cat_uvc_requests, value != 0); break;
    }
    return {};
}

void dbg_properties::load_value(utils::property_store_itf& store)
{
    const struct {
        const wchar_t* name;
        std::atomic<bool>* flag;
    } stored_flags[] = {
        {L"show_overlay", &flags_.show_overlay},
        {L"force_clear_buffers", &flags_.force_clear_buffers},
        {L"drop_incomplete_frames", &flags_.drop_incomplete_frames},
    };
    for (const auto& f : stored_flags) {
        std::int64_t value = 0;
        if (store.read_int(f.name, value)) {
            *f.flag = value != 0;
        }
    }
}

} // namespace prop_emulation
