#include "service/active_device_handle.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "camtovra_service.h"
#include "fake_active_device.h"
#include "gen_utils/log.h"

namespace {

using cam_service::active_device_handle;

constexpr GUID videoprocamp = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};

struct active_device_handle_test : ::testing::Test {
    std::shared_ptr<fake_devices::device_stats> stats = std::make_shared<fake_devices::device_stats>();
    std::shared_ptr<active_device_handle> handle = std::make_shared<active_device_handle>(
        std::shared_ptr<cam_service::active_device_base>(new fake_devices::fake_active_device(GUID{}, stats),
                                                         cam_service::ref_count_dtor{}),
        GUID{}, std::weak_ptr<cam_service::active_device_list>{});
    std::vector<std::string> lines;

    void SetUp() override
    {
        set_log_sink(1, [this](std::uint32_t, const char* text) { lines.emplace_back(text); });
    }
    void TearDown() override
    {
        set_log_sink(1, nullptr);
        service_log_level = 0;
        log_category_mask = 0;
    }
};

TEST_F(active_device_handle_test, property_requests_reach_the_camera_unchanged)
{
    std::uint32_t value = 0x12345678;
    EXPECT_EQ(handle->set(&videoprocamp, 5, nullptr, 0, &value, sizeof(value)), S_OK);
    std::uint32_t read = 0;
    std::uint32_t returned = 0;
    EXPECT_EQ(handle->get(&videoprocamp, 5, nullptr, 0, &read, sizeof(read), &returned), S_OK);
    EXPECT_EQ(read, value);
    EXPECT_EQ(returned, 4u);
    std::uint16_t short_buffer = 0;
    EXPECT_EQ(handle->get(&videoprocamp, 5, nullptr, 0, &short_buffer, sizeof(short_buffer), &returned),
              static_cast<HRESULT>(0x8007007A));
    std::uint32_t support = 0;
    EXPECT_EQ(handle->query_supported(&videoprocamp, 5, &support), S_OK);
    EXPECT_EQ(support, 3u);
    EXPECT_EQ(handle->query_supported(&videoprocamp, 6, &support), E_NOTIMPL);
    EXPECT_EQ(handle->set(nullptr, 5, nullptr, 0, &value, sizeof(value)), E_POINTER);
}

TEST_F(active_device_handle_test, every_call_answers_device_gone_once_invalidated)
{
    handle->invalidate();
    EXPECT_EQ(WaitForSingleObject(handle->event(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(stats->devices_alive(), 0);
    std::uint32_t value = 0;
    EXPECT_EQ(handle->set(&videoprocamp, 5, nullptr, 0, &value, 4), cam_service::device_gone);
    EXPECT_EQ(handle->get(&videoprocamp, 5, nullptr, 0, &value, 4, nullptr), cam_service::device_gone);
    EXPECT_EQ(handle->query_supported(nullptr, 5, &value), cam_service::device_gone);
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    EXPECT_EQ(handle->create_stream_channel(&format), cam_service::device_gone);
    EXPECT_EQ(stats->prepare_stream_calls, 0);
    EXPECT_EQ(handle->close_stream_channel(), cam_service::device_gone);
    EXPECT_EQ(handle->get_base_data(nullptr), cam_service::device_gone);
    EXPECT_EQ(handle->get_frame_info(0, nullptr, nullptr), cam_service::device_gone);
}

// Wine grants every open whatever the access list says, so the list is read
// back (and put to the system's access check below): what each account may do with the event once generic rights are
// mapped as the system maps them for events.
std::map<std::wstring, ACCESS_MASK> event_access_by_account(HANDLE event)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return {{L"unreadable", 0}};
    }
    constexpr ACCESS_MASK event_query_state = 0x0001; // not in the user-mode headers
    GENERIC_MAPPING mapping{STANDARD_RIGHTS_READ | event_query_state, STANDARD_RIGHTS_WRITE | EVENT_MODIFY_STATE,
                            STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, EVENT_ALL_ACCESS};
    std::map<std::wstring, ACCESS_MASK> access;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            access[L"entry " + std::to_wstring(i) + L" is no access-allowed entry"] = 0;
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        LPWSTR sid = nullptr;
        ConvertSidToStringSidW(&allowed->SidStart, &sid);
        ACCESS_MASK mask = allowed->Mask;
        MapGenericMask(&mask, &mapping);
        access[sid != nullptr ? sid : L"bad SID"] |= mask;
        LocalFree(sid);
    }
    LocalFree(descriptor);
    return access;
}

