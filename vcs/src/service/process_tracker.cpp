#include "service/process_tracker.h"

#include <exception>
#include <stdexcept>
#include <utility>

#include "gen_utils/log.h"

namespace service {

std::shared_ptr<process_tracker> process_tracker::create(std::uint32_t process_id)
{
    win32::unique_handle process(OpenProcess(SYNCHRONIZE, FALSE, process_id));
    if (!process) {
        log_line(logging::level_error,
                 "[RUzozAduroz_Odizaro] Failed to create process tracker object for process id={} due to access "
                 "violation.\n",
                 process_id);
        throw std::runtime_error("Failed to open process handle current process id.");
    }
    std::shared_ptr<process_tracker> tracker(new process_tracker(std::move(process), process_id));
    if (!RegisterWaitForSingleObject(&tracker->wait_, tracker->process_.get(), &process_tracker::on_process_exit,
                                     tracker.get(), INFINITE, WT_EXECUTEONLYONCE)) {
        tracker->wait_ = nullptr;
        log_line(logging::level_error,
                 "[RUzozAduroz_Odizaro] Failed to create process tracker object for process id={} due to "
                 "RegisterWaitForSingleObject failing.\n",
                 process_id);
        throw std::runtime_error("Failed to register wait for process tracker.");
    }
    return tracker;
}

process_tracker::process_tracker(win32::unique_handle process, std::uint32_t process_id)
    : process_(std::move(process)), process_id_(process_id)
{
}

process_tracker::~process_tracker()
{
    if (wait_ != nullptr) {
        // Waiting for a running callback from inside that callback (an exit
        // action dropped the last reference) would never return.
        const bool on_callback_thread = callback_thread_.load() == GetCurrentThreadId();
        if (!UnregisterWaitEx(wait_, on_callback_thread ? nullptr : INVALID_HANDLE_VALUE) &&
            !(on_callback_thread && GetLastError() == ERROR_IO_PENDING)) {
            log_line(logging::level_error,
                     "[RUzozAduroz_Odizaro] Failed to close process tracker obj wait handle list.\n");
        }
    }
}

bool process_tracker::add_exit_action(const void* key, exit_action action)
{
    std::lock_guard lock(mutex_);
    if (exited_) {
        return false;
    }
    actions_[key] = std::move(action);
    return true;
}

void process_tracker::remove_exit_action(const void* key)
{
    std::lock_guard lock(mutex_);
    actions_.erase(key);
}

bool process_tracker::exited() const
{
    std::lock_guard lock(mutex_);
    return exited_;
}

void CALLBACK process_tracker::on_process_exit(void* context, BOOLEAN) noexcept
{
    static_cast<process_tracker*>(context)->run_exit_actions();
}

void process_tracker::run_exit_actions() noexcept
{
    callback_thread_.store(GetCurrentThreadId());
    // An action may drop the last reference to this tracker: after the actions
    // have started, only locals are touched.
    const std::uint32_t process_id = process_id_;
    std::map<const void*, exit_action> taken;
    {
        std::lock_guard lock(mutex_);
        exited_ = true;
        taken.swap(actions_);
    }
    if (!taken.empty()) {
        log_line(logging::level_error, "[RUzozAduroz_Odizaro] Process={} exited unexpectedly, calling {} CBs.\n",
                 process_id, taken.size());
    }
    // An action that fails must not take the thread pool down, nor stop the
    // actions after it.
    for (auto& [key, action] : taken) {
        try {
            if (action) {
                action();
            }
        } catch (const std::exception& e) {
            log_line(logging::level_error, "[RUzozAduroz_Odizaro] Exit action for process={} failed: {}\n",
                     process_id, e.what());
        } catch (...) {
            log_line(logging::level_error, "[RUzozAduroz_Odizaro] Exit action for process={} failed.\n",
                     process_id);
        }
    }
}

std::shared_ptr<process_tracker> process_tracker_map::tracker_for(std::uint32_t process_id)
{
    if (process_id == 0) {
        return nullptr;
    }
    std::lock_guard lock(mutex_);
    std::erase_if(trackers_, [](const auto& entry) { return entry.second->exited(); });
    auto& tracker = trackers_[process_id];
    if (!tracker) {
        try {
            tracker = process_tracker::create(process_id);
        } catch (...) {
            trackers_.erase(process_id);
            throw;
        }
    }
    return tracker;
}

std::size_t process_tracker_map::size() const
{
    std::lock_guard lock(mutex_);
    return trackers_.size();
}

} // namespace service
