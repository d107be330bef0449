#pragma once
// Driver-framework stand-in: the framework objects, callbacks and calls that
// the USB driver uses, with the framework's names and the behaviour the driver
// relies on. The framework side that a real system provides (loading the
// driver, Plug and Play, the I/O manager's requests from user mode) is
// kmdf_host.h.

#include "km_kernel.h"

typedef PVOID WDFOBJECT;
typedef struct WDFDRIVER__* WDFDRIVER;
typedef struct WDFDEVICE__* WDFDEVICE;
typedef struct WDFQUEUE__* WDFQUEUE;
typedef struct WDFREQUEST__* WDFREQUEST;
typedef struct WDFFILEOBJECT__* WDFFILEOBJECT;
typedef struct WDFMEMORY__* WDFMEMORY;
typedef struct WDFKEY__* WDFKEY;
typedef struct WDFCMRESLIST__* WDFCMRESLIST;
typedef struct WDFDEVICE_INIT* PWDFDEVICE_INIT;

#define WDF_NO_OBJECT_ATTRIBUTES nullptr
#define WDF_NO_HANDLE nullptr

typedef struct _WDF_OBJECT_CONTEXT_TYPE_INFO {
    ULONG Size;
    PCSTR ContextName;
    size_t ContextSize;
    const struct _WDF_OBJECT_CONTEXT_TYPE_INFO* UniqueType;
} WDF_OBJECT_CONTEXT_TYPE_INFO, *PWDF_OBJECT_CONTEXT_TYPE_INFO;
typedef const WDF_OBJECT_CONTEXT_TYPE_INFO* PCWDF_OBJECT_CONTEXT_TYPE_INFO;

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT handle, PCWDF_OBJECT_CONTEXT_TYPE_INFO type_info);