// A local user who is not an administrator: this process's token (Wine's
// user is one) with the Administrators and SYSTEM made deny-only, as an
// impersonation token for AccessCheck.
win32::unique_handle ordinary_local_user_token()
{
    HANDLE process_token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process_token)) {
        return {};
    }
    const win32::unique_handle own(process_token);
    PSID administrators = nullptr;
    PSID system = nullptr;
    ConvertStringSidToSidW(L"S-1-5-32-544", &administrators);
    ConvertStringSidToSidW(L"S-1-5-18", &system);
    SID_AND_ATTRIBUTES deny_only[] = {{administrators, 0}, {system, 0}};
    HANDLE restricted = nullptr;
    const BOOL made = CreateRestrictedToken(own.get(), 0, 2, deny_only, 0, nullptr, 0, nullptr, &restricted);
    LocalFree(administrators);
    LocalFree(system);
    if (!made) {
        return {};
    }
    const win32::unique_handle primary(restricted);
    HANDLE impersonation = nullptr;
    if (!DuplicateToken(primary.get(), SecurityImpersonation, &impersonation)) {
        return {};
    }
    return win32::unique_handle(impersonation);
}

// What the system's access check grants `token` of `wanted` on the kernel
// object `object`, by the descriptor the object carries.
ACCESS_MASK granted_access(HANDLE object, HANDLE token, ACCESS_MASK wanted)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
        return 0;
    }
    GENERIC_MAPPING mapping{STANDARD_RIGHTS_READ | 0x0001, STANDARD_RIGHTS_WRITE | EVENT_MODIFY_STATE,
                            STANDARD_RIGHTS_EXECUTE | SYNCHRONIZE, EVENT_ALL_ACCESS};
    PRIVILEGE_SET privileges{};
    DWORD privileges_size = sizeof(privileges);
    DWORD granted = 0;
    BOOL status = FALSE;
    const BOOL checked =
        AccessCheck(descriptor, token, wanted, &mapping, &privileges, &privileges_size, &granted, &status);
    LocalFree(descriptor);
    return checked && status ? granted : 0;
}

TEST_F(active_device_handle_test, local_users_may_only_wait_on_the_lost_event_and_only_the_service_sets_it)
{
    const auto access = event_access_by_account(handle->event());
    const std::map<std::wstring, ACCESS_MASK> expected{
        {L"S-1-5-18", EVENT_ALL_ACCESS},          // the service's account
        {L"S-1-5-32-544", EVENT_ALL_ACCESS},      // the Administrators
        {L"S-1-2-0", SYNCHRONIZE | READ_CONTROL}, // every local user
    };
    EXPECT_EQ(access, expected);
    for (const auto& [account, mask] : access) {
        const bool may_change = (mask & (EVENT_MODIFY_STATE | WRITE_DAC | WRITE_OWNER)) != 0;
        EXPECT_EQ(may_change, account == L"S-1-5-18" || account == L"S-1-5-32-544")
            << "account " << std::string(account.begin(), account.end()) << " mask " << std::hex << mask;
    }
    // Wine opens whatever the list says, but its access check reads it: an
    // ordinary local user may wait, not set or reset.
    const win32::unique_handle user = ordinary_local_user_token();
    ASSERT_TRUE(user);
    EXPECT_EQ(granted_access(handle->event(), user.get(), SYNCHRONIZE), static_cast<ACCESS_MASK>(SYNCHRONIZE));
    EXPECT_EQ(granted_access(handle->event(), user.get(), EVENT_MODIFY_STATE), 0u);

    // The service's own handle still sets it, and a waiter opened with
    // SYNCHRONIZE sees it.
    const win32::unique_handle waiter(OpenEventW(SYNCHRONIZE, FALSE, handle->event_name().c_str()));
    ASSERT_TRUE(waiter);
    handle->invalidate();
    EXPECT_EQ(WaitForSingleObject(waiter.get(), 0), WAIT_OBJECT_0);
}

