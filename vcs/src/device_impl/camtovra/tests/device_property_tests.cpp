// The device's property requests over the simulated camera: the two private
// sets it answers itself, the standard video sets merged from the camera's
// range and value records, and everything else passed to the camera.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device_bench.h"
#include "device_impl/device_impl_tools/propset.h"
#include "gen_utils/file_version.h"

namespace {

using namespace camtovra_test;
using sim_camera::uvc_unit_kind;

constexpr std::uint32_t brightness = 0; // VideoProcAmp id, processing-unit control 0x02

std::uint64_t load_le(const std::uint8_t* at, int bytes)
{
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{at[i]} << (8 * i);
    }
    return value;
}

class device_properties : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(bench.open()); }

    HRESULT get(const GUID& set, std::uint32_t id, std::vector<std::uint8_t>& out, std::uint32_t& returned)
    {
        returned = 0xFFFFFFFF;
        return bench.device->get_property(&set, id, nullptr, 0, out.data(), static_cast<std::uint32_t>(out.size()),
                                          &returned);
    }

    device_bench bench;
};

TEST_F(device_properties, driver_info_answers_service_and_camera_information_and_needs_whole_buffers)
{
    std::vector<std::uint8_t> out(144, 0xCC);
    std::uint32_t returned = 0;
    ASSERT_EQ(get(cam::PROPSETID_DRIVER_INFO_REQ, 0, out, returned), S_OK);
    EXPECT_EQ(returned, 144u);
    EXPECT_EQ(load_le(out.data(), 4), 9u);
    EXPECT_EQ(load_le(out.data() + 8, 8), utils::get_module_file_version().packed());
    EXPECT_EQ(load_le(out.data() + 16, 6), 0x0065'0072'0066ull); // "fre"

    out.assign(143, 0xCC);
    EXPECT_EQ(get(cam::PROPSETID_DRIVER_INFO_REQ, 0, out, returned), E_INVALIDARG);
    EXPECT_EQ(returned, 144u);
    EXPECT_EQ(out[0], 0xCC);

    out.assign(423, 0);
    EXPECT_EQ(get(cam::PROPSETID_DRIVER_INFO_REQ, 1, out, returned), E_INVALIDARG);
    EXPECT_EQ(returned, 424u);
    out.assign(424, 0xCC);
    ASSERT_EQ(get(cam::PROPSETID_DRIVER_INFO_REQ, 1, out, returned), S_OK);
    EXPECT_EQ(returned, 424u);
    cam::device_information info;
    ASSERT_FALSE(bench.device->camera()->read_device_information(info));
    EXPECT_EQ(std::memcmp(out.data(), &info, sizeof info), 0);
    EXPECT_EQ(load_le(out.data(), 4), load_le(bench.io.camera.device_descriptor_bytes.data() + 8, 2)); // idVendor
    for (std::size_t i = sizeof info; i < 424; ++i) {
        ASSERT_EQ(out[i], 0) << i;
    }

    out.assign(424, 0);
    EXPECT_EQ(get(cam::PROPSETID_DRIVER_INFO_REQ, 2, out, returned), E_NOTIMPL);
    std::uint32_t support = 0;
    EXPECT_EQ(bench.device->query_property_support(&cam::PROPSETID_DRIVER_INFO_REQ, 0, &support), S_OK);
    EXPECT_EQ(support, 1u);
    EXPECT_EQ(bench.device->query_property_support(&cam::PROPSETID_DRIVER_INFO_REQ, 1, &support), S_OK);
    EXPECT_EQ(bench.device->query_property_support(&cam::PROPSETID_DRIVER_INFO_REQ, 2, &support), E_NOTIMPL);
}

TEST_F(device_properties, kyv_ids_answer_from_the_camera_and_usb_descriptor)
{
    cam::device_information info;
    ASSERT_FALSE(bench.device->camera()->read_device_information(info));
    const std::uint64_t product_id = load_le(bench.io.camera.device_descriptor_bytes.data() + 10, 2);
    for (const std::uint32_t id : {100u, 101u, 102u, 103u}) {
        const std::uint32_t size = id == 102 ? 296 : 288;
        std::vector<std::uint8_t> out(size - 1, 0xCC);
        std::uint32_t returned = 0;
        EXPECT_EQ(get(cam::PROPSETID_KYV_CUSTOM_PROP, id, out, returned), E_INVALIDARG) << id;
        EXPECT_EQ(returned, size) << id;
        out.assign(size, 0xCC);
        ASSERT_EQ(get(cam::PROPSETID_KYV_CUSTOM_PROP, id, out, returned), S_OK) << id;
        EXPECT_EQ(returned, size);
        EXPECT_EQ(load_le(out.data(), 16), 0u) << id;
        std::uint32_t support = 0;
        EXPECT_EQ(bench.device->query_property_support(&cam::PROPSETID_KYV_CUSTOM_PROP, id, &support), S_OK);
        EXPECT_EQ(support, 1u);
        if (id == 100) {
            EXPECT_EQ(load_le(out.data() + 24, 4), info.vendor_id);
        } else if (id == 101) {
            EXPECT_EQ(load_le(out.data() + 24, 8), info.serial_number);
            const std::wstring product(info.product, wcsnlen(info.product, 64));
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data() + 32)),
                      std::string(product.begin(), product.end()));
        } else if (id == 102) {
            EXPECT_EQ(load_le(out.data() + 32, 4), product_id);
        }
    }
    std::vector<std::uint8_t> out(296);
    std::uint32_t returned = 0;
    EXPECT_EQ(get(cam::PROPSETID_KYV_CUSTOM_PROP, 104, out, returned), E_NOTIMPL);
    std::uint32_t support = 0;
    EXPECT_EQ(bench.device->query_property_support(&cam::PROPSETID_KYV_CUSTOM_PROP, 99, &support), E_NOTIMPL);
}

