#include "genicam/register_address_eval.h"

#include "genicam/genicam_log.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"

#include <cmath>

namespace GenICam {

namespace impl {

std::int64_t calc_address_nodes_sum(const element_children& element, const node_base_data& self)
{
    std::uint64_t sum = 0; // two's-complement wrap-around, without undefined overflow
    for (const child_element& a : element.all("Address")) {
        const parsed_integer r = parse_integer_text(a.text);
        if (r.ok()) {
            sum += static_cast<std::uint64_t>(r.value);
        } else {
            GENICAM_LOG(1, "%s, %s (\"%s\"). Node contains invalid \"Address\" XML element.\n",
                        "calc_address_nodes_sum", element.element().name(), self.name_text());
        }
    }
    return static_cast<std::int64_t>(sum);
}

register_const_address_eval::register_const_address_eval(const element_children& element,
                                                         const node_base_data& self)
{
    const parsed_integer r = parse_integer_text(element.text("Length"));
    if (r.ok()) {
        length = r.value;
    } else {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Failed to parse \"Length\" XML element.\n",
                    "GenICam::impl::register_const_address_eval::register_const_address_eval", element.element().name(),
                    self.name_text());
    }
    address = calc_address_nodes_sum(element, self);
}

} // namespace impl

namespace {

using impl::link_kind;

void depend_on(INode& node, impl::node_base_data& owner)
{
    node.get_eval().add_dependent(owner.get_inode());
}

// Length or pLength under `element` (a StructEntry reads its parent's), read
// as the Min/Max pairs of Integer nodes are: the link wins, a literal may be
// written as a floating-point number and is rounded.
impl::link_or_value<std::int64_t> read_length(const impl::element_children& element, impl::node_base_data& owner)
{
    constexpr const char* function = "GenICam::impl::resolve_link_or_value_";
    impl::link_or_value<std::int64_t> out;
    const std::string_view link_text = element.text("pLength");
    const std::string_view literal_text = element.text("Length");
    if (!link_text.empty()) {
        if (!literal_text.empty()) {
            GENICAM_LOG(1, "%s, %s \"%s\". Node contains both \"%s\" and \"%s\" nodes.\n", function,
                        owner.element_name(), owner.name_text(), "Length", "pLength");
        }
        if (INode* found = owner.services->find_node(link_text)) {
            out.kind = link_kind::link;
            out.node = found;
            depend_on(*found, owner);
        } else {
            GENICAM_LOG(1, "%s, %s \"%s\". Failed to resolve node in \"%s\" .\n", function, owner.element_name(),
                        owner.name_text(), "Length");
        }
        return out;
    }
    if (!literal_text.empty()) {
        const std::optional<impl::parsed_number> parsed = impl::parse_number_literal(literal_text);
        if (parsed && !parsed->consumed.empty()) {
            out.kind = link_kind::literal;
            out.literal = impl::to_int64(parsed->value);
        } else {
            GENICAM_LOG(1, "%s, %s \"%s\". Failed to parse content of \"%s\" node.\n", function,
                        owner.element_name(), owner.name_text(), "Length");
        }
    }
    return out;
}

void log_invalid(const impl::element_children& element, const impl::node_base_data& owner, const char* what)
{
    GENICAM_LOG(1,
                "GenICam::address_eval::resolve_references, %s (\"%s\"). Node contains invalid \"%s\" XML "
                "element.\n",
                element.element().name(), owner.name_text(), what);
}

void log_fetch_failure(const char* what)
{
    GENICAM_LOG(1, "GenICam::address_eval::calc_address, %s (\"%s\"). Failed to fetch value from \"%s\" element.\n",
                "RegisterNodeTemplate", "Unknown", what);
}

} // namespace

void address_eval::resolve_references_len(const impl::element_children& element, impl::node_base_data& owner)
{
    length = read_length(element, owner);
    if (!length.present()) {
        GENICAM_LOG(1, "%s, node=\"%s\". Node contains neither pLength nor Length XML elements.\n",
                    "resolve_references_len", owner.name_text());
        length.kind = link_kind::literal;
        length.literal = 4;
    }
    resolve_references(element, owner);
}

