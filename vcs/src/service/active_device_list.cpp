#include "service/active_device_list.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "gen_utils/log.h"
#include "gen_utils/registry.h"
#include "gen_utils/thread_name.h"

namespace cam_service {

namespace {
bool same_guid(const GUID& a, const GUID& b) noexcept
{
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// Cameras without a stored GUID all carry the zero GUID: they can never be
// told apart, so they are never looked up by it.
bool is_zero_guid(const GUID& guid) noexcept
{
    return same_guid(guid, GUID{});
}
} // namespace

std::chrono::milliseconds read_idle_timeout(HKEY root, const std::wstring& path)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &raw) != ERROR_SUCCESS) {
        return active_device_list::default_idle_timeout;
    }
    const utils::unique_hkey key(raw);
    std::int32_t value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    // The value must be a REG_DWORD of exactly four bytes.
    if (RegQueryValueExW(key.get(), L"idle_device_timeout", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value)) {
        return active_device_list::default_idle_timeout;
    }
    return std::chrono::milliseconds(std::max<std::int32_t>(value, 0));
}

std::atomic<std::shared_ptr<active_device_list>>& active_device_list_instance()
{
    static std::atomic<std::shared_ptr<active_device_list>> instance;
    return instance;
}

std::shared_ptr<active_device_list> active_device_list::create()
{
    return create(options{});
}

std::shared_ptr<active_device_list> active_device_list::create(options settings)
{
    return std::shared_ptr<active_device_list>(new active_device_list(std::move(settings)));
}

active_device_list::active_device_list(options settings) : settings_(std::move(settings))
{
    worker_ = std::thread([this] { run(); });
}

active_device_list::~active_device_list()
{
    {
        std::lock_guard lock(list_lock_);
        stop_requested_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();
        } else {
            worker_.join();
        }
    }
}

std::shared_ptr<active_device_handle> active_device_list::open_device(const GUID& device_id,
                                                                      const std::shared_ptr<active_device_info>& info)
{
    const bool reusable = !is_zero_guid(device_id);
    // A replaced lost handle whose clients let go meanwhile dies here, after the
    // list lock is released: its release goes through make_idle.
    std::shared_ptr<active_device_handle> replaced;
    std::unique_lock list(list_lock_);
    if (reusable) {
        // One camera is opened once: a second client waits for the first
        // client's open of it, and only for that one.
        opened_.wait(list, [&] {
            return paused_ || std::none_of(opening_.begin(), opening_.end(),
                                           [&](const opening& o) { return same_guid(o.device_id, device_id); });
        });
    }
    if (paused_) {
        return {};
    }
    if (reusable) {
        const auto active = std::find_if(active_.begin(), active_.end(),
                                         [&](const active_entry& e) { return same_guid(e.device_id, device_id); });
        if (active != active_.end()) {
            replaced = active->handle.lock();
            if (replaced && !replaced->lost()) {
                return replaced;
            }
            // The stream of a lost handle ended as a device error: it told the clients that held the camera
            // then, and its event stays set. The camera itself still answers, so a later client gets a new
            // handle on it rather than a second open of it; the told clients keep theirs until they let go.
            auto handle = std::make_shared<active_device_handle>(active->device, device_id, weak_from_this());
            if (replaced) {
                std::erase_if(active->lost_handles, [](const auto& lost) { return lost.expired(); });
                active->lost_handles.push_back(replaced);
            }
            active->handle = handle;
            return handle;
        }
        const auto idle = std::find_if(idle_.begin(), idle_.end(),
                                       [&](const idle_entry& e) { return same_guid(e.device_id, device_id); });
        if (idle != idle_.end()) {
            auto camera = std::move(idle->device);
            idle_.erase(idle);
            auto handle = std::make_shared<active_device_handle>(camera, device_id, weak_from_this());
            active_.push_back({device_id, std::move(camera), handle});
            return handle;
        }
    }
    if (!info || !info->info()) {
        return {};
    }

    // Opening a camera reads its descriptors and GenICam file, which a slow
    // camera can stretch to its whole fetch budget: it runs without the list
    // lock, so that other clients' opens, releases and removal notices go on.
    const std::uint64_t opening_id = ++opening_sequence_;
    const std::uint64_t pauses = pauses_;
    opening_.push_back({device_id, opening_id, false});
    list.unlock();
    std::shared_ptr<active_device_base> camera;
    try {
        if (active_device_base* opened = info->info()->create_device(device_id, info->device_key())) {
            camera = std::shared_ptr<active_device_base>(opened, ref_count_dtor{});
        }
    } catch (...) {
        end_opening(opening_id);
        throw;
    }
    list.lock();
    const bool cancelled = take_opening(opening_id);
    opened_.notify_all();
    if (!camera || cancelled || pauses_ != pauses) {
        // Paused (and perhaps resumed) or reported removed meanwhile: the camera is let go, not
        // kept, and released without the lock.
        list.unlock();
        camera.reset();
        return {};
    }
    auto handle = std::make_shared<active_device_handle>(camera, device_id, weak_from_this());
    active_.push_back({device_id, std::move(camera), handle});
    return handle;
}

std::vector<std::shared_ptr<active_device_handle>> active_device_list::live_handles(const active_entry& entry)
{
    std::vector<std::shared_ptr<active_device_handle>> live;
    if (auto handle = entry.handle.lock()) {
        live.push_back(std::move(handle));
    }
    for (const auto& lost : entry.lost_handles) {
        if (auto handle = lost.lock()) {
            live.push_back(std::move(handle));
        }
    }
    return live;
}

