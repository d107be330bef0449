#include "device_impl/device_impl_tools/propset/gen_property_reqistry.h"

#include <utility>

#include "gen_utils/cam_error.h"
#include "properties/property_store.h"

namespace gen_property {

gen_property_reqistry::gen_property_reqistry(std::shared_ptr<utils::property_store_itf> store)
    : store_(std::move(store))
{
}

gen_property_reqistry::~gen_property_reqistry() = default;

bool gen_property_reqistry::is_supported(const cam::property_req_key& key)
{
    auto* handler = table_.find(key, cam::level_override);
    if (handler == nullptr) {
        return false;
    }
    bool get_supported = false;
    bool set_supported = false;
    return !handler->query_support(get_supported, set_supported) && (get_supported || set_supported);
}

std::error_code gen_property_reqistry::set_request(KsPropDataRequest& request, unsigned level)
{
    auto* handler = table_.find(cam::key_of(request), level);
    if (handler == nullptr) {
        return make_cam_error(E_NOTIMPL);
    }
    return handler->set_request(request);
}

std::error_code gen_property_reqistry::get_request(KsPropDataRequest& request, unsigned level)
{
    auto* handler = table_.find(cam::key_of(request), level);
    if (handler == nullptr) {
        return make_cam_error(E_NOTIMPL);
    }
    return handler->get_request(request);
}

std::error_code gen_property_reqistry::register_handler(const cam::property_req_key& key,
                                                        cam::property_req_entry_itf* handler, unsigned level)
{
    if (level >= cam::level_count) {
        return make_cam_error(E_INVALIDARG);
    }
    table_.find_or_insert(key)[level] = handler;
    return {};
}

std::error_code gen_property_reqistry::register_handler_keys(std::span<const cam::property_req_key> keys,
                                                             cam::property_req_entry_itf* handler, unsigned level)
{
    if (level >= cam::level_count) {
        return make_cam_error(E_INVALIDARG);
    }
    for (const auto& key : keys) {
        table_.find_or_insert(key)[level] = handler;
    }
    return {};
}

utils::property_store_itf* gen_property_reqistry::property_store()
{
    return store_.get();
}

void gen_property_reqistry::set_property_store(std::shared_ptr<utils::property_store_itf> store)
{
    store_ = std::move(store);
}

void gen_property_reqistry::load_values()
{
    auto* store = property_store();
    if (store == nullptr) {
        return;
    }
    table_.for_each_position([store](const cam::property_req_key&, unsigned, cam::property_req_entry_itf& handler) {
        handler.load_value(*store);
    });
}

void gen_property_reqistry::save_values()
{
    auto* store = property_store();
    if (store == nullptr) {
        return;
    }
    table_.for_each_position([store](const cam::property_req_key&, unsigned, cam::property_req_entry_itf& handler) {
        handler.save_value(*store);
    });
}

void gen_property_reqistry::reapply_values()
{
    table_.for_each_position(
        [](const cam::property_req_key&, unsigned, cam::property_req_entry_itf& handler) { handler.reapply_value(); });
}

} // namespace gen_property
