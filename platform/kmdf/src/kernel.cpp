// Kernel calls of the stand-in: strings, pool, IRQL and spin locks, dispatcher
// objects, interlocked lists, debug output and time.

#include "km_kernel.h"
#include "kmdf_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

namespace kmdf {
namespace {

std::mutex g_diag_lock;
std::vector<std::string> g_violations;
debug_print_sink g_print_sink;
std::atomic<long> g_allocations_left{-1};

thread_local KIRQL t_irql = PASSIVE_LEVEL;

} // namespace

standin_counters& counters()
{
    static standin_counters value;
    return value;
}

std::vector<std::string> violations()
{
    std::lock_guard lock(g_diag_lock);
    return g_violations;
}

void clear_violations()
{
    std::lock_guard lock(g_diag_lock);
    g_violations.clear();
}

void report_violation(std::string text)
{
    OutputDebugStringA(("kmdf stand-in: " + text + "\n").c_str());
    std::lock_guard lock(g_diag_lock);
    g_violations.push_back(std::move(text));
}

void set_debug_print_sink(debug_print_sink sink)
{
    std::lock_guard lock(g_diag_lock);
    g_print_sink = std::move(sink);
}

void fail_allocations_after(long count)
{
    g_allocations_left = count;
}

namespace detail {
bool allocation_allowed()
{
    long left = g_allocations_left.load();
    while (left >= 0) {
        if (left == 0) {
            return false;
        }
        if (g_allocations_left.compare_exchange_weak(left, left - 1)) {
            return true;
        }
    }
    return true;
}
} // namespace detail
} // namespace kmdf

// ---------------------------------------------------------------- strings

VOID RtlInitUnicodeString(PUNICODE_STRING destination, PCWSTR source)
{
    const size_t length = source == nullptr ? 0 : wcslen(source) * sizeof(WCHAR);
    destination->Length = static_cast<USHORT>(length);
    destination->MaximumLength = static_cast<USHORT>(source == nullptr ? 0 : length + sizeof(WCHAR));
    destination->Buffer = const_cast<PWSTR>(source);
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING destination, PCWSTR source)
{
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, source);
    return RtlAppendUnicodeStringToString(destination, &text);
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING destination, PCUNICODE_STRING source)
{
    if (source->Length == 0) {
        return STATUS_SUCCESS;
    }
    if (static_cast<ULONG>(destination->Length) + source->Length > destination->MaximumLength) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    memmove(reinterpret_cast<char*>(destination->Buffer) + destination->Length, source->Buffer, source->Length);
    destination->Length = static_cast<USHORT>(destination->Length + source->Length);
    if (destination->Length + sizeof(WCHAR) <= destination->MaximumLength) {
        destination->Buffer[destination->Length / sizeof(WCHAR)] = L'\0';
    }
    return STATUS_SUCCESS;
}

