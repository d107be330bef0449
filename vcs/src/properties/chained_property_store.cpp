#include "properties/chained_property_store.h"

#include <algorithm>

namespace utils {

chained_property_store::chained_property_store(store_list stores) : stores_(std::move(stores))
{
    std::erase(stores_, nullptr);
}

bool chained_property_store::read_int(std::wstring_view name, std::int64_t& value)
{
    return std::ranges::any_of(stores_, [&](const auto& store) { return store->read_int(name, value); });
}

bool chained_property_store::read_string(std::wstring_view name, std::wstring& value)
{
    return std::ranges::any_of(stores_, [&](const auto& store) { return store->read_string(name, value); });
}

bool chained_property_store::write_int(std::wstring_view name, std::int64_t value)
{
    return std::any_of(stores_.rbegin(), stores_.rend(), [&](const auto& store) { return store->write_int(name, value); });
}

bool chained_property_store::write_string(std::wstring_view name, std::wstring_view value)
{
    return std::any_of(stores_.rbegin(), stores_.rend(),
                       [&](const auto& store) { return store->write_string(name, value); });
}

bool chained_property_store::remove(std::wstring_view name)
{
    bool removed = false;
    for (const auto& store : stores_) {
        removed = store->remove(name) || removed;
    }
    return removed;
}

int chained_property_store::value_kind(std::wstring_view name)
{
    for (const auto& store : stores_) {
        if (const int kind = store->value_kind(name); kind != none) {
            return kind;
        }
    }
    return none;
}

} // namespace utils
