#pragma once
// The INode side of a node class: implement_inode_base<Class, Iface> answers
// every common INode operation from the class's node_base_data. A node class
// derives from one base layer (node_base_impl_value, _dependent_cache or
// _ignore_dependent) and from its family's chain over implement_inode:
//
//     class my_type final : public node_base_impl_value,
//                           public implement_inode<my_type, IInteger> {
//     public:
//         INode& get_inode() override { return *this; }
//         ...family operations...
//     };

#include "genicam/node_base_data.h"

namespace GenICam::impl {

template <class Class, class Iface>
class implement_inode_base : public Iface {
public:
    node_type get_node_type() const override { return Iface::static_type; }
    std::string_view get_name() const override { return data().name; }
    std::vector<extension_entry> get_extensions() const override { return data().read_extensions(); }
    std::string_view get_extension(std::string_view key) const override { return data().read_extension(key); }
    result<bool> is_implemented(std::uint32_t flags) override { return data().read_is_implemented(flags); }
    bool is_implemented() override
    {
        const result<bool> r = data().read_is_implemented(0);
        return r.has_value() ? r.value() : true;
    }
    result<bool> is_available(std::uint32_t flags) override { return data().read_is_available(flags); }
    bool is_available() override
    {
        const result<bool> r = data().read_is_available(0);
        return r.has_value() ? r.value() : true;
    }
    result<bool> is_locked(std::uint32_t flags) override { return data().read_is_locked(flags); }
    bool is_locked() override
    {
        const result<bool> r = data().read_is_locked(0);
        return r.has_value() ? r.value() : false;
    }
    visibility get_visibility() const override { return data().getVisibility(); }
    std::string_view get_display_name() const override { return data().read_display_name(); }
    std::string_view get_tool_tip() const override { return data().child("ToolTip"); }
    std::string_view get_description() const override { return data().child("Description"); }
    std::string_view get_docu_url() const override { return data().child("DocuURL"); }
    bool is_deprecated() const override { return data().read_is_deprecated(); }
    bool get_streamable() const override { return data().read_streamable(); }
    access_mode get_access_mode() override { return data().effective_access_mode(); }
    std::error_code register_callback(const node_callback& callback) override
    {
        return data().add_node_callback(callback);
    }
    void deregister_callbacks() override { data().remove_node_callbacks(); }
    IEval& get_eval() override { return static_cast<Class&>(*this); }
    std::optional<std::int64_t> get_event_id() const override { return data().read_event_id(); }
    INode* get_alias() const override { return data().resolve_node("pAlias"); }
    INode* get_cast_alias() const override { return data().resolve_node("pCastAlias"); }
    INode* get_block_polling() const override { return data().resolve_node("pBlockPolling"); }
    name_space get_name_space() const override { return data().read_name_space(); }
    merge_priority get_merge_priority() const override { return data().read_merge_priority(); }
    std::optional<bool> get_expose_static() const override { return data().read_expose_static(); }

protected:
    ~implement_inode_base() = default;
    node_base_data& data() { return static_cast<Class&>(*this); }
    const node_base_data& data() const { return static_cast<const Class&>(*this); }
};

template <class Class, class Iface>
class implement_inode : public implement_inode_base<Class, Iface> {
protected:
    ~implement_inode() = default;
};

} // namespace GenICam::impl
