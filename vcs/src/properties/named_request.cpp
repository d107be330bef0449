#include "properties/named_request.h"

namespace drv_genicam {

named_request split_named_request(std::string_view text) noexcept
{
    std::string_view parts[3];
    for (std::string_view& part : parts) {
        const std::size_t slash = text.find('/');
        part = text.substr(0, slash);
        if (slash == std::string_view::npos) {
            break;
        }
        text.remove_prefix(slash + 1);
    }
    return {parts[0], parts[1], parts[2]};
}

} // namespace drv_genicam
