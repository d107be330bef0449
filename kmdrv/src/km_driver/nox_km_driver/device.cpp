// Device set-up: the framework device with its contexts, device interfaces and
// default queue; hardware preparation and release; stopping and restarting
// open pipes around power transitions; the pipe files.

#include "device.h"

#include "noxkm_log.h"
#include "pipe_queue.h"
#include "public/noxkm_ioctl.h"
#include "usb_device.h"

#include <new>

namespace {

constexpr ULONG pool_tag = 'vxoN';
constexpr ULONG guid_text_bytes = 256;

void lock(PDEVICE_CONTEXT context) { KeWaitForSingleObject(&context->lock, Executive, KernelMode, FALSE, nullptr); }
void unlock(PDEVICE_CONTEXT context) { KeReleaseMutex(&context->lock, FALSE); }

// Takes the USB device object away from new requests and waits until the
// requests using it are done; the caller destroys it.
usb::usb_device* detach_usb_device(PDEVICE_CONTEXT context)
{
    auto* device = static_cast<usb::usb_device*>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&context->usb_device), nullptr));
    LARGE_INTEGER pause;
    pause.QuadPart = -10000; // 1 ms
    while (InterlockedCompareExchange(&context->usb_users, 0, 0) != 0) {
        KeDelayExecutionThread(KernelMode, FALSE, &pause);
    }
    return device;
}

// The class of the second device interface from the device's hardware key.
bool ReadGUIDParameterFromRegistry(WDFDEVICE device, GUID* guid)
{
    NOXKM_LOG(noxkm::log_trace, ">> ReadGUIDParameterFromRegistry.\n");
    WDFMEMORY memory = nullptr;
    PVOID buffer = nullptr;
    NTSTATUS status =
        WdfMemoryCreate(WDF_NO_OBJECT_ATTRIBUTES, NonPagedPoolNx, pool_tag, guid_text_bytes, &memory, &buffer);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "== ReadGUIDParameterFromRegistry, failed to allocate memory.\n");
        return false;
    }
    WDFKEY key = nullptr;
    ULONG length = 0;
    ULONG type = 0;
    status = WdfDeviceOpenRegistryKey(device, PLUGPLAY_REGKEY_DEVICE, KEY_QUERY_VALUE, WDF_NO_OBJECT_ATTRIBUTES, &key);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "WdfDeviceOpenRegistryKey Failed :%x\n", static_cast<unsigned>(status));
    } else {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, L"DriverInterfaceGUID");
        status = WdfRegistryQueryValue(key, &name, guid_text_bytes, buffer, &length, &type);
        WdfRegistryClose(key);
        if (!NT_SUCCESS(status)) {
            NOXKM_LOG(noxkm::log_error, "WdfRegistryQueryValue Failed :%x\n", static_cast<unsigned>(status));
        }
    }
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_warning, "== ReadGUIDParameterFromRegistry, failed to get registry key for guid.\n");
        WdfObjectDelete(memory);
        return false;
    }
    // The text as stored, without the terminating zero and never past the buffer.
    auto* text = static_cast<PWSTR>(buffer);
    ULONG chars = (length <= guid_text_bytes ? length : guid_text_bytes) / sizeof(WCHAR);
    if (chars == guid_text_bytes / sizeof(WCHAR)) {
        --chars; // room for the zero the log line needs
    }
    text[chars] = L'\0';
    ULONG used = 0;
    while (used < chars && text[used] != L'\0') {
        ++used;
    }
    NOXKM_LOG(noxkm::log_trace, "== ReadGUIDParameterFromRegistry, read guid=%S.\n", text);
    UNICODE_STRING guid_text{static_cast<USHORT>(used * sizeof(WCHAR)), static_cast<USHORT>(guid_text_bytes), text};
    status = type == REG_SZ ? RtlGUIDFromString(&guid_text, guid) : STATUS_INVALID_PARAMETER;
    WdfObjectDelete(memory);
    if (!NT_SUCCESS(status)) {
        return false;
    }
    NOXKM_LOG(noxkm::log_trace, "<< ReadGUIDParameterFromRegistry.\n");
    return true;
}

