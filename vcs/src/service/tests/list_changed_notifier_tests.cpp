#include "service/list_changed_notifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "gen_utils/log.h"
#include "gen_utils/win32_utils.h"
#include "child_process.h"

namespace {
using DShowDeviceService::device_event::closing;
using DShowDeviceService::device_event::created;
using DShowDeviceService::device_event::removed;
using DShowDeviceService::mailslot_event;

std::wstring unique_mailslot_name()
{
    return L"\\\\.\\mailslot\\camtovra_tests\\" + win32::make_unique_global_name(L"notifier_").substr(7);
}

const DShowDeviceService::guid_bytes camera_guid{0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};

mailslot_event camera_event(std::uint32_t kind, std::u16string_view name)
{
    return DShowDeviceService::make_mailslot_event(kind, camera_guid, name);
}

// A mailslot owned by the test, read without waiting.
struct own_mailslot {
    std::wstring name = unique_mailslot_name();
    win32::unique_handle handle{CreateMailslotW(name.c_str(), 0, 0, nullptr)};

    // Every message waiting now, in order.
    std::vector<std::vector<unsigned char>> messages() const
    {
        std::vector<std::vector<unsigned char>> out;
        while (true) {
            std::vector<unsigned char> buffer(1024);
            DWORD read = 0;
            if (!ReadFile(handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
                return out;
            }
            buffer.resize(read);
            out.push_back(std::move(buffer));
        }
    }
};

std::vector<unsigned char> bytes_of(const mailslot_event& event)
{
    std::vector<unsigned char> bytes(sizeof(event));
    std::memcpy(bytes.data(), &event, sizeof(event));
    return bytes;
}

TEST(list_changed_notifier, mailslot_receives_each_message_as_152_bytes)
{
    own_mailslot slot;
    ASSERT_NE(slot.handle.get(), INVALID_HANDLE_VALUE);
    service::list_changed_notifier notifier;
    ASSERT_EQ(notifier.open_mailslot(slot.name), S_OK);

    notifier.post(camera_event(created, u"Camera 1"));
    notifier.post(camera_event(removed, u"Camera 1"));
    const auto messages = slot.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], bytes_of(camera_event(created, u"Camera 1")));
    EXPECT_EQ(messages[1], bytes_of(camera_event(removed, u"Camera 1")));
}

TEST(list_changed_notifier, close_sends_one_closing_message_per_client_and_empties_the_list)
{
    own_mailslot first;
    own_mailslot second;
    service::list_changed_notifier notifier;
    ASSERT_EQ(notifier.open_mailslot(first.name), S_OK);
    ASSERT_EQ(notifier.open_mailslot(second.name), S_OK);
    int callback_calls = 0;
    notifier.add_client(L"device_list", [&](const mailslot_event& event) {
        EXPECT_EQ(event.kind, closing);
        ++callback_calls;
    });

    notifier.close();
    EXPECT_TRUE(notifier.client_names().empty());
    EXPECT_EQ(callback_calls, 1);
    for (const own_mailslot* slot : {&first, &second}) {
        const auto messages = slot->messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], bytes_of(DShowDeviceService::make_closing_event()));
    }
    notifier.post(camera_event(created, u"late"));
    EXPECT_TRUE(first.messages().empty());
}

TEST(list_changed_notifier, destruction_sends_the_closing_message)
{
    own_mailslot slot;
    {
        service::list_changed_notifier notifier;
        ASSERT_EQ(notifier.open_mailslot(slot.name), S_OK);
    }
    const auto messages = slot.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], bytes_of(DShowDeviceService::make_closing_event()));
}

TEST(list_changed_notifier, name_registered_again_keeps_one_place_and_removal_reaches_mailslots_only)
{
    own_mailslot slot;
    service::list_changed_notifier notifier;
    int callback_messages = 0;
    notifier.add_client(L"device_list", [&](const mailslot_event&) { ++callback_messages; });
    ASSERT_EQ(notifier.open_mailslot(slot.name), S_OK);
    ASSERT_EQ(notifier.open_mailslot(slot.name), S_OK);
    EXPECT_EQ(notifier.client_names(), (std::vector<std::wstring>{L"device_list", slot.name}));
    notifier.post(camera_event(created, u"c"));
    EXPECT_EQ(slot.messages().size(), 1u);

    // What RemoveEventMailslot reaches: a client naming the service's own
    // callback removes nothing, and the callback goes on hearing of removals.
    EXPECT_FALSE(notifier.remove_mailslot(L"device_list"));
    notifier.post(camera_event(removed, u"c"));
    EXPECT_EQ(callback_messages, 2);

    EXPECT_TRUE(notifier.remove_mailslot(slot.name));
    EXPECT_FALSE(notifier.remove_mailslot(slot.name));
    EXPECT_EQ(notifier.client_names(), (std::vector<std::wstring>{L"device_list"}));
    EXPECT_FALSE(notifier.remove_callback(slot.name));
    EXPECT_FALSE(notifier.remove_callback(L"DEVICE_LIST")); // names compare exactly
    EXPECT_TRUE(notifier.remove_callback(L"device_list"));
    EXPECT_TRUE(notifier.client_names().empty());
}