TEST_F(active_device_handle_test, ks_calls_are_traced_only_with_their_category_enabled)
{
    std::uint32_t value = 1;
    service_log_level = 4;
    handle->set(&videoprocamp, 5, nullptr, 0, &value, 4);
    EXPECT_TRUE(lines.empty());

    log_category_mask = logging::cat_ks_calls;
    handle->set(&videoprocamp, 5, nullptr, 0, &value, 4);
    const GUID unknown{};
    handle->get(&unknown, 7, nullptr, 0, &value, 4, nullptr);
    handle->query_supported(&videoprocamp, 9, &value);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "[CamTovra] Set( PROPSETID_VIDCAP_VIDEOPROCAMP, 5, ... ) -> hr = 0x0\n");
    EXPECT_EQ(lines[1], "[CamTovra] Get( {00000000-0000-0000-0000-000000000000}, 7, ... ) -> hr = 0x80004001\n");
    EXPECT_EQ(lines[2], "[CamTovra] QuerySupported( PROPSETID_VIDCAP_VIDEOPROCAMP, 9, ... ) -> hr = 0x80004001\n");
}

// A camera that keeps the device-error listener its handle gives it, as the
// active camera device does; nothing else is asked of it here.
class listening_device final : public cam_service::active_device_base {
public:
    HRESULT set_property(const GUID*, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t) override
    {
        return E_NOTIMPL;
    }
    HRESULT get_property(const GUID*, std::uint32_t, void*, std::uint32_t, void*, std::uint32_t,
                         std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT query_property_support(const GUID*, std::uint32_t, std::uint32_t*) override { return E_NOTIMPL; }
    HRESULT get_stream_format_desc(std::uint32_t, DShowDeviceServer_StreamFormatInfo*, std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT get_stream_format_frame_rates(const DShowDeviceServer_StreamFormat*, std::uint64_t*, std::uint32_t,
                                          std::uint32_t*) override
    {
        return E_NOTIMPL;
    }
    HRESULT create_stream_channel(const DShowDeviceServer_StreamFormat*) override
    {
        ++channels_made;
        return S_OK;
    }
    HRESULT close_stream_channel() override { return S_OK; }
    HRESULT get_stream_format_current(DShowDeviceServer_StreamFormat*) override { return E_NOTIMPL; }
    HRESULT start_stream() override { return E_NOTIMPL; }
    HRESULT pause_stream() override { return S_OK; }
    HRESULT get_base_data(void*) override { return E_NOTIMPL; }
    HRESULT get_frame_info(std::uint32_t, void*, std::uint64_t*) override { return E_NOTIMPL; }
    HRESULT get_ready_frame(std::uint64_t*, DShowDeviceServer_FrameCountInfo*) override { return S_FALSE; }
    HRESULT release_frame(std::uint64_t) override { return S_OK; }
    cam::stream_format get_stream_format() override { return {}; }
    void set_device_error_listener(const void* owner, std::function<void()> listener) override
    {
        if (listener || owner == owner_) {
            listener_ = std::move(listener);
            owner_ = listener_ ? owner : nullptr;
        }
    }
    // What the camera does when its stream ends as a device error.
    void fail_stream()
    {
        if (listener_) {
            listener_();
        }
    }
    bool has_listener() const { return static_cast<bool>(listener_); }
    int channels_made = 0;

private:
    std::function<void()> listener_;
    const void* owner_ = nullptr;
};

TEST(active_device_handle, a_stream_that_ends_as_a_device_error_sets_only_that_cameras_lost_event)
{
    auto* failing = new listening_device;
    auto* healthy = new listening_device;
    const GUID first{1, 0, 0, {}};
    const GUID second{2, 0, 0, {}};
    auto failing_handle = std::make_shared<active_device_handle>(
        std::shared_ptr<cam_service::active_device_base>(failing, cam_service::ref_count_dtor{}), first,
        std::weak_ptr<cam_service::active_device_list>{});
    auto healthy_handle = std::make_shared<active_device_handle>(
        std::shared_ptr<cam_service::active_device_base>(healthy, cam_service::ref_count_dtor{}), second,
        std::weak_ptr<cam_service::active_device_list>{});
    failing->add_ref(); // kept past its handle, as the device list keeps it
    // Only a handle whose channel streams hears of its stream's failure.
    EXPECT_FALSE(failing->has_listener());
    DShowDeviceServer_StreamFormat format{};
    ASSERT_EQ(failing_handle->create_stream_channel(&format), S_OK);
    ASSERT_EQ(healthy_handle->create_stream_channel(&format), S_OK);
    ASSERT_TRUE(failing->has_listener());
    failing->fail_stream();
    EXPECT_EQ(WaitForSingleObject(failing_handle->event(), 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(healthy_handle->event(), 0), WAIT_TIMEOUT);
    EXPECT_TRUE(failing_handle->device()) << "clients let go in their own time";
    // Its clients are told; a new stream of theirs would tell nobody more.
    EXPECT_EQ(failing_handle->close_stream_channel(), S_OK);
    EXPECT_FALSE(failing->has_listener());
    EXPECT_EQ(failing_handle->create_stream_channel(&format), cam_service::device_gone);
    EXPECT_EQ(failing->channels_made, 1);
    EXPECT_FALSE(failing->has_listener());
    // A handle that goes takes its listener along: its event closes with it.
    ASSERT_TRUE(healthy->has_listener());
    healthy->add_ref();
    healthy_handle.reset();
    EXPECT_FALSE(healthy->has_listener());
    healthy->release();
    failing->release();
}

TEST(property_set_name, logs_name_the_known_sets_and_write_others_in_registry_form)
{
    struct row {
        GUID set;
        const char* name;
    };
    const row rows[] = {
        {{0xbf3ec69e, 0x94fc, 0x4847, {0x8d, 0xb0, 0xf5, 0x63, 0x6f, 0x7b, 0xe6, 0x39}}, "PROPSETID_KYV_BINNING"},
        {{0x515e97d1, 0xc453, 0x4772, {0xa4, 0x89, 0xcc, 0x07, 0x0a, 0x5a, 0x24, 0x42}},
         "PROPSETID_FWCAM1394_CUSTOM_PROP"},
        {{0x8e4deef8, 0xb53b, 0x4a30, {0xb9, 0xb6, 0xaf, 0xbb, 0xcb, 0xd1, 0x82, 0xb4}}, "PROPSETID_DRIVER_INFO_REQ"},
        {videoprocamp, "PROPSETID_VIDCAP_VIDEOPROCAMP"},
        {{0xc6e13370, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}},
         "PROPSETID_VIDCAP_CAMERACONTROL"},
        {{0x8cbcf1c6, 0x53c3, 0x4d79, {0x8e, 0xdb, 0xc0, 0x64, 0x65, 0x75, 0xda, 0xc8}}, "PROPSETID_COLOR_ENHANCE"},
        {{0x9ddd5edc, 0x5eff, 0x4d3b, {0xb8, 0x5b, 0x46, 0xfb, 0xc4, 0xe4, 0x9e, 0x59}},
         "PROPSETID_GENERIC_DRIVER_INTERFACE"},
        {{0x17b1576b, 0x4b1b, 0x4e5b, {0xa6, 0x77, 0xea, 0x9f, 0x62, 0x03, 0x37, 0x27}}, "PROPSETID_KYV_CUSTOM_PROP"},
        {{0x4cb0d141, 0x9c2c, 0x49e5, {0x90, 0x05, 0xd7, 0xc0, 0x38, 0x2f, 0xd9, 0xd2}}, "PROPSETID_UVC_DRIVER"},
        {{0x272778fd, 0x21cb, 0x4d3c, {0x80, 0x37, 0x9f, 0x20, 0xc4, 0xe6, 0xd1, 0x6d}},
         "PROPSETID_GIGECAM_CUSTOM_PROP"},
        // Served, but not named in logs.
        {{0x09d9c20f, 0x2a73, 0x43d2, {0xb6, 0x9c, 0x84, 0x5c, 0xc2, 0x58, 0x9c, 0x69}},
         "{09D9C20F-2A73-43D2-B69C-845CC2589C69}"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(cam_service::property_set_name(r.set), r.name);
    }
}

} // namespace