NTSTATUS noxkm_USB_EvtDevicePrepareHardware(WDFDEVICE device, WDFCMRESLIST, WDFCMRESLIST)
{
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    NOXKM_LOG(noxkm::log_info, ">> noxkm_USB_EvtDevicePrepareHardware, creating usb device.\n");
    NOXKM_LOG(noxkm::log_trace, "noxkm_USB_EvtDevicePrepareHardware, context=%p.\n", static_cast<void*>(context));
    PDEVICE_OBJECT pdo = WdfDeviceWdmGetPhysicalDevice(device);
    if (pdo == nullptr) {
        NOXKM_LOG(noxkm::log_error,
                  "<< noxkm_USB_EvtDevicePrepareHardware, failed to get a pdo for the current device.\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    usb::usb_device* usb = usb::usb_device::create(pdo);
    if (usb == nullptr) {
        NOXKM_LOG(noxkm::log_error, "<< noxkm_USB_EvtDevicePrepareHardware, failed to allocate usb device.\n");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    const NTSTATUS status = usb->attach();
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error,
                  "<< noxkm_USB_EvtDevicePrepareHardware, failed to attach to usb_device, status=0x%x.\n",
                  static_cast<unsigned>(status));
        usb::usb_device::destroy(usb);
        return status;
    }
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&context->usb_device), usb);
    NOXKM_LOG(noxkm::log_info, "<< noxkm_USB_EvtDevicePrepareHardware, created usb device, ptr=%p, status=0x%x.\n",
              static_cast<void*>(usb), static_cast<unsigned>(status));
    usb->set_friendly_name();
    return STATUS_SUCCESS;
}

NTSTATUS noxkm_USB_EvtDeviceReleaseHardware(WDFDEVICE device, WDFCMRESLIST)
{
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    NOXKM_LOG(noxkm::log_trace, "noxkm_USB_EvtDeviceReleaseHardware, context=%p.\n", static_cast<void*>(context));
    usb::usb_device::destroy(detach_usb_device(context));
    return STATUS_SUCCESS;
}

VOID noxkm_Device_EvtCleanupCallback(WDFOBJECT object)
{
    PDEVICE_CONTEXT context = DeviceGetContext(object);
    NOXKM_LOG(noxkm::log_trace, "noxkm_Device_EvtCleanupCallback, context=%p.\n", static_cast<void*>(context));
    if (context == nullptr) {
        return;
    }
    usb::usb_device::destroy(detach_usb_device(context));
    context->open_pipes.~vector_std();
}

bool has_usb_device(PDEVICE_CONTEXT context) { return context != nullptr && context->usb_device != nullptr; }

NTSTATUS EvtWdfDeviceSelfManagedIoSuspend(WDFDEVICE device)
{
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    NOXKM_LOG(noxkm::log_trace, "EvtWdfDeviceSelfManagedIoSuspend, context=%p.\n", static_cast<void*>(context));
    if (!has_usb_device(context)) {
        return STATUS_SUCCESS;
    }
    lock(context);
    for (open_pipe_entry& entry : context->open_pipes) {
        if (entry.pipe->is_running()) {
            entry.resume_after_restart = 1;
            entry.pipe->stop();
        }
    }
    unlock(context);
    return STATUS_SUCCESS;
}

NTSTATUS EvtWdfDeviceSelfManagedIoRestart(WDFDEVICE device)
{
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    NOXKM_LOG(noxkm::log_trace, "EvtWdfDeviceSelfManagedIoRestart, context=%p.\n", static_cast<void*>(context));
    if (!has_usb_device(context)) {
        return STATUS_SUCCESS;
    }
    lock(context);
    for (open_pipe_entry& entry : context->open_pipes) {
        if (entry.resume_after_restart) {
            entry.pipe->start();
        }
        entry.resume_after_restart = 0;
    }
    unlock(context);
    return STATUS_SUCCESS;
}

VOID EvtWdfDeviceSelfManagedIoFlush(WDFDEVICE device)
{
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    NOXKM_LOG(noxkm::log_trace, "EvtWdfDeviceSelfManagedIoFlush, context=%p.\n", static_cast<void*>(context));
    if (context == nullptr) {
        return;
    }
    // A removed device has already lost its USB device object; its running
    // pipes are stopped all the same so that no read stays in flight.
    lock(context);
    for (open_pipe_entry& entry : context->open_pipes) {
        if (entry.pipe->is_running()) {
            entry.pipe->stop();
        }
        entry.resume_after_restart = 0;
    }
    unlock(context);
}

