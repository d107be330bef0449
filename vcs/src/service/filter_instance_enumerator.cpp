#include "service/filter_instance_enumerator.h"

#include <shlwapi.h>
#include <uuids.h>

#include <stdexcept>
#include <vector>

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"

namespace DRM {

namespace {
// {9A49A4A3-7000-489B-80AE-B41A781A4CFB}
constexpr CLSID camera_filter_clsid = {0x9A49A4A3, 0x7000, 0x489B, {0x80, 0xAE, 0xB4, 0x1A, 0x78, 0x1A, 0x4C, 0xFB}};

const REGPINTYPES camera_pin_types[] = {{&MEDIATYPE_Video, &GUID_NULL}};
const REGFILTERPINS camera_pins[] = {{
    const_cast<LPWSTR>(L"Output"), // strName
    FALSE,                         // bRendered
    TRUE,                          // bOutput
    FALSE,                         // bZero
    FALSE,                         // bMany
    &GUID_NULL,                    // clsConnectsToFilter
    nullptr,                       // strConnectsToPin
    1, camera_pin_types,
}};
REGFILTER2 make_camera_registration()
{
    REGFILTER2 registration{};
    registration.dwVersion = 1;
    registration.dwMerit = MERIT_DO_NOT_USE;
    registration.cPins = 1;
    registration.rgPins = camera_pins;
    return registration;
}

constexpr REGSAM view_64 = KEY_READ | KEY_WRITE | KEY_WOW64_64KEY;
constexpr REGSAM view_32 = KEY_READ | KEY_WRITE | KEY_WOW64_32KEY;

utils::unique_hkey open_key(HKEY parent, const std::wstring& path, REGSAM access)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(parent, path.c_str(), 0, access, &raw) != ERROR_SUCCESS) {
        return nullptr;
    }
    return utils::unique_hkey(raw);
}

void write_or_throw(LSTATUS status, const char* what)
{
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error(what);
    }
}

LSTATUS write_dword(HKEY key, const wchar_t* name, DWORD value)
{
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The bytes of a REG_BINARY value; empty when it is missing or of another type.
std::vector<BYTE> read_binary(HKEY key, const wchar_t* name)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_BINARY) {
        return {};
    }
    std::vector<BYTE> data(size);
    if (size != 0 && utils::reg_read_value(key, name, data.data(), size, REG_BINARY) != ERROR_SUCCESS) {
        return {};
    }
    return data;
}
} // namespace

const filter_description& camera_filter()
{
    static const REGFILTER2 registration = make_camera_registration();
    static const filter_description filter{camera_filter_clsid, &registration};
    return filter;
}

namespace {
Microsoft::WRL::ComPtr<IFilterMapper2> create_filter_mapper()
{
    Microsoft::WRL::ComPtr<IFilterMapper2> mapper;
    if (FAILED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(mapper.GetAddressOf())))) {
        throw std::runtime_error("Failed to fetch CLSID_FilterMapper2.");
    }
    return mapper;
}
} // namespace

enumerator::enumerator(std::wstring devices_path) : enumerator(create_filter_mapper(), std::move(devices_path)) {}

enumerator::enumerator(Microsoft::WRL::ComPtr<IFilterMapper2> filter_mapper, std::wstring devices_path)
    : filter_mapper_(std::move(filter_mapper)), devices_path_(std::move(devices_path))
{
    if (!filter_mapper_) {
        throw std::runtime_error("Failed to fetch CLSID_FilterMapper2.");
    }
    instance_root_ = L"CLSID\\" + utils::device_registry::guid_text(CLSID_VideoInputDeviceCategory) + L"\\Instance";
    // Device keys are created below this key, so it is kept open for writing.
    HKEY raw = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, devices_path_.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS) {
        throw std::runtime_error("The registry key for the registered devices could not be opened.");
    }
    devices_key_.reset(raw);
}

void enumerator::reset()
{
    purge_instances(view_64);
    purge_instances(view_32);
    for (auto& [key, entry] : entries_) {
        entry.removed = true;
    }
}

