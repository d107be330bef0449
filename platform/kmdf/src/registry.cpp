// The stand-in's registry (kernel paths, in memory) with the kernel's key
// calls, and the device properties that drivers write.

#include "km_kernel.h"
#include "kmdf_host.h"
#include "standin_internal.h"

#include <cstring>
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace kmdf {
namespace {

struct value {
    ULONG type = 0;
    std::vector<std::uint8_t> data;
};
using key_values = std::map<std::wstring, value>;

std::mutex g_registry_lock;
std::map<std::wstring, key_values> g_keys;

std::wstring fold(std::wstring_view text)
{
    std::wstring result(text);
    for (auto& c : result) {
        c = static_cast<wchar_t>(towlower(c));
    }
    while (!result.empty() && result.back() == L'\\') {
        result.pop_back();
    }
    return result;
}

struct property_key {
    PDEVICE_OBJECT pdo;
    GUID fmtid;
    DEVPROPID pid;
    bool operator<(const property_key& other) const
    {
        if (pdo != other.pdo) return pdo < other.pdo;
        if (pid != other.pid) return pid < other.pid;
        return memcmp(&fmtid, &other.fmtid, sizeof(GUID)) < 0;
    }
};
std::mutex g_property_lock;
std::map<property_key, device_property> g_properties;
NTSTATUS g_property_failure = STATUS_SUCCESS;

struct open_key {
    std::wstring path;
};

} // namespace

namespace registry {
void set_value(std::wstring_view path, std::wstring_view name, ULONG type, const void* data, ULONG size)
{
    std::lock_guard lock(g_registry_lock);
    value& v = g_keys[fold(path)][fold(name)];
    v.type = type;
    v.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
}

void set_dword(std::wstring_view path, std::wstring_view name, DWORD data)
{
    set_value(path, name, REG_DWORD, &data, sizeof data);
}

void set_string(std::wstring_view path, std::wstring_view name, std::wstring_view text)
{
    std::wstring stored(text);
    set_value(path, name, REG_SZ, stored.c_str(), static_cast<ULONG>((stored.size() + 1) * sizeof(wchar_t)));
}

void delete_key(std::wstring_view path)
{
    std::lock_guard lock(g_registry_lock);
    g_keys.erase(fold(path));
}

void clear()
{
    std::lock_guard lock(g_registry_lock);
    g_keys.clear();
}
} // namespace registry

namespace detail {
NTSTATUS registry_open(std::wstring_view path, HANDLE* key)
{
    {
        std::lock_guard lock(g_registry_lock);
        if (g_keys.find(fold(path)) == g_keys.end()) {
            return STATUS_OBJECT_NAME_NOT_FOUND;
        }
    }
    *key = reinterpret_cast<HANDLE>(new open_key{fold(path)});
    return STATUS_SUCCESS;
}

void registry_close(HANDLE key) { delete reinterpret_cast<open_key*>(key); }

NTSTATUS registry_query(HANDLE key, std::wstring_view name, ULONG* type, std::vector<std::uint8_t>* data)
{
    const auto* open = reinterpret_cast<open_key*>(key);
    std::lock_guard lock(g_registry_lock);
    const auto k = g_keys.find(open->path);
    if (k == g_keys.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    const auto v = k->second.find(fold(name));
    if (v == k->second.end()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *type = v->second.type;
    *data = v->second.data;
    return STATUS_SUCCESS;
}
} // namespace detail

device_property get_device_property(PDEVICE_OBJECT pdo, const DEVPROPKEY& key)
{
    std::lock_guard lock(g_property_lock);
    const auto found = g_properties.find({pdo, key.fmtid, key.pid});
    return found == g_properties.end() ? device_property{} : found->second;
}

void clear_device_properties()
{
    std::lock_guard lock(g_property_lock);
    g_properties.clear();
}

void fail_device_property_writes(NTSTATUS status)
{
    std::lock_guard lock(g_property_lock);
    g_property_failure = status;
}

} // namespace kmdf

NTSTATUS ZwOpenKey(PHANDLE key, ACCESS_MASK, POBJECT_ATTRIBUTES attributes)
{
    if (attributes == nullptr || attributes->ObjectName == nullptr || attributes->ObjectName->Buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const std::wstring_view path(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(WCHAR));
    return kmdf::detail::registry_open(path, key);
}

NTSTATUS ZwQueryValueKey(HANDLE key, PUNICODE_STRING name, KEY_VALUE_INFORMATION_CLASS information_class,
                         PVOID information, ULONG length, PULONG result_length)
{
    if (information_class != KeyValuePartialInformation || name == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG type = 0;
    std::vector<std::uint8_t> data;
    const NTSTATUS status = kmdf::detail::registry_query(
        key, std::wstring_view(name->Buffer, name->Length / sizeof(WCHAR)), &type, &data);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONG header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
    const ULONG needed = header + static_cast<ULONG>(data.size());
    *result_length = needed;
    if (length < header) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    auto* partial = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(information);
    partial->TitleIndex = 0;
    partial->Type = type;
    partial->DataLength = static_cast<ULONG>(data.size());
    if (length < needed) {
        return STATUS_BUFFER_OVERFLOW;
    }
    if (!data.empty()) {
        memcpy(partial->Data, data.data(), data.size());
    }
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE handle)
{
    kmdf::detail::registry_close(handle);
    return STATUS_SUCCESS;
}

NTSTATUS IoSetDevicePropertyData(PDEVICE_OBJECT pdo, const DEVPROPKEY* key, LCID lcid, ULONG flags,
                                 DEVPROPTYPE type, ULONG size, PVOID data)
{
    std::lock_guard lock(kmdf::g_property_lock);
    if (kmdf::g_property_failure != STATUS_SUCCESS) {
        return kmdf::g_property_failure;
    }
    kmdf::device_property& property = kmdf::g_properties[{pdo, key->fmtid, key->pid}];
    property.present = true;
    property.lcid = lcid;
    property.flags = flags;
    property.type = type;
    property.data.assign(static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + size);
    return STATUS_SUCCESS;
}
