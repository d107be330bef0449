#include "genicam/genicam_doc.h"

#include "genicam/eval_depth_guard.h"
#include "genicam/genicam_log.h"
#include "genicam/ieval.h"
#include "genicam/iport.h"
#include "genicam/node_base_impl_value.h"
#include "genicam/node_factory.h"
#include "genicam/number_text.h"
#include "genicam/xml_value_readers.h"

#include <fmt/format.h>
#include <gsl/util>

#include <algorithm>

namespace GenICam::impl {

namespace {

// Upper bound of dependents entries that the closure step of one build may
// add in all (see node_base_impl_value::set_expansion_budget).
constexpr std::size_t expansion_budget = std::size_t{1} << 22;

} // namespace

genicam_doc::genicam_doc() = default;

genicam_doc::~genicam_doc() = default;

bool genicam_doc::load_xml(const void* text, std::size_t length, load_options options)
{
    if (loaded_) {
        GENICAM_LOG(1, "%s, The document is loaded already; a second load is refused.\n",
                    "GenICam::impl::genicam_doc::load_xml");
        return false;
    }
    load_options_ = options;
    // One spare byte keeps the copy zero-terminated for the parser. Sized
    // once: appending the byte to an exact copy would copy the text again.
    xml_text_.reserve(length + 1);
    xml_text_.assign(static_cast<const char*>(text), static_cast<const char*>(text) + length);
    xml_text_.push_back('\0');
    xml_.reset();
    const pugi::xml_parse_result parsed = xml_.load_buffer_inplace(xml_text_.data(), length);
    if (!parsed) {
        GENICAM_LOG(1, "The XML document does contain errors : \"%s\" @ offset=%td.\n", parsed.description(),
                    static_cast<std::ptrdiff_t>(parsed.offset));
        return false;
    }
    loaded_ = true;
    build_nodes();
    return true;
}

void genicam_doc::build_nodes()
{
    node_factory factory(*this, allocator_, children_store_, load_options_.include_debug_properties);
    const std::size_t count = factory.plan(root());
    allocator_.prepare();
    nodes_.reserve(count);
    std::vector<name_key> names;
    factory.create(nodes_, names);
    document_order_ = nodes_;
    std::vector<std::uint32_t> rank_of;
    by_name_.sort_and_index(nodes_, names, rank_of);
    resolve_references(document_order_, rank_of);
    node_base_impl_value::set_expansion_budget(expansion_budget);
    for (INode* node : nodes_) {
        node->get_eval().expand_dependents();
    }
    dependency_map_.clear();
}

void genicam_doc::resolve_references(const std::vector<INode*>& in_document_order,
                                     const std::vector<std::uint32_t>& rank_of)
{
    // Nodes are resolved in the order their elements and objects lie in
    // memory: in name order every node would be a cache miss, and that
    // dominates the load of a large description. What one node's resolving
    // shows to others, the dependents it adds and the lines it logs, is
    // tagged with its place in name order and applied in that order, so the
    // result is the same as resolving in name order.
    std::vector<bool> streamable(nodes_.size(), false);
    {
        genicam_log_capture log_lines;
        deferring_dependents_ = true;
        const auto stop_deferring = gsl::finally([this] { deferring_dependents_ = false; });
        for (std::size_t i = 0; i < in_document_order.size(); ++i) {
            resolving_rank_ = rank_of[i];
            log_lines.set_key(resolving_rank_);
            INode* node = in_document_order[i];
            node->get_eval().resolve_references(*this);
            streamable[resolving_rank_] = node->get_streamable();
        }
    }
    // Replayed in name order, each node's own in the order it added them: a
    // counting sort by rank, which keeps that order.
    std::vector<std::uint32_t> first_of_rank(nodes_.size() + 1, 0);
    for (const deferred_dependent& d : deferred_dependents_) {
        ++first_of_rank[d.rank + 1];
    }
    for (std::size_t rank = 0; rank < nodes_.size(); ++rank) {
        first_of_rank[rank + 1] += first_of_rank[rank];
    }
    std::vector<deferred_dependent> in_name_order(deferred_dependents_.size());
    for (const deferred_dependent& d : deferred_dependents_) {
        in_name_order[first_of_rank[d.rank]++] = d;
    }
    deferred_dependents_ = {};
    // In name order the receiving nodes lie all over the arena: each is asked
    // into cache a few entries before its turn.
    constexpr std::size_t prefetch_distance = 8;
    for (std::size_t i = 0; i < in_name_order.size(); ++i) {
        if (i + prefetch_distance < in_name_order.size()) {
            __builtin_prefetch(in_name_order[i + prefetch_distance].node);
        }
        in_name_order[i].node->add_dependent(*in_name_order[i].dependent);
    }
    for (std::size_t rank = 0; rank < nodes_.size(); ++rank) {
        if (streamable[rank]) {
            streamable_nodes_.push_back(nodes_[rank]);
        }
    }
}

bool genicam_doc::defer_add_dependent(IEval& node, INode& dependent)
{
    if (!deferring_dependents_) {
        return false;
    }
    deferred_dependents_.push_back({resolving_rank_, &node, &dependent});
    return true;
}

pugi::xml_node genicam_doc::root() const
{
    return xml_.first_child();
}

IPort* genicam_doc::find_port(std::string_view name)
{
    const std::string_view wanted = name.empty() ? std::string_view("Device") : name;
    // Nodes of one name lie together in name order: start at the first of
    // them and scan only those (every register looks its port up while the
    // document is built, so a scan of all nodes would make loading quadratic).
    for (auto at = first_named(wanted); at < nodes_.size() && nodes_[at]->get_name() == wanted; ++at) {
        // Every node of this document is one of the engine's classes, each of
        // which implements exactly the interface its node type names: a Port
        // is an IPort, and the run-time cast (costly on these hierarchies) is
        // not needed.
        if (nodes_[at]->get_node_type() == node_type::Port) {
            return static_cast<IPort*>(nodes_[at]);
        }
    }
    return nullptr;
}

std::size_t genicam_doc::first_named(std::string_view name) const
{
    const std::size_t at = by_name_.find(name);
    return at == node_name_index::npos ? nodes_.size() : at;
}

INode* genicam_doc::find_node(std::string_view name)
{
    if (name.empty()) {
        return nullptr;
    }
    const std::size_t at = first_named(name);
    return at < nodes_.size() ? nodes_[at] : nullptr;
}

void genicam_doc::for_each_node(std::function<void(INode&)> visitor)
{
    for (INode* node : nodes_) {
        visitor(*node);
    }
}

void genicam_doc::for_each_streamable_node(std::function<void(INode&)> visitor)
{
    for (INode* node : streamable_nodes_) {
        visitor(*node);
    }
}

std::string_view genicam_doc::model_name()
{
    return root().attribute("ModelName").value();
}

std::string_view genicam_doc::vendor_name()
{
    return root().attribute("VendorName").value();
}

std::string_view genicam_doc::tool_tip()
{
    return root().attribute("ToolTip").value();
}

std::uint32_t genicam_doc::standard_name_space()
{
    return parse_standard_name_space(root().attribute("StandardNameSpace").value()).value_or(0);
}

std::uint32_t genicam_doc::version_attribute(const char* name) const
{
    const parsed_integer parsed = parse_integer_text(root().attribute(name).value());
    if (!parsed.ok() || parsed.value < 0 || parsed.value > 0xffffffffLL) {
        return 0;
    }
    return static_cast<std::uint32_t>(parsed.value);
}

std::uint32_t genicam_doc::major_version()
{
    return version_attribute("MajorVersion");
}

std::uint32_t genicam_doc::minor_version()
{
    return version_attribute("MinorVersion");
}

std::uint32_t genicam_doc::sub_minor_version()
{
    return version_attribute("SubMinorVersion");
}

std::vector<INode*> genicam_doc::nodes_in_document_order()
{
    return document_order_;
}

std::vector<INode*> genicam_doc::streamable_nodes()
{
    return streamable_nodes_;
}

std::string genicam_doc::dump(int kind)
{
    std::string out;
    if (kind == 0) {
        dump_node_counts(out);
    } else if (kind == 1) {
        for (INode* node : nodes_) {
            fmt::format_to(std::back_inserter(out), "    {:32} {:3}\n", node->get_name(),
                           node->get_eval().dependent_count());
        }
    }
    return out;
}

void genicam_doc::dump_node_counts(std::string& out)
{
    out += node_factory::count_report(root(), load_options_.include_debug_properties);
}

bool genicam_doc::is_hidden_debug_property(pugi::xml_node element) const
{
    return impl::is_hidden_debug_property(element, load_options_.include_debug_properties);
}

void genicam_doc::add_callback(INode& node, const node_callback& callback)
{
    callbacks_[&node].push_back(callback);
}

void genicam_doc::remove_callbacks(INode& node)
{
    const auto it = callbacks_.find(&node);
    if (it != callbacks_.end()) {
        it->second.clear();
    }
}

void genicam_doc::fire_callbacks(INode& node)
{
    const auto it = callbacks_.find(&node);
    if (it == callbacks_.end() || it->second.empty()) {
        return;
    }
    // Callbacks that write features fire further callbacks; a loop of such
    // writes ends at the evaluation bound instead of the stack's end.
    const eval_depth_guard guard;
    if (!guard) {
        GENICAM_LOG(1, "%s, %s (\"%.*s\"). Callbacks nested too deep, not fired.\n",
                    "GenICam::impl::genicam_doc::fire_callbacks", "node", static_cast<int>(node.get_name().size()),
                    node.get_name().data());
        return;
    }
    // A callback may register or remove callbacks (also its own): fire from a
    // snapshot so that the list being walked cannot change under the walk.
    const std::vector<node_callback> snapshot = it->second;
    for (const node_callback& callback : snapshot) {
        callback(node);
    }
}

void genicam_doc::add_dependency(IEval& node, IEval& dependent)
{
    dependency_map_[&node].push_back_unique(&dependent);
}

std::span<IEval* const> genicam_doc::get_dependencies(IEval& node)
{
    const auto it = dependency_map_.find(&node);
    if (it == dependency_map_.end()) {
        return {};
    }
    return {it->second.data(), it->second.size()};
}

} // namespace GenICam::impl
