#pragma once
// What every property handler implements. Results are error codes: success is
// value 0 in the system category, failures carry an HRESULT in the camera
// error category. Nothing here throws to the caller.

#include <system_error>

#include "device_impl/device_impl_tools/propset/ks_prop_request.h"

namespace utils {
class property_store_itf;
}

namespace cam {

class property_req_entry_itf {
public:
    virtual ~property_req_entry_itf() = default;

    // Both supported, by default.
    virtual std::error_code query_support(bool& get_supported, bool& set_supported);
    virtual std::error_code get_request(KsPropDataRequest& request) = 0;
    virtual std::error_code set_request(KsPropDataRequest& request) = 0;
    // Reads the handler's persisted value; a stored value that a set would
    // refuse is ignored. Default: nothing persisted.
    virtual void load_value(utils::property_store_itf& store);
    virtual void save_value(utils::property_store_itf& store);
    // Writes the cached value to the device again.
    virtual void reapply_value();

protected:
    property_req_entry_itf() = default;
    property_req_entry_itf(const property_req_entry_itf&) = default;
    property_req_entry_itf& operator=(const property_req_entry_itf&) = default;
};

} // namespace cam
