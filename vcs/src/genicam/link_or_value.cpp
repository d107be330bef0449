#include "genicam/link_or_value.h"

#include "genicam/genicam_log.h"
#include "genicam/node_base_data.h"
#include "genicam/number_text.h"
#include "genicam/value_access.h"

namespace GenICam::impl {

namespace {

template <class T>
T literal_of(const eval_number& n)
{
    if constexpr (std::is_same_v<T, double>) {
        return to_double(n);
    } else {
        return to_int64(n);
    }
}

struct pair_messages {
    const char* function;
    const char* both;
    bool link_named_first; // order of the two element names in `both`
};

template <class T>
link_or_value<T> read_pair(node_base_data& self, std::string_view literal_text, std::string_view link_text,
                           const char* literal_name, const char* link_name, const pair_messages& messages)
{
    link_or_value<T> out;
    if (!link_text.empty()) {
        if (!literal_text.empty()) {
            GENICAM_LOG(1, messages.both, messages.function, self.element_name(), self.name_text(),
                        messages.link_named_first ? link_name : literal_name,
                        messages.link_named_first ? literal_name : link_name);
        }
        INode* found = self.services->find_node(link_text);
        if (found != nullptr) {
            out.kind = link_kind::link;
            out.node = found;
            found->get_eval().add_dependent(self.get_inode());
        } else {
            GENICAM_LOG(1, "%s, %s \"%s\". Failed to resolve node in \"%s\" .\n", messages.function,
                        self.element_name(), self.name_text(), literal_name);
        }
        return out;
    }
    if (!literal_text.empty()) {
        const std::optional<parsed_number> parsed = parse_number_literal(literal_text);
        if (parsed && !parsed->consumed.empty()) {
            out.kind = link_kind::literal;
            out.literal = literal_of<T>(parsed->value);
        } else {
            GENICAM_LOG(1, "%s, %s \"%s\". Failed to parse content of \"%s\" node.\n", messages.function,
                        self.element_name(), self.name_text(), literal_name);
        }
    }
    return out;
}

} // namespace

template <class T>
result<T> link_or_value<T>::evaluate(std::uint32_t flags) const
{
    if (kind == link_kind::literal) {
        return literal;
    }
    if (kind == link_kind::link && node != nullptr) {
        return get_eval_val<T>(*node, flags);
    }
    return make_error_code(errc::not_implemented);
}

template <class T>
link_or_value<T> resolve_link_or_value_(node_base_data& self, child_key literal, child_key link)
{
    return read_pair<T>(self, self.child(literal), self.child(link), literal.c_str(), link.c_str(),
                        {"GenICam::impl::resolve_link_or_value_",
                         "%s, %s \"%s\". Node contains both \"%s\" and \"%s\" nodes.\n", false});
}

template <class T>
link_or_value<T> resolve_link_or_value_from_contents(node_base_data& self, std::string_view default_text,
                                                     std::string_view p_default_text)
{
    return read_pair<T>(self, default_text, p_default_text, "Default", "pDefault",
                        {"GenICam::impl::resolve_link_or_value_from_contents",
                         "%s, %s \"%s\". XML element contains both \"%s\" and \"%s\" nodes.\n", true});
}

template struct link_or_value<std::int64_t>;
template struct link_or_value<double>;
template link_or_value<std::int64_t> resolve_link_or_value_<std::int64_t>(node_base_data&, child_key, child_key);
template link_or_value<double> resolve_link_or_value_<double>(node_base_data&, child_key, child_key);
template link_or_value<std::int64_t> resolve_link_or_value_from_contents<std::int64_t>(node_base_data&,
                                                                                        std::string_view,
                                                                                        std::string_view);
template link_or_value<double> resolve_link_or_value_from_contents<double>(node_base_data&, std::string_view,
                                                                           std::string_view);

} // namespace GenICam::impl
