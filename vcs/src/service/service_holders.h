#pragma once
// The process-wide holders that the service module fills at start-up and
// empties on stop. Each is a function-local static made on first use; users
// copy the pointer out (load) and work only with their own counted copy.

#include <atomic>
#include <memory>

#include "service/active_device_list.h" // cam_service::active_device_list_instance

namespace service {
class discover_service;
std::atomic<std::shared_ptr<discover_service>>& discover_service_instance();
} // namespace service
