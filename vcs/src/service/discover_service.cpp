#include "service/discover_service.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <system_error>
#include <utility>

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"
#include "gen_utils/thread_name.h"
#include "properties/property_store_registry.h"
#include "service/filter_instance_enumerator.h"
#include "service/session_mailslot.h"

namespace service {

namespace {
constexpr REGSAM read_write = KEY_READ | KEY_WRITE;

DShowDeviceService::guid_bytes to_guid_bytes(const GUID& guid)
{
    static_assert(sizeof(DShowDeviceService::guid_bytes) == sizeof(GUID));
    DShowDeviceService::guid_bytes bytes;
    bytes.data1 = guid.Data1;
    bytes.data2 = guid.Data2;
    bytes.data3 = guid.Data3;
    std::memcpy(bytes.data4, guid.Data4, sizeof(bytes.data4));
    return bytes;
}

bool same_guid(const GUID& a, const GUID& b) noexcept
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Releases the records of an enumeration that are not taken over.
void release_records(std::vector<cam_service::device_info_base*>& records, std::size_t from)
{
    for (std::size_t i = from; i < records.size(); ++i) {
        if (records[i] != nullptr) {
            records[i]->release();
            records[i] = nullptr;
        }
    }
}
} // namespace

discover_service::discover_service() : discover_service(options{}) {}

discover_service::discover_service(options settings)
    : settings_(std::move(settings)),
      enumerator_(std::make_shared<DRM::enumerator>(settings_.devices_path))
{
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, settings_.devices_path.c_str(), 0, nullptr, 0, read_write, nullptr, &raw,
                        nullptr) == ERROR_SUCCESS) {
        devices_key_.reset(raw);
    }
    service_defaults_ =
        std::make_shared<utils::property_store_registry>(devices_key_.get(), L"_service_defaults", read_write);
    enumerator_->reset();
    enumerator_->load_devices();
    factories_ = std::move(settings_.factories);
}

discover_service::~discover_service()
{
    try {
        stop();
    } catch (const std::exception& e) {
        log_line(logging::level_error, "[CamTovra] service::discover_service::~discover_service, {}\n", e.what());
    }
}

void discover_service::on_factory_change(void* context)
{
    auto* self = static_cast<discover_service*>(context);
    {
        std::lock_guard lock(self->lock_);
        ++self->rescan_requests_;
    }
    self->wake_.notify_all();
}

void discover_service::start()
{
    stop();
    {
        std::lock_guard lock(lock_);
        stop_requested_ = false;
    }
    const on_session_active on_session(notifier_, own_session_id(), settings_.start_proxy);
    for_each_session(settings_.sessions, [&](DWORD id, bool active) { on_session(id, active); });
    std::this_thread::sleep_for(settings_.start_pause);
    {
        std::lock_guard lock(lock_);
        rescan_requests_ = 0;
    }
    worker_ = std::thread([this] { run(); });
    for (const auto& factory : factories_) {
        factory->start_device_change_notification(this, &discover_service::on_factory_change);
    }
}

