#pragma once
// The IFloat side of Float-valued node classes: presentation queries over the
// shared numeric part. The value operations come from the class.

#include "genicam/implement_inode_numeric.h"
#include "genicam/xml_value_readers.h"

#include <type_traits>

namespace GenICam::impl {

template <class Class>
class implement_inode_IFloat : public implement_inode_numeric<Class, double> {
public:
    float_representation get_representation() override { return read_float_representation(*this->self().children); }
    std::string_view get_unit() override { return this->self().child("Unit"); }
    display_notation get_display_notation() override { return this->self().display_notation_of_node(); }
    std::int32_t get_display_precision() override { return this->self().display_precision_of_node(); }

    // A class may hide these two to answer from elsewhere.
    display_notation display_notation_of_node() { return read_display_notation(*this->self().children); }
    std::int32_t display_precision_of_node() { return read_display_precision(*this->self().children); }

protected:
    ~implement_inode_IFloat() = default;
};

} // namespace GenICam::impl
