#pragma once
// Raw register access through a camera's GenCP port as a property: the
// request's instance carries the 64-bit register address, the value buffer
// the bytes read or written. The camera registers it in PROPSETID_UVC_DRIVER
// as property 35.

#include "device_impl/device_impl_tools/propset/property_req_entry_itf.h"
#include "device_impl/u3v/gencp_port.h"

namespace u3v_com {

class u3v_gen_prop final : public cam::property_req_entry_itf {
public:
    static constexpr std::uint32_t property_id = 35;
    // The port must outlive the handler.
    explicit u3v_gen_prop(gencp_port& port) : port_(port) {}

    // Reads as many bytes as the value buffer holds; bytes_returned is what
    // the device delivered, which may be fewer.
    std::error_code get_request(KsPropDataRequest& request) override;
    std::error_code set_request(KsPropDataRequest& request) override;

private:
    // The register address of the request's instance, or E_INVALIDARG.
    std::error_code address_of(const KsPropDataRequest& request, std::uint64_t& address) const;

    gencp_port& port_;
};

} // namespace u3v_com