// "\pipe_<hex>": the endpoint is the number's low byte.
bool parse_pipe_name(PCUNICODE_STRING name, UCHAR* endpoint)
{
    const size_t prefix = sizeof(noxkm::pipe_name_prefix) / sizeof(WCHAR) - 1;
    const size_t chars = name->Length / sizeof(WCHAR);
    if (chars <= prefix) {
        return false;
    }
    for (size_t i = 0; i < prefix; ++i) {
        if (name->Buffer[i] != noxkm::pipe_name_prefix[i]) {
            return false;
        }
    }
    ULONG value = 0;
    size_t digits = 0;
    for (size_t i = prefix; i < chars; ++i, ++digits) {
        const WCHAR c = name->Buffer[i];
        ULONG digit;
        if (c >= L'0' && c <= L'9') {
            digit = c - L'0';
        } else if (c >= L'a' && c <= L'f') {
            digit = c - L'a' + 10;
        } else if (c >= L'A' && c <= L'F') {
            digit = c - L'A' + 10;
        } else {
            break;
        }
        value = (value << 4) | digit;
    }
    *endpoint = static_cast<UCHAR>(value);
    return digits != 0;
}

VOID noxkm_Device_FileCreate(WDFDEVICE device, WDFREQUEST request, WDFFILEOBJECT file)
{
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    PFILE_CONTEXT file_context = FileGetContext(file);
    PUNICODE_STRING name = WdfFileObjectGetFileName(file);
    const USHORT name_length = name == nullptr ? 0 : name->Length;
    NOXKM_LOG(noxkm::log_trace, "noxkm_Device_FileCreate, filename_len=%d, context=%p\n", name_length,
              static_cast<void*>(context));
    file_context->device = context;
    file_context->pipe = nullptr;
    file_context->endpoint_address = 0;
    if (name_length == 0) {
        WdfRequestComplete(request, STATUS_SUCCESS);
        return;
    }

    UCHAR endpoint = 0;
    const bool parsed = parse_pipe_name(name, &endpoint);
    NTSTATUS status = STATUS_NO_SUCH_DEVICE;
    lock(context);
    usb::usb_device* usb = context->usb_device;
    const USBD_PIPE_INFORMATION* info = parsed && usb != nullptr ? usb->find_pipe(endpoint) : nullptr;
    if (noxkm::log_enabled(noxkm::log_info)) {
        WCHAR text[64];
        const size_t chars = name_length / sizeof(WCHAR) < 63 ? name_length / sizeof(WCHAR) : 63;
        memcpy(text, name->Buffer, chars * sizeof(WCHAR));
        text[chars] = L'\0';
        NOXKM_LOG(noxkm::log_info, "text=%S, endpoint_addr=0x%x, endpoint%p.\n", text, endpoint,
                  static_cast<const void*>(info));
    }
    if (info != nullptr) {
        bool open = false;
        for (const open_pipe_entry& entry : context->open_pipes) {
            open = open || entry.endpoint_address == endpoint;
        }
        if (open) {
            NOXKM_LOG(noxkm::log_error, "Failed to open pipe=0x%x due to being already open.\n", endpoint);
            status = STATUS_ACCESS_DENIED;
        } else {
            nox::pipe_queue* pipe = nullptr;
            status = nox::pipe_queue::create_pipe(device, *info, &pipe);
            if (NT_SUCCESS(status) && !context->open_pipes.push_back({pipe, endpoint, 0})) {
                nox::pipe_queue::destroy(pipe);
                status = STATUS_INSUFFICIENT_RESOURCES;
            }
            if (NT_SUCCESS(status)) {
                file_context->pipe = pipe;
                file_context->endpoint_address = endpoint;
            }
        }
    }
    unlock(context);
    WdfRequestComplete(request, status);
}

VOID noxkm_Device_FileClose(WDFFILEOBJECT file)
{
    PFILE_CONTEXT file_context = FileGetContext(file);
    if (file_context == nullptr || file_context->pipe == nullptr) {
        return;
    }
    PDEVICE_CONTEXT context = file_context->device;
    lock(context);
    for (size_t i = 0; i < context->open_pipes.size(); ++i) {
        if (context->open_pipes[i].endpoint_address == file_context->endpoint_address) {
            context->open_pipes.erase_at(i);
            break;
        }
    }
    nox::pipe_queue::destroy(file_context->pipe);
    file_context->pipe = nullptr;
    unlock(context);
}

