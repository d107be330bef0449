#pragma once
// Kernel stand-in: the subset of kernel types and routines that the USB driver
// calls, with their kernel names and semantics, implemented in user mode so the
// driver's code runs in ordinary test programs. Dispatcher objects are built on
// slim reader/writer locks and condition variables, so they need no handle and
// no destruction, exactly like their kernel counterparts.

#include <windows.h>
#include <winioctl.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// The USB headers declare IRP and MDL as void pointers unless a kernel header
// came first; the stand-in's own types take their place.
#ifndef _WDMDDK_
#define _WDMDDK_
#endif
struct _IRP;
struct _MDL;
struct _DEVICE_OBJECT;
struct _DRIVER_OBJECT;
typedef struct _IRP IRP, *PIRP;
typedef struct _MDL MDL, *PMDL;
typedef struct _DEVICE_OBJECT DEVICE_OBJECT, *PDEVICE_OBJECT;
typedef struct _DRIVER_OBJECT DRIVER_OBJECT, *PDRIVER_OBJECT;

#include <usb.h>
#include <usbioctl.h>
#include <devpropdef.h>

typedef LONG NTSTATUS;
typedef NTSTATUS* PNTSTATUS;
typedef short CSHORT;
typedef UCHAR KIRQL, *PKIRQL;
typedef CCHAR KPROCESSOR_MODE;
typedef ULONG_PTR KSPIN_LOCK, *PKSPIN_LOCK;

#define NT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)

// Status values of the kernel that the driver and its tests use.
#undef STATUS_SUCCESS
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#undef STATUS_TIMEOUT
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102L)
#undef STATUS_PENDING
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#undef STATUS_MORE_PROCESSING_REQUIRED
#define STATUS_MORE_PROCESSING_REQUIRED ((NTSTATUS)0xC0000016L)
#undef STATUS_OBJECT_NAME_EXISTS
#define STATUS_OBJECT_NAME_EXISTS ((NTSTATUS)0x40000000L)
#undef STATUS_BUFFER_OVERFLOW
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#undef STATUS_UNSUCCESSFUL
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#undef STATUS_NOT_IMPLEMENTED
#define STATUS_NOT_IMPLEMENTED ((NTSTATUS)0xC0000002L)
#undef STATUS_INVALID_HANDLE
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#undef STATUS_INVALID_PARAMETER
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#undef STATUS_NO_SUCH_DEVICE
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000EL)
#undef STATUS_END_OF_FILE
#define STATUS_END_OF_FILE ((NTSTATUS)0xC0000011L)
#undef STATUS_INVALID_DEVICE_REQUEST
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010L)
#undef STATUS_ACCESS_DENIED
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#undef STATUS_BUFFER_TOO_SMALL
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#undef STATUS_OBJECT_NAME_NOT_FOUND
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#undef STATUS_INSUFFICIENT_RESOURCES
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#undef STATUS_DEVICE_DATA_ERROR
#define STATUS_DEVICE_DATA_ERROR ((NTSTATUS)0xC000009CL)
#undef STATUS_IO_TIMEOUT
#define STATUS_IO_TIMEOUT ((NTSTATUS)0xC00000B5L)
#undef STATUS_NOT_SUPPORTED
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#undef STATUS_CANCELLED
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120L)
#undef STATUS_DEVICE_CONFIGURATION_ERROR
#define STATUS_DEVICE_CONFIGURATION_ERROR ((NTSTATUS)0xC0000182L)
#undef STATUS_DEVICE_NOT_CONNECTED
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009DL)
#undef STATUS_INVALID_DEVICE_STATE
#define STATUS_INVALID_DEVICE_STATE ((NTSTATUS)0xC0000184L)
#undef STATUS_DEVICE_REMOVED
#define STATUS_DEVICE_REMOVED ((NTSTATUS)0xC00002B6L)

#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

typedef enum _MODE { KernelMode, UserMode } MODE;
typedef enum _KWAIT_REASON { Executive } KWAIT_REASON;
typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _POOL_TYPE { NonPagedPool, PagedPool, NonPagedPoolNx = 512 } POOL_TYPE;
typedef enum _LOCK_OPERATION { IoReadAccess, IoWriteAccess, IoModifyAccess } LOCK_OPERATION;
typedef enum _MM_PAGE_PRIORITY { LowPagePriority, NormalPagePriority = 16, HighPagePriority = 32 } MM_PAGE_PRIORITY;
typedef enum _WORK_QUEUE_TYPE { CriticalWorkQueue, DelayedWorkQueue } WORK_QUEUE_TYPE;
#define MdlMappingNoExecute 0x40000000

