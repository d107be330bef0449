#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"

#include <cstddef>
#include <cstring>

namespace device_change {

namespace {
// DEV_BROADCAST_DEVICEINTERFACE_W up to its name: size, device type,
// reserved (three DWORDs), then the class GUID.
constexpr std::size_t class_offset = 12;
constexpr std::size_t name_offset = 28;
} // namespace

std::optional<device_interface_event> read_device_interface_broadcast(WPARAM event, LPARAM record)
{
    if ((event != device_arrival && event != device_remove_complete) || record == 0) {
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(record);
    DWORD size = 0;
    DWORD type = 0;
    std::memcpy(&size, bytes, sizeof(size));
    std::memcpy(&type, bytes + 4, sizeof(type));
    if (type != device_type_interface || size < min_interface_record_size) {
        return std::nullopt;
    }
    device_interface_event out;
    std::memcpy(&out.interface_class, bytes + class_offset, sizeof(GUID));
    const std::size_t max_chars = (size - name_offset) / sizeof(wchar_t);
    for (std::size_t i = 0; i < max_chars; ++i) {
        wchar_t c = 0;
        std::memcpy(&c, bytes + name_offset + i * sizeof(wchar_t), sizeof(c));
        if (c == 0) {
            break;
        }
        out.name.push_back(c);
    }
    out.removed = event == device_remove_complete;
    return out;
}

std::vector<DWORD> make_device_interface_broadcast(std::wstring_view name, const GUID& interface_class)
{
    const DWORD size = static_cast<DWORD>(28 + (name.size() + 1) * sizeof(wchar_t));
    std::vector<DWORD> storage((size + 3) / 4, 0);
    auto* raw = reinterpret_cast<unsigned char*>(storage.data());
    std::memcpy(raw, &size, 4);
    std::memcpy(raw + 4, &device_type_interface, 4);
    std::memcpy(raw + 12, &interface_class, sizeof(GUID));
    std::memcpy(raw + 28, name.data(), name.size() * sizeof(wchar_t));
    return storage;
}

} // namespace device_change
