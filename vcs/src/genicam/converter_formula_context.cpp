#include "genicam/converter_formula_context.h"

#include "genicam/formula_compile.h"
#include "genicam/genicam_log.h"
#include "genicam/ienumeration.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"

namespace GenICam::impl {

namespace {

using genicam::formula::formula_program;
using genicam::formula::formula_symbol;
using genicam::formula::formula_value;

constexpr const char* lookup_function = "GenICam::impl::converter::build_formula_name_lookup";
constexpr const char* resulting_entry_function = "create_resulting_entry";
constexpr std::string_view entry_marker = ".Entry";

std::uint32_t count_children(const element_children& children, child_key key)
{
    return static_cast<std::uint32_t>(children.count(key));
}

std::string_view name_of(const child_element& child)
{
    return child.key_attribute;
}

int length_of(std::string_view text)
{
    return static_cast<int>(text.size());
}

// True when the first occurrence of `suffix` ends the name.
bool ends_with_first(std::string_view name, std::string_view suffix)
{
    const std::size_t pos = name.find(suffix);
    return pos != std::string_view::npos && pos + suffix.size() == name.size();
}

std::optional<formula_value> read_constant(std::string_view text, bool is_integer)
{
    if (is_integer) {
        const parsed_integer r = parse_integer_text(text);
        return r.ok() ? std::optional(formula_value::from_integer(r.value)) : std::nullopt;
    }
    const parsed_float r = parse_float_text(text);
    return r.ok() ? std::optional(formula_value::from_double(r.value)) : std::nullopt;
}

// "M.Entry.Off": the value of the entry "Off" of the Enumeration M, taken
// once, now. A name that ends at ".Entry" (or right after its separator)
// names no entry and is skipped like an unknown one.
std::optional<formula_value> entry_constant(node_base_data& self, const child_element& variable, std::string_view name,
                                            bool is_integer)
{
    INode* node = self.services->find_node(variable.text);
    IEnumeration* enumeration = node && node->get_node_type() == node_type::Enumeration
                                    ? node_as<IEnumeration>(*node)
                                    : nullptr;
    if (!enumeration) {
        GENICAM_LOG(1, "%s, did not find enumeration for pVariable with \".Entry\" specifier.\n", lookup_function);
        return std::nullopt;
    }
    const std::size_t entry_start = name.find(entry_marker) + entry_marker.size() + 1;
    IEnumEntry* entry = entry_start < name.size() ? enumeration->find_entry_by_name(name.substr(entry_start)) : nullptr;
    if (!entry) {
        GENICAM_LOG(1, "%s, did not find entry in enumeration for pVariable with \".Entry\" specifier.\n",
                    lookup_function);
        return std::nullopt;
    }
    if (const std::optional<double> numeric = entry->get_numeric_value()) {
        return is_integer ? formula_value::from_integer(round_to_int64(*numeric))
                          : formula_value::from_double(*numeric);
    }
    const std::int64_t value = entry->get_value();
    return is_integer ? formula_value::from_integer(value) : formula_value::from_double(static_cast<double>(value));
}

struct getter_choice {
    std::string_view suffix;
    variable_read integer_read;
    variable_read float_read;
    const char* invalid_message; // null: skipped silently
};

const getter_choice range_getters[] = {
    {".Min", read_integer_min, read_float_min,
     "%s, invalid node type for pVariable with \".Min\" specifier.\n"},
    {".Max", read_integer_max, read_float_max, nullptr},
    {".Inc", read_integer_inc, read_float_inc,
     "%s, invalid node type for pVariable with \".Inc\" specifier.\n"},
};

// The getter of a pVariable, by the form of its name and the kind of its node;
// null when the variable cannot be bound.
variable_read create_resulting_entry(std::string_view name, INode& node)
{
    for (const getter_choice& choice : range_getters) {
        if (!ends_with_first(name, choice.suffix)) {
            continue;
        }
        switch (node.get_node_type()) {
        case node_type::Integer:
            return choice.integer_read;
        case node_type::Float:
            return choice.float_read;
        default:
            if (choice.invalid_message) {
                GENICAM_LOG(1, choice.invalid_message, resulting_entry_function);
            }
            return nullptr;
        }
    }
    if (name.find(entry_marker) != std::string_view::npos) {
        return nullptr;
    }
    return read_variable_value;
}

} // namespace

std::optional<formula_symbol> formula_context::find_identifier(std::string_view name) const
{
    if (!no_to_from && (name == "TO" || name == "FROM")) {
        return formula_symbol::variable(genicam::formula::to_from_id);
    }
    for (const name_entry& e : names) {
        if (e.name != name) {
            continue;
        }
        if (e.variable_id != 0) {
            return formula_symbol::variable(e.variable_id);
        }
        if (e.expression) {
            return formula_symbol::expand(*e.expression);
        }
        return formula_symbol::value(e.constant);
    }
    return std::nullopt;
}

bool formula_context::contains(std::string_view name) const noexcept
{
    for (const name_entry& e : names) {
        if (e.name == name) {
            return true;
        }
    }
    return false;
}

namespace converter {

void build_formula_name_lookup(formula_context& context, node_base_data& self, bool is_integer)
{
    const element_children& element = *self.children;
    const std::uint32_t expression_count = count_children(element, "Expression");
    context.names.reserve(count_children(element, "Constant") + count_children(element, "pVariable") +
                          expression_count + 2);
    context.expressions.reserve(expression_count);

    for (const child_element& c : element.all("Constant")) {
        const std::string_view name = name_of(c);
        const std::string_view text = c.text;
        if (const std::optional<formula_value> v = read_constant(text, is_integer)) {
            context.names.push_back({name, 0, nullptr, *v});
        } else {
            GENICAM_LOG(1, "%s, failed to parse Constant named=\"%.*s\" content=\"%.*s\".\n", lookup_function,
                        length_of(name), name.data(), length_of(text), text.data());
        }
    }
    for (const child_element& v : element.all("pVariable")) {
        const std::string_view name = name_of(v);
        if (name.find(entry_marker) == std::string_view::npos) {
            continue;
        }
        if (const std::optional<formula_value> constant = entry_constant(self, v, name, is_integer)) {
            context.names.push_back({name, 0, nullptr, *constant});
        }
    }
}

void bind_formula_variables(formula_context& context, formula_variables& variables, node_base_data& self)
{
    const element_children& element = *self.children;
    variables.getters.reserve(count_children(element, "pVariable"));
    for (const child_element& v : element.all("pVariable")) {
        const std::string_view name = name_of(v);
        if (context.contains(name)) {
            continue;
        }
        INode* node = self.services->find_node(v.text);
        if (!node) {
            continue;
        }
        const variable_read read = create_resulting_entry(name, *node);
        if (!read || !variables.getters.push_back({node, read})) {
            continue;
        }
        node->get_eval().add_dependent(self.get_inode());
        context.names.push_back(
            {name, genicam::formula::first_variable_id + variables.getters.size() - 1, nullptr, {}});
    }
    for (const child_element& x : element.all("Expression")) {
        const std::string_view name = name_of(x);
        if (context.contains(name)) {
            continue;
        }
        const std::string_view text = x.text;
        result<formula_program> program = genicam::formula::parse_and_compile(text, context);
        if (!program) {
            GENICAM_LOG(1, "failed to parse Constant named=\"%.*s\" content=\"%.*s\".\n", length_of(name),
                        name.data(), length_of(text), text.data());
            continue;
        }
        context.expressions.push_back(std::move(program).value());
        context.names.push_back({name, 0, &context.expressions.back(), {}});
    }
}

} // namespace converter
} // namespace GenICam::impl