void discover_service::stop()
{
    if (!worker_.joinable()) {
        return;
    }
    // Every piece is stopped even when one of them fails, and the first
    // failure is raised once all are: a stop left before the join would be
    // finished by the next start, whose close of the notifier drops the
    // clients that subscribed since (the device list among them).
    std::exception_ptr failure;
    const auto keep_first = [&failure] {
        if (!failure) {
            failure = std::current_exception();
        }
    };
    for (const auto& factory : factories_) {
        try {
            factory->stop_device_change_notification();
        } catch (...) {
            keep_first();
        }
    }
    {
        std::lock_guard lock(lock_);
        stop_requested_ = true;
    }
    wake_.notify_all();
    worker_.join(); // from the worker itself: std::system_error (resource deadlock)
    {
        std::lock_guard lock(lock_);
        for (const auto& device : devices_) {
            try {
                on_device_removed(*device);
            } catch (...) {
                keep_first();
            }
        }
        devices_.clear();
        try {
            enumerator_->reset();
        } catch (...) {
            keep_first();
        }
    }
    notifier_.close();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

std::vector<std::shared_ptr<cam_service::active_device_info>> discover_service::get_device_list() const
{
    std::lock_guard lock(lock_);
    return devices_;
}

std::shared_ptr<cam_service::active_device_info> discover_service::find_device(std::wstring_view unique_key,
                                                                               const GUID& device_guid) const
{
    // Cameras without a registry entry all carry the zero GUID: it names none of them.
    const bool by_guid = !same_guid(device_guid, GUID{});
    std::lock_guard lock(lock_);
    for (const auto& device : devices_) {
        if (device->unique_key() == unique_key || (by_guid && same_guid(device->device_guid(), device_guid))) {
            return device;
        }
    }
    return {};
}

HRESULT discover_service::add_mailslot_client(std::wstring_view name)
{
    return notifier_.open_mailslot(name);
}

bool discover_service::remove_client(std::wstring_view name)
{
    // A client's call reaches mailslots only: the active-device list's own
    // "device_list" callback must survive any name a client passes.
    return notifier_.remove_mailslot(name);
}

void discover_service::add_list_client(const std::wstring& name, callback on_change)
{
    notifier_.add_client(name, [on_change = std::move(on_change)](const DShowDeviceService::mailslot_event& message) {
        GUID guid{message.device_guid.data1, message.device_guid.data2, message.device_guid.data3, {}};
        std::memcpy(guid.Data4, message.device_guid.data4, sizeof(guid.Data4));
        on_change(message.kind, guid);
    });
}

bool discover_service::remove_list_client(const std::wstring& name)
{
    return notifier_.remove_callback(name);
}

namespace {
void log_step_failure(const char* what, const char* why) noexcept
{
    try {
        log_line(logging::level_error, "[CamTovra] service::discover_service::run, {} failed: {}\n", what, why);
    } catch (...) {
        // The log itself ran out of memory: nothing more can be said.
    }
}

// Runs one step of the worker; whatever it throws is logged, so that the
// worker (and with it the service) keeps serving. False when it threw.
template <class Step>
bool guarded(const char* what, Step&& step) noexcept
{
    try {
        step();
        return true;
    } catch (const std::exception& e) {
        log_step_failure(what, e.what());
    } catch (...) {
        log_step_failure(what, "unknown exception");
    }
    return false;
}
} // namespace

void discover_service::run() noexcept
{
    // The filter mapper is used from this thread: it joins the process's
    // multithreaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    guarded("naming the thread", [] { utils::set_thread_description("discover_service thread"); });
    for (bool stopping = false; !stopping;) {
        // A refresh that fails keeps the previous list; the next rescan tries again.
        guarded("refresh", [this] { refresh_device_list(); });
        if (settings_.on_refreshed) {
            guarded("the refresh callback", [this] { settings_.on_refreshed(); });
        }
        if (!guarded("waiting for a rescan", [&] { stopping = !wait_for_rescan(); })) {
            // Not to spin on a lock that keeps failing.
            std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(settings_.rescan_period,
                                                                           std::chrono::milliseconds(1000)));
        }
    }
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

bool discover_service::wait_for_rescan()
{
    std::unique_lock lock(lock_);
    if (stop_requested_) {
        return false;
    }
    wake_.wait_until(lock, std::chrono::steady_clock::now() + settings_.rescan_period,
                     [&] { return rescan_requests_ != 0 || stop_requested_; });
    if (stop_requested_) {
        return false;
    }
    rescan_requests_ = 0;
    return true;
}

std::vector<discover_service::found_record> discover_service::gather() const
{
    std::vector<found_record> found;
    for (const auto& factory : factories_) {
        // A factory hands out records only with S_OK and never more than it
        // reports; with "more data" it stored nothing and the array is asked
        // for again at the reported size. The array starts zeroed so that no
        // slot the factory left alone is ever taken for a record.
        std::vector<cam_service::device_info_base*> records(max_devices_per_factory, nullptr);
        std::uint32_t count = 0;
        HRESULT result = factory->enumerate_devices(records.data(), static_cast<std::uint32_t>(records.size()),
                                                    &count);
        for (int retry = 0; result == cam_service::enumerate_more_data && count > records.size() && retry < 3;
             ++retry) {
            records.assign(count, nullptr);
            count = 0;
            result = factory->enumerate_devices(records.data(), static_cast<std::uint32_t>(records.size()), &count);
        }
        if (result != S_OK) {
            continue;
        }
        const std::size_t stored = std::min<std::size_t>(count, records.size());
        const std::size_t taken = std::min<std::size_t>(stored, max_devices_per_factory);
        release_records(records, taken);
        records.resize(taken);
        for (auto*& record : records) {
            if (record == nullptr) {
                continue;
            }
            auto info = cam_service::adopt_device_info(std::exchange(record, nullptr));
            std::wstring key(utils::string_view_from_cstr(info->serial_number()));
            std::wstring name(utils::string_view_from_cstr(info->product_name()));
            if (key.empty()) {
                // No registry entry can be made for it: it would land on the
                // devices key itself.
                log_line(logging::level_warning, "[CamTovra] service::discover_service, camera without a unique key "
                                                 "ignored.\n");
                continue;
            }
            found.push_back({std::move(info), std::move(key), std::move(name)});
        }
    }
    return found;
}

void discover_service::refresh_device_list()
{
    std::vector<found_record> found = gather();

    std::lock_guard lock(lock_);
    for (const auto& device : devices_) {
        const bool present = std::any_of(found.begin(), found.end(),
                                         [&](const found_record& r) { return r.unique_key == device->unique_key(); });
        if (!present) {
            on_device_removed(*device);
        }
    }

    std::vector<std::shared_ptr<cam_service::active_device_info>> fresh;
    fresh.reserve(found.size());
    for (auto& record : found) {
        const bool announced = enumerator_->register_device(record.unique_key, record.friendly_name,
                                                            DRM::camera_filter());
        GUID device_guid{};
        utils::unique_hkey device_key;
        if (const auto entry = enumerator_->find(record.unique_key)) {
            device_guid = entry->instance_clsid;
            device_key = enumerator_->open_device_key(*entry);
        }
        auto info = std::make_shared<cam_service::active_device_info>(device_guid, device_key.get(),
                                                                      std::move(record.info));
        if (!announced) {
            notify_list_changed(device_guid, record.friendly_name, DShowDeviceService::device_event::created);
            log_line(logging::level_trace, "[CamTovra] Notified creation of \"{}\"\n",
                     utils::to_utf8(record.friendly_name));
        }
        fresh.push_back(std::move(info));
    }
    devices_.swap(fresh);
}

void discover_service::on_device_removed(const cam_service::active_device_info& info)
{
    enumerator_->unregister_device(info.unique_key());
    notify_list_changed(info.device_guid(), info.friendly_name(), DShowDeviceService::device_event::removed);
    log_line(logging::level_trace, "[CamTovra] Notified removal of \"{}\"\n", utils::to_utf8(info.friendly_name()));
}

void discover_service::notify_list_changed(const GUID& device_guid, std::wstring_view name, std::uint32_t kind)
{
    notifier_.post(DShowDeviceService::make_mailslot_event(kind, to_guid_bytes(device_guid),
                                                           DShowDeviceService::to_u16(name)));
}

} // namespace service