TEST(list_changed_notifier, callbacks_run_in_registration_order_with_the_message)
{
    std::vector<std::string> calls; // outlives the notifier, whose end posts once more
    service::list_changed_notifier notifier;
    notifier.add_client(L"a", [&](const mailslot_event& e) { calls.push_back("a" + std::to_string(e.kind)); });
    notifier.add_client(L"b", [&](const mailslot_event& e) { calls.push_back("b" + std::to_string(e.kind)); });
    notifier.add_client(L"empty", nullptr); // neither mailslot nor callback: dropped at the first post
    notifier.add_client(L"c", [&](const mailslot_event& e) { calls.push_back("c" + std::to_string(e.kind)); });

    notifier.post(camera_event(created, u"x"));
    notifier.post(camera_event(removed, u"x"));
    EXPECT_EQ(calls, (std::vector<std::string>{"a1", "b1", "c1", "a2", "b2", "c2"}));
    EXPECT_EQ(notifier.client_names(), (std::vector<std::wstring>{L"a", L"b", L"c"}));
}

TEST(list_changed_notifier, mailslot_whose_write_fails_is_dropped_and_not_tried_again)
{
    own_mailslot gone;
    own_mailslot alive;
    std::vector<HANDLE> attempts;
    HANDLE gone_handle = nullptr;
    // A reader that went away makes the system refuse the write; Wine keeps
    // the mailslot writable while any writer holds it, so the refusal is made here.
    service::list_changed_notifier notifier([&](HANDLE mailslot, const void* data, DWORD size) {
        attempts.push_back(mailslot);
        return mailslot != gone_handle && service::list_changed_notifier::write_file(mailslot, data, size);
    });
    ASSERT_EQ(notifier.open_mailslot(gone.name), S_OK);
    ASSERT_EQ(notifier.open_mailslot(alive.name), S_OK);
    notifier.post(camera_event(created, u"x"));
    ASSERT_EQ(attempts.size(), 2u);
    gone_handle = attempts[0];

    notifier.post(camera_event(created, u"y"));
    notifier.post(camera_event(created, u"z"));
    EXPECT_EQ(attempts.size(), 5u); // the refused mailslot was tried once more, then never again
    EXPECT_EQ(notifier.client_names(), std::vector<std::wstring>{alive.name});
    EXPECT_EQ(alive.messages().size(), 3u);
}

// Each registration holds a handle: past the cap a registration is refused
// with one log line, and every way a mailslot leaves frees its place.
TEST(list_changed_notifier, one_name_registered_again_and_again_leaves_the_places_to_other_names)
{
    constexpr HRESULT too_many = HRESULT_FROM_WIN32(ERROR_TOO_MANY_OPEN_FILES);
    constexpr std::size_t cap = service::list_changed_notifier::max_mailslots;
    std::vector<own_mailslot> slots(cap + 2);
    std::vector<std::string> lines;
    set_log_sink(1, [&](std::uint32_t, const char* text) { lines.emplace_back(text); });
    service_log_level = 1;
    HANDLE refuse_writes_to = nullptr;
    std::vector<HANDLE> written;
    // Hundreds of messages would fill the test's own mailslots: writes are only counted.
    service::list_changed_notifier notifier([&](HANDLE mailslot, const void*, DWORD) {
        written.push_back(mailslot);
        return mailslot != refuse_writes_to;
    });
    notifier.add_client(L"device_list", [](const mailslot_event&) {}); // callbacks take no place
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(notifier.open_mailslot(slots[0].name), S_OK) << i; // the same name again and again
    }
    EXPECT_EQ(notifier.client_names().size(), 2u);
    for (std::size_t i = 1; i < cap; ++i) {
        ASSERT_EQ(notifier.open_mailslot(slots[i].name), S_OK) << i; // another session's, and more
    }
    EXPECT_EQ(notifier.open_mailslot(slots[cap].name), too_many);
    EXPECT_EQ(notifier.open_mailslot(slots[0].name), S_OK); // registered already: no new place
    EXPECT_EQ(notifier.client_names().size(), cap + 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("256 mailslots are registered already"), std::string::npos) << lines[0];

    EXPECT_TRUE(notifier.remove_mailslot(slots[0].name)); // RemoveEventMailslot
    EXPECT_EQ(notifier.open_mailslot(slots[cap].name), S_OK);
    EXPECT_EQ(notifier.open_mailslot(slots[cap + 1].name), too_many);

    notifier.post(camera_event(created, u"x"));
    ASSERT_EQ(written.size(), cap); // one message per name
    refuse_writes_to = written.front(); // the reader of slots[1] went away
    notifier.post(camera_event(created, u"y"));
    EXPECT_EQ(notifier.open_mailslot(slots[cap + 1].name), S_OK);

    notifier.close();
    EXPECT_EQ(notifier.open_mailslot(slots[0].name), S_OK);
    set_log_sink(1, nullptr);
    service_log_level = 0;
    EXPECT_EQ(lines.size(), 2u);
}