bool active_device_list::take_opening(std::uint64_t opening_id)
{
    const auto found = std::find_if(opening_.begin(), opening_.end(),
                                    [&](const opening& o) { return o.sequence == opening_id; });
    if (found == opening_.end()) {
        return true;
    }
    const bool cancelled = found->cancelled;
    opening_.erase(found);
    return cancelled;
}

void active_device_list::end_opening(std::uint64_t opening_id)
{
    {
        std::lock_guard lock(list_lock_);
        take_opening(opening_id);
    }
    opened_.notify_all();
}

void active_device_list::make_idle(const GUID& device_id, const active_device_base* device)
{
    std::shared_ptr<active_device_base> unusable;
    std::lock_guard lock(list_lock_);
    const auto active = std::find_if(active_.begin(), active_.end(), [&](const active_entry& e) {
        return same_guid(e.device_id, device_id) && e.device.get() == device;
    });
    if (active == active_.end() || !active->handle.expired() ||
        std::any_of(active->lost_handles.begin(), active->lost_handles.end(),
                    [](const auto& lost) { return !lost.expired(); })) {
        return;
    }
    auto camera = std::move(active->device);
    active_.erase(active);
    if (is_zero_guid(device_id)) {
        return; // could never be found again: released with the handle
    }
    idle_.push_back({device_id, std::move(camera), std::chrono::steady_clock::now()});
    wake_.notify_all();
}

void active_device_list::on_list_changed(std::uint32_t kind, const GUID& device_guid)
{
    if (kind != list_change_removed || is_zero_guid(device_guid)) {
        return;
    }
    std::vector<std::shared_ptr<active_device_handle>> handles;
    std::shared_ptr<active_device_base> camera;
    {
        std::lock_guard lock(list_lock_);
        // A camera being opened now is gone already: its open gives no handle.
        for (opening& o : opening_) {
            if (same_guid(o.device_id, device_guid)) {
                o.cancelled = true;
            }
        }
        const auto idle = std::find_if(idle_.begin(), idle_.end(),
                                       [&](const idle_entry& e) { return same_guid(e.device_id, device_guid); });
        if (idle != idle_.end()) {
            camera = std::move(idle->device);
            idle_.erase(idle);
            return;
        }
        const auto active = std::find_if(active_.begin(), active_.end(),
                                         [&](const active_entry& e) { return same_guid(e.device_id, device_guid); });
        if (active == active_.end()) {
            return;
        }
        handles = live_handles(*active);
        camera = std::move(active->device);
        active_.erase(active);
    }
    for (const auto& handle : handles) {
        handle->invalidate();
    }
}

void active_device_list::release_all()
{
    std::vector<std::shared_ptr<active_device_handle>> live;
    {
        std::lock_guard lock(list_lock_);
        for (auto& entry : active_) {
            for (auto& handle : live_handles(entry)) {
                handle->invalidate();
                live.push_back(std::move(handle));
            }
        }
        active_.clear();
        idle_.clear();
    }
}

void active_device_list::pause()
{
    std::lock_guard open(open_lock_);
    {
        std::lock_guard lock(list_lock_);
        paused_ = true;
        ++pauses_;
    }
    opened_.notify_all();
    release_all();
}

void active_device_list::resume()
{
    {
        std::lock_guard open(open_lock_);
        std::lock_guard lock(list_lock_);
        paused_ = false;
    }
    // Stopping the discover service dropped every notifier client, this list
    // among them: without registering again it would never hear of a removal.
    subscribe();
}

std::size_t active_device_list::active_count() const
{
    std::lock_guard lock(list_lock_);
    return active_.size();
}

std::size_t active_device_list::idle_count() const
{
    std::lock_guard lock(list_lock_);
    return idle_.size();
}

void active_device_list::subscribe()
{
    std::lock_guard lock(source_lock_);
    if (unsubscribed_) {
        return;
    }
    if (!source_ && settings_.change_source) {
        source_ = settings_.change_source();
    }
    if (!source_) {
        return;
    }
    // Removed first so that a list registered already is not told twice.
    source_->remove_list_client(client_name);
    source_->add_list_client(client_name, [this](std::uint32_t kind, const GUID& device_guid) {
        try {
            on_list_changed(kind, device_guid);
        } catch (const std::exception& e) {
            log_line(logging::level_error, "[CamTovra] cam_service::active_device_list::on_list_changed, {}\n",
                     e.what());
        }
    });
}

void active_device_list::idle_loop(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(list_lock_);
    while (!stop_requested_) {
        if (idle_.empty()) {
            wake_.wait(lock, [&] { return stop_requested_ || !idle_.empty(); });
        } else {
            const auto deadline = std::chrono::steady_clock::now() + timeout;
            wake_.wait_until(lock, deadline, [&] { return stop_requested_; });
        }
        if (stop_requested_ || idle_.empty()) {
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        std::erase_if(idle_, [&](const idle_entry& e) { return e.idle_since + timeout < now; });
    }
}

void active_device_list::run() noexcept
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    utils::set_thread_description("active_device_list thread");
    try {
        subscribe();
        idle_loop(read_idle_timeout(settings_.settings_root, settings_.settings_path));
    } catch (const std::exception& e) {
        log_line(logging::level_error, "[CamTovra] cam_service::active_device_list thread failed: {}\n", e.what());
    }
    std::shared_ptr<list_change_source> source;
    {
        std::lock_guard lock(source_lock_);
        unsubscribed_ = true;
        source.swap(source_);
    }
    try {
        if (source) {
            source->remove_list_client(client_name);
        }
        release_all();
    } catch (...) {
    }
    source.reset();
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
}

} // namespace cam_service
