// The COM object base, the base class defaults and the property access
// operations against a filter that fails, answers S_FALSE or answers short.

#include "filter_fixture.h"

#include "propertypage/cunknown.h"
#include "propertypage/module_objects.h"

namespace pp_test {
namespace {

class plain_item final : public CVCDItemDataBase {
public:
    explicit plain_item(bool* destroyed) : destroyed_(destroyed) {}
    ~plain_item() override { *destroyed_ = true; }
    bool is_interface_supported(interface_id) override { return true; }

private:
    bool* destroyed_;
};

TEST(item_data_object, counts_for_the_module_and_deletes_itself_with_its_last_reference)
{
    const long before = camtovra_propertypage::object_count();
    bool destroyed = false;
    item_data_ptr item(new plain_item(&destroyed));
    EXPECT_EQ(camtovra_propertypage::object_count(), before + 1);

    atl::com_ptr<IUnknown> unknown;
    ASSERT_EQ(item->NonDelegatingQueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    // The inner unknown answers for the object: its count is the object's.
    EXPECT_EQ(unknown->AddRef(), 3u);
    EXPECT_EQ(unknown->Release(), 2u);
    unknown.reset();
    void* other = &destroyed;
    EXPECT_EQ(item->NonDelegatingQueryInterface(__uuidof(IKsPropertySet), &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(item->NonDelegatingQueryInterface(IID_IUnknown, nullptr), E_POINTER);

    item_data_ptr copy = item;
    item.reset();
    EXPECT_FALSE(destroyed);
    copy.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(camtovra_propertypage::object_count(), before);
}

TEST(item_data_object, base_operations_answer_their_defaults)
{
    bool destroyed = false;
    item_data_ptr item(new plain_item(&destroyed));
    bool flag = false;
    EXPECT_EQ(item->is_available(0, flag), S_OK);
    EXPECT_TRUE(flag);
    EXPECT_EQ(item->is_read_only(0, flag), S_OK);
    EXPECT_FALSE(flag);
    EXPECT_EQ(item->refresh(0), S_OK);
    int_range range{};
    std::int32_t value = 0;
    double real = 0;
    atl::bstr unit;
    std::int32_t scale = 42;
    std::vector<atl::bstr> texts;
    EXPECT_EQ(item->get_switch(0, flag), E_NOTIMPL);
    EXPECT_EQ(item->set_switch(0, true), E_NOTIMPL);
    EXPECT_EQ(item->get_switch_default(0, flag), E_NOTIMPL);
    EXPECT_EQ(item->get_range(0, range), E_NOTIMPL);
    EXPECT_EQ(item->get_value(0, value), E_NOTIMPL);
    EXPECT_EQ(item->set_value(0, 1), E_NOTIMPL);
    abs_range real_range{};
    EXPECT_EQ(item->get_abs_range(0, real_range), E_NOTIMPL);
    EXPECT_EQ(item->get_abs_value(0, real), E_NOTIMPL);
    EXPECT_EQ(item->set_abs_value(0, 1), E_NOTIMPL);
    EXPECT_EQ(item->get_abs_dimension(0, unit, scale), E_NOTIMPL);
    EXPECT_EQ(scale, 42);
    EXPECT_EQ(item->push(0), E_NOTIMPL);
    EXPECT_EQ(item->get_map_strings(0, texts), E_NOTIMPL);
    EXPECT_FALSE(item->is_do_not_serialize(0));
    EXPECT_EQ(item->reserved_slot_4(), 1);
}

using property_access = filter_fixture;

TEST_F(property_access, a_missing_filter_is_a_null_pointer)
{
    std::int32_t value = 5;
    EXPECT_EQ(ks_get_int(nullptr, 109, value), E_POINTER);
    EXPECT_EQ(ks_set_int(nullptr, 109, 1), E_POINTER);
    EXPECT_FALSE(ks_query_supported(nullptr, PROPSETID_FWCAM1394_CUSTOM_PROP, 109));
    EXPECT_EQ(value, 5);
    for (const item_descriptor& descriptor : builtin_item_descriptors()) {
        EXPECT_FALSE(descriptor.create(nullptr, descriptor))
            << std::string(descriptor.item_name.begin(), descriptor.item_name.end());
    }
}

TEST_F(property_access, a_get_that_does_not_deliver_the_whole_record_leaves_the_value_alone)
{
    vendor_int(109, 33);
    std::int32_t value = 5;
    ASSERT_EQ(ks_get_int(filter(), 109, value), S_OK);
    EXPECT_EQ(value, 33);

    auto property = *backend->property(PROPSETID_FWCAM1394_CUSTOM_PROP, 109);
    property.get_result = S_FALSE;
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 109, property);
    value = 5;
    EXPECT_EQ(ks_get_int(filter(), 109, value), incomplete_reply);
    EXPECT_EQ(value, 5);

    property.get_result = S_OK;
    property.reply_length = 47;
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 109, property);
    EXPECT_EQ(ks_get_int(filter(), 109, value), incomplete_reply);
    property.value.resize(40);
    property.reply_length.reset();
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 109, property);
    EXPECT_EQ(ks_get_int(filter(), 109, value), incomplete_reply);
    EXPECT_EQ(value, 5);

    property.get_result = static_cast<HRESULT>(0x80070651L);
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 109, property);
    EXPECT_EQ(ks_get_int(filter(), 109, value), static_cast<HRESULT>(0x80070651L));
    EXPECT_EQ(ks_get_int(filter(), 110, value), E_NOTIMPL);
}

TEST_F(property_access, a_record_goes_out_in_one_buffer_with_a_zero_header)
{
    vendor_int(109, 0);
    vendor_int_record record{};
    std::memset(record.ks_header, 0xAB, sizeof(record.ks_header));
    record.value = 7;
    ASSERT_EQ(ks_set_record(filter(), PROPSETID_FWCAM1394_CUSTOM_PROP, 109, record), S_OK);
    const auto call = backend->sets_of(PROPSETID_FWCAM1394_CUSTOM_PROP, 109).back();
    ASSERT_EQ(call.data.size(), 48u);
    EXPECT_EQ(call.instance, call.data);
    EXPECT_EQ(std::count(call.data.begin(), call.data.begin() + 24, 0), 24);

    ASSERT_EQ(ks_set_int(filter(), 109, -3), S_OK);
    const auto written = last_set<vendor_int_record>(PROPSETID_FWCAM1394_CUSTOM_PROP, 109);
    EXPECT_EQ(written.value, -3);
    EXPECT_EQ(written.flags, flag_manual);
    EXPECT_EQ(written.minimum, 0);
}

TEST_F(property_access, query_supported_needs_the_get_or_the_set_bit)
{
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 1,
                          test_filter::scripted_property::supporting(KSPROPERTY_SUPPORT_SET));
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 2, test_filter::scripted_property::supporting(0));
    backend->set_property(PROPSETID_FWCAM1394_CUSTOM_PROP, 3, test_filter::scripted_property::supporting(3, E_FAIL));
    EXPECT_TRUE(ks_query_supported(filter(), PROPSETID_FWCAM1394_CUSTOM_PROP, 1));
    EXPECT_FALSE(ks_query_supported(filter(), PROPSETID_FWCAM1394_CUSTOM_PROP, 2));
    EXPECT_FALSE(ks_query_supported(filter(), PROPSETID_FWCAM1394_CUSTOM_PROP, 3));
    EXPECT_FALSE(ks_query_supported(filter(), PROPSETID_FWCAM1394_CUSTOM_PROP, 4));
}

} // namespace
} // namespace pp_test
