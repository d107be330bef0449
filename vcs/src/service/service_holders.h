#pragma once
// The two process-wide holders that the service module fills at start-up and
// empties on stop: the discover service and the active-device list. Each is a
// function-local static, made on first use.

#include "service/instance_holder.h"

namespace service {
class discover_service;
instance_holder<discover_service>& discover_service_instance();
} // namespace service

namespace cam_service {
class active_device_list;
instance_holder<active_device_list>& active_device_list_instance();
} // namespace cam_service
