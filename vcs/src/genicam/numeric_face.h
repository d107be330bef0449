#pragma once
// The family side of a node class written once for both value types:
// IInteger for std::int64_t, IFloat for double.

#include "genicam/implement_inode_IFloat.h"
#include "genicam/implement_inode_IInteger.h"

#include <type_traits>

namespace GenICam::impl {

template <class Class, class T>
using numeric_face =
    std::conditional_t<std::is_same_v<T, double>, implement_inode_IFloat<Class>, implement_inode_IInteger<Class>>;

} // namespace GenICam::impl
