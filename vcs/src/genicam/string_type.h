#pragma once
// String nodes: a text kept in the node, or in the String node named by
// "pValue". Any length is stored.

#include "genicam/implement_inode.h"
#include "genicam/istring.h"
#include "genicam/node_base_impl_value.h"

#include <string>

namespace GenICam::impl {

class string_type final : public node_base_impl_value, public implement_inode<string_type, IString> {
public:
    explicit string_type(const node_init& init)
        : node_base_impl_value(init)
    {
    }

    INode& get_inode() override { return *this; }
    void _resolve_references(IGenICamDoc& document, pugi::xml_node element) override;

    result<std::string> get_val(std::uint32_t flags) override;
    // Always propagates, also when the text is unchanged.
    std::error_code set_val(std::string_view value, std::uint32_t flags) override;

private:
    IString* value_node_ = nullptr;
    std::string value_;
};

} // namespace GenICam::impl
