#include "service/filter_instance_enumerator.h"

#include <gtest/gtest.h>

#include <uuids.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "gen_utils/win32_utils.h"

namespace {
using Microsoft::WRL::ComPtr;

constexpr REGSAM view_64 = KEY_WOW64_64KEY;
constexpr REGSAM view_32 = KEY_WOW64_32KEY;

// Passes everything to the system's filter mapper, except RegisterFilter
// while `fail_register` is set. With `lose_64_bit_key` RegisterFilter
// succeeds but its 64-bit instance key is gone right after, as when another
// process purges the category in between.
class switchable_filter_mapper final : public IFilterMapper2 {
public:
    explicit switchable_filter_mapper(ComPtr<IFilterMapper2> real) : real_(std::move(real)) {}
    bool fail_register = true;
    bool lose_64_bit_key = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IFilterMapper2) {
            *out = static_cast<IFilterMapper2*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --refs_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID category, DWORD merit, LPCWSTR description) override
    {
        return real_->CreateCategory(category, merit, description);
    }
    HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID* category, LPCOLESTR instance, REFCLSID filter) override
    {
        return real_->UnregisterFilter(category, instance, filter);
    }
    HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID filter, LPCWSTR name, IMoniker** moniker,
                                             const CLSID* category, LPCOLESTR instance,
                                             const REGFILTER2* registration) override
    {
        if (fail_register) {
            return E_FAIL;
        }
        const HRESULT result = real_->RegisterFilter(filter, name, moniker, category, instance, registration);
        if (SUCCEEDED(result) && lose_64_bit_key) {
            HKEY root = nullptr;
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance", 0,
                              KEY_ALL_ACCESS | KEY_WOW64_64KEY, &root) == ERROR_SUCCESS) {
                RegDeleteTreeW(root, instance);
                RegCloseKey(root);
            }
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumMoniker** out, DWORD flags, WINBOOL exact, DWORD merit,
                                                  WINBOOL input_needed, DWORD input_types, const GUID* inputs,
                                                  const REGPINMEDIUM* medium_in, const CLSID* category_in,
                                                  WINBOOL render, WINBOOL output_needed, DWORD output_types,
                                                  const GUID* outputs, const REGPINMEDIUM* medium_out,
                                                  const CLSID* category_out) override
    {
        return real_->EnumMatchingFilters(out, flags, exact, merit, input_needed, input_types, inputs, medium_in,
                                          category_in, render, output_needed, output_types, outputs, medium_out,
                                          category_out);
    }

private:
    ComPtr<IFilterMapper2> real_;
    std::atomic<ULONG> refs_{1};
};

// The text of a REG_SZ value up to its first zero (Wine reports values
// stored without a zero as if they had one).
std::wstring read_string(HKEY key, const wchar_t* name)
{
    DWORD type = REG_NONE;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS || type != REG_SZ) {
        return L"<missing>";
    }
    std::wstring text;
    utils::reg_read_string(key, name, text);
    return text.c_str();
}

DWORD read_dword(HKEY key, const wchar_t* name)
{
    DWORD value = 0xDEADBEEF;
    utils::reg_read_value(key, name, &value, sizeof(value), REG_DWORD);
    return value;
}

std::vector<BYTE> read_binary(HKEY key, const wchar_t* name)
{
    DWORD size = 0;
    DWORD type = REG_NONE;
    RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size);
    if (size != 0) {
        RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
    }
    return data;
}

// The friendly names that applications enumerating video capture devices see.
std::set<std::wstring> listed_video_inputs()
{
    std::set<std::wstring> names;
    ComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(devices.GetAddressOf())))) {
        ADD_FAILURE() << "no system device enumerator";
        return names;
    }
    ComPtr<IEnumMoniker> monikers;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.GetAddressOf(), 0) != S_OK) {
        return names;
    }
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(bag.GetAddressOf())))) {
            continue;
        }
        VARIANT value;
        VariantInit(&value);
        if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR) {
            names.insert(value.bstrVal);
        }
        VariantClear(&value);
    }
    return names;
}

