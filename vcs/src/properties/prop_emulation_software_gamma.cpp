#include "properties/prop_emulation_software_gamma.h"

namespace prop_emulation {

std::error_code software_gamma::get_request(KsPropDataRequest& request)
{
    return vpa_get(key(), values_, request);
}

std::error_code software_gamma::set_request(KsPropDataRequest& request)
{
    return vpa_set(key(), values_, request);
}

} // namespace prop_emulation
