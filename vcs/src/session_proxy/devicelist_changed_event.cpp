#include "session_proxy/devicelist_changed_event.h"

#include <cstring>
#include <stdexcept>

#include "service/session_mailslot.h"

namespace session_proxy {

namespace {
constexpr int max_failed_reads = 3;

void debug_line(const wchar_t* text)
{
    OutputDebugStringW(text);
}
} // namespace

std::shared_ptr<devicelist_changed_event> devicelist_changed_event::create(std::wstring mailslot_name,
                                                                           handler on_message,
                                                                           discovery_connector connect,
                                                                           failure_handler on_failure)
{
    if (mailslot_name.empty()) {
        throw std::runtime_error("No mail slot name");
    }
    const std::unique_ptr<discovery_client> discovery = connect ? connect() : nullptr;
    if (!discovery) {
        throw std::runtime_error("Failed to create the discovery object");
    }
    std::shared_ptr<devicelist_changed_event> listener(new devicelist_changed_event(
        std::move(mailslot_name), std::move(on_message), std::move(connect), std::move(on_failure)));
    // A failure below destroys the listener, which takes back what was made.
    listener->start(*discovery);
    return listener;
}

devicelist_changed_event::devicelist_changed_event(std::wstring name, handler on_message,
                                                   discovery_connector connect, failure_handler on_failure)
    : name_(std::move(name)), on_message_(std::move(on_message)), connect_(std::move(connect)),
      on_failure_(std::move(on_failure))
{
}

void devicelist_changed_event::start(discovery_client& discovery)
{
    // Writers cannot send more than one read takes, so no message can be
    // too large for the buffer and block the reads that follow it.
    HANDLE mailslot = CreateMailslotW(name_.c_str(), read_buffer_size, MAILSLOT_WAIT_FOREVER, nullptr);
    if (mailslot == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("Failed to create mail slot");
    }
    mailslot_.reset(mailslot);
    if (FAILED(discovery.register_event_mailslot(GetCurrentProcessId(), name_))) {
        mailslot_.reset();
        throw std::runtime_error("Failed to register mail slot");
    }
    registered_ = true;
    event_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!event_) {
        throw std::runtime_error("Failed to create unnamed event");
    }
    wait_ = std::make_unique<win32::threading::register_wait_handle>(
        event_.get(), [this](bool) { on_signal(); }, WT_EXECUTEDEFAULT | WT_EXECUTELONGFUNCTION);
    // The first read is issued by the wait callback too: where reads complete
    // synchronously, it must not hold up the caller.
    SetEvent(event_.get());
}

devicelist_changed_event::~devicelist_changed_event()
{
    bool outstanding = false;
    {
        const std::lock_guard lock(state_lock_);
        stopping_ = true;
        outstanding = read_outstanding_;
    }
    if (outstanding && !CancelIoEx(mailslot_.get(), &overlapped_)) {
        wake_blocked_read();
    }
    wait_.reset(); // waits for a running callback
    if (outstanding) {
        // The buffer and the overlapped record must outlive the read.
        DWORD size = 0;
        GetOverlappedResult(mailslot_.get(), &overlapped_, &size, TRUE);
    }
    if (registered_ && !quit_received_.load()) {
        // After the closing message the service has dropped the mailslot itself.
        try {
            if (const std::unique_ptr<discovery_client> discovery = connect_ ? connect_() : nullptr) {
                discovery->remove_event_mailslot(GetCurrentProcessId(), name_);
            }
        } catch (...) {
        }
    }
}

// A read that the system cannot cancel (Wine completes mailslot reads
// synchronously, inside the wait callback) ends with a message of our own,
// which the reader ignores: too short to be a list-changed message.
void devicelist_changed_event::wake_blocked_read() const
{
    HANDLE handle = CreateFileW(name_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return;
    }
    const win32::unique_handle writer(handle);
    const unsigned char wake = 0;
    DWORD written = 0;
    WriteFile(writer.get(), &wake, sizeof(wake), &written, nullptr);
}

void devicelist_changed_event::on_signal()
{
    bool outstanding = false;
    {
        const std::lock_guard lock(state_lock_);
        if (stopping_) {
            return;
        }
        outstanding = read_outstanding_;
    }
    if (outstanding) {
        DWORD size = 0;
        const BOOL done = GetOverlappedResult(mailslot_.get(), &overlapped_, &size, FALSE);
        if (!done && GetLastError() == ERROR_IO_INCOMPLETE) {
            return;
        }
        {
            const std::lock_guard lock(state_lock_);
            read_outstanding_ = false;
        }
        if (!done) {
            if (give_up_after_failure()) {
                return;
            }
        } else {
            failed_reads_ = 0;
            if (handle_message(size)) {
                return;
            }
        }
    }
    issue_read();
}

bool devicelist_changed_event::handle_message(DWORD size)
{
    const auto event = DShowDeviceService::parse_mailslot_event(buffer_, size);
    if (!event) {
        return false; // short or of another version: skipped
    }
    GUID device_guid{};
    static_assert(sizeof(device_guid) == sizeof(event->device_guid));
    std::memcpy(&device_guid, &event->device_guid, sizeof(device_guid));
    const std::wstring key = DShowDeviceService::to_wide(event->name);
    const bool closing = event->kind == DShowDeviceService::device_event::closing;
    if (closing) {
        quit_received_.store(true);
    }
    try {
        if (on_message_) {
            on_message_(device_guid, key, event->kind);
        }
    } catch (...) {
        debug_line(L"[CamTovra] session_proxy::devicelist_changed_event, the message handler failed.\n");
    }
    return closing;
}

void devicelist_changed_event::issue_read()
{
    {
        const std::lock_guard lock(state_lock_);
        if (stopping_) {
            return;
        }
        read_outstanding_ = true;
    }
    overlapped_ = OVERLAPPED{};
    overlapped_.hEvent = event_.get();
    if (ReadFile(mailslot_.get(), buffer_, read_buffer_size, nullptr, &overlapped_) ||
        GetLastError() == ERROR_IO_PENDING) {
        return; // the event is set when the read completes, now or later
    }
    {
        const std::lock_guard lock(state_lock_);
        read_outstanding_ = false;
    }
    if (!give_up_after_failure()) {
        SetEvent(event_.get()); // try again from the wait callback
    }
}

bool devicelist_changed_event::give_up_after_failure()
{
    if (++failed_reads_ < max_failed_reads) {
        return false;
    }
    debug_line(L"[CamTovra] session_proxy::devicelist_changed_event, the mail slot cannot be read.\n");
    if (on_failure_) {
        on_failure_();
    }
    return true;
}

} // namespace session_proxy
