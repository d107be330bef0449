#pragma once
// Telling a failure of Wine's out-of-process COM transport from a failure of
// the code under test, and retrying only the step that the transport failed.
//
// Under full parallel test load Wine now and then fails an activation right
// after the server was registered or started, the unmarshalling of an object
// of a freshly started process, or the first call through a new proxy; the
// same steps pass alone hundreds of times. Such a step is tried again a few
// times at the spot where it failed, never the whole test, and only on
// evidence that the transport failed it: an RPC status or an RPC-facility
// HRESULT. These steps wrap calls of the product (CreateDevice,
// CreateStreamChannel, ...), which answers E_FAIL for faults of its own:
// without such evidence the answer is the product's and is returned at once.
// E_FAIL or E_NOINTERFACE while this process's COM resolves the interface to
// another proxy/stub than the registry's 64-bit view holds is no moment of
// the transport either: the keys were written by someone while the test ran
// (proxy_stub_registration.h). It is printed and fails the step.
//
// Every retry taken prints one line containing "transport retry" (the test
// command counts them); each process has a budget of retries, and a failure
// met once it is spent is returned, saying so.

#include <windows.h>
#include <objbase.h>

#include <atomic>
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

inline std::string proxy_stub_mismatch(REFIID iid);

constexpr HRESULT from_win32(DWORD code)
{
    return static_cast<HRESULT>((code & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

// True when `hr`, answered in `step`, comes from COM's transport rather than
// from the object that was called. `iid` is the interface whose proxy/stub
// the step needs (the new object's, or the proxy's for a first call), or null
// when it needs none of the product's.
inline bool is_transport_failure(HRESULT hr, transport_step step, const IID* iid = nullptr)
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
    // COM's own answers to an activation it could not carry out.
    if (step == transport_step::activation &&
        (hr == CO_E_SERVER_EXEC_FAILURE || hr == REGDB_E_CLASSNOTREG || hr == CO_E_SERVER_STOPPING)) {
        return true;
    }
    // Without the interface's proxy/stub this process's COM answers E_NOINTERFACE
    // (a query), REGDB_E_IIDNOTREG or E_FAIL (unmarshalling; the type-library
    // marshaller that a registration switch leaves fails so too). Said, since
    // it names a write to the registration rather than a fault of the object,
    // but not tried again.
    if ((hr == E_FAIL || hr == E_NOINTERFACE || hr == REGDB_E_IIDNOTREG) && iid != nullptr) {
        if (const std::string mismatch = proxy_stub_mismatch(*iid); !mismatch.empty()) {
            std::fprintf(stderr, "0x%08lX in the %s, not COM's transport: the registration was changed: %s\n",
                         static_cast<unsigned long>(hr), step_name(step), mismatch.c_str());
            std::fflush(stderr);
        }
    }
    return false;
}

// Attempts of one transport step, the first included.
inline constexpr int transport_attempts = 4;
// Retries of COM's transport that one process (one test, one client program)
// may take in all, those of the host's marshalling and client restarts
// included: more means the transport is not failing now and then but lasting,
// or a fault is being retried.
inline constexpr int transport_retry_budget = 16;

namespace detail {
// This process's retries and the class of the last failure returned; atomic,
// as a test's threads may retry at once.
inline std::atomic<int> retries_taken{0};
inline std::atomic<bool> last_failure_transport{false};
} // namespace detail

// Takes one retry of the budget; false (and says so) once it is spent.
inline bool take_transport_retry(const char* what)
{
    if (detail::retries_taken.fetch_add(1) < transport_retry_budget) {
        return true;
    }
    std::fprintf(stderr,
                 "%s: not tried again: this process already took the %d retries of COM's transport it may take\n",
                 what, transport_retry_budget);
    std::fflush(stderr);
    return false;
}

// Whether the last failure that retry_transport returned was COM's transport
// (within the budget); a client program's "transport" exit code stands on it.
inline bool last_failure_was_transport()
{
    return detail::last_failure_transport.load();
}
// `transport_code` when the last failure returned was COM's transport,
// otherwise `product_code`.
inline int exit_code_for(int transport_code, int product_code)
{
    return last_failure_was_transport() ? transport_code : product_code;
}

// Runs `call` (returning an HRESULT) and runs it again, at most
// `transport_attempts` times in all, while it fails in the transport (see
// is_transport_failure for `iid`) and the budget lasts. Each retry prints one
// line with `what`, the HRESULT and the step; a failure not retried is printed
// without the words of a retry. Between two attempts a short, growing pause:
// there is no state to wait for, only load to let pass. Returns the last
// answer.
template <class Call>
HRESULT retry_transport(const char* what, transport_step step, const IID* iid, Call&& call)
{
    HRESULT hr = E_FAIL;
    for (int attempt = 1;; ++attempt) {
        hr = std::forward<Call>(call)();
        if (SUCCEEDED(hr)) {
            return hr;
        }
        const bool transport = is_transport_failure(hr, step, iid);
        if (transport && attempt < transport_attempts && take_transport_retry(what)) {
            std::fprintf(stderr, "%s: transport retry %d of %d after 0x%08lX (%s)\n", what, attempt,
                         transport_attempts - 1, static_cast<unsigned long>(hr), step_name(step));
            std::fflush(stderr);
            Sleep(static_cast<DWORD>(100 * attempt));
            continue;
        }
        const bool within_budget = transport && detail::retries_taken.load() <= transport_retry_budget;
        detail::last_failure_transport = within_budget;
        if (transport) {
            std::fprintf(stderr, "%s failed: 0x%08lX, COM's transport in the %s (attempt %d of %d, not tried again)\n",
                         what, static_cast<unsigned long>(hr), step_name(step), attempt, transport_attempts);
        } else {
            std::fprintf(stderr, "%s failed: 0x%08lX (attempt %d, the answer of the object)\n", what,
                         static_cast<unsigned long>(hr), attempt);
        }
        std::fflush(stderr);
        return hr;
    }
}

// A step that needs no proxy/stub of the product's: retried on RPC evidence only.
template <class Call>
HRESULT retry_transport(const char* what, transport_step step, Call&& call)
{
    return retry_transport(what, step, nullptr, std::forward<Call>(call));
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
