// The service executable's switches, run as a separate process against this
// prefix's registry and service control manager.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

#include "registration_user.h"
#include "service_test_support.h"

namespace {

using namespace service_test;

constexpr const wchar_t* app_id_key = L"AppID\\{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}";
constexpr const wchar_t* exe_key = L"AppID\\CamTovraService.EXE";
constexpr const wchar_t* clsid_key = L"CLSID\\{3d50eafb-2522-42c1-95bb-99fa83c0d8ca}";
constexpr const wchar_t* typelib_key = L"TypeLib\\{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}";
constexpr std::array<const wchar_t*, 4> interface_keys{
    L"Interface\\{e6052e35-091a-4b7d-a520-44036944487d}", L"Interface\\{6edcfbe1-9c5a-43df-93d0-05f4569090ba}",
    L"Interface\\{7ee9d4f4-abe2-4bc5-9970-cb0b2432c031}", L"Interface\\{64bd2fc6-e245-4dd3-8587-41c54b1534bb}"};

struct hive {
    HKEY root;
    const wchar_t* classes; // path of the classes below root
};
const hive machine{HKEY_LOCAL_MACHINE, L"Software\\Classes\\"};
const hive user{HKEY_CURRENT_USER, L"Software\\Classes\\"};

bool has(const hive& where, const std::wstring& path)
{
    return key_exists(where.root, where.classes + path);
}
// The same key in the 32-bit registry view.
bool has_32(const hive& where, const std::wstring& path)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(where.root, (where.classes + path).c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}
std::wstring value(const hive& where, const std::wstring& path, const wchar_t* name)
{
    return read_string(where.root, where.classes + path, name);
}

// Every key that registration writes, in one hive.
void expect_registered(const hive& where)
{
    EXPECT_EQ(value(where, app_id_key, nullptr), L"CamTovraService");
    DWORD level = 0;
    DWORD size = sizeof(level);
    EXPECT_EQ(RegGetValueW(where.root, (where.classes + std::wstring(app_id_key)).c_str(), L"AuthenticationLevel",
                           RRF_RT_REG_DWORD, nullptr, &level, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(level, 1u);
    EXPECT_EQ(value(where, exe_key, L"AppID"), L"{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}");
    EXPECT_EQ(value(where, clsid_key, nullptr), L"CamTovraDiscoverService Class");
    EXPECT_EQ(value(where, clsid_key, L"AppID"), L"{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}");
    EXPECT_TRUE(has(where, std::wstring(clsid_key) + L"\\Programmable"));
    EXPECT_EQ(value(where, std::wstring(clsid_key) + L"\\LocalServer32", nullptr), service_exe());
    EXPECT_EQ(value(where, std::wstring(clsid_key) + L"\\TypeLib", nullptr),
              L"{4f4f96be-aa39-4aa0-93ce-edf11d1f5756}");
    EXPECT_EQ(value(where, std::wstring(clsid_key) + L"\\Version", nullptr), L"1.0");
    EXPECT_TRUE(has(where, std::wstring(typelib_key) + L"\\1.0"));
    for (const wchar_t* key : interface_keys) {
        EXPECT_TRUE(has(where, key)) << "missing " << std::string(key, key + wcslen(key));
    }
}

void expect_unregistered(const hive& where)
{
    for (const wchar_t* key : {app_id_key, exe_key, clsid_key, typelib_key}) {
        EXPECT_FALSE(has(where, key)) << "left " << std::string(key, key + wcslen(key));
    }
    for (const wchar_t* key : interface_keys) {
        EXPECT_FALSE(has(where, key)) << "left " << std::string(key, key + wcslen(key));
        EXPECT_FALSE(has_32(where, key)) << "left in the 32-bit view " << std::string(key, key + wcslen(key));
    }
}

class service_registration : public ::testing::Test {
protected:
    void SetUp() override { remove_all_registration(); }
    void TearDown() override { remove_all_registration(); }
};

TEST_F(service_registration, reg_server_writes_both_scripts_and_the_type_library_and_unreg_server_removes_them)
{
    ASSERT_EQ(run_service_exe(L"-RegServer"), 0u);
    expect_registered(machine);
    // The type library's registration writes the automation interfaces into
    // the 32-bit view too.
    for (const wchar_t* key : interface_keys) {
        EXPECT_TRUE(has_32(machine, key)) << "missing in the 32-bit view " << std::string(key, key + wcslen(key));
    }
    EXPECT_EQ(value(machine, app_id_key, L"LocalService"), L"<missing>");
    EXPECT_EQ(service_state(), 0u) << "RegServer installs no service";
    EXPECT_FALSE(has(user, clsid_key));

    // A key of someone else's below the parents stays.
    HKEY foreign = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &foreign, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(foreign);

    ASSERT_EQ(run_service_exe(L"/UNREGSERVER"), 0u);
    expect_unregistered(machine);
    EXPECT_TRUE(has(machine, L"AppID"));
    EXPECT_TRUE(has(machine, L"TypeLib"));
    EXPECT_TRUE(has(machine, L"CLSID"));
    EXPECT_TRUE(has(machine, L"CLSID\\{00000000-1111-2222-3333-444444444444}"));
    RegDeleteKeyW(HKEY_CLASSES_ROOT, L"CLSID\\{00000000-1111-2222-3333-444444444444}");
}

TEST_F(service_registration, per_user_switches_touch_only_the_users_classes)
{
    ASSERT_EQ(run_service_exe(L"/regserverperuser"), 0u);
    expect_registered(user);
    EXPECT_FALSE(has(machine, clsid_key)) << "RegServerPerUser must not be taken for RegServer";
    EXPECT_FALSE(has(machine, app_id_key));

    ASSERT_EQ(run_service_exe(L"-UnregServerPerUser"), 0u);
    expect_unregistered(user);
    EXPECT_TRUE(has(user, L"CLSID"));
    // The 32-bit interface keys go where the system's view of the user's
    // classes leads (under Wine, the machine's 32-bit view): none stays there.
    for (const wchar_t* key : interface_keys) {
        EXPECT_FALSE(has_32(machine, key)) << "left in the 32-bit view " << std::string(key, key + wcslen(key));
    }
}

TEST_F(service_registration, service_switch_installs_an_auto_start_service_that_unreg_server_removes)
{
    ASSERT_EQ(run_service_exe(L"-service"), 0u);
    expect_registered(machine);
    EXPECT_EQ(value(machine, app_id_key, L"LocalService"), L"CamTovraService");

    const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    const SC_HANDLE service = OpenServiceW(manager, L"CamTovraService", SERVICE_QUERY_CONFIG);
    ASSERT_NE(service, nullptr);
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    ASSERT_TRUE(QueryServiceConfigW(service, config, needed, &needed));
    EXPECT_EQ(config->dwServiceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
    EXPECT_EQ(std::wstring(config->lpBinaryPathName), L"\"" + service_exe() + L"\"");
    // The dependency on RPCSS is not checked here: Wine's service manager
    // does not keep dependencies.
    CloseServiceHandle(service);
    CloseServiceHandle(manager);

    // RegServer on an installed service keeps it and its automatic start.
    ASSERT_EQ(run_service_exe(L"-RegServer"), 0u);
    EXPECT_EQ(value(machine, app_id_key, L"LocalService"), L"<missing>");
    EXPECT_NE(service_state(), 0u);

    ASSERT_EQ(run_service_exe(L"-UnregServer"), 0u);
    EXPECT_EQ(service_state(), 0u);
    expect_unregistered(machine);
}

TEST_F(service_registration, unknown_switches_start_the_module_which_fails_without_its_app_id)
{
    // No AppID key: the module exits with the registry error, writing nothing.
    for (const wchar_t* arguments : {L"-RegServerX", L"RegServer", L"/Services", L"-Unknown", L""}) {
        EXPECT_EQ(run_service_exe(arguments), static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
            << std::string(arguments, arguments + wcslen(arguments));
        EXPECT_FALSE(has(machine, clsid_key));
        EXPECT_FALSE(has(machine, app_id_key));
    }
}

TEST_F(service_registration, a_second_test_process_is_refused_the_registration_this_one_holds_and_writes_nothing)
{
    // SetUp claimed the registration for this process. The same program as a
    // second test process, running a case that writes the registration.
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    SetEnvironmentVariableW(L"GTEST_OUTPUT", nullptr); // this process's result file is its own
    const test_support::child_process second = test_support::start_program(
        self, L"--gtest_filter=service_registration.reg_server_writes_both_scripts_and_the_type_library_and_unreg_"
              L"server_removes_them");
    ASSERT_TRUE(second);
    EXPECT_EQ(second.wait(120000), 1u) << "the second test process was not refused";

    const std::wstring this_process = L"(process " + std::to_wstring(GetCurrentProcessId()) + L")";
    const std::wstring record = L"Software\\CamTovraTests\\ServiceRegistration";
    EXPECT_NE(read_string(HKEY_CURRENT_USER, record, L"user").find(this_process), std::wstring::npos);
    EXPECT_NE(read_string(HKEY_CURRENT_USER, record, L"last writer").find(this_process), std::wstring::npos)
        << "the refused process is on record as a writer";
}

} // namespace