NTSTATUS RtlStringCchPrintfW(PWSTR destination, size_t count, PCWSTR format, ...)
{
    if (destination == nullptr || count == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(destination, count, format, args);
    va_end(args);
    destination[count - 1] = L'\0';
    return written < 0 || static_cast<size_t>(written) >= count ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS RtlGUIDFromString(PCUNICODE_STRING text, GUID* guid)
{
    // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
    if (text == nullptr || text->Buffer == nullptr || text->Length != 38 * sizeof(WCHAR)) {
        return STATUS_INVALID_PARAMETER;
    }
    const PCWSTR s = text->Buffer;
    if (s[0] != L'{' || s[37] != L'}' || s[9] != L'-' || s[14] != L'-' || s[19] != L'-' || s[24] != L'-') {
        return STATUS_INVALID_PARAMETER;
    }
    auto hex = [&](int from, int digits, unsigned long long& value) {
        value = 0;
        for (int i = from; i < from + digits; ++i) {
            const WCHAR c = s[i];
            int digit;
            if (c >= L'0' && c <= L'9') {
                digit = c - L'0';
            } else if (c >= L'a' && c <= L'f') {
                digit = c - L'a' + 10;
            } else if (c >= L'A' && c <= L'F') {
                digit = c - L'A' + 10;
            } else {
                return false;
            }
            value = value * 16 + static_cast<unsigned>(digit);
        }
        return true;
    };
    unsigned long long v = 0;
    GUID result{};
    if (!hex(1, 8, v)) return STATUS_INVALID_PARAMETER;
    result.Data1 = static_cast<unsigned long>(v);
    if (!hex(10, 4, v)) return STATUS_INVALID_PARAMETER;
    result.Data2 = static_cast<unsigned short>(v);
    if (!hex(15, 4, v)) return STATUS_INVALID_PARAMETER;
    result.Data3 = static_cast<unsigned short>(v);
    static constexpr int offsets[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!hex(offsets[i], 2, v)) return STATUS_INVALID_PARAMETER;
        result.Data4[i] = static_cast<unsigned char>(v);
    }
    *guid = result;
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- pool

PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T size, ULONG)
{
    if (!kmdf::detail::allocation_allowed()) {
        return nullptr;
    }
    return malloc(size == 0 ? 1 : size);
}

PVOID ExAllocatePool2(POOL_FLAGS, SIZE_T size, ULONG)
{
    if (!kmdf::detail::allocation_allowed()) {
        return nullptr;
    }
    return calloc(1, size == 0 ? 1 : size);
}

VOID ExFreePoolWithTag(PVOID block, ULONG) { free(block); }
VOID ExFreePool(PVOID block) { free(block); }

// ---------------------------------------------------------------- IRQL and spin locks

KIRQL KeGetCurrentIrql() { return kmdf::t_irql; }

VOID KeRaiseIrql(KIRQL new_irql, PKIRQL old_irql)
{
    *old_irql = kmdf::t_irql;
    kmdf::t_irql = new_irql;
}

VOID KeLowerIrql(KIRQL new_irql) { kmdf::t_irql = new_irql; }

VOID KeInitializeSpinLock(PKSPIN_LOCK lock) { *lock = 0; }

VOID KeAcquireSpinLock(PKSPIN_LOCK lock, PKIRQL old_irql)
{
    KeRaiseIrql(DISPATCH_LEVEL, old_irql);
    auto* word = reinterpret_cast<volatile LONG64*>(lock);
    unsigned spins = 0;
    while (InterlockedCompareExchange64(word, 1, 0) != 0) {
        if (++spins % 64 == 0) {
            SwitchToThread();
        } else {
            YieldProcessor();
        }
    }
}

VOID KeReleaseSpinLock(PKSPIN_LOCK lock, KIRQL new_irql)
{
    InterlockedExchange64(reinterpret_cast<volatile LONG64*>(lock), 0);
    KeLowerIrql(new_irql);
}

// ---------------------------------------------------------------- dispatcher objects

namespace {
constexpr LONG type_notification = 0;
constexpr LONG type_synchronization = 1;
constexpr LONG type_mutex = 2;

void init_header(DISPATCHER_HEADER* header, LONG type, LONG state)
{
    header->Type = type;
    header->SignalState = state;
    InitializeSRWLock(&header->Lock);
    InitializeConditionVariable(&header->Waiters);
}

// Milliseconds left until `deadline` (GetTickCount64 time), INFINITE for none.
DWORD remaining(ULONGLONG deadline)
{
    if (deadline == ~0ULL) {
        return INFINITE;
    }
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

ULONGLONG deadline_of(PLARGE_INTEGER timeout)
{
    if (timeout == nullptr) {
        return ~0ULL;
    }
    LONGLONG ticks = timeout->QuadPart;
    if (ticks > 0) {
        // Absolute system time.
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        ticks = now.QuadPart - ticks; // negative when in the future
    }
    const ULONGLONG ms = static_cast<ULONGLONG>(-ticks + 9999) / 10000;
    return GetTickCount64() + ms;
}
} // namespace

VOID KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state)
{
    init_header(&event->Header, type == NotificationEvent ? type_notification : type_synchronization, state ? 1 : 0);
}

LONG KeSetEvent(PRKEVENT event, LONG, BOOLEAN)
{
    AcquireSRWLockExclusive(&event->Header.Lock);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 1;
    // Woken under the lock: a waiter that frees the event cannot return before
    // this call is done with it.
    WakeAllConditionVariable(&event->Header.Waiters);
    ReleaseSRWLockExclusive(&event->Header.Lock);
    return previous;
}

VOID KeClearEvent(PRKEVENT event)
{
    AcquireSRWLockExclusive(&event->Header.Lock);
    event->Header.SignalState = 0;
    ReleaseSRWLockExclusive(&event->Header.Lock);
}

LONG KeResetEvent(PRKEVENT event)
{
    AcquireSRWLockExclusive(&event->Header.Lock);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 0;
    ReleaseSRWLockExclusive(&event->Header.Lock);
    return previous;
}

LONG KeReadStateEvent(PRKEVENT event)
{
    AcquireSRWLockShared(&event->Header.Lock);
    const LONG state = event->Header.SignalState;
    ReleaseSRWLockShared(&event->Header.Lock);
    return state;
}

VOID KeInitializeMutex(PRKMUTEX mutex, ULONG)
{
    init_header(&mutex->Header, type_mutex, 1);
    mutex->OwnerThread = 0;
    mutex->Recursion = 0;
}

LONG KeReleaseMutex(PRKMUTEX mutex, BOOLEAN)
{
    AcquireSRWLockExclusive(&mutex->Header.Lock);
    if (mutex->OwnerThread != GetCurrentThreadId() || mutex->Recursion == 0) {
        ReleaseSRWLockExclusive(&mutex->Header.Lock);
        kmdf::report_violation("KeReleaseMutex by a thread that does not own the mutex");
        return 0;
    }
    const LONG previous = mutex->Recursion;
    if (--mutex->Recursion == 0) {
        mutex->OwnerThread = 0;
        mutex->Header.SignalState = 1;
    }
    WakeAllConditionVariable(&mutex->Header.Waiters);
    ReleaseSRWLockExclusive(&mutex->Header.Lock);
    return previous;
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER timeout)
{
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    const bool zero_wait = timeout != nullptr && timeout->QuadPart == 0;
    if (KeGetCurrentIrql() >= DISPATCH_LEVEL && !zero_wait) {
        kmdf::report_violation("KeWaitForSingleObject with a non-zero time-out at DISPATCH_LEVEL");
    }
    const ULONGLONG deadline = deadline_of(timeout);
    const DWORD self = GetCurrentThreadId();
    AcquireSRWLockExclusive(&header->Lock);
    for (;;) {
        if (header->Type == type_mutex) {
            auto* mutex = reinterpret_cast<KMUTEX*>(header);
            if (mutex->OwnerThread == 0 || mutex->OwnerThread == self) {
                mutex->OwnerThread = self;
                ++mutex->Recursion;
                header->SignalState = 0;
                break;
            }
        } else if (header->SignalState != 0) {
            if (header->Type == type_synchronization) {
                header->SignalState = 0;
            }
            break;
        }
        const DWORD wait = remaining(deadline);
        if (wait == 0) {
            ReleaseSRWLockExclusive(&header->Lock);
            return STATUS_TIMEOUT;
        }
        SleepConditionVariableSRW(&header->Waiters, &header->Lock, wait, 0);
    }
    ReleaseSRWLockExclusive(&header->Lock);
    return STATUS_SUCCESS;
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval)
{
    const ULONGLONG deadline = deadline_of(interval);
    Sleep(remaining(deadline));
    return STATUS_SUCCESS;
}

VOID KeQuerySystemTime(PLARGE_INTEGER time)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    time->LowPart = now.dwLowDateTime;
    time->HighPart = static_cast<LONG>(now.dwHighDateTime);
}

