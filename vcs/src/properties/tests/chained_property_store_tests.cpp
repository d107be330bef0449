#include "properties/chained_property_store.h"

#include <gtest/gtest.h>

#include <map>
#include <variant>

namespace {

// A store in memory; a read-only one refuses writes and removals, as a
// registry key opened for reading does.
class map_store final : public utils::property_store_itf {
public:
    explicit map_store(bool read_only = false) : read_only_(read_only) {}

    std::map<std::wstring, std::variant<std::int64_t, std::wstring>, std::less<>> values;

    bool read_int(std::wstring_view name, std::int64_t& value) override
    {
        const auto found = values.find(name);
        if (found == values.end() || !std::holds_alternative<std::int64_t>(found->second)) {
            return false;
        }
        value = std::get<std::int64_t>(found->second);
        return true;
    }
    bool read_string(std::wstring_view name, std::wstring& value) override
    {
        const auto found = values.find(name);
        if (found == values.end() || !std::holds_alternative<std::wstring>(found->second)) {
            return false;
        }
        value = std::get<std::wstring>(found->second);
        return true;
    }
    bool write_int(std::wstring_view name, std::int64_t value) override
    {
        if (read_only_) {
            return false;
        }
        values[std::wstring(name)] = value;
        return true;
    }
    bool write_string(std::wstring_view name, std::wstring_view value) override
    {
        if (read_only_) {
            return false;
        }
        values[std::wstring(name)] = std::wstring(value);
        return true;
    }
    bool remove(std::wstring_view name) override
    {
        if (read_only_) {
            return false;
        }
        const auto found = values.find(name);
        if (found == values.end()) {
            return false;
        }
        values.erase(found);
        return true;
    }
    int value_kind(std::wstring_view name) override
    {
        const auto found = values.find(name);
        if (found == values.end()) {
            return none;
        }
        return std::holds_alternative<std::wstring>(found->second) ? string : integer;
    }

private:
    bool read_only_;
};

struct chain_fixture : ::testing::Test {
    std::shared_ptr<map_store> defaults = std::make_shared<map_store>(true);
    std::shared_ptr<map_store> own = std::make_shared<map_store>();
    utils::chained_property_store chain{{defaults, own}};
};

TEST_F(chain_fixture, reads_take_the_first_store_that_has_the_value)
{
    defaults->values[L"gain"] = std::int64_t{7};
    own->values[L"gain"] = std::int64_t{9};
    own->values[L"name"] = std::wstring(L"own");

    std::int64_t value = 0;
    ASSERT_TRUE(chain.read_int(L"gain", value));
    EXPECT_EQ(value, 7);

    std::wstring text;
    ASSERT_TRUE(chain.read_string(L"name", text));
    EXPECT_EQ(text, L"own");

    // A value of the other type in the first store does not hide the second's.
    defaults->values[L"mixed"] = std::wstring(L"text");
    own->values[L"mixed"] = std::int64_t{3};
    ASSERT_TRUE(chain.read_int(L"mixed", value));
    EXPECT_EQ(value, 3);
    EXPECT_EQ(chain.value_kind(L"mixed"), utils::property_store_itf::string);

    EXPECT_FALSE(chain.read_int(L"absent", value));
    EXPECT_EQ(chain.value_kind(L"absent"), utils::property_store_itf::none);
}

TEST_F(chain_fixture, writes_land_in_the_last_store_that_accepts_them)
{
    ASSERT_TRUE(chain.write_int(L"gain", 12));
    ASSERT_TRUE(chain.write_string(L"name", L"camera"));
    EXPECT_EQ(std::get<std::int64_t>(own->values.at(L"gain")), 12);
    EXPECT_EQ(std::get<std::wstring>(own->values.at(L"name")), L"camera");
    EXPECT_TRUE(defaults->values.empty());

    // Without a writable store nothing accepts the write, and the chain says so.
    utils::chained_property_store defaults_only{{defaults, nullptr}};
    EXPECT_EQ(defaults_only.size(), 1u);
    EXPECT_FALSE(defaults_only.write_int(L"gain", 1));
    EXPECT_FALSE(defaults_only.write_string(L"name", L"x"));
}

TEST_F(chain_fixture, remove_reaches_every_store)
{
    auto second = std::make_shared<map_store>();
    utils::chained_property_store both{{own, second}};
    own->values[L"gain"] = std::int64_t{1};
    second->values[L"gain"] = std::int64_t{2};

    EXPECT_TRUE(both.remove(L"gain"));
    EXPECT_TRUE(own->values.empty());
    EXPECT_TRUE(second->values.empty());
    EXPECT_FALSE(both.remove(L"gain"));
}

TEST(chained_property_store, an_empty_chain_answers_nothing)
{
    utils::chained_property_store chain{{}};
    std::int64_t value = 0;
    std::wstring text;
    EXPECT_FALSE(chain.read_int(L"a", value));
    EXPECT_FALSE(chain.read_string(L"a", text));
    EXPECT_FALSE(chain.write_int(L"a", 1));
    EXPECT_FALSE(chain.remove(L"a"));
    EXPECT_EQ(chain.value_kind(L"a"), 0);
}

} // namespace
