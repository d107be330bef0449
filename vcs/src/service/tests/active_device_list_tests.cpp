#include "service/active_device_list.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <condition_variable>
#include <future>
#include <map>
#include <regex>
#include <thread>

#include "camtovra_service.h"
#include "fake_active_device.h"
#include "fake_device_factory.h"
#include "gen_utils/string_conv.h"
#include "child_process.h"

namespace {

using cam_service::active_device_info;
using cam_service::active_device_list;
using fake_devices::fake_active_device;
using fake_devices::device_stats;
using fake_devices::fake_camera;
using fake_devices::fake_device_info;

GUID make_guid()
{
    GUID guid{};
    EXPECT_EQ(CoCreateGuid(&guid), S_OK);
    return guid;
}

bool event_is_set(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// A settings key under HKCU per test, deleted afterwards.
struct settings_key {
    std::wstring path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);
    utils::unique_hkey key;

    settings_key()
    {
        HKEY raw = nullptr;
        RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr);
        key.reset(raw);
    }
    ~settings_key()
    {
        key.reset();
        RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str());
    }
    void set(DWORD type, const void* data, DWORD size) const
    {
        RegSetValueExW(key.get(), L"idle_device_timeout", 0, type, static_cast<const BYTE*>(data), size);
    }
    void set_timeout(std::int32_t ms) const { set(REG_DWORD, &ms, sizeof(ms)); }
};

struct active_device_list_test : ::testing::Test {
    settings_key settings;
    std::shared_ptr<device_stats> stats = std::make_shared<device_stats>();
    std::shared_ptr<active_device_list> list;

    void start(std::int32_t timeout_ms)
    {
        settings.set_timeout(timeout_ms);
        active_device_list::options options;
        options.settings_root = HKEY_CURRENT_USER;
        options.settings_path = settings.path;
        list = active_device_list::create(options);
    }
    std::shared_ptr<active_device_info> camera(const GUID& guid, bool open_fails = false)
    {
        fake_camera cam{L"cam_key", L"Camera", open_fails};
        return std::make_shared<active_device_info>(
            guid, nullptr, cam_service::adopt_device_info(new fake_device_info(cam, stats)));
    }
};

TEST_F(active_device_list_test, opening_an_open_camera_again_returns_its_handle)
{
    start(60000);
    const GUID id = make_guid();
    auto info = camera(id);
    auto first = list->open_device(id, info);
    ASSERT_TRUE(first);
    auto second = list->open_device(id, info);
    EXPECT_EQ(first, second);
    EXPECT_EQ(stats->create_calls, 1);
    EXPECT_EQ(list->active_count(), 1u);

    // "Global\" + the camera's GUID + a fresh GUID, in registry form.
    const std::string name = utils::to_utf8(first->event_name());
    const std::string prefix = "Global\\" + win32::guid_to_string(id);
    ASSERT_EQ(name.substr(0, prefix.size()), prefix);
    EXPECT_TRUE(std::regex_match(name.substr(prefix.size()),
                                 std::regex(R"(\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\})")))
        << name;
}

TEST_F(active_device_list_test, camera_reopened_within_the_idle_timeout_is_reused)
{
    start(60000);
    const GUID id = make_guid();
    auto info = camera(id);
    auto handle = list->open_device(id, info);
    const auto* device = handle->device().get();
    const std::wstring first_event = handle->event_name();
    handle.reset();
    EXPECT_EQ(list->idle_count(), 1u);
    EXPECT_EQ(list->active_count(), 0u);

    handle = list->open_device(id, info);
    ASSERT_TRUE(handle);
    EXPECT_EQ(handle->device().get(), device);
    EXPECT_NE(handle->event_name(), first_event);
    EXPECT_EQ(stats->create_calls, 1);
    EXPECT_EQ(stats->devices_released(), 0);
    EXPECT_EQ(list->idle_count(), 0u);
}

