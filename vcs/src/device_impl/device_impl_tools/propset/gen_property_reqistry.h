#pragma once
// The handler registry of one camera: routes requests by (set, id) to the
// handler at the highest level not above the one asked for, and walks all
// handlers to load or save their persisted values. The camera base derives
// from it; callers serialise requests with the camera's request lock.

#include <memory>
#include <span>
#include <system_error>

#include "device_impl/device_impl_tools/propset/property_req_table.h"

namespace utils {
class property_store_itf;
}

namespace gen_property {

class gen_property_reqistry {
public:
    explicit gen_property_reqistry(std::shared_ptr<utils::property_store_itf> store = nullptr);
    gen_property_reqistry(const gen_property_reqistry&) = delete;
    gen_property_reqistry& operator=(const gen_property_reqistry&) = delete;
    virtual ~gen_property_reqistry();

    // A handler at level 2 or below whose query_support succeeds with get or
    // set supported.
    virtual bool is_supported(const cam::property_req_key& key);
    // No handler: 0x80004001.
    virtual std::error_code set_request(KsPropDataRequest& request, unsigned level);
    virtual std::error_code get_request(KsPropDataRequest& request, unsigned level);
    // Stores `handler` (not owned; null clears) at `level` of the key,
    // replacing what was there. A level above 2: 0x80070057, nothing stored.
    virtual std::error_code register_handler(const cam::property_req_key& key, cam::property_req_entry_itf* handler,
                                             unsigned level);
    virtual std::error_code register_handler_keys(std::span<const cam::property_req_key> keys,
                                                  cam::property_req_entry_itf* handler, unsigned level);
    // The store handed to load_value and save_value; may be null.
    virtual utils::property_store_itf* property_store();

    // Every handler position in key order, positions 2, 1, 0, loads its value
    // from property_store() (nothing without a store).
    void load_values();
    // The same walk saving the values.
    void save_values();
    // The same walk writing every cached value to the device again.
    void reapply_values();

    void set_property_store(std::shared_ptr<utils::property_store_itf> store);

    cam::property_req_table& table() noexcept { return table_; }
    const cam::property_req_table& table() const noexcept { return table_; }

private:
    cam::property_req_table table_;
    std::shared_ptr<utils::property_store_itf> store_;
};

} // namespace gen_property
