// The generic handlers: one variable as a property, its range, and its value
// persisted in a property store (in memory and in the registry).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "device_impl/device_impl_tools/propset.h"
#include "gen_utils/win32_utils.h"
#include "memory_property_store.h"
#include "properties/property_store_registry.h"

namespace {

constexpr HRESULT short_buffer = static_cast<HRESULT>(0x8007007A);
const cam::property_req_key denoise_key{cam::PROPSETID_COLOR_ENHANCE, 12};

// Runs one request carrying a 4-byte value (or `size` bytes) at a handler.
struct exchange {
    std::vector<unsigned char> buffer;
    KsPropDataRequest request;
    HRESULT result = E_UNEXPECTED;

    template <class T>
    T value() const
    {
        T v{};
        std::memcpy(&v, buffer.data(), sizeof(T));
        return v;
    }
};

template <class T>
exchange run(cam::property_req_entry_itf& handler, std::uint32_t type, T sent, std::uint32_t size = 4,
             bool through_set = false)
{
    exchange e;
    e.buffer.assign(std::max<std::uint32_t>(size, sizeof(T)), 0xEE);
    std::memcpy(e.buffer.data(), &sent, sizeof(T));
    e.request.request_type = type;
    e.request.property_set = denoise_key.property_set;
    e.request.property_id = denoise_key.property_id;
    e.request.value = e.buffer.data();
    e.request.value_size = size;
    e.result = cam::to_hresult(through_set ? handler.set_request(e.request) : handler.get_request(e.request));
    return e;
}

exchange get(cam::property_req_entry_itf& handler, std::uint32_t size = 4)
{
    return run(handler, KsPropDataRequest::get, std::int32_t{0}, size);
}

template <class T>
exchange set(cam::property_req_entry_itf& handler, T sent, std::uint32_t size = 4)
{
    return run(handler, KsPropDataRequest::set, sent, size, true);
}

TEST(generic_handlers, buffers_and_request_types_are_checked_for_every_kind)
{
    std::int32_t integer = 5;
    float real = 0.5f;
    bool flag = true;
    const std::unique_ptr<cam::property_req_entry_itf> handlers[] = {
        cam::make_int_property(&integer, 0, 25), cam::make_int_property_unchecked(&integer),
        cam::make_float_property(&real, 0.0f, 1.0f), cam::make_bool_property(&flag)};
    for (const auto& handler : handlers) {
        const auto short_get = get(*handler, 3);
        EXPECT_EQ(short_get.result, short_buffer);
        EXPECT_EQ(short_get.request.bytes_returned, 4u);
        EXPECT_EQ(set(*handler, std::int32_t{1}, 3).result, short_buffer);

        KsPropDataRequest missing;
        missing.value_size = 4;
        EXPECT_EQ(cam::to_hresult(handler->get_request(missing)), E_POINTER);
        missing.request_type = KsPropDataRequest::set;
        EXPECT_EQ(cam::to_hresult(handler->set_request(missing)), E_POINTER);

        EXPECT_EQ(run(*handler, 7, std::int32_t{1}).result, E_FAIL);
        // The set operation serves set requests only.
        std::int32_t one = 1;
        KsPropDataRequest not_a_set;
        not_a_set.value = &one;
        not_a_set.value_size = 4;
        EXPECT_EQ(cam::to_hresult(handler->set_request(not_a_set)), E_FAIL);

        bool g = false, s = false;
        EXPECT_FALSE(handler->query_support(g, s));
        EXPECT_TRUE(g && s);
    }
    EXPECT_EQ(integer, 5);
    EXPECT_EQ(real, 0.5f);
    EXPECT_TRUE(flag);
}

TEST(generic_handlers, an_integer_keeps_its_value_when_a_set_is_out_of_range)
{
    std::int32_t denoise = 3;
    auto handler = cam::make_int_property(&denoise, 0, 25);
    struct row {
        std::int32_t sent;
        HRESULT result;
        std::int32_t after;
    };
    const row rows[] = {{26, E_INVALIDARG, 3}, {25, S_OK, 25}, {-1, E_INVALIDARG, 25}, {0, S_OK, 0},
                        {INT32_MIN, E_INVALIDARG, 0}};
    for (const auto& r : rows) {
        EXPECT_EQ(set(*handler, r.sent).result, r.result) << r.sent;
        EXPECT_EQ(denoise, r.after) << r.sent;
    }
    // A get request of type 1 stores too, with the same check.
    EXPECT_EQ(run(*handler, KsPropDataRequest::set, std::int32_t{26}).result, E_INVALIDARG);
    EXPECT_EQ(run(*handler, KsPropDataRequest::set, std::int32_t{9}).result, S_OK);
    EXPECT_EQ(denoise, 9);
    const auto read = get(*handler, 8);
    EXPECT_EQ(read.result, S_OK);
    EXPECT_EQ(read.value<std::int32_t>(), 9);
    EXPECT_EQ(read.request.bytes_returned, 4u);
    EXPECT_EQ(read.buffer[4], 0xEE);

    std::int32_t free_value = 0;
    auto unchecked = cam::make_int_property_unchecked(&free_value);
    EXPECT_EQ(set(*unchecked, INT32_MIN).result, S_OK);
    EXPECT_EQ(free_value, INT32_MIN);
}

TEST(generic_handlers, a_float_takes_exactly_its_range_and_refuses_nan_and_the_values_past_it)
{
    float gain = 1.0f;
    auto handler = cam::make_float_property(&gain, -2.0f, 2.0f);
    const float inf = std::numeric_limits<float>::infinity();
    struct row {
        float sent;
        HRESULT result;
        float after;
    };
    const row rows[] = {
        {std::numeric_limits<float>::quiet_NaN(), E_INVALIDARG, 1.0f},
        {std::bit_cast<float>(0xFFC00001u), E_INVALIDARG, 1.0f}, // a negative NaN
        {2.5f, E_INVALIDARG, 1.0f},
        {-inf, E_INVALIDARG, 1.0f},
        {std::nextafter(2.0f, inf), E_INVALIDARG, 1.0f},
        {2.0f, S_OK, 2.0f},
        {std::nextafter(2.0f, 0.0f), S_OK, std::nextafter(2.0f, 0.0f)},
        {std::nextafter(-2.0f, -inf), E_INVALIDARG, std::nextafter(2.0f, 0.0f)},
        {-2.0f, S_OK, -2.0f},
        {std::nextafter(-2.0f, 0.0f), S_OK, std::nextafter(-2.0f, 0.0f)},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(set(*handler, r.sent).result, r.result) << r.sent;
        EXPECT_EQ(gain, r.after) << r.sent;
        EXPECT_EQ(get(*handler).value<float>(), r.after) << r.sent;
    }
}

TEST(generic_handlers, a_boolean_reads_one_or_zero_and_stores_any_nonzero_as_true)
{
    bool enabled = false;
    auto handler = cam::make_bool_property(&enabled);
    EXPECT_EQ(set(*handler, std::int32_t{-8}).result, S_OK);
    EXPECT_TRUE(enabled);
    EXPECT_EQ(get(*handler).value<std::int32_t>(), 1);
    EXPECT_EQ(set(*handler, std::int32_t{0}).result, S_OK);
    EXPECT_EQ(get(*handler).value<std::int32_t>(), 0);
}

TEST(generic_handlers, stored_values_load_only_when_a_set_would_take_them)
{
    fake_devices::memory_property_store store;
    std::int32_t denoise = 4;
    float gain = 0.5f;
    bool flag = false;
    auto int_handler = cam::make_int_property(&denoise, 0, 25, L"denoise");
    auto float_handler = cam::make_float_property(&gain, 0.0f, 2.0f, L"gain");
    auto bool_handler = cam::make_bool_property(&flag, L"flag");

    struct row {
        const wchar_t* name;
        std::int64_t stored;
        bool taken;
    };
    const row rows[] = {
        {L"denoise", 1000, false},
        {L"denoise", -1, false},
        {L"denoise", 0x100000007LL, false}, // 7 in the low half only
        {L"denoise", 25, true},
        {L"gain", std::bit_cast<std::uint32_t>(std::numeric_limits<float>::quiet_NaN()), false},
        {L"gain", 0x7F800001, false}, // a signalling NaN
        {L"gain", std::bit_cast<std::uint32_t>(3.0f), false},
        {L"gain", std::bit_cast<std::uint32_t>(std::nextafter(2.0f, 3.0f)), false},
        {L"gain", std::bit_cast<std::uint32_t>(std::nextafter(0.0f, -1.0f)), false},
        {L"gain", std::bit_cast<std::uint32_t>(2.0f), true},
        {L"gain", std::bit_cast<std::uint32_t>(0.0f), true},
        {L"gain", 0x3FF8000000000000LL, false}, // a double, not this handler's 32 bits
        {L"gain", std::bit_cast<std::uint32_t>(1.5f), true},
        {L"flag", 2, true},
    };
    for (const auto& r : rows) {
        const std::int32_t denoise_before = denoise;
        const float gain_before = gain;
        store.write_int(r.name, r.stored);
        int_handler->load_value(store);
        float_handler->load_value(store);
        bool_handler->load_value(store);
        if (!r.taken) {
            EXPECT_EQ(denoise, denoise_before) << r.stored;
            EXPECT_EQ(gain, gain_before) << r.stored;
        } else if (std::wstring_view(r.name) == L"gain") {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(gain), r.stored) << r.stored;
        }
    }
    EXPECT_EQ(denoise, 25);
    EXPECT_EQ(gain, 1.5f);
    EXPECT_TRUE(flag);

