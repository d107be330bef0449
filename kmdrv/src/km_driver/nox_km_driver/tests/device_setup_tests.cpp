// Driver entry, the log setting and device set-up over the simulated camera.

#include "driver_bench.h"

#include <gtest/gtest.h>

namespace {

using noxkm_test::driver_bench;

constexpr GUID service_class = {0x5dc9399a, 0x8f79, 0x4aea, {0x97, 0x0b, 0xcc, 0x70, 0x47, 0x38, 0x49, 0xe9}};

TEST(device_setup, device_attaches_selects_its_configuration_and_offers_its_interface)
{
    driver_bench bench;
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    const auto interfaces = bench.host.device_interfaces(bench.device);
    ASSERT_EQ(interfaces.size(), 1u);
    EXPECT_TRUE(IsEqualGUID(interfaces[0], noxkm::device_interface_class));
    EXPECT_EQ(bench.camera.selected_alternate(0), 0);
    EXPECT_EQ(bench.camera.selected_alternate(1), 0);
    EXPECT_EQ(bench.camera.stats.bus_interface_references.load(), 0); // taken and given back
    EXPECT_TRUE(bench.logged("[nox_km]The device is operating at SuperSpeed or higher."));
    EXPECT_TRUE(bench.logged("[nox_km]<< noxkm_USB_EvtDevicePrepareHardware, created usb device"));
    EXPECT_TRUE(bench.violations_left().empty());
}

TEST(device_setup, second_interface_comes_from_the_registry_guid_and_bad_text_is_ignored)
{
    {
        driver_bench bench;
        kmdf::registry::set_string(noxkm_test::hardware_key, L"DriverInterfaceGUID",
                                   L"{5DC9399A-8F79-4AEA-970B-CC70473849E9}");
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        const auto interfaces = bench.host.device_interfaces(bench.device);
        ASSERT_EQ(interfaces.size(), 2u);
        EXPECT_TRUE(IsEqualGUID(interfaces[1], service_class));
        EXPECT_TRUE(bench.logged("added additional driver interface"));
    }
    for (const wchar_t* text : {L"not a guid", L"{5DC9399A-8F79-4AEA-970B-CC70473849E9", L""}) {
        driver_bench bench;
        kmdf::registry::set_string(noxkm_test::hardware_key, L"DriverInterfaceGUID", text);
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        EXPECT_EQ(bench.host.device_interfaces(bench.device).size(), 1u);
    }
    {
        // An oversized value is refused by the query, not copied past the buffer.
        driver_bench bench;
        kmdf::registry::set_string(noxkm_test::hardware_key, L"DriverInterfaceGUID", std::wstring(300, L'{'));
        ASSERT_EQ(bench.start(), STATUS_SUCCESS);
        EXPECT_EQ(bench.host.device_interfaces(bench.device).size(), 1u);
        EXPECT_TRUE(bench.logged("WdfRegistryQueryValue Failed :80000005"));
    }
}

TEST(device_setup, without_a_log_setting_nothing_is_printed)
{
    driver_bench bench(-1);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    EXPECT_TRUE(bench.lines().empty());
}

TEST(device_setup, log_level_gates_lines_and_drops_bits_8_to_15)
{
    driver_bench bench(0x0000FF03);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    EXPECT_TRUE(bench.logged("[nox_km]Log level set to 0x3."));
    EXPECT_TRUE(bench.logged("[nox_km]>> noxkm_USB_EvtDevicePrepareHardware, creating usb device.")); // info
    EXPECT_TRUE(bench.logged("[nox_km]Created USBD_HANDLE="));                                         // warning
    EXPECT_FALSE(bench.logged(">> DriverEntry of"));                                                  // trace
    EXPECT_FALSE(bench.logged("noxkm_Device_Create, context="));
    for (const auto& line : bench.lines()) {
        EXPECT_EQ(line.rfind("[nox_km]", 0), 0u) << line;
    }
}

TEST(device_setup, trace_level_prints_the_entry_banner_with_the_version)
{
    driver_bench bench(0x4);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    EXPECT_TRUE(bench.logged("[nox_km]>>>>>>>>>>>>>>>>>>>"));
    EXPECT_TRUE(bench.logged("[nox_km]>> DriverEntry of nox_km_driver, ver=4.7.0.1524 build (fre) "));
    EXPECT_TRUE(bench.logged("[nox_km]noxkm_Device_Create, context="));
}

TEST(device_setup, log_setting_of_another_type_or_size_is_ignored)
{
    driver_bench bench(-1);
    const std::uint64_t wide = 4;
    kmdf::registry::set_value(noxkm_test::settings_key, L"service_log_level", REG_QWORD, &wide, sizeof wide);
    ASSERT_EQ(bench.start(), STATUS_SUCCESS);
    EXPECT_TRUE(bench.lines().empty());
}

TEST(device_setup, failing_allocations_fail_the_start_without_leaving_anything_behind)
{
    // Every allocation in turn fails once; the start either succeeds or
    // reports a failure, and the stand-in sees no misuse either way.
    int failures = 0;
    for (long budget = 0; budget < 60; ++budget) {
        driver_bench bench;
        ASSERT_EQ(bench.load(), STATUS_SUCCESS);
        kmdf::fail_allocations_after(budget);
        const NTSTATUS status = bench.start();
        kmdf::fail_allocations_after(-1);
        if (!NT_SUCCESS(status)) {
            ++failures;
            EXPECT_EQ(bench.device, nullptr);
        }
        EXPECT_TRUE(bench.violations_left().empty()) << "budget " << budget;
    }
    EXPECT_GT(failures, 5);
}

} // namespace
