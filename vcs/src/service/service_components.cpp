#include "service/service_components.h"

#include "service/discover_service.h"
#include "service/service_holders.h"
#include "service/session_proxy_start.h"

// Start-up does not create the discover service yet: its holder stays empty
// and every COM method answers as it does without one.

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
    const auto service = discover_service_instance().load();
    return service ? service->service_defaults() : nullptr;
}

} // namespace service::components
