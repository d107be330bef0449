#include "genicam/formula_variables.h"

#include "genicam/value_access.h"

namespace GenICam::impl {

namespace {

using genicam::formula::formula_value;

template <class T>
result<formula_value> as_formula_value(const result<T>& r)
{
    if (!r) {
        return r.error();
    }
    if constexpr (std::is_same_v<T, double>) {
        return formula_value::from_double(r.value());
    } else {
        return formula_value::from_integer(r.value());
    }
}

} // namespace

result<formula_value> read_variable_value(INode& node, std::uint32_t flags)
{
    const result<eval_number> r = get_eval_val<eval_number>(node, flags);
    if (!r) {
        return r.error();
    }
    return r.value().is_integer ? formula_value::from_integer(r.value().i) : formula_value::from_double(r.value().d);
}

result<formula_value> read_integer_min(INode& node, std::uint32_t flags)
{
    return as_formula_value(get_eval_min_int(node, flags));
}
result<formula_value> read_integer_max(INode& node, std::uint32_t flags)
{
    return as_formula_value(get_eval_max_int(node, flags));
}
result<formula_value> read_integer_inc(INode& node, std::uint32_t flags)
{
    return as_formula_value(get_eval_inc_int(node, flags));
}
result<formula_value> read_float_min(INode& node, std::uint32_t flags)
{
    return as_formula_value(get_eval_min_float(node, flags));
}
result<formula_value> read_float_max(INode& node, std::uint32_t flags)
{
    return as_formula_value(get_eval_max_float(node, flags));
}
result<formula_value> read_float_inc(INode& node, std::uint32_t flags)
{
    return as_formula_value(get_eval_inc_float(node, flags));
}

genicam::formula::outcome::std_result<formula_value> formula_variables::get_value(std::int64_t id, formula_value input,
                                                                                   std::uint32_t flags) const
{
    if (id == genicam::formula::to_from_id) {
        return input;
    }
    const std::int64_t row = id - genicam::formula::first_variable_id;
    if (row < 0 || row >= static_cast<std::int64_t>(getters.size())) {
        return make_error_code(errc::formula_parse_failed);
    }
    const variable_getter& g = getters[static_cast<std::uint32_t>(row)];
    const result<formula_value> r = g.read(*g.node, flags);
    if (!r) {
        return r.error();
    }
    const formula_value v = r.value();
    if (is_integer) {
        return formula_value::from_integer(genicam::formula::to_integer(v));
    }
    return formula_value::from_double(genicam::formula::to_double(v));
}

} // namespace GenICam::impl
