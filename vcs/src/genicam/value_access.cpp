#include "genicam/value_access.h"

#include "genicam/eval_depth_guard.h"
#include "genicam/genicam_log.h"
#include "genicam/iboolean.h"
#include "genicam/ienumeration.h"
#include "genicam/ifloat.h"
#include "genicam/iinteger.h"

namespace GenICam::impl {

namespace {

std::error_code too_deep()
{
    return make_error_code(errc::not_implemented);
}

std::error_code futile_set(INode& node)
{
    GENICAM_LOG(1, "%s, Set value on a (%d) node_type seems to be futile ...\n", "GenICam::impl::set_eval_val",
                static_cast<int>(node.get_node_type()));
    return make_error_code(errc::not_implemented);
}

std::error_code futile_get(INode& node)
{
    GENICAM_LOG(1, "%s, Get value on a (%d) node_type seems to be futile ...\n", "GenICam::impl::get_eval_val",
                static_cast<int>(node.get_node_type()));
    return make_error_code(errc::not_implemented);
}

bool is_nonzero(double d) noexcept
{
    return d != 0.0; // a NaN counts as true
}

// Enumeration write: the entry chosen by `find`, or no entry.
template <class Find>
std::error_code set_enumeration(IEnumeration& e, Find find, std::uint32_t flags)
{
    return e.set_entry(find(e), flags);
}

// The one family call of a write, given how to present the number.
std::error_code set_number(INode& node, const eval_number& value, std::uint32_t flags)
{
    const eval_depth_guard guard;
    if (!guard) {
        return too_deep();
    }
    switch (node.get_node_type()) {
    case node_type::Integer:
        if (auto* i = node_as<IInteger>(node)) {
            return i->set_val(to_int64(value), flags);
        }
        break;
    case node_type::Float:
        if (auto* f = node_as<IFloat>(node)) {
            return f->set_val(to_double(value), flags);
        }
        break;
    case node_type::Boolean:
        if (auto* b = node_as<IBoolean>(node)) {
            return b->set_val(value.is_integer ? value.i != 0 : is_nonzero(value.d), flags);
        }
        break;
    case node_type::Enumeration:
        if (auto* e = node_as<IEnumeration>(node)) {
            if (value.is_integer) {
                return set_enumeration(*e, [&](IEnumeration& en) { return en.find_entry_by_value(value.i); }, flags);
            }
            return set_enumeration(
                *e, [&](IEnumeration& en) { return en.find_entry_by_numeric_value(value.d); }, flags);
        }
        break;
    default:
        break;
    }
    return futile_set(node);
}

// The current entry of an Enumeration.
result<IEnumEntry*> current_entry(IEnumeration& e, std::uint32_t flags)
{
    return e.get_entry(flags);
}

} // namespace

std::error_code set_eval_val(INode& node, eval_number value, std::uint32_t flags)
{
    return set_number(node, value, flags);
}

std::error_code set_eval_val(INode& node, double value, std::uint32_t flags)
{
    return set_number(node, eval_number::from_double(value), flags);
}

std::error_code set_eval_val(INode& node, std::int64_t value, std::uint32_t flags)
{
    return set_number(node, eval_number::from_int(value), flags);
}

template <>
result<eval_number> get_eval_val<eval_number>(INode& node, std::uint32_t flags)
{
    const eval_depth_guard guard;
    if (!guard) {
        return too_deep();
    }
    switch (node.get_node_type()) {
    case node_type::Integer:
        if (auto* i = node_as<IInteger>(node)) {
            const result<std::int64_t> r = i->get_val(flags);
            if (!r) {
                return r.error();
            }
            return eval_number::from_int(r.value());
        }
        break;
    case node_type::Float:
        if (auto* f = node_as<IFloat>(node)) {
            const result<double> r = f->get_val(flags);
            if (!r) {
                return r.error();
            }
            return eval_number::from_double(r.value());
        }
        break;
    case node_type::Boolean:
        if (auto* b = node_as<IBoolean>(node)) {
            const result<bool> r = b->get_val(flags);
            if (!r) {
                return r.error();
            }
            return eval_number::from_int(r.value() ? 1 : 0);
        }
        break;
    case node_type::Enumeration:
        if (auto* e = node_as<IEnumeration>(node)) {
            const result<IEnumEntry*> entry = current_entry(*e, flags);
            if (!entry) {
                return entry.error();
            }
            if (const std::optional<double> numeric = entry.value()->get_numeric_value()) {
                return eval_number::from_double(*numeric);
            }
            return eval_number::from_int(entry.value()->get_value());
        }
        break;
    default:
        break;
    }
    return futile_get(node);
}

template <>
result<std::int64_t> get_eval_val<std::int64_t>(INode& node, std::uint32_t flags)
{
    const eval_depth_guard guard;
    if (!guard) {
        return too_deep();
    }
    if (node.get_node_type() == node_type::Enumeration) {
        if (auto* e = node_as<IEnumeration>(node)) {
            const result<IEnumEntry*> entry = current_entry(*e, flags);
            if (!entry) {
                return entry.error();
            }
            return entry.value()->get_value();
        }
    }
    const result<eval_number> r = get_eval_val<eval_number>(node, flags);
    if (!r) {
        return r.error();
    }
    return to_int64(r.value());
}

template <>
result<double> get_eval_val<double>(INode& node, std::uint32_t flags)
{
    const eval_depth_guard guard;
    if (!guard) {
        return too_deep();
    }
    if (node.get_node_type() == node_type::Enumeration) {
        if (auto* e = node_as<IEnumeration>(node)) {
            const result<IEnumEntry*> entry = current_entry(*e, flags);
            if (!entry) {
                return make_error_code(errc::index_out_of_range);
            }
            if (const std::optional<double> numeric = entry.value()->get_numeric_value()) {
                return *numeric;
            }
            return static_cast<double>(entry.value()->get_value());
        }
    }
    const result<eval_number> r = get_eval_val<eval_number>(node, flags);
    if (!r) {
        return r.error();
    }
    return to_double(r.value());
}

result<bool> get_eval_bool(INode& node, std::uint32_t flags)
{
    const eval_depth_guard guard;
    if (!guard) {
        return too_deep();
    }
    if (node.get_node_type() == node_type::Boolean) {
        if (auto* b = node_as<IBoolean>(node)) {
            return b->get_val(flags);
        }
    }
    const result<std::int64_t> r = get_eval_val<std::int64_t>(node, flags);
    if (!r) {
        return r.error();
    }
    return r.value() != 0;
}

namespace {

enum class range_query { min, max, inc, def };

result<eval_number> range_read(INode& node, range_query query, std::uint32_t flags)
{
    const eval_depth_guard guard;
    if (!guard) {
        return too_deep();
    }
    if (node.get_node_type() == node_type::Integer) {
        if (auto* i = node_as<IInteger>(node)) {
            result<std::int64_t> r = query == range_query::min   ? i->get_min(flags)
                                     : query == range_query::max ? i->get_max(flags)
                                     : query == range_query::inc ? i->get_inc(flags)
                                                                 : i->get_default(flags);
            if (!r) {
                return r.error();
            }
            return eval_number::from_int(r.value());
        }
    } else if (node.get_node_type() == node_type::Float) {
        if (auto* f = node_as<IFloat>(node)) {
            result<double> r = query == range_query::min   ? f->get_min(flags)
                               : query == range_query::max ? f->get_max(flags)
                               : query == range_query::inc ? f->get_inc(flags)
                                                           : f->get_default(flags);
            if (!r) {
                return r.error();
            }
            return eval_number::from_double(r.value());
        }
    }
    return make_error_code(errc::not_implemented);
}

result<double> range_read_float(INode& node, range_query query, std::uint32_t flags)
{
    const result<eval_number> r = range_read(node, query, flags);
    if (!r) {
        return r.error();
    }
    return to_double(r.value());
}

result<std::int64_t> range_read_int(INode& node, range_query query, std::uint32_t flags)
{
    const result<eval_number> r = range_read(node, query, flags);
    if (!r) {
        return r.error();
    }
    return to_int64(r.value());
}

result<bool> link_flag(INode* link, bool fallback, std::uint32_t flags)
{
    if (link == nullptr) {
        return fallback;
    }
    return get_eval_bool(*link, flags);
}

} // namespace

result<double> get_eval_min_float(INode& node, std::uint32_t flags)
{
    return range_read_float(node, range_query::min, flags);
}
result<std::int64_t> get_eval_min_int(INode& node, std::uint32_t flags)
{
    return range_read_int(node, range_query::min, flags);
}
result<double> get_eval_max_float(INode& node, std::uint32_t flags)
{
    return range_read_float(node, range_query::max, flags);
}
result<std::int64_t> get_eval_max_int(INode& node, std::uint32_t flags)
{
    return range_read_int(node, range_query::max, flags);
}
result<double> get_eval_inc_float(INode& node, std::uint32_t flags)
{
    return range_read_float(node, range_query::inc, flags);
}
result<std::int64_t> get_eval_inc_int(INode& node, std::uint32_t flags)
{
    return range_read_int(node, range_query::inc, flags);
}
result<double> get_eval_default_float(INode& node, std::uint32_t flags)
{
    return range_read_float(node, range_query::def, flags);
}
result<std::int64_t> get_eval_default_int(INode& node, std::uint32_t flags)
{
    return range_read_int(node, range_query::def, flags);
}

result<bool> link_flag_default_true(INode* link, std::uint32_t flags)
{
    return link_flag(link, true, flags);
}

result<bool> link_flag_default_false(INode* link, std::uint32_t flags)
{
    return link_flag(link, false, flags);
}

} // namespace GenICam::impl
