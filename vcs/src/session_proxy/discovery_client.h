#pragma once
// The service's discovery object as the session proxy uses it: registering
// and removing the session's mailslot.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

namespace session_proxy {

class discovery_client {
public:
    virtual ~discovery_client() = default;
    virtual HRESULT register_event_mailslot(DWORD process_id, const std::wstring& name) = 0;
    virtual HRESULT remove_event_mailslot(DWORD process_id, const std::wstring& name) = 0;
};

// Reaches the discovery object anew; null when the service cannot be reached.
using discovery_connector = std::function<std::unique_ptr<discovery_client>()>;

} // namespace session_proxy
