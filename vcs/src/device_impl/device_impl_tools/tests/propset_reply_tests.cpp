// Reply records written into a client's value buffer, and set records read
// from it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <vector>

#include "device_impl/device_impl_tools/propset.h"

namespace {

constexpr HRESULT short_buffer = static_cast<HRESULT>(0x8007007A);
constexpr unsigned char filler = 0xA5;

template <class T>
T at(const std::vector<unsigned char>& bytes, std::size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

KsPropDataRequest request_over(std::vector<unsigned char>& buffer, const GUID& set = cam::PROPSETID_COLOR_ENHANCE,
                               std::uint32_t type = KsPropDataRequest::get)
{
    KsPropDataRequest request;
    request.request_type = type;
    request.property_set = set;
    request.value = buffer.data();
    request.value_size = static_cast<std::uint32_t>(buffer.size());
    return request;
}

struct writer_case {
    const char* name;
    std::uint32_t size;
    std::uint32_t query_flags;
    std::function<std::error_code(KsPropDataRequest&)> write;
    std::uint32_t first_written; // bytes below stay the caller's
};

const std::vector<writer_case>& writers()
{
    static const std::vector<writer_case> cases = {
        {"int", 4, 0, [](KsPropDataRequest& r) { return cam::write_int_reply(r, -3); }, 0},
        {"std range", 20, KsPropDataRequest::query_range,
         [](KsPropDataRequest& r) { return cam::write_std_reply(r, 3, -10, 90, 5, 2, 42, 2); }, 0},
        {"std value", 40, 0, [](KsPropDataRequest& r) { return cam::write_std_reply(r, 3, -10, 90, 5, 2, 42, 2); },
         24},
        {"range value", 48, 0, [](KsPropDataRequest& r) { return cam::write_range_value_reply(r, 3, -10, 90, 5, 42, 1); },
         24},
        {"float range value", 56, 0,
         [](KsPropDataRequest& r) { return cam::write_float_range_value_reply(r, -1.5, 2.5, 0.25, 1.75); }, 24},
    };
    return cases;
}

TEST(reply_writers, a_short_get_reports_the_size_and_leaves_the_buffer_alone)
{
    for (const auto& w : writers()) {
        std::vector<unsigned char> buffer(w.size - 1, filler);
        auto request = request_over(buffer);
        request.query_flags = w.query_flags;
        EXPECT_EQ(cam::to_hresult(w.write(request)), short_buffer) << w.name;
        EXPECT_EQ(request.bytes_returned, w.size) << w.name;
        EXPECT_EQ(buffer, std::vector<unsigned char>(w.size - 1, filler)) << w.name;

        // A set with a short record reports nothing back.
        auto set = request_over(buffer, cam::PROPSETID_COLOR_ENHANCE, KsPropDataRequest::set);
        set.query_flags = w.query_flags;
        EXPECT_EQ(cam::to_hresult(w.write(set)), short_buffer) << w.name;
        EXPECT_EQ(set.bytes_returned, 0u) << w.name;

        // No buffer behind a length.
        KsPropDataRequest missing;
        missing.value_size = w.size;
        missing.query_flags = w.query_flags;
        EXPECT_EQ(cam::to_hresult(w.write(missing)), E_POINTER) << w.name;
    }
}

TEST(reply_writers, a_full_buffer_gets_the_record_and_the_caller_keeps_its_header)
{
    for (const auto& w : writers()) {
        std::vector<unsigned char> buffer(w.size + 8, filler);
        auto request = request_over(buffer);
        request.query_flags = w.query_flags;
        ASSERT_FALSE(w.write(request)) << w.name;
        EXPECT_EQ(request.bytes_returned, w.size) << w.name;
        for (std::uint32_t i = 0; i < w.first_written; ++i) {
            ASSERT_EQ(buffer[i], filler) << w.name << " byte " << i;
        }
        for (std::uint32_t i = w.size; i < buffer.size(); ++i) {
            ASSERT_EQ(buffer[i], filler) << w.name << " byte " << i;
        }
    }
}

TEST(reply_writers, records_hold_their_fields_at_their_offsets)
{
    std::vector<unsigned char> b(56, filler);
    auto r = request_over(b);
    ASSERT_FALSE(cam::write_int_reply(r, -3));
    EXPECT_EQ(at<std::int32_t>(b, 0), -3);

    r.query_flags = KsPropDataRequest::query_range;
    ASSERT_FALSE(cam::write_std_reply(r, 3, -10, 90, 5, 2, 42, 2));
    EXPECT_EQ(at<std::int32_t>(b, 0), -10);
    EXPECT_EQ(at<std::int32_t>(b, 4), 90);
    EXPECT_EQ(at<std::int32_t>(b, 8), 5);
    EXPECT_EQ(at<std::int32_t>(b, 12), 2);
    EXPECT_EQ(at<std::uint32_t>(b, 16), 3u);
    EXPECT_EQ(at<std::uint32_t>(b, 20), 0xA5A5A5A5u);

    r.query_flags = 0;
    ASSERT_FALSE(cam::write_std_reply(r, 2, -10, 90, 5, 2, 42, 1));
    EXPECT_EQ(at<std::int32_t>(b, 24), 42);
    EXPECT_EQ(at<std::uint32_t>(b, 28), 1u);
    EXPECT_EQ(at<std::uint32_t>(b, 32), 2u);
    EXPECT_EQ(at<std::uint32_t>(b, 36), 0xA5A5A5A5u);

    ASSERT_FALSE(cam::write_range_value_reply(r, 3, -10, 90, 5, 42, 1));
    EXPECT_EQ(at<std::int32_t>(b, 24), 42);
    EXPECT_EQ(at<std::uint32_t>(b, 28), 1u);
    EXPECT_EQ(at<std::uint32_t>(b, 32), 3u);
    EXPECT_EQ(at<std::int32_t>(b, 36), -10);
    EXPECT_EQ(at<std::int32_t>(b, 40), 90);
    EXPECT_EQ(at<std::int32_t>(b, 44), 5);

    ASSERT_FALSE(cam::write_float_range_value_reply(r, -1.5, 2.5, 0.25, 1.75));
    EXPECT_EQ(at<float>(b, 24), 1.75f);
    EXPECT_EQ(at<float>(b, 28), -1.5f);
    EXPECT_EQ(at<float>(b, 32), 2.5f);
    EXPECT_EQ(at<float>(b, 36), 0.25f);
    EXPECT_EQ(at<std::uint32_t>(b, 40), 2u);
    EXPECT_EQ(at<std::uint32_t>(b, 44), 2u);
    EXPECT_EQ(at<std::uint32_t>(b, 48), 1u);
}

TEST(reply_writers, auto_capability_is_added_to_either_standard_record)
{
    std::vector<unsigned char> b(40, 0);
    auto r = request_over(b, cam::PROPSETID_VIDCAP_VIDEOPROCAMP);
    r.query_flags = KsPropDataRequest::query_range;
    ASSERT_FALSE(cam::write_std_reply(r, 2, 0, 10, 5, 1, 7, 2));
    ASSERT_FALSE(cam::add_auto_capability(r, 1));
    EXPECT_EQ(at<std::uint32_t>(b, 16), 3u);
    EXPECT_EQ(r.bytes_returned, 20u);

    r.query_flags = 0;
    ASSERT_FALSE(cam::write_std_reply(r, 2, 0, 10, 5, 1, 7, 2));
    ASSERT_FALSE(cam::add_auto_capability(r, 1));
    EXPECT_EQ(at<std::uint32_t>(b, 32), 3u);
    EXPECT_EQ(at<std::uint32_t>(b, 28), 3u);

    std::vector<unsigned char> short_value(39, 0);
    auto s = request_over(short_value, cam::PROPSETID_VIDCAP_VIDEOPROCAMP);
    EXPECT_EQ(cam::to_hresult(cam::add_auto_capability(s, 1)), short_buffer);
    EXPECT_EQ(s.bytes_returned, 40u);
    KsPropDataRequest missing;
    missing.value_size = 40;
    EXPECT_EQ(cam::to_hresult(cam::add_auto_capability(missing, 1)), E_POINTER);
}

TEST(set_record_readers, need_the_record_of_their_set)
{
    struct row {
        GUID set;
        std::uint32_t size;
        HRESULT result;
    };
    const row rows[] = {
        {cam::PROPSETID_VIDCAP_VIDEOPROCAMP, 39, short_buffer},  {cam::PROPSETID_VIDCAP_VIDEOPROCAMP, 40, S_OK},
        {cam::PROPSETID_VIDCAP_CAMERACONTROL, 40, S_OK},         {cam::PROPSETID_COLOR_ENHANCE, 47, short_buffer},
        {cam::PROPSETID_FWCAM1394_CUSTOM_PROP, 48, S_OK},
    };
    for (const auto& r : rows) {
        std::vector<unsigned char> b(r.size, 0);
        if (r.size >= 32) {
            const std::int32_t value = -77;
            const std::uint32_t flags = 2;
            std::memcpy(b.data() + 24, &value, 4);
            std::memcpy(b.data() + 28, &flags, 4);
        }
        auto request = request_over(b, r.set, KsPropDataRequest::set);
        const auto read = cam::read_value_and_flags_result(request);
        if (r.result == S_OK) {
            ASSERT_TRUE(read) << r.size;
            EXPECT_EQ(read.value().value, -77);
            EXPECT_EQ(read.value().flags, 2u);
        } else {
            ASSERT_FALSE(read) << r.size;
            EXPECT_EQ(cam::to_hresult(read.error()), r.result);
        }
    }
    KsPropDataRequest missing;
    missing.value_size = 48;
    std::int32_t value = 0;
    std::uint32_t flags = 0;
    EXPECT_EQ(cam::to_hresult(cam::read_value_and_flags(missing, value, flags)), E_POINTER);
}

TEST(set_record_readers, a_float_comes_from_a_whole_float_record)
{
    std::vector<unsigned char> b(56, 0);
    const float sent = -0.375f;
    std::memcpy(b.data() + 24, &sent, 4);
    auto request = request_over(b, cam::PROPSETID_COLOR_ENHANCE, KsPropDataRequest::set);
    const auto read = cam::read_float_from_set_request(request);
    ASSERT_TRUE(read);
    EXPECT_EQ(read.value(), sent);
    request.value_size = 55;
    const auto too_short = cam::read_float_from_set_request(request);
    ASSERT_FALSE(too_short);
    EXPECT_EQ(cam::to_hresult(too_short.error()), short_buffer);
}

} // namespace
