#include "device_impl/u3v/u3v_gen_prop.h"

#include "device_impl/u3v/gencp_protocol.h"
#include "gen_utils/log.h"

#include <cstring>

namespace u3v_com {

std::error_code u3v_gen_prop::address_of(const KsPropDataRequest& request, std::uint64_t& address) const
{
    if (request.instance == nullptr || request.instance_size < sizeof address ||
        (request.value == nullptr && request.value_size != 0)) {
        return port_.protocol_error(hr::invalid_arg);
    }
    std::memcpy(&address, request.instance, sizeof address);
    return {};
}

namespace {
// True (and logged) when the request asks more than one raw access may move.
bool too_large(const KsPropDataRequest& request, std::uint64_t address, const char* what)
{
    if (request.value_size <= cam::max_raw_access_size) {
        return false;
    }
    log_line(logging::level_error, "[CamTovra] u3v_com::u3v_gen_prop::{} of {} bytes at 0x{:x} (the limit is {}).\n",
             what, request.value_size, address, cam::max_raw_access_size);
    return true;
}
} // namespace

std::error_code u3v_gen_prop::get_request(KsPropDataRequest& request)
{
    std::uint64_t address = 0;
    if (const std::error_code ec = address_of(request, address)) {
        return ec;
    }
    if (too_large(request, address, "get_request, refused a raw read")) {
        return port_.protocol_error(hr::invalid_arg);
    }
    std::uint64_t bytes_read = 0;
    if (const std::error_code ec = port_.read_memory(address, request.value, request.value_size, bytes_read)) {
        return ec;
    }
    request.bytes_returned = static_cast<std::uint32_t>(bytes_read);
    return {};
}

std::error_code u3v_gen_prop::set_request(KsPropDataRequest& request)
{
    std::uint64_t address = 0;
    if (const std::error_code ec = address_of(request, address)) {
        return ec;
    }
    if (too_large(request, address, "set_request, refused a raw write")) {
        return port_.protocol_error(hr::invalid_arg);
    }
    return port_.write_memory(address, request.value, request.value_size);
}

} // namespace u3v_com
