#pragma once
// Tells every registered client that the camera list changed: mailslot clients
// get the 152-byte list-changed message by WriteFile, callback clients inside
// the service get it by reference. Clients stay in registration order.

#include <windows.h>

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "service/session_mailslot.h"

namespace service {

class list_changed_notifier {
public:
    using callback = std::function<void(const DShowDeviceService::mailslot_event&)>;
    // Writes one message into an open mailslot; false when the write failed.
    using mailslot_writer = std::function<bool(HANDLE mailslot, const void* data, DWORD size)>;

    // WriteFile, unless a test supplies its own writer.
    explicit list_changed_notifier(mailslot_writer write = write_file);
    // Sends the closing message to every client still registered.
    ~list_changed_notifier();
    list_changed_notifier(const list_changed_notifier&) = delete;
    list_changed_notifier& operator=(const list_changed_notifier&) = delete;

    // Appends a callback client. Callbacks run on the posting thread with the
    // notifier's mutex held: they must not register or remove clients.
    int add_client(std::wstring name, callback on_message);
    // Removes the first callback client of that exact name; false when there
    // is none. Mailslots of that name stay.
    bool remove_callback(std::wstring_view name);

    // Mailslot clients held at most, each with an open handle: a client that
    // registers again and again cannot make the service run out of handles.
    static constexpr std::size_t max_mailslots = 256;

    // Opens a mailslot for writing and appends it as a client. A name that is
    // registered already keeps its one place and gets the handle opened now
    // (its reader may have made the mailslot anew). E_INVALIDARG for a name
    // outside the local mailslot namespace (nothing is opened),
    // HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES) while `max_mailslots`
    // other names are registered, the HRESULT of the Win32 error when it
    // cannot be opened, S_OK otherwise. Removal, a failed write and close free
    // places again.
    HRESULT open_mailslot(std::wstring_view name);

    // Removes the mailslot client of that exact name; false when there is
    // none. Callback clients are never removed here: this is what clients of
    // the service reach, and a callback client is the service's own.
    bool remove_mailslot(std::wstring_view name);

    // Writes the message to every client in order. A mailslot whose write fails
    // is dropped, so a reader that went away is not tried again.
    void post(const DShowDeviceService::mailslot_event& message);

    // Posts the closing message, then drops every client.
    void close();

    // Names of the registered clients in list order.
    std::vector<std::wstring> client_names() const;

    static bool write_file(HANDLE mailslot, const void* data, DWORD size);

private:
    struct client {
        std::wstring name;
        std::shared_ptr<void> mailslot; // CloseHandle when the last holder lets go
        callback on_message;
    };

    // Under mutex_: the mailslot client of that name, or end.
    std::list<client>::iterator find_mailslot(std::wstring_view name);
    // Under mutex_: refuses (and logs) when no place is left.
    bool mailslot_place_left(std::wstring_view name) const;

    mailslot_writer write_;
    mutable std::mutex mutex_;
    std::list<client> clients_; // guarded by mutex_
};

} // namespace service
