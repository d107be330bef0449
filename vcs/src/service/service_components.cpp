#include "service/service_components.h"

#include <atomic>

#include "service/discover_service.h"
#include "service/service_holders.h"
#include "service/session_proxy_start.h"

namespace service::components {

namespace {
std::atomic<factory_maker> the_factory_maker{nullptr};
} // namespace

void set_factory_maker(factory_maker maker)
{
    the_factory_maker = maker;
}

void create()
{
    discover_service::options options;
    if (const factory_maker maker = the_factory_maker.load()) {
        if (cam_service::device_factory_base* factory = maker()) {
            options.factories.emplace_back(factory, cam_service::ref_count_dtor{});
        }
    }
    auto discover = std::make_shared<discover_service>(std::move(options));
    discover_service_instance().store(discover);
    discover->start();

    cam_service::active_device_list::options list_options;
    list_options.change_source = [] { return discover_service_instance().load(); };
    cam_service::active_device_list_instance().store(cam_service::active_device_list::create(list_options));
}

void stop()
{
    if (const auto discover = discover_service_instance().load()) {
        discover->stop();
    }
    // Each object is released outside the holder, after it has been emptied.
    discover_service_instance().exchange(nullptr).reset();
    cam_service::active_device_list_instance().exchange(nullptr).reset();
}

void pause()
{
    if (const auto discover = discover_service_instance().load()) {
        discover->stop();
    }
    if (const auto list = cam_service::active_device_list_instance().load()) {
        list->pause();
    }
}

void resume()
{
    if (const auto discover = discover_service_instance().load()) {
        discover->start();
    }
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
    const auto discover = discover_service_instance().load();
    return discover ? discover->service_defaults() : nullptr;
}

} // namespace service::components