typedef ULONG64 POOL_FLAGS;
#define POOL_FLAG_NON_PAGED 0x0000000000000040ULL

// ---------------------------------------------------------------- strings
typedef struct _UNICODE_STRING {
    USHORT Length;        // bytes, without a terminating zero
    USHORT MaximumLength; // bytes
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source);
// Registry form with braces; STATUS_INVALID_PARAMETER for anything else.
NTSTATUS RtlGUIDFromString(PCUNICODE_STRING text, GUID* guid);
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source);
// Formats into a buffer of `count` characters, always terminated;
// STATUS_BUFFER_OVERFLOW when the text was cut.
NTSTATUS RtlStringCchPrintfW(PWSTR destination, size_t count, PCWSTR format, ...);

// ---------------------------------------------------------------- pool
PVOID ExAllocatePoolWithTag(POOL_TYPE type, SIZE_T size, ULONG tag);
// Zero-filled.
PVOID ExAllocatePool2(POOL_FLAGS flags, SIZE_T size, ULONG tag);
VOID ExFreePoolWithTag(PVOID block, ULONG tag);
VOID ExFreePool(PVOID block);

// ---------------------------------------------------------------- IRQL and spin locks
KIRQL KeGetCurrentIrql();
VOID KeInitializeSpinLock(PKSPIN_LOCK lock);
VOID KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL old_irql);
VOID KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL new_irql);
VOID KeRaiseIrql(KIRQL new_irql, PKIRQL old_irql);
VOID KeLowerIrql(KIRQL new_irql);

// ---------------------------------------------------------------- dispatcher objects
typedef struct _DISPATCHER_HEADER {
    LONG Type;         // 0 notification event, 1 synchronization event, 2 mutex
    LONG SignalState;
    SRWLOCK Lock;
    CONDITION_VARIABLE Waiters;
} DISPATCHER_HEADER;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

typedef struct _KMUTEX {
    DISPATCHER_HEADER Header;
    DWORD OwnerThread;
    LONG Recursion;
} KMUTEX, *PKMUTEX, *PRKMUTEX;

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
LONG KeSetEvent(PRKEVENT event, LONG increment, BOOLEAN wait);
VOID KeClearEvent(PRKEVENT event);
LONG KeResetEvent(PRKEVENT event);
LONG KeReadStateEvent(PRKEVENT event);
VOID KeInitializeMutex(PRKMUTEX mutex, ULONG level);
LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN wait);
// Waits on an event or a mutex. `timeout` is in 100-ns units, negative for a
// relative time; null waits forever. STATUS_SUCCESS or STATUS_TIMEOUT.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON reason, KPROCESSOR_MODE mode, BOOLEAN alertable,
                               PLARGE_INTEGER timeout);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE mode, BOOLEAN alertable, PLARGE_INTEGER interval);
VOID KeQuerySystemTime(PLARGE_INTEGER time);

typedef struct _TIME_FIELDS {
    CSHORT Year, Month, Day, Hour, Minute, Second, Milliseconds, Weekday;
} TIME_FIELDS, *PTIME_FIELDS;
VOID ExSystemTimeToLocalTime(PLARGE_INTEGER system_time, PLARGE_INTEGER local_time);
VOID RtlTimeToTimeFields(PLARGE_INTEGER time, PTIME_FIELDS fields);

// ---------------------------------------------------------------- interlocked lists
PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry, PKSPIN_LOCK lock);
PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY head, PKSPIN_LOCK lock);

// ---------------------------------------------------------------- debug output
#define DPFLTR_IHVSTREAMING_ID 81
#define DPFLTR_ERROR_LEVEL 0
#define DPFLTR_WARNING_LEVEL 1
#define DPFLTR_TRACE_LEVEL 2
#define DPFLTR_INFO_LEVEL 3
ULONG DbgPrintEx(ULONG component_id, ULONG level, PCSTR format, ...);
ULONG vDbgPrintEx(ULONG component_id, ULONG level, PCSTR format, va_list args);

