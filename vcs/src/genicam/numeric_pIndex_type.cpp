#include "genicam/numeric_pIndex_type.h"

#include "genicam/eval_depth_guard.h"
#include "genicam/genicam_log.h"
#include "genicam/igenicam_doc.h"

#include <type_traits>

namespace GenICam::impl {

namespace {

// The element's own representation when its text is one of the family's;
// unreadable text is passed over silently here.
template <class T>
std::optional<std::uint8_t> own_representation(std::string_view text)
{
    constexpr std::string_view integer_names[] = {"Linear",    "Logarithmic", "Boolean",   "PureNumber",
                                                  "HexNumber", "IPV4Address", "MACAddress"};
    constexpr std::string_view float_names[] = {"Linear", "Logarithmic", "PureNumber"};
    const std::string_view* names = std::is_same_v<T, double> ? float_names : integer_names;
    const std::size_t count = std::is_same_v<T, double> ? std::size(float_names) : std::size(integer_names);
    for (std::size_t i = 0; i < count; ++i) {
        if (names[i] == text) {
            return static_cast<std::uint8_t>(i);
        }
    }
    return std::nullopt;
}

} // namespace

template <class T>
void numeric_pIndex_type<T>::_resolve_references(IGenICamDoc&, pugi::xml_node)
{
    INode* index = services->find_node(child("pIndex"));
    if (index == nullptr || index->get_node_type() != node_type::Integer) {
        GENICAM_LOG(1, "%s, %s (\"%s\"). Invalid or no IInteger base \"pIndex\" element.\n",
                    "GenICam::impl::resolve_pIndex", element_name(), name_text());
        return;
    }
    index_node_ = index;
    index_node_->get_eval().add_dependent(*this);
    this->read_limits();
    table_.resolve_references(*this);
}

template <class T>
result<indexed_entry<T>*> numeric_pIndex_type<T>::select_row(std::uint32_t flags)
{
    if (index_node_ == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    const eval_depth_guard guard;
    auto* index = node_as<IInteger>(*index_node_);
    if (!guard || index == nullptr) {
        return make_error_code(errc::not_implemented);
    }
    const result<std::int64_t> value = index->get_val(flags);
    if (!value) {
        return value.error();
    }
    return &table_.select(value.value());
}

template <class T>
INode* numeric_pIndex_type<T>::selected_node(std::uint32_t flags)
{
    const result<indexed_entry<T>*> row = select_row(flags);
    return row ? row.value()->node : nullptr;
}

template <class T>
typename numeric_pIndex_type<T>::traits::iface* numeric_pIndex_type<T>::selected_family_node(std::uint32_t flags)
{
    INode* node = selected_node(flags);
    if (node == nullptr || node->get_node_type() != traits::iface::static_type) {
        return nullptr;
    }
    return node_as<typename traits::iface>(*node);
}

template <class T>
std::error_code numeric_pIndex_type<T>::set_val(T value, std::uint32_t flags)
{
    if (const std::error_code ec = check_access(true, flags)) {
        return ec;
    }
    if (const std::error_code ec = this->range_check(value, flags)) {
        return ec;
    }
    const result<indexed_entry<T>*> row = select_row(flags);
    if (!row) {
        return row.error();
    }
    indexed_entry<T>& entry = *row.value();
    if (entry.node != nullptr) {
        return set_eval_val(*entry.node, value, flags);
    }
    if (traits::differs(value, entry.value)) {
        entry.value = value;
        propagate_change();
    }
    return {};
}

template <class T>
result<T> numeric_pIndex_type<T>::get_val(std::uint32_t flags)
{
    if (const std::error_code ec = check_access(false, flags)) {
        return ec;
    }
    const result<indexed_entry<T>*> row = select_row(flags);
    if (!row) {
        return row.error();
    }
    const indexed_entry<T>& entry = *row.value();
    if (entry.node != nullptr) {
        return traits::read(*entry.node, flags);
    }
    return entry.value;
}

template <class T>
typename numeric_pIndex_type<T>::representation numeric_pIndex_type<T>::get_representation()
{
    if (const std::optional<std::uint8_t> own = own_representation<T>(child("Representation"))) {
        return static_cast<representation>(*own);
    }
    if (auto* node = selected_family_node(0)) {
        return node->get_representation();
    }
    return static_cast<representation>(std::is_same_v<T, double> ? 2 : 3);
}

template <class T>
std::string_view numeric_pIndex_type<T>::get_unit()
{
    const std::string_view own = child("Unit");
    if (!own.empty()) {
        return own;
    }
    if (auto* node = selected_family_node(0)) {
        return node->get_unit();
    }
    return {};
}

template <class T>
display_notation numeric_pIndex_type<T>::display_notation_of_node()
{
    constexpr std::string_view names[] = {"Automatic", "Fixed", "Scientific"};
    const std::string_view text = child("DisplayNotation");
    for (std::size_t i = 0; i < std::size(names); ++i) {
        if (names[i] == text) {
            return static_cast<display_notation>(i);
        }
    }
    if constexpr (std::is_same_v<T, double>) {
        if (auto* node = selected_family_node(0)) {
            return node->get_display_notation();
        }
    }
    return display_notation::Automatic;
}

template <class T>
std::int32_t numeric_pIndex_type<T>::display_precision_of_node()
{
    const parsed_integer own = parse_integer_text(child("DisplayPrecision"));
    if (own.ok()) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(own.value)));
    }
    if constexpr (std::is_same_v<T, double>) {
        if (auto* node = selected_family_node(0)) {
            return node->get_display_precision();
        }
    }
    return 6;
}

template <class T>
result<T> numeric_pIndex_type<T>::min_fallback(std::uint32_t flags)
{
    INode* node = selected_node(flags);
    return node != nullptr ? traits::min_of(*node, flags) : traits::min_fallback();
}

template <class T>
result<T> numeric_pIndex_type<T>::max_fallback(std::uint32_t flags)
{
    INode* node = selected_node(flags);
    return node != nullptr ? traits::max_of(*node, flags) : traits::max_fallback();
}

template <class T>
result<T> numeric_pIndex_type<T>::inc_fallback(std::uint32_t flags)
{
    INode* node = selected_node(flags);
    return node != nullptr ? traits::inc_of(*node, flags) : traits::inc_fallback();
}

template <class T>
result<T> numeric_pIndex_type<T>::default_fallback(std::uint32_t flags)
{
    INode* node = selected_node(flags);
    return node != nullptr ? traits::default_of(*node, flags) : result<T>(make_error_code(errc::not_implemented));
}

template class numeric_pIndex_type<std::int64_t>;
template class numeric_pIndex_type<double>;

} // namespace GenICam::impl