// Declares the type information of a context type and its accessor.
#define WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(type, accessor)                                                   \
    inline const WDF_OBJECT_CONTEXT_TYPE_INFO WDF_##type##_TYPE_INFO = {                                     \
        sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), #type, sizeof(type), &WDF_##type##_TYPE_INFO};                 \
    inline type* accessor(WDFOBJECT handle)                                                                  \
    {                                                                                                        \
        return static_cast<type*>(WdfObjectGetTypedContextWorker(handle, &WDF_##type##_TYPE_INFO));          \
    }
#define WDF_TYPE_NAME_TO_TYPE_INFO(type) (&WDF_##type##_TYPE_INFO)

typedef VOID (*PFN_WDF_OBJECT_CONTEXT_CLEANUP)(WDFOBJECT object);
typedef VOID (*PFN_WDF_OBJECT_CONTEXT_DESTROY)(WDFOBJECT object);

typedef enum _WDF_EXECUTION_LEVEL { WdfExecutionLevelInvalid, WdfExecutionLevelInheritFromParent,
                                    WdfExecutionLevelPassive, WdfExecutionLevelDispatch } WDF_EXECUTION_LEVEL;
typedef enum _WDF_SYNCHRONIZATION_SCOPE { WdfSynchronizationScopeInvalid, WdfSynchronizationScopeInheritFromParent,
                                          WdfSynchronizationScopeDevice, WdfSynchronizationScopeQueue,
                                          WdfSynchronizationScopeNone } WDF_SYNCHRONIZATION_SCOPE;

typedef struct _WDF_OBJECT_ATTRIBUTES {
    ULONG Size;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP EvtCleanupCallback;
    PFN_WDF_OBJECT_CONTEXT_DESTROY EvtDestroyCallback;
    WDF_EXECUTION_LEVEL ExecutionLevel;
    WDF_SYNCHRONIZATION_SCOPE SynchronizationScope;
    WDFOBJECT ParentObject;
    size_t ContextSizeOverride;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO ContextTypeInfo;
} WDF_OBJECT_ATTRIBUTES, *PWDF_OBJECT_ATTRIBUTES;

inline VOID WDF_OBJECT_ATTRIBUTES_INIT(PWDF_OBJECT_ATTRIBUTES attributes)
{
    *attributes = {};
    attributes->Size = sizeof(WDF_OBJECT_ATTRIBUTES);
    attributes->ExecutionLevel = WdfExecutionLevelInheritFromParent;
    attributes->SynchronizationScope = WdfSynchronizationScopeInheritFromParent;
}
#define WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(attributes, type) \
    (attributes)->ContextTypeInfo = WDF_TYPE_NAME_TO_TYPE_INFO(type)
#define WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(attributes, type) \
    do {                                                          \
        WDF_OBJECT_ATTRIBUTES_INIT(attributes);                   \
        WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(attributes, type); \
    } while (0)

NTSTATUS WdfObjectAllocateContext(WDFOBJECT handle, PWDF_OBJECT_ATTRIBUTES attributes, PVOID* context);
VOID WdfObjectDelete(WDFOBJECT object);

// ---------------------------------------------------------------- driver
typedef NTSTATUS (*PFN_WDF_DRIVER_DEVICE_ADD)(WDFDRIVER driver, PWDFDEVICE_INIT device_init);
typedef VOID (*PFN_WDF_DRIVER_UNLOAD)(WDFDRIVER driver);

typedef struct _WDF_DRIVER_CONFIG {
    ULONG Size;
    PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd;
    PFN_WDF_DRIVER_UNLOAD EvtDriverUnload;
    ULONG DriverInitFlags;
    ULONG DriverPoolTag;
} WDF_DRIVER_CONFIG, *PWDF_DRIVER_CONFIG;

inline VOID WDF_DRIVER_CONFIG_INIT(PWDF_DRIVER_CONFIG config, PFN_WDF_DRIVER_DEVICE_ADD device_add)
{
    *config = {};
    config->Size = sizeof(WDF_DRIVER_CONFIG);
    config->EvtDriverDeviceAdd = device_add;
}

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT driver_object, PCUNICODE_STRING registry_path,
                         PWDF_OBJECT_ATTRIBUTES attributes, PWDF_DRIVER_CONFIG config, WDFDRIVER* driver);
PDRIVER_OBJECT WdfDriverWdmGetDriverObject(WDFDRIVER driver);

// ---------------------------------------------------------------- device
typedef enum _WDF_POWER_DEVICE_STATE { WdfPowerDeviceInvalid, WdfPowerDeviceD0, WdfPowerDeviceD1,
                                       WdfPowerDeviceD2, WdfPowerDeviceD3 } WDF_POWER_DEVICE_STATE;
typedef NTSTATUS (*PFN_WDF_DEVICE_PREPARE_HARDWARE)(WDFDEVICE device, WDFCMRESLIST raw, WDFCMRESLIST translated);
typedef NTSTATUS (*PFN_WDF_DEVICE_RELEASE_HARDWARE)(WDFDEVICE device, WDFCMRESLIST translated);
typedef NTSTATUS (*PFN_WDF_DEVICE_SELF_MANAGED_IO_SUSPEND)(WDFDEVICE device);
typedef NTSTATUS (*PFN_WDF_DEVICE_SELF_MANAGED_IO_RESTART)(WDFDEVICE device);
typedef VOID (*PFN_WDF_DEVICE_SELF_MANAGED_IO_FLUSH)(WDFDEVICE device);
typedef NTSTATUS (*PFN_WDF_DEVICE_SELF_MANAGED_IO_INIT)(WDFDEVICE device);
typedef VOID (*PFN_WDF_DEVICE_SELF_MANAGED_IO_CLEANUP)(WDFDEVICE device);

typedef struct _WDF_PNPPOWER_EVENT_CALLBACKS {
    ULONG Size;
    PFN_WDF_DEVICE_PREPARE_HARDWARE EvtDevicePrepareHardware;
    PFN_WDF_DEVICE_RELEASE_HARDWARE EvtDeviceReleaseHardware;
    PFN_WDF_DEVICE_SELF_MANAGED_IO_CLEANUP EvtDeviceSelfManagedIoCleanup;
    PFN_WDF_DEVICE_SELF_MANAGED_IO_FLUSH EvtDeviceSelfManagedIoFlush;
    PFN_WDF_DEVICE_SELF_MANAGED_IO_INIT EvtDeviceSelfManagedIoInit;
    PFN_WDF_DEVICE_SELF_MANAGED_IO_SUSPEND EvtDeviceSelfManagedIoSuspend;
    PFN_WDF_DEVICE_SELF_MANAGED_IO_RESTART EvtDeviceSelfManagedIoRestart;
} WDF_PNPPOWER_EVENT_CALLBACKS, *PWDF_PNPPOWER_EVENT_CALLBACKS;

inline VOID WDF_PNPPOWER_EVENT_CALLBACKS_INIT(PWDF_PNPPOWER_EVENT_CALLBACKS callbacks)
{
    *callbacks = {};
    callbacks->Size = sizeof(WDF_PNPPOWER_EVENT_CALLBACKS);
}

typedef enum _WDF_DEVICE_IO_TYPE { WdfDeviceIoUndefined, WdfDeviceIoNeither, WdfDeviceIoBuffered,
                                   WdfDeviceIoDirect } WDF_DEVICE_IO_TYPE;
typedef enum _WDF_FILEOBJECT_CLASS { WdfFileObjectInvalid, WdfFileObjectNotRequired,
                                     WdfFileObjectWdfCanUseFsContext, WdfFileObjectWdfCanUseFsContext2,
                                     WdfFileObjectWdfCannotUseFsContexts,
                                     WdfFileObjectCanBeOptional = 0x80000000 } WDF_FILEOBJECT_CLASS;
typedef enum _WDF_TRI_STATE { WdfFalse, WdfTrue, WdfUseDefault } WDF_TRI_STATE;

typedef VOID (*PFN_WDF_DEVICE_FILE_CREATE)(WDFDEVICE device, WDFREQUEST request, WDFFILEOBJECT file);
typedef VOID (*PFN_WDF_FILE_CLOSE)(WDFFILEOBJECT file);
typedef VOID (*PFN_WDF_FILE_CLEANUP)(WDFFILEOBJECT file);

typedef struct _WDF_FILEOBJECT_CONFIG {
    ULONG Size;
    PFN_WDF_DEVICE_FILE_CREATE EvtDeviceFileCreate;
    PFN_WDF_FILE_CLOSE EvtFileClose;
    PFN_WDF_FILE_CLEANUP EvtFileCleanup;
    WDF_TRI_STATE AutoForwardCleanupClose;
    WDF_FILEOBJECT_CLASS FileObjectClass;
} WDF_FILEOBJECT_CONFIG, *PWDF_FILEOBJECT_CONFIG;

inline VOID WDF_FILEOBJECT_CONFIG_INIT(PWDF_FILEOBJECT_CONFIG config, PFN_WDF_DEVICE_FILE_CREATE create,
                                       PFN_WDF_FILE_CLOSE close, PFN_WDF_FILE_CLEANUP cleanup)
{
    *config = {};
    config->Size = sizeof(WDF_FILEOBJECT_CONFIG);
    config->EvtDeviceFileCreate = create;
    config->EvtFileClose = close;
    config->EvtFileCleanup = cleanup;
    config->AutoForwardCleanupClose = WdfUseDefault;
    config->FileObjectClass = WdfFileObjectWdfCannotUseFsContexts;
}

VOID WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT init, PWDF_PNPPOWER_EVENT_CALLBACKS callbacks);
VOID WdfDeviceInitSetIoType(PWDFDEVICE_INIT init, WDF_DEVICE_IO_TYPE io_type);
VOID WdfDeviceInitSetFileObjectConfig(PWDFDEVICE_INIT init, PWDF_FILEOBJECT_CONFIG config,
                                      PWDF_OBJECT_ATTRIBUTES file_attributes);
NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* init, PWDF_OBJECT_ATTRIBUTES attributes, WDFDEVICE* device);
PDEVICE_OBJECT WdfDeviceWdmGetPhysicalDevice(WDFDEVICE device);
PDEVICE_OBJECT WdfDeviceWdmGetDeviceObject(WDFDEVICE device);
NTSTATUS WdfDeviceCreateDeviceInterface(WDFDEVICE device, const GUID* interface_class,
                                        PCUNICODE_STRING reference_string);

#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2
NTSTATUS WdfDeviceOpenRegistryKey(WDFDEVICE device, ULONG key_type, ACCESS_MASK access,
                                  PWDF_OBJECT_ATTRIBUTES attributes, WDFKEY* key);
NTSTATUS WdfRegistryQueryValue(WDFKEY key, PCUNICODE_STRING name, ULONG length, PVOID value,
                               PULONG value_length, PULONG type);
VOID WdfRegistryClose(WDFKEY key);

// ---------------------------------------------------------------- memory
NTSTATUS WdfMemoryCreate(PWDF_OBJECT_ATTRIBUTES attributes, POOL_TYPE pool_type, ULONG pool_tag, size_t size,
                         WDFMEMORY* memory, PVOID* buffer);
PVOID WdfMemoryGetBuffer(WDFMEMORY memory, size_t* size);

