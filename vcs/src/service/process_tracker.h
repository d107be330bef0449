#pragma once
// Watches one client process through a thread-pool wait. When the process
// ends, the exit actions that the client's objects registered run once, so
// that a client that crashed or was killed lets go of its cameras at once.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "gen_utils/win32_utils.h"

namespace service {

class process_tracker {
public:
    using exit_action = std::function<void()>;

    // Opens the process (SYNCHRONIZE only) and starts watching it. Throws
    // std::runtime_error when the process cannot be opened or watched.
    static std::shared_ptr<process_tracker> create(std::uint32_t process_id);

    ~process_tracker();
    process_tracker(const process_tracker&) = delete;
    process_tracker& operator=(const process_tracker&) = delete;

    // Stores `action` under `key` (replacing an action stored under the same
    // key). False, and the action dropped, once the process has exited.
    bool add_exit_action(const void* key, exit_action action);
    void remove_exit_action(const void* key);

    bool exited() const;
    std::uint32_t process_id() const noexcept { return process_id_; }

private:
    process_tracker(win32::unique_handle process, std::uint32_t process_id);
    static void CALLBACK on_process_exit(void* context, BOOLEAN timed_out) noexcept;
    void run_exit_actions() noexcept;

    win32::unique_handle process_;
    HANDLE wait_ = nullptr;
    std::map<const void*, exit_action> actions_;
    mutable std::mutex mutex_;
    std::uint32_t process_id_;
    bool exited_ = false;
    // The thread-pool thread running the exit actions, while it runs them.
    std::atomic<DWORD> callback_thread_{0};
};

// One tracker per client process, kept until a later lookup finds its
// process exited.
class process_tracker_map {
public:
    // The tracker of `process_id` (made on first request; a process that
    // cannot be watched throws std::runtime_error), or null for id 0.
    std::shared_ptr<process_tracker> tracker_for(std::uint32_t process_id);
    std::size_t size() const;

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, std::shared_ptr<process_tracker>> trackers_;
};

} // namespace service
