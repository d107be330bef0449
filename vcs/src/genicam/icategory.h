#pragma once

#include "genicam/inode.h"

#include <vector>

namespace GenICam {

class ICategory : public INode {
public:
    static constexpr node_type static_type = node_type::Category;
    // The features that could be found, in document order.
    virtual std::vector<INode*> get_features() = 0;

protected:
    ~ICategory() = default;
};

} // namespace GenICam
