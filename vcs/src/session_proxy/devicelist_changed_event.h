#pragma once
// The session proxy's listener: owns the session's mailslot, registers it with
// the service, and reads one list-changed message at a time with an
// overlapped read whose completion a thread-pool wait picks up.
//
// Each completed read wakes the wait once (auto-reset event). The message is
// handled before the next read is issued, so a system whose mailslot reads
// complete synchronously (Wine) does not lag one message behind.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "gen_utils/win32_utils.h"
#include "session_proxy/discovery_client.h"
#include "session_proxy/register_wait_handle.h"

namespace session_proxy {

class devicelist_changed_event {
public:
    // Called on a thread-pool thread for every well-formed message; kind 256
    // (the service closes its notifier) is the last call.
    using handler = std::function<void(const GUID& device_guid, std::wstring_view key, std::uint32_t kind)>;
    // Called once when the mailslot can no longer be read.
    using failure_handler = std::function<void()>;

    static constexpr DWORD read_buffer_size = 500;

    // Creates the mailslot, registers it with the service and starts reading.
    // Throws std::runtime_error ("Failed to create mail slot", "Failed to
    // register mail slot", "Failed to create unnamed event", ...) and leaves
    // nothing behind.
    static std::shared_ptr<devicelist_changed_event> create(std::wstring mailslot_name, handler on_message,
                                                            discovery_connector connect,
                                                            failure_handler on_failure = nullptr);

    // Stops reading (a pending read is cancelled and waited for) and, unless
    // the service sent its closing message, removes the mailslot from the
    // service's list.
    ~devicelist_changed_event();
    devicelist_changed_event(const devicelist_changed_event&) = delete;
    devicelist_changed_event& operator=(const devicelist_changed_event&) = delete;

    bool quit_received() const noexcept { return quit_received_.load(); }
    const std::wstring& mailslot_name() const noexcept { return name_; }

private:
    devicelist_changed_event(std::wstring name, handler on_message, discovery_connector connect,
                             failure_handler on_failure);
    void start(discovery_client& discovery);
    void on_signal();
    void issue_read();
    // True when the message was the closing one: no read follows it.
    bool handle_message(DWORD size);
    // Counts a failed read; after a few in a row the listener gives up.
    bool give_up_after_failure();
    void wake_blocked_read() const;

    std::wstring name_;
    handler on_message_;
    discovery_connector connect_;
    failure_handler on_failure_;
    win32::unique_handle mailslot_;
    win32::unique_handle event_;
    OVERLAPPED overlapped_{};
    unsigned char buffer_[read_buffer_size]{};
    std::unique_ptr<win32::threading::register_wait_handle> wait_;

    std::mutex state_lock_; // read_outstanding_ against stopping_
    bool read_outstanding_ = false;
    bool stopping_ = false;
    bool registered_ = false;
    int failed_reads_ = 0; // in a row; only the wait callback touches it
    std::atomic<bool> quit_received_{false};
};

} // namespace session_proxy
