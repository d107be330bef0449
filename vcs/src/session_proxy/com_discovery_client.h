#pragma once
// The discovery object of the running service, reached over COM.

#include "session_proxy/discovery_client.h"

namespace session_proxy {

// CoCreateInstance of the service's discovery class (in-process, local and
// remote server together); null when the service is not there.
discovery_connector com_discovery_connector();

} // namespace session_proxy
