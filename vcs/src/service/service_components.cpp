#include "service/service_components.h"

#include <atomic>
#include <exception>
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

namespace {
// Stops the discover service in the holder, if any; what it throws is kept in
// `failure` (the first one only), so that the caller goes on with the other
// pieces and reports the failure after them. The stop itself runs every one
// of its steps before it throws.
void stop_discover_service(std::exception_ptr& failure)
{
    try {
        if (const auto discover = discover_service_instance().load()) {
            discover->stop();
        }
    } catch (...) {
        if (!failure) {
            failure = std::current_exception();
        }
    }
}
} // namespace

void stop()
{
    std::exception_ptr failure;
    stop_discover_service(failure);
    // Each object is released outside the holder, after it has been emptied.
    discover_service_instance().exchange(nullptr).reset();
    cam_service::active_device_list_instance().exchange(nullptr).reset();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void pause()
{
    std::exception_ptr failure;
    stop_discover_service(failure);
    // Released even when the discover service failed to stop: no client may
    // keep a camera over a pause.
    if (const auto list = cam_service::active_device_list_instance().load()) {
        list->pause();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void resume()
{
    // Whatever a failed pause left of the stop is finished first: the stop
    // that starting runs closes the notifier, and the list's subscription
    // below must outlive it, or the list would never hear of a removal.
    std::exception_ptr failure;
    stop_discover_service(failure);
    // The list opens cameras again before the discover service lists them.
    if (const auto list = cam_service::active_device_list_instance().load()) {
        list->resume();
    }
    if (const auto discover = discover_service_instance().load()) {
        discover->start();
    }
    if (failure) {
        std::rethrow_exception(failure);
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
