// Records of WM_DEVICECHANGE broadcasts as they may arrive: only arrivals and
// completed removals of device interfaces are read, never past their size.
#include "device_impl/device_impl_tools/device_change/device_interface_broadcast.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using device_change::read_device_interface_broadcast;

constexpr GUID camera_class = {0x5DC9399A, 0x8F79, 0x4AEA, {0x97, 0x0B, 0xCC, 0x70, 0x47, 0x38, 0x49, 0xE9}};

// A record of `size` claimed bytes, with room for the whole name and its zero
// whatever the claim says.
std::vector<DWORD> record(DWORD size, DWORD type, std::wstring_view name, bool terminated = true)
{
    const std::size_t bytes = 28 + (name.size() + 1) * sizeof(wchar_t);
    std::vector<DWORD> storage((std::max<std::size_t>(bytes, size) + 3) / 4, 0);
    auto* raw = reinterpret_cast<unsigned char*>(storage.data());
    std::memcpy(raw, &size, 4);
    std::memcpy(raw + 4, &type, 4);
    std::memcpy(raw + 12, &camera_class, sizeof(GUID));
    std::memcpy(raw + 28, name.data(), name.size() * sizeof(wchar_t));
    if (!terminated) {
        // What follows the name's claimed end is not a zero.
        const wchar_t more = L'X';
        std::memcpy(raw + 28 + name.size() * sizeof(wchar_t), &more, sizeof(more));
    }
    return storage;
}

LPARAM as_lparam(std::vector<DWORD>& r)
{
    return reinterpret_cast<LPARAM>(r.data());
}

TEST(device_interface_broadcast, arrivals_and_removals_of_interfaces_give_name_class_and_kind)
{
    const std::wstring name = L"\\\\?\\USB#VID_199E&PID_9001#SIM00001#{5dc9399a-8f79-4aea-970b-cc70473849e9}";
    auto r = record(static_cast<DWORD>(28 + (name.size() + 1) * 2), 5, name);
    const auto arrival = read_device_interface_broadcast(0x8000, as_lparam(r));
    ASSERT_TRUE(arrival.has_value());
    EXPECT_EQ(arrival->name, name);
    EXPECT_TRUE(IsEqualGUID(arrival->interface_class, camera_class));
    EXPECT_FALSE(arrival->removed);
    const auto removal = read_device_interface_broadcast(0x8004, as_lparam(r));
    ASSERT_TRUE(removal.has_value());
    EXPECT_TRUE(removal->removed);
    EXPECT_EQ(removal->name, name);
}

TEST(device_interface_broadcast, other_events_types_and_short_records_are_not_read)
{
    auto good = record(40, 5, L"abc");
    auto volume = record(40, 2, L"abc");
    auto short_record = record(31, 5, L"abc");
    auto header_only = record(12, 5, L"");
    const struct {
        const char* what;
        WPARAM event;
        LPARAM lparam;
    } cases[] = {
        {"nodes changed", 0x0007, 0},
        {"query remove", 0x8001, as_lparam(good)},
        {"remove pending", 0x8003, as_lparam(good)},
        {"arrival without a record", 0x8000, 0},
        {"a volume", 0x8000, as_lparam(volume)},
        {"31 bytes", 0x8000, as_lparam(short_record)},
        {"a bare header", 0x8004, as_lparam(header_only)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(read_device_interface_broadcast(c.event, c.lparam).has_value()) << c.what;
    }
}

TEST(device_interface_broadcast, the_name_ends_at_its_zero_or_at_the_records_claimed_size)
{
    // 32 bytes leave room for two characters.
    auto two = record(32, 5, L"abcdef", false);
    EXPECT_EQ(read_device_interface_broadcast(0x8000, as_lparam(two))->name, L"ab");
    // An odd size: the half character is not read.
    auto odd = record(35, 5, L"abcdef", false);
    EXPECT_EQ(read_device_interface_broadcast(0x8000, as_lparam(odd))->name, L"abc");
    // A claim larger than the name: the zero ends it.
    auto roomy = record(200, 5, L"cam");
    EXPECT_EQ(read_device_interface_broadcast(0x8000, as_lparam(roomy))->name, L"cam");
    auto unterminated = record(28 + 4 * 2, 5, L"four", false);
    EXPECT_EQ(read_device_interface_broadcast(0x8000, as_lparam(unterminated))->name, L"four");
}

} // namespace
