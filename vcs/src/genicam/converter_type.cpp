#include "genicam/converter_type.h"

#include "genicam/converter_formula_context.h"
#include "genicam/formula_compile.h"
#include "genicam/genicam_log.h"
#include "genicam/numeric_traits.h"
#include "genicam/value_access.h"
#include "genicam/xml_value_readers.h"

#include <limits>

namespace GenICam::impl {

namespace {

using genicam::formula::formula_program;
using genicam::formula::formula_value;

std::error_code not_implemented()
{
    return make_error_code(errc::not_implemented);
}

// Compiles one of the converter's formulas; a failure logs the text.
bool compile_into(formula_program& program, std::string_view text, const formula_context& context,
                  const node_base_data& self)
{
    result<formula_program> compiled = genicam::formula::parse_and_compile(text, context);
    if (!compiled) {
        GENICAM_LOG(1, "Converter (\"%s\"). failed to evaluate \"%.*s\"\n", self.name_text(),
                    static_cast<int>(text.size()), text.data());
        return false;
    }
    program = std::move(compiled).value();
    return true;
}

} // namespace

std::int64_t formula_result_as_integer(formula_value v) noexcept
{
    return genicam::formula::to_integer(v);
}

double formula_result_as_double(formula_value v) noexcept
{
    return genicam::formula::to_double(v);
}

void converter_formulas::resolve(node_base_data& self, bool is_integer)
{
    variables.is_integer = is_integer;
    INode* found = self.services->find_node(self.child("pValue"));
    if (!found) {
        GENICAM_LOG(1, "Converter (\"%s\"). Failed due to missing pValue element.\n", self.name_text());
        return;
    }
    target = found;
    target->get_eval().add_dependent(self.get_inode());

    const std::string_view from_text = self.child("FormulaFrom");
    const std::string_view to_text = self.child("FormulaTo");
    if (from_text.empty() || to_text.empty()) {
        GENICAM_LOG(1, "Converter (\"%s\"). Failed due to missing FormulaFrom/FormulaTo member(s).\n",
                    self.name_text());
        return;
    }
    formula_context context(false);
    converter::build_formula_name_lookup(context, self, is_integer);
    converter::bind_formula_variables(context, variables, self);
    if (compile_into(formula_from, from_text, context, self)) {
        compile_into(formula_to, to_text, context, self);
    }
}

result<formula_value> converter_formulas::read(std::uint32_t flags)
{
    if (formula_from.empty() || !target) {
        return not_implemented();
    }
    const result<eval_number> input = get_eval_val<eval_number>(*target, flags);
    if (!input) {
        return input.error();
    }
    const eval_number& n = input.value();
    const formula_value in = n.is_integer ? formula_value::from_integer(n.i) : formula_value::from_double(n.d);
    auto r = genicam::formula::run_program(variables, formula_from, flags, in);
    if (!r) {
        return r.error();
    }
    return r.value();
}

std::error_code converter_formulas::write(formula_value value, std::uint32_t flags)
{
    if (formula_to.empty() || !target) {
        return not_implemented();
    }
    auto r = genicam::formula::run_program(variables, formula_to, flags, value);
    if (!r) {
        return r.error();
    }
    const formula_value out = r.value();
    return set_eval_val(*target, out.is_integer ? eval_number::from_int(out.integer()) : eval_number::from_double(out.real()),
                        flags);
}

// IntConverter

void int_converter_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    formulas_.resolve(*this, true);
}

integer_representation int_converter_type::get_representation()
{
    return read_integer_representation(*children);
}

std::string_view int_converter_type::get_unit()
{
    return child("Unit");
}

std::vector<INode*> int_converter_type::get_selected_features()
{
    return resolve_node_list();
}

std::error_code int_converter_type::set_val(std::int64_t value, std::uint32_t flags)
{
    return formulas_.write(formula_value::from_integer(value), flags);
}

result<std::int64_t> int_converter_type::get_val(std::uint32_t flags)
{
    const result<formula_value> r = formulas_.read(flags);
    if (!r) {
        return r.error();
    }
    return formula_result_as_integer(r.value());
}

result<std::int64_t> int_converter_type::get_min(std::uint32_t)
{
    return std::numeric_limits<std::int64_t>::min();
}

result<std::int64_t> int_converter_type::get_max(std::uint32_t)
{
    return std::numeric_limits<std::int64_t>::max();
}

result<std::int64_t> int_converter_type::get_inc(std::uint32_t)
{
    return 1;
}

result<std::int64_t> int_converter_type::get_default(std::uint32_t)
{
    return not_implemented();
}

// Converter

void float_converter_type::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    formulas_.resolve(*this, false);
}

float_representation float_converter_type::get_representation()
{
    return read_float_representation(*children);
}

std::string_view float_converter_type::get_unit()
{
    return child("Unit");
}

display_notation float_converter_type::get_display_notation()
{
    return read_display_notation(*children);
}

std::int32_t float_converter_type::get_display_precision()
{
    return read_display_precision(*children);
}

std::error_code float_converter_type::set_val(double value, std::uint32_t flags)
{
    if (!numeric_traits<double>::is_number(value)) {
        numeric_traits<double>::log_range_failure(name_text(), value);
        return make_error_code(errc::value_out_of_range);
    }
    return formulas_.write(formula_value::from_double(value), flags);
}

result<double> float_converter_type::get_val(std::uint32_t flags)
{
    const result<formula_value> r = formulas_.read(flags);
    if (!r) {
        return r.error();
    }
    return formula_result_as_double(r.value());
}

// The smallest positive normal double, as for every formula node of float kind.
result<double> float_converter_type::get_min(std::uint32_t)
{
    return std::numeric_limits<double>::min();
}

result<double> float_converter_type::get_max(std::uint32_t)
{
    return std::numeric_limits<double>::max();
}

result<double> float_converter_type::get_default(std::uint32_t)
{
    return not_implemented();
}

result<double> float_converter_type::get_inc(std::uint32_t)
{
    return not_implemented();
}

} // namespace GenICam::impl
