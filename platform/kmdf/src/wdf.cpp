// Framework calls of the stand-in: objects and contexts, driver and device
// creation, queues, requests, file objects, memory and registry keys.

#include "standin_internal.h"

#include <cstring>
#include <deque>

namespace kmdf::detail {
namespace {
std::mutex g_graveyard_lock;
std::deque<object*> g_graveyard; // retired objects, freed oldest first
constexpr size_t graveyard_size = 512;
} // namespace

object::~object()
{
    for (auto& c : contexts) {
        free(c.storage);
    }
}

NTSTATUS object::apply(PWDF_OBJECT_ATTRIBUTES attributes)
{
    if (attributes == nullptr) {
        return STATUS_SUCCESS;
    }
    cleanup = attributes->EvtCleanupCallback;
    destroy = attributes->EvtDestroyCallback;
    if (attributes->ContextTypeInfo != nullptr) {
        void* storage = nullptr;
        const NTSTATUS status = add_context(attributes->ContextTypeInfo, &storage);
        if (!NT_SUCCESS(status)) {
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS object::add_context(PCWDF_OBJECT_CONTEXT_TYPE_INFO info, void** storage)
{
    std::lock_guard lock(context_lock);
    for (auto& c : contexts) {
        if (c.info->UniqueType == info->UniqueType) {
            *storage = c.storage;
            return STATUS_OBJECT_NAME_EXISTS;
        }
    }
    if (!allocation_allowed()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    void* created = calloc(1, info->ContextSize == 0 ? 1 : info->ContextSize);
    if (created == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    contexts.push_back({info, created});
    *storage = created;
    return STATUS_SUCCESS;
}

void* object::find_context(PCWDF_OBJECT_CONTEXT_TYPE_INFO info)
{
    std::lock_guard lock(context_lock);
    for (auto& c : contexts) {
        if (c.info->UniqueType == info->UniqueType) {
            return c.storage;
        }
    }
    return nullptr;
}

object* checked(WDFOBJECT handle, const char* where)
{
    if (handle == nullptr) {
        report_violation(std::string(where) + ": null handle");
        return nullptr;
    }
    auto* o = static_cast<object*>(handle);
    if (o->magic == object::dead) {
        report_violation(std::string(where) + ": handle of an object that was already destroyed");
        return nullptr;
    }
    if (o->magic != object::live) {
        report_violation(std::string(where) + ": not a framework handle");
        return nullptr;
    }
    return o;
}

void destroy_object(object* o)
{
    if (o == nullptr || o->magic != object::live) {
        return;
    }
    if (o->cleanup != nullptr) {
        o->cleanup(o);
    }
    if (o->destroy != nullptr) {
        o->destroy(o);
    }
    o->magic = object::dead;
    object* oldest = nullptr;
    {
        std::lock_guard lock(g_graveyard_lock);
        g_graveyard.push_back(o);
        if (g_graveyard.size() > graveyard_size) {
            oldest = g_graveyard.front();
            g_graveyard.pop_front();
        }
    }
    delete oldest;
}

request_object::~request_object()
{
    if (output_mdl != nullptr) {
        MmUnlockPages(output_mdl); // the I/O manager's lock on the caller's buffer
        IoFreeMdl(output_mdl);
    }
}

memory_object::~memory_object() { ExFreePool(buffer); }

key_object::~key_object()
{
    if (key != nullptr) {
        registry_close(key);
    }
}

} // namespace kmdf::detail

using namespace kmdf::detail;
using kmdf::report_violation;

// ---------------------------------------------------------------- objects

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT handle, PCWDF_OBJECT_CONTEXT_TYPE_INFO type_info)
{
    object* o = checked(handle, "WdfObjectGetTypedContext");
    return o == nullptr ? nullptr : o->find_context(type_info);
}

NTSTATUS WdfObjectAllocateContext(WDFOBJECT handle, PWDF_OBJECT_ATTRIBUTES attributes, PVOID* context)
{
    object* o = checked(handle, "WdfObjectAllocateContext");
    if (o == nullptr || attributes == nullptr || attributes->ContextTypeInfo == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return o->add_context(attributes->ContextTypeInfo, context);
}

VOID WdfObjectDelete(WDFOBJECT handle)
{
    object* o = checked(handle, "WdfObjectDelete");
    if (o == nullptr) {
        return;
    }
    if (o->kind != object_kind::memory && o->kind != object_kind::key) {
        report_violation("WdfObjectDelete on an object that the framework owns");
        return;
    }
    destroy_object(o);
}

// ---------------------------------------------------------------- driver

namespace kmdf::detail {
driver_object* driver_being_loaded(PDRIVER_OBJECT wdm);
}

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT driver_object, PCUNICODE_STRING, PWDF_OBJECT_ATTRIBUTES attributes,
                         PWDF_DRIVER_CONFIG config, WDFDRIVER* driver)
{
    kmdf::detail::driver_object* d = driver_being_loaded(driver_object);
    if (d == nullptr || config == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    d->config = *config;
    const NTSTATUS status = d->apply(attributes);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (driver != nullptr) {
        *driver = reinterpret_cast<WDFDRIVER>(static_cast<object*>(d));
    }
    return STATUS_SUCCESS;
}

PDRIVER_OBJECT WdfDriverWdmGetDriverObject(WDFDRIVER driver)
{
    auto* d = checked_as<kmdf::detail::driver_object>(driver, object_kind::driver, "WdfDriverWdmGetDriverObject");
    return d == nullptr ? nullptr : d->wdm;
}

// ---------------------------------------------------------------- device

VOID WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT init, PWDF_PNPPOWER_EVENT_CALLBACKS callbacks)
{
    init->pnp = *callbacks;
}

VOID WdfDeviceInitSetIoType(PWDFDEVICE_INIT init, WDF_DEVICE_IO_TYPE io_type) { init->io_type = io_type; }

VOID WdfDeviceInitSetFileObjectConfig(PWDFDEVICE_INIT init, PWDF_FILEOBJECT_CONFIG config,
                                      PWDF_OBJECT_ATTRIBUTES file_attributes)
{
    init->file_config = *config;
    init->has_file_attributes = file_attributes != nullptr;
    if (file_attributes != nullptr) {
        init->file_attributes = *file_attributes;
    }
}

NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* init, PWDF_OBJECT_ATTRIBUTES attributes, WDFDEVICE* device)
{
    if (init == nullptr || *init == nullptr || device == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!allocation_allowed()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PWDFDEVICE_INIT source = *init;
    auto* d = new device_object;
    d->owner = source->owner;
    d->driver = source->driver;
    d->pdo = source->pdo;
    d->pnp = source->pnp;
    d->file_config = source->file_config;
    d->has_file_attributes = source->has_file_attributes;
    d->file_attributes = source->file_attributes;
    d->io_type = source->io_type;
    d->hardware_key = source->hardware_key;
    d->fdo.DriverObject = source->driver->wdm;
    d->fdo.StackSize = static_cast<CCHAR>(source->pdo->StackSize + 1);
    const NTSTATUS status = d->apply(attributes);
    if (!NT_SUCCESS(status)) {
        d->cleanup = nullptr;
        delete d;
        return status;
    }
    source->created = d;
    *init = nullptr;
    *device = reinterpret_cast<WDFDEVICE>(static_cast<object*>(d));
    return STATUS_SUCCESS;
}

PDEVICE_OBJECT WdfDeviceWdmGetPhysicalDevice(WDFDEVICE device)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "WdfDeviceWdmGetPhysicalDevice");
    return d == nullptr ? nullptr : d->pdo;
}

PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(WDFDEVICE device)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "WdfDeviceWdmGetDeviceObject");
    return d == nullptr ? nullptr : &d->fdo;
}