void enumerator::purge_instances(REGSAM view_access)
{
    const utils::unique_hkey root = open_key(HKEY_CLASSES_ROOT, instance_root_, view_access);
    if (!root) {
        return;
    }
    // Names first: deleting while enumerating would shift the indices.
    std::vector<std::wstring> names;
    LSTATUS status = ERROR_SUCCESS;
    for (DWORD index = 0;; ++index) {
        std::wstring name;
        status = utils::reg_enum_subkey(root.get(), index, name);
        if (status != ERROR_SUCCESS) {
            break;
        }
        names.push_back(std::move(name));
    }
    if (status != ERROR_NO_MORE_ITEMS) {
        return;
    }
    for (const std::wstring& name : names) {
        DWORD remove = 0;
        {
            const utils::unique_hkey instance = open_key(root.get(), name, view_access);
            if (!instance || utils::reg_read_value(instance.get(), remove_on_close_value, &remove, sizeof(remove),
                                                   REG_DWORD) != ERROR_SUCCESS) {
                continue;
            }
        }
        if (remove != 0) {
            SHDeleteKeyW(root.get(), name.c_str());
        }
    }
}

void enumerator::load_device(std::wstring_view key_name)
{
    const utils::unique_hkey device_key = open_key(devices_key_.get(), std::wstring(key_name), KEY_READ | KEY_WRITE);
    if (!device_key) {
        return;
    }
    try {
        device_entry entry = utils::device_registry::read_instance_clsid(device_key.get(), key_name);
        entries_.try_emplace(entry.key_name, std::move(entry));
    } catch (const std::exception&) {
        // Not a camera's key, or one whose instance CLSID is unreadable: a
        // fresh one is made when the camera is seen again.
    }
}

void enumerator::load_devices()
{
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        std::wstring name;
        if (utils::reg_enum_subkey(devices_key_.get(), index, name) != ERROR_SUCCESS) {
            break;
        }
        names.push_back(std::move(name));
    }
    for (const std::wstring& name : names) {
        load_device(name);
    }
}

std::optional<device_entry> enumerator::find(std::wstring_view unique_key) const
{
    const auto it = entries_.find(std::wstring(unique_key));
    if (it == entries_.end()) {
        return std::nullopt;
    }
    return it->second;
}

bool enumerator::register_device(std::wstring_view unique_key, std::wstring_view friendly_name,
                                 const filter_description& filter)
{
    auto it = entries_.find(std::wstring(unique_key));
    if (it != entries_.end()) {
        device_entry& entry = it->second;
        if (entry.friendly_name == friendly_name && !entry.removed) {
            return true;
        }
        // The device key keeps the name it was created with.
        entry.friendly_name = friendly_name;
    } else {
        device_entry created =
            utils::device_registry::create_device_key(devices_key_.get(), unique_key, friendly_name, filter.clsid);
        it = entries_.emplace(created.key_name, std::move(created)).first;
    }
    device_entry& entry = it->second;
    if (register_filter_instance(entry, filter)) {
        entry.filter_clsid = filter.clsid;
        entry.removed = false;
    }
    return false;
}

void enumerator::write_instance_values(HKEY instance_key, const device_entry& entry) const
{
    const std::wstring device_path = std::wstring(device_path_prefix) + entry.key_name;
    write_or_throw(write_dword(instance_key, L"IPAddress", 0), "Failed to write IPAddress to registry.");
    write_or_throw(utils::reg_write_string(instance_key, L"DeviceUniqueKey", entry.key_name),
                   "Failed to write MAC to registry.");
    write_or_throw(write_dword(instance_key, remove_on_close_value.data(), 1),
                   "Failed to write remove_entry_key to registry.");
    write_or_throw(utils::reg_write_string(instance_key, L"DevicePath", device_path),
                   "Failed to write DevicePath to registry.");
    write_or_throw(utils::reg_write_string(instance_key, L"FriendlyName", entry.friendly_name),
                   "Failed to write friendly_name_w to registry.");
}

