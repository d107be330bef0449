// Persistence of genicam_named_req_proxy: every node of every document saved
// into and restored from the camera's property store under the node's name,
// in document order.
#include "properties/genicam_named_req_proxy.h"

#include "gen_utils/log.h"
#include "gen_utils/string_conv.h"
#include "genicam/genicam_error.h"
#include "genicam/iboolean.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"

#include <bit>
#include <string>

namespace drv_genicam {

namespace {

constexpr std::uint32_t persistence = logging::level_trace | logging::cat_persistence;

bool is_uncached(const std::error_code& ec)
{
    return ec == GenICam::make_error_code(GenICam::errc::no_cached_value);
}

// The node's value as the store keeps it, from the cache only: integers as
// they are, booleans as 0 or 1, an enumeration as its entry's Value, a float
// as the 64 bits of its double. None for the kinds that hold no such value.
std::optional<GenICam::result<std::int64_t>> cached_value(GenICam::INode& node)
{
    constexpr std::uint32_t cache_only = GenICam::access_flags::cache_only;
    switch (node.get_node_type()) {
    case GenICam::node_type::Integer: return static_cast<GenICam::IInteger&>(node).get_val(cache_only);
    case GenICam::node_type::Boolean: {
        const auto read = static_cast<GenICam::IBoolean&>(node).get_val(cache_only);
        if (!read) {
            return GenICam::result<std::int64_t>(read.error());
        }
        return GenICam::result<std::int64_t>(read.value() ? 1 : 0);
    }
    case GenICam::node_type::Enumeration: {
        const auto read = static_cast<GenICam::IEnumeration&>(node).get_entry(cache_only);
        if (!read) {
            return GenICam::result<std::int64_t>(read.error());
        }
        return GenICam::result<std::int64_t>(read.value()->get_value());
    }
    case GenICam::node_type::Float: {
        const auto read = static_cast<GenICam::IFloat&>(node).get_val(cache_only);
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

} // namespace

void genicam_named_req_proxy::load_value(utils::property_store_itf& store)
{
    for (const doc_entry& entry : docs_) {
        for (GenICam::INode* node : entry.document->nodes_in_document_order()) {
            load_node_from_store(store, *node);
        }
    }
}

void genicam_named_req_proxy::save_value(utils::property_store_itf& store)
{
    for (const doc_entry& entry : docs_) {
        for (GenICam::INode* node : entry.document->nodes_in_document_order()) {
            save_node_to_store(store, *node);
        }
    }
}

bool genicam_named_req_proxy::save_node_to_store(utils::property_store_itf& store, GenICam::INode& node)
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
    // A lock state that was not read since load says as little as a value
    // that was not: the stored value stays.
    const auto locked = node.is_locked(GenICam::access_flags::cache_only);
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
    const auto value = cached_value(node);
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
