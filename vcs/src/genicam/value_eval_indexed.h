#pragma once
// The selection table behind "pIndex": rows of (index, node or literal) and a
// default row, chosen by the current value of the index node.

#include "genicam/inode.h"

#include <cstdint>
#include <vector>

namespace GenICam::impl {

class node_base_data;

template <class T>
struct indexed_entry {
    std::int64_t index = -1;
    INode* node = nullptr;
    T value{};
};

template <class T>
class value_eval_indexed {
public:
    // Reads the default row ("pValueDefault" or "ValueDefault"), then every
    // "pValueIndexed" row, then every "ValueIndexed" row. Without a usable
    // default row the table stays empty.
    void resolve_references(node_base_data& self);

    // The first row whose index equals `index`, else the default row.
    indexed_entry<T>& select(std::int64_t index) noexcept
    {
        for (indexed_entry<T>& row : rows) {
            if (row.index == index) {
                return row;
            }
        }
        return default_row;
    }

    std::vector<indexed_entry<T>> rows;
    indexed_entry<T> default_row;
};

extern template class value_eval_indexed<std::int64_t>;
extern template class value_eval_indexed<double>;

} // namespace GenICam::impl