NTSTATUS WdfDeviceCreateDeviceInterface(WDFDEVICE device, const GUID* interface_class, PCUNICODE_STRING)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "WdfDeviceCreateDeviceInterface");
    if (d == nullptr || interface_class == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!allocation_allowed()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    d->interfaces.push_back(*interface_class);
    return STATUS_SUCCESS;
}

NTSTATUS WdfDeviceOpenRegistryKey(WDFDEVICE device, ULONG key_type, ACCESS_MASK, PWDF_OBJECT_ATTRIBUTES,
                                  WDFKEY* key)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "WdfDeviceOpenRegistryKey");
    if (d == nullptr || key == nullptr || key_type != PLUGPLAY_REGKEY_DEVICE) {
        return STATUS_INVALID_PARAMETER;
    }
    HANDLE handle = nullptr;
    const NTSTATUS status = registry_open(d->hardware_key, &handle);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto* k = new key_object;
    k->key = handle;
    *key = reinterpret_cast<WDFKEY>(static_cast<object*>(k));
    return STATUS_SUCCESS;
}

NTSTATUS WdfRegistryQueryValue(WDFKEY key, PCUNICODE_STRING name, ULONG length, PVOID value, PULONG value_length,
                               PULONG type)
{
    auto* k = checked_as<key_object>(key, object_kind::key, "WdfRegistryQueryValue");
    if (k == nullptr || name == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG stored_type = 0;
    std::vector<std::uint8_t> data;
    const NTSTATUS status =
        registry_query(k->key, std::wstring_view(name->Buffer, name->Length / sizeof(WCHAR)), &stored_type, &data);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (value_length != nullptr) {
        *value_length = static_cast<ULONG>(data.size());
    }
    if (type != nullptr) {
        *type = stored_type;
    }
    if (data.size() > length) {
        return STATUS_BUFFER_OVERFLOW;
    }
    if (!data.empty()) {
        memcpy(value, data.data(), data.size());
    }
    return STATUS_SUCCESS;
}

VOID WdfRegistryClose(WDFKEY key)
{
    if (auto* k = checked_as<key_object>(key, object_kind::key, "WdfRegistryClose")) {
        destroy_object(k);
    }
}

// ---------------------------------------------------------------- memory

NTSTATUS WdfMemoryCreate(PWDF_OBJECT_ATTRIBUTES attributes, POOL_TYPE, ULONG pool_tag, size_t size,
                         WDFMEMORY* memory, PVOID* buffer)
{
    if (memory == nullptr || size == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    void* block = ExAllocatePoolWithTag(NonPagedPool, size, pool_tag);
    if (block == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto* m = new memory_object;
    m->buffer = block;
    m->size = size;
    m->apply(attributes);
    *memory = reinterpret_cast<WDFMEMORY>(static_cast<object*>(m));
    if (buffer != nullptr) {
        *buffer = block;
    }
    return STATUS_SUCCESS;
}

PVOID WdfMemoryGetBuffer(WDFMEMORY memory, size_t* size)
{
    auto* m = checked_as<memory_object>(memory, object_kind::memory, "WdfMemoryGetBuffer");
    if (m == nullptr) {
        return nullptr;
    }
    if (size != nullptr) {
        *size = m->size;
    }
    return m->buffer;
}

// ---------------------------------------------------------------- queues

NTSTATUS WdfIoQueueCreate(WDFDEVICE device, PWDF_IO_QUEUE_CONFIG config, PWDF_OBJECT_ATTRIBUTES attributes,
                          WDFQUEUE* queue)
{
    auto* d = checked_as<device_object>(device, object_kind::device, "WdfIoQueueCreate");
    if (d == nullptr || config == nullptr || !config->DefaultQueue || d->queue != nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (!allocation_allowed()) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    auto* q = new queue_object;
    q->device = d;
    q->config = *config;
    q->apply(attributes);
    d->queue = q;
    if (queue != nullptr) {
        *queue = reinterpret_cast<WDFQUEUE>(static_cast<object*>(q));
    }
    return STATUS_SUCCESS;
}

WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE queue)
{
    auto* q = checked_as<queue_object>(queue, object_kind::queue, "WdfIoQueueGetDevice");
    return q == nullptr ? nullptr : reinterpret_cast<WDFDEVICE>(static_cast<object*>(q->device));
}

// ---------------------------------------------------------------- requests

namespace {
request_object* live_request(WDFREQUEST request, const char* where)
{
    auto* r = checked_as<request_object>(request, object_kind::request, where);
    if (r != nullptr && r->completed.load()) {
        report_violation(std::string(where) + ": request used after its completion");
        return nullptr;
    }
    return r;
}
} // namespace

NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST request, size_t minimum, PVOID* buffer, size_t* length)
{
    request_object* r = live_request(request, "WdfRequestRetrieveInputBuffer");
    if (r == nullptr || buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (r->major != IRP_MJ_DEVICE_CONTROL || r->method == METHOD_NEITHER) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (r->input_length == 0 || r->input_length < minimum) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    *buffer = r->system_buffer.data();
    if (length != nullptr) {
        *length = r->input_length;
    }
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST request, size_t minimum, PVOID* buffer, size_t* length)
{
    request_object* r = live_request(request, "WdfRequestRetrieveOutputBuffer");
    if (r == nullptr || buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (r->method == METHOD_NEITHER) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (r->output_length == 0 || r->output_length < minimum) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    const bool buffered = r->major == IRP_MJ_DEVICE_CONTROL && r->method == METHOD_BUFFERED;
    *buffer = buffered ? r->system_buffer.data() : r->user_output;
    if (length != nullptr) {
        *length = r->output_length;
    }
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestRetrieveOutputWdmMdl(WDFREQUEST request, PMDL* mdl)
{
    request_object* r = live_request(request, "WdfRequestRetrieveOutputWdmMdl");
    if (r == nullptr || mdl == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const bool direct = r->major == IRP_MJ_READ ||
                        (r->major == IRP_MJ_DEVICE_CONTROL &&
                         (r->method == METHOD_IN_DIRECT || r->method == METHOD_OUT_DIRECT));
    if (!direct) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (r->output_length == 0 || r->user_output == nullptr) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (r->output_mdl == nullptr) {
        r->output_mdl = IoAllocateMdl(r->user_output, r->output_length, FALSE, FALSE, nullptr);
        if (r->output_mdl == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        r->output_mdl->MdlFlags |= MDL_PAGES_LOCKED;
    }
    *mdl = r->output_mdl;
    return STATUS_SUCCESS;
}

VOID WdfRequestSetInformation(WDFREQUEST request, ULONG_PTR information)
{
    if (request_object* r = live_request(request, "WdfRequestSetInformation")) {
        r->information = information;
    }
}

VOID WdfRequestCompleteWithInformation(WDFREQUEST request, NTSTATUS status, ULONG_PTR information)
{
    auto* r = checked_as<request_object>(request, object_kind::request, "WdfRequestComplete");
    if (r == nullptr) {
        return;
    }
    if (r->completed.exchange(true)) {
        report_violation("WdfRequestComplete: request completed twice");
        return;
    }
    if (r->cancel_routine.load() != nullptr) {
        report_violation("WdfRequestComplete: request completed while still cancelable");
    }
    r->information = information;
    request_finished(r, status);
}

VOID WdfRequestComplete(WDFREQUEST request, NTSTATUS status)
{
    auto* r = checked_as<request_object>(request, object_kind::request, "WdfRequestComplete");
    if (r == nullptr) {
        return;
    }
    WdfRequestCompleteWithInformation(request, status, r->information);
}

WDFFILEOBJECT WdfRequestGetFileObject(WDFREQUEST request)
{
    request_object* r = live_request(request, "WdfRequestGetFileObject");
    return r == nullptr || r->file == nullptr ? nullptr
                                              : reinterpret_cast<WDFFILEOBJECT>(static_cast<object*>(r->file));
}

NTSTATUS WdfRequestMarkCancelableEx(WDFREQUEST request, PFN_WDF_REQUEST_CANCEL routine)
{
    request_object* r = live_request(request, "WdfRequestMarkCancelableEx");
    if (r == nullptr || routine == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (r->cancelled.load()) {
        return STATUS_CANCELLED;
    }
    r->cancel_routine.store(routine);
    // A cancel that arrived in between found no routine: take it back unless
    // the canceller has already taken it (it then calls the routine).
    if (r->cancelled.load() && r->cancel_routine.exchange(nullptr) != nullptr) {
        return STATUS_CANCELLED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestUnmarkCancelable(WDFREQUEST request)
{
    request_object* r = live_request(request, "WdfRequestUnmarkCancelable");
    if (r == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    return r->cancel_routine.exchange(nullptr) == nullptr ? STATUS_CANCELLED : STATUS_SUCCESS;
}

BOOLEAN WdfRequestIsCanceled(WDFREQUEST request)
{
    request_object* r = live_request(request, "WdfRequestIsCanceled");
    return r != nullptr && r->cancelled.load();
}

// ---------------------------------------------------------------- file objects

PUNICODE_STRING WdfFileObjectGetFileName(WDFFILEOBJECT file)
{
    auto* f = checked_as<file_object>(file, object_kind::file, "WdfFileObjectGetFileName");
    return f == nullptr ? nullptr : &f->name_string;
}

WDFDEVICE WdfFileObjectGetDevice(WDFFILEOBJECT file)
{
    auto* f = checked_as<file_object>(file, object_kind::file, "WdfFileObjectGetDevice");
    return f == nullptr ? nullptr : reinterpret_cast<WDFDEVICE>(static_cast<object*>(f->device));
}
