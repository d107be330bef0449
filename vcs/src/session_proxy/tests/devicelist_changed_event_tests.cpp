#include "session_proxy/devicelist_changed_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "service/session_mailslot.h"

namespace {
using namespace std::chrono_literals;
using DShowDeviceService::mailslot_event;

// What the service's discovery object was asked, and what it answers.
struct fake_service {
    std::mutex lock;
    std::vector<std::wstring> calls; // "register <pid> <name>" / "remove <pid> <name>"
    HRESULT register_result = S_OK;
    bool reachable = true;

    void record(const wchar_t* what, DWORD pid, const std::wstring& name)
    {
        const std::lock_guard guard(lock);
        calls.push_back(std::wstring(what) + L" " + std::to_wstring(pid) + L" " + name);
    }
    std::vector<std::wstring> seen()
    {
        const std::lock_guard guard(lock);
        return calls;
    }
};

class fake_discovery final : public session_proxy::discovery_client {
public:
    explicit fake_discovery(fake_service& service) : service_(service) {}
    HRESULT register_event_mailslot(DWORD pid, const std::wstring& name) override
    {
        service_.record(L"register", pid, name);
        return service_.register_result;
    }
    HRESULT remove_event_mailslot(DWORD pid, const std::wstring& name) override
    {
        service_.record(L"remove", pid, name);
        return S_OK;
    }

private:
    fake_service& service_;
};

session_proxy::discovery_connector connector(fake_service& service)
{
    return [&service]() -> std::unique_ptr<session_proxy::discovery_client> {
        if (!service.reachable) {
            return nullptr;
        }
        return std::make_unique<fake_discovery>(service);
    };
}

struct delivered {
    GUID guid;
    std::wstring key;
    std::uint32_t kind;
};

// Collects what the listener hands its handler, from the thread pool.
struct inbox {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<delivered> messages;

