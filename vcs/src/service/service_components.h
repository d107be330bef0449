#pragma once
// What the service module does to the objects in the two process-wide
// holders (the discover service and the active-device list) at start-up,
// pause, continue, stop, shutdown and session logon. The module calls these
// in its own order; each one leaves the holders consistent when it fails.

#include <windows.h>

#include <memory>

#include "properties/property_store.h"

namespace cam_service {
class device_factory_base;
}

namespace service::components {

// Makes the camera layer's device factory (one reference for the caller).
using factory_maker = cam_service::device_factory_base* (*)();

// Names the factory the next start-up hands the discover service. The service
// executable names its camera layer's before it runs; without one the
// discover service finds no camera.
void set_factory_maker(factory_maker maker);

// Start-up: creates the discover service, stores and starts it, then creates
// the active-device list and stores it.
void create();

// Stop and shutdown: stops the discover service and empties its holder, then
// empties the device-list holder. Each object goes with its last user.
void stop();

// Pause: stops the discover service (it stays in its holder) and pauses the
// device list, which releases every open camera.
void pause();

// Continue: starts the discover service again and lets the list open cameras.
void resume();

// A user logged on in `session_id`: starts the session proxy there while the
// discover service exists.
void on_session_logon(DWORD session_id);

// The service-wide property store of the discover service; empty while there
// is no discover service.
std::shared_ptr<utils::property_store_itf> service_defaults();

} // namespace service::components
