#include "service/service_components.h"

#include "service/service_holders.h"
#include "service/session_proxy_start.h"

// The discover service is not part of this executable yet: until it is,
// start-up creates only the active-device list, the discover-service holder
// stays empty and every COM method answers as it does without one.

namespace service::components {

void create()
{
    cam_service::active_device_list_instance().store(cam_service::active_device_list::create());
}

void stop()
{
    // Each object is released outside the holder, after it has been emptied.
    discover_service_instance().exchange(nullptr).reset();
    cam_service::active_device_list_instance().exchange(nullptr).reset();
}

void pause()
{
    if (const auto list = cam_service::active_device_list_instance().load()) {
        list->pause();
    }
}

void resume()
{
    if (const auto list = cam_service::active_device_list_instance().load()) {
        list->resume();
    }
}

void on_session_logon(DWORD session_id)
{
    if (discover_service_instance().load()) {
        start_session_proxy(session_id);
    }
}

std::shared_ptr<utils::property_store_itf> service_defaults()
{
    return {};
}

} // namespace service::components
