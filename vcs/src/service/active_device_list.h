#pragma once
// The cameras that are open in the service. Opening a camera is expensive, so
// one whose last client handle has gone waits in an idle queue for the idle
// timeout ("idle_device_timeout", default 5000 ms) and is reused when a client
// opens it again in time; the "active_device_list thread" closes it later.
// The list hears of removed cameras as the notifier client "device_list".

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device_impl/device_impl_tools/cam_service_itf.h"
#include "service/active_device_handle.h"
#include "service/active_device_info.h"

namespace cam_service {

// Kinds of the list-changed message that the list reacts to.
inline constexpr std::uint32_t list_change_created = 1;
inline constexpr std::uint32_t list_change_removed = 2;

// Where the list registers itself to hear of arrivals and removals.
class list_change_source {
public:
    using callback = std::function<void(std::uint32_t kind, const GUID& device_guid)>;
    virtual ~list_change_source() = default;
    virtual void add_list_client(const std::wstring& name, callback on_change) = 0;
    virtual bool remove_list_client(const std::wstring& name) = 0;
};

class active_device_list : public std::enable_shared_from_this<active_device_list> {
public:
    struct options {
        // Key holding "idle_device_timeout".
        HKEY settings_root = HKEY_LOCAL_MACHINE;
        std::wstring settings_path = L"Software\\Corvane\\CamTovraService";
        // Gives the source to register with, or null; by default the
        // process-wide discover service.
        std::function<std::shared_ptr<list_change_source>()> change_source;
    };

    static constexpr const wchar_t* client_name = L"device_list";
    static constexpr std::chrono::milliseconds default_idle_timeout{5000};

    // Starts the worker thread (std::system_error when it cannot be made).
    static std::shared_ptr<active_device_list> create();
    static std::shared_ptr<active_device_list> create(options settings);
    ~active_device_list();
    active_device_list(const active_device_list&) = delete;
    active_device_list& operator=(const active_device_list&) = delete;

    // The client's handle on the camera: the live handle of an open camera, a
    // new handle on an idle or newly opened one. A live handle whose camera's
    // stream ended as a device error has told its own clients; a later client
    // gets a new handle on the same camera instead. Empty while paused, when the
    // camera cannot be opened, or when it was paused or reported removed
    // while it opened. The camera is created without the list lock; a second
    // open of the same camera meanwhile waits for the first. Errors of the
    // camera layer propagate.
    std::shared_ptr<active_device_handle> open_device(const GUID& device_id,
                                                      const std::shared_ptr<active_device_info>& info);
    // From a dying handle that still held `device`: the camera waits idle
    // once no handle on it is alive.
    void make_idle(const GUID& device_id, const active_device_base* device);
    // A list-changed message: a removed camera is dropped at once and every
    // handle on an open one invalidated; other kinds change nothing.
    void on_list_changed(std::uint32_t kind, const GUID& device_guid);
    // Invalidates every live handle and drops every camera.
    void release_all();
    // Pause releases everything and refuses to open; resume opens again and
    // registers the list with its change source once more.
    void pause();
    void resume();

    std::size_t active_count() const;
    std::size_t idle_count() const;

private:
    struct active_entry {
        GUID device_id;
        std::shared_ptr<active_device_base> device;
        std::weak_ptr<active_device_handle> handle;
        // Handles on `device` that were lost to a failed stream and replaced,
        // still held by the clients they told; a removal or pause invalidates
        // them too, so that the camera is closed before it can be opened anew.
        // Guarded by list_lock_, as the whole entry.
        std::vector<std::weak_ptr<active_device_handle>> lost_handles;
    };
    struct idle_entry {
        GUID device_id;
        std::shared_ptr<active_device_base> device;
        std::chrono::steady_clock::time_point idle_since;
    };

    // A camera being created by open_device, outside the list lock.
    struct opening {
        GUID device_id;
        std::uint64_t sequence;
        bool cancelled; // reported removed meanwhile: its open gives no handle
    };

    explicit active_device_list(options settings);
    // Under list_lock_: counted copies of the entry's handles still alive,
    // to be let go only after the lock is released.
    static std::vector<std::shared_ptr<active_device_handle>> live_handles(const active_entry& entry);
    // Under list_lock_: forgets the opening; true when it was cancelled.
    bool take_opening(std::uint64_t opening_id);
    // Takes list_lock_: forgets the opening and wakes its waiters.
    void end_opening(std::uint64_t opening_id);
    void run() noexcept;
    void idle_loop(std::chrono::milliseconds timeout);
    void subscribe();

    options settings_;
    std::vector<active_entry> active_; // guarded by list_lock_
    // Serialises pause and resume; never held while a camera opens.
    std::mutex open_lock_;
    std::vector<idle_entry> idle_; // guarded by list_lock_
    std::thread worker_;
    // Guards active_, idle_, opening_, opening_sequence_, stop_requested_,
    // paused_ and pauses_; never held while a camera is created.
    mutable std::mutex list_lock_;
    std::condition_variable wake_;
    // Signalled (with list_lock_) when an opening ends or the list pauses.
    std::condition_variable opened_;
    std::vector<opening> opening_;
    std::uint64_t opening_sequence_ = 0;
    bool stop_requested_ = false;
    bool paused_ = false;
    std::uint64_t pauses_ = 0; // pauses so far: an open that spans one keeps nothing
    std::mutex source_lock_;
    std::shared_ptr<list_change_source> source_;
    bool unsubscribed_ = false; // the worker has ended: never register again
};

// "idle_device_timeout" under the key: a REG_DWORD taken as signed
// milliseconds (a negative value counts as 0); 5000 ms when the key or a
// 4-byte REG_DWORD value is missing.
std::chrono::milliseconds read_idle_timeout(HKEY root, const std::wstring& path);

// The process-wide list, filled by the service module. Users copy the pointer
// out (load) first and do nothing when it is empty; it may be emptied at any time.
std::atomic<std::shared_ptr<active_device_list>>& active_device_list_instance();

} // namespace cam_service