void address_eval::resolve_references(const impl::element_children& element, impl::node_base_data& owner)
{
    constant = impl::calc_address_nodes_sum(element, owner);
    terms.reserve(static_cast<std::uint32_t>(element.count("IntSwissKnife") + element.count("pAddress") +
                                             element.count("pIndex")));

    for (const impl::child_element& k : element.all("IntSwissKnife")) {
        INode* node = owner.services->find_node(k.key_attribute);
        if (!node) {
            log_invalid(element, owner, "IntSwissKnife");
            continue;
        }
        if (terms.push_back({nullptr, node, 0})) {
            depend_on(*node, owner);
        }
    }
    for (const impl::child_element& a : element.all("pAddress")) {
        INode* node = owner.services->find_node(a.text);
        if (!node) {
            log_invalid(element, owner, "pAddress");
            continue;
        }
        if (terms.push_back({nullptr, node, 0})) {
            depend_on(*node, owner);
        }
    }
    for (const impl::child_element& x : element.all("pIndex")) {
        INode* index = owner.services->find_node(x.text);
        if (!index) {
            log_invalid(element, owner, "pIndex");
            continue;
        }
        address_term term{index, nullptr, 0};
        if (pugi::xml_attribute offset = x.node.attribute("Offset")) {
            const impl::parsed_integer r = impl::parse_integer_text(offset.value());
            if (r.ok()) {
                term.offset = r.value;
            } else {
                log_invalid(element, owner, "pIndex/@Offset");
            }
        }
        if (pugi::xml_attribute p_offset = x.node.attribute("pOffset")) {
            if (INode* node = owner.services->find_node(p_offset.value())) {
                term.linked_node = node;
                depend_on(*node, owner);
            } else {
                log_invalid(element, owner, "pIndex/@pOffset");
            }
        }
        terms.push_back(term);
    }
}

result<std::int64_t> address_eval::calc_address(std::int64_t register_length, std::uint32_t flags) const
{
    // Sums and products wrap in two's complement: computed unsigned.
    auto address = static_cast<std::uint64_t>(constant);
    for (const address_term& term : terms) {
        if (!term.index_node) {
            const result<std::int64_t> v = impl::get_eval_val<std::int64_t>(*term.linked_node, flags);
            if (!v) {
                log_fetch_failure("pAddres");
                return v.error();
            }
            address += static_cast<std::uint64_t>(v.value());
            continue;
        }
        const result<std::int64_t> index = impl::get_eval_val<std::int64_t>(*term.index_node, flags);
        if (!index) {
            log_fetch_failure("pIndex");
            return index.error();
        }
        auto multiplier = static_cast<std::uint64_t>(register_length);
        if (term.linked_node || term.offset != 0) {
            multiplier = static_cast<std::uint64_t>(term.offset);
            if (term.linked_node) {
                const result<std::int64_t> offset = impl::get_eval_val<std::int64_t>(*term.linked_node, flags);
                if (!offset) {
                    log_fetch_failure("pIndex/@pOffset");
                    return offset.error();
                }
                multiplier += static_cast<std::uint64_t>(offset.value());
            }
        }
        address += static_cast<std::uint64_t>(index.value()) * multiplier;
    }
    return static_cast<std::int64_t>(address);
}

result<std::int64_t> address_eval::evaluate_length(std::uint32_t flags) const
{
    return length.evaluate(flags);
}

result<std::pair<std::int64_t, std::int64_t>> address_eval::address_and_length(std::uint32_t flags) const
{
    const result<std::int64_t> len = evaluate_length(flags);
    if (!len) {
        return len.error();
    }
    const result<std::int64_t> address = calc_address(len.value(), flags);
    if (!address) {
        return address.error();
    }
    return std::pair{address.value(), len.value()};
}

} // namespace GenICam
