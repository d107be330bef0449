// The channel as a client process sees it: mappings and semaphore opened by
// name, header fields read in the client's own view, ready and give-back
// rules, counters.
#include "device_impl/shm_channel/shared_memory_channel.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"

namespace {

using win32::shared_memory_channel;

std::uint32_t load_le32(const std::uint8_t* at)
{
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
           std::uint32_t{at[3]} << 24;
}

// What a client opens by name.
struct client_view {
    win32::unique_handle mapping;
    std::uint8_t* view = nullptr;
    explicit client_view(const std::wstring& name)
        : mapping(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()))
    {
        if (mapping) {
            view = static_cast<std::uint8_t*>(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
        }
    }
    ~client_view()
    {
        if (view != nullptr) {
            UnmapViewOfFile(view);
        }
    }
    std::uint32_t at(std::size_t offset) const { return load_le32(view + offset); }
};

// The semaphore's count, read by taking it down to 0 and putting it back.
LONG semaphore_count(const std::wstring& name)
{
    win32::unique_handle semaphore(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE | SYNCHRONIZE, FALSE, name.c_str()));
    if (!semaphore) {
        return -1;
    }
    LONG count = 0;
    while (WaitForSingleObject(semaphore.get(), 0) == WAIT_OBJECT_0) {
        ++count;
    }
    if (count > 0) {
        ReleaseSemaphore(semaphore.get(), count, nullptr);
    }
    return count;
}

// The entries of an object's DACL as read back through a handle: the SID of
// each access-allowed entry, any other entry as "type <n>"; sorted.
std::vector<std::wstring> dacl_entries(HANDLE object)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
        return {L"unreadable"};
    }
    std::vector<std::wstring> entries;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!GetAce(dacl, i, &ace)) {
            entries.push_back(L"bad entry");
            continue;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            entries.push_back(L"type " + std::to_wstring(header->AceType));
            continue;
        }
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        entries.push_back(win32::account_sid(&allowed->SidStart).to_string());
    }
    LocalFree(descriptor);
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::wstring> granted_to(const std::wstring& user)
{
    std::vector<std::wstring> entries{L"S-1-5-18", L"S-1-5-32-544", user};
    std::sort(entries.begin(), entries.end());
    return entries;
}

win32::account_sid sid_of(const wchar_t* text)
{
    PSID sid = nullptr;
    if (!ConvertStringSidToSidW(text, &sid)) {
        return {};
    }
    win32::account_sid result(sid);
    LocalFree(sid);
    return result;
}

struct channel_fixture : ::testing::Test {
    static constexpr std::uint64_t capacity = 8192;
    std::wstring name = win32::make_unique_global_name(L"chan").substr(7);
    shared_memory_channel channel{name};
    std::vector<cam::frame_wrapper*> returned; // what reached the producer, in order

    void open(std::uint64_t payload = capacity)
    {
        ASSERT_FALSE(channel.open(payload, [this](cam::frame_wrapper* b) { returned.push_back(b); }));
    }
    // Opens and lends every buffer to the producer.
    std::vector<cam::frame_wrapper*> open_and_hand_out()
    {
        open();
        channel.hand_all_buffers_out();
        auto frames = returned;
        returned.clear();
        return frames;
    }
};

TEST_F(channel_fixture, open_makes_four_named_mappings_with_their_headers_and_fresh_ids)
{
    EXPECT_EQ(channel.semaphore_name().rfind(L"Global\\" + name, 0), 0u);
    EXPECT_GT(channel.semaphore_name().size(), name.size() + 7 + 30);
    EXPECT_EQ(semaphore_count(channel.semaphore_name()), 0);
    EXPECT_EQ(channel.buffers(), 0u);
    open();
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto [mapping, id] = channel.read(i);
        EXPECT_EQ(mapping, L"Global\\" + name + L"_shared_mem_" + std::to_wstring(i));
        client_view client(mapping);
        ASSERT_NE(client.view, nullptr);
        EXPECT_EQ(client.at(0x00), capacity + 4096);
        EXPECT_EQ(client.at(0x04), id);
        EXPECT_EQ(client.at(0x08), 4096u);
        EXPECT_EQ(client.at(0x0C), capacity);
        EXPECT_EQ(client.at(0x10), 0u);
        EXPECT_NE(id, 0u);
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(channel.read(4), (std::pair<std::wstring, std::uint32_t>{L"", 0}));

    const std::wstring first = channel.read(0).first;
    channel.clear();
    EXPECT_EQ(channel.buffers(), 0u);
    EXPECT_FALSE(win32::unique_handle(OpenFileMappingW(FILE_MAP_READ, FALSE, first.c_str()))); // destroyed
    open();
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(ids.count(channel.read(i).second), 0u) << "ids are new after a reopen";
    }
}