TEST(list_changed_notifier, refuses_names_outside_the_local_mailslot_namespace)
{
    service::list_changed_notifier notifier;
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring file = std::wstring(temp) + L"camtovra_notifier_target.txt";
    { std::ofstream(file.c_str()) << "keep"; }

    for (const std::wstring& name : {file, std::wstring(L"\\\\.\\pipe\\camtovra_tests"),
                                     std::wstring(L"\\\\.\\mailslot\\..\\x"), std::wstring(L"")}) {
        EXPECT_EQ(notifier.open_mailslot(name), E_INVALIDARG);
    }
    EXPECT_TRUE(notifier.client_names().empty());
    std::ifstream in(file.c_str());
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep");
    in.close();
    DeleteFileW(file.c_str());
}

TEST(list_changed_notifier, missing_mailslot_reports_the_win32_error)
{
    service::list_changed_notifier notifier;
    const HRESULT result = notifier.open_mailslot(unique_mailslot_name());
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(notifier.client_names().empty());
}

// ---- a reader in another process ------------------------------------------

struct reader_process {
    std::wstring name = unique_mailslot_name();
    std::wstring output;
    test_support::child_process program;

    explicit reader_process(int count)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        output = std::wstring(temp) + name.substr(name.rfind(L'\\') + 1) + L".bin";
        program = test_support::start_helper(MAILSLOT_READER_EXE,
                                             L"\"" + name + L"\" \"" + output + L"\" " + std::to_wstring(count));
    }
    ~reader_process() { DeleteFileW(output.c_str()); }

    // Registers the reader's mailslot once it exists (the reader creates it).
    bool register_with(service::list_changed_notifier& notifier) const
    {
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (notifier.open_mailslot(name) == S_OK) {
                return true;
            }
            Sleep(10);
        }
        return false;
    }

    // Exit code (messages read) once the reader ended.
    DWORD wait() const
    {
        const DWORD code = program.wait(20000);
        EXPECT_NE(code, 0xFFFFFFFF) << "the reader did not end";
        return code;
    }

    std::vector<std::vector<unsigned char>> messages() const
    {
        std::ifstream in(output.c_str(), std::ios::binary);
        std::vector<std::vector<unsigned char>> out;
        std::uint32_t length = 0;
        while (in.read(reinterpret_cast<char*>(&length), sizeof(length))) {
            std::vector<unsigned char> message(length);
            in.read(reinterpret_cast<char*>(message.data()), length);
            out.push_back(std::move(message));
        }
        return out;
    }
};

TEST(list_changed_notifier, reader_process_receives_arrival_removal_and_close)
{
    reader_process reader(10);
    ASSERT_TRUE(reader.program);
    service::list_changed_notifier notifier;
    ASSERT_TRUE(reader.register_with(notifier));

    notifier.post(camera_event(created, u"Camera Z"));
    notifier.post(camera_event(removed, u"Camera Z"));
    notifier.close();
    EXPECT_EQ(reader.wait(), 3u);
    const auto messages = reader.messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], bytes_of(camera_event(created, u"Camera Z")));
    EXPECT_EQ(messages[1], bytes_of(camera_event(removed, u"Camera Z")));
    EXPECT_EQ(messages[2], bytes_of(DShowDeviceService::make_closing_event()));
}

} // namespace
