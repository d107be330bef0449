#include "session_proxy/device_broadcast.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "child_process.h"
#include "gen_utils/win32_utils.h"

namespace {

struct broadcast_seen {
    DWORD flags = 0;
    DWORD recipients = 0;
    UINT message = 0;
    WPARAM event = 0;
    std::vector<unsigned char> record;
};

// Copies what the broadcast was handed: the record lives only for the call.
session_proxy::broadcast_call recording(std::vector<broadcast_seen>& seen)
{
    return [&seen](DWORD flags, DWORD recipients, UINT message, WPARAM wparam, LPARAM lparam) {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lparam);
        const auto* bytes = reinterpret_cast<const unsigned char*>(record);
        seen.push_back({flags, recipients, message, wparam, std::vector<unsigned char>(bytes, bytes + record->dbcc_size)});
        return 1L;
    };
}

TEST(device_broadcast, removal_carries_the_capture_interface_record)
{
    std::vector<broadcast_seen> seen;
    session_proxy::broadcast_device_change(recording(seen), L"ABC", 2);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].flags, static_cast<DWORD>(BSF_FORCEIFHUNG));
    EXPECT_EQ(seen[0].recipients, static_cast<DWORD>(BSM_APPLICATIONS));
    EXPECT_EQ(seen[0].message, static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(seen[0].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));

    const std::wstring name = L"CamTovraDevice:ABC";
    const std::vector<unsigned char>& bytes = seen[0].record;
    ASSERT_EQ(bytes.size(), 2 * name.size() + 34);
    DEV_BROADCAST_DEVICEINTERFACE_W head{};
    std::memcpy(&head, bytes.data(), offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name));
    EXPECT_EQ(head.dbcc_size, bytes.size());
    EXPECT_EQ(head.dbcc_devicetype, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    EXPECT_EQ(head.dbcc_reserved, 0u);
    EXPECT_EQ(win32::guid_to_wstring(head.dbcc_classguid), L"{65E8773D-8F56-11D0-A3B9-00A0C9223196}");
    std::wstring carried(name.size(), L'\0');
    std::memcpy(carried.data(), bytes.data() + 28, name.size() * 2);
    EXPECT_EQ(carried, name);
    for (std::size_t i = 28 + name.size() * 2; i < bytes.size(); ++i) {
        EXPECT_EQ(bytes[i], 0) << "byte " << i; // the name's zero and four more
    }
}

TEST(device_broadcast, every_kind_but_removal_is_an_arrival)
{
    std::vector<broadcast_seen> seen;
    for (const std::uint32_t kind : {1u, 7u, 0u}) {
        session_proxy::broadcast_device_change(recording(seen), L"k", kind);
    }
    ASSERT_EQ(seen.size(), 3u);
    for (const broadcast_seen& one : seen) {
        EXPECT_EQ(one.event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    }
}

TEST(device_broadcast, longest_key_fits_its_record)
{
    const std::wstring key(64, L'K');
    session_proxy::device_interface_record record(key);
    EXPECT_EQ(record.size(), 2 * (15 + 64) + 34u);
    EXPECT_EQ(std::wstring(record.get()->dbcc_name), L"CamTovraDevice:" + key);
}

// Wine delivers no broadcast that carries a record to other processes, so the
// record's way to another process is shown with a direct send to its window.
TEST(device_broadcast, record_reaches_a_window_of_another_process_intact)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring title = win32::make_unique_global_name(L"camtovra_window_").substr(7);
    const std::wstring output = std::wstring(temp) + title + L".txt";
    const auto window_program =
        test_support::start_helper(DEVICE_CHANGE_WINDOW_EXE, L"\"" + title + L"\" \"" + output + L"\"");
    ASSERT_TRUE(window_program);

    HWND window = nullptr;
    for (int attempt = 0; attempt < 500 && window == nullptr; ++attempt) {
        window = FindWindowW(L"CamTovraTestDeviceChangeWindow", title.c_str());
        if (window == nullptr) {
            Sleep(10);
        }
    }
    ASSERT_NE(window, nullptr);
    const session_proxy::broadcast_call direct_send = [window](DWORD, DWORD, UINT message, WPARAM wparam,
                                                               LPARAM lparam) {
        DWORD_PTR result = 0;
        return static_cast<long>(
            SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, 5000, &result));
    };
    EXPECT_NE(session_proxy::broadcast_device_change(direct_send, L"USB#VID_1234#SN42", 1), 0);
    EXPECT_EQ(window_program.wait(20000), 0u);

    HANDLE file = CreateFileW(output.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::wstring text(1024, L'\0');
    DWORD read = 0;
    ReadFile(file, text.data(), static_cast<DWORD>(text.size() * 2), &read, nullptr);
    CloseHandle(file);
    DeleteFileW(output.c_str());
    text.resize(read / 2);
    EXPECT_EQ(text, L"event=0x8000;size=" + std::to_wstring(2 * 32 + 34) +
                        L";type=5;reserved=0;class={65E8773D-8F56-11D0-A3B9-00A0C9223196};"
                        L"name=CamTovraDevice:USB#VID_1234#SN42;tail=zero");
}

} // namespace