TEST_F(channel_fixture, mappings_and_semaphore_are_open_to_system_administrators_and_the_client_only)
{
    const win32::account_sid client = sid_of(L"S-1-5-21-1111-2222-3333-1001");
    const win32::account_sid next_client = sid_of(L"S-1-5-21-1111-2222-3333-1002");
    ASSERT_FALSE(client.empty());
    const auto keep = [](cam::frame_wrapper*) {};
    ASSERT_FALSE(channel.open(capacity, keep, client));
    const auto semaphore_entries = [&] {
        win32::unique_handle semaphore(OpenSemaphoreW(READ_CONTROL, FALSE, channel.semaphore_name().c_str()));
        return dacl_entries(semaphore.get());
    };
    const auto mapping_entries = [&](std::size_t index) {
        win32::unique_handle mapping(OpenFileMappingW(READ_CONTROL, FALSE, channel.read(index).first.c_str()));
        return dacl_entries(mapping.get());
    };
    for (std::size_t i = 0; i < shared_memory_channel::buffer_count; ++i) {
        EXPECT_EQ(mapping_entries(i), granted_to(client.to_string())) << i;
    }
    EXPECT_EQ(semaphore_entries(), granted_to(client.to_string()));

    // The next client's channel, while the last client still holds its
    // first mapping: that one is not used again.
    const std::wstring held_name = channel.read(0).first;
    client_view held(held_name);
    ASSERT_NE(held.view, nullptr);
    channel.clear();
    ASSERT_FALSE(channel.open(capacity, keep, next_client));
    EXPECT_NE(channel.read(0).first, held_name);
    for (std::size_t i = 0; i < shared_memory_channel::buffer_count; ++i) {
        EXPECT_EQ(mapping_entries(i), granted_to(next_client.to_string())) << i;
    }
    EXPECT_EQ(semaphore_entries(), granted_to(next_client.to_string()));

    // Outside a COM call the client is this process's own user.
    channel.clear();
    ASSERT_FALSE(channel.open(capacity, keep));
    const std::wstring own = win32::process_user().to_string();
    ASSERT_FALSE(own.empty());
    EXPECT_EQ(mapping_entries(3), granted_to(own));
    EXPECT_EQ(semaphore_entries(), granted_to(own));
}

