#pragma once
// Who may open the frame channel's named objects: the local system, the
// Administrators and the user of the client the channel serves, nobody else.
// The client's user is read from its token while the service impersonates it
// inside the COM call that creates the channel; a process id that a client
// reports about itself names no one reliably.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace win32 {

// A SID copied out of a token; empty when none could be read.
class account_sid {
public:
    account_sid() = default;
    // Copies a valid SID; an invalid one leaves this empty.
    explicit account_sid(PSID sid);

    bool empty() const noexcept { return bytes_.empty(); }
    PSID get() const noexcept { return empty() ? nullptr : const_cast<std::uint8_t*>(bytes_.data()); }
    // The text form; empty for an empty SID.
    std::wstring to_string() const;

private:
    std::vector<std::uint8_t> bytes_;
};

// The user this process runs as.
account_sid process_user();

// The user of the COM client whose call this thread is serving. Outside a COM
// call (an in-process caller), or when the client's token cannot be read (an
// anonymous client), the user of this process: the channel then stays closed
// to everyone but the service's own account and the administrators.
account_sid calling_client_user();

// SECURITY_ATTRIBUTES that own their descriptor; not inheritable.
struct channel_security {
    SECURITY_ATTRIBUTES attributes{};
    std::shared_ptr<void> descriptor;

    SECURITY_ATTRIBUTES* get() noexcept { return &attributes; }
};

// A protected DACL granting generic-all to SYSTEM, the Administrators and
// `client` (left out when empty). Throws std::system_error "Failed to create
// channel DACL" when the descriptor cannot be made.
channel_security make_channel_security(const account_sid& client);

} // namespace win32
