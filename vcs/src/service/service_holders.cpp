#include "service/service_holders.h"

namespace service {
instance_holder<discover_service>& discover_service_instance()
{
    static instance_holder<discover_service> holder;
    return holder;
}
} // namespace service

namespace cam_service {
instance_holder<active_device_list>& active_device_list_instance()
{
    static instance_holder<active_device_list> holder;
    return holder;
}
} // namespace cam_service
