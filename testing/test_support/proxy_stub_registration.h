#pragma once
// Registering the service's proxy/stub library for tests whose client
// processes reach the service's objects through it.
//
// Under full parallel load Wine's registry now and then lacks an interface's
// registration in its 64-bit view after regsvr32 returned 0, or loses it later
// while the 32-bit view keeps the type-library marshaller: a client's
// unmarshalling then fails with E_FAIL. The registration is checked after each
// run and before a client is started again, and regsvr32 is run again,
// bounded, each miss printed.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "camtovra_service.h"
#include "child_process.h"
#include "com_transport.h"

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

// Runs regsvr32 on the proxy/stub library until the service's interfaces
// resolve to it, at most `start_attempts` times. Empty on success, otherwise
// what failed last.
inline std::string register_proxy_stub(std::string_view unix_dll_path)
{
    const std::wstring regsvr32 = L"C:\\windows\\system32\\regsvr32.exe";
    std::string failure;
    for (int attempt = 1; attempt <= start_attempts; ++attempt) {
        const child_process registration =
            start_program(regsvr32, L"/s \"" + windows_path(unix_dll_path) + L"\"");
        if (!registration) {
            return "regsvr32 could not be started";
        }
        if (const DWORD code = registration.wait(); code != 0) {
            return "regsvr32 exited with " + std::to_string(code);
        }
        failure = service_proxy_stub_mismatch();
        if (failure.empty()) {
            return {};
        }
        std::fprintf(stderr, "after regsvr32 (attempt %d of %d): %s\n", attempt, start_attempts, failure.c_str());
        std::fflush(stderr);
    }
    return failure;
}

// Before a client is started again: registers the library again when the
// registry has lost it. Empty when it is (again) in place.
inline std::string restore_proxy_stub(std::string_view unix_dll_path)
{
    const std::string missing = service_proxy_stub_mismatch();
    if (missing.empty()) {
        return {};
    }
    std::fprintf(stderr, "the proxy/stub registration was lost: %s; registering it again\n", missing.c_str());
    std::fflush(stderr);
    return register_proxy_stub(unix_dll_path);
}

} // namespace test_support
