#pragma once
// Registering the service's proxy/stub library for tests whose client
// processes reach the service's objects through it.
//
// The interface keys it writes are the prefix's one registration of the
// service, which the service executable's registration switches rewrite (the
// type library's registration points its interfaces at the type-library
// marshaller) or remove. Such writers and the clients that rely on the keys
// never run at once (registration_user.h); a registration that is not in
// place after regsvr32, or is lost while clients run, is therefore no moment
// of Wine's registry but a write of someone's, and fails the test with the
// last writer on record.

#include <windows.h>
#include <objbase.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "camtovra_service.h"
#include "child_process.h"
#include "com_transport.h"
#include "registration_user.h"

namespace test_support {

// What this process's COM resolves differently from the 64-bit view for the
// service's four interfaces; empty when all four resolve to the registered
// proxy/stub.
inline std::string service_proxy_stub_mismatch()
{
    std::string missing;
    for (const IID* iid : {&IID_ICamTovraDiscoverService, &IID_ICamTovraDeviceInfo, &IID_ICamTovraDevice,
                           &IID_ICamTovraStreamChannel}) {
        const std::string mismatch = proxy_stub_mismatch(*iid);
        if (!mismatch.empty()) {
            missing += (missing.empty() ? "" : "; ") + mismatch;
        }
    }
    return missing;
}

// Claims the service's registration for this process and runs regsvr32 on
// the proxy/stub library. Empty when the service's interfaces then resolve to
// it, otherwise what failed.
inline std::string register_proxy_stub(std::string_view unix_dll_path)
{
    if (const std::string busy = claim_service_registration(); !busy.empty()) {
        return busy;
    }
    const std::wstring dll = windows_path(unix_dll_path);
    record_registration_write(L"regsvr32 /s " + dll);
    const child_process registration = start_program(L"C:\\windows\\system32\\regsvr32.exe", L"/s \"" + dll + L"\"");
    if (!registration) {
        return "regsvr32 could not be started";
    }
    if (const DWORD code = registration.wait(); code != 0) {
        return "regsvr32 exited with " + std::to_string(code);
    }
    if (const std::string mismatch = service_proxy_stub_mismatch(); !mismatch.empty()) {
        return "after regsvr32: " + mismatch + "; last written by " + last_registration_writer();
    }
    return {};
}

// Empty while the registration that register_proxy_stub made is in place;
// otherwise what changed and who wrote the keys last. Nothing is registered
// again: the keys changed under the test's clients.
inline std::string proxy_stub_lost()
{
    const std::string mismatch = service_proxy_stub_mismatch();
    if (mismatch.empty()) {
        return {};
    }
    return "the proxy/stub registration changed while this test ran: " + mismatch + "; last written by " +
           last_registration_writer();
}

} // namespace test_support
