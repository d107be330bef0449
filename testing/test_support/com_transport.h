#pragma once
// Telling a failure of Wine's out-of-process COM transport from a failure of
// the code under test, and retrying only the step that the transport failed.
//
// Under full parallel test load Wine now and then fails an activation right
// after the server was registered or started, the unmarshalling of an object
// of a freshly started process, or the first call through a new proxy (there
// with E_FAIL too); the same steps pass alone hundreds of times. Such a step is
// tried again a few times at the spot where it failed, never the whole test,
// and every failed call is printed with its HRESULT. A failure with any other
// HRESULT, or in any other step, is the product's and is returned at once.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <string>
#include <utility>

namespace test_support {

enum class transport_step {
    // CoCreateInstance of a local server or service that was just registered
    // or started.
    activation,
    // CoUnmarshalInterface, or a call whose answer brings a new object of the
    // other process (which the answer unmarshals).
    unmarshal,
    // The first call through a new proxy.
    first_call,
    // Any later call: only answers that say the call never reached the other
    // process count.
    call,
};

inline const char* step_name(transport_step step)
{
    switch (step) {
    case transport_step::activation:
        return "activation";
    case transport_step::unmarshal:
        return "unmarshalling";
    case transport_step::first_call:
        return "first call";
    case transport_step::call:
        return "call";
    }
    return "?";
}

// True when `hr`, answered in `step`, comes from COM's transport rather than
// from the object that was called.
constexpr HRESULT from_win32(DWORD code)
{
    return static_cast<HRESULT>((code & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

inline bool is_transport_failure(HRESULT hr, transport_step step)
{
    if (SUCCEEDED(hr)) {
        return false;
    }
    // The call never reached the server.
    switch (hr) {
    case RPC_E_CALL_REJECTED:
    case RPC_E_SERVERCALL_RETRYLATER:
    case RPC_E_SERVER_DIED_DNE:
    case from_win32(RPC_S_SERVER_UNAVAILABLE):
    case from_win32(RPC_S_SERVER_TOO_BUSY):
    case from_win32(RPC_S_CALL_FAILED_DNE):
        return true;
    default:
        break;
    }
    if (step == transport_step::call) {
        return false;
    }
    // An exception the server raised (RPC_E_SERVERFAULT) is the product's.
    if (hr == RPC_E_SERVERFAULT) {
        return false;
    }
    const bool rpc_facility = HRESULT_FACILITY(hr) == FACILITY_RPC;
    const bool rpc_status = HRESULT_FACILITY(hr) == FACILITY_WIN32 && HRESULT_CODE(hr) >= RPC_S_INVALID_STRING_BINDING &&
                            HRESULT_CODE(hr) <= RPC_X_BAD_STUB_DATA;
    if (rpc_facility || rpc_status) {
        return true;
    }
    if (step == transport_step::activation) {
        return hr == CO_E_SERVER_EXEC_FAILURE || hr == REGDB_E_CLASSNOTREG || hr == CO_E_SERVER_STOPPING;
    }
    // A first QueryInterface through a new proxy is answered by this process's
    // COM when it cannot find the interface's proxy/stub: under load Wine's
    // registry now and then misses it for a moment (see
    // proxy_stub_registration.h). The objects under test implement every
    // interface the tests ask for, so a lasting E_NOINTERFACE still fails.
    if (step == transport_step::first_call && hr == E_NOINTERFACE) {
        return true;
    }
    return hr == E_FAIL;
}

// Attempts of one transport step, the first included.
inline constexpr int transport_attempts = 4;

// Runs `call` (returning an HRESULT) and runs it again, at most
// `transport_attempts` times in all, while it fails in the transport. Every
// failed attempt is printed to stderr with `what` and its HRESULT. Between two
// attempts a short, growing pause: there is no state to wait for, only load to
// let pass. Returns the last answer.
template <class Call>
HRESULT retry_transport(const char* what, transport_step step, Call&& call)
{
    HRESULT hr = E_FAIL;
    for (int attempt = 1;; ++attempt) {
        hr = std::forward<Call>(call)();
        if (SUCCEEDED(hr)) {
            return hr;
        }
        const bool transport = is_transport_failure(hr, step);
        if (transport) {
            std::fprintf(stderr, "%s failed: 0x%08lX, COM's transport in the %s (attempt %d of %d)\n", what,
                         static_cast<unsigned long>(hr), step_name(step), attempt, transport_attempts);
        } else {
            std::fprintf(stderr, "%s failed: 0x%08lX (attempt %d)\n", what, static_cast<unsigned long>(hr), attempt);
        }
        std::fflush(stderr);
        if (!transport || attempt == transport_attempts) {
            return hr;
        }
        Sleep(static_cast<DWORD>(100 * attempt));
    }
}

// Prints a failed call that is not retried; returns `hr`.
inline HRESULT report_failure(const char* what, HRESULT hr)
{
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: 0x%08lX\n", what, static_cast<unsigned long>(hr));
        std::fflush(stderr);
    }
    return hr;
}

// Wine's COM looks up an interface's proxy/stub in the registry's 64-bit view
// and, when it is not there, in the 32-bit view, where a type-library
// registration can have left the type-library marshaller (marshalling then
// fails with E_FAIL). Empty when this process's COM resolves the proxy/stub of
// `iid` to the class that the 64-bit view registers; otherwise what each says.
inline std::string proxy_stub_mismatch(REFIID iid)
{
    wchar_t iid_text[40] = {};
    StringFromGUID2(iid, iid_text, 40);
    const std::wstring path = std::wstring(L"Interface\\") + iid_text + L"\\ProxyStubClsid32";
    wchar_t registered[40] = {};
    DWORD size = sizeof(registered);
    const LSTATUS read = RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), nullptr, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY,
                                      nullptr, registered, &size);
    CLSID resolved{};
    const HRESULT hr = CoGetPSClsid(iid, &resolved);
    wchar_t resolved_text[40] = {};
    StringFromGUID2(resolved, resolved_text, 40);
    if (read == ERROR_SUCCESS && SUCCEEDED(hr) && _wcsicmp(registered, resolved_text) == 0) {
        return {};
    }
    char text[300];
    std::snprintf(text, sizeof(text),
                  "COM of this process resolves the proxy/stub of %ls to %ls (CoGetPSClsid 0x%08lX); the registry's "
                  "64-bit view holds %ls (error %ld)",
                  iid_text, resolved_text, static_cast<unsigned long>(hr), read == ERROR_SUCCESS ? registered : L"none",
                  static_cast<long>(read));
    return text;
}

} // namespace test_support