    // A string under the name is not a value either.
    store.write_string(L"denoise", L"12");
    denoise = 3;
    int_handler->load_value(store);
    EXPECT_EQ(denoise, 3);

    // Unnamed members persist nothing.
    fake_devices::memory_property_store untouched;
    auto unnamed = cam::make_int_property(&denoise, 0, 25);
    unnamed->save_value(untouched);
    EXPECT_EQ(untouched.value_kind(L""), 0);
}

// Persistence in a throw-away key of the current user.
class registry_persistence : public ::testing::Test {
protected:
    std::wstring path = L"Software\\CamTovraTests\\" + win32::make_unique_global_name(L"").substr(7);

    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()); }

    std::shared_ptr<utils::property_store_registry> open_store()
    {
        return std::make_shared<utils::property_store_registry>(HKEY_CURRENT_USER, path, KEY_READ | KEY_WRITE);
    }
    void set_raw(const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, size), ERROR_SUCCESS);
    }
    // The value's type and bytes as another program reads them.
    std::pair<DWORD, std::vector<unsigned char>> raw(const wchar_t* name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            return {REG_NONE, {}};
        }
        DWORD type = REG_NONE;
        std::vector<unsigned char> bytes(16);
        DWORD size = static_cast<DWORD>(bytes.size());
        const LSTATUS status = RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) {
            return {REG_NONE, {}};
        }
        bytes.resize(size);
        return {type, bytes};
    }
};