TEST_F(device_properties, standard_video_sets_merge_the_range_and_value_records)
{
    const GUID& amp = cam::PROPSETID_VIDCAP_VIDEOPROCAMP;
    std::uint8_t range[20]{};
    std::uint8_t value[40]{};
    std::uint32_t returned = 0;
    ASSERT_FALSE(bench.device->camera()->get_request(amp, brightness, nullptr, 0, range, 20, &returned, 0x1000));
    const auto minimum = static_cast<std::int32_t>(load_le(range, 4));
    const auto maximum = static_cast<std::int32_t>(load_le(range + 4, 4));
    ASSERT_LT(minimum, maximum);

    std::vector<std::uint8_t> record(48, 0);
    const std::int32_t wanted = minimum + 1;
    std::memcpy(record.data() + 24, &wanted, 4);
    std::memset(record.data() + 32, 0x5A, 16); // not part of a set
    ASSERT_EQ(bench.device->set_property(&amp, brightness, nullptr, 0, record.data(), 48), S_OK);
    EXPECT_EQ(bench.responder->current_value(uvc_unit_kind::processing_unit, 0x02), wanted);

    ASSERT_FALSE(bench.device->camera()->get_request(amp, brightness, nullptr, 0, value, 40, &returned, 0));
    record.assign(48, 0xCC);
    ASSERT_EQ(get(amp, brightness, record, returned), S_OK);
    EXPECT_EQ(returned, 48u);
    EXPECT_EQ(load_le(record.data(), 24), 0xCCCCCCCCCCCCCCCCull) << "bytes 0-23 stay as they were";
    EXPECT_EQ(static_cast<std::int32_t>(load_le(record.data() + 24, 4)), wanted);
    EXPECT_EQ(std::memcmp(record.data() + 28, value + 28, 4), 0);  // flags
    EXPECT_EQ(std::memcmp(record.data() + 32, range + 16, 4), 0);  // capabilities
    EXPECT_EQ(std::memcmp(record.data() + 36, range, 12), 0);      // minimum, maximum, default

    record.assign(47, 0);
    EXPECT_EQ(get(amp, brightness, record, returned), E_INVALIDARG);
    EXPECT_EQ(returned, 48u);
    EXPECT_EQ(bench.device->set_property(&amp, brightness, nullptr, 0, record.data(), 47), E_INVALIDARG);
    record.assign(48, 0);
    EXPECT_EQ(get(amp, 77, record, returned), E_NOTIMPL);
    EXPECT_EQ(bench.device->set_property(&amp, 77, nullptr, 0, record.data(), 48), E_NOTIMPL);

    std::uint32_t support = 0;
    EXPECT_EQ(bench.device->query_property_support(&amp, brightness, &support), S_OK);
    EXPECT_EQ(support, 3u);
    EXPECT_EQ(bench.device->query_property_support(&amp, 77, &support), E_NOTIMPL);
}

TEST_F(device_properties, other_sets_reach_the_camera_request_entry)
{
    // The camera's own firmware-revision id of its driver set.
    std::vector<std::uint8_t> out(4, 0);
    std::uint32_t returned = 0;
    const HRESULT hr = get(cam::PROPSETID_UVC_DRIVER, 4, out, returned);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(returned, 4u);
    const GUID unknown = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    EXPECT_EQ(get(unknown, 1, out, returned), E_NOTIMPL);
    EXPECT_EQ(bench.device->set_property(&unknown, 1, nullptr, 0, out.data(), 4), E_NOTIMPL);
    std::uint32_t support = 0;
    EXPECT_EQ(bench.device->query_property_support(&unknown, 1, &support), E_NOTIMPL);
    EXPECT_EQ(bench.device->get_property(nullptr, 1, nullptr, 0, out.data(), 4, &returned), E_POINTER);
}

TEST(device_open, a_path_that_cannot_be_opened_throws_the_open_error)
{
    device_bench bench;
    ASSERT_EQ(bench.io.start(), STATUS_SUCCESS);
    try {
        camtovra::device d(bench.id, bench.io.device_path() + L"_missing", bench.store, bench.io);
        FAIL() << "no exception";
    } catch (const std::system_error& e) {
        EXPECT_NE(std::string(e.what()).find("Failed to open nox_um device"), std::string::npos);
        EXPECT_TRUE(e.code());
    }
}

} // namespace