    session_proxy::devicelist_changed_event::handler handler()
    {
        return [this](const GUID& guid, std::wstring_view key, std::uint32_t kind) {
            const std::lock_guard guard(lock);
            messages.push_back({guid, std::wstring(key), kind});
            arrived.notify_all();
        };
    }
    std::optional<delivered> next(std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock guard(lock);
        if (!arrived.wait_for(guard, timeout, [&] { return !messages.empty(); })) {
            return std::nullopt;
        }
        delivered first = messages.front();
        messages.pop_front();
        return first;
    }
};

std::wstring unique_mailslot_name()
{
    return L"\\\\.\\mailslot\\camtovra_tests\\" + win32::make_unique_global_name(L"proxy_").substr(7);
}

void write_raw(const std::wstring& mailslot, const void* data, DWORD size)
{
    HANDLE writer = CreateFileW(mailslot.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(writer, data, size, &written, nullptr); // a write larger than the mailslot takes may fail
    CloseHandle(writer);
}

const DShowDeviceService::guid_bytes camera_guid{0xA1B2C3D4, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

void write_event(const std::wstring& mailslot, std::uint32_t kind, std::u16string_view key)
{
    const mailslot_event event = DShowDeviceService::make_mailslot_event(kind, camera_guid, key);
    write_raw(mailslot, &event, sizeof(event));
}

TEST(devicelist_changed_event, registers_its_mailslot_and_hands_over_each_message)
{
    fake_service service;
    inbox received;
    const std::wstring name = unique_mailslot_name();
    auto listener = session_proxy::devicelist_changed_event::create(name, received.handler(), connector(service));
    ASSERT_TRUE(listener);
    const std::wstring pid = std::to_wstring(GetCurrentProcessId());
    EXPECT_EQ(service.seen(), std::vector<std::wstring>{L"register " + pid + L" " + name});

    write_event(name, 1, u"cam-1");
    write_event(name, 2, u"cam-1");
    const auto arrival = received.next();
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->kind, 1u);
    EXPECT_EQ(arrival->key, L"cam-1");
    EXPECT_EQ(win32::guid_to_wstring(arrival->guid), L"{A1B2C3D4-1111-2222-0102-030405060708}");
    const auto removal = received.next();
    ASSERT_TRUE(removal);
    EXPECT_EQ(removal->kind, 2u);

    // Without a closing message the proxy takes its mailslot off the list itself.
    listener.reset();
    EXPECT_EQ(service.seen(), (std::vector<std::wstring>{L"register " + pid + L" " + name,
                                                          L"remove " + pid + L" " + name}));
}

TEST(devicelist_changed_event, malformed_messages_are_skipped_and_reading_goes_on)
{
    fake_service service;
    inbox received;
    const std::wstring name = unique_mailslot_name();
    auto listener = session_proxy::devicelist_changed_event::create(name, received.handler(), connector(service));

    mailslot_event event = DShowDeviceService::make_mailslot_event(1, camera_guid, u"short");
    write_raw(name, &event, 151);
    event.version = 3;
    write_raw(name, &event, sizeof(event));
    // Too large for the mailslot: refused where the system enforces the limit,
    // cut to the read buffer where it does not; reading must go on either way.
    std::vector<unsigned char> large(600, 0);
    const mailslot_event oversized = DShowDeviceService::make_mailslot_event(1, camera_guid, u"large");
    std::memcpy(large.data(), &oversized, sizeof(oversized));
    write_raw(name, large.data(), static_cast<DWORD>(large.size()));
    // A key that fills its field without a terminating zero.
    event = DShowDeviceService::make_mailslot_event(7, camera_guid, u"");
    std::fill(std::begin(event.name), std::end(event.name), u'k');
    std::vector<unsigned char> unterminated(sizeof(event) + 40, 'x');
    std::memcpy(unterminated.data(), &event, sizeof(event));
    write_raw(name, unterminated.data(), static_cast<DWORD>(unterminated.size()));
    write_event(name, 2, u"last");

    auto next = received.next();
    ASSERT_TRUE(next);
    if (next->key == L"large") {
        next = received.next();
        ASSERT_TRUE(next);
    }
    EXPECT_EQ(next->kind, 7u); // unknown kinds are handed on as they are
    EXPECT_EQ(next->key, std::wstring(64, L'k'));
    next = received.next();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->key, L"last");
    EXPECT_FALSE(received.next(200ms));
}

TEST(devicelist_changed_event, closing_message_is_the_last_one_handled)
{
    fake_service service;
    inbox received;
    const std::wstring name = unique_mailslot_name();
    auto listener = session_proxy::devicelist_changed_event::create(name, received.handler(), connector(service));

    const mailslot_event closing = DShowDeviceService::make_closing_event();
    write_raw(name, &closing, sizeof(closing));
    const auto quit = received.next();
    ASSERT_TRUE(quit);
    EXPECT_EQ(quit->kind, 0x100u);
    EXPECT_TRUE(listener->quit_received());

    write_event(name, 1, u"after");
    write_raw(name, &closing, sizeof(closing));
    EXPECT_FALSE(received.next(300ms)); // no read follows the closing message

    listener.reset();
    EXPECT_EQ(service.seen().size(), 1u); // registered, never removed: the service dropped it
}

TEST(devicelist_changed_event, teardown_ends_a_read_that_is_still_waiting)
{
    fake_service service;
    inbox received;
    const std::wstring name = unique_mailslot_name();
    auto listener = session_proxy::devicelist_changed_event::create(name, received.handler(), connector(service));
    // Once a message was handled the listener's loop runs: the next read is
    // issued as the handler returns.
    write_event(name, 1, u"first");
    ASSERT_TRUE(received.next());

    const auto started = std::chrono::steady_clock::now();
    listener.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    EXPECT_FALSE(received.next(0ms));
    EXPECT_EQ(service.seen().size(), 2u);

    // The name is free again: the mailslot was closed.
    win32::unique_handle again(CreateMailslotW(name.c_str(), 0, 0, nullptr));
    EXPECT_NE(again.get(), INVALID_HANDLE_VALUE);
}

TEST(devicelist_changed_event, start_up_failures_leave_nothing_behind)
{
    fake_service service;
    const std::wstring name = unique_mailslot_name();
    const auto expect_failure = [&](const char* text) {
        try {
            session_proxy::devicelist_changed_event::create(name, nullptr, connector(service));
            ADD_FAILURE() << "created; expected " << text;
        } catch (const std::exception& error) {
            EXPECT_STREQ(error.what(), text);
        }
    };

    service.reachable = false;
    expect_failure("Failed to create the discovery object");
    service.reachable = true;

    service.register_result = E_ACCESSDENIED;
    expect_failure("Failed to register mail slot");
    service.register_result = S_OK;
    // The refused registration closed the mailslot: the name is free again.
    {
        win32::unique_handle probe(CreateMailslotW(name.c_str(), 0, 0, nullptr));
        ASSERT_NE(probe.get(), INVALID_HANDLE_VALUE);
        // While another reader owns the name (a second proxy in the session),
        // nothing is registered.
        service.calls.clear();
        expect_failure("Failed to create mail slot");
        EXPECT_TRUE(service.seen().empty());
    }

    try {
        session_proxy::devicelist_changed_event::create(L"", nullptr, connector(service));
        ADD_FAILURE() << "created without a name";
    } catch (const std::exception&) {
    }
    EXPECT_TRUE(service.seen().empty());
}

} // namespace
