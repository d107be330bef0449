// The property pages' items and GenICam adapter over the demonstration
// service, across processes (service_filter_fixture.h).
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <vector>
#include <set>
#include <string>

#include "propertypage/genicam_adapter_device.h"
#include "propertypage/ks_property_access.h"
#include "propertypage/vcd_item_tables.h"
#include "service_filter_fixture.h"

namespace {

using namespace VCDAdapterHelper;
using service_filter_test::narrow;

constexpr GUID generic_driver_interface = {
    0x9DDD5EDC, 0x5EFF, 0x4D3B, {0xB8, 0x5B, 0x46, 0xFB, 0xC4, 0xE4, 0x9E, 0x59}};

using items_over_service = service_filter_test::service_filter_fixture;

// Items whose create operation finds the camera's properties, and the elements
// they offer. The demonstration camera has exposure, gain, strobe, digital
// I/O and automatic white balance; it has no extension unit (so no partial
// scan or binning), no trigger, colour enhancement or focus, and those items
// are left out (no object, or no element offered) without failing.
TEST_F(items_over_service, each_builtin_item_offers_what_the_camera_has)
{
    std::map<std::string, std::set<std::string>> offered;
    for (const item_descriptor& d : builtin_item_descriptors()) {
        const item_data_ptr item = create(d, ks(filter));
        if (!item) {
            continue;
        }
        for (const element_descriptor& e : d.elements) {
            for (const element_interface& i : e.interfaces) {
                if (item->is_interface_supported(i.id)) {
                    offered[narrow(d.item_name)].insert(narrow(e.name));
                }
            }
        }
    }
    for (const auto& [item, elements] : offered) {
        std::string list;
        for (const std::string& e : elements) {
            list += " \"" + e + "\"";
        }
        std::printf("%s:%s\n", item.c_str(), list.c_str());
    }
    std::set<std::string> items;
    for (const auto& [item, elements] : offered) {
        if (!elements.empty()) {
            items.insert(item);
        }
    }
    EXPECT_EQ(items, (std::set<std::string>{"Exposure", "GPIO", "Gain", "Strobe", "WhiteBalance"}));
    // The camera has ExposureAuto but none of the auto exposure's reference
    // and upper limit: no element is offered for them.
    EXPECT_EQ(offered["Exposure"], (std::set<std::string>{"Auto", "Value"}));
    EXPECT_TRUE(offered["Gain"].count("Value"));
    EXPECT_EQ(offered["WhiteBalance"], std::set<std::string>{"Auto"});
}

TEST_F(items_over_service, values_read_through_items_are_the_services_and_writes_reach_the_camera)
{
    const item_data_ptr gain = create(builtin(L"Gain"), ks(filter));
    const item_data_ptr exposure = create(builtin(L"Exposure"), ks(filter));
    ASSERT_TRUE(gain && exposure);

    // Read: the item's value equals the service's own answer on the other handle.
    const auto proc_amp = face<IAMVideoProcAmp>(second);
    LONG value = 0, flags = 0;
    ASSERT_EQ(proc_amp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    std::int32_t through_item = 0;
    ASSERT_EQ(gain->get_value(0, through_item), S_OK);
    EXPECT_EQ(through_item, value);
    vendor_float_record seconds{};
    ASSERT_EQ(ks_get_float(ks(second), vendor::exposure_seconds, seconds), S_OK);
    double item_seconds = 0;
    ASSERT_EQ(exposure->get_abs_value(1, item_seconds), S_OK);
    EXPECT_FLOAT_EQ(static_cast<float>(item_seconds), seconds.value);

    // Write gain: another value inside the range.
    int_range range{};
    ASSERT_EQ(gain->get_range(0, range), S_OK);
    const std::int32_t wanted = value == range.maximum ? range.minimum : range.maximum;
    ASSERT_EQ(gain->set_value(0, wanted), S_OK);
    ASSERT_EQ(proc_amp->Get(VideoProcAmp_Gain, &value, &flags), S_OK);
    EXPECT_EQ(value, wanted);

    // Write the exposure time, then its automatic switch.
    ASSERT_EQ(exposure->set_abs_value(1, 0.004), S_OK);
    ASSERT_EQ(ks_get_float(ks(second), vendor::exposure_seconds, seconds), S_OK);
    EXPECT_NEAR(seconds.value, 0.004, 1e-6);
    const item_data_ptr exposure_seen = create(builtin(L"Exposure"), ks(second));
    ASSERT_TRUE(exposure_seen);
    for (const bool on : {true, false}) {
        ASSERT_EQ(exposure->set_switch(2, on), S_OK) << on;
        bool seen = !on;
        ASSERT_EQ(exposure_seen->get_switch(2, seen), S_OK) << on;
        EXPECT_EQ(seen, on);
    }
}

// The camera's and the service's documents through ids 1 and 2. The camera's
// description marks one category ("Digital I/O") and three of its features
// for the pages; the service answers named access (id 4) and no register
// access (id 3), so the named item class serves them.
TEST_F(items_over_service, the_adapter_builds_items_from_the_documents_and_writes_by_name)
{
    DWORD support = 0;
    EXPECT_TRUE(SUCCEEDED(ks(filter)->QuerySupported(generic_driver_interface, 4, &support)) && support != 0);
    support = 0;
    const HRESULT register_access = ks(filter)->QuerySupported(generic_driver_interface, 3, &support);
    EXPECT_TRUE(FAILED(register_access) || support == 0);

    genicam_adapter::GenICamAdapterDevice adapter(ks(filter));
    adapter.set_access(false, true);
    std::span<const item_descriptor> descriptors;
    ASSERT_EQ(adapter.load_genicam_documents(descriptors), S_OK) << adapter.last_error();
    EXPECT_EQ(adapter.document_count(), 2u);
    ASSERT_EQ(descriptors.size(), 1u);
    const item_descriptor& digital_io = descriptors[0];
    EXPECT_EQ(digital_io.item_name, L"Digital I/O");
    EXPECT_EQ(digital_io.category, std::optional<std::wstring>(L"Root"));
    EXPECT_EQ(digital_io.priority, 10);
    std::vector<std::wstring> names;
    for (const element_descriptor& e : digital_io.elements) {
        names.push_back(e.name);
    }
    // The string feature inside the category is no element.
    EXPECT_EQ(names, (std::vector<std::wstring>{L"GP Out", L"Strobe Delay", L"Strobe Source"}));
    const item_data_ptr item = digital_io.create(ks(filter), digital_io);
    ASSERT_TRUE(item);
    ASSERT_EQ(digital_io.elements.size(), 3u);
    const element_interface& source = digital_io.elements[2].interfaces.at(0);
    EXPECT_EQ(source.kind, interface_kind::map_strings);
    std::vector<atl::bstr> texts;
    ASSERT_EQ(item->get_map_strings(source.id, texts), S_OK);
    ASSERT_EQ(texts.size(), 2u) << "only the implemented entries";
    EXPECT_STREQ(texts[0].get(), L"Exposure");
    EXPECT_STREQ(texts[1].get(), L"Line");

    genicam_adapter::GenICamAdapterDevice other(ks(second));
    other.set_access(false, true);
    std::span<const item_descriptor> seen_descriptors;
    ASSERT_EQ(other.load_genicam_documents(seen_descriptors), S_OK) << other.last_error();
    ASSERT_EQ(seen_descriptors.size(), descriptors.size());

    // A write through every item with a range: the other handle reads it back
    // (an interface id is a node of its own adapter's documents).
    int written = 0;
    for (std::size_t n = 0; n < descriptors.size(); ++n) {
        const item_descriptor& d = descriptors[n];
        const item_descriptor& s = seen_descriptors[n];
        const item_data_ptr item = d.create(ks(filter), d);
        const item_data_ptr seen = s.create(ks(second), s);
        ASSERT_TRUE(item && seen) << narrow(d.item_name);
        ASSERT_EQ(s.elements.size(), d.elements.size());
        for (std::size_t k = 0; k < d.elements.size(); ++k) {
            const element_descriptor& e = d.elements[k];
            for (std::size_t j = 0; j < e.interfaces.size(); ++j) {
                const element_interface& i = e.interfaces[j];
                int_range range{};
                std::int32_t current = 0;
                bool available = false;
                if (i.kind != interface_kind::range || !item->is_interface_supported(i.id) ||
                    FAILED(item->get_range(i.id, range)) || FAILED(item->get_value(i.id, current)) ||
                    FAILED(item->is_available(i.id, available)) || !available || range.minimum == range.maximum) {
                    continue;
                }
                const std::int32_t wanted = current == range.minimum ? range.maximum : range.minimum;
                ASSERT_EQ(item->set_value(i.id, wanted), S_OK) << narrow(e.name);
                const interface_id seen_id = s.elements[k].interfaces.at(j).id;
                std::int32_t read_back = 0;
                ASSERT_EQ(seen->refresh(seen_id), S_OK);
                ASSERT_EQ(seen->get_value(seen_id, read_back), S_OK) << narrow(e.name);
                EXPECT_EQ(read_back, wanted) << narrow(d.item_name) << " / " << narrow(e.name);
                ++written;
            }
        }
    }
    EXPECT_GT(written, 0) << "no writable range among the service's items";
}

} // namespace
