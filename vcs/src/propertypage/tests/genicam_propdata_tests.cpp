// The two GenICam item-data classes: by name through the service, and over
// the local node map with the adapter as register port.

#include "genicam_fixture.h"

#include "propertypage/genicam_propdata_named.h"
#include "propertypage/genicam_propdata_portbased.h"
#include "propertypage/item_slider_access.h"
#include "propertypage/range_slider_controller.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

namespace pp_test {
namespace {

class genicam_items : public genicam_fixture {
protected:
    // The Zoom item of the document at `document` (the fixture's own is the
    // first), made by `create` over a loaded adapter.
    item_data_ptr zoom(create_item_data_fn create, bool serve_registers = false, std::size_t document = 0)
    {
        implement({"ZoomValue", "ZoomMode", "ZoomLocked", "ZoomGo", "ZoomSpeed"});
        service.serve_registers(serve_registers);
        device = adapter();
        const auto descriptors = load(*device);
        EXPECT_GT(descriptors.size(), document);
        if (descriptors.size() <= document) {
            return {};
        }
        item = descriptors[document];
        return create(filter(), item);
    }
    interface_id id(const wchar_t* name) const { return id_of(item, name); }

    std::unique_ptr<genicam_adapter::GenICamAdapterDevice> device;
    item_descriptor item;
};

TEST_F(genicam_items, a_range_without_default_defaults_to_its_middle_in_both_classes)
{
    service.set_named_int("ZoomValue/Min", 10);
    service.set_named_int("ZoomValue/Max", 20);
    for (create_item_data_fn create :
         {&genicam_adapter::genicam_propdata_named::create, &genicam_adapter::genicam_propdata_portbased::create}) {
        auto zoom_item = zoom(create);
        ASSERT_TRUE(zoom_item);
        int_range range{};
        ASSERT_EQ(zoom_item->get_range(id(L"Zoom value"), range), S_OK);
        EXPECT_EQ(range.minimum, 10);
        EXPECT_EQ(range.maximum, 20);
        EXPECT_EQ(range.default_value, 15);
        EXPECT_EQ(range.step, 1);
    }
}

TEST_F(genicam_items, integer_features_without_bounds_or_past_32_bits_saturate_and_stay_usable)
{
    // Without Min and Max the node map and the service answer the ends of the
    // 64-bit range, and no default.
    service.add_document(zoom_description("Unbounded", "<Value>7</Value>"));
    service.add_document(zoom_description("Wide", "<Value>3000000000</Value><Min>0</Min><Max>6000000000</Max>"));
    implement({"Unbounded", "Wide"});
    service.set_named_int("Unbounded/Min", INT64_MIN);
    service.set_named_int("Unbounded/Max", INT64_MAX);
    service.set_named_int("Unbounded/Value", 7);
    service.set_named_int("Wide/Min", 0);
    service.set_named_int("Wide/Max", 6000000000);
    service.set_named_int("Wide/Value", 3000000000);
    service.set_named_int("Unbounded/IsLocked", 0);
    service.set_named_int("Wide/IsLocked", 0);
    for (create_item_data_fn create :
         {&genicam_adapter::genicam_propdata_named::create, &genicam_adapter::genicam_propdata_portbased::create}) {
        auto unbounded = zoom(create, false, 1);
        ASSERT_TRUE(unbounded);
        const interface_id unbounded_value = id(L"Zoom value");
        int_range range{};
        ASSERT_EQ(unbounded->get_range(unbounded_value, range), S_OK);
        EXPECT_EQ(range.minimum, INT32_MIN);
        EXPECT_EQ(range.maximum, INT32_MAX);
        EXPECT_EQ(range.default_value, -1) << "the middle of the 64-bit range, rounded towards its minimum";
        EXPECT_EQ(range.step, 1);
        // Its slider, edit box and spin button are usable.
        VCDPropUI::CRangeSliderController controls(VCDPropUI::make_slider_access(unbounded, unbounded_value));
        bool available = false;
        ASSERT_TRUE(controls.is_available(available));
        EXPECT_TRUE(available);
        std::wstring text;
        ASSERT_TRUE(controls.get_text(text));
        EXPECT_EQ(text, L"7");

        auto wide = zoom(create, false, 2);
        ASSERT_TRUE(wide);
        const interface_id wide_value = id(L"Zoom value");
        ASSERT_EQ(wide->get_range(wide_value, range), S_OK);
        EXPECT_EQ(range.minimum, 0);
        EXPECT_EQ(range.maximum, INT32_MAX);
        EXPECT_EQ(range.default_value, INT32_MAX);
        std::int32_t value = 0;
        ASSERT_EQ(wide->get_value(wide_value, value), S_OK);
        EXPECT_EQ(value, INT32_MAX) << "3,000,000,000 shows at the end of the range, not wrapped";
        VCDPropUI::CRangeSliderController wide_controls(VCDPropUI::make_slider_access(wide, wide_value));
        ASSERT_TRUE(wide_controls.get_text(text));
        EXPECT_EQ(text, L"2147483647");
        ASSERT_TRUE(wide_controls.is_available(available));
        EXPECT_TRUE(available);
    }
}

TEST_F(genicam_items, float_bounds_and_defaults_past_single_precision_stay_finite)
{
    // A default of DBL_MAX in the node map, and a service that gives the
    // float's whole range and no default.
    service.add_document(zoom_description(
        "ZoomValue", "<Value>0</Value>",
        "<Value>1.5</Value><Min>-1.7976931348623157e308</Min><Max>3</Max><Default>1.7976931348623157e308</Default>"));
    auto port_based = zoom(&genicam_adapter::genicam_propdata_portbased::create, false, 1);
    ASSERT_TRUE(port_based);
    abs_range range{};
    ASSERT_EQ(port_based->get_abs_range(id(L"ZoomSpeed"), range), S_OK);
    EXPECT_EQ(range.minimum, -FLT_MAX);
    EXPECT_EQ(range.maximum, 3.0);
    EXPECT_EQ(range.default_value, FLT_MAX);

    service.set_named_double("ZoomSpeed/Min", -DBL_MAX);
    service.set_named_double("ZoomSpeed/Max", DBL_MAX);
    auto named = zoom(&genicam_adapter::genicam_propdata_named::create);
    ASSERT_TRUE(named);
    ASSERT_EQ(named->get_abs_range(id(L"ZoomSpeed"), range), S_OK);
    EXPECT_EQ(range.default_value, 0.0) << "the middle, computed without overflowing to infinity";
}

TEST_F(genicam_items, the_single_precision_bounds_shown_write_the_exact_bounds)
{
    // Both bounds lie 6.25e-5 inside their single-precision values, more
    // than the node's tolerance.
    service.add_document(zoom_description("ZoomValue", "<Value>0</Value>",
                                          "<Value>1.5</Value><Min>-123456.789</Min><Max>123456.789</Max>"));
    auto port_based = zoom(&genicam_adapter::genicam_propdata_portbased::create, false, 1);
    ASSERT_TRUE(port_based);
    abs_range range{};
    ASSERT_EQ(port_based->get_abs_range(id(L"ZoomSpeed"), range), S_OK);
    EXPECT_EQ(range.maximum, 123456.7890625);
    EXPECT_EQ(range.minimum, -123456.7890625);
    const double inf = std::numeric_limits<double>::infinity();
    struct row {
        double sent;
        HRESULT result;
        double stored;
    };
    const row rows[] = {
        {range.maximum, S_OK, 123456.789},
        {std::nextafter(range.maximum, inf), E_INVALIDARG, 123456.789},
        {range.minimum, S_OK, -123456.789},
        {std::nextafter(range.minimum, -inf), E_INVALIDARG, -123456.789},
        {2.5, S_OK, 2.5},
    };
    for (const row& r : rows) {
        EXPECT_EQ(port_based->set_abs_value(id(L"ZoomSpeed"), r.sent), r.result) << r.sent;
        double stored = 0;
        ASSERT_EQ(port_based->get_abs_value(id(L"ZoomSpeed"), stored), S_OK);
        EXPECT_EQ(stored, r.stored) << r.sent;
    }
}

TEST_F(genicam_items, a_minimum_too_small_for_single_precision_is_not_taken_for_the_zero_it_shows)
{
    // Without Min the minimum is the smallest positive double, shown as 0: the
    // slider's left end, or a typed 0, writes 0. A minimum whose image is a
    // denormal is not taken for it either; one whose image is a normal number
    // that differs from it only by rounding still is.
    const auto single = [](double v) { return static_cast<double>(static_cast<float>(v)); };
    struct row {
        const char* min_element;
        double shown;
        double stored;
    };
    const row rows[] = {
        {"", 0.0, 0.0},
        {"<Min>1e-40</Min>", single(1e-40), single(1e-40)},
        {"<Min>1.5e-38</Min>", single(1.5e-38), 1.5e-38},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        service.add_document(zoom_description("ZoomValue", "<Value>0</Value>",
                                              std::string("<Value>1.5</Value>") + rows[i].min_element +
                                                  "<Max>3</Max>"));
    }
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const row& r = rows[i];
        SCOPED_TRACE(r.min_element);
        auto port_based = zoom(&genicam_adapter::genicam_propdata_portbased::create, false, i + 1);
        ASSERT_TRUE(port_based);
        abs_range range{};
        ASSERT_EQ(port_based->get_abs_range(id(L"ZoomSpeed"), range), S_OK);
        EXPECT_EQ(range.minimum, r.shown);
        ASSERT_EQ(port_based->set_abs_value(id(L"ZoomSpeed"), range.minimum), S_OK);
        double stored = -1;
        ASSERT_EQ(port_based->get_abs_value(id(L"ZoomSpeed"), stored), S_OK);
        EXPECT_EQ(stored, r.stored);
        ASSERT_EQ(port_based->set_abs_value(id(L"ZoomSpeed"), range.maximum), S_OK);
        ASSERT_EQ(port_based->get_abs_value(id(L"ZoomSpeed"), stored), S_OK);
        EXPECT_EQ(stored, 3.0);
    }
}

TEST_F(genicam_items, a_locked_feature_is_not_available)
{
    service.set_named_int("ZoomLocked/IsLocked", 1);
    service.set_named_int("ZoomGo/IsLocked", 0);
    for (create_item_data_fn create :
         {&genicam_adapter::genicam_propdata_named::create, &genicam_adapter::genicam_propdata_portbased::create}) {
        auto zoom_item = zoom(create);
        ASSERT_TRUE(zoom_item);
        bool available = true;
        ASSERT_EQ(zoom_item->is_available(id(L"ZoomLocked"), available), S_OK);
        EXPECT_FALSE(available);
        ASSERT_EQ(zoom_item->is_available(id(L"ZoomGo"), available), S_OK);
        EXPECT_TRUE(available);
    }
}

TEST_F(genicam_items, a_named_enumeration_offers_only_implemented_entries)
{
    service.set_named_int("ZoomMode/Near/IsImplemented", 1);
    service.set_named_int("ZoomMode/Far/IsImplemented", 0);
    service.set_named_int("ZoomMode/Macro/IsImplemented", 1);
    auto zoom_item = zoom(&genicam_adapter::genicam_propdata_named::create);
    ASSERT_TRUE(zoom_item);
    const interface_id mode = id(L"ZoomMode");
    std::vector<atl::bstr> texts;
    ASSERT_EQ(zoom_item->get_map_strings(mode, texts), S_OK);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].view(), L"Near focus");
    EXPECT_EQ(texts[1].view(), L"Macro");

    std::int32_t position = -1;
    service.set_named_text("ZoomMode/SelectedEntry", "Macro");
    ASSERT_EQ(zoom_item->get_value(mode, position), S_OK);
    EXPECT_EQ(position, 1);
    service.set_named_text("ZoomMode/SelectedEntry", "Far");
    EXPECT_EQ(zoom_item->get_value(mode, position), E_FAIL);
    EXPECT_EQ(position, 1);

    ASSERT_EQ(zoom_item->set_value(mode, 0), S_OK);
    const auto writes = service.named_writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().request, "ZoomMode/SelectedEntry");
    EXPECT_EQ(std::string(writes.back().data.begin(), writes.back().data.end()), "Near");
    EXPECT_EQ(zoom_item->set_value(mode, 2), E_INVALIDARG);
}

