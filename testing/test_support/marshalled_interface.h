#pragma once
// Helper programs receive the test process's object as the hexadecimal text
// of its marshalling data on their command line (service_host.h writes it);
// these turn it back into an interface pointer of this process.
#include <windows.h>
#include <objbase.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "com_transport.h"

namespace test_support {

// Exit codes of the client programs whose first step (unmarshalling the
// service, the first query on the device it hands out) failed with an answer
// that is not COM's transport's: such a client is not started again.
inline constexpr int unmarshal_refused_exit = 60;
inline constexpr int first_query_refused_exit = 61;

// Pairs of hexadecimal digits as bytes; a trailing odd digit is ignored.
inline std::vector<unsigned char> from_hex(const wchar_t* text)
{
    std::vector<unsigned char> bytes;
    const std::size_t length = std::wcslen(text);
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        const wchar_t pair[3] = {text[i], text[i + 1], 0};
        bytes.push_back(static_cast<unsigned char>(std::wcstoul(pair, nullptr, 16)));
    }
    return bytes;
}

// CoUnmarshalInterface of `data` as `iid`; the HRESULT of the first step that failed.
inline HRESULT unmarshal_interface(const std::vector<unsigned char>& data, REFIID iid, void** object)
{
    *object = nullptr;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, data.size());
    if (memory == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(GlobalLock(memory), data.data(), data.size());
    GlobalUnlock(memory);
    IStream* stream = nullptr;
    if (const HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, &stream); FAILED(hr)) {
        GlobalFree(memory);
        return hr;
    }
    const HRESULT hr = CoUnmarshalInterface(stream, iid, object);
    stream->Release();
    return hr;
}

// The interface unmarshalled from the test's table-marshalled data, or null.
// Unmarshalling is the client's first cross-process step: while COM's
// transport fails it, it is tried again (bounded, each failure printed with
// its HRESULT, com_transport.h).
template <class Interface>
Interface* unmarshal(const std::vector<unsigned char>& data, REFIID iid, const char* what)
{
    void* object = nullptr;
    const HRESULT hr = retry_transport(what, transport_step::unmarshal, &iid, [&] {
        return unmarshal_interface(data, iid, &object);
    });
    return SUCCEEDED(hr) ? static_cast<Interface*>(object) : nullptr;
}

// The first QueryInterface through a new proxy, tried again while COM's
// transport fails it (see com_transport.h). A client exits with its
// "transport" code only when exit_code_for says the last failure was that.
template <class Interface>
HRESULT first_query(IUnknown* object, REFIID iid, Interface** out, const char* what)
{
    return retry_transport(what, transport_step::first_call, &iid, [&] {
        *out = nullptr;
        return object->QueryInterface(iid, reinterpret_cast<void**>(out));
    });
}

} // namespace test_support
