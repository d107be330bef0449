#pragma once
// The system side of the driver-framework stand-in: what the operating system
// does around a driver (loading it, adding and starting a device over its
// physical device object, power transitions and removal, and the I/O manager
// turning user-mode opens, reads and I/O controls into framework requests),
// plus the stand-in's diagnostics: the registry it serves, the device
// properties drivers set, debug-print capture and the faults it detected in a
// driver's use of the framework.

#include "wdf.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kmdf {

namespace detail {
struct file_object;
}

// ---------------------------------------------------------------- diagnostics
struct standin_counters {
    std::atomic<long> irps_allocated{0};
    std::atomic<long> irps_freed{0};
    std::atomic<long> irps_reused{0};
    std::atomic<long> work_items_run{0};
    std::atomic<long> requests_completed{0};
};
standin_counters& counters();

// Misuses of the framework or the kernel calls that the stand-in detected
// (a request completed twice, a call on a request after its completion, a
// wait at dispatch level, a mutex released by a thread that does not own it).
// Each is also written to the debug output.
std::vector<std::string> violations();
void clear_violations();
void report_violation(std::string text);

// Receives every DbgPrintEx line (component, level, formatted text). Null
// restores the default, which writes to the debugger output.
using debug_print_sink = std::function<void(ULONG component, ULONG level, const char* text)>;
void set_debug_print_sink(debug_print_sink sink);

// Pool allocations after the next `count` succeed fail (null); -1 never fails.
void fail_allocations_after(long count);

// The stand-in's registry, served to ZwOpenKey/ZwQueryValueKey and the
// framework's registry calls. Paths are kernel paths ("\Registry\Machine\...")
// compared without regard to case.
namespace registry {
void set_value(std::wstring_view path, std::wstring_view name, ULONG type, const void* data, ULONG size);
void set_dword(std::wstring_view path, std::wstring_view name, DWORD value);
void set_string(std::wstring_view path, std::wstring_view name, std::wstring_view text);
void delete_key(std::wstring_view path);
void clear();
} // namespace registry

// A device property that a driver set with IoSetDevicePropertyData; empty
// when none was set.
struct device_property {
    bool present = false;
    LCID lcid = 0;
    ULONG flags = 0;
    DEVPROPTYPE type = 0;
    std::vector<std::uint8_t> data;
};
device_property get_device_property(PDEVICE_OBJECT pdo, const DEVPROPKEY& key);
void clear_device_properties();
// Makes IoSetDevicePropertyData fail with `status` (0 to succeed again).
void fail_device_property_writes(NTSTATUS status);

// ---------------------------------------------------------------- host
// Outcome of a request as user mode sees it.
struct io_result {
    NTSTATUS status = STATUS_PENDING;
    ULONG_PTR information = 0;
};
using io_completion = std::function<void(NTSTATUS status, ULONG_PTR information)>;

class host {
public:
    explicit host(PDRIVER_INITIALIZE entry,
                  std::wstring registry_path = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\driver");
    // Removes every device, waits for every completion callback to return and
    // unloads the driver. Not to be called from a completion callback.
    ~host();
    host(const host&) = delete;
    host& operator=(const host&) = delete;

    // Runs the driver's entry point.
    NTSTATUS load();
    // Runs the driver object's cleanup. Devices must have been removed.
    void unload();

    // Device add and start: EvtDriverDeviceAdd over `pdo`, then hardware
    // preparation. `hardware_key` is the kernel path behind the device's
    // hardware registry key. On failure the device is torn down again and
    // `device` is null.
    NTSTATUS add_device(PDEVICE_OBJECT pdo, std::wstring hardware_key, WDFDEVICE* device);
    // Power transitions: self-managed I/O suspend and restart.
    void suspend(WDFDEVICE device);
    void restart(WDFDEVICE device);
    // Surprise removal: suspend, hardware release and flush; the device object
    // and its open files remain until remove_device.
    void surprise_remove(WDFDEVICE device);
    // Closes the device's remaining files, waits until every file of it is
    // freed (a file closed from inside its own completion callback is freed
    // when that callback returns), releases the hardware when still prepared
    // and destroys the device (its cleanup callback runs). Not to be called
    // from a completion callback of one of the device's files.
    void remove_device(WDFDEVICE device);
    std::vector<GUID> device_interfaces(WDFDEVICE device) const;

    // File create with the name that follows the interface path (empty for the
    // device itself). On failure `file` is null.
    NTSTATUS open(WDFDEVICE device, std::wstring_view file_name, WDFFILEOBJECT* file);
    // Cancels the file's outstanding requests, waits for their completion and
    // for their completion callbacks to return, then runs the driver's close
    // callback and frees the file object. It does not wait for a callback that
    // cannot return before it: one of the file's own callbacks below it in
    // this thread, or one in a thread that is itself closing a file whose
    // callback runs in this thread (directly or through further such closes).
    // The file object is then freed when the last of its callbacks returns.
    void close(WDFFILEOBJECT file);

    // Asynchronous requests. The completion runs in whatever thread completes
    // the request (perhaps before submit returns). The result is a ticket for
    // cancel; 0 when the request completed inside submit.
    std::uint64_t submit_ioctl(WDFFILEOBJECT file, ULONG code, const void* input, ULONG input_length, void* output,
                               ULONG output_length, io_completion done);
    std::uint64_t submit_read(WDFFILEOBJECT file, void* buffer, ULONG length, io_completion done);
    // Cancels a pending request; false when it has already completed.
    bool cancel(std::uint64_t ticket);
    // Cancels every pending request of the file.
    void cancel_file(WDFFILEOBJECT file);
    std::size_t pending_requests() const;

    // Synchronous forms: submit and wait for completion.
    io_result ioctl(WDFFILEOBJECT file, ULONG code, const void* input, ULONG input_length, void* output,
                    ULONG output_length);
    io_result read(WDFFILEOBJECT file, void* buffer, ULONG length);

    struct state;

private:
    // Closes `f` unless a close of it already began; false then.
    bool close_file(state& s, detail::file_object* f);

    std::unique_ptr<state> state_;
};

} // namespace kmdf
