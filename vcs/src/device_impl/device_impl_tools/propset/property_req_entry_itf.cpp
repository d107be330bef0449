#include "device_impl/device_impl_tools/propset/property_req_entry_itf.h"

namespace cam {

std::error_code property_req_entry_itf::query_support(bool& get_supported, bool& set_supported)
{
    get_supported = true;
    set_supported = true;
    return {};
}

void property_req_entry_itf::load_value(utils::property_store_itf&) {}

void property_req_entry_itf::save_value(utils::property_store_itf&) {}

void property_req_entry_itf::reapply_value() {}

} // namespace cam