struct enumerator_test : ::testing::Test {
    std::wstring root = L"Software\\Corvane\\CamTovraService\\tests\\" + win32::make_unique_global_name(L"").substr(7);
    std::wstring devices_path = root + L"\\devices";
    std::vector<std::wstring> foreign_instances;

    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override
    {
        {
            DRM::enumerator cleanup(devices_path);
            cleanup.reset();
        }
        for (const std::wstring& name : foreign_instances) {
            for (const REGSAM view : {view_64, view_32}) {
                HKEY key = nullptr;
                if (RegOpenKeyExW(HKEY_CLASSES_ROOT, instance_root().c_str(), 0, KEY_ALL_ACCESS | view, &key) ==
                    ERROR_SUCCESS) {
                    RegDeleteTreeW(key, name.c_str());
                    RegCloseKey(key);
                }
            }
        }
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, root.c_str());
        CoUninitialize();
    }

    static std::wstring instance_root()
    {
        return L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
    }
    static utils::unique_hkey instance_key(const GUID& instance, REGSAM view)
    {
        const std::wstring path = instance_root() + L"\\" + win32::guid_to_wstring(instance);
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
            return nullptr;
        }
        return utils::unique_hkey(key);
    }
    utils::unique_hkey device_key(const std::wstring& name) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (devices_path + L"\\" + name).c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS) {
            return nullptr;
        }
        return utils::unique_hkey(key);
    }
    utils::unique_hkey make_device_key(const std::wstring& name) const
    {
        HKEY key = nullptr;
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, (devices_path + L"\\" + name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr);
        return utils::unique_hkey(key);
    }
};

TEST_F(enumerator_test, new_camera_gets_device_key_and_instance_in_both_views)
{
    DRM::enumerator registry(devices_path);
    EXPECT_FALSE(registry.register_device(L"USB#CAM-0001", L"Camera A", DRM::camera_filter()));
    const auto entry = registry.find(L"USB#CAM-0001");
    ASSERT_TRUE(entry);
    EXPECT_FALSE(entry->removed);
    EXPECT_NE(entry->instance_clsid, GUID{});
    EXPECT_EQ(entry->filter_clsid, DRM::camera_filter().clsid);
    const std::wstring instance_text = win32::guid_to_wstring(entry->instance_clsid);

    const auto device = device_key(L"USB#CAM-0001");
    ASSERT_TRUE(device);
    EXPECT_EQ(read_string(device.get(), L"FriendlyName"), L"Camera A");
    EXPECT_EQ(read_string(device.get(), L"DevicePropertyInstanceCLSID"), instance_text);

    std::vector<BYTE> filter_data[2];
    int view_index = 0;
    for (const REGSAM view : {view_64, view_32}) {
        SCOPED_TRACE(view == view_64 ? "64-bit view" : "32-bit view");
        const auto key = instance_key(entry->instance_clsid, view);
        ASSERT_TRUE(key);
        EXPECT_EQ(read_string(key.get(), L"DevicePath"), L"dshowdeviceservice:USB#CAM-0001");
        EXPECT_EQ(read_string(key.get(), L"DeviceUniqueKey"), L"USB#CAM-0001");
        EXPECT_EQ(read_string(key.get(), L"FriendlyName"), L"Camera A");
        EXPECT_EQ(read_string(key.get(), L"CLSID"), L"{9A49A4A3-7000-489B-80AE-B41A781A4CFB}");
        EXPECT_EQ(read_dword(key.get(), L"IPAddress"), 0u);
        EXPECT_EQ(read_dword(key.get(), L"CamTovraService_RemoveEntryOnClose"), 1u);
        filter_data[view_index++] = read_binary(key.get(), L"FilterData");
    }
    EXPECT_FALSE(filter_data[0].empty());
    EXPECT_EQ(filter_data[0], filter_data[1]);

    EXPECT_EQ(listed_video_inputs().count(L"Camera A"), 1u);
    EXPECT_TRUE(registry.register_device(L"USB#CAM-0001", L"Camera A", DRM::camera_filter()));
}

TEST_F(enumerator_test, camera_seen_again_keeps_its_instance_clsid)
{
    GUID first{};
    {
        DRM::enumerator registry(devices_path);
        registry.register_device(L"cam-b", L"Camera B", DRM::camera_filter());
        first = registry.find(L"cam-b")->instance_clsid;

        registry.unregister_device(L"cam-b");
        EXPECT_TRUE(registry.find(L"cam-b")->removed);
        EXPECT_FALSE(instance_key(first, view_64));
        EXPECT_FALSE(instance_key(first, view_32));
        EXPECT_TRUE(device_key(L"cam-b")); // the device key stays

        EXPECT_FALSE(registry.register_device(L"cam-b", L"Camera B", DRM::camera_filter()));
        EXPECT_EQ(registry.find(L"cam-b")->instance_clsid, first);
        EXPECT_TRUE(instance_key(first, view_64));
    }
    // After a restart the entry comes back from the registry, marked removed.
    DRM::enumerator restarted(devices_path);
    restarted.reset();
    restarted.load_devices();
    const auto loaded = restarted.find(L"cam-b");
    ASSERT_TRUE(loaded);
    EXPECT_TRUE(loaded->removed);
    EXPECT_TRUE(loaded->friendly_name.empty());
    EXPECT_EQ(loaded->instance_clsid, first);
    EXPECT_FALSE(instance_key(first, view_64)); // reset removed the instance left behind

    EXPECT_FALSE(restarted.register_device(L"cam-b", L"Camera B", DRM::camera_filter()));
    EXPECT_EQ(restarted.find(L"cam-b")->instance_clsid, first);
    EXPECT_TRUE(instance_key(first, view_32));
}

