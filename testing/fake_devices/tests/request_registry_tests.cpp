// A test camera's property side: how client requests become handler requests.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "fake_device_factory.h"
#include "memory_property_store.h"
#include "request_registry.h"

namespace {

using fake_devices::request_registry;

// What one handler call saw: the request and its value buffer on entry.
struct seen_request {
    KsPropDataRequest request;
    std::vector<unsigned char> value_on_entry;
};

// Answers the standard sets with a range or value record and other sets with
// a 4-byte integer; records every call.
class recording_handler final : public cam::property_req_entry_itf {
public:
    std::vector<seen_request> seen;
    std::error_code answer;

    std::error_code get_request(KsPropDataRequest& request) override
    {
        note(request);
        if (answer) {
            return answer;
        }
        if (cam::is_standard_video_set(request.property_set)) {
            return cam::write_std_reply(request, 3, -10, 90, 5, 1, 42, 2);
        }
        return cam::write_int_reply(request, 0x01020304);
    }
    std::error_code set_request(KsPropDataRequest& request) override
    {
        note(request);
        return answer;
    }

private:
    void note(const KsPropDataRequest& request)
    {
        const auto* bytes = static_cast<const unsigned char*>(request.value);
        seen.push_back({request, bytes ? std::vector<unsigned char>(bytes, bytes + request.value_size)
                                       : std::vector<unsigned char>{}});
    }
};

template <class T>
T at(const unsigned char* bytes, std::size_t offset)
{
    T value{};
    std::memcpy(&value, bytes + offset, sizeof(T));
    return value;
}

class request_registry_test : public ::testing::Test {
protected:
    request_registry registry;
    recording_handler* handler = nullptr;
    GUID videoprocamp = cam::PROPSETID_VIDCAP_VIDEOPROCAMP;
    GUID custom = cam::PROPSETID_FWCAM1394_CUSTOM_PROP;

    void SetUp() override
    {
        const cam::property_req_key keys[] = {{videoprocamp, 2}, {custom, 118}};
        handler = static_cast<recording_handler*>(
            &registry.add_handler(std::make_unique<recording_handler>(), keys, cam::level_override));
    }
};

TEST_F(request_registry_test, a_standard_get_merges_the_range_and_value_records_under_the_callers_header)
{
    std::array<unsigned char, 52> data;
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(0x40 + i);
    }
    const auto sent = data;
    std::uint32_t instance = 9;
    std::uint32_t returned = 0;
    ASSERT_EQ(registry.get_property(&videoprocamp, 2, &instance, 4, data.data(), 52, &returned), S_OK);
    EXPECT_EQ(returned, 48u);
    EXPECT_EQ(std::memcmp(data.data(), sent.data(), 24), 0);
    EXPECT_EQ(at<std::int32_t>(data.data(), 24), 42);
    EXPECT_EQ(at<std::uint32_t>(data.data(), 28), 2u);
    EXPECT_EQ(at<std::uint32_t>(data.data(), 32), 3u);
    EXPECT_EQ(at<std::int32_t>(data.data(), 36), -10);
    EXPECT_EQ(at<std::int32_t>(data.data(), 40), 90);
    EXPECT_EQ(at<std::int32_t>(data.data(), 44), 5);
    EXPECT_EQ(std::memcmp(data.data() + 48, sent.data() + 48, 4), 0);

    ASSERT_EQ(handler->seen.size(), 2u);
    const auto& range = handler->seen[0];
    EXPECT_EQ(range.request.query_flags, KsPropDataRequest::query_range);
    EXPECT_EQ(range.request.value_size, 20u);
    EXPECT_EQ(range.value_on_entry, std::vector<unsigned char>(20, 0));
    const auto& value = handler->seen[1];
    EXPECT_EQ(value.request.query_flags, 0u);
    EXPECT_EQ(value.request.value_size, 40u);
    EXPECT_EQ(value.value_on_entry, std::vector<unsigned char>(40, 0));
    for (const auto& s : handler->seen) {
        EXPECT_EQ(s.request.request_type, KsPropDataRequest::get);
        EXPECT_EQ(s.request.instance, &instance);
        EXPECT_EQ(s.request.instance_size, 4u);
    }
}

TEST_F(request_registry_test, a_standard_get_needs_48_bytes_and_passes_handler_failures_on)
{
    std::array<unsigned char, 48> data{};
    std::uint32_t returned = 0;
    EXPECT_EQ(registry.get_property(&videoprocamp, 2, nullptr, 0, data.data(), 47, &returned), E_INVALIDARG);
    EXPECT_EQ(returned, 48u);
    EXPECT_TRUE(handler->seen.empty());

    handler->answer = make_cam_error(E_ACCESSDENIED);
    data.fill(0x11);
    const auto sent = data;
    EXPECT_EQ(registry.get_property(&videoprocamp, 2, nullptr, 0, data.data(), 48, &returned), E_ACCESSDENIED);
    EXPECT_EQ(data, sent);
    EXPECT_EQ(registry.get_property(&videoprocamp, 3, nullptr, 0, data.data(), 48, &returned), E_NOTIMPL);
}

