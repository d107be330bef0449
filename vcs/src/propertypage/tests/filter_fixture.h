#pragma once
// A fresh scripted filter per test, and shorthands for the vendor records.

#include "propertypage/ks_property_access.h"
#include "propertypage/vcd_item_tables.h"

#include "test_filter/scripted_backend.h"
#include "test_filter/test_filter.h"

#include <gtest/gtest.h>

#include <memory>

namespace pp_test {

using namespace VCDAdapterHelper;
using test_filter::control_interface;

class filter_fixture : public testing::Test {
protected:
    void SetUp() override { make_filter(); }
    void make_filter(test_filter::offered_interfaces offered = {})
    {
        filter_object = test_filter::test_filter::create(backend, offered);
    }
    IKsPropertySet* filter() { return filter_object->as_property_set(); }

    void vendor_int(DWORD id, std::int32_t value, std::int32_t minimum = 0, std::int32_t maximum = 100,
                    std::int32_t default_value = 0, std::uint32_t flags = flag_manual, std::uint32_t capabilities = 0)
    {
        vendor_int_record record{};
        record.value = value;
        record.flags = flags;
        record.capabilities = capabilities;
        record.minimum = minimum;
        record.maximum = maximum;
        record.default_value = default_value;
        backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
    }
    void vendor_float(DWORD id, float value, float minimum = 0, float maximum = 1, float default_value = 0,
                      std::uint32_t flags = flag_manual, std::uint32_t capabilities = 0)
    {
        vendor_float_record record{};
        record.value = value;
        record.minimum = minimum;
        record.maximum = maximum;
        record.default_value = default_value;
        record.flags = flags;
        record.capabilities = capabilities;
        backend->set_record(PROPSETID_FWCAM1394_CUSTOM_PROP, id, record);
    }
    template <class Record>
    Record stored(const GUID& set, DWORD id)
    {
        const auto property = backend->property(set, id);
        EXPECT_TRUE(property.has_value());
        return test_filter::record_of<Record>(property ? property->value : std::vector<std::uint8_t>{});
    }
    template <class Record>
    Record last_set(const GUID& set, DWORD id)
    {
        const auto sets = backend->sets_of(set, id);
        EXPECT_FALSE(sets.empty());
        return test_filter::record_of<Record>(sets.empty() ? std::vector<std::uint8_t>{} : sets.back().data);
    }
    std::size_t set_count(DWORD id) { return backend->sets_of(PROPSETID_FWCAM1394_CUSTOM_PROP, id).size(); }

    // The built-in descriptor of that name.
    static const item_descriptor& builtin(const wchar_t* name)
    {
        for (const item_descriptor& descriptor : builtin_item_descriptors()) {
            if (descriptor.item_name == name) {
                return descriptor;
            }
        }
        ADD_FAILURE() << "no built-in item";
        return builtin_item_descriptors().front();
    }
    item_data_ptr create(const wchar_t* name) { return builtin(name).create(filter(), builtin(name)); }

    std::shared_ptr<test_filter::scripted_backend> backend = std::make_shared<test_filter::scripted_backend>();
    atl::com_ptr<test_filter::test_filter> filter_object;
};

} // namespace pp_test