VOID ExSystemTimeToLocalTime(PLARGE_INTEGER system_time, PLARGE_INTEGER local_time)
{
    FILETIME utc{system_time->LowPart, static_cast<DWORD>(system_time->HighPart)};
    FILETIME local{};
    FileTimeToLocalFileTime(&utc, &local);
    local_time->LowPart = local.dwLowDateTime;
    local_time->HighPart = static_cast<LONG>(local.dwHighDateTime);
}

VOID RtlTimeToTimeFields(PLARGE_INTEGER time, PTIME_FIELDS fields)
{
    FILETIME ft{time->LowPart, static_cast<DWORD>(time->HighPart)};
    SYSTEMTIME st{};
    FileTimeToSystemTime(&ft, &st);
    fields->Year = static_cast<CSHORT>(st.wYear);
    fields->Month = static_cast<CSHORT>(st.wMonth);
    fields->Day = static_cast<CSHORT>(st.wDay);
    fields->Hour = static_cast<CSHORT>(st.wHour);
    fields->Minute = static_cast<CSHORT>(st.wMinute);
    fields->Second = static_cast<CSHORT>(st.wSecond);
    fields->Milliseconds = static_cast<CSHORT>(st.wMilliseconds);
    fields->Weekday = static_cast<CSHORT>(st.wDayOfWeek);
}

// ---------------------------------------------------------------- interlocked lists

PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry, PKSPIN_LOCK lock)
{
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PSINGLE_LIST_ENTRY first = head->Next;
    entry->Next = first;
    head->Next = entry;
    KeReleaseSpinLock(lock, irql);
    return first;
}

PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY head, PKSPIN_LOCK lock)
{
    KIRQL irql;
    KeAcquireSpinLock(lock, &irql);
    PSINGLE_LIST_ENTRY first = head->Next;
    if (first != nullptr) {
        head->Next = first->Next;
    }
    KeReleaseSpinLock(lock, irql);
    return first;
}

// ---------------------------------------------------------------- debug output

ULONG vDbgPrintEx(ULONG component_id, ULONG level, PCSTR format, va_list args)
{
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    kmdf::debug_print_sink sink;
    {
        std::lock_guard lock(kmdf::g_diag_lock);
        sink = kmdf::g_print_sink;
    }
    if (sink) {
        sink(component_id, level, text);
    } else {
        OutputDebugStringA(text);
    }
    return 0;
}

ULONG DbgPrintEx(ULONG component_id, ULONG level, PCSTR format, ...)
{
    va_list args;
    va_start(args, format);
    const ULONG result = vDbgPrintEx(component_id, level, format, args);
    va_end(args);
    return result;
}