TEST_F(active_device_list_test, camera_idle_past_the_timeout_is_closed_and_opened_anew)
{
    for (const std::int32_t timeout : {0, 30}) {
        stats = std::make_shared<device_stats>();
        start(timeout);
        const GUID id = make_guid();
        auto info = camera(id);
        list->open_device(id, info).reset();
        ASSERT_TRUE(stats->wait_released(1)) << "timeout " << timeout;
        EXPECT_EQ(list->idle_count(), 0u);

        auto handle = list->open_device(id, info);
        ASSERT_TRUE(handle);
        EXPECT_EQ(stats->create_calls, 2);
        handle.reset();
        list.reset();
        EXPECT_EQ(stats->devices_alive(), 0);
    }
}

TEST_F(active_device_list_test, removal_frees_an_idle_camera_at_once)
{
    start(60000);
    const GUID id = make_guid();
    list->open_device(id, camera(id)).reset();
    ASSERT_EQ(list->idle_count(), 1u);
    list->on_list_changed(cam_service::list_change_removed, id);
    EXPECT_EQ(list->idle_count(), 0u);
    EXPECT_EQ(stats->devices_released(), 1);
}

TEST_F(active_device_list_test, removal_of_an_open_camera_sets_its_event_for_other_processes)
{
    start(60000);
    const GUID id = make_guid();
    auto handle = list->open_device(id, camera(id));
    auto probe = [&] { return test_support::start_helper(EVENT_STATE_PROBE_EXE, handle->event_name()).wait(); };
    EXPECT_EQ(probe(), 1u);

    list->on_list_changed(cam_service::list_change_removed, id);
    EXPECT_TRUE(event_is_set(handle->event()));
    EXPECT_FALSE(handle->device());
    EXPECT_EQ(stats->devices_released(), 1);
    EXPECT_EQ(list->active_count(), 0u);
    EXPECT_EQ(probe(), 0u);

    // The dead handle's release neither idles nor reopens anything.
    handle.reset();
    EXPECT_EQ(list->idle_count(), 0u);
}

// A stream that ends as a device error is told to the clients that hold the
// camera then and to no later one: a later client gets a new handle on the
// same camera, streams, and hears of a real removal, which also takes the
// camera from the clients told before.
TEST_F(active_device_list_test, a_failed_stream_is_told_to_its_holders_only_and_a_later_client_hears_a_removal)
{
    start(60000);
    const GUID id = make_guid();
    auto info = camera(id);
    const auto first = list->open_device(id, info);
    const auto second = list->open_device(id, info);
    ASSERT_TRUE(first && second);
    auto* cam = static_cast<fake_active_device*>(first->device().get());
    // Each holder waits on the event it was named, as a client process does.
    const win32::unique_handle first_waiter(OpenEventW(SYNCHRONIZE, FALSE, first->event_name().c_str()));
    const win32::unique_handle second_waiter(OpenEventW(SYNCHRONIZE, FALSE, second->event_name().c_str()));
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    ASSERT_EQ(first->create_stream_channel(&format), S_OK);
    ASSERT_EQ(cam->start_stream(), S_OK);

    std::thread([cam] { cam->fail_stream(); }).join(); // as from the camera's pipe thread
    EXPECT_TRUE(event_is_set(first_waiter.get()));
    EXPECT_TRUE(event_is_set(second_waiter.get()));
    EXPECT_EQ(first->close_stream_channel(), S_OK) << "told clients close their stream themselves";

    const auto third = list->open_device(id, info);
    ASSERT_TRUE(third);
    EXPECT_FALSE(event_is_set(third->event()));
    EXPECT_NE(third->event_name(), first->event_name());
    EXPECT_EQ(third->device().get(), cam) << "the camera is not opened a second time";
    EXPECT_EQ(stats->create_calls, 1);
    EXPECT_EQ(list->open_device(id, info), third);
    ASSERT_EQ(third->create_stream_channel(&format), S_OK);
    ASSERT_EQ(third->device()->start_stream(), S_OK);
    EXPECT_TRUE(cam->streaming());

    list->on_list_changed(cam_service::list_change_removed, id);
    EXPECT_TRUE(event_is_set(third->event()));
    EXPECT_FALSE(first->device()) << "a removed camera stays open for a told client";
    EXPECT_EQ(stats->devices_released(), 1);
}

