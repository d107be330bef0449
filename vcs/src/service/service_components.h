#pragma once
// What the service module does to the objects in the two process-wide
// holders (the discover service and the active-device list) at start-up,
// pause, continue, stop, shutdown and session logon. The module calls these
// in its own order; each one leaves the holders consistent when it fails.

#include <windows.h>

#include <memory>

#include "properties/property_store.h"
#include "service/discover_service.h"

namespace service::components {

// Makes the camera layer's device factory (one reference for the caller).
using factory_maker = cam_service::device_factory_base* (*)();

// Names the factory the next start-up hands the discover service. The service
// executable names its camera layer's before it runs; without one the
// discover service finds no camera.
void set_factory_maker(factory_maker maker);

// Start-up: creates the discover service and stores it, creates the
// active-device list and stores it, then starts the discover service.
void create();
// The same start-up with the discover service's settings given, its
// factories among them (the factory maker is not asked).
void create(discover_service::options options);

// Stop and shutdown: stops the discover service and empties its holder, then
// empties the device-list holder. Each object goes with its last user.
// Pause and stop run every step even when the discover service's stop throws,
// then raise its error.
void stop();

// Pause: stops the discover service (it stays in its holder) and pauses the
// device list, which releases every open camera.
void pause();

// Continue: finishes a stop that a failed pause left undone, lets the list
// open cameras (it subscribes to the discover service's notifier again) and
// starts the discover service again.
void resume();

// A user logged on in `session_id`: starts the session proxy there while the
// discover service exists.
void on_session_logon(DWORD session_id);

// The service-wide property store of the discover service; empty while there
// is no discover service.
std::shared_ptr<utils::property_store_itf> service_defaults();

} // namespace service::components
