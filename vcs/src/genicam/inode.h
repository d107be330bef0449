#pragma once
// The face of every node that users of a document see. Every family interface
// (IInteger, IFloat, ...) begins with these operations. Texts are views into
// the document's XML text and stay valid while the document lives.

#include "genicam/genicam_types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace GenICam {

class INode;
namespace impl {
class IEval;
}

// A change callback: called with the node whose value may have changed.
using node_callback = std::function<void(INode&)>;

struct extension_entry {
    std::string_view name;
    std::string_view text;
};

class INode {
public:
    virtual node_type get_node_type() const = 0;
    virtual std::string_view get_name() const = 0;
    virtual std::vector<extension_entry> get_extensions() const = 0;
    virtual std::string_view get_extension(std::string_view name) const = 0;
    virtual result<bool> is_implemented(std::uint32_t flags) = 0;
    virtual bool is_implemented() = 0;
    virtual result<bool> is_available(std::uint32_t flags) = 0;
    virtual bool is_available() = 0;
    virtual result<bool> is_locked(std::uint32_t flags) = 0;
    virtual bool is_locked() = 0;
    virtual visibility get_visibility() const = 0;
    virtual std::string_view get_display_name() const = 0;
    virtual std::string_view get_tool_tip() const = 0;
    virtual std::string_view get_description() const = 0;
    virtual std::string_view get_docu_url() const = 0;
    virtual bool is_deprecated() const = 0;
    virtual bool get_streamable() const = 0;
    virtual access_mode get_access_mode() = 0;
    virtual std::error_code register_callback(const node_callback& callback) = 0;
    virtual void deregister_callbacks() = 0;
    virtual impl::IEval& get_eval() = 0;
    virtual std::optional<std::int64_t> get_event_id() const = 0;
    virtual INode* get_alias() const = 0;
    virtual INode* get_cast_alias() const = 0;
    virtual INode* get_block_polling() const = 0;
    virtual name_space get_name_space() const = 0;
    virtual merge_priority get_merge_priority() const = 0;
    virtual std::optional<bool> get_expose_static() const = 0;

protected:
    // Nodes live in their document's arena and are destroyed only by it.
    ~INode() = default;
};

} // namespace GenICam
