#include "gen_utils/win32_utils.h"

#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "gen_utils/process_launch.h"
#include "gen_utils/thread_name.h"

namespace {

DWORD run_and_wait(HANDLE process)
{
    EXPECT_EQ(WaitForSingleObject(process, 30000), WAIT_OBJECT_0);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    return code;
}

TEST(world_access_security_attributes, let_a_second_process_open_the_named_object)
{
    auto sa = win32::make_world_access_security_attributes();
    EXPECT_EQ(sa.attributes.nLength, 24u);
    EXPECT_TRUE(sa.attributes.bInheritHandle);
    ASSERT_NE(sa.attributes.lpSecurityDescriptor, nullptr);

    const std::wstring name = win32::make_unique_global_name(L"camtovra_test_event_");
    win32::unique_handle event(CreateEventW(sa.get(), TRUE, FALSE, name.c_str()));
    ASSERT_TRUE(event);

    const auto opener = test_support::start_helper(OPEN_NAMED_EVENT_EXE, name);
    ASSERT_TRUE(opener);
    EXPECT_EQ(opener.wait(), 0u);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_OBJECT_0);
}

TEST(world_access_security_attributes, copies_share_the_descriptor)
{
    auto first = win32::make_world_access_security_attributes();
    auto copy = first;
    EXPECT_EQ(copy.attributes.lpSecurityDescriptor, first.attributes.lpSecurityDescriptor);
    EXPECT_EQ(first.descriptor.use_count(), 2);
}

TEST(guid_text, has_registry_form_with_upper_case_digits)
{
    const GUID guid = {0x8c59d083, 0xb06b, 0x4d89, {0x8d, 0x93, 0xf1, 0x9e, 0xb7, 0x95, 0x6f, 0xc4}};
    EXPECT_EQ(win32::guid_to_string(guid), "{8C59D083-B06B-4D89-8D93-F19EB7956FC4}");
    EXPECT_EQ(win32::guid_to_wstring(guid), L"{8C59D083-B06B-4D89-8D93-F19EB7956FC4}");
}

TEST(unique_global_name, two_calls_give_different_names_with_the_prefix)
{
    const std::wstring a = win32::make_unique_global_name(L"cam_");
    const std::wstring b = win32::make_unique_global_name(L"cam_");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(L"Global\\cam_{", 0), 0u);
    EXPECT_EQ(a.size(), std::wstring(L"Global\\cam_").size() + 38);
}

TEST(thread_description, naming_a_thread_never_fails)
{
    EXPECT_NO_THROW(utils::set_thread_description("gen_utils test thread"));
    EXPECT_NO_THROW(utils::set_thread_description(""));
}

TEST(launch_process_in_session, starts_the_program_as_the_token_user)
{
    HANDLE own_token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own_token));
    HANDLE primary = nullptr;
    ASSERT_TRUE(DuplicateTokenEx(own_token, MAXIMUM_ALLOWED, nullptr, SecurityIdentification, TokenPrimary, &primary));
    CloseHandle(own_token);

    HANDLE process = utils::launch_process_in_session(primary, L"C:\\windows\\system32\\cmd.exe",
                                                      L"cmd.exe /c exit 7", L"");
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(run_and_wait(process), 7u);

    EXPECT_EQ(utils::launch_process_in_session(primary, L"C:\\no\\such\\program.exe", L"", L""), nullptr);
    CloseHandle(primary);
}

} // namespace
