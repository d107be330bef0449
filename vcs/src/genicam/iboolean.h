#pragma once

#include "genicam/inode.h"

#include <cstdint>
#include <vector>

namespace GenICam {

class IBoolean : public INode {
public:
    static constexpr node_type static_type = node_type::Boolean;
    virtual std::vector<INode*> get_selected_features() = 0;
    virtual std::error_code set_val(bool value, std::uint32_t flags = 0) = 0;
    virtual result<bool> get_val(std::uint32_t flags = 0) = 0;
    virtual result<bool> get_default(std::uint32_t flags = 0) = 0;

protected:
    ~IBoolean() = default;
};

} // namespace GenICam