TEST_F(enumerator_test, rename_rewrites_the_instance_name_but_not_the_device_key)
{
    DRM::enumerator registry(devices_path);
    registry.register_device(L"cam-c", L"Old name", DRM::camera_filter());
    const GUID instance = registry.find(L"cam-c")->instance_clsid;

    EXPECT_FALSE(registry.register_device(L"cam-c", L"New name", DRM::camera_filter()));
    EXPECT_EQ(registry.find(L"cam-c")->instance_clsid, instance);
    EXPECT_EQ(registry.find(L"cam-c")->friendly_name, L"New name");
    for (const REGSAM view : {view_64, view_32}) {
        const auto key = instance_key(instance, view);
        ASSERT_TRUE(key);
        EXPECT_EQ(read_string(key.get(), L"FriendlyName"), L"New name");
    }
    EXPECT_EQ(read_string(device_key(L"cam-c").get(), L"FriendlyName"), L"Old name");
}

TEST_F(enumerator_test, reset_removes_marked_instances_and_leaves_foreign_ones)
{
    DRM::enumerator registry(devices_path);
    registry.register_device(L"cam-d", L"Camera D", DRM::camera_filter());
    const GUID ours = registry.find(L"cam-d")->instance_clsid;

    // Instances of another program: one without the marker, one with it at 0.
    for (int i = 0; i < 2; ++i) {
        GUID foreign{};
        CoCreateGuid(&foreign);
        foreign_instances.push_back(win32::guid_to_wstring(foreign));
        for (const REGSAM view : {view_64, view_32}) {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT,
                                      (instance_root() + L"\\" + foreign_instances.back()).c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS | view, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            const DWORD zero = 0;
            utils::reg_write_string(key, L"FriendlyName", L"Other camera");
            if (i == 1) {
                RegSetValueExW(key, L"CamTovraService_RemoveEntryOnClose", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
            }
            RegCloseKey(key);
        }
    }

    registry.reset();
    EXPECT_TRUE(registry.find(L"cam-d")->removed);
    EXPECT_FALSE(instance_key(ours, view_64));
    EXPECT_FALSE(instance_key(ours, view_32));
    EXPECT_TRUE(device_key(L"cam-d"));
    for (const std::wstring& name : foreign_instances) {
        GUID foreign{};
        IIDFromString(name.c_str(), &foreign);
        EXPECT_TRUE(instance_key(foreign, view_64)) << "64-bit " << std::string(name.begin(), name.end());
        EXPECT_TRUE(instance_key(foreign, view_32)) << "32-bit " << std::string(name.begin(), name.end());
    }
}

TEST_F(enumerator_test, loading_skips_keys_without_a_readable_instance_clsid)
{
    GUID good{};
    CoCreateGuid(&good);
    const DWORD number = 5;
    utils::reg_write_string(make_device_key(L"_service_defaults").get(), L"export_debug_properties", L"1");
    RegSetValueExW(make_device_key(L"as-dword").get(), L"DevicePropertyInstanceCLSID", 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&number), sizeof(number));
    utils::reg_write_string(make_device_key(L"zero-guid").get(), L"DevicePropertyInstanceCLSID",
                            L"{00000000-0000-0000-0000-000000000000}");
    utils::reg_write_string(make_device_key(L"no-guid").get(), L"DevicePropertyInstanceCLSID", L"camera seven");
    utils::reg_write_string(make_device_key(L"good").get(), L"DevicePropertyInstanceCLSID",
                            win32::guid_to_wstring(good));

    DRM::enumerator registry(devices_path);
    registry.load_devices();
    registry.load_device(L"no-such-key");
    for (const wchar_t* skipped : {L"_service_defaults", L"as-dword", L"zero-guid", L"no-guid", L"no-such-key"}) {
        EXPECT_FALSE(registry.find(skipped)) << std::string(skipped, skipped + wcslen(skipped));
    }
    ASSERT_TRUE(registry.find(L"good"));
    EXPECT_EQ(registry.find(L"good")->instance_clsid, good);

    // A camera whose key holds a broken value gets a fresh, readable one.
    EXPECT_FALSE(registry.register_device(L"as-dword", L"Repaired", DRM::camera_filter()));
    const GUID fresh = registry.find(L"as-dword")->instance_clsid;
    EXPECT_EQ(utils::device_registry::read_instance_clsid(device_key(L"as-dword").get(), L"as-dword").instance_clsid,
              fresh);
}

