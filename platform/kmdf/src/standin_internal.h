#pragma once
// Objects behind the framework handles of the stand-in, shared by the
// framework calls (wdf.cpp) and the system side (host.cpp).

#include "kmdf_host.h"
#include "wdf.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kmdf::detail {

bool allocation_allowed();
NTSTATUS registry_open(std::wstring_view path, HANDLE* key);
void registry_close(HANDLE key);
NTSTATUS registry_query(HANDLE key, std::wstring_view name, ULONG* type, std::vector<std::uint8_t>* data);

enum class object_kind { driver, device, queue, request, file, memory, key };

struct object {
    explicit object(object_kind k) : kind(k) {}
    virtual ~object();
    object(const object&) = delete;
    object& operator=(const object&) = delete;

    static constexpr std::uint32_t live = 0x4f464457; // "WDFO"
    static constexpr std::uint32_t dead = 0x44414544; // "DEAD"
    std::uint32_t magic = live;
    object_kind kind;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP cleanup = nullptr;
    PFN_WDF_OBJECT_CONTEXT_DESTROY destroy = nullptr;

    struct context {
        PCWDF_OBJECT_CONTEXT_TYPE_INFO info;
        void* storage;
    };
    std::mutex context_lock;
    std::vector<context> contexts;

    // Takes the callbacks and the context type of `attributes` (may be null).
    NTSTATUS apply(PWDF_OBJECT_ATTRIBUTES attributes);
    // Allocates a zero-filled context of that type; *existing when present.
    NTSTATUS add_context(PCWDF_OBJECT_CONTEXT_TYPE_INFO info, void** storage);
    void* find_context(PCWDF_OBJECT_CONTEXT_TYPE_INFO info);
};

// The object behind a handle, checked: null (and a violation) when the handle
// is null, of another kind, or names an object already destroyed.
object* checked(WDFOBJECT handle, const char* where);
template <typename T>
T* checked_as(WDFOBJECT handle, object_kind kind, const char* where)
{
    object* o = checked(handle, where);
    if (o == nullptr) {
        return nullptr;
    }
    if (o->kind != kind) {
        report_violation(std::string(where) + ": handle of the wrong kind");
        return nullptr;
    }
    return static_cast<T*>(o);
}
// Runs the cleanup and destroy callbacks and retires the object. Retired
// objects stay readable for a while so that late calls on them are detected.
void destroy_object(object* o);

struct device_object;
struct queue_object;

struct driver_object : object {
    driver_object() : object(object_kind::driver) {}
    host::state* owner = nullptr;
    PDRIVER_OBJECT wdm = nullptr;
    WDF_DRIVER_CONFIG config{};
};

struct device_object : object {
    device_object() : object(object_kind::device) {}
    host::state* owner = nullptr;
    driver_object* driver = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    DEVICE_OBJECT fdo{};
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_FILEOBJECT_CONFIG file_config{};
    bool has_file_attributes = false;
    WDF_OBJECT_ATTRIBUTES file_attributes{};
    WDF_DEVICE_IO_TYPE io_type = WdfDeviceIoBuffered;
    std::wstring hardware_key;
    std::vector<GUID> interfaces;
    queue_object* queue = nullptr;
    bool prepared = false;
};

struct queue_object : object {
    queue_object() : object(object_kind::queue) {}
    device_object* device = nullptr;
    WDF_IO_QUEUE_CONFIG config{};
};

struct file_object : object {
    file_object() : object(object_kind::file) {}
    device_object* device = nullptr;
    std::wstring name;
    UNICODE_STRING name_string{};
    // Completion callbacks of the file's requests that have not returned yet;
    // whether a close began; and whether the close ended while callbacks still
    // ran, so that the last of them to return frees the file. All guarded by
    // the host state's lock.
    int callbacks_running = 0;
    bool closed = false;
    bool freed_by_last_callback = false;
};

struct request_object : object {
    request_object() : object(object_kind::request) {}
    ~request_object() override;
    host::state* owner = nullptr;
    file_object* file = nullptr;
    UCHAR major = 0;
    ULONG code = 0;
    ULONG method = METHOD_BUFFERED;
    ULONG input_length = 0;
    void* user_output = nullptr;
    ULONG output_length = 0;
    std::vector<std::uint8_t> system_buffer; // buffered: shared; direct: copy of the input
    PMDL output_mdl = nullptr;
    std::atomic<PFN_WDF_REQUEST_CANCEL> cancel_routine{nullptr};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> completed{false};
    ULONG_PTR information = 0;
    io_completion done;
    std::atomic<int> references{1};
    std::uint64_t ticket = 0;
};

struct memory_object : object {
    memory_object() : object(object_kind::memory) {}
    ~memory_object() override;
    void* buffer = nullptr;
    size_t size = 0;
};

struct key_object : object {
    key_object() : object(object_kind::key) {}
    ~key_object() override;
    HANDLE key = nullptr;
};

// Called by the framework calls when a request completes.
void request_finished(request_object* request, NTSTATUS status);

} // namespace kmdf::detail

struct WDFDEVICE_INIT {
    kmdf::host::state* owner = nullptr;
    kmdf::detail::driver_object* driver = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    std::wstring hardware_key;
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_DEVICE_IO_TYPE io_type = WdfDeviceIoBuffered;
    WDF_FILEOBJECT_CONFIG file_config{};
    bool has_file_attributes = false;
    WDF_OBJECT_ATTRIBUTES file_attributes{};
    kmdf::detail::device_object* created = nullptr;
};
