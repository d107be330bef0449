#include "genicam/swissknife_type.h"

#include "genicam/converter_formula_context.h"
#include "genicam/converter_type.h"
#include "genicam/formula_compile.h"
#include "genicam/genicam_log.h"
#include "genicam/xml_value_readers.h"

#include <limits>

namespace GenICam::impl {

namespace {

using genicam::formula::formula_value;

std::error_code not_implemented()
{
    return make_error_code(errc::not_implemented);
}

} // namespace

void swissknife_formula::resolve(node_base_data& self, bool is_integer)
{
    variables.is_integer = is_integer;
    const std::string_view text = self.child("Formula");
    if (text.empty()) {
        GENICAM_LOG(1, "SwissKnife (\"%s\"). Failed due to missing Formula member.\n", self.name_text());
        return;
    }
    formula_context context(true);
    converter::build_formula_name_lookup(context, self, is_integer);
    converter::bind_formula_variables(context, variables, self);
    result<genicam::formula::formula_program> compiled = genicam::formula::parse_and_compile(text, context);
    if (!compiled) {
        GENICAM_LOG(1, "SwissKnife (\"%s\"). failed to evaluate \"%.*s\"\n", self.name_text(),
                    static_cast<int>(text.size()), text.data());
        return;
    }
    formula = std::move(compiled).value();
}

result<formula_value> swissknife_formula::evaluate(std::uint32_t flags) const
{
    auto r = genicam::formula::run_program(variables, formula, flags, formula_value::from_integer(0));
    if (!r) {
        return r.error();
    }
    return r.value();
}

// IntSwissKnife

int_swissknife_type::int_swissknife_type(const node_init& init) : node_base_impl_dependent_cache(init)
{
    set_actual_access_mode(access_mode::RO);
}

void int_swissknife_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    formula_.resolve(*this, true);
}

integer_representation int_swissknife_type::get_representation()
{
    return read_integer_representation(*children);
}

std::string_view int_swissknife_type::get_unit()
{
    return child("Unit");
}

std::vector<INode*> int_swissknife_type::get_selected_features()
{
    return resolve_node_list();
}

std::error_code int_swissknife_type::set_val(std::int64_t, std::uint32_t)
{
    return not_implemented();
}

result<std::int64_t> int_swissknife_type::get_val(std::uint32_t flags)
{
    const result<formula_value> r = formula_.evaluate(flags);
    if (!r) {
        return r.error();
    }
    return formula_result_as_integer(r.value());
}

result<std::int64_t> int_swissknife_type::get_min(std::uint32_t)
{
    return std::numeric_limits<std::int64_t>::min();
}

result<std::int64_t> int_swissknife_type::get_max(std::uint32_t)
{
    return std::numeric_limits<std::int64_t>::max();
}

result<std::int64_t> int_swissknife_type::get_inc(std::uint32_t)
{
    return 1;
}

result<std::int64_t> int_swissknife_type::get_default(std::uint32_t)
{
    return not_implemented();
}

// SwissKnife

float_swissknife_type::float_swissknife_type(const node_init& init) : node_base_impl_dependent_cache(init)
{
    set_actual_access_mode(access_mode::RO);
}

void float_swissknife_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    formula_.resolve(*this, false);
}

float_representation float_swissknife_type::get_representation()
{
    return read_float_representation(*children);
}

std::string_view float_swissknife_type::get_unit()
{
    return child("Unit");
}

display_notation float_swissknife_type::get_display_notation()
{
    return read_display_notation(*children);
}

std::int32_t float_swissknife_type::get_display_precision()
{
    return read_display_precision(*children);
}

std::error_code float_swissknife_type::set_val(double, std::uint32_t)
{
    return not_implemented();
}

result<double> float_swissknife_type::get_val(std::uint32_t flags)
{
    const result<formula_value> r = formula_.evaluate(flags);
    if (!r) {
        return r.error();
    }
    return formula_result_as_double(r.value());
}

result<double> float_swissknife_type::get_min(std::uint32_t)
{
    return std::numeric_limits<double>::min();
}

result<double> float_swissknife_type::get_max(std::uint32_t)
{
    return std::numeric_limits<double>::max();
}

result<double> float_swissknife_type::get_default(std::uint32_t)
{
    return not_implemented();
}

result<double> float_swissknife_type::get_inc(std::uint32_t)
{
    return not_implemented();
}

} // namespace GenICam::impl