// ---------------------------------------------------------------- queues and requests
typedef enum _WDF_IO_QUEUE_DISPATCH_TYPE { WdfIoQueueDispatchInvalid, WdfIoQueueDispatchSequential,
                                           WdfIoQueueDispatchParallel, WdfIoQueueDispatchManual
                                         } WDF_IO_QUEUE_DISPATCH_TYPE;

typedef VOID (*PFN_WDF_IO_QUEUE_IO_READ)(WDFQUEUE queue, WDFREQUEST request, size_t length);
typedef VOID (*PFN_WDF_IO_QUEUE_IO_WRITE)(WDFQUEUE queue, WDFREQUEST request, size_t length);
typedef VOID (*PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL)(WDFQUEUE queue, WDFREQUEST request, size_t output_length,
                                                    size_t input_length, ULONG io_control_code);
typedef VOID (*PFN_WDF_IO_QUEUE_IO_STOP)(WDFQUEUE queue, WDFREQUEST request, ULONG action_flags);
typedef VOID (*PFN_WDF_REQUEST_CANCEL)(WDFREQUEST request);

typedef struct _WDF_IO_QUEUE_CONFIG {
    ULONG Size;
    WDF_IO_QUEUE_DISPATCH_TYPE DispatchType;
    WDF_TRI_STATE PowerManaged;
    BOOLEAN AllowZeroLengthRequests;
    BOOLEAN DefaultQueue;
    PFN_WDF_IO_QUEUE_IO_READ EvtIoRead;
    PFN_WDF_IO_QUEUE_IO_WRITE EvtIoWrite;
    PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL EvtIoDeviceControl;
    PFN_WDF_IO_QUEUE_IO_STOP EvtIoStop;
    ULONG NumberOfPresentedRequests;
} WDF_IO_QUEUE_CONFIG, *PWDF_IO_QUEUE_CONFIG;

inline VOID WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(PWDF_IO_QUEUE_CONFIG config,
                                                   WDF_IO_QUEUE_DISPATCH_TYPE dispatch)
{
    *config = {};
    config->Size = sizeof(WDF_IO_QUEUE_CONFIG);
    config->DispatchType = dispatch;
    config->PowerManaged = WdfUseDefault;
    config->DefaultQueue = TRUE;
    config->NumberOfPresentedRequests = static_cast<ULONG>(-1);
}

NTSTATUS WdfIoQueueCreate(WDFDEVICE device, PWDF_IO_QUEUE_CONFIG config, PWDF_OBJECT_ATTRIBUTES attributes,
                          WDFQUEUE* queue);
WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE queue);

NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST request, size_t minimum, PVOID* buffer, size_t* length);
NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST request, size_t minimum, PVOID* buffer, size_t* length);
NTSTATUS WdfRequestRetrieveOutputWdmMdl(WDFREQUEST request, PMDL* mdl);
VOID WdfRequestComplete(WDFREQUEST request, NTSTATUS status);
VOID WdfRequestCompleteWithInformation(WDFREQUEST request, NTSTATUS status, ULONG_PTR information);
VOID WdfRequestSetInformation(WDFREQUEST request, ULONG_PTR information);
WDFFILEOBJECT WdfRequestGetFileObject(WDFREQUEST request);
// STATUS_CANCELLED when the request was cancelled before it became cancelable
// (the routine is then not called).
NTSTATUS WdfRequestMarkCancelableEx(WDFREQUEST request, PFN_WDF_REQUEST_CANCEL routine);
// STATUS_CANCELLED when the cancel routine has been or is being called.
NTSTATUS WdfRequestUnmarkCancelable(WDFREQUEST request);
BOOLEAN WdfRequestIsCanceled(WDFREQUEST request);

// ---------------------------------------------------------------- file objects
PUNICODE_STRING WdfFileObjectGetFileName(WDFFILEOBJECT file);
WDFDEVICE WdfFileObjectGetDevice(WDFFILEOBJECT file);

// ---------------------------------------------------------------- software tracing
// The stand-in has no trace sessions; the calls only keep the driver's shape.
inline VOID WPP_INIT_TRACING(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path) {}
inline VOID WPP_CLEANUP(PDRIVER_OBJECT driver) {}