TEST_F(genicam_items, a_port_based_enumeration_follows_the_node_map)
{
    auto zoom_item = zoom(&genicam_adapter::genicam_propdata_portbased::create);
    ASSERT_TRUE(zoom_item);
    const interface_id mode = id(L"ZoomMode");
    int_range range{};
    ASSERT_EQ(zoom_item->get_range(mode, range), S_OK);
    EXPECT_EQ(range.maximum, 1);
    ASSERT_EQ(zoom_item->set_value(mode, 1), S_OK);
    std::int32_t position = -1;
    ASSERT_EQ(zoom_item->get_value(mode, position), S_OK);
    EXPECT_EQ(position, 1);
    EXPECT_EQ(zoom_item->set_value(mode, 5), E_INVALIDARG);
}

TEST_F(genicam_items, port_based_values_reach_the_registers_through_the_adapter)
{
    service.put_register(0x10, {12, 0, 0, 0});
    auto zoom_item = zoom(&genicam_adapter::genicam_propdata_portbased::create, true);
    ASSERT_TRUE(zoom_item);
    std::int32_t value = 0;
    ASSERT_EQ(zoom_item->get_value(id(L"Zoom value"), value), S_OK);
    EXPECT_EQ(value, 12);
    ASSERT_EQ(zoom_item->set_value(id(L"Zoom value"), 18), S_OK);
    EXPECT_EQ(service.register_bytes(0x10, 4), (std::vector<std::uint8_t>{18, 0, 0, 0}));
    EXPECT_EQ(zoom_item->set_value(id(L"Zoom value"), 21), E_INVALIDARG);

    atl::bstr unit;
    std::int32_t scale = 1;
    ASSERT_EQ(zoom_item->get_abs_dimension(id(L"ZoomSpeed"), unit, scale), S_OK);
    EXPECT_EQ(unit.view(), L"mm/s");
    EXPECT_EQ(scale, scale_linear);
    abs_range range{};
    ASSERT_EQ(zoom_item->get_abs_range(id(L"ZoomSpeed"), range), S_OK);
    EXPECT_DOUBLE_EQ(range.maximum, 3.0);
    EXPECT_DOUBLE_EQ(range.default_value, 0.0);
    EXPECT_EQ(zoom_item->push(id(L"ZoomGo")), S_OK);
}