TEST_F(active_device_list_test, a_camera_whose_stream_failed_waits_idle_once_told_and_later_clients_let_go)
{
    start(60000);
    for (const bool told_let_go_first : {true, false}) {
        const GUID id = make_guid();
        auto info = camera(id);
        auto told = list->open_device(id, info);
        ASSERT_TRUE(told);
        DShowDeviceServer_StreamFormat format{};
        format.StreamFormatInfoId = 1;
        ASSERT_EQ(told->create_stream_channel(&format), S_OK);
        static_cast<fake_active_device*>(told->device().get())->fail_stream();
        ASSERT_EQ(told->close_stream_channel(), S_OK);
        auto later = list->open_device(id, info);
        ASSERT_NE(later, told);
        (told_let_go_first ? told : later).reset();
        EXPECT_EQ(list->idle_count(), 0u) << told_let_go_first;
        (told_let_go_first ? later : told).reset();
        EXPECT_EQ(list->idle_count(), 1u) << told_let_go_first;
        EXPECT_EQ(list->active_count(), 0u);
        list->on_list_changed(cam_service::list_change_removed, id);
    }
    EXPECT_EQ(stats->create_calls, 2);
    EXPECT_EQ(stats->devices_released(), 2);
}

// Handles lost to a failed stream and replaced stay with the clients they
// told: a pause takes the camera from each of them too, so that it is closed
// and, after continue, opened once.
TEST_F(active_device_list_test, a_pause_takes_the_camera_from_replaced_handles_too_and_continue_opens_it_once)
{
    start(60000);
    const GUID id = make_guid();
    auto info = camera(id);
    DShowDeviceServer_StreamFormat format{};
    format.StreamFormatInfoId = 1;
    std::vector<std::shared_ptr<cam_service::active_device_handle>> held;
    for (int lost = 0; lost < 2; ++lost) {
        auto handle = list->open_device(id, info);
        ASSERT_TRUE(handle);
        ASSERT_EQ(handle->create_stream_channel(&format), S_OK);
        static_cast<fake_active_device*>(handle->device().get())->fail_stream();
        ASSERT_TRUE(handle->lost());
        ASSERT_EQ(handle->close_stream_channel(), S_OK);
        held.push_back(std::move(handle));
    }
    held.push_back(list->open_device(id, info));
    ASSERT_TRUE(held[2]);
    ASSERT_FALSE(held[2]->lost());
    ASSERT_NE(held[2], held[1]);
    ASSERT_EQ(stats->create_calls, 1);

    list->pause();
    for (std::size_t i = 0; i < held.size(); ++i) {
        EXPECT_TRUE(event_is_set(held[i]->event())) << i;
        EXPECT_FALSE(held[i]->device()) << i;
    }
    EXPECT_EQ(stats->devices_alive(), 0);

    list->resume();
    const auto reopened = list->open_device(id, info);
    ASSERT_TRUE(reopened);
    EXPECT_EQ(list->open_device(id, info), reopened);
    EXPECT_EQ(stats->create_calls, 2);
    EXPECT_EQ(stats->devices_alive(), 1) << "the camera is open once, never twice";
    held.clear(); // the paused handles give nothing back to the list
    EXPECT_EQ(list->active_count(), 1u);
    EXPECT_EQ(list->idle_count(), 0u);
}

TEST_F(active_device_list_test, unknown_removals_and_other_kinds_change_nothing)
{
    start(60000);
    const GUID id = make_guid();
    auto handle = list->open_device(id, camera(id));
    for (const std::uint32_t kind : {0u, 1u, 3u, 256u, 0xFFFFFFFFu}) {
        list->on_list_changed(kind, id);
    }
    list->on_list_changed(cam_service::list_change_removed, make_guid());
    list->on_list_changed(cam_service::list_change_removed, GUID{});
    EXPECT_FALSE(event_is_set(handle->event()));
    EXPECT_TRUE(handle->device());
    EXPECT_EQ(list->active_count(), 1u);
}

