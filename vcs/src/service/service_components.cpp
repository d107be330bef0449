#include "service/service_components.h"

#include "service/service_holders.h"

// The discover service and the active-device list are not part of this
// executable yet: until they are, start-up creates nothing, the holders stay
// empty and every COM method answers as it does for an empty holder.

namespace service::components {

void create() {}

void stop()
{
    discover_service_instance().reset();
    cam_service::active_device_list_instance().reset();
}

void pause() {}

void resume() {}

void on_session_logon(DWORD) {}

std::shared_ptr<utils::property_store_itf> service_defaults()
{
    return {};
}

} // namespace service::components
