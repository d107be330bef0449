#pragma once
// Command nodes: execute writes the command value into the node's own value
// ("Value", command_Value_type) or into the node named by "pValue"
// (command_pValue_type); the command is done once its target holds anything
// else.

#include "genicam/icommand.h"
#include "genicam/implement_inode.h"
#include "genicam/link_or_value.h"
#include "genicam/node_base_impl_dependent_cache.h"
#include "genicam/node_base_impl_value.h"

#include <type_traits>

namespace GenICam::impl {

template <bool Linked>
class command_type final : public std::conditional_t<Linked, node_base_impl_dependent_cache, node_base_impl_value>,
                           public implement_inode<command_type<Linked>, ICommand> {
    using layer = std::conditional_t<Linked, node_base_impl_dependent_cache, node_base_impl_value>;

public:
    explicit command_type(const node_init& init)
        : layer(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;
    INode* access_mode_peer() override { return value_node_; }

    std::optional<std::int64_t> get_polling_time() override;
    std::error_code execute(std::uint32_t flags) override;
    // A failed access check answers true (a value, not an error).
    result<bool> is_done(std::uint32_t flags) override;

private:
    std::int64_t value_ = 0;      // command_Value_type
    INode* value_node_ = nullptr; // command_pValue_type
    link_or_value<std::int64_t> command_value_;
};

using command_Value_type = command_type<false>;
using command_pValue_type = command_type<true>;

extern template class command_type<false>;
extern template class command_type<true>;

} // namespace GenICam::impl
