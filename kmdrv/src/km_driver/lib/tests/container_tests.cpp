// The driver's two arrays: fixed capacity with stable addresses, and growth
// by half that keeps order.

#include "dutil2/base/vector_std.h"
#include "std_ext/fixed_vector.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

TEST(fixed_vector, holds_exactly_its_capacity_at_stable_addresses)
{
    std_ext::fixed_vector<std::string> slots;
    EXPECT_EQ(slots.emplace_back("x"), nullptr); // no room before reserve
    ASSERT_TRUE(slots.reserve(16));
    EXPECT_FALSE(slots.reserve(32)); // capacity is fixed once
    std::string* first = slots.emplace_back("slot 0");
    for (int i = 1; i < 16; ++i) {
        ASSERT_NE(slots.emplace_back("slot " + std::to_string(i)), nullptr);
    }
    EXPECT_EQ(slots.emplace_back("slot 16"), nullptr);
    EXPECT_EQ(&slots[0], first);
    EXPECT_EQ(slots[15], "slot 15");
    slots.release();
    EXPECT_EQ(slots.capacity(), 0u);
    EXPECT_TRUE(slots.reserve(4)); // room can be made again after release
}

TEST(vector_std, grows_to_half_again_the_requested_size_and_keeps_order)
{
    dutil2::vector_std<std::unique_ptr<int>> list;
    ASSERT_TRUE(list.push_back(std::make_unique<int>(0)));
    EXPECT_EQ(list.capacity(), 1u);
    ASSERT_TRUE(list.push_back(std::make_unique<int>(1)));
    EXPECT_EQ(list.capacity(), 3u);
    for (int i = 2; i < 10; ++i) {
        ASSERT_TRUE(list.push_back(std::make_unique<int>(i)));
    }
    list.erase_at(3);
    ASSERT_EQ(list.size(), 9u);
    const int expected[] = {0, 1, 2, 4, 5, 6, 7, 8, 9};
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(*list[i], expected[i]);
    }
    list.erase_at(42); // out of range: nothing happens
    EXPECT_EQ(list.size(), 9u);
}

TEST(vector_std, zero_filled_object_is_an_empty_array_and_resize_value_initialises)
{
    alignas(dutil2::vector_std<void*>) unsigned char raw[sizeof(dutil2::vector_std<void*>)] = {};
    auto* list = reinterpret_cast<dutil2::vector_std<void*>*>(raw);
    EXPECT_TRUE(list->empty());
    ASSERT_TRUE(list->resize(3));
    EXPECT_EQ((*list)[2], nullptr);
    list->release();
}

} // namespace