VOID noxkm_Io_Stop(WDFQUEUE, WDFREQUEST, ULONG) {}

} // namespace

usb::usb_device* usb_device_acquire(PDEVICE_CONTEXT context)
{
    InterlockedIncrement(&context->usb_users);
    usb::usb_device* device = context->usb_device;
    if (device == nullptr) {
        InterlockedDecrement(&context->usb_users);
    }
    return device;
}

void usb_device_release(PDEVICE_CONTEXT context) { InterlockedDecrement(&context->usb_users); }

NTSTATUS noxkm_Device_Create(WDFDRIVER, PWDFDEVICE_INIT device_init)
{
    WDF_PNPPOWER_EVENT_CALLBACKS pnp;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnp);
    pnp.EvtDevicePrepareHardware = &noxkm_USB_EvtDevicePrepareHardware;
    pnp.EvtDeviceReleaseHardware = &noxkm_USB_EvtDeviceReleaseHardware;
    pnp.EvtDeviceSelfManagedIoSuspend = &EvtWdfDeviceSelfManagedIoSuspend;
    pnp.EvtDeviceSelfManagedIoRestart = &EvtWdfDeviceSelfManagedIoRestart;
    pnp.EvtDeviceSelfManagedIoFlush = &EvtWdfDeviceSelfManagedIoFlush;
    WdfDeviceInitSetPnpPowerEventCallbacks(device_init, &pnp);
    WdfDeviceInitSetIoType(device_init, WdfDeviceIoDirect);

    WDF_FILEOBJECT_CONFIG file_config;
    WDF_FILEOBJECT_CONFIG_INIT(&file_config, &noxkm_Device_FileCreate, &noxkm_Device_FileClose, nullptr);
    file_config.FileObjectClass = WdfFileObjectWdfCannotUseFsContexts;
    WDF_OBJECT_ATTRIBUTES file_attributes;
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&file_attributes, FILE_CONTEXT);
    WdfDeviceInitSetFileObjectConfig(device_init, &file_config, &file_attributes);

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, DEVICE_CONTEXT);
    attributes.EvtCleanupCallback = &noxkm_Device_EvtCleanupCallback;
    WDFDEVICE device = nullptr;
    NTSTATUS status = WdfDeviceCreate(&device_init, &attributes, &device);
    if (!NT_SUCCESS(status)) {
        NOXKM_LOG(noxkm::log_error, "Failed WdfDeviceCreate call.\n");
        return status;
    }
    PDEVICE_CONTEXT context = DeviceGetContext(device);
    NOXKM_LOG(noxkm::log_trace, "noxkm_Device_Create, context=%p.\n", static_cast<void*>(context));
    KeInitializeMutex(&context->lock, 0);
    new (&context->open_pipes) dutil2::vector_std<open_pipe_entry>();
    context->usb_device = nullptr;
    context->usb_users = 0;
    context->device = device;

    status = WdfDeviceCreateDeviceInterface(device, &noxkm::device_interface_class, nullptr);
    if (NT_SUCCESS(status)) {
        WDF_IO_QUEUE_CONFIG queue_config;
        WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queue_config, WdfIoQueueDispatchParallel);
        queue_config.AllowZeroLengthRequests = FALSE;
        queue_config.EvtIoRead = &noxkm_Io_Read;
        queue_config.EvtIoDeviceControl = &noxkm_Io_DeviceControl;
        queue_config.EvtIoStop = &noxkm_Io_Stop;
        status = WdfIoQueueCreate(device, &queue_config, WDF_NO_OBJECT_ATTRIBUTES, nullptr);
    }

    GUID second_class;
    if (ReadGUIDParameterFromRegistry(device, &second_class)) {
        const NTSTATUS second = WdfDeviceCreateDeviceInterface(device, &second_class, nullptr);
        NOXKM_LOG(noxkm::log_info,
                  "noxkm_Device_Create added additional driver interface to driver from inf specified registry key. "
                  "status=0x%x\n",
                  static_cast<unsigned>(second));
    }
    return status;
}
