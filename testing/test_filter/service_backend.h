#pragma once
// The test filter's backend in front of the running camera service, as a
// capture filter in an application has it: the camera is opened through the
// service's discover object (CreateDevice, for this process) and every
// request travels through the device handle. The DirectShow control
// interfaces travel as their standard property sets, in the 48-byte
// range-and-value record the service answers them with.

#include "test_filter/filter_backend.h"

#include "atl/com_ptr.h"
#include "camtovra_service.h"

#include <memory>
#include <string_view>

namespace test_filter {

class service_backend final : public filter_backend {
public:
    // Opens the camera whose unique key is `unique_key` (the first one listed
    // when empty) through `service`; the HRESULT of the step that failed.
    static HRESULT open(ICamTovraDiscoverService* service, std::string_view unique_key,
                        std::shared_ptr<service_backend>& backend);

    ICamTovraDevice* device() const noexcept { return device_.get(); }

    HRESULT ks_set(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                   DWORD data_length) override;
    HRESULT ks_get(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data, DWORD data_length,
                   DWORD* returned) override;
    HRESULT ks_query_supported(REFGUID set, DWORD id, DWORD* support) override;
    HRESULT control_range(control_interface which, LONG property, LONG* minimum, LONG* maximum, LONG* step,
                          LONG* default_value, LONG* flags) override;
    HRESULT control_get(control_interface which, LONG property, LONG* value, LONG* flags) override;
    HRESULT control_set(control_interface which, LONG property, LONG value, LONG flags) override;

private:
    explicit service_backend(atl::com_ptr<ICamTovraDevice> device) : device_(std::move(device)) {}
    // The standard record of `property`, read whole.
    HRESULT read_record(control_interface which, LONG property, unsigned char (&record)[48]);

    atl::com_ptr<ICamTovraDevice> device_;
};

} // namespace test_filter
