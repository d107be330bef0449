// Persistence of genicam_named_req_proxy: every node of every document saved
// into and restored from the camera's property store under the node's name,
// in document order; and the names that handlers keeping values in the same
// store use beside it.
#include "properties/genicam_node_persistence.h"

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"
#include "genicam/genicam_error.h"
#include "genicam/iboolean.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"

#include <bit>
#include <set>
#include <string>

namespace drv_genicam {

namespace {

constexpr std::uint32_t persistence = logging::level_trace | logging::cat_persistence;

bool is_uncached(const std::error_code& ec)
{
    return ec == GenICam::make_error_code(GenICam::errc::no_cached_value);
}

// The node's value as the store keeps it, read with `flags`: integers as
// they are, booleans as 0 or 1, an enumeration as its entry's Value, a float
// as the 64 bits of its double. None for the kinds that hold no such value.
std::optional<GenICam::result<std::int64_t>> stored_form(GenICam::INode& node, std::uint32_t flags)
{
    switch (node.get_node_type()) {
    case GenICam::node_type::Integer: return static_cast<GenICam::IInteger&>(node).get_val(flags);
    case GenICam::node_type::Boolean: {
        const auto read = static_cast<GenICam::IBoolean&>(node).get_val(flags);
        if (!read) {
            return GenICam::result<std::int64_t>(read.error());
        }
        return GenICam::result<std::int64_t>(read.value() ? 1 : 0);
    }
    case GenICam::node_type::Enumeration: {
        const auto read = static_cast<GenICam::IEnumeration&>(node).get_entry(flags);
        if (!read) {
            return GenICam::result<std::int64_t>(read.error());
        }
        return GenICam::result<std::int64_t>(read.value()->get_value());
    }
    case GenICam::node_type::Float: {
        const auto read = static_cast<GenICam::IFloat&>(node).get_val(flags);
        if (!read) {
            return GenICam::result<std::int64_t>(read.error());
        }
        return GenICam::result<std::int64_t>(std::bit_cast<std::int64_t>(read.value()));
    }
    default: return std::nullopt;
    }
}

// Sets what the store held through the node's own write, so that a value the
// node refuses (out of range, NaN, no such entry) leaves it unchanged.
std::optional<std::error_code> restore_value(GenICam::INode& node, std::int64_t stored)
{
    switch (node.get_node_type()) {
    case GenICam::node_type::Integer: return static_cast<GenICam::IInteger&>(node).set_val(stored, 0);
    case GenICam::node_type::Boolean: return static_cast<GenICam::IBoolean&>(node).set_val(stored != 0, 0);
    case GenICam::node_type::Enumeration: {
        auto& enumeration = static_cast<GenICam::IEnumeration&>(node);
        return enumeration.set_entry(enumeration.find_entry_by_value(stored), 0);
    }
    case GenICam::node_type::Float:
        return static_cast<GenICam::IFloat&>(node).set_val(std::bit_cast<double>(stored), 0);
    default: return std::nullopt;
    }
}

// A feature the service implements: the handler behind its register keeps
// the variable in the store itself, some under the node's own name, so the
// node walk must neither overwrite nor remove that value.
bool is_driver_implemented(GenICam::INode& node)
{
    return node.get_extension("PropertyImplementer") == "Driver";
}

bool is_stored_kind(GenICam::node_type kind)
{
    return kind == GenICam::node_type::Integer || kind == GenICam::node_type::Boolean ||
           kind == GenICam::node_type::Enumeration || kind == GenICam::node_type::Float;
}

// Registry value names compare without regard to case; names are compared
// here as the registry compares them.
std::wstring folded(std::wstring name)
{
    if (!name.empty()) {
        CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    }
    return name;
}

// Calls visit(entry, node, folded name) for every node whose name the walk
// saves a value under, in document order: each node the service does not
// implement itself, and of nodes whose names the registry takes for one only
// the first (the one a named request reaches): a later one would share its
// stored value.
template <class Visit>
void for_each_walked_node(std::span<const doc_entry> documents, Visit&& visit)
{
    std::set<std::wstring> names;
    for (const doc_entry& entry : documents) {
        if (!entry.document) {
            continue;
        }
        for (GenICam::INode* node : entry.document->nodes_in_document_order()) {
            if (is_driver_implemented(*node)) {
                continue;
            }
            const std::wstring name = folded(utils::to_utf16(node->get_name()));
            if (!name.empty() && !names.insert(name).second) {
                continue;
            }
            visit(entry, *node, name);
        }
    }
}

} // namespace

bool node_walk_keeps(std::span<const doc_entry> documents, std::wstring_view name)
{
    const std::wstring wanted = folded(std::wstring(name));
    bool kept = false;
    for_each_walked_node(documents, [&](const doc_entry&, GenICam::INode&, const std::wstring& walked) {
        kept = kept || walked == wanted;
    });
    return kept;
}

std::wstring handler_value_name(std::span<const doc_entry> documents, utils::property_store_itf* store,
                                std::wstring_view name, std::wstring_view prefix)
{
    std::wstring moved(prefix);
    moved += name;
    if (node_walk_keeps(documents, name) ||
        (store != nullptr && store->value_kind(moved) != utils::property_store_itf::none)) {
        return moved;
    }
    return std::wstring(name);
}

void genicam_named_req_proxy::load_value(utils::property_store_itf& store)
{
    for_each_walked_node(docs_, [&](const doc_entry&, GenICam::INode& node, const std::wstring&) {
        load_node_from_store(store, node);
    });
}

void genicam_named_req_proxy::save_value(utils::property_store_itf& store)
{
    const GenICam::IDevicePort* own_port = this;
    for_each_walked_node(docs_, [&](const doc_entry& entry, GenICam::INode& node, const std::wstring&) {
        save_node_to_store(store, node, entry.port == own_port);
    });
}

bool genicam_named_req_proxy::save_node_to_store(utils::property_store_itf& store, GenICam::INode& node,
                                                 bool service_values)
{
    const std::string_view name = node.get_name();
    const std::wstring key = utils::to_utf16(name);
    if (key.empty()) {
        log_line(logging::level_error, "[CamTovra] Failed to covert node name to ustring.\n");
        return false;
    }
    if (is_driver_implemented(node)) {
        return false;
    }
    // A client may change a value the service keeps past the node that shows
    // it (a request on the value's own key): a node of such a value read or
    // written since load is saved with what the service holds now.
    std::uint32_t flags = GenICam::access_flags::cache_only;
    if (service_values) {
        const auto cached = stored_form(node, flags);
        if (cached && (*cached || !is_uncached(cached->error()))) {
            flags = 0;
        }
    }
    // A lock state that was not read since load says as little as a value
    // that was not: the stored value stays.
    const auto locked = node.is_locked(flags);
    if (!locked && is_uncached(locked.error())) {
        log_line(persistence, "[CamTovra] save_node_to_store => node=\"{}\", was not cached, so skipping this.\n",
                 name);
        return false;
    }
    if (!locked || locked.value()) {
        store.remove(key);
        log_line(persistence, "[CamTovra] save_node_to_store => node=\"{}\", is locked.\n", name);
        return false;
    }
    const auto value = stored_form(node, flags);
    if (!value) {
        store.remove(key);
        log_line(persistence, "[CamTovra] save_node_to_store => unknown type for node=\"{}\".\n", name);
        return false;
    }
    if (!*value) {
        const std::error_code failed = value->error();
        if (is_uncached(failed)) {
            log_line(persistence,
                     "[CamTovra] save_node_to_store => node=\"{}\", was not cached, so skipping this.\n", name);
            return false;
        }
        store.remove(key);
        log_line(persistence, "[CamTovra] save_node_to_store => writing node=\"{}\", failed due to status=0x{:x}.\n",
                 name, static_cast<std::uint32_t>(failed.value()));
        return false;
    }
    store.write_int(key, value->value());
    log_line(persistence, "[CamTovra] save_node_to_store => wrote node=\"{}\", successfully.\n", name);
    return true;
}

bool genicam_named_req_proxy::load_node_from_store(utils::property_store_itf& store, GenICam::INode& node)
{
    const std::string_view name = node.get_name();
    const std::wstring key = utils::to_utf16(name);
    if (key.empty()) {
        log_line(logging::level_error, "[CamTovra] Failed to covert node name to ustring.\n");
        return false;
    }
    if (is_driver_implemented(node)) {
        return false;
    }
    if (node.is_locked()) {
        log_line(persistence, "[CamTovra] load_node_from_store => node=\"{}\" is locked.\n", name);
        return false;
    }
    if (!is_stored_kind(node.get_node_type())) {
        log_line(persistence, "[CamTovra] load_node_from_store => node=\"{}\" skipped due to no type.\n", name);
        return false;
    }
    std::int64_t stored = 0;
    if (!store.read_int(key, stored)) {
        log_line(persistence,
                 "[CamTovra] load_node_from_store => node=\"{}\" failed to read value from key for node.\n", name);
        return false;
    }
    const std::error_code set = restore_value(node, stored).value_or(std::error_code{});
    log_line(persistence, "[CamTovra] load_node_from_store => node=\"{}\" read from storage and set, status=0x{:x}.\n",
             name, static_cast<std::uint32_t>(set.value()));
    return !set;
}

} // namespace drv_genicam
