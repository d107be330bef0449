#include "service/service_components.h"

#include <atomic>
#include <utility>

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
    create(std::move(options));
}

void create(discover_service::options options)
{
    auto discover = std::make_shared<discover_service>(std::move(options));
    discover_service_instance().store(discover);

    // The list is in its holder before the discover service's worker lists a
    // camera: a client may open a camera the moment it sees it, while this
    // thread is still here. (It subscribes through the discover service's
    // holder, which is filled already; starting keeps that subscription.)
    cam_service::active_device_list::options list_options;
    list_options.change_source = [] { return discover_service_instance().load(); };
    cam_service::active_device_list_instance().store(cam_service::active_device_list::create(list_options));

    discover->start();
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
    // The list opens cameras again before the discover service lists them.
    if (const auto list = cam_service::active_device_list_instance().load()) {
        list->resume();
    }
    if (const auto discover = discover_service_instance().load()) {
        discover->start();
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