// ---------------------------------------------------------------- MDLs
struct _MDL {
    PMDL Next;
    CSHORT Size;
    CSHORT MdlFlags;
    PVOID StartVa;
    ULONG ByteCount;
    ULONG ByteOffset;
    PVOID MappedSystemVa;
};
#define MDL_PAGES_LOCKED 0x0002
PMDL IoAllocateMdl(PVOID virtual_address, ULONG length, BOOLEAN secondary, BOOLEAN charge_quota, PIRP irp);
VOID IoFreeMdl(PMDL mdl);
VOID MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE mode, LOCK_OPERATION operation);
VOID MmUnlockPages(PMDL mdl);
inline ULONG MmGetMdlByteCount(PMDL mdl) { return mdl->ByteCount; }
inline PVOID MmGetMdlVirtualAddress(PMDL mdl) { return mdl->StartVa; }
inline PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority) { return mdl->MappedSystemVa; }

// ---------------------------------------------------------------- IRPs
typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef NTSTATUS (*PIO_COMPLETION_ROUTINE)(PDEVICE_OBJECT device, PIRP irp, PVOID context);
typedef VOID (*PDRIVER_CANCEL)(PDEVICE_OBJECT device, PIRP irp);
typedef NTSTATUS (*PDRIVER_DISPATCH)(PDEVICE_OBJECT device, PIRP irp);
typedef VOID (*PDRIVER_UNLOAD)(PDRIVER_OBJECT driver);
typedef NTSTATUS (*PDRIVER_INITIALIZE)(PDRIVER_OBJECT driver, PUNICODE_STRING registry_path);

typedef struct _INTERFACE {
    USHORT Size;
    USHORT Version;
    PVOID Context;
    VOID (*InterfaceReference)(PVOID context);
    VOID (*InterfaceDereference)(PVOID context);
} INTERFACE, *PINTERFACE;

#define SL_PENDING_RETURNED 0x01
#define SL_INVOKE_ON_CANCEL 0x20
#define SL_INVOKE_ON_SUCCESS 0x40
#define SL_INVOKE_ON_ERROR 0x80

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_CLOSE 0x02
#define IRP_MJ_READ 0x03
#define IRP_MJ_DEVICE_CONTROL 0x0e
#define IRP_MJ_INTERNAL_DEVICE_CONTROL 0x0f
#define IRP_MJ_PNP 0x1b
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b
#define IRP_MN_QUERY_INTERFACE 0x08