TEST_F(active_device_list_test, pause_releases_every_camera_and_refuses_to_open_until_resumed)
{
    start(60000);
    const GUID open_id = make_guid();
    const GUID idle_id = make_guid();
    auto open_info = camera(open_id);
    auto handle = list->open_device(open_id, open_info);
    list->open_device(idle_id, camera(idle_id)).reset();

    list->pause();
    EXPECT_TRUE(event_is_set(handle->event()));
    EXPECT_FALSE(handle->device());
    EXPECT_EQ(stats->devices_alive(), 0);
    EXPECT_FALSE(list->open_device(open_id, open_info));

    list->resume();
    auto reopened = list->open_device(open_id, open_info);
    ASSERT_TRUE(reopened);
    EXPECT_NE(reopened, handle);
    EXPECT_EQ(stats->create_calls, 3);
}

TEST_F(active_device_list_test, a_camera_that_cannot_be_opened_gives_no_handle)
{
    start(60000);
    const GUID id = make_guid();
    EXPECT_FALSE(list->open_device(id, camera(id, true)));
    EXPECT_FALSE(list->open_device(id, nullptr));
    EXPECT_EQ(list->active_count(), 0u);
}

TEST_F(active_device_list_test, cameras_without_a_guid_never_share_a_handle)
{
    start(60000);
    auto first = list->open_device(GUID{}, camera(GUID{}));
    auto second = list->open_device(GUID{}, camera(GUID{}));
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_NE(first->device(), second->device());

    // Not reusable, so not kept idle: released with its handle.
    first.reset();
    EXPECT_EQ(stats->devices_released(), 1);
    EXPECT_EQ(list->idle_count(), 0u);
    EXPECT_TRUE(second->device());
    EXPECT_EQ(list->active_count(), 1u);
}

TEST_F(active_device_list_test, destruction_invalidates_live_handles_and_releases_every_camera)
{
    start(60000);
    const GUID a = make_guid();
    const GUID b = make_guid();
    auto handle = list->open_device(a, camera(a));
    list->open_device(b, camera(b)).reset();
    list.reset();
    EXPECT_TRUE(event_is_set(handle->event()));
    EXPECT_EQ(stats->devices_alive(), 0);
}

// A camera record whose create_device waits at a gate, as a camera that is
// slow to open does.
class gated_device_info final : public cam_service::device_info_base {
public:
    gated_device_info(fake_camera camera, std::shared_ptr<device_stats> stats) : inner_(std::move(camera), stats) {}
    const wchar_t* serial_number() const noexcept override { return inner_.serial_number(); }
    const wchar_t* product_name() const noexcept override { return inner_.product_name(); }
    utils::property_store_itf* property_store() noexcept override { return nullptr; }
    cam_service::active_device_base* create_device(const GUID& device_id, HKEY device_key) override
    {
        std::unique_lock lock(mutex_);
        ++entered_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
        return inner_.create_device(device_id, device_key);
    }
    bool wait_entered(int count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return entered_ >= count; });
    }
    void open_gate()
    {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }

private:
    fake_device_info inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int entered_ = 0;
    bool open_ = false;
};

// While a camera opens, the list is not held: clients asking for the same
// camera at once get the one handle of one camera, another camera's release
// and a removal notice return at once, and a camera reported removed while
// it opened gives no handle and is released.
TEST_F(active_device_list_test, a_camera_being_opened_holds_only_the_clients_of_that_camera)
{
    start(60000);
    const GUID slow_id = make_guid();
    auto* gated = new gated_device_info(fake_camera{L"slow", L"Slow"}, stats);
    const auto slow = std::make_shared<active_device_info>(slow_id, nullptr, cam_service::adopt_device_info(gated));
    const GUID other_id = make_guid();
    auto other = list->open_device(other_id, camera(other_id));

    auto first = std::async(std::launch::async, [&] { return list->open_device(slow_id, slow); });
    ASSERT_TRUE(gated->wait_entered(1));
    auto second = std::async(std::launch::async, [&] { return list->open_device(slow_id, slow); });
    auto release = std::async(std::launch::async, [&] { other.reset(); });
    const bool released = release.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    gated->open_gate();
    ASSERT_TRUE(released) << "releasing another camera waited for the open";
    EXPECT_EQ(list->idle_count(), 1u);
    const auto handle = first.get();
    ASSERT_TRUE(handle);
    EXPECT_EQ(second.get(), handle);
    EXPECT_EQ(stats->create_calls, 2); // the other camera and the slow one, once

    // Reported removed while it opens: no handle, and nothing kept.
    const GUID leaving_id = make_guid();
    auto* leaving_gated = new gated_device_info(fake_camera{L"leaving", L"Leaving"}, stats);
    const auto leaving =
        std::make_shared<active_device_info>(leaving_id, nullptr, cam_service::adopt_device_info(leaving_gated));
    auto opening = std::async(std::launch::async, [&] { return list->open_device(leaving_id, leaving); });
    ASSERT_TRUE(leaving_gated->wait_entered(1));
    auto removal = std::async(std::launch::async,
                              [&] { list->on_list_changed(cam_service::list_change_removed, leaving_id); });
    const bool removed = removal.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    leaving_gated->open_gate();
    EXPECT_TRUE(removed) << "the removal notice waited for the open";
    EXPECT_FALSE(opening.get());
    EXPECT_EQ(list->active_count(), 1u);
    EXPECT_EQ(stats->devices_released(), 1);
}

