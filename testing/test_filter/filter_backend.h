#pragma once
// What the test filter's interfaces forward to. The scripted backend answers
// from a script; a backend that forwards to a running service can take its
// place without changing the filter.

#include <windows.h>
#include <strmif.h>

namespace test_filter {

// The two DirectShow control interfaces share one shape.
enum class control_interface { video_proc_amp, camera_control };

class filter_backend {
public:
    virtual ~filter_backend() = default;
    virtual HRESULT ks_set(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data,
                           DWORD data_length) = 0;
    virtual HRESULT ks_get(REFGUID set, DWORD id, void* instance, DWORD instance_length, void* data, DWORD data_length,
                           DWORD* returned) = 0;
    virtual HRESULT ks_query_supported(REFGUID set, DWORD id, DWORD* support) = 0;
    virtual HRESULT control_range(control_interface which, LONG property, LONG* minimum, LONG* maximum, LONG* step,
                                  LONG* default_value, LONG* flags) = 0;
    virtual HRESULT control_get(control_interface which, LONG property, LONG* value, LONG* flags) = 0;
    virtual HRESULT control_set(control_interface which, LONG property, LONG value, LONG flags) = 0;
};

} // namespace test_filter