TEST_F(registry_persistence, a_float_is_stored_as_its_32_bits_and_loads_into_a_new_handler)
{
    {
        float gain = 0.0f;
        gen_property::gen_property_reqistry registry(open_store());
        registry.table().add_float_property(denoise_key, L"gain", &gain, -4.0f, 4.0f);
        auto request_buffer = set(*registry.table().find(denoise_key, 2), 1.5f);
        ASSERT_EQ(request_buffer.result, S_OK);
        registry.save_values();
    }
    const auto [type, bytes] = raw(L"gain");
    EXPECT_EQ(type, static_cast<DWORD>(REG_QWORD));
    ASSERT_EQ(bytes.size(), 8u);
    std::uint64_t stored = 0;
    std::memcpy(&stored, bytes.data(), 8);
    EXPECT_EQ(stored, 0x3FC00000u);

    float loaded = 0.0f;
    gen_property::gen_property_reqistry registry(open_store());
    registry.table().add_float_property(denoise_key, L"gain", &loaded, -4.0f, 4.0f);
    registry.load_values();
    EXPECT_EQ(loaded, 1.5f);
}

TEST_F(registry_persistence, values_a_set_would_refuse_or_of_another_type_leave_the_handler_alone)
{
    const wchar_t text[] = L"12";
    const unsigned char blob[4] = {7, 0, 0, 0};
    const std::uint64_t too_big = 1000;
    const DWORD nan_bits = 0x7FC00000;
    const DWORD in_range = 20;
    set_raw(L"as_text", REG_SZ, text, sizeof(text));
    set_raw(L"as_blob", REG_BINARY, blob, sizeof(blob));
    set_raw(L"too_big", REG_QWORD, &too_big, sizeof(too_big));
    set_raw(L"nan_bits", REG_DWORD, &nan_bits, sizeof(nan_bits));
    set_raw(L"in_range", REG_DWORD, &in_range, sizeof(in_range));

    std::int32_t text_value = 1, blob_value = 2, big_value = 3, dword_value = 4;
    float nan_value = 0.25f;
    gen_property::gen_property_reqistry registry(open_store());
    auto& table = registry.table();
    table.add_int_property({denoise_key.property_set, 1}, L"as_text", &text_value, 0, 25);
    table.add_int_property({denoise_key.property_set, 2}, L"as_blob", &blob_value, 0, 25);
    table.add_int_property({denoise_key.property_set, 3}, L"too_big", &big_value, 0, 25);
    table.add_float_property({denoise_key.property_set, 4}, L"nan_bits", &nan_value, 0.0f, 1.0f);
    table.add_int_property({denoise_key.property_set, 5}, L"in_range", &dword_value, 0, 25);
    registry.load_values();
    EXPECT_EQ(text_value, 1);
    EXPECT_EQ(blob_value, 2);
    EXPECT_EQ(big_value, 3);
    EXPECT_EQ(nan_value, 0.25f);
    EXPECT_EQ(dword_value, 20);

    // Saving writes in-range values back as integers, over what was there.
    registry.save_values();
    EXPECT_EQ(raw(L"as_text").first, static_cast<DWORD>(REG_QWORD));
    EXPECT_EQ(raw(L"too_big").second, (std::vector<unsigned char>{3, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(registry_persistence, a_store_whose_key_did_not_open_changes_nothing)
{
    auto closed = std::make_shared<utils::property_store_registry>(reinterpret_cast<HKEY>(std::uintptr_t{0xDEAD0}),
                                                                   path, KEY_READ | KEY_WRITE);
    ASSERT_FALSE(closed->is_open());
    std::int32_t denoise = 6;
    gen_property::gen_property_reqistry registry(closed);
    registry.table().add_int_property(denoise_key, L"denoise", &denoise, 0, 25);
    registry.load_values();
    EXPECT_EQ(denoise, 6);
    registry.save_values();
    EXPECT_EQ(raw(L"denoise").first, static_cast<DWORD>(REG_NONE));
}

} // namespace