TEST_F(genicam_items, named_values_travel_as_eight_bytes)
{
    service.set_named_double("ZoomSpeed/Value", 2.25);
    auto zoom_item = zoom(&genicam_adapter::genicam_propdata_named::create);
    ASSERT_TRUE(zoom_item);
    double speed = 0;
    ASSERT_EQ(zoom_item->get_abs_value(id(L"ZoomSpeed"), speed), S_OK);
    EXPECT_DOUBLE_EQ(speed, 2.25);
    ASSERT_EQ(zoom_item->set_switch(id(L"ZoomLocked"), true), S_OK);
    ASSERT_EQ(zoom_item->push(id(L"ZoomGo")), S_OK);
    const auto writes = service.named_writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].request, "ZoomLocked/Value");
    EXPECT_EQ(writes[0].data, test_filter::bytes_of(std::int64_t{1}));
    EXPECT_EQ(writes[1].request, "ZoomGo/Execute");

    // A short or S_FALSE answer is no value.
    service.set_named("ZoomSpeed/Value", {1, 2, 3, 4});
    EXPECT_EQ(zoom_item->get_abs_value(id(L"ZoomSpeed"), speed), incomplete_reply);
    EXPECT_DOUBLE_EQ(speed, 2.25);
}

TEST_F(genicam_items, ids_of_no_feature_of_the_item_are_refused)
{
    auto zoom_item = zoom(&genicam_adapter::genicam_propdata_portbased::create);
    ASSERT_TRUE(zoom_item);
    std::int32_t value = 0;
    EXPECT_FALSE(zoom_item->is_interface_supported(12345));
    EXPECT_EQ(zoom_item->get_value(12345, value), E_INVALIDARG);
    EXPECT_EQ(zoom_item->get_value(0, value), E_INVALIDARG);
    bool on = false;
    EXPECT_EQ(zoom_item->get_switch(id(L"Zoom value"), on), E_NOTIMPL);
}

TEST_F(genicam_items, a_request_text_longer_than_928_bytes_is_refused_by_the_service)
{
    // Request texts are the feature name and "/Value".
    const std::string longest(928 - 6, 'L');
    const std::string too_long(929 - 6, 'T');
    service.add_document(zoom_description(longest));
    service.add_document(zoom_description(too_long));
    for (const std::string& name : {longest, too_long}) {
        service.set_named_int(name + "/Value", 11);
    }
    // "/IsImplemented" would be too long for the service as well: the
    // document says what is implemented here.
    device = adapter(false);
    const auto descriptors = load(*device);
    ASSERT_EQ(descriptors.size(), 3u);
    for (std::size_t i = 1; i < 3; ++i) {
        auto named = genicam_adapter::genicam_propdata_named::create(filter(), descriptors[i]);
        ASSERT_TRUE(named);
        std::int32_t value = 0;
        const HRESULT hr = named->get_value(descriptors[i].elements[0].interfaces[0].id, value);
        EXPECT_EQ(hr, i == 1 ? S_OK : E_INVALIDARG) << i;
    }
}

} // namespace
} // namespace pp_test