TEST_F(request_registry_test, a_standard_set_hands_the_handler_only_value_and_flags)
{
    std::array<unsigned char, 48> data;
    data.fill(0xAB);
    ASSERT_EQ(registry.set_property(&videoprocamp, 2, nullptr, 0, data.data(), 48), S_OK);
    ASSERT_EQ(handler->seen.size(), 1u);
    const auto& set = handler->seen[0];
    EXPECT_EQ(set.request.request_type, KsPropDataRequest::set);
    ASSERT_EQ(set.value_on_entry.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(set.value_on_entry[i], i >= 24 && i < 32 ? 0xAB : 0) << i;
    }
    EXPECT_EQ(registry.set_property(&videoprocamp, 2, nullptr, 0, data.data(), 47), E_INVALIDARG);
    EXPECT_EQ(handler->seen.size(), 1u);
}

TEST_F(request_registry_test, other_sets_reach_the_handler_as_one_request)
{
    std::array<unsigned char, 8> data;
    data.fill(0xEE);
    std::uint64_t instance = 77;
    std::uint32_t returned = 0;
    ASSERT_EQ(registry.get_property(&custom, 118, &instance, 8, data.data(), 8, &returned), S_OK);
    EXPECT_EQ(returned, 4u);
    EXPECT_EQ(at<std::uint32_t>(data.data(), 0), 0x01020304u);
    ASSERT_EQ(handler->seen.size(), 1u);
    const auto& get = handler->seen[0].request;
    EXPECT_EQ(get.value, data.data());
    EXPECT_EQ(get.value_size, 8u);
    EXPECT_EQ(get.instance, &instance);
    EXPECT_EQ(get.instance_size, 8u);
    EXPECT_EQ(get.query_flags, 0u);

    // A short buffer brings the needed size back.
    EXPECT_EQ(registry.get_property(&custom, 118, nullptr, 0, data.data(), 3, &returned),
              static_cast<HRESULT>(0x8007007A));
    EXPECT_EQ(returned, 4u);

    ASSERT_EQ(registry.set_property(&custom, 118, nullptr, 0, data.data(), 6), S_OK);
    EXPECT_EQ(handler->seen.back().request.request_type, KsPropDataRequest::set);
    EXPECT_EQ(handler->seen.back().request.value_size, 6u);
    EXPECT_EQ(registry.set_property(&custom, 119, nullptr, 0, data.data(), 6), E_NOTIMPL);
}

TEST_F(request_registry_test, support_and_null_buffers)
{
    std::uint32_t support = 0;
    EXPECT_EQ(registry.query_property_support(&custom, 118, &support), S_OK);
    EXPECT_EQ(support, 3u);
    EXPECT_EQ(registry.query_property_support(&custom, 1, &support), E_NOTIMPL);
    EXPECT_EQ(registry.query_property_support(&custom, 118, nullptr), E_POINTER);

    std::uint32_t returned = 0;
    const std::size_t before = handler->seen.size();
    EXPECT_EQ(registry.get_property(&custom, 118, nullptr, 0, nullptr, 4, &returned), E_POINTER);
    EXPECT_EQ(registry.set_property(&videoprocamp, 2, nullptr, 0, nullptr, 48), E_POINTER);
    EXPECT_EQ(handler->seen.size(), before);
}

TEST(fake_camera_requests, an_opened_camera_loads_its_handlers_values_and_saves_them_when_released)
{
    auto store = std::make_shared<fake_devices::memory_property_store>();
    store->write_int(L"denoise", 7);
    auto requests = std::make_shared<request_registry>(store);
    std::int32_t denoise = 0;
    const cam::property_req_key key{cam::PROPSETID_COLOR_ENHANCE, 12};
    requests->table().add_int_property(key, L"denoise", &denoise, 0, 25);

    auto stats = std::make_shared<fake_devices::device_stats>();
    fake_devices::fake_device_info record({L"cam_0", L"Camera 0", false, false, requests}, stats);
    auto* device = record.create_device(GUID{}, nullptr);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(denoise, 7);

    GUID set = key.property_set;
    std::int32_t sent = 26;
    EXPECT_EQ(device->set_property(&set, 12, nullptr, 0, &sent, 4), E_INVALIDARG);
    sent = 11;
    EXPECT_EQ(device->set_property(&set, 12, nullptr, 0, &sent, 4), S_OK);
    std::int64_t stored = 0;
    ASSERT_TRUE(store->read_int(L"denoise", stored));
    EXPECT_EQ(stored, 7); // saved when the camera unloads
    device->release();
    ASSERT_TRUE(store->read_int(L"denoise", stored));
    EXPECT_EQ(stored, 11);
}

} // namespace