// Stands in for the discover service's notifier.
struct fake_source : cam_service::list_change_source {
    std::mutex mutex;
    std::condition_variable changed;
    std::multimap<std::wstring, callback> clients;
    int adds = 0;

    void add_list_client(const std::wstring& name, callback on_change) override
    {
        {
            std::lock_guard lock(mutex);
            clients.emplace(name, std::move(on_change));
            ++adds;
        }
        changed.notify_all();
    }
    bool remove_list_client(const std::wstring& name) override
    {
        std::lock_guard lock(mutex);
        const auto found = clients.find(name);
        if (found == clients.end()) {
            return false;
        }
        clients.erase(found);
        return true;
    }
    bool wait_adds(int count)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(10), [&] { return adds >= count; });
    }
    void post(std::uint32_t kind, const GUID& guid)
    {
        std::lock_guard lock(mutex);
        for (auto& [name, on_change] : clients) {
            on_change(kind, guid);
        }
    }
    std::size_t count(const std::wstring& name)
    {
        std::lock_guard lock(mutex);
        return clients.count(name);
    }
};

TEST_F(active_device_list_test, list_hears_removals_as_device_list_client_again_after_resume)
{
    settings.set_timeout(60000);
    auto source = std::make_shared<fake_source>();
    {
        active_device_list::options options;
        options.settings_root = HKEY_CURRENT_USER;
        options.settings_path = settings.path;
        options.change_source = [source] { return source; };
        list = active_device_list::create(options);
    }
    ASSERT_TRUE(source->wait_adds(1));
    EXPECT_EQ(source->count(L"device_list"), 1u);

    // A stop of the discover service drops every client; continue must bring
    // the list back, once.
    list->pause();
    source->remove_list_client(L"device_list");
    list->resume();
    list->resume();
    EXPECT_EQ(source->count(L"device_list"), 1u);

    const GUID id = make_guid();
    auto handle = list->open_device(id, camera(id));
    source->post(cam_service::list_change_removed, id);
    EXPECT_TRUE(event_is_set(handle->event()));

    list.reset();
    EXPECT_EQ(source->count(L"device_list"), 0u);
    EXPECT_EQ(source.use_count(), 1);
}

TEST(read_idle_timeout, takes_only_a_four_byte_dword_and_clamps_negative_values)
{
    const settings_key settings;
    using std::chrono::milliseconds;
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(5000));
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path + L"\\missing"), milliseconds(5000));

    settings.set_timeout(250);
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(250));
    settings.set_timeout(0);
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(0));
    settings.set_timeout(-20);
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(0));

    const std::uint64_t qword = 250;
    settings.set(REG_QWORD, &qword, sizeof(qword));
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(5000));
    const wchar_t text[] = L"250";
    settings.set(REG_SZ, text, sizeof(text));
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(5000));
    const std::uint16_t two_bytes = 250;
    settings.set(REG_DWORD, &two_bytes, sizeof(two_bytes));
    EXPECT_EQ(cam_service::read_idle_timeout(HKEY_CURRENT_USER, settings.path), milliseconds(5000));
}

} // namespace