TEST_F(channel_fixture, a_new_channel_wakes_its_client_only_for_its_own_frames)
{
    auto frames = open_and_hand_out();
    win32::unique_handle earlier(
        OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, channel.semaphore_name().c_str()));
    ASSERT_TRUE(earlier);
    const cam::frame_counts counts{};
    ASSERT_TRUE(channel.write(*frames[0], counts));
    channel.update_frame_counts(counts);
    // The client went without looking; a counter update comes in after the
    // channel was cleared.
    channel.clear();
    EXPECT_EQ(WaitForSingleObject(earlier.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    channel.update_frame_counts(counts);

    frames = open_and_hand_out();
    win32::unique_handle semaphore(
        OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, channel.semaphore_name().c_str()));
    ASSERT_TRUE(semaphore);
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(channel.write(*frames[1], counts));
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    // Counter updates wake it again once the channel is new.
    channel.update_frame_counts(counts);
    EXPECT_EQ(WaitForSingleObject(semaphore.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(earlier.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the earlier client's";
}

// A client closes its stream channel but keeps its four views and the
// semaphore; the next client streams. Nothing of the next client's frames
// reaches the first, and what the first does to its handles reaches no one.
TEST_F(channel_fixture, a_client_that_kept_its_handles_sees_nothing_of_the_next_clients_frames)
{
    open_and_hand_out();
    std::vector<std::unique_ptr<client_view>> kept;
    std::vector<std::wstring> kept_names;
    for (std::size_t i = 0; i < shared_memory_channel::buffer_count; ++i) {
        kept_names.push_back(channel.read(i).first);
        kept.push_back(std::make_unique<client_view>(kept_names.back()));
        ASSERT_NE(kept.back()->view, nullptr) << i;
    }
    const std::wstring kept_semaphore_name = channel.semaphore_name();
    win32::unique_handle kept_semaphore(
        OpenSemaphoreW(SYNCHRONIZE | SEMAPHORE_MODIFY_STATE, FALSE, kept_semaphore_name.c_str()));
    ASSERT_TRUE(kept_semaphore);
    channel.clear();

    auto frames = open_and_hand_out();
    ASSERT_EQ(frames.size(), shared_memory_channel::buffer_count);
    EXPECT_NE(channel.semaphore_name(), kept_semaphore_name);
    for (std::size_t i = 0; i < shared_memory_channel::buffer_count; ++i) {
        const std::wstring mapping = channel.read(i).first;
        EXPECT_EQ(std::count(kept_names.begin(), kept_names.end(), mapping), 0) << i;
        EXPECT_EQ(mapping.rfind(L"Global\\" + name + L"_shared_mem_" + std::to_wstring(i), 0), 0u) << i;
    }
    // The next client streams a frame through every buffer.
    const cam::frame_counts counts{};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        std::memset(frames[i]->buffer + shared_memory_channel::header_size, 0xA5, capacity);
        frames[i]->valid_data_size_ = capacity;
        ASSERT_TRUE(channel.write(*frames[i], counts)) << i;
        EXPECT_EQ(semaphore_count(channel.semaphore_name()), 1) << i;
        std::uint32_t id = 0;
        ASSERT_EQ(channel.take(&id, nullptr), S_OK);
        // Its counting is the next client's alone: the kept semaphore can add
        // nothing to it.
        ReleaseSemaphore(kept_semaphore.get(), 1, nullptr);
        EXPECT_EQ(semaphore_count(channel.semaphore_name()), 1) << i;
        win32::unique_handle own(OpenSemaphoreW(SYNCHRONIZE, FALSE, channel.semaphore_name().c_str()));
        ASSERT_EQ(WaitForSingleObject(own.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(channel.give_back(id), S_OK);
    }
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const std::uint8_t* payload = kept[i]->view + shared_memory_channel::header_size;
        EXPECT_EQ(kept[i]->at(0x10), 0u) << "valid size of kept view " << i;
        EXPECT_TRUE(std::all_of(payload, payload + capacity, [](std::uint8_t b) { return b == 0; }))
            << "payload of kept view " << i;
    }
}

TEST_F(channel_fixture, a_full_ready_queue_sends_the_new_frame_back_and_counts_it)
{
    auto frames = open_and_hand_out();
    ASSERT_EQ(frames.size(), 4u);
    cam::frame_counts counts{};
    counts.frames_delivered = 3;
    counts.frames_dropped_due_to_dshow_buffer_starvation = 5;
    frames[0]->valid_data_size_ = 100;
    frames[0]->offset = 12;
    EXPECT_TRUE(channel.write(*frames[0], counts));
    EXPECT_TRUE(channel.write(*frames[1], counts));
    EXPECT_FALSE(channel.write(*frames[2], counts));
    EXPECT_EQ(returned, std::vector<cam::frame_wrapper*>{frames[2]});
    EXPECT_EQ(channel.starvation_count(), 1u);
    EXPECT_EQ(semaphore_count(channel.semaphore_name()), 3);

    client_view first(channel.read(0).first); // frames were handed out in list order
    std::uint32_t id = 0;
    cam::frame_counts seen{};
    ASSERT_EQ(channel.take(&id, &seen), S_OK);
    EXPECT_EQ(id, frames[0]->id); // oldest first
    EXPECT_EQ(seen.frames_delivered, 3u);
    EXPECT_EQ(seen.frames_dropped_due_to_dshow_buffer_starvation, 6u);
    ASSERT_NE(first.view, nullptr);
    EXPECT_EQ(first.at(0x08), 4096u + 12u);
    EXPECT_EQ(first.at(0x10), 100u);
    ASSERT_EQ(channel.take(&id, &seen), S_OK);
    EXPECT_EQ(id, frames[1]->id);
    EXPECT_EQ(channel.take(&id, &seen), S_FALSE); // empty, counters still given
    EXPECT_EQ(seen.frames_delivered, 3u);
}

TEST_F(channel_fixture, a_new_run_sends_the_waiting_frames_back_counted_and_leaves_the_clients_frame_with_it)
{
    auto frames = open_and_hand_out();
    cam::frame_counts counts{};
    counts.frames_delivered = 3;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(channel.write(*frames[i], counts)) << i;
        if (i == 0) {
            std::uint32_t held = 0;
            ASSERT_EQ(channel.take(&held, nullptr), S_OK);
            ASSERT_EQ(held, frames[0]->id);
        }
    }
    channel.discard_ready();
    EXPECT_EQ(returned, (std::vector<cam::frame_wrapper*>{frames[1], frames[2]})); // oldest first
    EXPECT_EQ(channel.starvation_count(), 2u);
    std::uint32_t id = 0;
    cam::frame_counts seen{};
    EXPECT_EQ(channel.take(&id, &seen), S_FALSE);
    EXPECT_EQ(seen.frames_dropped_due_to_dshow_buffer_starvation, 2u);
    EXPECT_EQ(semaphore_count(channel.semaphore_name()), 3) << "the client finds no frame for those wakes";
    // The frame the client holds is still its own to give back, once.
    returned.clear();
    EXPECT_EQ(channel.give_back(frames[0]->id), S_OK);
    EXPECT_EQ(returned, std::vector<cam::frame_wrapper*>{frames[0]});
    channel.discard_ready(); // nothing waits
    EXPECT_EQ(returned.size(), 1u);
    EXPECT_EQ(channel.starvation_count(), 2u);
    // The discarded frames circulate again.
    EXPECT_TRUE(channel.write(*frames[1], counts));
    ASSERT_EQ(channel.take(&id, nullptr), S_OK);
    EXPECT_EQ(id, frames[1]->id);
}

TEST_F(channel_fixture, counter_updates_wake_the_client_once_until_it_looks)
{
    open_and_hand_out();
    cam::frame_counts counts{};
    counts.frames_dropped_due_to_packet_loss = 1;
    channel.update_frame_counts(counts);
    counts.frames_dropped_due_to_packet_loss = 2;
    channel.update_frame_counts(counts);
    EXPECT_EQ(semaphore_count(channel.semaphore_name()), 1);
    cam::frame_counts seen{};
    EXPECT_EQ(channel.take(nullptr, &seen), S_FALSE);
    EXPECT_EQ(seen.frames_dropped_due_to_packet_loss, 2u);
    channel.update_frame_counts(counts);
    EXPECT_EQ(semaphore_count(channel.semaphore_name()), 2);
}

TEST_F(channel_fixture, only_an_id_the_client_took_goes_back_to_the_producer)
{
    auto frames = open_and_hand_out();
    shared_memory_channel other(name + L"_other");
    ASSERT_FALSE(other.open(4096, [](cam::frame_wrapper*) {}));
    const cam::frame_counts counts{};
    ASSERT_TRUE(channel.write(*frames[0], counts));
    ASSERT_TRUE(channel.write(*frames[1], counts));
    std::uint32_t taken = 0;
    ASSERT_EQ(channel.take(&taken, nullptr), S_OK);
    ASSERT_EQ(taken, frames[0]->id);

    struct row {
        const char* what;
        std::uint64_t id;
    };
    const row ignored[] = {
        {"one still in the ready queue", frames[1]->id},
        {"one the producer holds", frames[2]->id},
        {"no such id", 0xFFFF'FFFFull + 7},
        {"another channel's", other.read(0).second},
        {"zero", 0},
    };
    for (const auto& r : ignored) {
        EXPECT_EQ(channel.give_back(r.id), S_OK) << r.what;
        EXPECT_TRUE(returned.empty()) << r.what;
    }
    EXPECT_EQ(channel.give_back(taken), S_OK);
    EXPECT_EQ(returned, std::vector<cam::frame_wrapper*>{frames[0]});
    EXPECT_EQ(channel.give_back(taken), S_OK); // twice
    EXPECT_EQ(returned.size(), 1u);

    // The producer cannot queue a frame that is not its own.
    EXPECT_FALSE(channel.write(*frames[1], counts)); // already ready
    cam::frame_wrapper stranger = *frames[3];
    EXPECT_FALSE(channel.write(stranger, counts)); // a copy, not the channel's record
    EXPECT_EQ(channel.take(&taken, nullptr), S_OK);
    EXPECT_EQ(channel.take(&taken, nullptr), S_FALSE);

    // After a clear the client's ids mean nothing.
    channel.clear();
    returned.clear();
    EXPECT_EQ(channel.give_back(frames[1]->id), S_OK);
    EXPECT_TRUE(returned.empty());
}

TEST_F(channel_fixture, a_reopen_beside_a_held_mapping_makes_a_fresh_one_of_the_new_size)
{
    open(4096);
    const std::wstring first = channel.read(0).first;
    client_view client(first); // a client still holds the old buffer
    ASSERT_NE(client.view, nullptr);
    channel.clear();
    returned.clear();
    open(1 << 20);
    ASSERT_EQ(channel.buffers(), 4u);
    const std::wstring fresh = channel.read(0).first;
    EXPECT_NE(fresh, first);
    EXPECT_LE(fresh.size(), 128u) << "fits the client's name record";
    client_view next(fresh);
    ASSERT_NE(next.view, nullptr);
    EXPECT_EQ(next.at(0x00), (1u << 20) + 4096u);
    EXPECT_EQ(client.at(0x00), 4096u + 4096u) << "the held one is left as it was";
    // Once nobody holds it the usual name serves again.
    channel.clear();
    client.mapping.reset();
    UnmapViewOfFile(client.view);
    client.view = nullptr;
    open(4096);
    EXPECT_EQ(channel.read(0).first, first);
}

TEST_F(channel_fixture, a_failing_third_mapping_leaves_no_buffers_and_logs_the_channel)
{
    std::vector<std::string> lines;
    const auto saved_level = service_log_level.load();
    service_log_level = 1;
    set_log_sink(1, [&](std::uint32_t, const char* text) { lines.emplace_back(text); });
    // Another object already has the third mapping's name.
    win32::unique_handle squatter(
        CreateEventW(nullptr, TRUE, FALSE, (L"Global\\" + name + L"_shared_mem_2").c_str()));
    ASSERT_TRUE(squatter);
    bool called = false;
    const std::error_code failed = channel.open(4096, [&](cam::frame_wrapper*) { called = true; });
    set_log_sink(1, nullptr);
    service_log_level = saved_level;
    EXPECT_TRUE(failed);
    EXPECT_EQ(channel.buffers(), 0u);
    channel.hand_all_buffers_out();
    EXPECT_FALSE(called);
    bool logged = false;
    for (const auto& line : lines) {
        logged = logged || (line.find("Failed to allocate stream_channel buffer") != std::string::npos &&
                            line.find(utils::to_utf8(name)) != std::string::npos);
    }
    EXPECT_TRUE(logged);
}

} // namespace

namespace {

TEST(named_semaphore, a_name_that_exists_already_is_refused)
{
    const std::wstring name = win32::make_unique_global_name(L"sem");
    win32::named_semaphore first(name, 10, nullptr);
    EXPECT_TRUE(first.release(2));
    LONG previous = -1;
    EXPECT_TRUE(first.release(1, &previous));
    EXPECT_EQ(previous, 2);
    EXPECT_FALSE(first.release(8)); // past the maximum
    try {
        win32::named_semaphore second(name, 10, nullptr);
        ADD_FAILURE() << "a second semaphore of the same name was made";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ERROR_ALREADY_EXISTS);
        EXPECT_NE(std::string(error.what()).find("Failed to create semaphore"), std::string::npos);
    }
}

} // namespace