typedef struct _IO_STACK_LOCATION {
    UCHAR MajorFunction;
    UCHAR MinorFunction;
    UCHAR Flags;
    UCHAR Control;
    union {
        // Each ULONG takes a pointer-sized slot, so Argument1 shares its slot with
        // OutputBufferLength and IoControlCode sits in Argument3's slot.
        struct {
            alignas(8) ULONG OutputBufferLength;
            alignas(8) ULONG InputBufferLength;
            alignas(8) ULONG IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
        struct {
            const GUID* InterfaceType;
            USHORT Size;
            USHORT Version;
            PINTERFACE Interface;
            PVOID InterfaceSpecificData;
        } QueryInterface;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
    PDEVICE_OBJECT DeviceObject;
    PIO_COMPLETION_ROUTINE CompletionRoutine;
    PVOID Context;
} IO_STACK_LOCATION, *PIO_STACK_LOCATION;

struct _IRP {
    CSHORT Type;
    USHORT Size;
    PMDL MdlAddress;
    ULONG Flags;
    IO_STATUS_BLOCK IoStatus;
    CCHAR StackCount;
    CCHAR CurrentLocation;
    BOOLEAN PendingReturned;
    volatile BOOLEAN Cancel;
    KIRQL CancelIrql;
    PDRIVER_CANCEL volatile CancelRoutine;
    PVOID UserBuffer;
    PIO_STATUS_BLOCK UserIosb;
    PKEVENT UserEvent;
    struct {
        struct {
            LIST_ENTRY ListEntry;
            PVOID DriverContext[4];
        } Overlay;
    } Tail;
    IO_STACK_LOCATION Stack[1]; // StackCount locations; location 1 is Stack[0]
};

PIRP IoAllocateIrp(CCHAR stack_size, BOOLEAN charge_quota);
VOID IoFreeIrp(PIRP irp);
VOID IoReuseIrp(PIRP irp, NTSTATUS status);
PIRP IoBuildDeviceIoControlRequest(ULONG code, PDEVICE_OBJECT device, PVOID input, ULONG input_length,
                                   PVOID output, ULONG output_length, BOOLEAN internal, PKEVENT event,
                                   PIO_STATUS_BLOCK iosb);
PIRP IoBuildSynchronousFsdRequest(ULONG major, PDEVICE_OBJECT device, PVOID buffer, ULONG length,
                                  PLARGE_INTEGER offset, PKEVENT event, PIO_STATUS_BLOCK iosb);
inline PIO_STACK_LOCATION IoGetCurrentIrpStackLocation(PIRP irp) { return &irp->Stack[irp->CurrentLocation - 1]; }
inline PIO_STACK_LOCATION IoGetNextIrpStackLocation(PIRP irp) { return &irp->Stack[irp->CurrentLocation - 2]; }
inline VOID IoSetNextIrpStackLocation(PIRP irp) { irp->CurrentLocation--; }
inline VOID IoMarkIrpPending(PIRP irp) { IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED; }
VOID IoSetCompletionRoutine(PIRP irp, PIO_COMPLETION_ROUTINE routine, PVOID context, BOOLEAN on_success,
                            BOOLEAN on_error, BOOLEAN on_cancel);
NTSTATUS IoCallDriver(PDEVICE_OBJECT device, PIRP irp);
VOID IoCompleteRequest(PIRP irp, CCHAR priority_boost);
BOOLEAN IoCancelIrp(PIRP irp);
PDRIVER_CANCEL IoSetCancelRoutine(PIRP irp, PDRIVER_CANCEL routine);
VOID IoAcquireCancelSpinLock(PKIRQL irql);
VOID IoReleaseCancelSpinLock(KIRQL irql);
#define IO_NO_INCREMENT 0

// ---------------------------------------------------------------- device objects
struct _DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    PDEVICE_OBJECT DeviceObject;
    PVOID DriverStart;
    ULONG DriverSize;
    PUNICODE_STRING RegistryPath;
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

struct _DEVICE_OBJECT {
    CSHORT Type;
    USHORT Size;
    PDRIVER_OBJECT DriverObject;
    PVOID DeviceExtension;
    ULONG Flags;
    CCHAR StackSize;
};

// ---------------------------------------------------------------- work items
typedef struct _IO_WORKITEM IO_WORKITEM, *PIO_WORKITEM;
typedef VOID (*PIO_WORKITEM_ROUTINE)(PDEVICE_OBJECT device, PVOID context);
PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT device);
VOID IoQueueWorkItem(PIO_WORKITEM item, PIO_WORKITEM_ROUTINE routine, WORK_QUEUE_TYPE queue, PVOID context);
VOID IoFreeWorkItem(PIO_WORKITEM item);

// ---------------------------------------------------------------- device properties
#define PLUGPLAY_PROPERTY_PERSISTENT 0x00000001
NTSTATUS IoSetDevicePropertyData(PDEVICE_OBJECT pdo, const DEVPROPKEY* key, LCID lcid, ULONG flags,
                                 DEVPROPTYPE type, ULONG size, PVOID data);

// ---------------------------------------------------------------- registry
typedef struct _OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
} OBJECT_ATTRIBUTES, *POBJECT_ATTRIBUTES;
#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_KERNEL_HANDLE 0x00000200L
inline VOID InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PUNICODE_STRING name, ULONG flags,
                                       HANDLE root, PVOID security)
{
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = root;
    attributes->ObjectName = name;
    attributes->Attributes = flags;
    attributes->SecurityDescriptor = security;
    attributes->SecurityQualityOfService = nullptr;
}

typedef enum _KEY_VALUE_INFORMATION_CLASS { KeyValueBasicInformation, KeyValueFullInformation,
                                            KeyValuePartialInformation } KEY_VALUE_INFORMATION_CLASS;
typedef struct _KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
} KEY_VALUE_PARTIAL_INFORMATION, *PKEY_VALUE_PARTIAL_INFORMATION;

NTSTATUS ZwOpenKey(PHANDLE key, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes);
NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING name, KEY_VALUE_INFORMATION_CLASS information_class,
                         PVOID information, ULONG length, PULONG result_length);
NTSTATUS ZwClose(HANDLE handle);
