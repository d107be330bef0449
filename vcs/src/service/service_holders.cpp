#include "service/service_holders.h"

namespace service {
std::atomic<std::shared_ptr<discover_service>>& discover_service_instance()
{
    static std::atomic<std::shared_ptr<discover_service>> holder;
    return holder;
}
} // namespace service
