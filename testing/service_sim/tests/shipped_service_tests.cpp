// The shipped service in the prefix where the demonstration runs: without the
// system's device lists it lists no camera, and it writes no error line while
// it starts, answers and stops.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camtovra_service.h"
#include "com_transport.h"
#include "service_test_support.h"

namespace {

// Reads what processes write with OutputDebugString, through the system-wide
// monitor protocol (a shared buffer and two events), while it lives.
class debug_output_monitor {
public:
    debug_output_monitor()
    {
        buffer_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        data_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
        mutex_ = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
        view_ = mapping_ ? static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096)) : nullptr;
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (ready()) {
            reader_ = std::thread([this] { read(); });
        }
    }
    ~debug_output_monitor()
    {
        SetEvent(stop_);
        if (reader_.joinable()) {
            reader_.join();
        }
        if (view_ != nullptr) {
            UnmapViewOfFile(view_);
        }
        for (HANDLE handle : {buffer_ready_, data_ready_, mapping_, mutex_, stop_}) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
    }
    bool ready() const { return buffer_ready_ && data_ready_ && view_ && mutex_ && stop_; }

    // The lines process `pid` wrote so far.
    std::vector<std::string> lines_of(DWORD pid) const
    {
        std::lock_guard lock(lines_mutex_);
        std::vector<std::string> out;
        for (const auto& [from, text] : lines_) {
            if (from == pid) {
                out.push_back(text);
            }
        }
        return out;
    }

private:
    void read()
    {
        SetEvent(buffer_ready_);
        const HANDLE waits[2] = {data_ready_, stop_};
        while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
            DWORD pid = 0;
            std::memcpy(&pid, view_, sizeof(pid));
            const std::string text(view_ + sizeof(pid), strnlen(view_ + sizeof(pid), 4096 - sizeof(pid)));
            {
                std::lock_guard lock(lines_mutex_);
                lines_.emplace_back(pid, text);
            }
            SetEvent(buffer_ready_);
        }
    }

    HANDLE buffer_ready_ = nullptr, data_ready_ = nullptr, mapping_ = nullptr, mutex_ = nullptr, stop_ = nullptr;
    const char* view_ = nullptr;
    std::thread reader_;
    mutable std::mutex lines_mutex_;
    std::vector<std::pair<DWORD, std::string>> lines_;
};

class shipped_service : public ::testing::Test {
protected:
    void SetUp() override
    {
        service_test::remove_all_registration();
        ASSERT_EQ(service_test::run_service_exe(L"-Service"), 0u);
        ASSERT_EQ(service_test::register_proxy_stub(), 0u);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override
    {
        service_test::remove_all_registration();
        service_test::remove_log_level();
        CoUninitialize();
    }
};

TEST_F(shipped_service, lists_no_camera_and_logs_no_error)
{
    debug_output_monitor monitor;
    ASSERT_TRUE(monitor.ready());
    // The monitor sees this process's own lines: the protocol works here.
    OutputDebugStringA("shipped_service_test: monitor check\n");
    const ULONGLONG deadline = GetTickCount64() + 10000;
    while (monitor.lines_of(GetCurrentProcessId()).empty() && GetTickCount64() < deadline) {
        Sleep(20);
    }
    ASSERT_FALSE(monitor.lines_of(GetCurrentProcessId()).empty()) << "debug output is not delivered to a monitor";

    // Errors only: level 1.
    service_test::set_log_level_dword(1);
    ASSERT_EQ(service_test::start_service(), 0u);
    ASSERT_TRUE(service_test::wait_for_state(SERVICE_RUNNING));
    const DWORD service_pid = service_test::service_process_id();
    {
        ICamTovraDiscoverService* service = nullptr;
        ASSERT_TRUE(SUCCEEDED(test_support::retry_transport(
            "CoCreateInstance(CamTovraDiscoverService)", test_support::transport_step::activation, &IID_ICamTovraDiscoverService, [&] {
                return CoCreateInstance(CLSID_CamTovraDiscoverService, nullptr, CLSCTX_LOCAL_SERVER,
                                        IID_ICamTovraDiscoverService, reinterpret_cast<void**>(&service));
            })));
        DShowDeviceServer_DeviceId ids[2] = {};
        ULONG count = 7;
        EXPECT_EQ(test_support::retry_transport("GetDiscoveredDeviceList", test_support::transport_step::first_call, &IID_ICamTovraDiscoverService,
                                                [&] { return service->GetDiscoveredDeviceList(ids, 2, &count); }),
                  S_OK);
        EXPECT_EQ(count, 0u);
        service->Release();
    }
    service_test::stop_service();
    ASSERT_TRUE(service_test::wait_for_state(SERVICE_STOPPED));
    for (const std::string& line : monitor.lines_of(service_pid)) {
        ADD_FAILURE() << "the service logged: " << line;
    }
}

} // namespace
