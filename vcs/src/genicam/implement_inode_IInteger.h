#pragma once
// The IInteger side of Integer-valued node classes: presentation queries over
// the shared numeric part. The value operations come from the class.

#include "genicam/implement_inode_numeric.h"
#include "genicam/xml_value_readers.h"

namespace GenICam::impl {

template <class Class>
class implement_inode_IInteger : public implement_inode_numeric<Class, std::int64_t> {
public:
    integer_representation get_representation() override
    {
        return read_integer_representation(*this->self().children);
    }
    std::string_view get_unit() override { return this->self().child("Unit"); }
    std::vector<INode*> get_selected_features() override { return this->self().resolve_node_list(); }

protected:
    ~implement_inode_IInteger() = default;
};

} // namespace GenICam::impl