bool enumerator::register_filter_instance(const device_entry& entry, const filter_description& filter)
{
    const std::wstring instance = utils::device_registry::guid_text(entry.instance_clsid);
    if (FAILED(filter_mapper_->RegisterFilter(filter.clsid, entry.friendly_name.c_str(), nullptr,
                                              &CLSID_VideoInputDeviceCategory, instance.c_str(),
                                              filter.registration))) {
        return false;
    }
    const std::wstring path = instance_root_ + L"\\" + instance;
    try {
        // Both views must end up whole: the 64-bit key that RegisterFilter
        // just wrote gives the 32-bit copy its CLSID and FilterData, so
        // without it the registration counts as failed rather than half done.
        const utils::unique_hkey key64 = open_key(HKEY_CLASSES_ROOT, path, view_64);
        if (!key64) {
            throw std::runtime_error("Failed to open the 64-bit instance key.");
        }
        write_instance_values(key64.get(), entry);
        std::wstring clsid_text;
        if (utils::reg_read_string(key64.get(), L"CLSID", clsid_text) != ERROR_SUCCESS) {
            throw std::runtime_error("Failed to read CLSID from registry.");
        }
        clsid_text.resize(std::wstring_view(clsid_text.c_str()).size()); // without a stored zero
        const std::vector<BYTE> filter_data = read_binary(key64.get(), L"FilterData");
        if (clsid_text.empty() || filter_data.empty()) {
            throw std::runtime_error("The 64-bit instance key holds no CLSID or FilterData.");
        }
        HKEY raw = nullptr;
        if (RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, view_32, nullptr, &raw, nullptr) !=
            ERROR_SUCCESS) {
            throw std::runtime_error("Failed to create the 32-bit instance key.");
        }
        const utils::unique_hkey key32(raw);
        write_instance_values(key32.get(), entry);
        write_or_throw(utils::reg_write_string(key32.get(), L"CLSID", clsid_text),
                       "Failed to write CLSID to registry.");
        write_or_throw(RegSetValueExW(key32.get(), L"FilterData", 0, REG_BINARY, filter_data.data(),
                                      static_cast<DWORD>(filter_data.size())),
                       "Failed to write FilterData to registry.");
    } catch (const std::exception& e) {
        // Undone, so that no application finds a half-registered camera; the
        // entry stays removed and the next refresh registers it again.
        log_line(logging::level_error,
                 "[CamTovra] DRM::enumerator::register_filter_instance, \"{}\" not registered: {}\n",
                 utils::to_utf8(entry.key_name), e.what());
        unregister_filter_instance(entry.instance_clsid, filter.clsid);
        return false;
    }
    return true;
}

void enumerator::unregister_filter_instance(const GUID& instance_clsid, const GUID& filter_clsid)
{
    const std::wstring instance = utils::device_registry::guid_text(instance_clsid);
    filter_mapper_->UnregisterFilter(&CLSID_VideoInputDeviceCategory, instance.c_str(), filter_clsid);
    for (const REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        if (const utils::unique_hkey root = open_key(HKEY_CLASSES_ROOT, instance_root_, KEY_ALL_ACCESS | view)) {
            SHDeleteKeyW(root.get(), instance.c_str());
        }
    }
}

void enumerator::unregister_device(std::wstring_view unique_key)
{
    const auto it = entries_.find(std::wstring(unique_key));
    if (it == entries_.end()) {
        return;
    }
    unregister_filter_instance(it->second.instance_clsid, it->second.filter_clsid);
    it->second.removed = true;
}

utils::unique_hkey enumerator::open_device_key(const device_entry& entry) const
{
    if (utils::unique_hkey key = open_key(devices_key_.get(), entry.key_name, KEY_READ | KEY_WRITE)) {
        return key;
    }
    HKEY raw = nullptr;
    if (RegCreateKeyExW(devices_key_.get(), entry.key_name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &raw, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    utils::unique_hkey key(raw);
    utils::device_registry::write_device_values(key.get(), entry.friendly_name, entry.instance_clsid);
    return key;
}

} // namespace DRM
