#pragma once
// One entry of an Enumeration. Entries live in an array in the arena that
// their Enumeration owns; they are not in the document's node list.

#include "genicam/ienumeration.h"
#include "genicam/implement_inode.h"
#include "genicam/node_base_impl_ignore_dependent.h"

#include <cstdint>

namespace GenICam::impl {

class enum_entry_type final : public node_base_impl_ignore_dependent,
                              public implement_inode<enum_entry_type, IEnumEntry> {
public:
    // Reads the entry's "Value"; an unreadable one leaves 0 (logged).
    enum_entry_type(const node_init& init, std::int32_t ordinal);

    INode& get_inode() override { return *this; }

    std::int64_t get_value() const override { return value_; }
    std::int32_t get_ordinal() const override { return ordinal_; }
    std::optional<double> get_numeric_value() const override;
    bool is_self_clearing() const override { return child("IsSelfClearing") == "Yes"; }

private:
    std::int64_t value_ = 0;
    std::int32_t ordinal_ = 0;
};

} // namespace GenICam::impl
