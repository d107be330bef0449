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

std::error_code u3v_gen_prop::get_request(KsPropDataRequest& request)
{
    std::uint64_t address = 0;
    if (const std::error_code ec = address_of(request, address)) {
        return ec;
    }
    if (request.value_size > max_request_size) {
        log_line(logging::level_error,
                 "[CamTovra] u3v_com::u3v_gen_prop::get_request, refused a raw read of {} bytes at 0x{:x} (the "
                 "limit is {}).\n",
                 request.value_size, address, max_request_size);
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
    if (request.value_size > max_request_size) {
        log_line(logging::level_error,
                 "[CamTovra] u3v_com::u3v_gen_prop::set_request, refused a raw write of {} bytes at 0x{:x} (the "
                 "limit is {}).\n",
                 request.value_size, address, max_request_size);
        return port_.protocol_error(hr::invalid_arg);
    }
    return port_.write_memory(address, request.value, request.value_size);
}

} // namespace u3v_com
