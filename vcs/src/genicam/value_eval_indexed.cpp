#include "genicam/value_eval_indexed.h"

#include "genicam/genicam_log.h"
#include "genicam/node_base_data.h"
#include "genicam/number_text.h"
#include "genicam/numeric_traits.h"


namespace GenICam::impl {

namespace {

constexpr const char* function_name = "GenICam::impl::value_eval_indexed::resolve_references";

void log_row(const node_base_data& self, const char* message)
{
    GENICAM_LOG(1, message, function_name, self.element_name(), self.name_text());
}

} // namespace

template <class T>
void value_eval_indexed<T>::resolve_references(node_base_data& self)
{
    rows.clear();
    default_row = {};
    if (INode* node = self.services->find_node(self.child("pValueDefault"))) {
        default_row.node = node;
    } else {
        T literal{};
        if (!numeric_traits<T>::parse_value(self.child("ValueDefault"), literal)) {
            log_row(self, "%s, %s (\"%s\"). Invalid or no \"pValueDefault\"/\"ValueDefault\" element.\n");
            return;
        }
        default_row.index = -1;
        default_row.value = literal;
    }
    rows.reserve(self.children->count("pValueIndexed") + self.children->count("ValueIndexed"));
    for (const child_element& row : self.children->all("pValueIndexed")) {
        const parsed_integer index = parse_integer_text(row.key_attribute);
        if (!index.ok()) {
            log_row(self, "%s, %s (\"%s\"). Failed to parse \"Index\" attribute of \"pValueIndexed\" element.\n");
            continue;
        }
        INode* node = self.services->find_node(row.text);
        if (node == nullptr) {
            log_row(self, "%s, %s (\"%s\"). Failed to parse resolve contents of \"pValueIndexed\" element.\n");
            continue;
        }
        node->get_eval().add_dependent(self.get_inode());
        rows.push_back({index.value, node, T{}});
    }
    for (const child_element& row : self.children->all("ValueIndexed")) {
        const parsed_integer index = parse_integer_text(row.key_attribute);
        if (!index.ok()) {
            log_row(self, "%s, %s (\"%s\"). Failed to parse \"Index\" attribute of \"ValueIndexed\" element.\n");
            continue;
        }
        T literal{};
        if (!numeric_traits<T>::parse_value(row.text, literal)) {
            log_row(self, "%s, %s (\"%s\"). Failed to parse resolve contents of \"ValueIndexed\" element.\n");
            continue;
        }
        rows.push_back({index.value, nullptr, literal});
    }
}

template class value_eval_indexed<std::int64_t>;
template class value_eval_indexed<double>;

} // namespace GenICam::impl