TEST_F(enumerator_test, failing_filter_registration_leaves_the_entry_removed_until_it_succeeds)
{
    ComPtr<IFilterMapper2> real;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                           reinterpret_cast<void**>(real.GetAddressOf()))));
    auto* mapper = new switchable_filter_mapper(real);
    ComPtr<IFilterMapper2> owned;
    owned.Attach(mapper);
    DRM::enumerator registry(owned, devices_path);

    EXPECT_FALSE(registry.register_device(L"cam-e", L"Camera E", DRM::camera_filter()));
    const auto entry = registry.find(L"cam-e");
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->removed);
    EXPECT_FALSE(instance_key(entry->instance_clsid, view_64));
    EXPECT_FALSE(instance_key(entry->instance_clsid, view_32));
    EXPECT_TRUE(device_key(L"cam-e")); // the device key is made all the same

    // Each refresh tries again (and announces the camera again) until it works.
    EXPECT_FALSE(registry.register_device(L"cam-e", L"Camera E", DRM::camera_filter()));
    mapper->fail_register = false;
    EXPECT_FALSE(registry.register_device(L"cam-e", L"Camera E", DRM::camera_filter()));
    EXPECT_FALSE(registry.find(L"cam-e")->removed);
    EXPECT_TRUE(instance_key(entry->instance_clsid, view_32));
    EXPECT_TRUE(registry.register_device(L"cam-e", L"Camera E", DRM::camera_filter()));
}

// A registration whose 64-bit instance key is missing right after
// RegisterFilter is no registration: nothing is left in either view, the
// entry stays removed, and the next refresh registers the camera whole.
TEST_F(enumerator_test, instance_missing_in_the_64_bit_view_after_registering_is_undone_and_tried_again)
{
    ComPtr<IFilterMapper2> real;
    ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                           reinterpret_cast<void**>(real.GetAddressOf()))));
    auto* mapper = new switchable_filter_mapper(real);
    ComPtr<IFilterMapper2> owned;
    owned.Attach(mapper);
    mapper->fail_register = false;
    mapper->lose_64_bit_key = true;
    DRM::enumerator registry(owned, devices_path);

    EXPECT_FALSE(registry.register_device(L"cam-h", L"Camera H", DRM::camera_filter()));
    const auto entry = registry.find(L"cam-h");
    ASSERT_TRUE(entry);
    EXPECT_TRUE(entry->removed);
    EXPECT_FALSE(instance_key(entry->instance_clsid, view_64));
    EXPECT_FALSE(instance_key(entry->instance_clsid, view_32)) << "a 32-bit copy without CLSID and FilterData";
    EXPECT_EQ(listed_video_inputs().count(L"Camera H"), 0u);

    mapper->lose_64_bit_key = false;
    EXPECT_FALSE(registry.register_device(L"cam-h", L"Camera H", DRM::camera_filter()));
    EXPECT_FALSE(registry.find(L"cam-h")->removed);
    for (const REGSAM view : {view_64, view_32}) {
        const auto key = instance_key(entry->instance_clsid, view);
        ASSERT_TRUE(key);
        EXPECT_EQ(read_string(key.get(), L"CLSID"), L"{9A49A4A3-7000-489B-80AE-B41A781A4CFB}");
        EXPECT_FALSE(read_binary(key.get(), L"FilterData").empty());
        EXPECT_EQ(read_string(key.get(), L"DevicePath"), L"dshowdeviceservice:cam-h");
    }
    EXPECT_TRUE(registry.register_device(L"cam-h", L"Camera H", DRM::camera_filter()));
}

TEST_F(enumerator_test, device_key_that_went_missing_is_recreated_with_its_values)
{
    DRM::enumerator registry(devices_path);
    registry.register_device(L"cam-f", L"Camera F", DRM::camera_filter());
    const auto entry = registry.find(L"cam-f");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (devices_path + L"\\cam-f").c_str());

    const utils::unique_hkey key = registry.open_device_key(*entry);
    ASSERT_TRUE(key);
    EXPECT_EQ(read_string(key.get(), L"FriendlyName"), L"Camera F");
    EXPECT_EQ(read_string(key.get(), L"DevicePropertyInstanceCLSID"), win32::guid_to_wstring(entry->instance_clsid));
}

TEST_F(enumerator_test, devices_key_that_cannot_be_opened_fails_construction)
{
    // A name part longer than the registry allows.
    const std::wstring bad_path = root + L"\\" + std::wstring(300, L'k') + L"\\devices";
    try {
        DRM::enumerator registry(bad_path);
        FAIL() << "constructed";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "The registry key for the registered devices could not be opened.");
    }
}

} // namespace
