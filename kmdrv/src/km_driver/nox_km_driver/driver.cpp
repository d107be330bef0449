// Entry point: the log setting, the version banner and the framework driver.

#include "device.h"
#include "noxkm_log.h"
#include "public/noxkm_ioctl.h"

#include <cstring>

namespace {

constexpr size_t version_text_chars = 200;

VOID noxkm_EvtDriverContextCleanup(WDFOBJECT driver)
{
    NOXKM_LOG(noxkm::log_trace, "\n");
    NOXKM_LOG(noxkm::log_trace, "<< DriverUnload\n");
    NOXKM_LOG(noxkm::log_trace, "<<<<<<<<<<<<<<<<<<<\n\n");
    WPP_CLEANUP(WdfDriverWdmGetDriverObject(static_cast<WDFDRIVER>(driver)));
}

// Reads HKLM\Software\Corvane\usb_driver\service_log_level (a 4-byte
// REG_DWORD); false when there is no such value.
bool read_log_setting(ULONG* setting)
{
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, L"\\Registry\\Machine\\Software\\Corvane\\usb_driver");
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
    HANDLE key = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        return false;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, L"service_log_level");
    union {
        KEY_VALUE_PARTIAL_INFORMATION info;
        UCHAR bytes[offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data) + sizeof(ULONG)];
    } value{};
    ULONG length = 0;
    const NTSTATUS status =
        ZwQueryValueKey(key, &name, KeyValuePartialInformation, &value, sizeof value, &length);
    ZwClose(key);
    if (!NT_SUCCESS(status) || value.info.Type != REG_DWORD || value.info.DataLength != sizeof(ULONG)) {
        return false;
    }
    ULONG raw;
    memcpy(&raw, value.info.Data, sizeof raw);
    *setting = (raw & 0xFF) | (raw & 0xFFFF0000);
    return true;
}

// Link time of the driver image, from its file header (0 when unreadable).
ULONG image_link_time(PDRIVER_OBJECT driver_object)
{
    const auto* base = static_cast<const UCHAR*>(driver_object->DriverStart);
    if (base == nullptr) {
        return 0;
    }
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) {
        return 0;
    }
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->Signature == IMAGE_NT_SIGNATURE ? nt->FileHeader.TimeDateStamp : 0;
}

void compose_version_text(PDRIVER_OBJECT driver_object, PWSTR text)
{
    LARGE_INTEGER system_time;
    // Seconds since 1970 to 100-ns units since 1601.
    system_time.QuadPart = (static_cast<LONGLONG>(image_link_time(driver_object)) + 11644473600LL) * 10000000LL;
    LARGE_INTEGER local_time;
    ExSystemTimeToLocalTime(&system_time, &local_time);
    TIME_FIELDS fields;
    RtlTimeToTimeFields(&local_time, &fields);
    RtlStringCchPrintfW(text, version_text_chars, L"nox_km_driver, ver=%d.%d.0.%d build (fre) %04d/%02d/%0d %02d:%02d:%02d",
                        noxkm::version_major, noxkm::version_minor, noxkm::version_build, fields.Year, fields.Month,
                        fields.Day, fields.Hour, fields.Minute, fields.Second);
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver_object, PUNICODE_STRING registry_path)
{
    ULONG setting = 0;
    if (read_log_setting(&setting)) {
        noxkm::log_setting = setting;
        DbgPrintEx(DPFLTR_IHVSTREAMING_ID, DPFLTR_ERROR_LEVEL, "[nox_km]Log level set to 0x%x.\n",
                   static_cast<unsigned>(setting));
    }
    WCHAR version_text[version_text_chars];
    compose_version_text(driver_object, version_text);
    NOXKM_LOG(noxkm::log_trace, ">>>>>>>>>>>>>>>>>>>\n");
    NOXKM_LOG(noxkm::log_trace, ">> DriverEntry of %S\n", version_text);
    NOXKM_LOG(noxkm::log_trace, "\n");

    WPP_INIT_TRACING(driver_object, registry_path);
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, &noxkm_Device_Create);
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.EvtCleanupCallback = &noxkm_EvtDriverContextCleanup;
    const NTSTATUS status = WdfDriverCreate(driver_object, registry_path, &attributes, &config, WDF_NO_HANDLE);
    if (!NT_SUCCESS(status)) {
        WPP_CLEANUP(driver_object);
    }
    return status;
}
