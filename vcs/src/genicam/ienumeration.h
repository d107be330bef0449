#pragma once
// Enumeration features and their entries.

#include "genicam/inode.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace GenICam {

namespace impl {
class enum_entry_type;
}

class IEnumEntry : public INode {
public:
    static constexpr node_type static_type = node_type::EnumEntry;
    virtual std::int64_t get_value() const = 0;
    virtual std::int32_t get_ordinal() const = 0;
    virtual std::optional<double> get_numeric_value() const = 0;
    virtual bool is_self_clearing() const = 0;

protected:
    ~IEnumEntry() = default;
};

class IEnumeration : public INode {
public:
    static constexpr node_type static_type = node_type::Enumeration;
    virtual std::optional<std::int64_t> get_polling_time() = 0;
    virtual std::vector<INode*> get_selected_features() = 0;
    // Every entry, in document order.
    virtual std::vector<IEnumEntry*> get_entries() = 0;
    // No entry: 0x80000102.
    virtual std::error_code set_entry(IEnumEntry* entry, std::uint32_t flags = 0) = 0;
    virtual result<IEnumEntry*> get_entry(std::uint32_t flags = 0) = 0;
    virtual IEnumEntry* find_entry_by_numeric_value(double value) = 0;
    virtual IEnumEntry* find_entry_by_value(std::int64_t value) = 0;
    virtual IEnumEntry* find_entry_by_name(std::string_view name) = 0;
    // The entry records themselves (declared in enum_entry_type.h).
    virtual std::span<impl::enum_entry_type> entry_span() = 0;

protected:
    ~IEnumeration() = default;
};

} // namespace GenICam
