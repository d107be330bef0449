#pragma once
// The service's one object that knows which cameras are present. It owns the
// device factories, keeps one active_device_info per present camera, keeps
// each camera's registry entry and filter instance current, and tells
// sessions and clients of arrivals and removals through the list-changed
// notifier. Its "discover_service thread" rescans whenever a factory reports
// a change and otherwise every 5 seconds.

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "gen_utils/registry.h"
#include "properties/property_store.h"
#include "service/active_device_info.h"
#include "service/active_device_list.h"
#include "service/list_changed_notifier.h"
#include "service/session_enumeration.h"
#include "service/session_proxy_start.h"

namespace DRM {
class enumerator;
}

namespace service {

class discover_service : public cam_service::list_change_source {
public:
    using factory_ptr = std::shared_ptr<cam_service::device_factory_base>;

    struct options {
        // Below HKLM: one key per camera ever seen, and "_service_defaults".
        std::wstring devices_path = L"Software\\Corvane\\CamTovraService\\devices";
        // The factories to ask, in order; without any no camera is found.
        std::vector<factory_ptr> factories;
        std::chrono::milliseconds rescan_period{5000};
        // Lets session proxies that were just started create their mailslots.
        std::chrono::milliseconds start_pause{100};
        session_source sessions = system_session_source();
        on_session_active::proxy_starter start_proxy = [](DWORD id) { start_session_proxy(id); };
        // Called on the worker after every refresh, without any lock held.
        std::function<void()> on_refreshed;
    };

    // Most cameras taken from one factory in one refresh.
    static constexpr std::uint32_t max_devices_per_factory = 256;

    // Loads the known device entries and removes filter instances left over
    // from an earlier run. Throws std::exception when the filter mapper or the
    // devices key cannot be had. COM must be initialised.
    discover_service();
    explicit discover_service(options settings);
    ~discover_service() override;
    discover_service(const discover_service&) = delete;
    discover_service& operator=(const discover_service&) = delete;

    // Opens the session mailslots (or starts session proxies), then starts the
    // worker and subscribes to the factories' change notification.
    // std::system_error when the worker cannot be started.
    void start();
    // Announces every present camera removed, removes their filter instances,
    // sends the closing message and drops every notifier client. Nothing when
    // not started. A step that throws (a factory's unsubscription, say) does
    // not keep the others from running; the first such error is raised at the
    // end. Never call it from the worker.
    void stop();

    // The present cameras, in factory order.
    std::vector<std::shared_ptr<cam_service::active_device_info>> get_device_list() const;
    // The first camera whose unique key equals `unique_key` or, failing that,
    // whose device GUID equals `device_guid` (never the zero GUID).
    std::shared_ptr<cam_service::active_device_info> find_device(std::wstring_view unique_key,
                                                                 const GUID& device_guid) const;

    HRESULT add_mailslot_client(std::wstring_view name);
    // RemoveEventMailslot: removes the mailslot of that name, never a
    // callback client of the service's own.
    bool remove_client(std::wstring_view name);
    std::shared_ptr<utils::property_store_itf> service_defaults() const { return service_defaults_; }
    list_changed_notifier& notifier() noexcept { return notifier_; }

    // Callback clients of the notifier (the active-device list).
    void add_list_client(const std::wstring& name, callback on_change) override;
    bool remove_list_client(const std::wstring& name) override;

private:
    struct found_record {
        std::shared_ptr<cam_service::device_info_base> info;
        std::wstring unique_key;
        std::wstring friendly_name;
    };

    static void on_factory_change(void* context);
    // The worker: refreshes, then waits for a rescan, until stopped; nothing
    // it meets ends the thread before a stop.
    void run() noexcept;
    // Waits for a change signal or the rescan period; false once stop is requested.
    bool wait_for_rescan();
    std::vector<found_record> gather() const;
    void refresh_device_list();
    void on_device_removed(const cam_service::active_device_info& info);
    void notify_list_changed(const GUID& device_guid, std::wstring_view name, std::uint32_t kind);

    options settings_;
    std::thread worker_;
    std::condition_variable wake_;
    mutable std::mutex lock_;
    std::uint32_t rescan_requests_ = 0; // guarded by lock_
    bool stop_requested_ = false;       // guarded by lock_
    std::vector<std::shared_ptr<cam_service::active_device_info>> devices_; // guarded by lock_
    std::shared_ptr<DRM::enumerator> enumerator_;
    utils::unique_hkey devices_key_;
    std::shared_ptr<utils::property_store_itf> service_defaults_;
    list_changed_notifier notifier_;
    std::vector<factory_ptr> factories_;
};

} // namespace service
