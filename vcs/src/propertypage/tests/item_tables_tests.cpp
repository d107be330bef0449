// The ten built-in descriptors.

#include "propertypage/vcd_item_tables.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring text_of(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

TEST(item_tables, ten_builtin_items_in_registration_order)
{
    const auto items = builtin_item_descriptors();
    const struct {
        const wchar_t* name;
        const wchar_t* category;
        std::int32_t priority;
        const wchar_t* guid;
        std::size_t elements;
    } expected[] = {
        {L"Exposure", L"Exposure", 3, L"{90D5702E-E43B-4366-AAEB-7A7A10B448B4}", 5},
        {L"Gain", nullptr, 2, L"{284C0E0F-010B-45BF-8291-09D90A459B28}", 2},
        {L"Partial scan", L"Partial scan", 1, L"{2CED6FD6-AB4D-4C74-904C-D682E53B9CC5}", 3},
        {L"Binning factor", L"Partial scan", 1, L"{4F95A06D-9C15-407B-96AB-CF3FED047BA4}", 1},
        {L"GPIO", L"Special", 4, L"{86D89D69-9880-4618-9BF6-DED5E8383449}", 4},
        {L"Strobe", L"Special", 1, L"{DC320EDE-DF2E-4A90-B926-71417C71C57C}", 5},
        {L"Trigger", L"Special", 2, L"{90D57031-E43B-4366-AAEB-7A7A10B448B4}", 5},
        {L"Color Enhancement", L"Color", 1, L"{3A3A8F77-6440-46CC-940A-8752B02E6C29}", 1},
        {L"WhiteBalance", L"Color", 4, L"{284C0E0D-010B-45BF-8291-09D90A459B28}", 5},
        {L"Focus", L"Lens", 2, L"{90D57030-E43B-4366-AAEB-7A7A10B448B4}", 10},
    };
    ASSERT_EQ(items.size(), std::size(expected));
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        EXPECT_EQ(item.item_name, expected[i].name);
        EXPECT_EQ(item.category.has_value(), expected[i].category != nullptr) << i;
        if (expected[i].category != nullptr && item.category) {
            EXPECT_EQ(*item.category, expected[i].category);
        }
        EXPECT_EQ(item.priority, expected[i].priority) << i;
        EXPECT_EQ(text_of(item.item_guid), expected[i].guid);
        EXPECT_EQ(item.elements.size(), expected[i].elements) << i;
        EXPECT_NE(item.create, nullptr);
    }
}

TEST(item_tables, elements_carry_their_interfaces_hidden_flags_and_attachments)
{
    const auto items = builtin_item_descriptors();
    const auto& exposure = items[0];
    ASSERT_EQ(exposure.elements[0].interfaces.size(), 2u);
    EXPECT_TRUE(IsEqualGUID(exposure.elements[0].element_guid, vcd_element::value));
    EXPECT_EQ(exposure.elements[0].interfaces[1].id, 1u);
    EXPECT_EQ(exposure.elements[0].interfaces[1].kind, interface_kind::absolute_value);
    EXPECT_EQ(exposure.elements[3].name, L"Auto Max Value");
    EXPECT_EQ(text_of(exposure.elements[4].element_guid), L"{65190390-1AD8-4E91-9021-66D64090CC85}");

    const auto& binning = items[3];
    EXPECT_EQ(binning.elements[0].hidden, 3);
    EXPECT_EQ(binning.elements[0].interfaces[0].id, 212u);
    EXPECT_EQ(binning.elements[0].interfaces[0].kind, interface_kind::map_strings);

    const auto& gpio = items[4];
    EXPECT_TRUE(IsEqualGUID(gpio.elements[1].attached_to[0], gpio.elements[0].element_guid));
    EXPECT_TRUE(IsEqualGUID(gpio.elements[3].attached_to[0], gpio.elements[2].element_guid));
    EXPECT_TRUE(IsEqualGUID(gpio.elements[0].attached_to[0], GUID_NULL));

    const auto& trigger = items[6];
    EXPECT_EQ(trigger.elements[1].name, L"Software Trigger");
    EXPECT_TRUE(IsEqualGUID(trigger.elements[1].attached_to[0], vcd_element::value));
    EXPECT_EQ(trigger.elements[3].interfaces[0].kind, interface_kind::absolute_value);

    const auto& focus = items[9];
    EXPECT_TRUE(IsEqualGUID(focus.elements[0].element_guid, vcd_element::one_push));
    EXPECT_EQ(focus.elements[2].hidden, 3);
    // Right comes before Top: rows follow the table's order.
    EXPECT_EQ(focus.elements[7].name, L"Right");
    EXPECT_EQ(focus.elements[7].interfaces[0].id, 9u);
    EXPECT_EQ(focus.elements[8].name, L"Top");

    for (const auto& item : items) {
        for (const auto& element : item.elements) {
            if (&item != &binning && &element != &focus.elements[2]) {
                EXPECT_EQ(element.hidden, 0);
            }
        }
    }
}

} // namespace
